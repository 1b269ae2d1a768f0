#include <gtest/gtest.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/RecordEncoding.h"
#include "core/VORegistry.h"
#include "database/DataBank.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "platform/ipc/Ipc.h"
#include "tests/database/HeldMutex.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

namespace {

const std::u16string kFolder = u"\\Content\\News";
const std::u16string kMutex = u"CL.News";

std::u16string Key(int n) { return GetMd5Hex(u"article " + std::u16string(1, char16_t(u'A' + n % 26)) +
                                             std::u16string(n / 26 + 1, u'x')); }

std::vector<std::uint8_t> Bytes(int n, std::size_t size) {
  std::vector<std::uint8_t> v(size);
  for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>(n * 31 + i * 7);
  return v;
}

std::vector<std::uint8_t> ReadDevice(const std::u16string& path) {
  std::vector<std::uint8_t> out;
  plat::HANDLE h = plat::CreateFileW(path.c_str(), plat::GENERIC_READ, plat::FILE_SHARE_READ, nullptr,
                                     plat::OPEN_EXISTING, 0, nullptr);
  if (h == plat::INVALID_HANDLE_VALUE) return out;
  std::uint8_t buf[4096];
  plat::DWORD read = 0;
  while (plat::ReadFile(h, buf, sizeof(buf), &read, nullptr) && read > 0) out.insert(out.end(), buf, buf + read);
  plat::CloseHandle(h);
  return out;
}

void WriteDevice(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
  plat::HANDLE h = plat::CreateFileW(path.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, plat::INVALID_HANDLE_VALUE);
  plat::DWORD written = 0;
  if (!bytes.empty()) {
    ASSERT_TRUE(plat::WriteFile(h, bytes.data(), static_cast<plat::DWORD>(bytes.size()), &written, nullptr));
  }
  plat::CloseHandle(h);
}

std::uint64_t DeviceFileSize(const std::u16string& path) { return ReadDevice(path).size(); }

void AppendInt(std::vector<std::uint8_t>& out, std::int32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
}

void AppendEntry(std::vector<std::uint8_t>& out, const std::u16string& key, std::int32_t offset, std::uint32_t size) {
  std::uint8_t digest[16];
  ASSERT_TRUE(DigestTextToBytes(key, digest));
  out.insert(out.end(), digest, digest + 16);
  AppendInt(out, offset);
  AppendInt(out, static_cast<std::int32_t>(size));
}

class DataBankTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateFolderTree(kFolder));
    CDataBankFile::SetFaultPoint(nullptr);
  }
  void TearDown() override { CDataBankFile::SetFaultPoint(nullptr); }

  std::u16string Path(const char16_t* name) { return CombinePath(kFolder, name); }

  // Saves records 0..count-1 of the given size.
  void Store(int count, std::size_t size, int seed = 0) {
    CDataBankFile bank(kFolder, kMutex);
    for (int i = 0; i < count; ++i) ASSERT_TRUE(bank.Put(Key(i), Bytes(i + seed, size)));
    ASSERT_TRUE(bank.Save());
  }

  void ExpectRecords(int count, std::size_t size, int seed = 0) {
    CDataBankFile bank(kFolder, kMutex);
    for (int i = 0; i < count; ++i) {
      std::vector<std::uint8_t> data;
      ASSERT_TRUE(bank.Get(Key(i), data)) << i;
      EXPECT_EQ(data, Bytes(i + seed, size)) << i;
    }
    EXPECT_FALSE(bank.WasIndexDamaged());
  }
};

TEST_F(DataBankTest, StoresAndReadsBackAcrossObjects) {
  Store(20, 300);
  ExpectRecords(20, 300);
  CDataBankFile bank(kFolder, kMutex);
  std::vector<std::uint8_t> data;
  EXPECT_FALSE(bank.Get(Key(99), data));
  EXPECT_FALSE(bank.Get(u"not a key", data));
  EXPECT_FALSE(bank.Put(u"not a key", Bytes(1, 3)));
  // Keys are taken in either case.
  std::u16string upper = Key(3);
  for (auto& c : upper) c = static_cast<char16_t>(std::toupper(c));
  EXPECT_TRUE(bank.Get(upper, data));
}

TEST_F(DataBankTest, IndexFileLayout) {
  {
    CDataBankFile bank(kFolder, kMutex);
    ASSERT_TRUE(bank.Put(Key(1), Bytes(1, 10)));
    ASSERT_TRUE(bank.Save());
  }
  const std::vector<std::uint8_t> index = ReadDevice(Path(u"dataidx.bin"));
  std::vector<std::uint8_t> expected = {'O', 'B', 'I', '1', 1, 0, 0, 0};
  AppendEntry(expected, Key(1), 0, 10);
  EXPECT_EQ(index, expected);
  EXPECT_EQ(ReadDevice(Path(u"data.bin")), Bytes(1, 10));
  EXPECT_FALSE(FileExists(Path(u"dataidx.bak")));
}

TEST_F(DataBankTest, PutTwiceAndRemove) {
  CDataBankFile bank(kFolder, kMutex);
  ASSERT_TRUE(bank.Put(Key(1), Bytes(1, 100)));
  ASSERT_TRUE(bank.Put(Key(1), Bytes(2, 40)));
  EXPECT_EQ(bank.GetPendingBytes(), 40u);
  std::vector<std::uint8_t> data;
  // Pending records are read from memory, before "data.bin" exists.
  ASSERT_TRUE(bank.Get(Key(1), data));
  EXPECT_EQ(data, Bytes(2, 40));
  ASSERT_TRUE(bank.Save());
  EXPECT_EQ(DeviceFileSize(Path(u"data.bin")), 40u);
  ASSERT_TRUE(bank.Put(Key(1), {}));
  EXPECT_EQ(bank.IsDirty(), 1);
  EXPECT_FALSE(bank.Get(Key(1), data));
  ASSERT_TRUE(bank.Save());
  EXPECT_EQ(bank.IsDirty(), 0);
  CDataBankFile again(kFolder, kMutex);
  EXPECT_FALSE(again.Get(Key(1), data));
}

TEST_F(DataBankTest, ManyPendingBytesForceASave) {
  CDataBankFile bank(kFolder, kMutex);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(bank.Put(Key(i), Bytes(i, 100000)));
  EXPECT_FALSE(FileExists(Path(u"data.bin")));
  ASSERT_TRUE(bank.Put(Key(5), Bytes(5, 100000)));  // 600,000 > 524,288
  EXPECT_EQ(bank.GetPendingBytes(), 0u);
  EXPECT_EQ(DeviceFileSize(Path(u"data.bin")), 600000u);
}

TEST_F(DataBankTest, EmptyIndexesAreValid) {
  for (std::int32_t n : {0, -4}) {
    std::vector<std::uint8_t> index = {'O', 'B', 'I', '1'};
    AppendInt(index, n);
    WriteDevice(Path(u"dataidx.bin"), index);
    CDataBankFile bank(kFolder, kMutex);
    std::vector<std::uint8_t> data;
    EXPECT_FALSE(bank.Get(Key(0), data));
    EXPECT_TRUE(bank.IsLoaded());
    EXPECT_EQ(bank.GetEntryCount(), 0u);
    EXPECT_FALSE(bank.WasIndexDamaged());
  }
}

TEST_F(DataBankTest, DamagedIndexKeepsWhatIsSound) {
  WriteDevice(Path(u"data.bin"), Bytes(0, 100));
  struct Case {
    const char* what;
    std::int32_t offset;
    std::uint32_t size;
  };
  const Case cases[] = {
      {"past the end", 90, 20}, {"far past the end", 0x7FFFFF00, 16}, {"negative offset", -1, 10},
      {"overlapping", 15, 10},  {"covering", 0, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> index = {'O', 'B', 'I', '1'};
    AppendInt(index, 3);
    AppendEntry(index, Key(0), 0, 10);
    AppendEntry(index, Key(1), 10, 10);
    AppendEntry(index, Key(2), c.offset, c.size);
    WriteDevice(Path(u"dataidx.bin"), index);
    CDataBankFile bank(kFolder, kMutex);
    std::vector<std::uint8_t> data;
    EXPECT_FALSE(bank.Get(Key(2), data));
    EXPECT_TRUE(bank.WasIndexDamaged());
    const bool overlaps = c.offset >= 0 && c.offset < 20;
    // Entries overlapping the bad one are left out with it; the others stay.
    EXPECT_EQ(bank.Get(Key(0), data), !overlaps || c.offset >= 10);
    const std::vector<std::uint8_t> whole = Bytes(0, 100);
    if (!data.empty()) {
      EXPECT_EQ(data, std::vector<std::uint8_t>(whole.begin(), whole.begin() + 10));
    }
    EXPECT_EQ(bank.Get(Key(1), data), !overlaps || c.offset + static_cast<std::int64_t>(c.size) <= 10);
  }
}

TEST_F(DataBankTest, CutShortIndexKeepsTheWholeEntries) {
  WriteDevice(Path(u"data.bin"), Bytes(0, 100));
  std::vector<std::uint8_t> index = {'O', 'B', 'I', '1'};
  AppendInt(index, 1000);
  AppendEntry(index, Key(0), 0, 10);
  AppendEntry(index, Key(1), 10, 10);
  index.resize(index.size() - 5);
  WriteDevice(Path(u"dataidx.bin"), index);
  CDataBankFile bank(kFolder, kMutex);
  std::vector<std::uint8_t> data;
  EXPECT_TRUE(bank.Get(Key(0), data));
  EXPECT_FALSE(bank.Get(Key(1), data));
  EXPECT_TRUE(bank.WasIndexDamaged());
}

TEST_F(DataBankTest, BadMagicIsAnEmptyBank) {
  WriteDevice(Path(u"data.bin"), Bytes(0, 100));
  std::vector<std::uint8_t> index = {'O', 'B', 'I', '2', 1, 0, 0, 0};
  AppendEntry(index, Key(0), 0, 10);
  WriteDevice(Path(u"dataidx.bin"), index);
  CDataBankFile bank(kFolder, kMutex);
  std::vector<std::uint8_t> data;
  EXPECT_FALSE(bank.Get(Key(0), data));
  EXPECT_TRUE(bank.WasIndexDamaged());
}

// An index found damaged is no empty bank to compact: "data.bin" still holds
// the records it named. Both files are set aside before anything writes, and
// neither a save nor the removal of a record compacts or deletes them; an
// index that cannot be read at all is not written over.
TEST_F(DataBankTest, DamagedIndexIsSetAsideAndNeverCompactedAway) {
  struct Case {
    const char* what;
    void (*damage)(const std::u16string& index);
    bool readable;
  };
  const Case cases[] = {
      {"0 bytes", [](const std::u16string& index) { WriteDevice(index, {}); }, true},
      {"bad magic",
       [](const std::u16string& index) {
         std::vector<std::uint8_t> bytes = ReadDevice(index);
         bytes[3] = '9';
         WriteDevice(index, bytes);
       },
       true},
      {"cut short",
       [](const std::u16string& index) {
         std::vector<std::uint8_t> bytes = ReadDevice(index);
         bytes.resize(8 + 24 + 10);
         WriteDevice(index, bytes);
       },
       true},
      {"unreadable",
       [](const std::u16string& index) {
         ASSERT_TRUE(plat::DeleteFileW(index.c_str()));
         ASSERT_TRUE(CreateFolderTree(index));
       },
       false},
  };
  for (const Case& c : cases) {
    for (bool removeOne : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (removeOne ? ", a record removed" : ", a record put"));
      DeleteFolderTree(kFolder);
      ASSERT_TRUE(CreateFolderTree(kFolder));
      Store(5, 1000);
      const std::vector<std::uint8_t> data = ReadDevice(Path(u"data.bin"));
      ASSERT_EQ(data.size(), 5000u);
      c.damage(Path(u"dataidx.bin"));
      const std::vector<std::uint8_t> damagedIndex = ReadDevice(Path(u"dataidx.bin"));
      {
        CDataBankFile bank(kFolder, kMutex);
        if (removeOne) {
          ASSERT_TRUE(bank.Put(Key(0), {}));
        } else {
          ASSERT_TRUE(bank.Put(Key(9), Bytes(9, 10)));
        }
        EXPECT_EQ(bank.Save(), c.readable);
        EXPECT_EQ(bank.IsDirty(), c.readable ? 0 : 1);
        EXPECT_TRUE(bank.WasIndexDamaged());
      }
      // Every stored byte is still there, in place and set aside.
      const std::vector<std::uint8_t> after = ReadDevice(Path(u"data.bin"));
      ASSERT_GE(after.size(), data.size());
      EXPECT_TRUE(std::equal(data.begin(), data.end(), after.begin()));
      if (c.readable) {
        EXPECT_EQ(ReadDevice(Path(u"data.bin.damaged")), data);
        EXPECT_EQ(ReadDevice(Path(u"dataidx.bin.damaged")), damagedIndex);
        // The new index names what was put since and what it still could read.
        CDataBankFile again(kFolder, kMutex);
        std::vector<std::uint8_t> record;
        EXPECT_EQ(again.Get(Key(9), record), !removeOne);
        for (int i = 0; i < 5; ++i) {
          if (!again.Get(Key(i), record)) continue;
          EXPECT_FALSE(removeOne && i == 0) << "a removed record came back";
          EXPECT_EQ(record, Bytes(i, 1000)) << i;
        }
      } else {
        EXPECT_TRUE(DirectoryExists(Path(u"dataidx.bin")));
      }
    }
  }
}

// A record that cannot be read because the channel is busy is not "no
// record": GetProperties fails, so no caller takes it for an empty map.
TEST_F(DataBankTest, BusyMutexIsNoEmptyRecord) {
  {
    CArticlesPropertiesFile bank(kFolder, kMutex);
    ASSERT_TRUE(bank.PutProperties(Key(0), {{u"text", u"stored"}}));
    ASSERT_TRUE(bank.Save());
  }
  CArticlesPropertiesFile bank(kFolder, kMutex, 20);
  CStringToStringMap map{{u"left", u"over"}};
  {
    orvtest::HeldMutex busy(kMutex);
    ASSERT_TRUE(busy.Held());
    EXPECT_FALSE(bank.GetProperties(Key(0), map));
    EXPECT_TRUE(map.empty());
    // A key without any record needs no file: still an empty map.
    ASSERT_TRUE(bank.PutProperties(Key(1), {}));
    EXPECT_TRUE(bank.GetProperties(Key(1), map));
  }
  EXPECT_TRUE(bank.GetProperties(Key(0), map));
  EXPECT_EQ(map[u"text"], u"stored");
  EXPECT_TRUE(bank.GetProperties(Key(2), map));
  EXPECT_TRUE(map.empty());
}

TEST_F(DataBankTest, CompactsOnlyPastOneAndAHalfTimesTheLiveBytes) {
  struct Case {
    std::size_t firstSize;
    bool compacted;
  };
  // Records B (100) and A (first size, then 100): data = 200 + first, live = 200.
  const Case cases[] = {{100, false}, {101, true}};
  for (const Case& c : cases) {
    DeleteFileIfExists(Path(u"data.bin"));
    DeleteFileIfExists(Path(u"dataidx.bin"));
    CDataBankFile bank(kFolder, kMutex);
    ASSERT_TRUE(bank.Put(Key(1), Bytes(1, 100)));
    ASSERT_TRUE(bank.Put(Key(0), Bytes(9, c.firstSize)));
    ASSERT_TRUE(bank.Save());
    ASSERT_TRUE(bank.Put(Key(0), Bytes(0, 100)));
    ASSERT_TRUE(bank.Save());
    EXPECT_EQ(DeviceFileSize(Path(u"data.bin")), c.compacted ? 200u : 300u);
    EXPECT_FALSE(FileExists(Path(u"datacomp.bak")));
    ExpectRecords(2, 100);
  }
}

TEST_F(DataBankTest, CompactingAnEmptyBankDeletesItsFiles) {
  Store(3, 50);
  CDataBankFile bank(kFolder, kMutex);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(bank.Put(Key(i), {}));
  EXPECT_FALSE(bank.Compact());  // changes pending
  ASSERT_TRUE(bank.Save());      // nothing live is left: compacted away
  EXPECT_FALSE(FileExists(Path(u"data.bin")));
  EXPECT_FALSE(FileExists(Path(u"dataidx.bin")));
  EXPECT_TRUE(bank.Compact());
}

TEST_F(DataBankTest, StrayCompactedFileDoesNotStopCompaction) {
  Store(4, 100);
  WriteDevice(Path(u"datacomp.bak"), Bytes(7, 333));  // describes nothing
  {
    CDataBankFile bank(kFolder, kMutex);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(bank.Put(Key(i), Bytes(i + 1, 100)));
    ASSERT_TRUE(bank.Save());
  }
  EXPECT_FALSE(FileExists(Path(u"datacomp.bak")));
  EXPECT_EQ(DeviceFileSize(Path(u"data.bin")), 400u);
  ExpectRecords(4, 100, 1);
}

// A lock that times out is "not loaded": nothing stored is lost by a later save.
TEST_F(DataBankTest, LockTimeoutIsNotAnEmptyBank) {
  Store(5, 64);
  orvtest::ChildProcess holder([](orvtest::ChildContext& ctx) {
    plat::HANDLE m = plat::CreateMutexW(nullptr, plat::FALSE, kMutex.c_str());
    if (m == nullptr || plat::WaitForSingleObject(m, 5000) != plat::WAIT_OBJECT_0) return 2;
    ctx.Ready();
    if (!ctx.WaitFor("release")) return 3;
    plat::ReleaseMutex(m);
    plat::CloseHandle(m);
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  CDataBankFile bank(kFolder, kMutex, 50);
  std::vector<std::uint8_t> data;
  EXPECT_FALSE(bank.Get(Key(0), data));
  EXPECT_FALSE(bank.IsLoaded());
  ASSERT_TRUE(bank.Put(Key(7), Bytes(7, 64)));
  EXPECT_FALSE(bank.Save());
  EXPECT_EQ(bank.IsDirty(), 1);
  holder.Send("release");
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_TRUE(bank.Save());
  EXPECT_TRUE(bank.Get(Key(0), data));
  EXPECT_EQ(data, Bytes(0, 64));
  ExpectRecords(5, 64);
  CDataBankFile again(kFolder, kMutex);
  ASSERT_TRUE(again.Get(Key(7), data));
  EXPECT_EQ(data, Bytes(7, 64));
}

const char* g_killStep = nullptr;
void KillAtStep(const char* step) {
  if (g_killStep != nullptr && std::strcmp(step, g_killStep) == 0) std::raise(SIGKILL);
}

TEST_F(DataBankTest, SaveKilledAtEveryStepKeepsCommittedRecords) {
  const char* steps[] = {"save.data-written", "save.index-written", "save.index-replaced"};
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    DeleteFileIfExists(Path(u"data.bin"));
    DeleteFileIfExists(Path(u"dataidx.bin"));
    Store(6, 80);
    const int result = orvtest::RunInChild([step](orvtest::ChildContext&) {
      g_killStep = step;
      CDataBankFile::SetFaultPoint(KillAtStep);
      CDataBankFile bank(kFolder, kMutex);
      for (int i = 0; i < 3; ++i) bank.Put(Key(i), Bytes(i + 50, 80));  // replaced
      bank.Put(Key(10), Bytes(10, 80));                                  // new
      bank.Save();
      return 1;  // not reached
    });
    EXPECT_EQ(result, 128 + SIGKILL);
    const bool committed = std::strcmp(step, "save.index-replaced") == 0;
    CDataBankFile bank(kFolder, kMutex);
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 6; ++i) {
      ASSERT_TRUE(bank.Get(Key(i), data)) << i;
      EXPECT_EQ(data, Bytes(i < 3 && committed ? i + 50 : i, 80)) << i;
    }
    EXPECT_EQ(bank.Get(Key(10), data), committed);
    EXPECT_FALSE(bank.WasIndexDamaged());
    EXPECT_FALSE(FileExists(Path(u"dataidx.bak")));
  }
}

TEST_F(DataBankTest, CompactionKilledAtEveryStepKeepsEveryRecord) {
  const char* steps[] = {"compact.index-written", "compact.data-written", "compact.index-replaced",
                         "compact.data-replaced"};
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    DeleteFileIfExists(Path(u"data.bin"));
    DeleteFileIfExists(Path(u"dataidx.bin"));
    Store(6, 90);
    const int result = orvtest::RunInChild([step](orvtest::ChildContext&) {
      g_killStep = step;
      CDataBankFile::SetFaultPoint(KillAtStep);
      CDataBankFile bank(kFolder, kMutex);
      // Replacing four of six records leaves more garbage than live bytes,
      // so the save goes on to compact.
      for (int i = 0; i < 4; ++i) bank.Put(Key(i), Bytes(i + 20, 90));
      bank.Save();
      return 1;
    });
    EXPECT_EQ(result, 128 + SIGKILL);
    {
      CDataBankFile bank(kFolder, kMutex);
      std::vector<std::uint8_t> data;
      for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(bank.Get(Key(i), data)) << i;
        EXPECT_EQ(data, Bytes(i < 4 ? i + 20 : i, 90)) << i;
      }
      EXPECT_FALSE(bank.WasIndexDamaged());
      EXPECT_FALSE(FileExists(Path(u"datacomp.bak")));
      EXPECT_FALSE(FileExists(Path(u"dataidx.bak")));
      // Compaction still works afterwards.
      EXPECT_TRUE(bank.Compact());
    }
    EXPECT_EQ(DeviceFileSize(Path(u"data.bin")), 6u * 90u);
    ExpectRecords(4, 90, 20);
  }
}

TEST_F(DataBankTest, CompactionCutShortIsUndone) {
  Store(4, 50);
  {
    CDataBankFile bank(kFolder, kMutex);
    for (int i = 0; i < 3; ++i) bank.Put(Key(i), Bytes(i, 50));
    ASSERT_TRUE(bank.Save());  // 350 bytes, 200 live: compacted
  }
  ASSERT_EQ(DeviceFileSize(Path(u"data.bin")), 200u);
  // A half-written compacted file and a half-written side index.
  WriteDevice(Path(u"datacomp.bak"), Bytes(1, 70));
  WriteDevice(Path(u"dataidx.bak"), {'O', 'B', 'I', '1', 4});
  ExpectRecords(4, 50);
  EXPECT_FALSE(FileExists(Path(u"datacomp.bak")));
  EXPECT_FALSE(FileExists(Path(u"dataidx.bak")));
}

// Two processes write records to one bank, each keeping its object (and its
// view of the index) alive across the other's saves and compactions.
TEST_F(DataBankTest, TwoProcessesLoseNeithersRecords) {
  auto writer = [](int base) {
    return [base](orvtest::ChildContext& ctx) {
      CDataBankFile bank(kFolder, kMutex);
      ctx.Ready();
      if (!ctx.WaitFor("go")) return 2;
      for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 15; ++i) {
          if (!bank.Put(Key(base + i), Bytes(base + i + round, 200))) return 3;
          if (i % 3 == 2 && !bank.Save()) return 4;
        }
      }
      std::vector<std::uint8_t> data;
      for (int i = 0; i < 15; ++i) {
        if (!bank.Get(Key(base + i), data) || data != Bytes(base + i + 2, 200)) return 5;
      }
      return bank.Save() ? 0 : 6;
    };
  };
  orvtest::ChildProcess a(writer(0));
  orvtest::ChildProcess b(writer(100));
  ASSERT_TRUE(a.WaitReady());
  ASSERT_TRUE(b.WaitReady());
  a.Send("go");
  b.Send("go");
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(b.Wait(), 0);
  CDataBankFile bank(kFolder, kMutex);
  std::vector<std::uint8_t> data;
  for (int base : {0, 100}) {
    for (int i = 0; i < 15; ++i) {
      ASSERT_TRUE(bank.Get(Key(base + i), data)) << base + i;
      EXPECT_EQ(data, Bytes(base + i + 2, 200)) << base + i;
    }
  }
  EXPECT_EQ(bank.GetEntryCount(), 30u);
}

// ---- Article properties ---------------------------------------------------

CStringToStringMap SampleMap(int n) {
  CStringToStringMap map;
  map[u"title"] = u"Article number " + std::u16string(1, char16_t(u'0' + n % 10));
  map[u"description"] = std::u16string(500, u'a') + u"\u00e9\u4e2d";
  map[u"link"] = u"http://example.com/" + std::u16string(n % 7 + 1, u'p');
  return map;
}

std::uint32_t FirstWord(CDataBankFile& bank, const std::u16string& key) {
  std::vector<std::uint8_t> record;
  if (!bank.Get(key, record) || record.size() < 4) return 0xFFFFFFFFu;
  std::uint32_t v = 0;
  std::memcpy(&v, record.data(), 4);
  return v;
}

class PropertiesTest : public DataBankTest {
 protected:
  void SetUp() override {
    DataBankTest::SetUp();
    plat::SetClock(&clock_);
  }
  void TearDown() override {
    plat::SetClock(nullptr);
    DataBankTest::TearDown();
  }
  plat::ManualClock clock_;
};

TEST_F(PropertiesTest, CompressedAndPlainRecordsInOneBank) {
  CArticlesPropertiesFile bank(kFolder, kMutex);
  EXPECT_EQ(bank.IsCompressionOn(), 1);
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"CompressData", CVORegistry::kNoDefault), 1u);
  ASSERT_TRUE(bank.PutProperties(Key(0), SampleMap(0)));

  OpenSettingsKey().SetDWORD(u"CompressData", 0);
  clock_.Advance(10000);
  EXPECT_EQ(bank.IsCompressionOn(), 1);  // read at most every 10 s
  clock_.Advance(1);
  EXPECT_EQ(bank.IsCompressionOn(), 0);
  ASSERT_TRUE(bank.PutProperties(Key(1), SampleMap(1)));
  ASSERT_TRUE(bank.Save());

  CArticlesPropertiesFile again(kFolder, kMutex);
  CBufferWriter serialised;
  ASSERT_TRUE(WriteStringMap(serialised, SampleMap(0)));
  EXPECT_EQ(FirstWord(again, Key(0)), serialised.GetSize());
  EXPECT_EQ(FirstWord(again, Key(1)), 0u);
  // The compressed record is a zlib stream: zlib itself reads it back.
  std::vector<std::uint8_t> record;
  ASSERT_TRUE(again.Get(Key(0), record));
  std::vector<std::uint8_t> plain(serialised.GetSize());
  uLongf length = plain.size();
  ASSERT_EQ(uncompress(plain.data(), &length, record.data() + 4, record.size() - 4), Z_OK);
  ASSERT_EQ(length, serialised.GetSize());
  EXPECT_EQ(std::memcmp(plain.data(), serialised.GetData(), length), 0);
  EXPECT_LT(record.size(), serialised.GetSize());
  for (int i = 0; i < 2; ++i) {
    CStringToStringMap map;
    map[u"stale"] = u"x";
    ASSERT_TRUE(again.GetProperties(Key(i), map));
    EXPECT_EQ(map, SampleMap(i));
  }
}

TEST_F(PropertiesTest, RecordsOfZlibAtEveryLevelStillRead) {
  CArticlesPropertiesFile bank(kFolder, kMutex);
  CBufferWriter serialised;
  ASSERT_TRUE(WriteStringMap(serialised, SampleMap(3)));
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE(level);
    std::vector<std::uint8_t> record(4 + BankCompressBound(serialised.GetSize()) + 64);
    uLongf length = record.size() - 4;
    ASSERT_EQ(compress2(record.data() + 4, &length, serialised.GetData(), serialised.GetSize(), level), Z_OK);
    record.resize(4 + length);
    const std::uint32_t n = static_cast<std::uint32_t>(serialised.GetSize());
    std::memcpy(record.data(), &n, 4);
    ASSERT_TRUE(bank.Put(Key(level), record));
  }
  ASSERT_TRUE(bank.Save());
  CArticlesPropertiesFile again(kFolder, kMutex);
  for (int level : {0, 1, 6, 9}) {
    CStringToStringMap map;
    ASSERT_TRUE(again.GetProperties(Key(level), map)) << level;
    EXPECT_EQ(map, SampleMap(3)) << level;
  }
}

TEST_F(PropertiesTest, EmptyMapRemovesTheRecord) {
  CArticlesPropertiesFile bank(kFolder, kMutex);
  ASSERT_TRUE(bank.PutProperties(Key(0), SampleMap(0)));
  ASSERT_TRUE(bank.Save());
  ASSERT_TRUE(bank.PutProperties(Key(0), {}));
  CStringToStringMap map;
  EXPECT_TRUE(bank.GetProperties(Key(0), map));
  EXPECT_TRUE(map.empty());
  std::vector<std::uint8_t> record;
  EXPECT_FALSE(bank.Get(Key(0), record));
}

class FailingCompression : public CArticlesPropertiesFile {
 public:
  using CArticlesPropertiesFile::CArticlesPropertiesFile;
 protected:
  bool CompressRecord(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t*) override { return false; }
};

TEST_F(PropertiesTest, FailedCompressionStoresThePlainMap) {
  FailingCompression bank(kFolder, kMutex);
  ASSERT_TRUE(bank.PutProperties(Key(0), SampleMap(0)));
  EXPECT_EQ(FirstWord(bank, Key(0)), 0u);
  CStringToStringMap map;
  ASSERT_TRUE(bank.GetProperties(Key(0), map));
  EXPECT_EQ(map, SampleMap(0));
}

TEST_F(PropertiesTest, MalformedRecordsAreRefused) {
  CArticlesPropertiesFile bank(kFolder, kMutex);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> record;
  };
  const Case cases[] = {
      {"shorter than 4 bytes", {1, 2, 3}},
      {"claims more than 0xFFFFFF bytes", {0, 0, 0, 1, 1, 2, 3}},
      {"does not decompress", {10, 0, 0, 0, 1, 2, 3, 4}},
      {"plain map cut short", {0, 0, 0, 0, 2, 0, 0, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(bank.Put(Key(1), c.record));
    CStringToStringMap map;
    EXPECT_FALSE(bank.GetProperties(Key(1), map)) << c.what;
    EXPECT_TRUE(map.empty()) << c.what;
  }
}

}  // namespace
