#include "database/ThumbnailsPool.h"

#include <cstring>

#include "core/BitmapBuffer.h"
#include "core/FileUtils.h"
#include "core/ImageDecoder.h"
#include "core/Md5.h"
#include "core/MutexLock.h"
#include "core/RecordEncoding.h"
#include "core/STScreenBuffer.h"
#include "core/Streams.h"
#include "platform/base/Endian.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"

using namespace plat;

namespace {

constexpr char16_t kPoolNamePrefix[] = u"tmbp.";
constexpr std::size_t kBmpHeadersBytes = 14 + 40;
// Index files above this size are not read (a full pool's index is far smaller).
constexpr std::size_t kMaxIndexBytes = 16u * 1024u * 1024u;

// The pixels of a DIB section, row 0 being the top image row.
struct DibView {
  std::uint8_t* bits = nullptr;
  int stride = 0;
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  bool topDown = false;

  bool Open(HBITMAP bitmap) {
    DIBSECTION ds{};
    if (!bitmap || GetObjectW(bitmap, sizeof ds, &ds) != static_cast<int>(sizeof ds) || !ds.dsBm.bmBits)
      return false;
    bits = static_cast<std::uint8_t*>(ds.dsBm.bmBits);
    stride = ds.dsBm.bmWidthBytes;
    width = ds.dsBm.bmWidth;
    height = ds.dsBm.bmHeight;
    bitsPerPixel = ds.dsBm.bmBitsPixel;
    topDown = ds.dsBmih.biHeight < 0;
    return width > 0 && height > 0 && stride > 0;
  }
  std::uint8_t* Row(int y) const {
    return bits + static_cast<std::ptrdiff_t>(topDown ? y : height - 1 - y) * stride;
  }
};

int StripStride(int width) { return static_cast<int>(plat::DibStride(24, width)); }


std::u16string Decimal(int value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// "tmbp.<S>" with S in decimal without leading zeros; -1 for anything else.
int SizeFromPoolName(const std::u16string& name) {
  const std::size_t prefix = std::char_traits<char16_t>::length(kPoolNamePrefix);
  if (name.size() <= prefix || !EqualsNoCase(name.substr(0, prefix), kPoolNamePrefix)) return -1;
  std::u16string digits = name.substr(prefix);
  if (digits.size() > 5 || digits[0] == u'0') return -1;
  int value = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') return -1;
    value = value * 10 + (c - u'0');
  }
  return value;
}

void DeleteBitmap(HBITMAP& bitmap) {
  if (bitmap) DeleteObject(bitmap);
  bitmap = nullptr;
}

}  // namespace

std::u16string NormalizeThumbnailPath(const std::u16string& path) {
  std::u16string out;
  out.reserve(path.size());
  for (char16_t c : path) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && !out.empty() && out.back() == u'\\') continue;
    out.push_back(c);
  }
  if (out.size() > 1 && out.back() == u'\\') out.pop_back();
  return ToLower(out);
}

std::u16string ThumbnailsPoolMutexName(const std::u16string& folder) {
  std::u16string normal = NormalizeThumbnailPath(folder);
  std::u16string name = kThumbnailsMutexPrefix + normal;
  if (name.size() >= MAX_PATH) name = kThumbnailsMutexPrefix + GetMd5Hex(normal);
  return name;
}

std::u16string ThumbnailsIndexPath(const std::u16string& folder, int size) {
  return CombinePath(folder, kPoolNamePrefix + Decimal(size) + u"." + kThumbnailsIndexExtension);
}

std::u16string ThumbnailsStripPath(const std::u16string& folder, int size) {
  return CombinePath(folder, kPoolNamePrefix + Decimal(size) + u"." + kThumbnailsStripExtension);
}

bool SaveBmp(HBITMAP bitmap, const std::u16string& path) {
  DibView v;
  if (!v.Open(bitmap) || v.bitsPerPixel != 24) return false;
  const int stride = StripStride(v.width);
  const std::uint64_t imageSize = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(v.height);
  if (imageSize + kBmpHeadersBytes > 0xFFFFFFFFull) return false;
  std::string header;
  header.reserve(kBmpHeadersBytes);
  header += "BM";
  plat::PutLe32(header, static_cast<std::uint32_t>(kBmpHeadersBytes + imageSize));
  plat::PutLe16(header, 0);
  plat::PutLe16(header, 0);
  plat::PutLe32(header, static_cast<std::uint32_t>(kBmpHeadersBytes));
  plat::PutLe32(header, 40);
  plat::PutLe32(header, static_cast<std::uint32_t>(v.width));
  plat::PutLe32(header, static_cast<std::uint32_t>(v.height));
  plat::PutLe16(header, 1);
  plat::PutLe16(header, 24);
  plat::PutLe32(header, BI_RGB);
  plat::PutLe32(header, static_cast<std::uint32_t>(imageSize));
  for (int i = 0; i < 4; ++i) plat::PutLe32(header, 0);

  CFileWriter writer(path, true);
  bool ok = writer.IsOpen() && WriterWrite(writer, header.data(), header.size());
  std::string row(static_cast<std::size_t>(stride), '\0');
  for (int y = v.height - 1; ok && y >= 0; --y) {
    std::memcpy(row.data(), v.Row(y), static_cast<std::size_t>(v.width) * 3);
    ok = WriterWrite(writer, row.data(), row.size());
  }
  if (ok) ok = writer.Close(true);
  if (!ok) {
    writer.DeleteFile();
    DeleteFileIfExists(path);
  }
  return ok;
}

// ---- CThumbnailsPool -----------------------------------------------------------

bool CThumbnailsPool::FileStamp::operator==(const FileStamp& o) const {
  if (exists != o.exists) return false;
  if (!exists) return true;
  return size == o.size && written.dwLowDateTime == o.written.dwLowDateTime &&
         written.dwHighDateTime == o.written.dwHighDateTime;
}

CThumbnailsPool::CThumbnailsPool(const std::u16string& folder, int size) : size_(size) {
  SetFolder(folder);
  indexPath_ = ThumbnailsIndexPath(folder, size);
  stripPath_ = ThumbnailsStripPath(folder, size);
}

CThumbnailsPool::CThumbnailsPool() = default;

CThumbnailsPool::~CThumbnailsPool() {
  Save();
  ReleaseStrip();
  if (mutex_) CloseHandle(mutex_);
}

void CThumbnailsPool::SetFolder(const std::u16string& folder) {
  if (mutex_ && NormalizeThumbnailPath(folder) != NormalizeThumbnailPath(folder_)) {
    CloseHandle(mutex_);
    mutex_ = nullptr;
  }
  folder_ = folder;
}

HANDLE CThumbnailsPool::FilesMutex() {
  if (!mutex_ && !folder_.empty())
    mutex_ = CreateMutexW(nullptr, FALSE, ThumbnailsPoolMutexName(folder_).c_str());
  return mutex_;
}

CThumbnailsPool::FileStamp CThumbnailsPool::StampOf(const std::u16string& path) {
  FileStamp stamp;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return stamp;
  FindClose(find);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return stamp;
  stamp.exists = true;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.written = data.ftLastWriteTime;
  return stamp;
}

bool CThumbnailsPool::ParseIndex(const std::string& bytes, int* size, std::vector<std::u16string>& keys) const {
  keys.clear();
  CBufferReader reader(bytes.data(), bytes.size());
  std::int32_t s = 0;
  std::int32_t n = 0;
  if (!ReadInt32(reader, s) || !ReadInt32(reader, n)) return false;
  if (s < 1 || s > kThumbnailsMaxEdge || n < 0) return false;
  // Every key takes at least its 4-byte count.
  if (static_cast<std::int64_t>(n) * 4 > reader.Remaining()) return false;
  std::set<std::u16string> seen;
  for (std::int32_t i = 0; i < n; ++i) {
    std::u16string key;
    if (!ReadString(reader, key)) {
      keys.clear();
      return false;
    }
    if (!key.empty()) key = NormalizeThumbnailPath(key);
    // A key listed twice keeps its first slot.
    if (!key.empty() && !seen.insert(key).second) key.clear();
    keys.push_back(std::move(key));
  }
  *size = s;
  return true;
}

HBITMAP CThumbnailsPool::ReadStrip(int slots) const {
  if (slots <= 0 || size_ < 1) return nullptr;
  const std::int64_t width = static_cast<std::int64_t>(size_) * slots;
  if (width > 0x7FFFFFFF / 3) return nullptr;
  // The headers must describe exactly the strip the index needs before any
  // pixel is decoded.
  HANDLE file = CreateFileW(stripPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DWORD high = 0;
  DWORD fileSize = GetFileSize(file, &high);
  std::uint8_t h[kBmpHeadersBytes] = {};
  DWORD read = 0;
  bool ok = fileSize != INVALID_FILE_SIZE && high == 0 && fileSize >= kBmpHeadersBytes &&
            ReadFile(file, h, sizeof h, &read, nullptr) && read == sizeof h;
  CloseHandle(file);
  if (!ok) return nullptr;
  const std::uint64_t imageSize = static_cast<std::uint64_t>(StripStride(static_cast<int>(width))) * size_;
  const std::uint32_t offBits = plat::GetLe32(h + 10);
  const std::int32_t biHeight = static_cast<std::int32_t>(plat::GetLe32(h + 22));
  const std::uint32_t biSizeImage = plat::GetLe32(h + 34);
  if (h[0] != 'B' || h[1] != 'M' || plat::GetLe32(h + 2) != fileSize || offBits < kBmpHeadersBytes ||
      plat::GetLe32(h + 14) != 40 || static_cast<std::int32_t>(plat::GetLe32(h + 18)) != width ||
      (biHeight != size_ && biHeight != -size_) || plat::GetLe16(h + 26) != 1 || plat::GetLe16(h + 28) != 24 ||
      plat::GetLe32(h + 30) != BI_RGB || (biSizeImage != 0 && biSizeImage != imageSize) ||
      static_cast<std::uint64_t>(offBits) + imageSize != fileSize)
    return nullptr;
  HBITMAP bitmap = LoadImageFromFile(stripPath_, true);
  DibView v;
  if (!v.Open(bitmap) || v.bitsPerPixel != 24 || v.width != width || v.height != size_) {
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }
  return bitmap;
}

void CThumbnailsPool::AdoptKeys(std::vector<std::u16string> keys) {
  keys_ = std::move(keys);
  slots_.clear();
  free_ = 0;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].empty())
      ++free_;
    else
      slots_[keys_[i]] = static_cast<int>(i);
  }
}

void CThumbnailsPool::ReleaseStrip() { DeleteBitmap(strip_); }

void CThumbnailsPool::ReleaseBitmap() {
  CSyncLock lock(this, u"CThumbnailsPool::ReleaseBitmap");
  // Pixels added since the last save exist only in the strip: keep it then.
  if (added_.empty()) ReleaseStrip();
}

void CThumbnailsPool::StartOver() {
  ReleaseStrip();
  keys_.clear();
  slots_.clear();
  free_ = 0;
  added_.clear();
  removed_.clear();
  ++changes_;
  stripChanged_ = true;
}

void CThumbnailsPool::ForgetContents() {
  ReleaseStrip();
  keys_.clear();
  slots_.clear();
  free_ = 0;
  changes_ = 0;
  stripChanged_ = false;
  added_.clear();
  removed_.clear();
}

bool CThumbnailsPool::LoadIndex(const std::u16string& indexPath) {
  CSyncLock lock(this, u"CThumbnailsPool::LoadIndex");
  ForgetContents();
  synced_ = false;
  std::u16string folder, name, extension;
  if (!FileExists(indexPath) || !SplitPath(indexPath, &folder, &name, &extension)) return false;
  if (!EqualsNoCase(extension, kThumbnailsIndexExtension) || folder.empty()) return false;
  const int nameSize = SizeFromPoolName(name);
  if (nameSize < 1) return false;
  SetFolder(folder);
  CMutexLock files(FilesMutex(), kThumbnailsMutexTimeoutMs);
  if (!files.IsLocked()) return false;
  std::string bytes;
  std::vector<std::u16string> keys;
  int size = -1;
  if (!ReadWholeFile(indexPath, bytes, kMaxIndexBytes) || !ParseIndex(bytes, &size, keys) || size != nameSize) return false;
  size_ = size;
  indexPath_ = indexPath;
  stripPath_ = CombinePath(folder, name + u"." + kThumbnailsStripExtension);
  AdoptKeys(std::move(keys));
  knownIndex_ = std::move(bytes);
  knownIndexExists_ = true;
  knownStrip_ = StampOf(stripPath_);
  synced_ = true;
  return true;
}

void CThumbnailsPool::SyncWithFiles() {
  if (size_ < 1 || indexPath_.empty()) return;
  std::string bytes;
  const bool indexExists = ReadWholeFile(indexPath_, bytes, kMaxIndexBytes);
  const FileStamp stripStamp = StampOf(stripPath_);
  if (synced_ && indexExists == knownIndexExists_ && (!indexExists || bytes == knownIndex_) &&
      stripStamp == knownStrip_)
    return;

  // The files changed under us: they become the base, and what this process
  // added and removed since it last saw them is done again on top.
  std::vector<std::u16string> diskKeys;
  int diskSize = -1;
  if (!indexExists || !ParseIndex(bytes, &diskSize, diskKeys) || diskSize != size_) diskKeys.clear();
  for (auto& key : diskKeys)
    if (!key.empty() && removed_.count(key)) key.clear();

  if (added_.empty()) {
    ReleaseStrip();
    AdoptKeys(std::move(diskKeys));
    changes_ = static_cast<int>(removed_.size());
    stripChanged_ = false;
  } else {
    bool anyUsed = false;
    for (const auto& key : diskKeys) anyUsed = anyUsed || !key.empty();
    HBITMAP diskStrip = anyUsed ? ReadStrip(static_cast<int>(diskKeys.size())) : nullptr;
    if (!diskStrip) diskKeys.clear();

    HBITMAP ours = strip_;
    std::unordered_map<std::u16string, int> ourSlots = std::move(slots_);
    strip_ = diskStrip;
    AdoptKeys(std::move(diskKeys));
    std::set<std::u16string> added = std::move(added_);
    added_.clear();
    for (const auto& key : added) {
      auto it = ourSlots.find(key);
      if (it == ourSlots.end() || !ours) continue;
      int slot = TakeSlot(key);
      if (slot < 0) continue;
      if (!CopyIntoSlot(slot, ours, it->second * size_)) {
        slots_.erase(key);
        keys_[slot].clear();
        ++free_;
        continue;
      }
      added_.insert(key);
    }
    DeleteBitmap(ours);
    changes_ = static_cast<int>(removed_.size() + added_.size()) + 1;
    stripChanged_ = true;
  }
  knownIndex_ = std::move(bytes);
  knownIndexExists_ = indexExists;
  knownStrip_ = stripStamp;
  synced_ = true;
}

bool CThumbnailsPool::LoadBitmapLocked() {
  SyncWithFiles();
  if (strip_ || keys_.empty()) return true;
  strip_ = ReadStrip(static_cast<int>(keys_.size()));
  // A strip that does not fit the index cannot be trusted for any slot: the
  // pool starts over and its thumbnails are made again.
  if (!strip_) StartOver();
  return true;
}

bool CThumbnailsPool::LoadBitmap() {
  CSyncLock lock(this, u"CThumbnailsPool::LoadBitmap");
  if (strip_) return true;
  if (size_ < 1) return false;
  CMutexLock files(FilesMutex(), kThumbnailsMutexTimeoutMs);
  if (!files.IsLocked()) return false;
  return LoadBitmapLocked();
}

bool CThumbnailsPool::Lookup(const std::u16string& key, int* slot) {
  CSyncLock lock(this, u"CThumbnailsPool::Lookup");
  const std::u16string normal = NormalizeThumbnailPath(key);
  if (!slots_.count(normal)) return false;
  if (!strip_ && !LoadBitmap()) return false;
  auto it = slots_.find(normal);
  if (it == slots_.end() || !strip_) return false;
  if (slot) *slot = it->second;
  return true;
}

int CThumbnailsPool::TakeSlot(const std::u16string& key) {
  auto it = slots_.find(key);
  if (it != slots_.end()) return it->second;
  int slot = -1;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].empty()) {
      slot = static_cast<int>(i);
      break;
    }
  }
  if (slot < 0) {
    slot = static_cast<int>(keys_.size());
    if (!Grow()) return -1;
  }
  keys_[slot] = key;
  slots_[key] = slot;
  --free_;
  return slot;
}

bool CThumbnailsPool::Grow() {
  const int n = static_cast<int>(keys_.size());
  HBITMAP grown = Create24BitDib(size_ * (n + kThumbnailsGrowSlots), size_);
  DibView to;
  if (!to.Open(grown)) {
    if (grown) DeleteObject(grown);
    return false;
  }
  DibView from;
  if (n > 0) {
    if (!from.Open(strip_)) {
      DeleteObject(grown);
      return false;
    }
    for (int y = 0; y < size_; ++y)
      std::memcpy(to.Row(y), from.Row(y), static_cast<std::size_t>(size_) * n * 3);
  }
  ReleaseStrip();
  strip_ = grown;
  keys_.resize(static_cast<std::size_t>(n + kThumbnailsGrowSlots));
  free_ += kThumbnailsGrowSlots;
  return true;
}

bool CThumbnailsPool::CopyIntoSlot(int slot, HBITMAP source, int sourceX) {
  DibView to;
  if (!to.Open(strip_) || slot < 0 || (slot + 1) * size_ > to.width) return false;
  DibView from;
  CSTScreenBuffer converted;
  if (!from.Open(source) || from.bitsPerPixel != 24) {
    if (!converted.CreateFromBitmap(source)) return false;
    from = DibView{};
    from.bits = converted.GetBits();
    from.stride = converted.GetStride();
    from.width = converted.GetWidth();
    from.height = converted.GetHeight();
    from.bitsPerPixel = 24;
    from.topDown = true;
  }
  if (sourceX < 0 || sourceX + size_ > from.width || from.height < size_) return false;
  for (int y = 0; y < size_; ++y)
    std::memmove(to.Row(y) + static_cast<std::size_t>(slot) * size_ * 3,
                 from.Row(y) + static_cast<std::size_t>(sourceX) * 3, static_cast<std::size_t>(size_) * 3);
  return true;
}

bool CThumbnailsPool::Add(const std::u16string& key, HBITMAP bitmap) {
  CSyncLock lock(this, u"CThumbnailsPool::Add");
  BITMAP bm{};
  if (key.empty() || size_ < 1 || !bitmap || !GetObjectW(bitmap, sizeof bm, &bm)) return false;
  if (bm.bmWidth != size_ || bm.bmHeight != size_) return false;
  if (!LoadBitmap()) return false;
  if (!strip_ && !keys_.empty()) return false;
  const std::u16string normal = NormalizeThumbnailPath(key);
  const bool existed = slots_.count(normal) != 0;
  const int slot = TakeSlot(normal);
  if (slot < 0) return false;
  if (!CopyIntoSlot(slot, bitmap, 0)) {
    if (!existed) {
      slots_.erase(normal);
      keys_[slot].clear();
      ++free_;
    }
    return false;
  }
  DeleteObject(bitmap);
  ++changes_;
  stripChanged_ = true;
  added_.insert(normal);
  removed_.erase(normal);
  if (changes_ > kThumbnailsMaxUnsavedChanges) Save();
  return true;
}

bool CThumbnailsPool::Remove(const std::u16string& key) {
  CSyncLock lock(this, u"CThumbnailsPool::Remove");
  const std::u16string normal = NormalizeThumbnailPath(key);
  auto it = slots_.find(normal);
  if (it == slots_.end()) return false;
  keys_[it->second].clear();
  slots_.erase(it);
  ++changes_;
  ++free_;
  removed_.insert(normal);
  added_.erase(normal);
  return true;
}

void CThumbnailsPool::Compact() {
  CSyncLock lock(this, u"CThumbnailsPool::Compact");
  const int n = static_cast<int>(keys_.size());
  if (n == 0 || !(free_ >= kThumbnailsCompactFreeSlots || free_ == n)) return;
  if (free_ < n && !LoadBitmap()) return;
  if (free_ < n && !strip_) return;
  const int count = static_cast<int>(keys_.size());
  if (count == 0) return;
  if (free_ >= count) {
    ReleaseStrip();
    keys_.clear();
    slots_.clear();
    free_ = 0;
    stripChanged_ = true;
    ++changes_;
    return;
  }
  int i = 0;
  int j = count - 1;
  for (;;) {
    while (i < count && !keys_[i].empty()) ++i;
    while (j >= 0 && keys_[j].empty()) --j;
    if (i >= j) break;
    keys_[i] = std::move(keys_[j]);
    keys_[j].clear();
    slots_[keys_[i]] = i;
    CopyIntoSlot(i, strip_, j * size_);
    ++changes_;
  }
  const int used = count - free_;
  HBITMAP cut = Create24BitDib(size_ * used, size_);
  DibView to, from;
  if (!to.Open(cut) || !from.Open(strip_)) {
    if (cut) DeleteObject(cut);
    return;
  }
  for (int y = 0; y < size_; ++y)
    std::memcpy(to.Row(y), from.Row(y), static_cast<std::size_t>(size_) * used * 3);
  ReleaseStrip();
  strip_ = cut;
  keys_.resize(static_cast<std::size_t>(used));
  stripChanged_ = true;
  free_ = 0;
}

bool CThumbnailsPool::WriteIndexTo(const std::u16string& path, std::string* written) const {
  CBufferWriter memory;
  bool ok = WriteInt32(memory, static_cast<std::int32_t>(size_)) &&
            WriteInt32(memory, static_cast<std::int32_t>(keys_.size()));
  for (std::size_t i = 0; ok && i < keys_.size(); ++i) ok = WriteString(memory, keys_[i]);
  if (!ok) return false;
  CFileWriter writer(path, true);
  ok = writer.IsOpen() && WriterWrite(writer, memory.GetData(), memory.GetSize()) && writer.Close(true);
  if (!ok) {
    writer.DeleteFile();
    return false;
  }
  written->assign(reinterpret_cast<const char*>(memory.GetData()), memory.GetSize());
  return true;
}

bool CThumbnailsPool::Save() {
  CSyncLock lock(this, u"CThumbnailsPool::Save");
  if (changes_ == 0 && !stripChanged_) return true;
  if (size_ < 1 || folder_.empty() || indexPath_.empty() || stripPath_.empty()) return false;
  if (!DirectoryExists(folder_)) return false;
  CMutexLock files(FilesMutex(), kThumbnailsMutexTimeoutMs);
  if (!files.IsLocked()) return false;
  SyncWithFiles();
  Compact();

  const std::u16string stripTemp = stripPath_ + kThumbnailsTempSuffix;
  const std::u16string indexTemp = indexPath_ + kThumbnailsTempSuffix;
  const bool writeStrip = stripChanged_ && !keys_.empty();
  bool ok = true;
  if (writeStrip) ok = strip_ && SaveBmp(strip_, stripTemp);
  std::string written;
  if (ok) ok = WriteIndexTo(indexTemp, &written);
  if (ok && writeStrip) ok = MoveFileExW(stripTemp.c_str(), stripPath_.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (ok && keys_.empty()) DeleteFileIfExists(stripPath_);
  if (ok) ok = MoveFileExW(indexTemp.c_str(), indexPath_.c_str(), MOVEFILE_REPLACE_EXISTING);
  DeleteFileIfExists(stripTemp);
  DeleteFileIfExists(indexTemp);
  if (!ok) return false;
  changes_ = 0;
  stripChanged_ = false;
  added_.clear();
  removed_.clear();
  knownIndex_ = std::move(written);
  knownIndexExists_ = true;
  knownStrip_ = StampOf(stripPath_);
  synced_ = true;
  return true;
}

void CThumbnailsPool::Clear() {
  CSyncLock lock(this, u"CThumbnailsPool::Clear");
  ForgetContents();
  if (indexPath_.empty()) return;
  CMutexLock files(FilesMutex(), kThumbnailsMutexTimeoutMs);
  DeleteFileIfExists(indexPath_);
  DeleteFileIfExists(stripPath_);
  DeleteFileIfExists(indexPath_ + kThumbnailsTempSuffix);
  DeleteFileIfExists(stripPath_ + kThumbnailsTempSuffix);
  knownIndex_.clear();
  knownIndexExists_ = false;
  knownStrip_ = FileStamp{};
  synced_ = true;
}

bool CThumbnailsPool::MoveKeys(const std::u16string& from, const std::u16string& to) {
  CSyncLock lock(this, u"CThumbnailsPool::MoveKeys");
  if (size_ < 1 || indexPath_.empty()) return false;
  const std::u16string oldBase = NormalizeThumbnailPath(from) + u"\\";
  const std::u16string newBase = NormalizeThumbnailPath(to) + u"\\";
  std::vector<std::u16string> keys = keys_;
  bool changed = false;
  for (std::u16string& key : keys) {
    if (key.size() > oldBase.size() && key.compare(0, oldBase.size(), oldBase) == 0) {
      key = newBase + key.substr(oldBase.size());
      changed = true;
    }
  }
  if (!changed) return true;
  CMutexLock files(FilesMutex(), kThumbnailsMutexTimeoutMs);
  if (!files.IsLocked()) return false;
  AdoptKeys(std::move(keys));
  const std::u16string temp = indexPath_ + kThumbnailsTempSuffix;
  std::string written;
  const bool ok = WriteIndexTo(temp, &written) && MoveFileExW(temp.c_str(), indexPath_.c_str(), MOVEFILE_REPLACE_EXISTING);
  DeleteFileIfExists(temp);
  if (ok) {
    knownIndex_ = std::move(written);
    knownIndexExists_ = true;
  }
  return ok;
}

bool CThumbnailsPool::DrawThumbnail(CBitmapBuffer& target, const RECT& r, int slot, bool dimmed) {
  CSyncLock lock(this, u"CThumbnailsPool::DrawThumbnail");
  if (!LoadBitmap() || !strip_ || slot < 0 || slot >= static_cast<int>(keys_.size())) return false;
  HDC dc = CreateCompatibleDC(target.GetDC());
  if (!dc) return false;
  HGDIOBJ previous = SelectObject(dc, strip_);
  // Only the slot's own cell is drawn, centred in r: a rectangle larger than
  // the cell would otherwise show the next slot's thumbnail beside it.
  const int width = std::min<int>(r.right - r.left, size_);
  const int height = std::min<int>(r.bottom - r.top, size_);
  RECT cell{r.left + (r.right - r.left - width) / 2, r.top + (r.bottom - r.top - height) / 2, 0, 0};
  cell.right = cell.left + width;
  cell.bottom = cell.top + height;
  CBitmapBuffer source;
  bool drawn = width > 0 && height > 0 && source.Attach(strip_, dc) &&
               target.DrawBitmap(cell, source, size_ * slot + (size_ - width) / 2, (size_ - height) / 2, dimmed);
  if (previous) SelectObject(dc, previous);
  DeleteDC(dc);
  return drawn;
}

// ---- CSizedThumbnailsPools -------------------------------------------------------

CSizedThumbnailsPools::CSizedThumbnailsPools(const std::u16string& folder) : folder_(folder) {}

CSizedThumbnailsPools::~CSizedThumbnailsPools() {
  CSyncLock lock(this, u"CSizedThumbnailsPools::~CSizedThumbnailsPools");
  pools_.clear();
}

bool CSizedThumbnailsPools::Load() {
  CSyncLock lock(this, u"CSizedThumbnailsPools::Load");
  if (loaded_) return true;
  if (!DirectoryExists(folder_)) return false;
  CFileFinder finder(folder_, std::u16string(u"*.") + kThumbnailsIndexExtension, true);
  while (finder.FindNext()) {
    auto pool = std::make_unique<CThumbnailsPool>();
    if (!pool->LoadIndex(finder.GetFilePath())) continue;
    const int size = pool->GetSize();
    // A pool made in memory before the folder was read keeps its changes:
    // they are merged into the files at its next save.
    if (pools_.count(size)) continue;
    pools_[size] = std::move(pool);
  }
  loaded_ = true;
  return true;
}

CThumbnailsPool* CSizedThumbnailsPools::FindPool(int size) {
  CSyncLock lock(this, u"CSizedThumbnailsPools::FindPool");
  Load();
  auto it = pools_.find(size);
  return it == pools_.end() ? nullptr : it->second.get();
}

CThumbnailsPool* CSizedThumbnailsPools::CreatePool(int size) {
  CSyncLock lock(this, u"CSizedThumbnailsPools::CreatePool");
  if (size < 1) return nullptr;
  auto& slot = pools_[size];
  slot = std::make_unique<CThumbnailsPool>(folder_, size);
  return slot.get();
}

bool CSizedThumbnailsPools::Contains(int size, const std::u16string& key) {
  CSyncLock lock(this, u"CSizedThumbnailsPools::Contains");
  CThumbnailsPool* pool = FindPool(size);
  return pool && pool->Lookup(key, nullptr);
}

bool CSizedThumbnailsPools::Add(int size, const std::u16string& key, HBITMAP bitmap) {
  CSyncLock lock(this, u"CSizedThumbnailsPools::Add");
  CThumbnailsPool* pool = FindPool(size);
  if (!pool) pool = CreatePool(size);
  return pool && pool->Add(key, bitmap);
}

bool CSizedThumbnailsPools::GetPool(int size, const std::u16string& key, CThumbnailsPool** out) {
  CSyncLock lock(this, u"CSizedThumbnailsPools::GetPool");
  CThumbnailsPool* pool = FindPool(size);
  if (!pool) pool = CreatePool(size);
  if (out) *out = pool;
  return pool && pool->Lookup(key, nullptr);
}

bool CSizedThumbnailsPools::Remove(const std::u16string& key) {
  CSyncLock lock(this, u"CSizedThumbnailsPools::Remove");
  Load();
  bool any = false;
  for (auto& entry : pools_) any = entry.second->Remove(key) || any;
  return any;
}

void CSizedThumbnailsPools::DeletePool(int size) {
  CSyncLock lock(this, u"CSizedThumbnailsPools::DeletePool");
  Load();
  for (auto it = pools_.begin(); it != pools_.end();) {
    if (size < 0 || it->first == size) {
      it->second->Clear();
      it = pools_.erase(it);
    } else {
      ++it;
    }
  }
}

bool CSizedThumbnailsPools::SaveAll() {
  CSyncLock lock(this, u"CSizedThumbnailsPools::SaveAll");
  bool ok = true;
  for (auto& entry : pools_) ok = entry.second->Save() && ok;
  return ok;
}

std::vector<int> CSizedThumbnailsPools::GetPoolSizes() {
  CSyncLock lock(this, u"CSizedThumbnailsPools::GetPoolSizes");
  std::vector<int> sizes;
  for (auto& entry : pools_) sizes.push_back(entry.first);
  return sizes;
}
