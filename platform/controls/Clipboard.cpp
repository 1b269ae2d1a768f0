// The clipboard calls over the device's clipboard text; a lock file of the
// device's run-time folder keeps the clipboard to one opener across programs.
#include "platform/controls/Clipboard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"

namespace plat {
namespace {

std::string ClipboardPath() { return DeviceRunDir() + "/clipboard.txt"; }

struct ClipboardState {
  std::mutex lock;
  std::thread::id opener;
  bool open = false;
  int lockFd = -1;
  HWND openedBy = nullptr;
  HWND owner = nullptr;
  HLOCAL handedOut = nullptr;  // the last GetClipboardData block
};
ClipboardState& State() {
  static auto* s = new ClipboardState;
  return *s;
}

// With the state's lock held.
bool OpenByThisThread(ClipboardState& s) {
  if (s.open && s.opener == std::this_thread::get_id()) return true;
  SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
  return false;
}

void DropHandedOut(ClipboardState& s) {
  LocalFree(s.handedOut);
  s.handedOut = nullptr;
}

}  // namespace

bool SetClipboardTextOfDevice(const std::u16string& text) {
  std::string bytes = Utf16ToUtf8(text);
  ::mkdir(DeviceRunDir().c_str(), 0700);
  std::string path = ClipboardPath(), tmp = path + ".new." + std::to_string(::getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool GetClipboardTextOfDevice(std::u16string* text) {
  FILE* f = std::fopen(ClipboardPath().c_str(), "rb");
  if (!f) return false;
  std::string bytes;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  std::fclose(f);
  if (text) *text = Utf8ToUtf16(bytes);
  return true;
}

bool RemoveClipboardTextOfDevice() { return std::remove(ClipboardPath().c_str()) == 0 || errno == ENOENT; }

BOOL OpenClipboard(HWND owner) {
  ClipboardState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (s.open) {
    if (s.opener != std::this_thread::get_id()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    s.openedBy = owner;
    return TRUE;
  }
  ::mkdir(DeviceRunDir().c_str(), 0700);
  int fd = ::open((DeviceRunDir() + "/clipboard.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (fd >= 0) ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  s.open = true;
  s.opener = std::this_thread::get_id();
  s.lockFd = fd;
  s.openedBy = owner;
  return TRUE;
}

BOOL CloseClipboard() {
  ClipboardState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!OpenByThisThread(s)) return FALSE;
  DropHandedOut(s);
  ::close(s.lockFd);  // ends the lock
  s.lockFd = -1;
  s.open = false;
  s.opener = {};
  s.openedBy = nullptr;
  return TRUE;
}

BOOL EmptyClipboard() {
  ClipboardState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!OpenByThisThread(s)) return FALSE;
  DropHandedOut(s);
  if (!RemoveClipboardTextOfDevice()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  s.owner = s.openedBy;
  return TRUE;
}

HLOCAL SetClipboardData(UINT format, HLOCAL data) {
  ClipboardState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!OpenByThisThread(s)) return nullptr;
  if (format != CF_UNICODETEXT || !data) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  const auto* text = static_cast<const char16_t*>(LocalLock(data));
  const std::size_t most = LocalSize(data) / sizeof(char16_t);
  std::size_t length = 0;
  while (length < most && text[length]) ++length;
  const bool stored = SetClipboardTextOfDevice(std::u16string(text, length));
  LocalUnlock(data);
  if (!stored) {
    SetLastError(ERROR_WRITE_FAULT);
    return nullptr;
  }
  LocalFree(data);  // the clipboard's now
  return data;
}

HLOCAL GetClipboardData(UINT format) {
  ClipboardState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  if (!OpenByThisThread(s)) return nullptr;
  std::u16string text;
  if (format != CF_UNICODETEXT || !GetClipboardTextOfDevice(&text)) return nullptr;
  DropHandedOut(s);
  s.handedOut = LocalAlloc(LPTR, (text.size() + 1) * sizeof(char16_t));
  if (s.handedOut) std::memcpy(s.handedOut, text.data(), text.size() * sizeof(char16_t));
  return s.handedOut;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  return format == CF_UNICODETEXT && GetClipboardTextOfDevice(nullptr);
}

HWND GetClipboardOwner() {
  ClipboardState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return s.owner;
}

}  // namespace plat
