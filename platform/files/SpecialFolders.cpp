// Special folders, the temporary folder, the running program's device path
// and free space.
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <optional>

#include "platform/base/Text.h"
#include "platform/files/FilesInternal.h"

namespace plat {

namespace {

using namespace plat::files;

std::optional<std::u16string_view> SpecialFolder(int csidl) {
  switch (csidl) {
    case CSIDL_PROGRAMS: return u"\\Windows\\Start Menu\\Programs";
    case CSIDL_PERSONAL: return u"\\My Documents";
    case CSIDL_FAVORITES: return u"\\Windows\\Favorites";
    case CSIDL_STARTUP: return u"\\Windows\\StartUp";
    case CSIDL_STARTMENU: return u"\\Windows\\Start Menu";
    case CSIDL_DESKTOPDIRECTORY: return u"\\Windows\\Desktop";
    case CSIDL_FONTS: return u"\\Windows\\Fonts";
    case CSIDL_APPDATA: return u"\\Application Data";
    case CSIDL_WINDOWS: return u"\\Windows";
    case CSIDL_PROGRAM_FILES: return u"\\Program Files";
    case CSIDL_MYPICTURES: return u"\\My Documents\\My Pictures";
    default: return std::nullopt;
  }
}

// Creates every missing folder of a device path.
bool CreateTree(std::u16string_view path) {
  auto p = ParseDevicePath(path);
  if (!p) return false;
  for (std::size_t depth = 1; depth <= p->parts.size(); ++depth) {
    const std::u16string sub = JoinDevicePath(p->parts, depth);
    const DWORD attrs = GetFileAttributesW(sub.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
      if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_ALREADY_EXISTS);
      continue;
    }
    if (!CreateDirectoryW(sub.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

struct ModuleState {
  std::mutex lock;
  std::u16string path;
};

ModuleState& Module() {
  static ModuleState* m = new ModuleState;  // lives for the whole process
  return *m;
}

std::u16string DefaultModulePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string name = "program";
  if (n > 0) {
    std::string exe(buf, static_cast<std::size_t>(n));
    name = exe.substr(exe.find_last_of('/') + 1);
  }
  return u"\\Program Files\\Orv News\\" + Utf8ToUtf16(name);
}

// Copies text and its terminating NUL when it fits: the length; else the size needed.
DWORD CopyOut(std::u16string_view text, WCHAR* buffer, DWORD bufferLength) {
  if (!buffer || bufferLength <= text.size()) return static_cast<DWORD>(text.size() + 1);
  text.copy(buffer, text.size());
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

}  // namespace

BOOL SHGetSpecialFolderPath(void* /*owner*/, WCHAR* path, int csidl, BOOL create) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER);
  const auto folder = SpecialFolder(csidl);
  if (!folder) return Fail(ERROR_INVALID_PARAMETER);
  if (create && !CreateTree(*folder)) return FALSE;
  CopyOut(*folder, path, MAX_PATH);
  return TRUE;
}

DWORD GetTempPathW(DWORD bufferLength, WCHAR* buffer) { return CopyOut(u"\\Temp\\", buffer, bufferLength); }

std::u16string ModuleDevicePath() {
  auto& m = Module();
  std::lock_guard<std::mutex> g(m.lock);
  if (m.path.empty()) m.path = DefaultModulePath();
  return m.path;
}

void SetModuleDevicePath(std::u16string_view devicePath) {
  auto& m = Module();
  std::lock_guard<std::mutex> g(m.lock);
  m.path.assign(devicePath);
}

// The device path of the program. Weak, so that a module layer answering for
// further modules can take its place.
__attribute__((weak)) DWORD GetModuleFileNameW(HMODULE module, char16_t* buf, DWORD cch) {
  if (module) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (!buf || cch == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const std::u16string path = ModuleDevicePath();
  if (path.size() < cch) {
    path.copy(buf, path.size());
    buf[path.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
  }
  path.copy(buf, cch - 1);
  buf[cch - 1] = 0;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return cch;
}

BOOL GetDiskFreeSpaceExW(const WCHAR* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                         ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes) {
  auto r = ResolveName(directoryName ? directoryName : u"\\");
  if (!r) return FALSE;
  if (r->mountMissing || !r->exists) return Fail(ERROR_PATH_NOT_FOUND);
  struct statvfs vfs;
  if (::statvfs(r->host.c_str(), &vfs) != 0) return FailErrno();
  const ULONGLONG unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  if (freeBytesAvailableToCaller) freeBytesAvailableToCaller->QuadPart = unit * vfs.f_bavail;
  if (totalNumberOfBytes) totalNumberOfBytes->QuadPart = unit * vfs.f_blocks;
  if (totalNumberOfFreeBytes) totalNumberOfFreeBytes->QuadPart = unit * vfs.f_bfree;
  return TRUE;
}

}  // namespace plat
