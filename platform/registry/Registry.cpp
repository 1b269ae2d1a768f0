#include "platform/registry/Registry.h"

#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "platform/base/Device.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/registry/RegChangeNotification.h"
#include "platform/registry/RegistryStore.h"

namespace plat {

// An open key: the id of its row in the store, on the device it was opened on.
struct RegKeyHandle {
  std::int64_t id;
  unsigned generation;
};

namespace {

using reg::RegistryStore;

std::mutex& HandlesLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::unordered_set<RegKeyHandle*>& Handles() {
  static auto* s = new std::unordered_set<RegKeyHandle*>;
  return *s;
}

bool IsRoot(HKEY key, std::int64_t* id) {
  if (key == HKEY_CLASSES_ROOT) *id = reg::kClassesRootId;
  else if (key == HKEY_CURRENT_USER) *id = reg::kCurrentUserId;
  else if (key == HKEY_LOCAL_MACHINE) *id = reg::kLocalMachineId;
  else return false;
  return true;
}

LONG KeyId(HKEY key, std::int64_t* id) {
  if (IsRoot(key, id)) return ERROR_SUCCESS;
  if (!key) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> g(HandlesLock());
  if (!Handles().count(key) || key->generation != DeviceGeneration()) return ERROR_INVALID_HANDLE;
  *id = key->id;
  return ERROR_SUCCESS;
}

HKEY NewHandle(std::int64_t id) {
  auto* h = new RegKeyHandle{id, DeviceGeneration()};
  std::lock_guard<std::mutex> g(HandlesLock());
  Handles().insert(h);
  return h;
}

std::u16string_view View(const char16_t* s) { return s ? std::u16string_view(s, StrLen(s)) : std::u16string_view(); }

void ClearClass(char16_t* cls, DWORD* cchClass) {
  if (cls && cchClass && *cchClass > 0) cls[0] = u'\0';
  if (cchClass) *cchClass = 0;
}

void PutFileTime(FILETIME* out, ULONGLONG ticks) {
  if (out) *out = ULLToFileTime(ticks);
}

// Copies data into the caller's buffer as the query functions do: size only
// when data is null, ERROR_MORE_DATA with the size needed when it is too small.
LONG PutData(const std::vector<BYTE>& bytes, BYTE* data, DWORD* cbData) {
  if (!cbData) return ERROR_SUCCESS;
  const DWORD size = static_cast<DWORD>(bytes.size());
  if (data) {
    if (*cbData < size) {
      *cbData = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, bytes.data(), size);
  }
  *cbData = size;
  return ERROR_SUCCESS;
}

// Copies a name with its terminator into a buffer of *cch characters.
LONG PutName(const std::u16string& name, char16_t* out, DWORD* cch) {
  if (name.size() + 1 > *cch) {
    *cch = static_cast<DWORD>(name.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(out, name.data(), name.size() * sizeof(char16_t));
  out[name.size()] = u'\0';
  *cch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD /*reserved*/, char16_t* /*cls*/, DWORD /*options*/,
                     DWORD /*sam*/, void* /*sa*/, HKEY* out, DWORD* disposition) {
  if (!out) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  std::int64_t base = 0;
  LONG r = KeyId(key, &base);
  if (r != ERROR_SUCCESS) return r;
  std::int64_t id = 0;
  bool created = false;
  r = RegistryStore::Instance().Open(base, View(subKey), true, &id, &created);
  if (r != ERROR_SUCCESS) return r;
  *out = NewHandle(id);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD /*options*/, DWORD /*sam*/, HKEY* out) {
  if (!out) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  std::int64_t base = 0;
  LONG r = KeyId(key, &base);
  if (r != ERROR_SUCCESS) return r;
  std::int64_t id = 0;
  bool created = false;
  r = RegistryStore::Instance().Open(base, View(subKey), false, &id, &created);
  if (r != ERROR_SUCCESS) return r;
  *out = NewHandle(id);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  std::int64_t id = 0;
  if (IsRoot(key, &id)) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> g(HandlesLock());
    if (!key || !Handles().erase(key)) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                      DWORD* cbData) {
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  DWORD t = 0;
  std::vector<BYTE> bytes;
  r = RegistryStore::Instance().Query(id, View(name), &t, &bytes);
  if (r != ERROR_SUCCESS) return r;
  if (type) *type = t;
  return PutData(bytes, data, cbData);
}

LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD cbData) {
  if (!data && cbData) return ERROR_INVALID_PARAMETER;
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  return RegistryStore::Instance().Set(id, View(name), type, data, cbData);
}

LONG RegDeleteValueW(HKEY key, const char16_t* name) {
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  return RegistryStore::Instance().DeleteValue(id, View(name));
}

namespace {
reg::ValueRecord RecordOf(DWORD type, const BYTE* data, DWORD cbData) {
  reg::ValueRecord r;
  r.type = type;
  if (data && cbData) r.data.assign(data, data + cbData);
  return r;
}
}  // namespace

LONG RegCompareAndSetValueW(HKEY key, const char16_t* name, const REG_VALUE_MATCH* expected, DWORD type,
                            const BYTE* data, DWORD cbData) {
  if ((!data && cbData) || (expected && !expected->data && expected->cbData)) return ERROR_INVALID_PARAMETER;
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  const reg::ValueRecord replacement = RecordOf(type, data, cbData);
  if (!expected) return RegistryStore::Instance().CompareAndSet(id, View(name), nullptr, &replacement);
  const reg::ValueRecord match = RecordOf(expected->type, expected->data, expected->cbData);
  return RegistryStore::Instance().CompareAndSet(id, View(name), &match, &replacement);
}

LONG RegCompareAndDeleteValueW(HKEY key, const char16_t* name, const REG_VALUE_MATCH& expected) {
  if (!expected.data && expected.cbData) return ERROR_INVALID_PARAMETER;
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  const reg::ValueRecord match = RecordOf(expected.type, expected.data, expected.cbData);
  return RegistryStore::Instance().CompareAndSet(id, View(name), &match, nullptr);
}

LONG RegDeleteKeyW(HKEY key, const char16_t* subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  return RegistryStore::Instance().DeleteKey(id, View(subKey));
}

LONG RegEnumKeyExW(HKEY key, DWORD index, char16_t* name, DWORD* cchName, DWORD* /*reserved*/, char16_t* cls,
                   DWORD* cchClass, FILETIME* lastWriteTime) {
  if (!name || !cchName) return ERROR_INVALID_PARAMETER;
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  std::u16string found;
  ULONGLONG written = 0;
  r = RegistryStore::Instance().EnumKey(id, index, &found, &written);
  if (r != ERROR_SUCCESS) return r;
  r = PutName(found, name, cchName);
  if (r != ERROR_SUCCESS) return r;
  ClearClass(cls, cchClass);
  PutFileTime(lastWriteTime, written);
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* cchName, DWORD* /*reserved*/, DWORD* type,
                   BYTE* data, DWORD* cbData) {
  if (!name || !cchName || (data && !cbData)) return ERROR_INVALID_PARAMETER;
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  reg::ValueRecord rec;
  r = RegistryStore::Instance().EnumValue(id, index, &rec);
  if (r != ERROR_SUCCESS) return r;
  r = PutName(rec.name, name, cchName);
  if (r != ERROR_SUCCESS) return r;
  if (type) *type = rec.type;
  return PutData(rec.data, data, cbData);
}

LONG RegQueryInfoKeyW(HKEY key, char16_t* cls, DWORD* cchClass, DWORD* /*reserved*/, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                      DWORD* maxValueLen, DWORD* securityDescriptor, FILETIME* lastWriteTime) {
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  reg::KeyInfo info;
  r = RegistryStore::Instance().Info(id, &info);
  if (r != ERROR_SUCCESS) return r;
  ClearClass(cls, cchClass);
  if (subKeys) *subKeys = info.subKeys;
  if (maxSubKeyLen) *maxSubKeyLen = info.maxSubKeyLen;
  if (maxClassLen) *maxClassLen = 0;
  if (values) *values = info.values;
  if (maxValueNameLen) *maxValueNameLen = info.maxValueNameLen;
  if (maxValueLen) *maxValueLen = info.maxValueLen;
  if (securityDescriptor) *securityDescriptor = 0;
  PutFileTime(lastWriteTime, info.written);
  return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) return r;
  return RegistryStore::Instance().Flush(id);
}

HANDLE CeFindFirstRegChange(HKEY key, BOOL watchSubtree, DWORD filter) {
  std::int64_t id = 0;
  LONG r = KeyId(key, &id);
  if (r != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(r));
    return INVALID_HANDLE_VALUE;
  }
  auto* n = new reg::RegChangeNotification(id, watchSubtree != FALSE, filter);
  if (!n->Arm()) {
    n->Release();
    SetLastError(ERROR_READ_FAULT);
    return INVALID_HANDLE_VALUE;
  }
  return n;
}

BOOL CeFindNextRegChange(HANDLE notification) {
  auto* n = dynamic_cast<reg::RegChangeNotification*>(
      notification == INVALID_HANDLE_VALUE ? nullptr : notification);
  if (!n) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!n->Arm()) {
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  return TRUE;
}

BOOL CeFindCloseRegChange(HANDLE notification) {
  if (!dynamic_cast<reg::RegChangeNotification*>(notification == INVALID_HANDLE_VALUE ? nullptr : notification)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(notification);
}

// "coredll.dll": the system library's registry change notification, bound by
// name at run time; every program of the device has it.
namespace {
FARPROC ResolveCoreDll(const char* name) {
  if (!name) return nullptr;
  const std::string_view n(name);
  if (n == "CeFindFirstRegChange") return reinterpret_cast<FARPROC>(&CeFindFirstRegChange);
  if (n == "CeFindNextRegChange") return reinterpret_cast<FARPROC>(&CeFindNextRegChange);
  if (n == "CeFindCloseRegChange") return reinterpret_cast<FARPROC>(&CeFindCloseRegChange);
  return nullptr;
}
const bool g_coreDllRegistered = (RegisterBuiltInModule(u"coredll.dll", &ResolveCoreDll), true);
}  // namespace

void RegisterCoreDllModule() { RegisterBuiltInModule(u"coredll.dll", &ResolveCoreDll); }

}  // namespace plat
