// Notices of file-system changes (SHChangeNotifyRegister): one watcher thread
// per process follows the host folders behind the watched device folders
// (inotify, every sub-folder, mounts included) and posts WM_FILECHANGEINFO to
// the windows that asked.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/files/Files.h"

namespace plat {
namespace {

struct Registration {
  DWORD mask;
  std::u16string folder;  // device path without a trailing backslash; empty: the whole device
  bool recursive;
};

std::u16string Join(const std::u16string& folder, const std::u16string& name) {
  return folder.empty() || folder.back() != u'\\' ? folder + u"\\" + name : folder + name;
}

bool Under(const Registration& r, const std::u16string& path) {
  if (r.folder.empty()) return r.recursive || path.find(u'\\', 1) == std::u16string::npos;
  if (path.size() <= r.folder.size() + 1 || path[r.folder.size()] != u'\\' ||
      !EqualsNoCase(path.substr(0, r.folder.size()), r.folder))
    return false;
  return r.recursive || path.find(u'\\', r.folder.size() + 1) == std::u16string::npos;
}

// A notice in one block: the structure, then the paths it points to.
FILECHANGENOTIFY* MakeNotice(LONG event, const std::u16string& path, const std::u16string* old) {
  const std::size_t a = path.size() + 1, b = old ? old->size() + 1 : 0;
  auto* n = static_cast<FILECHANGENOTIFY*>(std::calloc(1, sizeof(FILECHANGENOTIFY) + (a + b) * sizeof(WCHAR)));
  if (!n) return nullptr;
  auto* text = reinterpret_cast<WCHAR*>(n + 1);
  std::memcpy(text, path.c_str(), a * sizeof(WCHAR));
  n->dwRefCount = 1;
  n->fci.cbSize = sizeof(FILECHANGEINFO);
  n->fci.wEventId = event;
  n->fci.uFlags = SHCNF_PATH;
  n->fci.dwItem1 = reinterpret_cast<DWORD_PTR>(text);
  if (old) {
    std::memcpy(text + a, old->c_str(), b * sizeof(WCHAR));
    n->fci.dwItem2 = reinterpret_cast<DWORD_PTR>(text + a);
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) n->fci.dwAttributes = attributes;
  return n;
}

class Watcher {
 public:
  ~Watcher() { Stop(); }

  BOOL Register(HWND hwnd, Registration r) {
    std::lock_guard<std::mutex> g(lock_);
    if (!Start()) return FALSE;
    WatchTree(r.folder.empty() ? u"\\" : r.folder);
    registrations_[HandleToValue(hwnd)] = std::move(r);
    return TRUE;
  }

  BOOL Deregister(HWND hwnd) {
    std::unique_lock<std::mutex> g(lock_);
    if (!registrations_.erase(HandleToValue(hwnd))) return FALSE;
    if (registrations_.empty()) {
      g.unlock();
      Stop();
    }
    return TRUE;
  }

 private:
  bool Start() {
    if (thread_.joinable()) return true;
    inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    if (inotify_ < 0 || wake_ < 0) {
      CloseFds();
      return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() {
    std::thread t;
    {
      std::lock_guard<std::mutex> g(lock_);
      if (!thread_.joinable()) return;
      std::uint64_t one = 1;
      ssize_t w = ::write(wake_, &one, sizeof one);
      (void)w;
      t = std::move(thread_);
    }
    t.join();
    std::lock_guard<std::mutex> g(lock_);
    CloseFds();
    folders_.clear();
  }

  void CloseFds() {
    if (inotify_ >= 0) ::close(inotify_);
    if (wake_ >= 0) ::close(wake_);
    inotify_ = wake_ = -1;
  }

  // Watches the device folder and every folder below it (lock_ held).
  void WatchTree(const std::u16string& folder) {
    const std::string host = HostPathFromDevicePath(folder);
    if (host.empty()) return;
    int wd = ::inotify_add_watch(inotify_, host.c_str(),
                                 IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                                     IN_ONLYDIR);
    if (wd < 0) return;
    folders_[wd] = folder == u"\\" ? std::u16string() : folder;
    WIN32_FIND_DATAW fd{};
    HANDLE find = FindFirstFileW(Join(folder, u"*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) WatchTree(Join(folder, fd.cFileName));
    } while (FindNextFileW(find, &fd));
    FindClose(find);
  }

  void Run() {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
      pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      ssize_t n = ::read(inotify_, buffer, sizeof buffer);
      if (n <= 0) continue;
      std::optional<std::pair<std::uint32_t, std::u16string>> movedFrom;
      bool movedFromFolder = false;
      for (char* p = buffer; p < buffer + n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(p);
        p += sizeof(inotify_event) + e->len;
        std::u16string path;
        {
          std::lock_guard<std::mutex> g(lock_);
          auto it = folders_.find(e->wd);
          if (it == folders_.end() || e->len == 0) continue;
          path = Join(it->second, Utf8ToUtf16(e->name));
          if ((e->mask & (IN_CREATE | IN_MOVED_TO)) && (e->mask & IN_ISDIR)) WatchTree(path);
        }
        const bool folder = e->mask & IN_ISDIR;
        if (movedFrom && !((e->mask & IN_MOVED_TO) && e->cookie == movedFrom->first)) {
          Deliver(movedFromFolder ? SHCNE_RMDIR : SHCNE_DELETE, movedFrom->second, nullptr);
          movedFrom.reset();
        }
        if (e->mask & IN_MOVED_FROM) {
          movedFrom.emplace(e->cookie, path);
          movedFromFolder = folder;
        } else if (e->mask & IN_MOVED_TO) {
          if (movedFrom) Deliver(folder ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM, path, &movedFrom->second);
          else Deliver(folder ? SHCNE_MKDIR : SHCNE_CREATE, path, nullptr);
          movedFrom.reset();
        } else if (e->mask & IN_CREATE) {
          Deliver(folder ? SHCNE_MKDIR : SHCNE_CREATE, path, nullptr);
        } else if (e->mask & IN_DELETE) {
          Deliver(folder ? SHCNE_RMDIR : SHCNE_DELETE, path, nullptr);
        } else if (e->mask & IN_CLOSE_WRITE) {
          Deliver(SHCNE_UPDATEITEM, path, nullptr);
        } else if (e->mask & IN_ATTRIB) {
          Deliver(SHCNE_ATTRIBUTES, path, nullptr);
        }
      }
      if (movedFrom) Deliver(movedFromFolder ? SHCNE_RMDIR : SHCNE_DELETE, movedFrom->second, nullptr);
    }
  }

  void Deliver(LONG event, const std::u16string& path, const std::u16string* old) {
    std::vector<DWORD> to;
    {
      std::lock_guard<std::mutex> g(lock_);
      for (const auto& [hwnd, r] : registrations_)
        if ((r.mask & static_cast<DWORD>(event)) && (Under(r, path) || (old && Under(r, *old)))) to.push_back(hwnd);
    }
    for (DWORD hwnd : to) {
      FILECHANGENOTIFY* n = MakeNotice(event, path, old);
      if (!n) continue;
      if (!PostMessageW(ValueToHandle(hwnd), WM_FILECHANGEINFO, 0, reinterpret_cast<LPARAM>(n))) {
        SHChangeNotifyFree(n);
        std::lock_guard<std::mutex> g(lock_);
        registrations_.erase(hwnd);  // the window is gone
      }
    }
  }

  std::mutex lock_;
  std::map<DWORD, Registration> registrations_;
  std::map<int, std::u16string> folders_;  // watch -> device folder ("" for "\")
  int inotify_ = -1;
  int wake_ = -1;
  std::thread thread_;
};

Watcher& TheWatcher() {
  static Watcher watcher;
  return watcher;
}

}  // namespace

BOOL SHChangeNotifyRegister(HWND hwnd, const SHCHANGENOTIFYENTRY* entry) {
  DWORD pid = 0;
  if (!entry || !hwnd || !IsWindow(hwnd) || !GetWindowThreadProcessId(hwnd, &pid) || pid != GetCurrentProcessId()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Registration r{entry->dwEventMask, u"", entry->fRecursive != FALSE};
  if (entry->pszWatchDir && entry->pszWatchDir[0]) {
    r.folder = entry->pszWatchDir;
    while (!r.folder.empty() && r.folder.back() == u'\\') r.folder.pop_back();
    if (!r.folder.empty()) {
      DWORD attributes = GetFileAttributesW(r.folder.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
      }
    }
  }
  return TheWatcher().Register(hwnd, std::move(r));
}

BOOL SHChangeNotifyDeregister(HWND hwnd) { return TheWatcher().Deregister(hwnd); }

void SHChangeNotifyFree(FILECHANGENOTIFY* notify) { std::free(notify); }

}  // namespace plat
