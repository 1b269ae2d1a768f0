#include "core/FileUtils.h"

#include <algorithm>
#include <vector>

#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"

using namespace plat;

namespace {

DWORD AttributesOf(const std::u16string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(path.c_str());
}

bool IsDotEntry(const char16_t* name) {
  return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

// a equals b or lies below it, ignoring case.
bool IsSameOrBelow(const std::u16string& a, const std::u16string& b) {
  std::u16string base = b;
  while (base.size() > 1 && base.back() == u'\\') base.pop_back();
  if (a.size() < base.size()) return false;
  if (!EqualsNoCase(std::u16string_view(a).substr(0, base.size()), base)) return false;
  return a.size() == base.size() || a[base.size()] == u'\\' || base == u"\\";
}

template <class Buffer>
bool ReadWhole(const std::u16string& path, Buffer& bytes, std::uint64_t maxBytes, DWORD share) {
  bytes.clear();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(file, &high);
  const std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
  bool ok = !(low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) && size <= maxBytes;
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 30));
      DWORD read = 0;
      ok = ReadFile(file, bytes.data() + done, chunk, &read, nullptr) && read > 0;
      done += read;
    }
  }
  CloseHandle(file);
  if (!ok) bytes.clear();
  return ok;
}

}  // namespace

// ---- Locations -----------------------------------------------------------------

std::u16string GetSpecialFolderPath(int id, const std::u16string& def) {
  char16_t buffer[MAX_PATH + 1] = {};
  if (SHGetSpecialFolderPath(nullptr, buffer, id, FALSE) && buffer[0] != 0) {
    buffer[MAX_PATH] = 0;
    return std::u16string(buffer);
  }
  return def;
}

std::u16string GetProgramFilesFolder() { return GetSpecialFolderPath(CSIDL_PROGRAM_FILES, u"\\Program Files"); }

std::u16string GetMyDocumentsFolder() { return GetSpecialFolderPath(CSIDL_PERSONAL, u"\\My Documents"); }

std::u16string GetInstallFolder(bool fromRegistry) {
  std::u16string folder;
  if (fromRegistry) folder = OpenSettingsKey().GetString(u"InstallFolder", u"");
  if (folder.empty()) folder = CombinePath(GetProgramFilesFolder(), GetProductName());
  return folder;
}

std::u16string GetDefaultContentFolder() { return CombinePath(GetInstallFolder(true), u"Content"); }

std::u16string GetContentFolder() {
  std::u16string folder = OpenSettingsKey().GetString(u"ContentFolder", u"");
  if (folder.empty()) folder = GetDefaultContentFolder();
  return folder;
}

std::u16string GetModuleFolder() {
  char16_t buffer[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (n == 0) return std::u16string();
  std::u16string path(buffer, n > MAX_PATH ? MAX_PATH : n);
  std::size_t slash = FindLastChar(path, u'\\');
  if (slash == std::u16string::npos) return std::u16string();
  return path.substr(0, slash);
}

std::vector<std::u16string> GetStorageCardFolders() {
  std::vector<std::u16string> cards;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFlashCard(&data);
  if (find == INVALID_HANDLE_VALUE) return cards;
  do {
    data.cFileName[MAX_PATH - 1] = 0;
    if (data.cFileName[0] != 0) cards.push_back(CombinePath(u"\\", data.cFileName));
  } while (FindNextFlashCard(find, &data));
  FindClose(find);
  return cards;
}

// ---- Tests -----------------------------------------------------------------------

bool DirectoryExists(const std::u16string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::u16string& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsPathRootAvailable(const std::u16string& path) {
  if (path.empty()) return false;
  std::size_t second = path.find(u'\\', 1);
  std::u16string root = second == std::u16string::npos ? path : path.substr(0, second);
  DWORD attributes = AttributesOf(root);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY)) != 0;
}

bool IsFolderNotEmpty(const std::u16string& path) {
  if (!DirectoryExists(path)) return false;
  WIN32_FIND_DATAW data{};
  std::u16string pattern = CombinePath(path, u"*.*");
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (!IsDotEntry(data.cFileName)) {
      found = true;
      break;
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return found;
}

std::uint64_t GetFreeDiskSpace(const std::u16string& path) {
  if (path.empty()) return 0;
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) return 0;
  return available.QuadPart;
}

// ---- Paths -----------------------------------------------------------------------

bool SplitPath(const std::u16string& path, std::u16string* folder, std::u16string* name,
               std::u16string* extension) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    char16_t c = path[i];
    switch (c) {
      case u'*': case u'/': case u'?': case u'>': case u'<': case u':': case u'"': case u'|':
        return false;
      default:
        break;
    }
    if (c >= 1 && c <= 31) return false;
    if (c == u'\\' && i + 1 < path.size() && path[i + 1] == u'\\') return false;
  }
  std::size_t slash = FindLastChar(path, u'\\');
  std::size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
  std::size_t dot = FindLastChar(path, u'.');
  std::u16string ext;
  std::size_t nameEnd = path.size();
  if (dot != std::u16string::npos && dot >= nameStart) {
    ext = path.substr(dot + 1);
    nameEnd = dot;
  }
  std::u16string dir = path.substr(0, nameStart);
  if (dir.size() > 1 && dir.back() == u'\\') dir.pop_back();
  if (folder) *folder = dir;
  if (name) *name = path.substr(nameStart, nameEnd - nameStart);
  if (extension) *extension = ext;
  return true;
}

std::u16string CombinePath(const std::u16string& folder, const std::u16string& name) {
  if (folder.empty()) return !name.empty() && name[0] == u'\\' ? name : u"\\" + name;
  if (name.empty()) return folder;
  bool folderSlash = folder.back() == u'\\';
  bool nameSlash = name[0] == u'\\';
  if (folderSlash || nameSlash) return folder + name;
  return folder + u"\\" + name;
}

std::size_t FindLastChar(std::u16string_view text, char16_t ch) { return text.rfind(ch); }

std::u16string MakeUniqueFileName(const std::u16string& folder, const std::u16string& base,
                                  const std::u16string& extension) {
  return MakeUniqueFileName(base, extension,
                            [&folder](const std::u16string& name) { return FileExists(CombinePath(folder, name)); });
}

std::u16string MakeUniqueFileName(const std::u16string& base, const std::u16string& extension,
                                  const std::function<bool(const std::u16string&)>& taken) {
  std::u16string candidate = base + extension;
  for (unsigned n = 1; taken(candidate); ++n) {
    candidate = base + u"(" + Latin1ToUtf16(std::to_string(n)) + u")" + extension;
  }
  return candidate;
}

// ---- Changes ---------------------------------------------------------------------

HANDLE OpenFileHandle(const std::u16string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

bool DeleteFileIfExists(const std::u16string& path) {
  DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  return DeleteFileW(path.c_str()) != FALSE;
}

bool CreateFolderTree(const std::u16string& path) {
  if (DirectoryExists(path)) return true;
  std::u16string target = path;
  while (target.size() > 1 && target.back() == u'\\') target.pop_back();
  if (target != path) return CreateFolderTree(target);
  std::u16string parent;
  std::u16string name;
  std::u16string extension;
  if (!SplitPath(target, &parent, &name, &extension)) return false;
  if (parent.empty() || parent == target) return false;
  if (!CreateFolderTree(parent)) return false;
  if (!CreateDirectoryW(target.c_str(), nullptr)) return false;
  DWORD attributes = AttributesOf(target);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool DeleteFolderTree(const std::u16string& path) {
  if (!DirectoryExists(path)) return false;
  std::vector<std::u16string> entries;
  {
    CFileFinder folders(path, u"*.*", false);
    while (folders.FindNext()) entries.push_back(folders.GetFilePath());
  }
  for (const auto& folder : entries) DeleteFolderTree(folder);
  entries.clear();
  {
    CFileFinder files(path, u"*.*", true);
    while (files.FindNext()) entries.push_back(files.GetFilePath());
  }
  for (const auto& file : entries) DeleteFileW(file.c_str());
  return RemoveDirectoryW(path.c_str()) != FALSE;
}

namespace {

// Clears the way for a file arriving at to: a folder tree there is deleted.
// A file there is left for the caller to replace.
bool ClearFolderAt(const std::u16string& to) {
  if (DirectoryExists(to)) return DeleteFolderTree(to);
  return true;
}

}  // namespace

bool MoveFileReplacing(const std::u16string& from, const std::u16string& to) {
  if (EqualsNoCase(from, to)) return true;
  if (AttributesOf(from) == INVALID_FILE_ATTRIBUTES) return false;
  if (!ClearFolderAt(to)) return false;
  if (FileExists(to)) {
    // The old file stays until the new one takes its place.
    if (!DirectoryExists(from)) return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!DeleteFileW(to.c_str())) return false;
  }
  return MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

bool CopyFileReplacing(const std::u16string& from, const std::u16string& to) {
  if (EqualsNoCase(from, to)) return true;
  if (!FileExists(from)) return false;
  if (!ClearFolderAt(to)) return false;
  if (FileExists(to) && !DeleteFileW(to.c_str())) return false;
  return CopyFileW(from.c_str(), to.c_str(), TRUE) != FALSE;
}

bool MoveFolderTree(const std::u16string& from, const std::u16string& to) {
  if (IsSameOrBelow(from, to) && IsSameOrBelow(to, from)) return true;
  if (IsSameOrBelow(to, from)) return false;
  if (!DirectoryExists(from)) return false;
  if (!CreateFolderTree(to)) return false;
  std::vector<std::u16string> names;
  {
    CFileFinder folders(from, u"*.*", false);
    while (folders.FindNext()) names.push_back(folders.GetFileName());
  }
  for (const auto& name : names) {
    if (!MoveFolderTree(CombinePath(from, name), CombinePath(to, name))) return false;
  }
  names.clear();
  {
    CFileFinder files(from, u"*.*", true);
    while (files.FindNext()) names.push_back(files.GetFileName());
  }
  for (const auto& name : names) {
    if (!MoveFileReplacing(CombinePath(from, name), CombinePath(to, name))) return false;
  }
  DeleteFolderTree(from);
  return true;
}

// ---- Reading ---------------------------------------------------------------------

bool ReadWholeFile(const std::u16string& path, std::string& bytes, std::uint64_t maxBytes, DWORD share) {
  return ReadWhole(path, bytes, maxBytes, share);
}

bool ReadWholeFile(const std::u16string& path, std::vector<std::uint8_t>& bytes, std::uint64_t maxBytes, DWORD share) {
  return ReadWhole(path, bytes, maxBytes, share);
}

// ---- Enumeration -----------------------------------------------------------------

CFileFinder::CFileFinder(const std::u16string& folder, const std::u16string& pattern, bool filesOnly)
    : folder_(folder), pattern_(pattern), filesOnly_(filesOnly) {}

CFileFinder::~CFileFinder() { CloseFind(); }

void CFileFinder::CloseFind() {
  if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  find_ = INVALID_HANDLE_VALUE;
  started_ = false;
}

bool CFileFinder::FindNext() {
  bool have;
  if (!started_) {
    std::u16string query = CombinePath(folder_, pattern_);
    find_ = FindFirstFileW(query.c_str(), &data_);
    if (find_ == INVALID_HANDLE_VALUE) {
      name_.clear();
      return false;
    }
    started_ = true;
    have = true;
  } else {
    have = FindNextFileW(find_, &data_) != FALSE;
  }
  while (have) {
    bool isFolder = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder != filesOnly_ && !IsDotEntry(data_.cFileName)) {
      data_.cFileName[MAX_PATH - 1] = 0;
      name_ = data_.cFileName;
      return true;
    }
    have = FindNextFileW(find_, &data_) != FALSE;
  }
  CloseFind();
  name_.clear();
  return false;
}

// ---- Text forms of settings ------------------------------------------------------

void StringToMap(const std::u16string& text, CStringToStringMap& map) {
  map.clear();
  std::u16string item;       // the current item with escapes removed
  std::size_t colon = std::u16string::npos;  // position in item of its last unescaped ":"
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\\') {
      if (i + 1 < text.size()) item += text[++i];
      continue;
    }
    if (c == u':') {
      colon = item.size();
      item += c;
      continue;
    }
    if (c == u'|') {
      if (colon == std::u16string::npos) map[item] = std::u16string();
      else map[item.substr(0, colon)] = item.substr(colon + 1);
      item.clear();
      colon = std::u16string::npos;
      continue;
    }
    item += c;
  }
}

void StringToList(const std::u16string& text, CStringToIntMap& set) {
  set.clear();
  std::u16string item;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\\') {
      if (i + 1 < text.size()) item += text[++i];
      continue;
    }
    if (c == u'|') {
      set[item] = 0;
      item.clear();
      continue;
    }
    item += c;
  }
}
