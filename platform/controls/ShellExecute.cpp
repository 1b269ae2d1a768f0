// ShellExecuteEx and CreateProcessW: the device's own programs, addresses and
// pictures for the desktop's opener, the help viewer; nothing else.
#include "platform/controls/ShellExecute.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/base/Device.h"
#include "platform/base/PercentEscape.h"
#include "platform/base/Spawn.h"
#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/files/Files.h"

namespace plat {
namespace {

std::mutex& HookLock() {
  static auto* m = new std::mutex;
  return *m;
}
DesktopOpener& TestOpener() {
  static auto* o = new DesktopOpener;
  return *o;
}
std::function<void(const std::string&)>& TestLog() {
  static auto* l = new std::function<void(const std::string&)>;
  return *l;
}

void Log(const std::string& line) {
  std::function<void(const std::string&)> log;
  {
    std::lock_guard<std::mutex> g(HookLock());
    log = TestLog();
  }
  if (log) log(line);
  else std::fprintf(stderr, "orv-shell: %s\n", line.c_str());
}

BOOL Refuse(DWORD error, const std::string& why) {
  Log(why);
  SetLastError(error);
  return FALSE;
}

BOOL Open(const std::string& target) {
  DesktopOpener test;
  {
    std::lock_guard<std::mutex> g(HookLock());
    test = TestOpener();
  }
  if (test) {
    if (test(target)) return TRUE;
    return Refuse(ERROR_FILE_NOT_FOUND, "the desktop's opener failed on " + target);
  }
  const char* chosen = std::getenv("ORVNEWS_OPENER");
  const std::string opener = FindOnPath(chosen && *chosen ? chosen : "xdg-open");
  SpawnOptions detached;
  detached.detached = true;
  int pid = 0;
  if (int err = SpawnProcess({opener, target}, detached, &pid))
    return Refuse(ERROR_FILE_NOT_FOUND, "cannot start " + opener + ": " + std::strerror(err));
  return TRUE;
}

// ---- Settings and paths ------------------------------------------------------

std::u16string ProductSetting(const WCHAR* name) {
  HKEY key = nullptr;
  std::u16string value;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News", 0, 0, &key) != ERROR_SUCCESS)
    return value;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ && size >= 2) {
    std::u16string buffer(size / 2, u'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS)
      value.assign(buffer.c_str());
  }
  RegCloseKey(key);
  return value;
}

std::u16string WithoutTrailingSlashes(std::u16string path) {
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  return path;
}

std::u16string InstallFolder() {
  std::u16string folder = WithoutTrailingSlashes(ProductSetting(u"InstallFolder"));
  return folder.empty() ? u"\\Program Files\\Orv News" : folder;
}

std::u16string ContentFolder() {
  std::u16string folder = WithoutTrailingSlashes(ProductSetting(u"ContentFolder"));
  return folder.empty() ? InstallFolder() + u"\\Content" : folder;
}

// An absolute device path without "." or ".." parts.
bool PlainDevicePath(const std::u16string& path) {
  if (path.empty() || path[0] != u'\\') return false;
  for (std::size_t at = 1; at <= path.size();) {
    std::size_t end = path.find(u'\\', at);
    if (end == std::u16string::npos) end = path.size();
    const std::u16string_view part(path.data() + at, end - at);
    if (part == u"." || part == u"..") return false;
    at = end + 1;
  }
  return true;
}

std::u16string FolderOf(const std::u16string& path) {
  const std::size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos || slash == 0 ? u"\\" : path.substr(0, slash);
}

std::u16string NameOf(const std::u16string& path) {
  const std::size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool Inside(const std::u16string& path, const std::u16string& folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == u'\\' &&
         EqualsNoCase(std::u16string_view(path).substr(0, folder.size()), folder);
}

bool IsRegularFile(const std::string& host, bool executable) {
  struct stat st{};
  return !host.empty() && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (!executable || ::access(host.c_str(), X_OK) == 0);
}

// ---- What may be opened ------------------------------------------------------

bool IsProgramOfDevice(const std::u16string& path) {
  return PlainDevicePath(path) && EndsWithNoCase(path, u".exe") && EqualsNoCase(FolderOf(path), InstallFolder());
}

// The host program behind a device program's path ("Name" for "Name.exe"); empty when none.
std::string ProgramHostPath(const std::u16string& path) {
  std::string host = HostPathFromDevicePath(path);
  if (!IsRegularFile(host, true) && host.size() > 4) host.resize(host.size() - 4);
  return IsRegularFile(host, true) ? host : std::string();
}

BOOL StartProgram(const std::u16string& path, const std::u16string& parameters, int show, DWORD* pid) {
  const std::string host = ProgramHostPath(path);
  if (host.empty())
    return Refuse(ERROR_FILE_NOT_FOUND, "no program " + Utf16ToUtf8(path) + " on the device");
  std::vector<std::string> args{host};
  if (!parameters.empty()) args.push_back(Utf16ToUtf8(parameters));
  SpawnOptions options;
  options.environment = {"ORVNEWS_DEVICE=" + DeviceRoot(), "ORVNEWS_SHOWCMD=" + std::to_string(show)};
  options.detached = true;
  int started = 0;
  if (int err = SpawnProcess(args, options, &started))
    return Refuse(ERROR_FILE_NOT_FOUND, "cannot start " + Utf16ToUtf8(path) + ": " + std::strerror(err));
  if (pid) *pid = static_cast<DWORD>(started);
  return TRUE;
}

std::optional<std::u16string> SchemeOf(const std::u16string& target) {
  const std::size_t colon = target.find(u':');
  if (colon == std::u16string::npos || colon == 0) return std::nullopt;
  for (std::size_t i = 0; i < colon; ++i) {
    const char16_t c = target[i];
    const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                    (i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'));
    if (!ok) return std::nullopt;
  }
  return ToLower(std::u16string_view(target).substr(0, colon));
}

BOOL OpenAddress(const std::u16string& target, const std::u16string& scheme) {
  for (char16_t c : target)
    if (c < 0x20 || c == 0x7F) return Refuse(ERROR_NO_ASSOCIATION, "refused an address with control characters");
  if (scheme != u"mailto" && target.compare(scheme.size(), 3, u"://") != 0)
    return Refuse(ERROR_NO_ASSOCIATION, "refused " + Utf16ToUtf8(target) + ": not an address");
  return Open(Utf16ToUtf8(target));
}

BOOL OpenPicture(const std::u16string& path) {
  if (!IsPictureFileName(path) || !PlainDevicePath(path) || !Inside(path, ContentFolder()))
    return Refuse(ERROR_NO_ASSOCIATION, "refused " + Utf16ToUtf8(path) + ": only pictures of the content folder open");
  const std::string host = HostPathFromDevicePath(path);
  if (!IsRegularFile(host, false)) return Refuse(ERROR_FILE_NOT_FOUND, "no picture " + Utf16ToUtf8(path));
  return Open(host);
}

// "file:Name.htm#topic": the help file of the install folder at its anchor.
BOOL OpenHelp(std::u16string reference) {
  if (reference.size() >= 5 && EqualsNoCase(std::u16string_view(reference).substr(0, 5), u"file:"))
    reference.erase(0, 5);
  std::u16string topic;
  if (std::size_t hash = reference.find(u'#'); hash != std::u16string::npos) {
    topic = reference.substr(hash + 1);
    reference.resize(hash);
  }
  const std::u16string file =
      !reference.empty() && reference[0] == u'\\' ? reference : InstallFolder() + u"\\" + reference;
  if (!PlainDevicePath(file) || !(EndsWithNoCase(file, u".htm") || EndsWithNoCase(file, u".html")))
    return Refuse(ERROR_NO_ASSOCIATION, "refused the help file " + Utf16ToUtf8(file));
  const std::string host = HostPathFromDevicePath(file);
  if (!IsRegularFile(host, false)) return Refuse(ERROR_FILE_NOT_FOUND, "no help file " + Utf16ToUtf8(file));
  auto unsafe = [](unsigned c) {
    return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
             c == '_' || c == '.' || c == '~');
  };
  std::string url = "file://" + PercentEscape(std::string_view(host), unsafe);
  if (!topic.empty()) url += "#" + PercentEscape(std::string_view(Utf16ToUtf8(topic)), unsafe);
  return Open(url);
}

bool IsHelpViewer(const std::u16string& application) { return EqualsNoCase(NameOf(application), u"PegHelp.exe"); }

void SetResult(SHELLEXECUTEINFO* info, BOOL ok) {
  const std::uintptr_t code = ok ? 42 : GetLastError() == ERROR_FILE_NOT_FOUND ? SE_ERR_FNF : SE_ERR_NOASSOC;
  info->hInstApp = reinterpret_cast<HINSTANCE>(code);
}

}  // namespace

void SetDesktopOpenerForTesting(DesktopOpener opener) {
  std::lock_guard<std::mutex> g(HookLock());
  TestOpener() = std::move(opener);
}

void SetShellLogForTesting(std::function<void(const std::string& line)> log) {
  std::lock_guard<std::mutex> g(HookLock());
  TestLog() = std::move(log);
}

BOOL ShellExecuteEx(SHELLEXECUTEINFO* info) {
  if (!info || info->cbSize != sizeof(SHELLEXECUTEINFO) || !info->lpFile || !info->lpFile[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hProcess = nullptr;
  const std::u16string file(info->lpFile);
  BOOL ok = FALSE;
  if (info->lpVerb && info->lpVerb[0] && !EqualsNoCase(info->lpVerb, u"open")) {
    ok = Refuse(ERROR_NO_ASSOCIATION, "refused the verb " + Utf16ToUtf8(info->lpVerb));
  } else if (file[0] == u'\\') {
    if (IsProgramOfDevice(file)) ok = StartProgram(file, info->lpParameters ? info->lpParameters : u"", info->nShow, nullptr);
    else if (EndsWithNoCase(file, u".exe") || EndsWithNoCase(file, u".lnk"))
      ok = Refuse(ERROR_NO_ASSOCIATION, "refused " + Utf16ToUtf8(file) + ": not a program of this system");
    else ok = OpenPicture(file);
  } else if (auto scheme = SchemeOf(file); scheme && (*scheme == u"http" || *scheme == u"https" || *scheme == u"mailto")) {
    ok = OpenAddress(file, *scheme);
  } else {
    ok = Refuse(ERROR_NO_ASSOCIATION, "refused " + Utf16ToUtf8(file) + ": nothing opens it");
  }
  SetResult(info, ok);
  return ok;
}

BOOL CreateProcessW(const WCHAR* application, const WCHAR* commandLine, void*, void*, BOOL, DWORD, void*,
                    const WCHAR*, void*, PROCESS_INFORMATION* info) {
  std::u16string program = application ? application : u"";
  std::u16string rest = commandLine ? commandLine : u"";
  if (program.empty()) {
    // The first word of the command line, perhaps in quotes.
    std::size_t at = 0;
    while (at < rest.size() && rest[at] == u' ') ++at;
    std::size_t end;
    if (at < rest.size() && rest[at] == u'"') {
      end = rest.find(u'"', at + 1);
      program = rest.substr(at + 1, end == std::u16string::npos ? std::u16string::npos : end - at - 1);
      end = end == std::u16string::npos ? rest.size() : end + 1;
    } else {
      end = rest.find(u' ', at);
      if (end == std::u16string::npos) end = rest.size();
      program = rest.substr(at, end - at);
    }
    while (end < rest.size() && rest[end] == u' ') ++end;
    rest.erase(0, end);
  }
  if (program.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (info) *info = PROCESS_INFORMATION{};
  if (IsHelpViewer(program)) return OpenHelp(rest);
  if (!IsProgramOfDevice(program))
    return Refuse(ERROR_NO_ASSOCIATION, "refused to start " + Utf16ToUtf8(program) + ": not a program of this system");
  DWORD pid = 0;
  if (!StartProgram(program, rest, SW_SHOWNORMAL, &pid)) return FALSE;
  if (info) info->dwProcessId = pid;
  return TRUE;
}

BOOL IsStartableProgram(const WCHAR* path) {
  if (!path) return FALSE;
  const std::u16string p(path);
  return IsProgramOfDevice(p) && !ProgramHostPath(p).empty() ? TRUE : FALSE;
}

}  // namespace plat
