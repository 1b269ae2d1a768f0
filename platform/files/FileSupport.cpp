// Attributes, host writes, times, sharing locks and side files.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/base/Text.h"
#include "platform/files/FilesInternal.h"

namespace plat::files {

namespace {

// Attributes the host cannot hold live in an extended attribute of the entry,
// so they move with renames and are seen by every process.
constexpr const char* kAttrName = "user.orvnews.attributes";
constexpr DWORD kStoredBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

std::atomic<std::int64_t> g_diskLeft{-1};
std::atomic<FileStepHook> g_stepHook{nullptr};

constexpr int kOperationKinds = 4;
std::atomic<int> g_operationCounts[kOperationKinds];
std::atomic<int> g_failingOperation[kOperationKinds];
std::atomic<bool> g_hasReadOnlyPath{false};
std::mutex g_readOnlyLock;
std::string g_readOnlyHost;

bool ReadStored(const std::string& host, DWORD* value) {
  unsigned char buf[4];
  const ssize_t n = ::getxattr(host.c_str(), kAttrName, buf, sizeof buf);
  if (n != 4) return false;
  *value = static_cast<DWORD>(buf[0]) | static_cast<DWORD>(buf[1]) << 8 | static_cast<DWORD>(buf[2]) << 16 |
           static_cast<DWORD>(buf[3]) << 24;
  return true;
}

// Byte offsets of the sharing locks: what a handle has and what it denies.
constexpr off_t kLockBase = LLONG_MAX - 16;
constexpr off_t kHasRead = kLockBase + 0;
constexpr off_t kHasWrite = kLockBase + 1;
constexpr off_t kDeniesRead = kLockBase + 2;
constexpr off_t kDeniesWrite = kLockBase + 3;

bool PlaceLock(int fd, off_t at) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// True when a handle of another open file description holds a lock in [at, at+len).
bool OthersHold(int fd, off_t at, off_t len) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = len;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

}  // namespace

DWORD AttributesOf(const std::string& host, const struct stat& st) {
  DWORD stored = 0;
  const bool has = ReadStored(host, &stored);
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | (has ? stored & kStoredBits : 0);
  DWORD a = has ? stored & (kStoredBits & ~FILE_ATTRIBUTE_READONLY) : FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

DWORD AttributesOf(const Resolved& r) {
  if (r.isMountPoint) return FILE_ATTRIBUTE_DIRECTORY | (r.isCard ? FILE_ATTRIBUTE_TEMPORARY : 0);
  if (r.isRoot) return FILE_ATTRIBUTE_DIRECTORY;
  return AttributesOf(r.host, r.st);
}

bool StoreAttributes(const std::string& host, const struct stat& st, DWORD attributes) {
  DWORD keep = attributes & kStoredBits;
  if (!S_ISDIR(st.st_mode)) {
    const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
    mode_t mode = st.st_mode & 07777;
    mode = (keep & FILE_ATTRIBUTE_READONLY) ? (mode & ~writeBits) : (mode | S_IWUSR);
    if (mode != (st.st_mode & 07777) && ::chmod(host.c_str(), mode) != 0) {
      FailErrno();
      return false;
    }
    keep &= ~FILE_ATTRIBUTE_READONLY;
  }
  const unsigned char buf[4] = {static_cast<unsigned char>(keep), static_cast<unsigned char>(keep >> 8),
                                static_cast<unsigned char>(keep >> 16), static_cast<unsigned char>(keep >> 24)};
  if (::setxattr(host.c_str(), kAttrName, buf, sizeof buf, 0) != 0) {
    // A host that keeps no extended attributes can still hold the defaults.
    const DWORD defaults = S_ISDIR(st.st_mode) ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    if ((errno == ENOTSUP || errno == EOPNOTSUPP) && keep == defaults) return true;
    SetLastError(errno == ENOTSUP || errno == EOPNOTSUPP ? ERROR_NOT_SUPPORTED : ErrorFromErrno(errno));
    return false;
  }
  return true;
}

void CopyStoredAttributes(int fromFd, int toFd) {
  unsigned char buf[4];
  if (::fgetxattr(fromFd, kAttrName, buf, sizeof buf) == 4) ::fsetxattr(toFd, kAttrName, buf, sizeof buf, 0);
  struct stat st;
  if (::fstat(fromFd, &st) == 0) ::fchmod(toFd, st.st_mode & 07777);
}

void FileStep(const char* step) {
  if (FileStepHook hook = g_stepHook.load(std::memory_order_acquire)) hook(step);
}

bool InjectedFailure(FileOperation kind) {
  const int i = static_cast<int>(kind);
  const int n = g_operationCounts[i].fetch_add(1) + 1;
  if (n != g_failingOperation[i].load()) return false;
  SetLastError(kind == FileOperation::kWrite || kind == FileOperation::kFlush ? ERROR_WRITE_FAULT
                                                                             : ERROR_ACCESS_DENIED);
  return true;
}

bool InReadOnlyPath(const std::string& host) {
  if (!g_hasReadOnlyPath.load()) return false;
  std::lock_guard<std::mutex> guard(g_readOnlyLock);
  if (g_readOnlyHost.empty()) return false;
  const bool below = host == g_readOnlyHost ||
                     (host.size() > g_readOnlyHost.size() && host.compare(0, g_readOnlyHost.size(), g_readOnlyHost) == 0 &&
                      host[g_readOnlyHost.size()] == '/');
  if (below) SetLastError(ERROR_ACCESS_DENIED);
  return below;
}

std::size_t HostWrite(int fd, const void* data, std::size_t size) {
  FileStep("write");
  if (size != 0 && InjectedFailure(FileOperation::kWrite)) return 0;
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t allowed = size;
  bool simulatedFull = false;
  for (;;) {
    std::int64_t left = g_diskLeft.load();
    if (left < 0) break;
    const std::size_t take = static_cast<std::uint64_t>(left) < size ? static_cast<std::size_t>(left) : size;
    if (g_diskLeft.compare_exchange_weak(left, left - static_cast<std::int64_t>(take))) {
      allowed = take;
      simulatedFull = take < size;
      break;
    }
  }
  std::size_t done = 0;
  while (done < allowed) {
    const ssize_t n = ::write(fd, p + done, allowed - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrorFromErrno(errno));
      return done;
    }
    if (n == 0) {
      SetLastError(ERROR_DISK_FULL);
      return done;
    }
    done += static_cast<std::size_t>(n);
  }
  if (simulatedFull) SetLastError(ERROR_DISK_FULL);
  return done;
}

FILETIME FileTimeFromTimespec(const struct timespec& ts) {
  const long long secs = ts.tv_sec;
  const long long ticks = secs * static_cast<long long>(FILETIME_TICKS_PER_SECOND) + ts.tv_nsec / 100 +
                          static_cast<long long>(FILETIME_UNIX_EPOCH);
  return ULLToFileTime(ticks < 0 ? 0 : static_cast<ULONGLONG>(ticks));
}

FILETIME CreationTimeOf(int fd, const std::string& host, const struct stat& st) {
  struct statx sx {};
  const int rc = fd >= 0 ? ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx)
                         : ::statx(AT_FDCWD, host.c_str(), 0, STATX_BTIME, &sx);
  if (rc == 0 && (sx.stx_mask & STATX_BTIME)) {
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(sx.stx_btime.tv_sec);
    ts.tv_nsec = static_cast<long>(sx.stx_btime.tv_nsec);
    return FileTimeFromTimespec(ts);
  }
  return FileTimeFromTimespec(st.st_ctim);
}

void FillFindData(WIN32_FIND_DATAW* fd, std::u16string_view name, DWORD attributes, const std::string& host,
                  const struct stat& st) {
  std::memset(fd, 0, sizeof *fd);
  fd->dwFileAttributes = attributes;
  fd->ftCreationTime = CreationTimeOf(-1, host, st);
  fd->ftLastAccessTime = FileTimeFromTimespec(st.st_atim);
  fd->ftLastWriteTime = FileTimeFromTimespec(st.st_mtim);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    fd->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    fd->nFileSizeLow = static_cast<DWORD>(size);
  }
  const std::size_t n = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  for (std::size_t i = 0; i < n; ++i) fd->cFileName[i] = name[i];
  fd->cFileName[n] = 0;
}

bool TakeShareLocks(int fd, DWORD access, DWORD share) {
  // Own locks first, then the check: of two openers racing for conflicting
  // modes at least one sees the other.
  bool ok = true;
  if (access & GENERIC_READ) ok = ok && PlaceLock(fd, kHasRead);
  if (access & GENERIC_WRITE) ok = ok && PlaceLock(fd, kHasWrite);
  if (!(share & FILE_SHARE_READ)) ok = ok && PlaceLock(fd, kDeniesRead);
  if (!(share & FILE_SHARE_WRITE)) ok = ok && PlaceLock(fd, kDeniesWrite);
  if (!ok) return true;  // the host keeps no locks here: no sharing checks
  const bool conflict = ((access & GENERIC_READ) && OthersHold(fd, kDeniesRead, 1)) ||
                        ((access & GENERIC_WRITE) && OthersHold(fd, kDeniesWrite, 1)) ||
                        (!(share & FILE_SHARE_READ) && OthersHold(fd, kHasRead, 1)) ||
                        (!(share & FILE_SHARE_WRITE) && OthersHold(fd, kHasWrite, 1));
  if (conflict) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  return true;
}

int OpenForReading(const std::string& host) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    FailErrno();
    return -1;
  }
  if (!TakeShareLocks(fd, GENERIC_READ, FILE_SHARE_READ)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int MakeSideFile(const std::string& targetFolder, const std::string& targetName, std::string* sidePath) {
  if (InReadOnlyPath(targetFolder) || InjectedFailure(FileOperation::kOpenForWrite)) return -1;
  std::string name = targetName;
  if (name.size() > 200) name.resize(200);
  std::string tmpl = targetFolder + "/" + name + ".XXXXXX.tmp";
  const int fd = ::mkostemps(tmpl.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    FailErrno();
    return -1;
  }
  ::fchmod(fd, 0644);
  *sidePath = tmpl;
  return fd;
}

void SyncFolder(const std::string& hostFolder) {
  FileStep("flush folder");
  const int fd = ::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

bool CopyHostFile(const std::string& source, const std::string& targetFolder, const std::string& targetHost,
                  bool noReplace) {
  const int in = OpenForReading(source);
  if (in < 0) return false;
  const std::string targetName = targetHost.substr(targetHost.find_last_of('/') + 1);
  std::string side;
  const int out = MakeSideFile(targetFolder, targetName, &side);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  DWORD error = ERROR_SUCCESS;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      error = ERROR_READ_FAULT;
      break;
    }
    if (n == 0) break;
    if (HostWrite(out, buf, static_cast<std::size_t>(n)) != static_cast<std::size_t>(n)) {
      ok = false;
      error = GetLastError();
      break;
    }
  }
  if (ok) {
    struct stat st;
    if (::fstat(in, &st) == 0) {
      const struct timespec times[2] = {st.st_atim, st.st_mtim};
      ::futimens(out, times);
    }
    CopyStoredAttributes(in, out);
    if (InjectedFailure(FileOperation::kFlush)) {
      ok = false;
      error = GetLastError();
    } else if (::fsync(out) != 0) {
      ok = false;
      error = ErrorFromErrno(errno);
    }
  }
  ::close(in);
  ::close(out);
  if (ok && InjectedFailure(FileOperation::kRename)) {
    ok = false;
    error = GetLastError();
  } else if (ok) {
    const int rc = noReplace ? ::renameat2(AT_FDCWD, side.c_str(), AT_FDCWD, targetHost.c_str(), RENAME_NOREPLACE)
                             : ::rename(side.c_str(), targetHost.c_str());
    if (rc != 0) {
      ok = false;
      error = errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno);
    } else {
      SyncFolder(targetFolder);
    }
  }
  if (!ok) {
    ::unlink(side.c_str());
    SetLastError(error);
  }
  return ok;
}

}  // namespace plat::files

namespace plat {

void SimulateDiskFull(std::int64_t bytesLeft) { files::g_diskLeft.store(bytesLeft < 0 ? -1 : bytesLeft); }

void SetFileStepHook(FileStepHook hook) { files::g_stepHook.store(hook, std::memory_order_release); }

void FailFileOperation(FileOperation kind, int n) {
  files::g_failingOperation[static_cast<int>(kind)].store(n < 0 ? 0 : n);
}

int CountFileOperations(FileOperation kind) { return files::g_operationCounts[static_cast<int>(kind)].load(); }

void SetReadOnlyPath(std::u16string_view devicePath) {
  std::string host = devicePath.empty() ? std::string() : HostPathFromDevicePath(devicePath);
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  std::lock_guard<std::mutex> guard(files::g_readOnlyLock);
  files::g_readOnlyHost = host;
  files::g_hasReadOnlyPath.store(!host.empty());
}

void ResetFileFaults() {
  for (int i = 0; i < files::kOperationKinds; ++i) {
    files::g_failingOperation[i].store(0);
    files::g_operationCounts[i].store(0);
  }
  SetReadOnlyPath(u"");
}

}  // namespace plat
