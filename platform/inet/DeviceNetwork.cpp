#include "platform/inet/DeviceNetwork.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstring>
#include <string>

#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"

namespace plat {

namespace {

constexpr const char16_t* kConnectionKey = u"System\\State\\Connection";
constexpr const char16_t* kHardwareKey = u"System\\State\\Hardware";
constexpr const char16_t* kPhoneKey = u"System\\State\\Phone";
constexpr const char* kDeviceHostName = "OrvDevice";

bool ReadDword(const char16_t* path, const char16_t* name, DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = sizeof *value;
  const bool ok = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                      ERROR_SUCCESS &&
                  type == REG_DWORD && size == sizeof *value;
  RegCloseKey(key);
  return ok;
}

bool WriteValue(const char16_t* path, const char16_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const bool ok = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

}  // namespace

bool ParseConnectionMode(const char* text, ConnectionMode* mode) {
  if (!text) return false;
  if (std::strcmp(text, "free") == 0) *mode = ConnectionMode::Free;
  else if (std::strcmp(text, "paid") == 0) *mode = ConnectionMode::Paid;
  else if (std::strcmp(text, "none") == 0) *mode = ConnectionMode::None;
  else return false;
  return true;
}

const char* ConnectionModeName(ConnectionMode mode) {
  switch (mode) {
    case ConnectionMode::Paid: return "paid";
    case ConnectionMode::None: return "none";
    default: return "free";
  }
}

ConnectionMode GetConnectionMode() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConnectionKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return ConnectionMode::Free;
  char16_t text[16] = {};
  DWORD type = 0, size = sizeof text - sizeof(char16_t);
  ConnectionMode mode = ConnectionMode::Free;
  if (RegQueryValueExW(key, u"Mode", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    std::string narrow;
    for (char16_t c : std::u16string(text)) narrow += static_cast<char>(c < 128 ? c : '?');
    ParseConnectionMode(narrow.c_str(), &mode);
  }
  RegCloseKey(key);
  return mode;
}

bool SetConnectionMode(ConnectionMode mode) {
  std::u16string text;
  for (const char* p = ConnectionModeName(mode); *p; ++p) text += static_cast<char16_t>(*p);
  const bool ok = WriteValue(kConnectionKey, u"Mode", REG_SZ, text.c_str(),
                             static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
  if (ok) NotifyAddressListChange();
  return ok;
}

bool IsCradled() {
  DWORD value = 0;
  return ReadDword(kHardwareKey, u"Cradled", &value) && value != 0;
}

bool SetCradled(bool cradled) {
  const DWORD value = cradled ? 1 : 0;
  const bool ok = WriteValue(kHardwareKey, u"Cradled", REG_DWORD, &value, sizeof value);
  if (ok) NotifyAddressListChange();
  return ok;
}

bool SetPhoneRoaming(bool roaming) {
  DWORD status = 0;
  ReadDword(kPhoneKey, u"Status", &status);
  status = roaming ? (status | 0x200u) : (status & ~0x200u);
  return WriteValue(kPhoneKey, u"Status", REG_DWORD, &status, sizeof status);
}

int gethostname(char* name, int length) {
  const int needed = static_cast<int>(std::strlen(kDeviceHostName)) + 1;
  if (!name || length < needed) return -1;
  std::memcpy(name, kDeviceHostName, static_cast<std::size_t>(needed));
  return 0;
}

std::uint32_t ParseIPv4(const char* dotted) {
  in_addr a{};
  return inet_pton(AF_INET, dotted, &a) == 1 ? a.s_addr : 0;
}

bool GetHostAddresses(const char* name, std::vector<std::uint32_t>* addresses) {
  if (!name || !addresses) return false;
  addresses->clear();
  if (strcasecmp(name, "localhost") == 0) {
    addresses->push_back(ParseIPv4(kLoopbackAddress));
    return true;
  }
  if (strcasecmp(name, kDeviceHostName) != 0) return false;
  const ConnectionMode mode = GetConnectionMode();
  if (mode == ConnectionMode::None) {
    addresses->push_back(ParseIPv4(kLoopbackAddress));
    return true;
  }
  if (IsCradled()) addresses->push_back(ParseIPv4(kCradleAddress));
  addresses->push_back(ParseIPv4(mode == ConnectionMode::Paid ? kPaidNetworkAddress : kFreeNetworkAddress));
  return true;
}

HANDLE OpenAddressListChangeEvent() { return CreateEventW(nullptr, TRUE, FALSE, kAddressListChangeEventName); }

void NotifyAddressListChange() {
  HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, kAddressListChangeEventName);
  if (!e) return;
  SetEvent(e);
  CloseHandle(e);
}

}  // namespace plat
