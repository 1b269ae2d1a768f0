// The data bank: a per-channel store of byte records addressed by 16-byte
// keys, kept in the channel's folder as "data.bin" (records appended back to
// back) and "dataidx.bin" (where each record lies). CArticlesPropertiesFile
// keeps one article's property map per record, optionally zlib-compressed.
//
// Every access to the files holds the channel's named mutex ("CL." + channel
// name). The index on disk is the truth shared by every process of the
// device: each time the mutex is taken the bank checks whether another
// process changed the files since it last looked and, if so, reads the index
// again and lays its own unsaved changes over it. So two processes writing to
// one bank lose neither's records.
//
// Files are replaced so that a process killed at any instant leaves an index
// that matches the data file it points into: the index is written to
// "dataidx.bak", flushed and renamed over "dataidx.bin"; compaction writes the
// new index to "dataidx.bak" and the compacted records to "datacomp.bak",
// renames the index into place and then the data. A compaction found
// interrupted is finished or undone the next time the mutex is taken.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/StringMaps.h"
#include "core/Streams.h"
#include "database/Heap.h"
#include "platform/base/Handle.h"
#include "platform/base/Types.h"
#include "platform/files/Files.h"

// How long the bank waits for the channel mutex.
constexpr plat::DWORD kBankLockTimeoutMs = 5000;
// More pending bytes than this force a save.
constexpr std::size_t kBankMaxPendingBytes = 0x80000;
// "OBI1" read as a little-endian int32.
constexpr std::int32_t kBankIndexMagic = 0x3149424F;
// Bytes of one entry in "dataidx.bin": key, offset, size.
constexpr std::size_t kBankIndexEntryBytes = 24;
// Copies of a damaged index and its data file are kept under the names
// with this appended.
constexpr char16_t kDamagedBankSuffix[] = u".damaged";
// GetProperties refuses records claiming a longer uncompressed map.
constexpr std::uint32_t kMaxUncompressedRecord = 0xFFFFFF;

struct CBankIndexEntry {
  std::int32_t offset = -1;   // position in "data.bin"; -1 while held in memory only
  std::uint32_t size = 0;     // record length in bytes
  std::vector<std::uint8_t> pending;  // the record's bytes while offset is -1
};

// Index entries by file offset, lowest first.
class CBlocksHeap : public CHeap<CBankIndexEntry> {
 public:
  int Compare(const CBankIndexEntry* a, const CBankIndexEntry* b) const override {
    return a->offset < b->offset ? -1 : (a->offset > b->offset ? 1 : 0);
  }
};

class CDataBankFile {
 public:
  // Nothing is read until the first need.
  CDataBankFile(const std::u16string& folder, const std::u16string& mutexName,
                plat::DWORD lockTimeoutMs = kBankLockTimeoutMs);
  // Saves, then frees everything.
  virtual ~CDataBankFile();
  CDataBankFile(const CDataBankFile&) = delete;
  CDataBankFile& operator=(const CDataBankFile&) = delete;

  // A copy of the key's record. False when there is none, the key is not 32
  // hex digits, the mutex could not be had or the file could not be read.
  // A record put and not yet saved is read from memory.
  bool Get(const std::u16string& key, std::vector<std::uint8_t>& data);
  // As Get, telling a key without a record (true, found false) from a record
  // that could not be read (false).
  bool Read(const std::u16string& key, std::vector<std::uint8_t>& data, bool& found);
  // Replaces the key's record; empty data removes it. The record waits in
  // memory until Save (forced once more than 512 KB wait). False only for a
  // key that is not 32 hex digits.
  bool Put(const std::u16string& key, std::vector<std::uint8_t> data);
  // Appends the pending records to "data.bin" and replaces the index; then
  // compacts when "data.bin" is more than 1.5 times the live bytes. False
  // when the mutex could not be had or a write failed; the changes then stay
  // pending for the next Save.
  bool Save();
  // A save as part of a channel's batch: appends the pending records to
  // "data.bin" (flushed with the batch) and adds the new index to it. False
  // when the mutex could not be had or a write failed (the changes stay
  // pending). FinishSave tells whether the batch went in; only then are the
  // changes saved (and the bank compacted when it should be).
  bool PrepareSave(plat::FileReplaceBatch& batch);
  void FinishSave(bool committed);
  // Rewrites "data.bin" without the bytes no entry uses. False while changes
  // are pending, when the mutex could not be had or a step failed (the files
  // then stay as they were).
  bool Compact();
  // Collects into missing the keys of keys that have no record (stored or
  // pending). False, with nothing collected, when the mutex could not be had.
  bool FindMissing(const std::vector<std::u16string>& keys, std::vector<std::u16string>& missing);
  // Changes not yet saved.
  int IsDirty() const { return changes_.empty() ? 0 : 1; }
  // Drops the index and every pending change; the index is read again on
  // next use.
  void Clear();

  bool IsLoaded() const { return loaded_; }
  // The last index read held entries that point outside "data.bin", overlap
  // or were cut short; those were left out.
  bool WasIndexDamaged() const { return damaged_; }
  std::size_t GetEntryCount() const { return index_.size(); }
  std::size_t GetPendingBytes() const { return pendingBytes_; }
  const std::u16string& GetDataPath() const { return dataPath_; }
  const std::u16string& GetIndexPath() const { return indexPath_; }
  const std::u16string& GetIndexSidePath() const { return indexSidePath_; }
  const std::u16string& GetCompactedPath() const { return compactedPath_; }

  // Test hook: called at each step of a save and a compaction with the step's
  // name ("save.data-written", "save.index-written", "save.index-replaced",
  // "compact.index-written", "compact.data-written", "compact.index-replaced",
  // "compact.data-replaced"). Null turns it off.
  using FaultPoint = void (*)(const char* step);
  static void SetFaultPoint(FaultPoint hook);

  // The key as stored: 32 lower-case hex digits, or empty when it is not one.
  static std::u16string NormalizeKey(const std::u16string& key);

 private:
  struct Stamp {
    bool indexExists = false;
    std::uint64_t indexSize = 0;
    std::uint64_t indexTime = 0;
    bool dataExists = false;
    std::uint64_t dataSize = 0;
    bool operator==(const Stamp&) const = default;
  };
  using Index = std::unordered_map<std::u16string, std::unique_ptr<CBankIndexEntry>>;

  plat::HANDLE Mutex();
  Stamp CurrentStamp() const;
  void Recover();
  // Reads the index again when the files changed. False when it is there
  // but could not be read, or was damaged and could not be set aside.
  bool Sync();
  bool SetAside();
  using Written = std::vector<std::pair<CBankIndexEntry*, std::int32_t>>;
  bool AppendPending(Written& written, bool flush);
  bool BuildIndex(const Written& written, CBufferWriter& index) const;
  void ApplySaved(const Written& written);
  bool Commit();
  bool CompactLocked();
  bool ShouldCompact() const;

  std::u16string mutexName_;
  std::u16string dataPath_;
  std::u16string indexPath_;
  std::u16string indexSidePath_;
  std::u16string compactedPath_;
  plat::DWORD lockTimeoutMs_;
  plat::HANDLE mutex_ = nullptr;

  Index index_;
  std::unordered_set<std::u16string> changes_;  // keys put or removed since the last save
  std::size_t pendingBytes_ = 0;
  bool loaded_ = false;
  bool damaged_ = false;
  // An index read damaged (or unreadable) since this object was made: no
  // compaction, no deleting.
  bool keptDamage_ = false;
  Stamp stamp_;
  Written prepared_;
  bool preparing_ = false;
};

class CArticlesPropertiesFile : public CDataBankFile {
 public:
  CArticlesPropertiesFile(const std::u16string& folder, const std::u16string& mutexName,
                          plat::DWORD lockTimeoutMs = kBankLockTimeoutMs);
  ~CArticlesPropertiesFile() override;

  // Stores the map as the key's record (an empty map removes it): a uint32
  // length of the serialised map and its zlib-compressed form, or 0 and the
  // map itself when compression is off or fails. False when the key is bad
  // or the map cannot be serialised (the old record then stays).
  bool PutProperties(const std::u16string& key, const CStringToStringMap& map);
  // Empties map, then fills it from the key's record. No record: true, empty.
  // False when the record could not be read (the mutex busy, the files
  // unreadable), for a record shorter than 4 bytes, one claiming more than
  // 0xFFFFFF bytes, or one that does not decode.
  bool GetProperties(const std::u16string& key, CStringToStringMap& map);
  // "CompressData" of the product key (default 1), read again once more than
  // 10,000 ms have passed since the last read by any bank of the process.
  int IsCompressionOn();

 protected:
  // zlib compress at the default level; dest holds *destLength bytes and
  // receives the compressed length. True on success.
  virtual bool CompressRecord(const std::uint8_t* source, std::size_t length, std::uint8_t* dest,
                              std::size_t* destLength);

 private:
  int compress_ = 1;
};

// Room for the compressed form of n bytes: n + (n >> 12) + (n >> 14) + 11.
// The level of record compression: zlib's default, which keeps records as
// small as before at a fraction of the time through libdeflate.
constexpr int kBankCompressionLevel = 6;
constexpr std::size_t BankCompressBound(std::size_t n) { return n + (n >> 12) + (n >> 14) + 11; }
