#include "database/DataBank.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

#include "core/FileUtils.h"
#include "core/MutexLock.h"
#include "core/RecordEncoding.h"
#include "core/Streams.h"
#include "core/VORegistry.h"
#include "platform/base/Device.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"

namespace {

CDataBankFile::FaultPoint g_faultPoint = nullptr;

void Step(const char* name) {
  if (g_faultPoint != nullptr) g_faultPoint(name);
}

// Every handle of the bank's files lets others read and write meanwhile.
constexpr plat::DWORD kBankFileSharing = plat::FILE_SHARE_READ | plat::FILE_SHARE_WRITE;
// An index file is read whole; its offsets are 32-bit.
constexpr std::uint64_t kMaxIndexFileBytes = std::numeric_limits<std::int32_t>::max();

// A device file through a raw handle: exact reads and writes, 64-bit seeks,
// flush to disk.
class BankFile {
 public:
  BankFile() = default;
  ~BankFile() { Close(); }
  BankFile(const BankFile&) = delete;
  BankFile& operator=(const BankFile&) = delete;

  bool Open(const std::u16string& path, plat::DWORD access, plat::DWORD disposition) {
    Close();
    handle_ = plat::CreateFileW(path.c_str(), access, kBankFileSharing, nullptr, disposition,
                                plat::FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ != plat::INVALID_HANDLE_VALUE;
  }
  void Close() {
    if (handle_ != plat::INVALID_HANDLE_VALUE) plat::CloseHandle(handle_);
    handle_ = plat::INVALID_HANDLE_VALUE;
  }
  std::int64_t Size() const {
    plat::DWORD high = 0;
    plat::SetLastError(plat::ERROR_SUCCESS);
    const plat::DWORD low = plat::GetFileSize(handle_, &high);
    if (low == plat::INVALID_FILE_SIZE && plat::GetLastError() != plat::ERROR_SUCCESS) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  }
  bool Seek(std::int64_t position, plat::DWORD method) {
    plat::LONG high = static_cast<plat::LONG>(position >> 32);
    plat::SetLastError(plat::ERROR_SUCCESS);
    const plat::DWORD low =
        plat::SetFilePointer(handle_, static_cast<plat::LONG>(position & 0xFFFFFFFF), &high, method);
    return !(low == plat::INVALID_SET_FILE_POINTER && plat::GetLastError() != plat::ERROR_SUCCESS);
  }
  bool ReadExact(void* buffer, std::size_t size) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
      const plat::DWORD chunk = static_cast<plat::DWORD>(std::min<std::size_t>(size, 1u << 30));
      plat::DWORD read = 0;
      if (!plat::ReadFile(handle_, out, chunk, &read, nullptr) || read == 0) return false;
      out += read;
      size -= read;
    }
    return true;
  }
  bool WriteAll(const void* data, std::size_t size) {
    const auto* in = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const plat::DWORD chunk = static_cast<plat::DWORD>(std::min<std::size_t>(size, 1u << 30));
      plat::DWORD written = 0;
      if (!plat::WriteFile(handle_, in, chunk, &written, nullptr) || written == 0) return false;
      in += written;
      size -= written;
    }
    return true;
  }
  bool Flush() { return plat::FlushFileBuffers(handle_) != 0; }

 private:
  plat::HANDLE handle_ = plat::INVALID_HANDLE_VALUE;
};

bool Exists(const std::u16string& path) { return plat::GetFileAttributesW(path.c_str()) != plat::INVALID_FILE_ATTRIBUTES; }

bool RemoveFile(const std::u16string& path) { return !Exists(path) || plat::DeleteFileW(path.c_str()); }

bool ReplaceWith(const std::u16string& from, const std::u16string& to) {
  return plat::MoveFileExW(from.c_str(), to.c_str(), plat::MOVEFILE_REPLACE_EXISTING) != 0;
}

// Writes a side file, flushes it to the disk and closes it.
bool WriteSideFile(const std::u16string& path, const std::uint8_t* data, std::size_t size) {
  BankFile file;
  if (!file.Open(path, plat::GENERIC_WRITE, plat::CREATE_ALWAYS)) return false;
  const bool ok = file.WriteAll(data, size) && file.Flush();
  file.Close();
  if (!ok) RemoveFile(path);
  return ok;
}

struct RawEntry {
  std::u16string key;
  std::int32_t offset;
  std::uint32_t size;
};

// The entries of an index file as stored. clean is false when the magic is
// wrong or the file ends before its count of entries.
std::vector<RawEntry> ParseIndex(const std::vector<std::uint8_t>& bytes, bool& clean) {
  std::vector<RawEntry> entries;
  clean = true;
  CBufferReader reader(bytes.data(), bytes.size());
  std::int32_t magic = 0;
  std::int32_t count = 0;
  if (!ReadInt32(reader, magic) || !ReadInt32(reader, count) || magic != kBankIndexMagic) {
    clean = false;
    return entries;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    RawEntry entry;
    if (!ReadDigest(reader, entry.key) || !ReadInt32(reader, entry.offset) || !ReadInt32(reader, entry.size)) {
      clean = false;
      break;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

// True when the entries lie back to back from offset 0 and end exactly at
// fileSize: the index a compaction writes for its compacted file.
bool TilesFile(std::vector<RawEntry> entries, std::uint64_t fileSize) {
  std::sort(entries.begin(), entries.end(), [](const RawEntry& a, const RawEntry& b) { return a.offset < b.offset; });
  std::uint64_t next = 0;
  for (const RawEntry& e : entries) {
    if (e.offset < 0 || static_cast<std::uint64_t>(e.offset) != next) return false;
    next += e.size;
  }
  return next == fileSize;
}

}  // namespace

void CDataBankFile::SetFaultPoint(FaultPoint hook) { g_faultPoint = hook; }

std::u16string CDataBankFile::NormalizeKey(const std::u16string& key) {
  std::uint8_t bytes[kDigestBytes];
  if (key.size() != kDigestChars || !DigestTextToBytes(key, bytes)) return std::u16string();
  return DigestBytesToText(bytes);
}

CDataBankFile::CDataBankFile(const std::u16string& folder, const std::u16string& mutexName,
                             plat::DWORD lockTimeoutMs)
    : mutexName_(mutexName),
      dataPath_(CombinePath(folder, u"data.bin")),
      indexPath_(CombinePath(folder, u"dataidx.bin")),
      indexSidePath_(CombinePath(folder, u"dataidx.bak")),
      compactedPath_(CombinePath(folder, u"datacomp.bak")),
      lockTimeoutMs_(lockTimeoutMs) {}

CDataBankFile::~CDataBankFile() {
  Save();
  Clear();
  if (mutex_ != nullptr) plat::CloseHandle(mutex_);
}

plat::HANDLE CDataBankFile::Mutex() {
  if (mutex_ == nullptr) mutex_ = plat::CreateMutexW(nullptr, plat::FALSE, mutexName_.c_str());
  return mutex_;
}

CDataBankFile::Stamp CDataBankFile::CurrentStamp() const {
  Stamp stamp;
  plat::WIN32_FIND_DATAW data{};
  plat::HANDLE find = plat::FindFirstFileW(indexPath_.c_str(), &data);
  if (find != plat::INVALID_HANDLE_VALUE) {
    stamp.indexExists = true;
    stamp.indexSize = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.indexTime = plat::FileTimeToULL(data.ftLastWriteTime);
    plat::FindClose(find);
  }
  find = plat::FindFirstFileW(dataPath_.c_str(), &data);
  if (find != plat::INVALID_HANDLE_VALUE) {
    stamp.dataExists = true;
    stamp.dataSize = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    plat::FindClose(find);
  }
  return stamp;
}

void CDataBankFile::Recover() {
  const bool compacted = Exists(compactedPath_);
  const bool side = Exists(indexSidePath_);
  if (compacted && side) {
    // A compaction stopped before its index went into place: the old files
    // still match each other.
    RemoveFile(compactedPath_);
    RemoveFile(indexSidePath_);
  } else if (compacted) {
    // Either the compaction's index is in place and only the data file was
    // left to move, or the compacted file is a leftover the index does not
    // describe.
    std::vector<std::uint8_t> bytes;
    bool clean = false;
    std::vector<RawEntry> entries;
    if (ReadWholeFile(indexPath_, bytes, kMaxIndexFileBytes, kBankFileSharing)) entries = ParseIndex(bytes, clean);
    BankFile file;
    std::int64_t size = -1;
    if (file.Open(compactedPath_, 0, plat::OPEN_EXISTING)) size = file.Size();
    file.Close();
    if (clean && size >= 0 && TilesFile(entries, static_cast<std::uint64_t>(size))) {
      ReplaceWith(compactedPath_, dataPath_);
    } else {
      RemoveFile(compactedPath_);
    }
  } else if (side) {
    // An index write that never went into place.
    RemoveFile(indexSidePath_);
  }
}

bool CDataBankFile::SetAside() {
  // As the headers are: a copy of both files beside them, taken before
  // anything writes over them, for whoever can still recover the records.
  bool ok = true;
  if (Exists(indexPath_)) ok = CopyFileReplacing(indexPath_, indexPath_ + kDamagedBankSuffix);
  if (ok && Exists(dataPath_)) ok = CopyFileReplacing(dataPath_, dataPath_ + kDamagedBankSuffix);
  return ok;
}

bool CDataBankFile::Sync() {
  Recover();
  const Stamp stamp = CurrentStamp();
  if (loaded_ && stamp == stamp_) return true;

  Index disk;
  bool damaged = false;
  std::vector<std::uint8_t> bytes;
  if (stamp.indexExists && ReadWholeFile(indexPath_, bytes, kMaxIndexFileBytes, kBankFileSharing)) {
    bool clean = true;
    std::vector<RawEntry> raw = ParseIndex(bytes, clean);
    damaged = !clean;
    // A later duplicate key replaces the earlier entry.
    std::unordered_map<std::u16string, std::size_t> last;
    for (std::size_t i = 0; i < raw.size(); ++i) last[raw[i].key] = i;
    std::vector<const RawEntry*> kept;
    const std::uint64_t dataSize = stamp.dataExists ? stamp.dataSize : 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      const RawEntry& e = raw[i];
      if (last[e.key] != i) continue;
      if (e.size == 0) continue;  // holds nothing
      if (e.offset < 0 || static_cast<std::uint64_t>(e.offset) + e.size > dataSize) {
        damaged = true;
        continue;
      }
      kept.push_back(&e);
    }
    // Entries that overlap another are both left out.
    std::sort(kept.begin(), kept.end(), [](const RawEntry* a, const RawEntry* b) { return a->offset < b->offset; });
    std::vector<bool> bad(kept.size(), false);
    std::size_t furthest = 0;  // the kept entry reaching furthest so far
    for (std::size_t i = 1; i < kept.size(); ++i) {
      const std::uint64_t end = static_cast<std::uint64_t>(kept[furthest]->offset) + kept[furthest]->size;
      if (static_cast<std::uint64_t>(kept[i]->offset) < end) {
        bad[i] = true;
        bad[furthest] = true;
        damaged = true;
      }
      const std::uint64_t thisEnd = static_cast<std::uint64_t>(kept[i]->offset) + kept[i]->size;
      if (thisEnd > end) furthest = i;
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
      if (bad[i]) continue;
      auto entry = std::make_unique<CBankIndexEntry>();
      entry->offset = kept[i]->offset;
      entry->size = kept[i]->size;
      disk[kept[i]->key] = std::move(entry);
    }
  } else if (stamp.indexExists) {
    // There but unreadable: not an empty bank. Nothing is loaded, and
    // nothing may write over it.
    damaged_ = true;
    keptDamage_ = true;
    return false;
  }
  if (damaged) {
    // The records the index no longer names are still in "data.bin": the
    // bank is never compacted (nor its files deleted) while this object
    // lives, and both files are set aside first. Without that copy nothing
    // is written.
    keptDamage_ = true;
    if (!SetAside()) {
      damaged_ = true;
      return false;
    }
  }

  // This object's unsaved changes stand over what is on disk.
  for (const std::u16string& key : changes_) {
    auto mine = index_.find(key);
    if (mine != index_.end()) {
      disk[key] = std::move(mine->second);
    } else {
      disk.erase(key);
    }
  }
  index_ = std::move(disk);
  damaged_ = damaged;
  loaded_ = true;
  stamp_ = stamp;
  return true;
}

bool CDataBankFile::Get(const std::u16string& rawKey, std::vector<std::uint8_t>& data) {
  bool found = false;
  return Read(rawKey, data, found) && found;
}

bool CDataBankFile::Read(const std::u16string& rawKey, std::vector<std::uint8_t>& data, bool& found) {
  data.clear();
  found = false;
  const std::u16string key = NormalizeKey(rawKey);
  if (key.empty()) return true;  // no record can have it
  if (changes_.count(key) != 0) {
    auto it = index_.find(key);
    if (it == index_.end()) return true;  // removed, not saved yet
    data = it->second->pending;
    found = true;
    return true;
  }
  CMutexLock lock(Mutex(), lockTimeoutMs_);
  if (!lock.IsLocked() || !Sync()) return false;
  auto it = index_.find(key);
  if (it == index_.end()) return true;
  const CBankIndexEntry& entry = *it->second;
  if (entry.offset < 0) {
    data = entry.pending;
    found = true;
    return true;
  }
  BankFile file;
  if (!file.Open(dataPath_, plat::GENERIC_READ, plat::OPEN_EXISTING)) return false;
  data.resize(entry.size);
  if (!file.Seek(entry.offset, plat::FILE_BEGIN) || !file.ReadExact(data.data(), data.size())) {
    data.clear();
    return false;
  }
  found = true;
  return true;
}

bool CDataBankFile::FindMissing(const std::vector<std::u16string>& keys, std::vector<std::u16string>& missing) {
  missing.clear();
  CMutexLock lock(Mutex(), lockTimeoutMs_);
  if (!lock.IsLocked() || !Sync()) return false;
  for (const std::u16string& rawKey : keys) {
    const std::u16string key = NormalizeKey(rawKey);
    if (key.empty() || index_.find(key) == index_.end()) missing.push_back(rawKey);
  }
  return true;
}

bool CDataBankFile::Put(const std::u16string& rawKey, std::vector<std::uint8_t> data) {
  const std::u16string key = NormalizeKey(rawKey);
  if (key.empty()) return false;
  auto it = index_.find(key);
  if (it != index_.end()) {
    if (it->second->offset < 0) pendingBytes_ -= it->second->pending.size();
    index_.erase(it);
  }
  if (!data.empty()) {
    auto entry = std::make_unique<CBankIndexEntry>();
    entry->size = static_cast<std::uint32_t>(data.size());
    entry->pending = std::move(data);
    pendingBytes_ += entry->size;
    index_[key] = std::move(entry);
  }
  changes_.insert(key);
  if (pendingBytes_ > kBankMaxPendingBytes) Save();
  return true;
}

bool CDataBankFile::Save() {
  if (changes_.empty()) return true;
  CMutexLock lock(Mutex(), lockTimeoutMs_);
  if (!lock.IsLocked() || !Sync()) return false;
  if (!Commit()) return false;
  if (ShouldCompact()) CompactLocked();
  return true;
}

bool CDataBankFile::AppendPending(Written& written, bool flush) {
  written.clear();
  bool anyPending = false;
  for (const auto& [key, entry] : index_) {
    if (entry->offset < 0) anyPending = true;
  }
  if (!anyPending) return true;
  BankFile data;
  if (!data.Open(dataPath_, plat::GENERIC_WRITE, plat::OPEN_ALWAYS)) return false;
  std::int64_t position = data.Size();
  if (position < 0 || !data.Seek(0, plat::FILE_END)) return false;
  for (const auto& [key, entry] : index_) {
    if (entry->offset >= 0) continue;
    if (position + static_cast<std::int64_t>(entry->size) > std::numeric_limits<std::int32_t>::max()) return false;
    if (!data.WriteAll(entry->pending.data(), entry->pending.size())) return false;
    written.emplace_back(entry.get(), static_cast<std::int32_t>(position));
    position += entry->size;
  }
  return !flush || data.Flush();
}

bool CDataBankFile::BuildIndex(const Written& written, CBufferWriter& index) const {
  std::unordered_map<const CBankIndexEntry*, std::int32_t> newOffsets;
  for (const auto& [entry, offset] : written) newOffsets[entry] = offset;
  bool ok = WriteInt32(index, kBankIndexMagic) && WriteInt32(index, static_cast<std::int32_t>(index_.size()));
  for (const auto& [key, entry] : index_) {
    if (!ok) break;
    auto found = newOffsets.find(entry.get());
    const std::int32_t offset = found != newOffsets.end() ? found->second : entry->offset;
    ok = WriteDigest(index, key) && WriteInt32(index, offset) && WriteInt32(index, entry->size);
  }
  return ok;
}

void CDataBankFile::ApplySaved(const Written& written) {
  for (const auto& [entry, offset] : written) {
    entry->offset = offset;
    std::vector<std::uint8_t>().swap(entry->pending);
  }
  changes_.clear();
  pendingBytes_ = 0;
  stamp_ = CurrentStamp();
}

bool CDataBankFile::Commit() {
  // Append the pending records; they stay in memory until the index that
  // names them is in place.
  Written written;
  if (!AppendPending(written, true)) return false;
  Step("save.data-written");
  CBufferWriter index;
  if (!BuildIndex(written, index) || !WriteSideFile(indexSidePath_, index.GetData(), index.GetSize())) return false;
  Step("save.index-written");
  if (!ReplaceWith(indexSidePath_, indexPath_)) {
    RemoveFile(indexSidePath_);
    return false;
  }
  Step("save.index-replaced");
  ApplySaved(written);
  return true;
}

bool CDataBankFile::PrepareSave(plat::FileReplaceBatch& batch) {
  prepared_.clear();
  preparing_ = false;
  if (changes_.empty()) return true;
  CMutexLock lock(Mutex(), lockTimeoutMs_);
  if (!lock.IsLocked() || !Sync()) return false;
  CBufferWriter index;
  if (!AppendPending(prepared_, false)) return false;
  if (!prepared_.empty() && !batch.AddFlush(dataPath_)) return false;
  if (!BuildIndex(prepared_, index) || !batch.Add(indexPath_, index.GetData(), index.GetSize())) return false;
  preparing_ = true;
  return true;
}

void CDataBankFile::FinishSave(bool committed) {
  if (!preparing_) return;
  preparing_ = false;
  if (committed) {
    ApplySaved(prepared_);
    if (ShouldCompact()) Compact();
  }
  prepared_.clear();
}

bool CDataBankFile::ShouldCompact() const {
  if (!stamp_.dataExists || keptDamage_) return false;
  std::uint64_t live = 0;
  for (const auto& [key, entry] : index_) live += entry->size;
  return static_cast<double>(stamp_.dataSize) > 1.5 * static_cast<double>(live);
}

bool CDataBankFile::Compact() {
  if (!changes_.empty()) return false;
  CMutexLock lock(Mutex(), lockTimeoutMs_);
  if (!lock.IsLocked() || !Sync()) return false;
  if (!changes_.empty()) return false;
  return CompactLocked();
}

bool CDataBankFile::CompactLocked() {
  // Over an index found damaged, "data.bin" holds records no entry names.
  if (keptDamage_) return false;
  if (index_.empty()) {
    // The index goes first: an index without its data file would be wrong,
    // a data file without an index is only garbage.
    const bool ok = RemoveFile(indexPath_) && RemoveFile(dataPath_);
    stamp_ = CurrentStamp();
    return ok;
  }

  CBlocksHeap heap;
  std::unordered_map<const CBankIndexEntry*, const std::u16string*> keys;
  std::uint32_t largest = 0;
  for (const auto& [key, entry] : index_) {
    heap.Push(entry.get());
    keys[entry.get()] = &key;
    largest = std::max(largest, entry->size);
  }
  std::vector<CBankIndexEntry*> order;
  while (!heap.IsEmpty()) order.push_back(heap.Pop(0));

  // The new index first, with the offsets the records will have.
  std::vector<std::int32_t> newOffsets;
  CBufferWriter index;
  bool ok = WriteInt32(index, kBankIndexMagic) && WriteInt32(index, static_cast<std::int32_t>(order.size()));
  std::int64_t position = 0;
  for (CBankIndexEntry* entry : order) {
    if (!ok) break;
    newOffsets.push_back(static_cast<std::int32_t>(position));
    ok = WriteDigest(index, *keys[entry]) && WriteInt32(index, static_cast<std::int32_t>(position)) &&
         WriteInt32(index, entry->size);
    position += entry->size;
  }
  if (!ok || !WriteSideFile(indexSidePath_, index.GetData(), index.GetSize())) return false;
  Step("compact.index-written");

  {
    BankFile source;
    BankFile target;
    std::vector<std::uint8_t> buffer(largest);
    ok = source.Open(dataPath_, plat::GENERIC_READ, plat::OPEN_EXISTING) &&
         target.Open(compactedPath_, plat::GENERIC_WRITE, plat::CREATE_ALWAYS);
    for (std::size_t i = 0; ok && i < order.size(); ++i) {
      ok = source.Seek(order[i]->offset, plat::FILE_BEGIN) && source.ReadExact(buffer.data(), order[i]->size) &&
           target.WriteAll(buffer.data(), order[i]->size);
    }
    ok = ok && target.Flush();
  }
  if (!ok) {
    RemoveFile(compactedPath_);
    RemoveFile(indexSidePath_);
    Clear();
    return false;
  }
  Step("compact.data-written");

  if (!ReplaceWith(indexSidePath_, indexPath_)) {
    RemoveFile(compactedPath_);
    RemoveFile(indexSidePath_);
    return false;
  }
  Step("compact.index-replaced");
  if (!ReplaceWith(compactedPath_, dataPath_)) {
    // The index now describes the compacted file; the next look at the files
    // moves it into place.
    loaded_ = false;
    return false;
  }
  Step("compact.data-replaced");

  for (std::size_t i = 0; i < order.size(); ++i) order[i]->offset = newOffsets[i];
  stamp_ = CurrentStamp();
  return true;
}

void CDataBankFile::Clear() {
  index_.clear();
  changes_.clear();
  pendingBytes_ = 0;
  loaded_ = false;
}

// ---- Article properties ---------------------------------------------------

namespace {

struct CompressionSetting {
  std::mutex mutex;
  bool read = false;
  unsigned generation = 0;
  plat::DWORD lastTick = 0;
  int on = 1;
};

CompressionSetting& Compression() {
  static CompressionSetting setting;
  return setting;
}

constexpr plat::DWORD kCompressionRefreshMs = 10000;

void PutUInt32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetUInt32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

CArticlesPropertiesFile::CArticlesPropertiesFile(const std::u16string& folder, const std::u16string& mutexName,
                                                 plat::DWORD lockTimeoutMs)
    : CDataBankFile(folder, mutexName, lockTimeoutMs) {}

CArticlesPropertiesFile::~CArticlesPropertiesFile() = default;

int CArticlesPropertiesFile::IsCompressionOn() {
  CompressionSetting& setting = Compression();
  std::lock_guard<std::mutex> guard(setting.mutex);
  const plat::DWORD now = plat::GetTickCount();
  const unsigned generation = plat::DeviceGeneration();
  if (!setting.read || setting.generation != generation || now - setting.lastTick > kCompressionRefreshMs) {
    if (setting.generation != generation) setting.on = 1;
    setting.on = OpenSettingsKey().GetDWORD(u"CompressData", static_cast<std::uint32_t>(setting.on)) != 0 ? 1 : 0;
    setting.read = true;
    setting.generation = generation;
    setting.lastTick = now;
  }
  compress_ = setting.on;
  return compress_;
}

bool CArticlesPropertiesFile::CompressRecord(const std::uint8_t* source, std::size_t length, std::uint8_t* dest,
                                             std::size_t* destLength) {
  // The zlib format through libdeflate (faster than zlib for whole buffers),
  // at zlib's default level: records keep their size. One compressor per
  // thread, kept.
  struct Compressor {
    libdeflate_compressor* handle = libdeflate_alloc_compressor(kBankCompressionLevel);
    ~Compressor() {
      if (handle) libdeflate_free_compressor(handle);
    }
  };
  thread_local Compressor compressor;
  if (compressor.handle == nullptr) return false;
  const std::size_t out = libdeflate_zlib_compress(compressor.handle, source, length, dest, *destLength);
  if (out == 0) return false;  // did not fit: stored uncompressed
  *destLength = out;
  return true;
}

namespace {

// Inflates a zlib stream into exactly plain.size() bytes or fewer (plainLength).
bool Inflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& plain, std::size_t& plainLength) {
  struct Decompressor {
    libdeflate_decompressor* handle = libdeflate_alloc_decompressor();
    ~Decompressor() {
      if (handle) libdeflate_free_decompressor(handle);
    }
  };
  thread_local Decompressor decompressor;
  if (decompressor.handle != nullptr) {
    std::size_t in = 0;
    if (libdeflate_zlib_decompress_ex(decompressor.handle, data, size, plain.data(), plain.size(), &in,
                                      &plainLength) == LIBDEFLATE_SUCCESS) {
      return true;
    }
  }
  // What libdeflate does not take, zlib may still read (records of any writer).
  uLongf length = static_cast<uLongf>(plain.size());
  if (::uncompress(plain.data(), &length, data, static_cast<uLong>(size)) != Z_OK) return false;
  plainLength = length;
  return true;
}

}  // namespace

bool CArticlesPropertiesFile::PutProperties(const std::u16string& key, const CStringToStringMap& map) {
  if (NormalizeKey(key).empty()) return false;
  if (map.empty()) return Put(key, {});

  CBufferWriter writer;
  if (!WriteStringMap(writer, map)) return false;
  const std::uint8_t* serialised = writer.GetData();
  const std::size_t n = writer.GetSize();

  std::vector<std::uint8_t> record;
  // A map longer than a reader accepts compressed is kept uncompressed.
  if (IsCompressionOn() && n <= kMaxUncompressedRecord) {
    std::size_t bound = BankCompressBound(n);
    record.resize(4 + bound);
    PutUInt32(record.data(), static_cast<std::uint32_t>(n));
    if (CompressRecord(serialised, n, record.data() + 4, &bound)) {
      record.resize(4 + bound);
    } else {
      record.clear();  // stored uncompressed below; the article keeps its record
    }
  }
  if (record.empty()) {
    record.resize(4 + n);
    PutUInt32(record.data(), 0);
    std::memcpy(record.data() + 4, serialised, n);
  }
  return Put(key, std::move(record));
}

bool CArticlesPropertiesFile::GetProperties(const std::u16string& key, CStringToStringMap& map) {
  map.clear();
  std::vector<std::uint8_t> record;
  bool found = false;
  // A record that could not be read (the mutex busy, the file unreadable)
  // is no empty map: the caller must not store over it.
  if (!Read(key, record, found)) return false;
  if (!found) return true;
  if (record.size() < 4) return false;
  const std::uint32_t length = GetUInt32(record.data());
  if (length > kMaxUncompressedRecord) return false;
  bool ok = false;
  if (length != 0) {
    std::vector<std::uint8_t> plain(length);
    std::size_t plainLength = 0;
    if (!Inflate(record.data() + 4, record.size() - 4, plain, plainLength)) return false;
    CBufferReader reader(plain.data(), plainLength);
    ok = ReadStringMap(reader, map);
  } else {
    CBufferReader reader(record.data() + 4, record.size() - 4);
    ok = ReadStringMap(reader, map);
  }
  return ok;
}
