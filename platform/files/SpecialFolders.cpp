// Special folders, the temporary folder, the running program's device path
// and free space.
#include <sys/statvfs.h>

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
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void SetModuleDevicePath(std::u16string_view devicePath) {
  const std::u16string path(devicePath);
  SetProgramDevicePath(path.c_str());
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
