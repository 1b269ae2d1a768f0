// Files opened through handles: CreateFileW and the calls on its handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <mutex>

#include "platform/files/FilesInternal.h"

namespace plat {

namespace {

using namespace plat::files;

class FileObject final : public KernelObject {
 public:
  FileObject(int fd, DWORD access) : fd_(fd), access_(access) {}
  ~FileObject() override { ::close(fd_); }

  Probe TryAcquire() override { return Probe::Signaled; }
  DWORD WaitOne(DWORD) override { return WAIT_OBJECT_0; }

  int fd() const { return fd_; }
  DWORD access() const { return access_; }
  std::mutex& lock() { return lock_; }

 private:
  int fd_;
  DWORD access_;
  std::mutex lock_;  // keeps a seek and the read or write after it together
};

FileObject* AsFile(HANDLE h) {
  if (!h || h == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<FileObject*>(h);
}

FileObject* FileOrFail(HANDLE h) {
  FileObject* f = AsFile(h);
  if (!f) SetLastError(ERROR_INVALID_HANDLE);
  return f;
}

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

HANDLE FailHandle(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE CreateFileW(const WCHAR* fileName, DWORD access, DWORD share, void* /*security*/, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return FailHandle(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) return FailHandle(ERROR_INVALID_PARAMETER);
  auto parsed = ParseDevicePath(fileName);
  if (!parsed) return INVALID_HANDLE_VALUE;
  auto r = Resolve(*parsed);
  if (!r) return INVALID_HANDLE_VALUE;
  if (r->isRoot || r->isMountPoint) return FailHandle(r->mountMissing ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);

  const bool wantsWrite = (access & GENERIC_WRITE) != 0;
  const bool mayCreate = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  const DWORD newAttributes = flagsAndAttributes & kSettableAttributes;
  if ((wantsWrite || mayCreate || truncates) &&
      (InReadOnlyPath(r->host) || InjectedFailure(FileOperation::kOpenForWrite))) {
    return INVALID_HANDLE_VALUE;
  }

  int fd = -1;
  bool existed = false;
  bool created = false;
  // Open the existing file, or create it; loop when another process creates
  // or removes it between the two steps.
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    struct stat st;
    if (::stat(r->host.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return FailHandle(ERROR_ACCESS_DENIED);
      if (disposition == CREATE_NEW) return FailHandle(ERROR_FILE_EXISTS);
      const DWORD attrs = AttributesOf(r->host, st);
      if ((attrs & FILE_ATTRIBUTE_READONLY) && (wantsWrite || truncates)) return FailHandle(ERROR_ACCESS_DENIED);
      fd = ::open(r->host.c_str(), (wantsWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;
      if (fd < 0) return FailHandle(ErrorFromErrno(errno));
      existed = true;
    } else if (errno == ENOENT) {
      if (!mayCreate) return FailHandle(ERROR_FILE_NOT_FOUND);
      fd = ::open(r->host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd < 0) return FailHandle(ErrorFromErrno(errno));
      created = true;
    } else {
      return FailHandle(ErrorFromErrno(errno));
    }
  }
  if (fd < 0) return FailHandle(ERROR_ACCESS_DENIED);  // something keeps standing in the way

  if (!TakeShareLocks(fd, access, share)) {
    ::close(fd);
    if (created) ::unlink(r->host.c_str());
    return INVALID_HANDLE_VALUE;
  }
  if (truncates && existed && ::ftruncate(fd, 0) != 0) {
    const DWORD error = ErrorFromErrno(errno);
    ::close(fd);
    return FailHandle(error);
  }
  if (created || (disposition == CREATE_ALWAYS && existed)) {
    // A new file takes the attributes asked for; the default is ARCHIVE.
    struct stat st;
    const DWORD attrs = newAttributes ? newAttributes | FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_ARCHIVE;
    if (::fstat(fd, &st) == 0 && (attrs != FILE_ATTRIBUTE_ARCHIVE || existed)) StoreAttributes(r->host, st, attrs);
  }
  SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                        : ERROR_SUCCESS);
  return new FileObject(fd, access & (GENERIC_READ | GENERIC_WRITE));
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* /*overlapped*/) {
  if (read) *read = 0;
  FileObject* f = FileOrFail(file);
  if (!f) return FALSE;
  if (!(f->access() & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
  if (toRead && !buffer) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> g(f->lock());
  auto* p = static_cast<unsigned char*>(buffer);
  DWORD done = 0;
  while (done < toRead) {
    const ssize_t n = ::read(f->fd(), p + done, toRead - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (read) *read = done;
      return Fail(ERROR_READ_FAULT);
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read) *read = done;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* /*overlapped*/) {
  if (written) *written = 0;
  FileObject* f = FileOrFail(file);
  if (!f) return FALSE;
  if (!(f->access() & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (toWrite && !buffer) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> g(f->lock());
  const std::size_t done = HostWrite(f->fd(), buffer, toWrite);
  if (written) *written = static_cast<DWORD>(done);
  if (done != toWrite) return FALSE;  // HostWrite set the error (ERROR_DISK_FULL when full)
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
  FileObject* f = FileOrFail(file);
  if (!f) return INVALID_SET_FILE_POINTER;
  long long move = distanceHigh
                       ? static_cast<long long>((static_cast<unsigned long long>(static_cast<DWORD>(*distanceHigh))
                                                 << 32) |
                                                static_cast<DWORD>(distance))
                       : static_cast<long long>(distance);
  std::lock_guard<std::mutex> g(f->lock());
  long long base = 0;
  if (moveMethod == FILE_CURRENT) {
    base = ::lseek(f->fd(), 0, SEEK_CUR);
  } else if (moveMethod == FILE_END) {
    struct stat st;
    base = ::fstat(f->fd(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  } else if (moveMethod != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if ((move > 0 && base > LLONG_MAX - move) || base + move < 0 ||
      (!distanceHigh && base + move > static_cast<long long>(0xFFFFFFFEu))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const long long pos = ::lseek(f->fd(), static_cast<off_t>(base + move), SEEK_SET);
  if (pos < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<unsigned long long>(pos) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(static_cast<unsigned long long>(pos));
}

BOOL SetEndOfFile(HANDLE file) {
  FileObject* f = FileOrFail(file);
  if (!f) return FALSE;
  if (!(f->access() & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  std::lock_guard<std::mutex> g(f->lock());
  const off_t pos = ::lseek(f->fd(), 0, SEEK_CUR);
  if (pos < 0 || ::ftruncate(f->fd(), pos) != 0) return FailErrno();
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  FileObject* f = FileOrFail(file);
  if (!f) return FALSE;
  if (InjectedFailure(FileOperation::kFlush)) return FALSE;
  if (::fsync(f->fd()) != 0) return FailErrno();
  return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  FileObject* f = FileOrFail(file);
  if (!f) return INVALID_FILE_SIZE;
  struct stat st;
  if (::fstat(f->fd(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<unsigned long long>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
  FileObject* f = FileOrFail(file);
  if (!f) return FALSE;
  struct stat st;
  if (::fstat(f->fd(), &st) != 0) return FailErrno();
  if (creation) *creation = CreationTimeOf(f->fd(), std::string(), st);
  if (lastAccess) *lastAccess = FileTimeFromTimespec(st.st_atim);
  if (lastWrite) *lastWrite = FileTimeFromTimespec(st.st_mtim);
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* /*creation*/, const FILETIME* lastAccess, const FILETIME* lastWrite) {
  FileObject* f = FileOrFail(file);
  if (!f) return FALSE;
  if (!(f->access() & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  auto toTimespec = [](const FILETIME* ft) {
    struct timespec ts {};
    if (!ft) {
      ts.tv_nsec = UTIME_OMIT;
      return ts;
    }
    const long long ticks = static_cast<long long>(FileTimeToULL(*ft)) - static_cast<long long>(FILETIME_UNIX_EPOCH);
    long long secs = ticks / static_cast<long long>(FILETIME_TICKS_PER_SECOND);
    long long rest = ticks % static_cast<long long>(FILETIME_TICKS_PER_SECOND);
    if (rest < 0) {
      rest += static_cast<long long>(FILETIME_TICKS_PER_SECOND);
      --secs;
    }
    ts.tv_sec = static_cast<time_t>(secs);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
  };
  const struct timespec times[2] = {toTimespec(lastAccess), toTimespec(lastWrite)};
  if (::futimens(f->fd(), times) != 0) return FailErrno();
  return TRUE;
}

}  // namespace plat
