// Files and folders by name: attributes, delete, move, copy, folders, safe replace.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/base/Text.h"
#include "platform/files/FilesInternal.h"

namespace plat {

namespace {

using namespace plat::files;

// The last error for a name that resolved to nothing.
DWORD MissingError(const Resolved& r) { return r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND; }

bool IsDir(const Resolved& r) { return r.exists && S_ISDIR(r.st.st_mode); }

std::atomic<int> g_failingFlush{-1};

// fdatasync (dataOnly) or fsync of the file at this place of its batch; 0 or
// the errno.
int FlushFile(int fd, bool dataOnly, int place) {
  if (place == g_failingFlush.load() || InjectedFailure(FileOperation::kFlush)) return EIO;
  return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) != 0 ? errno : 0;
}

// A folder that holds a live mount point cannot go away or move.
bool HoldsMounts(const DevicePath& p) {
  for (const auto& m : Mounts()) {
    if (m.parts.size() <= p.parts.size()) continue;
    bool prefix = true;
    for (std::size_t i = 0; i < p.parts.size() && prefix; ++i) prefix = EqualsNoCase(m.parts[i], p.parts[i]);
    if (prefix) return true;
  }
  return false;
}

// Moves a file to another host file system: copy, then remove the source.
bool MoveAcrossHosts(const Resolved& from, const Resolved& to, bool replace) {
  if (IsDir(from)) return Fail(ERROR_ACCESS_DENIED);
  if (!CopyHostFile(from.host, to.parentHost, to.host, !replace)) return false;
  if (::unlink(from.host.c_str()) != 0) {
    // Keep one whole copy: the source stays, the new copy goes.
    const DWORD error = ErrorFromErrno(errno);
    ::unlink(to.host.c_str());
    return Fail(error);
  }
  return true;
}

BOOL MoveImpl(const WCHAR* existingName, const WCHAR* newName, bool replace) {
  FileStep("move");
  if (InjectedFailure(FileOperation::kRename)) return FALSE;
  auto fromPath = ParseDevicePath(existingName);
  if (!fromPath) return FALSE;
  auto toPath = ParseDevicePath(newName);
  if (!toPath) return FALSE;
  auto from = Resolve(*fromPath);
  if (!from) return FALSE;
  if (from->isRoot || from->isMountPoint) return Fail(from->mountMissing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  if (!from->exists) return Fail(MissingError(*from));
  if (IsDir(*from) && HoldsMounts(*fromPath)) return Fail(ERROR_ACCESS_DENIED);
  auto to = Resolve(*toPath);
  if (!to) return FALSE;
  if (to->isRoot || to->isMountPoint) return Fail(ERROR_ACCESS_DENIED);
  if (!to->parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (InReadOnlyPath(from->host) || InReadOnlyPath(to->host)) return FALSE;

  std::string target = to->host;
  if (to->exists) {
    const bool same = to->st.st_dev == from->st.st_dev && to->st.st_ino == from->st.st_ino;
    if (same) {
      // The same entry: a new case of the same name (or nothing to do).
      target = to->parentHost + "/" + Utf16ToUtf8(toPath->parts.back());
      if (target == from->host) return TRUE;
      if (::renameat2(AT_FDCWD, from->host.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        // A host entry of exactly that name exists as well: replace by exchange is not safe.
        return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno));
      }
      return TRUE;
    }
    if (!replace) return Fail(ERROR_ALREADY_EXISTS);
    if (IsDir(*to) || IsDir(*from)) return Fail(ERROR_ACCESS_DENIED);
    if (AttributesOf(*to) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
    if (::rename(from->host.c_str(), target.c_str()) != 0) {
      if (errno == EXDEV) return MoveAcrossHosts(*from, *to, true) ? TRUE : FALSE;
      return FailErrno();
    }
    SyncFolder(to->parentHost);
    return TRUE;
  }
  if (::renameat2(AT_FDCWD, from->host.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EXDEV) return MoveAcrossHosts(*from, *to, false) ? TRUE : FALSE;
    return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno));
  }
  return TRUE;
}

}  // namespace

DWORD GetFileAttributesW(const WCHAR* fileName) {
  auto r = ResolveName(fileName);
  if (!r) return INVALID_FILE_ATTRIBUTES;
  if (r->mountMissing || !r->exists) {
    SetLastError(r->mountMissing ? ERROR_FILE_NOT_FOUND : MissingError(*r));
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(*r);
}

BOOL SetFileAttributesW(const WCHAR* fileName, DWORD attributes) {
  auto r = ResolveName(fileName);
  if (!r) return FALSE;
  if (r->mountMissing || !r->exists) return Fail(r->mountMissing ? ERROR_FILE_NOT_FOUND : MissingError(*r));
  if (r->isRoot || r->isMountPoint) return Fail(ERROR_ACCESS_DENIED);
  if (InReadOnlyPath(r->host)) return FALSE;
  return StoreAttributes(r->host, r->st, attributes) ? TRUE : FALSE;
}

BOOL DeleteFileW(const WCHAR* fileName) {
  auto r = ResolveName(fileName);
  if (!r) return FALSE;
  if (r->isRoot || r->isMountPoint) return Fail(r->mountMissing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  if (!r->exists) return Fail(MissingError(*r));
  if (IsDir(*r)) return Fail(ERROR_ACCESS_DENIED);
  if (AttributesOf(*r) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (InReadOnlyPath(r->host)) return FALSE;
  if (::unlink(r->host.c_str()) != 0) return FailErrno();
  return TRUE;
}

BOOL MoveFileW(const WCHAR* existingName, const WCHAR* newName) { return MoveImpl(existingName, newName, false); }

BOOL MoveFileExW(const WCHAR* existingName, const WCHAR* newName, DWORD flags) {
  return MoveImpl(existingName, newName, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
}

BOOL CopyFileW(const WCHAR* existingName, const WCHAR* newName, BOOL failIfExists) {
  auto from = ResolveName(existingName);
  if (!from) return FALSE;
  if (from->isRoot || from->isMountPoint) return Fail(from->mountMissing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  if (!from->exists) return Fail(MissingError(*from));
  if (IsDir(*from)) return Fail(ERROR_ACCESS_DENIED);
  auto to = ResolveName(newName);
  if (!to) return FALSE;
  if (to->isRoot || to->isMountPoint) return Fail(ERROR_ACCESS_DENIED);
  if (!to->parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (to->exists) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (to->st.st_dev == from->st.st_dev && to->st.st_ino == from->st.st_ino) return Fail(ERROR_SHARING_VIOLATION);
    if (IsDir(*to) || (AttributesOf(*to) & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  }
  return CopyHostFile(from->host, to->parentHost, to->host, failIfExists != FALSE) ? TRUE : FALSE;
}

BOOL CreateDirectoryW(const WCHAR* pathName, void* /*security*/) {
  auto r = ResolveName(pathName);
  if (!r) return FALSE;
  if (r->isRoot || (r->isMountPoint && !r->mountMissing) || r->exists) return Fail(ERROR_ALREADY_EXISTS);
  if (r->isMountPoint) return Fail(ERROR_ACCESS_DENIED);  // a card that is not there
  if (InReadOnlyPath(r->host)) return FALSE;
  if (::mkdir(r->host.c_str(), 0755) != 0) return FailErrno();
  return TRUE;
}

BOOL RemoveDirectoryW(const WCHAR* pathName) {
  auto p = ParseDevicePath(pathName);
  if (!p) return FALSE;
  auto r = Resolve(*p);
  if (!r) return FALSE;
  if (r->isRoot || r->isMountPoint) return Fail(r->mountMissing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  if (!r->exists) return Fail(MissingError(*r));
  if (!IsDir(*r)) return Fail(ERROR_ACCESS_DENIED);
  if (AttributesOf(*r) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (HoldsMounts(*p)) return Fail(ERROR_DIR_NOT_EMPTY);
  if (InReadOnlyPath(r->host)) return FALSE;
  if (::rmdir(r->host.c_str()) != 0) return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno));
  return TRUE;
}

bool ReplaceFileContents(std::u16string_view devicePath, const void* data, std::size_t size) {
  auto p = ParseDevicePath(devicePath);
  if (!p) return false;
  auto r = Resolve(*p);
  if (!r) return false;
  if (r->isRoot || r->isMountPoint) return Fail(ERROR_ACCESS_DENIED);
  if (!r->parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (r->exists && (IsDir(*r) || (AttributesOf(*r) & FILE_ATTRIBUTE_READONLY))) return Fail(ERROR_ACCESS_DENIED);
  if (size && !data) return Fail(ERROR_INVALID_PARAMETER);

  std::string side;
  const int fd = MakeSideFile(r->parentHost, r->hostName, &side);
  if (fd < 0) return false;
  bool ok = HostWrite(fd, data, size) == size;
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  if (ok && r->exists) {
    // The new contents keep the file's stored attributes.
    const int old = ::open(r->host.c_str(), O_RDONLY | O_CLOEXEC);
    if (old >= 0) {
      CopyStoredAttributes(old, fd);
      ::close(old);
    }
  }
  if (ok) FileStep("flush");
  if (ok && InjectedFailure(FileOperation::kFlush)) {
    ok = false;
    error = GetLastError();
  } else if (ok && ::fsync(fd) != 0) {
    ok = false;
    error = ErrorFromErrno(errno);
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = ErrorFromErrno(errno);
  }
  if (ok) FileStep("rename");
  if (ok && InjectedFailure(FileOperation::kRename)) {
    ok = false;
    error = GetLastError();
  } else if (ok && ::rename(side.c_str(), r->host.c_str()) != 0) {
    ok = false;
    error = ErrorFromErrno(errno);
  }
  if (!ok) {
    ::unlink(side.c_str());
    SetLastError(error);
    return false;
  }
  SyncFolder(r->parentHost);
  return true;
}

void SimulateFlushFailure(int place) { g_failingFlush.store(place < 0 ? -1 : place); }

FileReplaceBatch::~FileReplaceBatch() { Discard(); }

void FileReplaceBatch::Discard() {
  for (Entry& entry : entries_) {
    if (entry.fd >= 0) ::close(entry.fd);
    if (!entry.side.empty()) ::unlink(entry.side.c_str());
    if (!entry.old.empty()) ::unlink(entry.old.c_str());
  }
  entries_.clear();
  flushes_.clear();
}

bool FileReplaceBatch::Add(std::u16string_view devicePath, const void* data, std::size_t size, bool mayLag) {
  if (failed_) return false;
  auto p = ParseDevicePath(devicePath);
  auto r = p ? Resolve(*p) : std::nullopt;
  bool ok = r.has_value();
  if (ok && (r->isRoot || r->isMountPoint)) ok = Fail(ERROR_ACCESS_DENIED);
  if (ok && !r->parentExists) ok = Fail(ERROR_PATH_NOT_FOUND);
  if (ok && r->exists && (IsDir(*r) || (AttributesOf(*r) & FILE_ATTRIBUTE_READONLY))) ok = Fail(ERROR_ACCESS_DENIED);
  if (ok && size && !data) ok = Fail(ERROR_INVALID_PARAMETER);
  Entry entry;
  if (ok) {
    entry.fd = MakeSideFile(r->parentHost, r->hostName, &entry.side);
    ok = entry.fd >= 0;
  }
  if (ok) {
    entry.target = r->host;
    entry.folder = r->parentHost;
    entry.mayLag = mayLag;
    entries_.push_back(entry);
    ok = HostWrite(entry.fd, data, size) == size;
    if (ok && r->exists) {
      // The new contents keep the file's stored attributes.
      const int old = ::open(r->host.c_str(), O_RDONLY | O_CLOEXEC);
      if (old >= 0) {
        CopyStoredAttributes(old, entry.fd);
        ::close(old);
      }
    }
  }
  if (!ok) {
    const DWORD error = GetLastError();
    failed_ = true;
    Discard();
    SetLastError(error);
  }
  return ok;
}

bool FileReplaceBatch::AddFlush(std::u16string_view devicePath) {
  if (failed_) return false;
  auto p = ParseDevicePath(devicePath);
  auto r = p ? Resolve(*p) : std::nullopt;
  if (!r || !r->exists) {
    failed_ = true;
    Discard();
    return r ? Fail(ERROR_FILE_NOT_FOUND) : false;
  }
  flushes_.push_back(r->host);
  return true;
}

bool FileReplaceBatch::Commit() {
  if (failed_) return false;
  bool ok = true;
  DWORD error = ERROR_SUCCESS;
  // Every side file and every file changed in place to the disk, with one
  // commit of the file system's journal where it can: the write-back of all
  // starts at once and is waited for before the first flush, so the blocks
  // of every file are placed by then and that flush commits them together;
  // the flushes of the others find their part done. Each file is still
  // flushed, so no file system is trusted to order them.
  std::vector<int> flushFds;
  for (const std::string& path : flushes_) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      ok = false;
      error = ErrorFromErrno(errno);
      break;
    }
    flushFds.push_back(fd);
  }
  for (const int fd : flushFds) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  for (const Entry& entry : entries_) ::sync_file_range(entry.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  constexpr unsigned kWriteAndWait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  for (const int fd : flushFds) ::sync_file_range(fd, 0, 0, kWriteAndWait);
  for (const Entry& entry : entries_) ::sync_file_range(entry.fd, 0, 0, kWriteAndWait);
  int place = 0;
  for (const int fd : flushFds) {
    if (ok) FileStep("flush");
    if (const int failure = ok ? FlushFile(fd, true, place++) : 0; failure != 0) {
      ok = false;
      error = ErrorFromErrno(failure);
    }
    ::close(fd);
  }
  for (Entry& entry : entries_) {
    if (ok) FileStep("flush");
    if (const int failure = ok ? FlushFile(entry.fd, false, place++) : 0; failure != 0) {
      ok = false;
      error = ErrorFromErrno(failure);
    }
    if (::close(entry.fd) != 0 && ok) {
      ok = false;
      error = ErrorFromErrno(errno);
    }
    entry.fd = -1;
  }
  // The old files keep a second name (shaped as a side file, so a stop here
  // leaves nothing a load does not remove) until every rename went in.
  for (Entry& entry : entries_) {
    if (!ok) break;
    struct stat st;
    if (::lstat(entry.target.c_str(), &st) != 0) continue;  // a new file
    entry.existed = true;
    const std::string name = entry.target.substr(entry.target.find_last_of('/') + 1);
    std::string tmpl = entry.folder + "/" + (name.size() > 200 ? name.substr(0, 200) : name) + ".XXXXXX.tmp";
    const int fd = ::mkostemps(tmpl.data(), 4, O_CLOEXEC);
    if (fd < 0) continue;  // no way back for this one
    ::close(fd);
    ::unlink(tmpl.c_str());
    if (::link(entry.target.c_str(), tmpl.c_str()) == 0) entry.old = tmpl;
  }
  // The renames, in order; then each folder once (of the files that may
  // not lag).
  std::vector<std::string> folders;
  std::size_t renamed = 0;
  for (Entry& entry : entries_) {
    if (!ok) break;
    FileStep("rename");
    if (InjectedFailure(FileOperation::kRename)) {
      ok = false;
      error = GetLastError();
      break;
    }
    if (::rename(entry.side.c_str(), entry.target.c_str()) != 0) {
      ok = false;
      error = ErrorFromErrno(errno);
      break;
    }
    entry.side.clear();
    ++renamed;
    if (entry.mayLag) continue;
    bool known = false;
    for (const std::string& folder : folders) known = known || folder == entry.folder;
    if (!known) folders.push_back(entry.folder);
  }
  if (!ok && renamed > 0) {
    // Back to the old files: none of the batch went in.
    for (std::size_t i = renamed; i-- > 0;) {
      Entry& entry = entries_[i];
      if (!entry.old.empty()) {
        if (::rename(entry.old.c_str(), entry.target.c_str()) == 0) entry.old.clear();
      } else if (!entry.existed) {
        ::unlink(entry.target.c_str());
      }
    }
    folders.clear();
    for (Entry& entry : entries_) {
      bool known = false;
      for (const std::string& folder : folders) known = known || folder == entry.folder;
      if (!known) folders.push_back(entry.folder);
    }
  }
  for (const std::string& folder : folders) SyncFolder(folder);
  Discard();
  if (!ok) {
    failed_ = true;
    SetLastError(error);
  }
  return ok;
}

}  // namespace plat
