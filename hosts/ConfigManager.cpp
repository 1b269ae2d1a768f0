#include "hosts/ConfigManager.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "core/XmlDom.h"
#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/controls/TodayItems.h"
#include "platform/base/Device.h"
#include "platform/files/DeviceMounts.h"
#include "platform/files/Files.h"
#include "platform/files/InstallManifest.h"
#include "hosts/HostRequests.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"

namespace plat::hosts {

namespace {

constexpr const char16_t* kCompanyKey = u"SOFTWARE\\Orv Software House";
constexpr const char16_t* kProductKey = u"SOFTWARE\\Orv Software House\\Orv News";
constexpr const char16_t* kTodayLibrary = u"OrvNewsToday.dll";
// The main program's coordinating window; closing it ends the program.
constexpr const char16_t* kMainProgramWindowClass = u"A377667C-B302-4767-B9C5-EC5210805251";
// A host's answer may wait for the service's own stop (up to 20 s for its
// thread); the main program gets as long to save and end.
constexpr DWORD kHostAnswerBoundMs = 30000;
constexpr DWORD kProgramEndBoundMs = 20000;
DWORD g_hostAnswerBoundMs = kHostAnswerBoundMs;
DWORD g_programEndBoundMs = kProgramEndBoundMs;
constexpr int kPollMs = 20;
constexpr DWORD kManifestDamaged = 1392;  // ERROR_FILE_CORRUPT

bool Is(const CXmlNode& node, const char16_t* name) {
  return node.GetType() == XML_NODE_ELEMENT && node.GetName() && std::u16string_view(node.GetName()) == name;
}

std::u16string Attribute(const CXmlNode& node, const char16_t* name) {
  XmlAttribute* a = node.FindAttributeRecord(name);
  return a && a->value ? std::u16string(a->value) : std::u16string();
}

// The element children of a node; false when it holds anything else but
// white space (text, further elements are the caller's to judge).
std::vector<CXmlNode> Elements(const CXmlNode& node) {
  std::vector<CXmlNode> out;
  for (std::uint32_t i = 0; i < node.GetChildCount(); ++i) {
    CXmlNode c = node.GetChild(i);
    if (c.GetType() == XML_NODE_ELEMENT) out.push_back(c);
  }
  return out;
}

// True for exactly the uninstall request of the installed package.
bool IsUninstallRequest(const CXmlNode& root) {
  auto top = Elements(root);
  if (top.size() != 1 || !Is(top[0], u"wap-provisioningdoc")) return false;
  auto outer = Elements(top[0]);
  if (outer.size() != 1 || !Is(outer[0], u"characteristic") || Attribute(outer[0], u"type") != u"UnInstall")
    return false;
  auto inner = Elements(outer[0]);
  if (inner.size() != 1 || !Is(inner[0], u"characteristic") || Attribute(inner[0], u"type") != kInstalledPackage)
    return false;
  auto parms = Elements(inner[0]);
  return parms.size() == 1 && Is(parms[0], u"parm") && Attribute(parms[0], u"name") == u"uninstall" &&
         Attribute(parms[0], u"value") == u"1";
}

DWORD DeleteKeyIfPresent(HKEY root, const char16_t* path) {
  const LONG r = RegDeleteKeyW(root, path);
  return r == ERROR_SUCCESS || r == static_cast<LONG>(ERROR_FILE_NOT_FOUND) ? ERROR_SUCCESS : static_cast<DWORD>(r);
}

// The names of the Today items (under the open items key) whose library is the product's.
std::vector<std::u16string> OurTodayItems(HKEY items) {
  std::vector<std::u16string> ours;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD cch = 256;
    if (RegEnumKeyExW(items, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY item = nullptr;
    if (RegOpenKeyExW(items, name, 0, KEY_READ, &item) != ERROR_SUCCESS) continue;
    char16_t dll[260] = {};
    DWORD type = 0, size = sizeof dll - sizeof(char16_t);
    if (RegQueryValueExW(item, u"DLL", nullptr, &type, reinterpret_cast<BYTE*>(dll), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      std::u16string path(dll);
      std::size_t cut = path.find_last_of(u"\\/");
      if (EqualsNoCase(cut == std::u16string::npos ? path : path.substr(cut + 1), kTodayLibrary))
        ours.push_back(name);
    }
    RegCloseKey(item);
  }
  return ours;
}

bool HasTodayItem() {
  HKEY items = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTodayItemsKey, 0, KEY_READ, &items) != ERROR_SUCCESS) return false;
  const bool found = !OurTodayItems(items).empty();
  RegCloseKey(items);
  return found;
}

DWORD DeleteTodayItems() {
  HKEY items = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTodayItemsKey, 0, KEY_ALL_ACCESS, &items) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  DWORD result = ERROR_SUCCESS;
  for (const auto& name : OurTodayItems(items)) {
    const DWORD r = DeleteKeyIfPresent(items, name.c_str());
    if (r != ERROR_SUCCESS) result = r;
  }
  RegCloseKey(items);
  return result;
}

// The company key goes too once nothing of it is left.
void DeleteCompanyKeyIfEmpty(HKEY root) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, kCompanyKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subKeys = 0, values = 0;
  const bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subKeys == 0 && values == 0;
  RegCloseKey(key);
  if (empty) RegDeleteKeyW(root, kCompanyKey);
}

HKEY RootOf(const std::u16string& name) {
  if (EqualsNoCase(name, u"HKCU") || EqualsNoCase(name, u"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
  if (EqualsNoCase(name, u"HKLM") || EqualsNoCase(name, u"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
  return nullptr;
}

bool Below(const std::u16string& path, const std::u16string& folder) {
  return path.size() > folder.size() && path[folder.size()] == u'\\' &&
         EqualsNoCase(std::u16string_view(path).substr(0, folder.size()), folder);
}

// A mount onto a folder of the device itself (its "Content", "Templates")
// that holds something: the user's own data, kept.
bool HoldsDeviceData(const std::u16string& mount) {
  const std::string host = HostPathFromDevicePath(mount);
  const std::string device = DeviceRoot() + "/";
  if (host.compare(0, device.size(), device) != 0) return false;
  std::error_code ec;
  return std::filesystem::is_directory(host, ec) && !std::filesystem::is_empty(host, ec);
}

bool KeyPresent(HKEY root, const char16_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Anything of the product on the device: its manifest, its keys, its Today item.
bool ProductInstalled() {
  return InstallManifestPresent(kInstalledPackage) || KeyPresent(HKEY_CURRENT_USER, kProductKey) ||
         KeyPresent(HKEY_LOCAL_MACHINE, kProductKey) || HasTodayItem();
}

bool ProcessRunning(DWORD pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", static_cast<unsigned>(pid));
  FILE* f = std::fopen(path, "re");
  if (!f) return false;
  char buf[512];
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = 0;
  // The state follows the command name, which may hold spaces: a zombie has ended.
  const char* p = std::strrchr(buf, ')');
  return p && p[1] == ' ' && p[2] != 'Z' && p[2] != 'X';
}

// The windows of a host's class in other processes.
std::vector<HWND> HostWindows(const char16_t* cls) {
  std::vector<HWND> hosts;
  struct Search {
    const char16_t* cls;
    std::vector<HWND>* found;
  } search{cls, &hosts};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        WCHAR name[128] = {};
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != GetCurrentProcessId() && GetClassNameW(hwnd, name, 128) > 0 && EqualsNoCase(name, s->cls))
          s->found->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return hosts;
}

// Has what runs of the product let go of it before anything is removed: the
// hosts unload its libraries (the service first, so it starts no main program
// meanwhile), then the main program is closed and waited for. Otherwise they
// would write the product key and the Today item's values again at once, and
// a library still mapped in a host would lose its files under it. The first
// host that does not answer in time, or answers that it keeps the library,
// ends it there (no further host is asked, the main program is not closed):
// its error. kConfigProductRunning when the main program still runs after
// the bound.
HRESULT StopRunningProduct() {
  const UINT unload = RegisterWindowMessageW(kUnloadProductMessage);
  struct HostKind {
    const char16_t* cls;
    HRESULT noAnswer;
    HRESULT kept;
  } const kinds[] = {
      {kServiceHostWindowClass, kConfigServiceHostNoAnswer, kConfigServiceHostKeptLibrary},
      {kTodayHostWindowClass, kConfigTodayHostNoAnswer, kConfigTodayHostKeptLibrary},
  };
  for (const HostKind& kind : kinds) {
    for (HWND host : HostWindows(kind.cls)) {
      if (!unload) return kind.noAnswer;
      DWORD_PTR answer = 0;
      // Not SMTO_ABORTIFHUNG: a host idle in GetMessageW for 5 s counts as
      // hung to the window manager, and the service host has nothing to do.
      // A window gone before it answered may belong to a host still ending
      // with the library in it: as good as no answer.
      if (!SendMessageTimeoutW(host, unload, 0, 0, SMTO_NORMAL, g_hostAnswerBoundMs, &answer)) return kind.noAnswer;
      if (static_cast<LRESULT>(answer) != kUnloadHeldNone && static_cast<LRESULT>(answer) != kUnloadDone)
        return kind.kept;
    }
  }
  HWND main = FindWindowW(kMainProgramWindowClass, nullptr);
  DWORD pid = 0;
  if (main) GetWindowThreadProcessId(main, &pid);
  if (!pid || pid == GetCurrentProcessId()) return 0;
  PostMessageW(main, WM_CLOSE, 0, 0);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_programEndBoundMs);
  while (ProcessRunning(pid) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  return ProcessRunning(pid) ? kConfigProductRunning : 0;
}

// Removes the product as its manifest lists it, then the product's keys and
// the Today item's entry; the first error met (the rest is still removed).
DWORD RemoveProduct() {
  DWORD first = ERROR_SUCCESS;
  auto note = [&](DWORD r) {
    if (first == ERROR_SUCCESS && r != ERROR_SUCCESS) first = r;
  };
  const std::optional<InstallManifest> manifest = ReadInstallManifest(kInstalledPackage);
  // A manifest that is there but cannot be read whole (damaged, cut short)
  // removes nothing: what it lists could never be found again once the
  // product's keys were gone.
  if (!manifest && InstallManifestPresent(kInstalledPackage)) return kManifestDamaged;
  if (manifest) {
    const InstallManifest& m = *manifest;
    // The registry values, then the keys.
    for (const auto& r : m.registry) {
      HKEY root = RootOf(r.root);
      if (!root || r.value.empty()) continue;
      HKEY key = nullptr;
      if (RegOpenKeyExW(root, r.key.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
      const LONG d = RegDeleteValueW(key, r.value.c_str());
      if (d != ERROR_SUCCESS && d != static_cast<LONG>(ERROR_FILE_NOT_FOUND)) note(static_cast<DWORD>(d));
      RegCloseKey(key);
    }
    for (const auto& r : m.registry)
      if (HKEY root = RootOf(r.root); root && r.value.empty()) note(DeleteKeyIfPresent(root, r.key.c_str()));
    // The files the device owns: those below a mount belong to the folder it shows.
    for (const auto& file : m.files) {
      if (std::any_of(m.mounts.begin(), m.mounts.end(), [&](const auto& mount) { return Below(file, mount); }))
        continue;
      const DWORD attributes = GetFileAttributesW(file.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;  // gone already
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        note(ERROR_ACCESS_DENIED);  // a folder where a file was installed is not the installer's
        continue;
      }
      if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW(file.c_str())) note(GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED);
    }
    // The mounts, deepest first; one onto the device's own folder that holds
    // the user's data (the articles) stays with it.
    auto mounts = m.mounts;
    std::sort(mounts.begin(), mounts.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& mount : mounts)
      if (!HoldsDeviceData(mount)) RemoveDeviceMount(mount);
    // The folders when they are empty, deepest first.
    auto folders = m.folders;
    std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& folder : folders) RemoveDirectoryW(folder.c_str());
    // The manifest goes last, and only when everything it lists is gone, so a
    // failed removal can be run again.
    if (first == ERROR_SUCCESS && !DeleteFileW(InstallManifestPath(kInstalledPackage).c_str())) note(GetLastError());
  }
  note(DeleteKeyIfPresent(HKEY_CURRENT_USER, kProductKey));
  note(DeleteKeyIfPresent(HKEY_LOCAL_MACHINE, kProductKey));
  note(DeleteTodayItems());
  DeleteCompanyKeyIfEmpty(HKEY_CURRENT_USER);
  DeleteCompanyKeyIfEmpty(HKEY_LOCAL_MACHINE);
  return first;
}

std::u16string ErrorDocument(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return u"<wap-provisioningdoc><characteristic-error type=\"UnInstall\"><characteristic-error type=\"" +
         std::u16string(kInstalledPackage) + u"\"><parm-error name=\"uninstall\" value=\"1\" status=\"" +
         Utf8ToUtf16(buf) + u"\"/></characteristic-error></characteristic-error></wap-provisioningdoc>";
}

HRESULT Handler(const WCHAR* document, DWORD flags, WCHAR** result) {
  if (!document) return kConfigBadDocument;
  std::u16string answer;
  const HRESULT hr = ProcessConfiguration(document, flags, &answer);
  if (result) {
    auto* out = new WCHAR[answer.size() + 1];
    std::memcpy(out, answer.c_str(), (answer.size() + 1) * sizeof(WCHAR));
    *result = out;
  }
  return hr;
}

const bool g_installed = (SetConfigurationManager(&Handler), true);

}  // namespace

void SetProgramEndBound(DWORD ms) { g_programEndBoundMs = ms; }

void SetHostAnswerBound(DWORD ms) { g_hostAnswerBoundMs = ms; }

HRESULT ProcessConfiguration(const std::u16string& document, DWORD flags, std::u16string* answer) {
  std::u16string text = document;
  CXmlDocument xml;
  XmlDom::ParseDocument(xml, text.data());
  if (!(flags & CFGFLAG_PROCESS) || !IsUninstallRequest(xml.GetRoot())) {
    if (answer) *answer = ErrorDocument(kConfigBadDocument);
    return kConfigBadDocument;
  }
  if (!ProductInstalled()) {
    if (answer) *answer = ErrorDocument(kConfigNotInstalled);
    return kConfigNotInstalled;
  }
  // A damaged manifest stops nothing either: the product stays as it runs.
  if (InstallManifestPresent(kInstalledPackage) && !ReadInstallManifest(kInstalledPackage)) {
    if (answer) *answer = ErrorDocument(kConfigManifestDamaged);
    return kConfigManifestDamaged;
  }
  if (const HRESULT stopped = StopRunningProduct(); stopped != 0) {
    if (answer) *answer = ErrorDocument(stopped);
    return stopped;
  }
  const HRESULT hr = HResultFromWin32(RemoveProduct());
  if (answer) *answer = hr == 0 ? document : ErrorDocument(hr);
  return hr;
}

}  // namespace plat::hosts
