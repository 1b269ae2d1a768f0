// Folder listings with wildcards, and the storage cards.
#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/base/Text.h"
#include "platform/files/FilesInternal.h"

namespace plat {

namespace {

using namespace plat::files;

class FindObject final : public KernelObject {
 public:
  explicit FindObject(std::vector<WIN32_FIND_DATAW> entries) : entries_(std::move(entries)) {}
  Probe TryAcquire() override { return Probe::Signaled; }
  DWORD WaitOne(DWORD) override { return WAIT_OBJECT_0; }

  // Hands out entries in order; false after the last.
  bool Next(WIN32_FIND_DATAW* out) {
    std::lock_guard<std::mutex> g(lock_);
    if (next_ >= entries_.size()) return false;
    *out = entries_[next_++];
    return true;
  }

 private:
  std::mutex lock_;
  std::vector<WIN32_FIND_DATAW> entries_;
  std::size_t next_ = 0;
};

FindObject* AsFind(HANDLE h) {
  if (!h || h == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<FindObject*>(h);
}

// "*" matches any run of characters, "?" exactly one; letters ignoring case.
bool MatchWildcard(std::u16string_view pattern, std::u16string_view name) {
  std::size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || ToUpper(pattern[p]) == ToUpper(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

struct Entry {
  std::u16string name;
  WIN32_FIND_DATAW data;
};

void SortEntries(std::vector<Entry>& entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const int c = CompareNoCase(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
}

HANDLE HandOut(std::vector<Entry>& entries, WIN32_FIND_DATAW* findData, DWORD emptyError) {
  if (entries.empty()) {
    SetLastError(emptyError);
    return INVALID_HANDLE_VALUE;
  }
  SortEntries(entries);
  std::vector<WIN32_FIND_DATAW> data;
  data.reserve(entries.size());
  for (auto& e : entries) data.push_back(e.data);
  auto* find = new FindObject(std::move(data));
  find->Next(findData);
  SetLastError(ERROR_SUCCESS);
  return find;
}

}  // namespace

HANDLE FindFirstFileW(const WCHAR* fileName, WIN32_FIND_DATAW* findData) {
  if (!findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto p = ParseDevicePath(fileName, true);
  if (!p) return INVALID_HANDLE_VALUE;
  if (p->parts.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string pattern = p->parts.back();
  p->parts.pop_back();
  if (pattern == u"*.*") pattern = u"*";

  auto folder = Resolve(*p);
  if (!folder) return INVALID_HANDLE_VALUE;
  if (folder->mountMissing || !folder->exists || !S_ISDIR(folder->st.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }

  std::vector<Entry> entries;
  // A mount hides the host entry of its name, also while its host folder is gone.
  const auto mounts = MountsInside(p->parts, false);
  auto isMounted = [&](std::u16string_view name) {
    for (const auto& m : mounts)
      if (EqualsNoCase(m.parts.back(), name)) return true;
    return false;
  };
  for (auto& [name, hostName] : ListHostFolder(folder->host)) {
    if (isMounted(name) || !MatchWildcard(pattern, name)) continue;
    const std::string host = folder->host + "/" + hostName;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 && ::lstat(host.c_str(), &st) != 0) continue;
    Entry e{name, {}};
    FillFindData(&e.data, name, AttributesOf(host, st), host, st);
    entries.push_back(std::move(e));
  }
  for (const auto& m : mounts) {
    if (!MatchWildcard(pattern, m.parts.back())) continue;
    struct stat st;
    if (::stat(m.host.c_str(), &st) != 0) continue;
    Entry e{m.parts.back(), {}};
    FillFindData(&e.data, e.name, FILE_ATTRIBUTE_DIRECTORY | (m.card ? FILE_ATTRIBUTE_TEMPORARY : 0), m.host, st);
    entries.push_back(std::move(e));
  }
  return HandOut(entries, findData, ERROR_FILE_NOT_FOUND);
}

BOOL FindNextFileW(HANDLE findFile, WIN32_FIND_DATAW* findData) {
  FindObject* f = AsFind(findFile);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  if (!findData) return Fail(ERROR_INVALID_PARAMETER);
  if (!f->Next(findData)) return Fail(ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL FindClose(HANDLE findFile) {
  FindObject* f = AsFind(findFile);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  f->Release();
  return TRUE;
}

HANDLE FindFirstFlashCard(WIN32_FIND_DATAW* findData) {
  if (!findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<Entry> entries;
  for (const auto& m : Mounts()) {
    struct stat st;
    if (!m.card || ::stat(m.host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    Entry e{m.parts.back(), {}};
    FillFindData(&e.data, e.name, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY, m.host, st);
    entries.push_back(std::move(e));
  }
  return HandOut(entries, findData, ERROR_NO_MORE_FILES);
}

BOOL FindNextFlashCard(HANDLE findFile, WIN32_FIND_DATAW* findData) { return FindNextFileW(findFile, findData); }

}  // namespace plat
