// Shared pieces of the device file system: path parsing, mounts, resolution of
// device names onto host entries, attributes, host writes. Not for use outside
// platform/files.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/Files.h"

namespace plat::files {

// A device path taken apart: its components below "\" with "." and ".."
// resolved (never above "\").
struct DevicePath {
  std::vector<std::u16string> parts;
};

// Parses an absolute device path. allowWildcards lets the last component hold
// "*" and "?". Sets the last error and returns nothing on failure.
std::optional<DevicePath> ParseDevicePath(std::u16string_view path, bool allowWildcards = false);
std::optional<DevicePath> ParseDevicePath(const WCHAR* path, bool allowWildcards = false);

// The device path as text ("\" for the root).
std::u16string JoinDevicePath(const std::vector<std::u16string>& parts, std::size_t count);

// A character that never stands in a device name.
bool IsForbiddenNameChar(char16_t c);

struct MountInfo {
  std::vector<std::u16string> parts;  // device folder of the mount
  std::string host;                   // host folder behind it
  bool card = false;
};

// The mounts of this process for the current device (a copy).
std::vector<MountInfo> Mounts();

// Where a device path lands on the host.
struct Resolved {
  bool parentExists = false;  // every folder on the way exists
  bool exists = false;        // the entry itself exists
  bool isRoot = false;        // "\" itself
  bool isMountPoint = false;  // the path is a mount's device folder
  bool isCard = false;        // ... of a storage card
  bool mountMissing = false;  // ... whose host folder is gone
  std::string host;           // host path of the entry (as given when it does not exist)
  std::string parentHost;     // host folder holding it
  std::string hostName;       // the entry's host name (existing case, or as given)
  struct stat st {};          // when exists
};

// Resolves a parsed path, matching names ignoring case. Fails (with the last
// error set) only when a folder on the way is missing or not a folder:
// ERROR_PATH_NOT_FOUND.
std::optional<Resolved> Resolve(const DevicePath& path);

// Parses and resolves in one step.
std::optional<Resolved> ResolveName(const WCHAR* name);

// Host name lookup in one host folder ignoring case: the exact name when it
// exists, otherwise the first matching name in byte order. Empty when none.
std::string FindHostEntry(const std::string& hostFolder, std::u16string_view name);

// Entries of a host folder that the device can name: (device name, host name).
std::vector<std::pair<std::u16string, std::string>> ListHostFolder(const std::string& hostFolder);

// Mount points directly inside a device folder; with liveOnly, only those
// whose host folder exists.
std::vector<MountInfo> MountsInside(const std::vector<std::u16string>& folder, bool liveOnly = true);

// Last error for an errno value.
DWORD ErrorFromErrno(int err);
// Sets the last error from errno and returns FALSE.
BOOL FailErrno();
inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Attributes of an existing host entry (stat result given).
DWORD AttributesOf(const std::string& host, const struct stat& st);
// Attributes of a resolved existing entry (mount points and "\" included).
DWORD AttributesOf(const Resolved& r);
// Stores attributes on a host entry: READONLY of files also in the host's
// write bits. False with the last error set on failure.
bool StoreAttributes(const std::string& host, const struct stat& st, DWORD attributes);
// Copies the stored attributes (xattr and mode) from one host entry to another.
void CopyStoredAttributes(int fromFd, int toFd);

// Writes all of data to fd, honouring the simulated disk-full limit.
// Returns the bytes written; on a shortfall the last error is set.
std::size_t HostWrite(int fd, const void* data, std::size_t size);
// Calls the test's step hook, if one is set.
void FileStep(const char* step);
// Counts a call of that kind; true (with the last error set) when the test
// made it fail.
bool InjectedFailure(FileOperation kind);
// True (last error ERROR_ACCESS_DENIED) when the host entry lies at or below
// the test's read-only path.
bool InReadOnlyPath(const std::string& host);

// FILETIME from a host time.
FILETIME FileTimeFromTimespec(const struct timespec& ts);
// Creation time of a host entry (birth time where the host keeps one, else
// the last status change). fd may be -1 to go by path.
FILETIME CreationTimeOf(int fd, const std::string& host, const struct stat& st);
// Fills a find record from a host entry.
void FillFindData(WIN32_FIND_DATAW* fd, std::u16string_view name, DWORD attributes, const std::string& host,
                  const struct stat& st);

// Sharing of open files across handles and processes (open file description
// locks on bytes far past any data). True when this open may coexist with
// the others; otherwise the last error is ERROR_SHARING_VIOLATION.
bool TakeShareLocks(int fd, DWORD access, DWORD share);

// Opens a host file for reading, honouring the share modes of other handles.
int OpenForReading(const std::string& host);

// Copies a host file over (or to) target through a side file in the target's
// folder: data, attributes and times. With noReplace an existing target fails
// (ERROR_FILE_EXISTS). False with the last error set on failure; the side file
// is removed then.
bool CopyHostFile(const std::string& source, const std::string& targetFolder, const std::string& targetHost,
                  bool noReplace);

// Makes a side file next to targetHost; returns its fd (and path) or -1.
int MakeSideFile(const std::string& targetFolder, const std::string& targetName, std::string* sidePath);
// fsync of a host folder (after a rename into it).
void SyncFolder(const std::string& hostFolder);

}  // namespace plat::files
