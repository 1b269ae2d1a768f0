// Fuzzes the loading of a channel's data bank ("dataidx.bin" and "data.bin"):
// the first two bytes give the length of the index file, the rest is the
// data file. Whatever the files hold, each key of the index reads exactly
// the record a plain reading of the two files gives (the last entry of a key
// wins; entries that hold nothing, reach past the data or overlap another are
// left out), and the records stay the same through a compaction and through
// a save of one more record. An index found damaged is copied aside whole
// before anything writes, and never compacted over.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "database/DataBank.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using orvfuzz::Check;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::u16string HexKey(const std::uint8_t* p) {
  static const char digits[] = "0123456789abcdef";
  std::u16string key;
  for (int i = 0; i < 16; ++i) {
    key += static_cast<char16_t>(digits[p[i] >> 4]);
    key += static_cast<char16_t>(digits[p[i] & 15]);
  }
  return key;
}

using Records = std::map<std::u16string, std::vector<std::uint8_t>>;

struct Entry {
  std::u16string key;
  std::int64_t offset;
  std::uint64_t size;
};

// Every key named in the index, and the records the files hold.
Records Expected(const std::uint8_t* index, std::size_t indexSize, const std::uint8_t* data, std::size_t dataSize,
                 std::vector<std::u16string>& keys) {
  std::vector<Entry> entries;
  if (indexSize >= 8 && static_cast<std::int32_t>(Le32(index)) == kBankIndexMagic) {
    const std::int32_t count = static_cast<std::int32_t>(Le32(index + 4));
    for (std::int32_t i = 0; i < count && 8 + (static_cast<std::size_t>(i) + 1) * kBankIndexEntryBytes <= indexSize; ++i) {
      const std::uint8_t* e = index + 8 + static_cast<std::size_t>(i) * kBankIndexEntryBytes;
      entries.push_back({HexKey(e), static_cast<std::int32_t>(Le32(e + 16)), Le32(e + 20)});
    }
  }
  std::map<std::u16string, Entry> last;
  for (const Entry& e : entries) {
    keys.push_back(e.key);
    last.insert_or_assign(e.key, e);
  }
  std::vector<Entry> kept;
  for (const auto& [key, e] : last) {
    if (e.size != 0 && e.offset >= 0 && static_cast<std::uint64_t>(e.offset) + e.size <= dataSize) kept.push_back(e);
  }
  Records records;
  for (const Entry& e : kept) {
    bool overlaps = false;
    for (const Entry& other : kept) {
      if (&other != &e && e.offset < other.offset + static_cast<std::int64_t>(other.size) &&
          other.offset < e.offset + static_cast<std::int64_t>(e.size)) {
        overlaps = true;
      }
    }
    if (!overlaps) records[e.key].assign(data + e.offset, data + e.offset + e.size);
  }
  return records;
}

void CheckRecords(CDataBankFile& bank, const std::vector<std::u16string>& keys, const Records& expected,
                  const char* when) {
  for (const std::u16string& key : keys) {
    std::vector<std::uint8_t> record;
    const bool found = bank.Get(key, record);
    const auto it = expected.find(key);
    if (found != (it != expected.end()) || (found && record != it->second)) {
      std::fprintf(stderr, "%s: key %s %s\n", when, std::string(key.begin(), key.end()).c_str(),
                   found ? "reads another record" : "reads nothing");
      std::abort();
    }
  }
}

std::vector<std::uint8_t> HostFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string fs = orvfuzz::UseTempDevice();
  if (size < 2) return 0;
  const std::size_t indexSize = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
  const std::uint8_t* index = data + 2;
  const std::uint8_t* bytes = index + indexSize;
  const std::size_t dataSize = size - 2 - indexSize;

  const std::u16string folder = u"\\Bank";
  DeleteFolderTree(folder);
  Check(CreateFolderTree(folder), "no folder for the bank");
  orvfuzz::WriteHostFile(fs + "/Bank/dataidx.bin", index, indexSize);
  orvfuzz::WriteHostFile(fs + "/Bank/data.bin", bytes, dataSize);

  std::vector<std::u16string> keys;
  Records expected = Expected(index, indexSize, bytes, dataSize, keys);
  {
    CDataBankFile bank(folder, u"CL.fuzz");
    CheckRecords(bank, keys, expected, "as loaded");
    Check(bank.GetEntryCount() == expected.size(), "another number of entries than the files hold");
    // The compaction reads the index afresh, so it knows whether it is damaged.
    const bool compacted = bank.Compact();
    if (bank.WasIndexDamaged()) {
      Check(!compacted, "compacted over a damaged index");
      Check(HostFileBytes(fs + "/Bank/dataidx.bin.damaged") == std::vector<std::uint8_t>(index, index + indexSize),
            "the damaged index was not set aside whole");
      Check(HostFileBytes(fs + "/Bank/data.bin.damaged") == std::vector<std::uint8_t>(bytes, bytes + dataSize),
            "the data file of a damaged index was not set aside whole");
    } else {
      Check(compacted, "a compaction failed");
    }
    bank.Clear();
    CheckRecords(bank, keys, expected, "after a compaction");

    const std::u16string added = u"0123456789abcdef0123456789abcdef";
    const std::vector<std::uint8_t> record(data, data + std::min<std::size_t>(size, 40));
    Check(bank.Put(added, record), "a record was not put");
    Check(bank.Save(), "a save failed");
    expected[added] = record;
    keys.push_back(added);
  }
  CDataBankFile reopened(folder, u"CL.fuzz");
  CheckRecords(reopened, keys, expected, "after a save");
  Check(!reopened.WasIndexDamaged(), "the saved index reads as damaged");
  return 0;
}
