// The device file system: backslash paths from "\" mapped onto host folders.
//
// Device path "\" is the host folder DeviceFsRoot(); MountFolder maps further
// device folders onto host folders of their own (the folder of the installed
// programs, storage cards). Names match ignoring case as on the device; a new
// entry keeps the case it was given. Every call works on the host files
// directly (nothing is cached across calls), so several processes of one
// device see each other's changes at once. All calls are thread-safe.
//
// Like every handheld, a device has the folders "\My Documents",
// "\Program Files", "\Windows", "\Temp" and "\Application Data"; they are
// made when a program first uses the device's file system.
//
// Failures set the calling thread's last error (GetLastError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

#include "platform/base/Module.h"
#include "platform/base/Time.h"

namespace plat {

// Access rights of CreateFileW.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;

// Share modes: what other handles to the same file may do while this one is open.
constexpr DWORD FILE_SHARE_READ = 0x00000001u;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;

// Creation dispositions.
constexpr DWORD CREATE_NEW = 1;         // fails with ERROR_FILE_EXISTS when the file exists
constexpr DWORD CREATE_ALWAYS = 2;      // truncates an existing file (last error ERROR_ALREADY_EXISTS)
constexpr DWORD OPEN_EXISTING = 3;      // fails with ERROR_FILE_NOT_FOUND when missing
constexpr DWORD OPEN_ALWAYS = 4;        // creates when missing (last error ERROR_ALREADY_EXISTS when it existed)
constexpr DWORD TRUNCATE_EXISTING = 5;  // needs GENERIC_WRITE; fails when missing

// File attributes.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001u;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002u;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004u;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010u;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020u;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080u;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100u;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// Flags of CreateFileW (accepted; writes always go straight to the host file).
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000u;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u;

// SetFilePointer.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

// MoveFileExW.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001u;

// Shell special folders (SHGetSpecialFolderPath).
constexpr int CSIDL_PROGRAMS = 0x0002;          // "\Windows\Start Menu\Programs"
constexpr int CSIDL_PERSONAL = 0x0005;          // "\My Documents"
constexpr int CSIDL_FAVORITES = 0x0006;         // "\Windows\Favorites"
constexpr int CSIDL_STARTUP = 0x0007;           // "\Windows\StartUp"
constexpr int CSIDL_STARTMENU = 0x000B;         // "\Windows\Start Menu"
constexpr int CSIDL_DESKTOPDIRECTORY = 0x0010;  // "\Windows\Desktop"
constexpr int CSIDL_FONTS = 0x0014;             // "\Windows\Fonts"
constexpr int CSIDL_APPDATA = 0x001A;           // "\Application Data"
constexpr int CSIDL_WINDOWS = 0x0024;           // "\Windows"
constexpr int CSIDL_PROGRAM_FILES = 0x0026;     // "\Program Files"
constexpr int CSIDL_MYPICTURES = 0x0027;        // "\My Documents\My Pictures"

// 64-bit counts split in two words (GetDiskFreeSpaceExW).
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

// One entry of a folder listing (FindFirstFileW/FindNextFileW) or a storage
// card (FindFirstFlashCard/FindNextFlashCard): the name only, no folder.
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  WCHAR cFileName[MAX_PATH];
};

// ---- Mounts -------------------------------------------------------------------

// Maps the device folder devicePath (such as u"\\Program Files\\Orv News" or
// u"\\Storage Card") onto the existing host folder hostFolder, for this process
// (every program of the device sets up the same mounts at start). The deepest
// matching mount wins. A storage card must be a folder directly in "\"; it is
// listed there with FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY and by
// FindFirstFlashCard. While its host folder is missing, the mount (and a card)
// is absent from the device. A mount hides a host entry of its name in the
// parent folder. Mounting again at the same path replaces the mount. Mounts
// are forgotten when the device changes (DeviceGeneration).
bool MountFolder(std::u16string_view devicePath, const std::string& hostFolder, bool storageCard);
bool UnmountFolder(std::u16string_view devicePath);

// The host path behind a device path, for the other platform layers only (no
// host path is ever shown past the platform layer). Existing names are found
// ignoring case; the last component may name nothing yet (it is kept as
// given). Empty on failure (last error ERROR_INVALID_NAME for a path that is
// not an absolute device path or holds "/", ":", wildcards or control
// characters; ERROR_PATH_NOT_FOUND when a folder on the way is missing).
std::string HostPathFromDevicePath(std::u16string_view devicePath);

// ---- Files through handles ---------------------------------------------------

// Opens or creates a file. access: GENERIC_READ and/or GENERIC_WRITE (0 to
// query only); share: FILE_SHARE_* that other handles may hold at the same
// time, across the processes of the device (else ERROR_SHARING_VIOLATION);
// security and templateFile are ignored. Returns INVALID_HANDLE_VALUE on
// failure; close the handle with CloseHandle.
HANDLE CreateFileW(const WCHAR* fileName, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

// Reads up to toRead bytes at the file position; *read 0 at end of file (still TRUE).
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
// Writes at the file position. A full disk writes what fits, reports it in
// *written and fails with ERROR_DISK_FULL.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
// Moves the file position; distanceHigh (may be null) carries the high 32 bits
// in and out. Returns the new low 32 bits, INVALID_SET_FILE_POINTER on failure
// (then GetLastError is not ERROR_SUCCESS). A position before 0 fails.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
// Cuts or extends the file at the file position.
BOOL SetEndOfFile(HANDLE file);
// Writes the file through to the disk (fsync).
BOOL FlushFileBuffers(HANDLE file);
// Low 32 bits of the size; the high ones in *sizeHigh when not null.
// INVALID_FILE_SIZE with a last error on failure.
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
// Times of the open file (UTC); null pointers are skipped. Creation is the
// host's birth time where it keeps one (else the last status change) and
// cannot be set.
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);

// ---- Files and folders by name -----------------------------------------------

// Attributes of a file or folder; INVALID_FILE_ATTRIBUTES with a last error
// when it does not exist. "\" itself is a folder.
DWORD GetFileAttributesW(const WCHAR* fileName);
// Sets READONLY, HIDDEN, SYSTEM, ARCHIVE, TEMPORARY (NORMAL alone clears
// them); kept with the file, so they survive between processes.
BOOL SetFileAttributesW(const WCHAR* fileName, DWORD attributes);

// Deletes a file (not a folder); a read-only file fails with ERROR_ACCESS_DENIED.
// Files held open may be deleted, moved and replaced: open handles keep
// working on the old file.
BOOL DeleteFileW(const WCHAR* fileName);
// Renames a file or folder; fails with ERROR_ALREADY_EXISTS when the target
// exists (except for a rename that only changes the case of the name).
BOOL MoveFileW(const WCHAR* existingName, const WCHAR* newName);
// With MOVEFILE_REPLACE_EXISTING a file replaces an existing target file in
// one atomic step (never a folder). Without flags it is MoveFileW.
BOOL MoveFileExW(const WCHAR* existingName, const WCHAR* newName, DWORD flags);
// Copies a file with its attributes; failIfExists refuses an existing target
// (ERROR_FILE_EXISTS); otherwise a read-only target fails with ERROR_ACCESS_DENIED.
BOOL CopyFileW(const WCHAR* existingName, const WCHAR* newName, BOOL failIfExists);
// Creates one folder (the parent must exist); ERROR_ALREADY_EXISTS when
// something of that name exists.
BOOL CreateDirectoryW(const WCHAR* pathName, void* security);
// Removes an empty folder (ERROR_DIR_NOT_EMPTY otherwise).
BOOL RemoveDirectoryW(const WCHAR* pathName);

// Lists the entries of a folder whose names match the last component of
// fileName ("*" any run, "?" one character, ignoring case; "*.*" matches
// every name). Never returns "." or "..". A pattern matching nothing fails
// with ERROR_FILE_NOT_FOUND (INVALID_HANDLE_VALUE). Entries come in name
// order ignoring case; the listing is taken when FindFirstFileW is called.
HANDLE FindFirstFileW(const WCHAR* fileName, WIN32_FIND_DATAW* findData);
// FALSE with ERROR_NO_MORE_FILES after the last entry.
BOOL FindNextFileW(HANDLE findFile, WIN32_FIND_DATAW* findData);
BOOL FindClose(HANDLE findFile);

// Storage cards mounted now (whose host folder exists): cFileName is the
// card's folder name in "\" (such as "Storage Card"). Fails with
// ERROR_NO_MORE_FILES when there is none / no further one. Close with FindClose.
HANDLE FindFirstFlashCard(WIN32_FIND_DATAW* findData);
BOOL FindNextFlashCard(HANDLE findFile, WIN32_FIND_DATAW* findData);

// Space on the host file system behind directoryName (statvfs). Null
// pointers are skipped.
BOOL GetDiskFreeSpaceExW(const WCHAR* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                         ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes);

// Writes the device path of a special folder (CSIDL_*) into path (at least
// MAX_PATH characters), without a final backslash; creates the folder when
// create is set. FALSE for an unknown id. owner is ignored.
BOOL SHGetSpecialFolderPath(void* owner, WCHAR* path, int csidl, BOOL create);

// The device folder for temporary files, with a final backslash ("\Temp\").
// Returns the length written, or the size needed (with the NUL) when the
// buffer is too small.
DWORD GetTempPathW(DWORD bufferLength, WCHAR* buffer);

// The device path of the running program, as GetModuleFileNameW(nullptr, ...)
// (platform/base/Module.h) answers it, and how to set it for this process
// (programs, tests); an empty path restores the default
// ("\Program Files\Orv News\" + the host program's file name + ".exe").
std::u16string ModuleDevicePath();
void SetModuleDevicePath(std::u16string_view devicePath);

// ---- Helpers of the platform layer -------------------------------------------

// Replaces a file's contents safely: writes a side file in the same folder,
// flushes it to the disk and renames it over the target. On failure the old
// file stays whole, the side file is removed, and the result is false.
bool ReplaceFileContents(std::u16string_view devicePath, const void* data, std::size_t size);

// Replaces several files as one save. Each new content is written to a side
// file beside its target; at Commit the side files, and the files named by
// AddFlush (written in place before), reach the disk together, then the side
// files are renamed over their targets in the order they were added, and
// each folder is flushed once. A stop at any point leaves each file old or
// new, and, since the renames keep their order, never a later file new while
// an earlier one is old. Side files not committed are removed.
// A file added with mayLag (the last ones of a save, whose old contents go
// with the new ones before them) does not have its folder flushed for it:
// its rename reaches the disk with the next flush of the file system's
// journal, and until then a power loss may leave it old.
class FileReplaceBatch {
 public:
  FileReplaceBatch() = default;
  ~FileReplaceBatch();
  FileReplaceBatch(const FileReplaceBatch&) = delete;
  FileReplaceBatch& operator=(const FileReplaceBatch&) = delete;

  // False (the batch then fails) when the side file could not be written.
  bool Add(std::u16string_view devicePath, const void* data, std::size_t size, bool mayLag = false);
  // A file changed in place that must be on the disk before the renames.
  bool AddFlush(std::u16string_view devicePath);
  // False when a flush or a rename failed (the last error tells); every file
  // then stays old (the files renamed before a failed rename are put back).
  bool Commit();
  bool IsEmpty() const { return entries_.empty() && flushes_.empty(); }

 private:
  struct Entry {
    int fd = -1;
    std::string side;
    std::string target;
    std::string folder;
    bool mayLag = false;
    // A second name of the old file while the renames run; a rename that
    // fails puts the files renamed before it back from theirs.
    std::string old;
    bool existed = false;
  };
  void Discard();

  std::vector<Entry> entries_;
  std::vector<std::string> flushes_;
  bool failed_ = false;
};

// Fault injection for tests: after bytesLeft more bytes written through
// WriteFile in this process the disk counts as full (short writes,
// ERROR_DISK_FULL). A negative value turns it off (the default).
void SimulateDiskFull(std::int64_t bytesLeft);

// Fault injection for tests: in each replacement batch of this process the
// flush at this place (from 0; the files changed in place come first) fails
// as an I/O error of the disk would. A negative value turns it off (the
// default).
void SimulateFlushFailure(int place);

// Fault injection for tests: called in this process before each write to a
// file (WriteFile, the side file of ReplaceFileContents), each flush of a
// replacement's files, each rename of a replacement, each flush of a folder
// and each move, with "write", "flush", "rename", "flush folder" or "move".
// A test that kills its process at the n-th call stops a save at exactly
// that step.
// Null turns it off (the default).
using FileStepHook = void (*)(const char* step);
void SetFileStepHook(FileStepHook hook);

// Fault injection for tests: the calls of this process that change files,
// counted by kind. A write is each write of bytes (WriteFile, the side files
// of a replacement or a copy); a flush each flush of a file to the disk
// (FlushFileBuffers, a replacement's files); a rename each MoveFileW and
// MoveFileExW and each rename of a replacement or copy into place; an open
// for writing each CreateFileW that may write or create, and each side file
// made.
enum class FileOperation { kWrite, kFlush, kRename, kOpenForWrite };
// The n-th call of that kind from now (n from 1) fails as a failing disk
// would: a write or a flush with ERROR_WRITE_FAULT, a rename or an open with
// ERROR_ACCESS_DENIED. 0 turns it off.
void FailFileOperation(FileOperation kind, int n);
// Calls of that kind since the last ResetFileFaults.
int CountFileOperations(FileOperation kind);
// Nothing at or below this device path may be changed, whatever the rights
// of the user the tests run as: opening a file for writing, making, deleting
// or renaming an entry there (or into or out of it) fails with
// ERROR_ACCESS_DENIED. Empty turns it off.
void SetReadOnlyPath(std::u16string_view devicePath);
// Turns off every fault above and sets the counts to 0.
void ResetFileFaults();

}  // namespace plat
