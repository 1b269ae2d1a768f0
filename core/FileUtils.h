// Files, folders and where the program and its content live. Paths are device
// paths: wide text with backslash separators from "\". Every function answers
// with a boolean, an empty string or 0; nothing is logged or shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/StringMaps.h"
#include "platform/files/Files.h"

// ---- Locations (settings from the product key) -------------------------------

// fromRegistry: the setting "InstallFolder"; when that is empty or not asked
// for, the program-files folder joined with the product name.
std::u16string GetInstallFolder(bool fromRegistry);
std::u16string GetProgramFilesFolder();  // default "\Program Files"
std::u16string GetMyDocumentsFolder();   // default "\My Documents"
// The shell's special folder id (CSIDL_*), or def when the platform has none.
std::u16string GetSpecialFolderPath(int id, const std::u16string& def);
std::u16string GetDefaultContentFolder();  // GetInstallFolder(true) + "\Content"
std::u16string GetContentFolder();         // the setting "ContentFolder", else the default
// The running program's folder (its file name cut before the last backslash).
std::u16string GetModuleFolder();
// The storage cards present now, as device folders ("\Storage Card"), in the
// order the device lists them: the places the content folder may move to.
std::vector<std::u16string> GetStorageCardFolders();

// ---- Tests --------------------------------------------------------------------

bool DirectoryExists(const std::u16string& path);
bool FileExists(const std::u16string& path);
// The path's first folder (such as a storage card's mount folder) is there.
bool IsPathRootAvailable(const std::u16string& path);
// The folder exists and holds at least one entry.
bool IsFolderNotEmpty(const std::u16string& path);
// Free bytes available to the caller on the volume of path; 0 on failure.
std::uint64_t GetFreeDiskSpace(const std::u16string& path);

// ---- Paths --------------------------------------------------------------------

// Splits folder\name.extension. Fails for a path holding * / ? > < : " | or a
// control character, or two backslashes in a row. The folder keeps no final
// backslash unless it is "\" itself; the extension is without its dot. Any
// out-pointer may be null.
bool SplitPath(const std::u16string& path, std::u16string* folder, std::u16string* name,
               std::u16string* extension);
// folder + "\" + name with exactly one backslash between them.
std::u16string CombinePath(const std::u16string& folder, const std::u16string& name);
// Position of the last ch in text, or npos.
std::size_t FindLastChar(std::u16string_view text, char16_t ch);
// The first of base+ext, base+"(1)"+ext, base+"(2)"+ext, ... naming no file in folder.
std::u16string MakeUniqueFileName(const std::u16string& folder, const std::u16string& base,
                                  const std::u16string& extension);
// The first of those names that taken does not claim.
std::u16string MakeUniqueFileName(const std::u16string& base, const std::u16string& extension,
                                  const std::function<bool(const std::u16string&)>& taken);

// ---- Changes ------------------------------------------------------------------

plat::HANDLE OpenFileHandle(const std::u16string& path, plat::DWORD access, plat::DWORD share,
                            plat::DWORD disposition, plat::DWORD flags);
// True when nothing is there or the path is a folder; else the deletion's result.
bool DeleteFileIfExists(const std::u16string& path);
// Creates the folder and every missing folder above it; a folder that comes
// out read-only is a failure.
bool CreateFolderTree(const std::u16string& path);
// Deletes a folder with everything below it (single failures are skipped);
// true when the folder itself is gone.
bool DeleteFolderTree(const std::u16string& path);
// Moves or copies a file over whatever stands at to (a file or a folder tree).
// Equal paths (ignoring case) succeed at once; a missing source fails and
// leaves the target alone.
bool MoveFileReplacing(const std::u16string& from, const std::u16string& to);
bool CopyFileReplacing(const std::u16string& from, const std::u16string& to);
// Moves a folder's contents into to (created when missing), replacing files of
// the same names; the source is deleted only when everything was moved. The
// first failure stops and fails, leaving the rest in from. Moving a folder
// onto itself succeeds at once; into its own sub-folder fails.
bool MoveFolderTree(const std::u16string& from, const std::u16string& to);

// ---- Reading ------------------------------------------------------------------

// The whole file at path into bytes. share: the FILE_SHARE_* flags that other
// handles may hold meanwhile (0: the file must be open nowhere else). False,
// with bytes empty, when the file cannot be opened or read, or holds more than
// maxBytes.
bool ReadWholeFile(const std::u16string& path, std::string& bytes, std::uint64_t maxBytes,
                   plat::DWORD share = plat::FILE_SHARE_READ);
bool ReadWholeFile(const std::u16string& path, std::vector<std::uint8_t>& bytes, std::uint64_t maxBytes,
                   plat::DWORD share = plat::FILE_SHARE_READ);

// ---- Enumeration --------------------------------------------------------------

// The files (filesOnly) or the sub-folders of a folder whose names match pattern.
class CFileFinder {
 public:
  CFileFinder(const std::u16string& folder, const std::u16string& pattern, bool filesOnly);
  ~CFileFinder();
  CFileFinder(const CFileFinder&) = delete;
  CFileFinder& operator=(const CFileFinder&) = delete;

  // The next matching entry; false at the end (a further call starts over).
  bool FindNext();
  const std::u16string& GetFileName() const { return name_; }
  std::u16string GetFilePath() const { return CombinePath(folder_, name_); }
  const plat::WIN32_FIND_DATAW& GetFindData() const { return data_; }

 private:
  void CloseFind();

  std::u16string folder_;
  std::u16string pattern_;
  bool filesOnly_;
  bool started_ = false;
  plat::HANDLE find_ = plat::INVALID_HANDLE_VALUE;
  plat::WIN32_FIND_DATAW data_{};
  std::u16string name_;
};

// ---- Text forms of settings ---------------------------------------------------

// "key:value|key:value|": "\" makes the next character literal; the last
// unescaped ":" of an item divides key from value; text after the last "|"
// is ignored; a later equal key replaces an earlier one. Empties map first.
void StringToMap(const std::u16string& text, CStringToStringMap& map);
// "item|item|": the same escapes; each item is a key of set (value 0).
void StringToList(const std::u16string& text, CStringToIntMap& set);
