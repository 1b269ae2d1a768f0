// Device paths, mounts and the resolution of device names onto host entries.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/files/DeviceMounts.h"
#include "platform/files/FilesInternal.h"

namespace plat::files {

namespace {

struct MountTable {
  std::mutex lock;
  unsigned generation = 0;
  bool initialised = false;
  std::vector<MountInfo> mounts;
};

MountTable& Table() {
  static MountTable* t = new MountTable;  // lives for the whole process
  return *t;
}

// The folders every device has.
constexpr const char* kStandardFolders[] = {"My Documents", "Program Files", "Windows", "Temp", "Application Data"};

// The device's recorded mounts (DeviceMountsFile), in the order written;
// lines that do not parse are skipped.
std::vector<MountInfo> ReadDeviceMounts() {
  std::vector<MountInfo> out;
  std::ifstream in(DeviceMountsFile());
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    auto parsed = ParseDevicePath(Utf8ToUtf16(line.substr(0, tab1)));
    const std::string host = line.substr(tab1 + 1, tab2 - tab1 - 1);
    if (!parsed || parsed->parts.empty() || host.empty() || host[0] != '/') continue;
    out.push_back(MountInfo{parsed->parts, host, line.compare(tab2 + 1, std::string::npos, "1") == 0});
  }
  return out;
}

// Caller holds the table's lock: forgets the mounts of an earlier device and
// makes sure the device has its standard folders.
void Refresh(MountTable& t) {
  const unsigned gen = DeviceGeneration();
  if (!t.initialised || t.generation != gen) {
    t.mounts.clear();
    t.generation = gen;
    t.initialised = true;
    const std::string fs = DeviceFsRoot();
    for (const char* name : kStandardFolders) {
      // Another case of the name may be there already (made by hand).
      if (FindHostEntry(fs, Utf8ToUtf16(name)).empty()) ::mkdir((fs + "/" + name).c_str(), 0755);
    }
    t.mounts = ReadDeviceMounts();
  }
}

bool PrefixMatches(const std::vector<std::u16string>& prefix, const std::vector<std::u16string>& parts) {
  if (prefix.size() > parts.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (!EqualsNoCase(prefix[i], parts[i])) return false;
  return true;
}

bool IsHostDir(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A host name the device can name: valid UTF-8 that converts back unchanged
// and holds no character a device name may not hold.
bool DeviceNameOf(const std::string& hostName, std::u16string* out) {
  std::u16string name = Utf8ToUtf16(hostName);
  if (Utf16ToUtf8(name) != hostName) return false;
  if (name.empty() || name.size() >= MAX_PATH) return false;
  for (char16_t c : name)
    if (IsForbiddenNameChar(c) || c == u'*' || c == u'?') return false;
  *out = std::move(name);
  return true;
}

}  // namespace

bool IsForbiddenNameChar(char16_t c) {
  return c < 0x20 || c == u'/' || c == u':' || c == u'<' || c == u'>' || c == u'|' || c == u'"' ||
         c == u'\\';
}

std::optional<DevicePath> ParseDevicePath(std::u16string_view path, bool allowWildcards) {
  if (path.empty() || path[0] != u'\\') {
    SetLastError(ERROR_INVALID_NAME);
    return std::nullopt;
  }
  if (path.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return std::nullopt;
  }
  std::vector<std::u16string> raw;
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) raw.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  DevicePath out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::u16string& part = raw[i];
    const bool last = i + 1 == raw.size();
    for (char16_t c : part) {
      if (c != u'\\' && IsForbiddenNameChar(c)) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
      }
      if ((c == u'*' || c == u'?') && !(allowWildcards && last)) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
      }
    }
    if (part == u".") continue;
    if (part == u"..") {
      if (!out.parts.empty()) out.parts.pop_back();
      continue;
    }
    out.parts.push_back(part);
  }
  return out;
}

std::optional<DevicePath> ParseDevicePath(const WCHAR* path, bool allowWildcards) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  return ParseDevicePath(std::u16string_view(path, StrLen(path)), allowWildcards);
}

std::u16string JoinDevicePath(const std::vector<std::u16string>& parts, std::size_t count) {
  if (count == 0) return u"\\";
  std::u16string s;
  for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
    s += u'\\';
    s += parts[i];
  }
  return s;
}

std::vector<MountInfo> Mounts() {
  auto& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  Refresh(t);
  return t.mounts;
}

std::vector<MountInfo> MountsInside(const std::vector<std::u16string>& folder, bool liveOnly) {
  std::vector<MountInfo> out;
  for (auto& m : Mounts()) {
    if (m.parts.size() == folder.size() + 1 && PrefixMatches(folder, m.parts) && (!liveOnly || IsHostDir(m.host)))
      out.push_back(std::move(m));
  }
  return out;
}

std::string FindHostEntry(const std::string& hostFolder, std::u16string_view name) {
  const std::string exact = Utf16ToUtf8(name);
  struct stat st;
  if (::lstat((hostFolder + "/" + exact).c_str(), &st) == 0) return exact;
  DIR* dir = ::opendir(hostFolder.c_str());
  if (!dir) return {};
  std::string best;
  while (dirent* e = ::readdir(dir)) {
    std::string hostName = e->d_name;
    if (hostName == "." || hostName == "..") continue;
    std::u16string deviceName;
    if (!DeviceNameOf(hostName, &deviceName)) continue;
    if (!EqualsNoCase(deviceName, name)) continue;
    if (best.empty() || hostName < best) best = hostName;
  }
  ::closedir(dir);
  return best;
}

std::vector<std::pair<std::u16string, std::string>> ListHostFolder(const std::string& hostFolder) {
  std::vector<std::pair<std::u16string, std::string>> out;
  DIR* dir = ::opendir(hostFolder.c_str());
  if (!dir) return out;
  while (dirent* e = ::readdir(dir)) {
    std::string hostName = e->d_name;
    if (hostName == "." || hostName == "..") continue;
    std::u16string deviceName;
    if (DeviceNameOf(hostName, &deviceName)) out.emplace_back(std::move(deviceName), std::move(hostName));
  }
  ::closedir(dir);
  return out;
}

std::optional<Resolved> Resolve(const DevicePath& path) {
  const auto mounts = Mounts();
  const MountInfo* best = nullptr;
  for (const auto& m : mounts)
    if (PrefixMatches(m.parts, path.parts) && (!best || m.parts.size() > best->parts.size())) best = &m;

  Resolved r;
  std::string host = best ? best->host : DeviceFsRoot();
  const std::size_t first = best ? best->parts.size() : 0;
  if (best && !IsHostDir(host)) {
    // The mount's host folder is gone (a card taken out): the mount point is
    // missing, and nothing below it can be reached.
    if (first < path.parts.size()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return std::nullopt;
    }
    r.parentExists = true;
    r.isMountPoint = true;
    r.isCard = best->card;
    r.mountMissing = true;
    r.host = host;
    return r;
  }
  if (first == path.parts.size()) {
    r.parentExists = true;
    r.exists = ::stat(host.c_str(), &r.st) == 0;
    r.isRoot = path.parts.empty();
    r.isMountPoint = best != nullptr;
    r.isCard = best && best->card;
    r.host = host;
    const auto slash = host.find_last_of('/');
    r.parentHost = slash == std::string::npos ? host : host.substr(0, slash);
    r.hostName = slash == std::string::npos ? host : host.substr(slash + 1);
    return r;
  }
  for (std::size_t i = first; i < path.parts.size(); ++i) {
    const bool last = i + 1 == path.parts.size();
    std::string name = FindHostEntry(host, path.parts[i]);
    if (!last) {
      struct stat st;
      if (name.empty() || ::stat((host + "/" + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
      }
      host += "/" + name;
      continue;
    }
    r.parentExists = true;
    r.parentHost = host;
    if (name.empty()) {
      r.hostName = Utf16ToUtf8(path.parts[i]);
      r.host = host + "/" + r.hostName;
    } else {
      r.hostName = name;
      r.host = host + "/" + name;
      r.exists = ::stat(r.host.c_str(), &r.st) == 0;
      if (!r.exists) {
        // A dangling link stands in the way: treat it as an existing file
        // that cannot be opened rather than creating through it.
        r.exists = ::lstat(r.host.c_str(), &r.st) == 0;
      }
    }
  }
  return r;
}

std::optional<Resolved> ResolveName(const WCHAR* name) {
  auto parsed = ParseDevicePath(name);
  if (!parsed) return std::nullopt;
  return Resolve(*parsed);
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case EXDEV:
    case EINVAL: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
    case EMFILE:
    case ENFILE: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EAGAIN: return ERROR_SHARING_VIOLATION;
    case EIO: return ERROR_WRITE_FAULT;
    default: return ERROR_ACCESS_DENIED;
  }
}

BOOL FailErrno() { return Fail(ErrorFromErrno(errno)); }

}  // namespace plat::files

namespace plat {

using namespace plat::files;

bool MountFolder(std::u16string_view devicePath, const std::string& hostFolder, bool storageCard) {
  auto parsed = ParseDevicePath(devicePath);
  if (!parsed) return false;
  if (parsed->parts.empty() || (storageCard && parsed->parts.size() != 1)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  char* real = ::realpath(hostFolder.c_str(), nullptr);
  if (!real) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string host = real;
  ::free(real);
  if (!IsHostDir(host)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  // The folders above the mount point exist on the device, so the mount can be
  // reached and is listed in its parent.
  for (std::size_t depth = 1; depth < parsed->parts.size(); ++depth) {
    DevicePath above;
    above.parts.assign(parsed->parts.begin(), parsed->parts.begin() + static_cast<std::ptrdiff_t>(depth));
    auto r = Resolve(above);
    if (!r) return false;
    if (!r->exists && ::mkdir(r->host.c_str(), 0755) != 0 && errno != EEXIST) {
      FailErrno();
      return false;
    }
  }
  auto& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  Refresh(t);
  for (auto& m : t.mounts) {
    if (m.parts.size() == parsed->parts.size() && PrefixMatches(m.parts, parsed->parts)) {
      m.parts = parsed->parts;
      m.host = host;
      m.card = storageCard;
      return true;
    }
  }
  t.mounts.push_back(MountInfo{parsed->parts, host, storageCard});
  return true;
}

bool UnmountFolder(std::u16string_view devicePath) {
  auto parsed = ParseDevicePath(devicePath);
  if (!parsed) return false;
  auto& t = Table();
  std::lock_guard<std::mutex> g(t.lock);
  Refresh(t);
  for (auto it = t.mounts.begin(); it != t.mounts.end(); ++it) {
    if (it->parts.size() == parsed->parts.size() && PrefixMatches(it->parts, parsed->parts)) {
      t.mounts.erase(it);
      return true;
    }
  }
  SetLastError(ERROR_PATH_NOT_FOUND);
  return false;
}

std::string HostPathFromDevicePath(std::u16string_view devicePath) {
  auto parsed = ParseDevicePath(devicePath);
  if (!parsed) return {};
  auto r = Resolve(*parsed);
  if (!r) return {};
  if (r->mountMissing) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return {};
  }
  return r->host;
}

std::string DeviceMountsFile() { return DeviceRoot() + "/mounts"; }

namespace {

// Rewrites the record without the mount at the device folder (and with the
// given line appended when not empty): a side file renamed over the record.
bool RewriteDeviceMounts(const std::vector<std::u16string>& parts, const std::string& addLine) {
  std::vector<std::string> keep;
  {
    std::ifstream in(DeviceMountsFile());
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t tab = line.find('\t');
      auto parsed = ParseDevicePath(Utf8ToUtf16(line.substr(0, tab)));
      if (!parsed || tab == std::string::npos) continue;
      if (parsed->parts.size() == parts.size() && PrefixMatches(parts, parsed->parts)) continue;
      keep.push_back(line);
    }
  }
  if (!addLine.empty()) keep.push_back(addLine);
  const std::string file = DeviceMountsFile();
  const std::string side = file + ".new";
  {
    std::ofstream out(side, std::ios::trunc);
    for (const std::string& line : keep) out << line << '\n';
    out.flush();
    if (!out) {
      ::unlink(side.c_str());
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
  }
  if (::rename(side.c_str(), file.c_str()) != 0) {
    FailErrno();
    ::unlink(side.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool AddDeviceMount(std::u16string_view devicePath, const std::string& hostFolder, bool storageCard) {
  if (!MountFolder(devicePath, hostFolder, storageCard)) return false;
  auto parsed = ParseDevicePath(devicePath);
  char* real = ::realpath(hostFolder.c_str(), nullptr);
  if (!parsed || !real) {
    if (real) ::free(real);
    return false;
  }
  std::string host = real;
  ::free(real);
  const std::string line =
      Utf16ToUtf8(JoinDevicePath(parsed->parts, parsed->parts.size())) + "\t" + host + "\t" + (storageCard ? "1" : "0");
  return RewriteDeviceMounts(parsed->parts, line);
}

bool RemoveDeviceMount(std::u16string_view devicePath) {
  auto parsed = ParseDevicePath(devicePath);
  if (!parsed) return false;
  UnmountFolder(devicePath);
  return RewriteDeviceMounts(parsed->parts, std::string());
}

}  // namespace plat
