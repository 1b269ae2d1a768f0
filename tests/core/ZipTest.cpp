// The zip reader over archives built here byte by byte, and over archives
// made by the zip tool (stored, deflated, encrypted).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Unzippo.h"
#include "platform/base/Endian.h"
#include "tests/support/TempDevice.h"

namespace {

using Bytes = std::string;


Bytes RawDeflate(const Bytes& data) {
  z_stream z{};
  EXPECT_EQ(Z_OK, deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
  Bytes out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::uint32_t Crc(const Bytes& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// The traditional PKWARE cipher, encrypting side.
class CTestCipher {
 public:
  explicit CTestCipher(const std::string& password) {
    for (unsigned char c : password) Update(c);
  }
  char Encrypt(char plain) {
    const std::uint32_t temp = (k[2] | 2u) & 0xFFFFu;
    const auto c = static_cast<char>(plain ^ static_cast<char>((temp * (temp ^ 1u)) >> 8));
    Update(static_cast<std::uint8_t>(plain));
    return c;
  }

 private:
  static std::uint32_t C(std::uint32_t crc, std::uint8_t b) {
    return static_cast<std::uint32_t>(get_crc_table()[(crc ^ b) & 0xFF]) ^ (crc >> 8);
  }
  void Update(std::uint8_t c) {
    k[0] = C(k[0], c);
    k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
    k[2] = C(k[2], static_cast<std::uint8_t>(k[1] >> 24));
  }
  std::uint32_t k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

struct TestEntry {
  TestEntry(std::string n, Bytes d, int m = 8, Bytes le = {}, Bytes ce = {}, Bytes c = {}, bool desc = false,
            std::string pw = {})
      : name(std::move(n)), data(std::move(d)), method(m), localExtra(std::move(le)), centralExtra(std::move(ce)),
        comment(std::move(c)), descriptor(desc), password(std::move(pw)) {}
  std::string name;
  Bytes data;
  int method = 8;
  Bytes localExtra;
  Bytes centralExtra;
  Bytes comment;
  bool descriptor = false;
  std::string password;  // encrypts when set
  std::optional<std::uint32_t> crc;
  std::optional<std::uint32_t> compressedSize;
  std::optional<std::uint32_t> uncompressedSize;
  std::optional<std::uint32_t> localOffset;
};

struct TestArchive {
  TestArchive(std::vector<TestEntry> e = {}, Bytes p = {}, Bytes c = {}, Bytes t = {})
      : entries(std::move(e)), prefix(std::move(p)), archiveComment(std::move(c)), trailer(std::move(t)) {}
  std::vector<TestEntry> entries;
  Bytes prefix;
  Bytes archiveComment;
  Bytes trailer;
  std::optional<std::uint16_t> diskNumber;
  std::optional<std::uint16_t> totalEntries;
  std::optional<std::uint32_t> directoryOffset;
  std::optional<std::uint32_t> directorySize;
  bool corruptCentralSignature = false;
};

constexpr std::uint16_t kTime = 0x6B2D;

Bytes Build(const TestArchive& a) {
  Bytes out = a.prefix;
  Bytes central;
  for (const auto& e : a.entries) {
    Bytes payload = e.method == 8 ? RawDeflate(e.data) : e.data;
    const std::uint32_t crc = e.crc.value_or(Crc(e.data));
    std::uint16_t flags = e.descriptor ? 8 : 0;
    if (!e.password.empty()) {
      flags |= 1;
      CTestCipher cipher(e.password);
      Bytes header = "0123456789A";
      header += static_cast<char>(e.descriptor ? (kTime >> 8) : (crc >> 24));
      Bytes encrypted;
      for (char c : header) encrypted += cipher.Encrypt(c);
      for (char c : payload) encrypted += cipher.Encrypt(c);
      payload = encrypted;
    }
    const std::uint32_t csize = e.compressedSize.value_or(static_cast<std::uint32_t>(payload.size()));
    const std::uint32_t usize = e.uncompressedSize.value_or(static_cast<std::uint32_t>(e.data.size()));
    const std::uint32_t offset = e.localOffset.value_or(static_cast<std::uint32_t>(out.size() - a.prefix.size()));
    Bytes local;
    plat::PutLe32(local, 0x04034B50);
    plat::PutLe16(local, 20);
    plat::PutLe16(local, flags);
    plat::PutLe16(local, e.method);
    plat::PutLe16(local, kTime);
    plat::PutLe16(local, 0x5A21);
    plat::PutLe32(local, e.descriptor ? 0 : crc);
    plat::PutLe32(local, e.descriptor ? 0 : csize);
    plat::PutLe32(local, e.descriptor ? 0 : usize);
    plat::PutLe16(local, static_cast<std::uint32_t>(e.name.size()));
    plat::PutLe16(local, static_cast<std::uint32_t>(e.localExtra.size()));
    local += e.name + e.localExtra + payload;
    if (e.descriptor) {
      plat::PutLe32(local, 0x08074B50);
      plat::PutLe32(local, crc);
      plat::PutLe32(local, csize);
      plat::PutLe32(local, usize);
    }
    out += local;
    plat::PutLe32(central, a.corruptCentralSignature ? 0x02014B51 : 0x02014B50);
    plat::PutLe16(central, 20);
    plat::PutLe16(central, 20);
    plat::PutLe16(central, flags);
    plat::PutLe16(central, e.method);
    plat::PutLe16(central, kTime);
    plat::PutLe16(central, 0x5A21);
    plat::PutLe32(central, crc);
    plat::PutLe32(central, csize);
    plat::PutLe32(central, usize);
    plat::PutLe16(central, static_cast<std::uint32_t>(e.name.size()));
    plat::PutLe16(central, static_cast<std::uint32_t>(e.centralExtra.size()));
    plat::PutLe16(central, static_cast<std::uint32_t>(e.comment.size()));
    plat::PutLe16(central, 0);
    plat::PutLe16(central, 0);
    plat::PutLe32(central, 0);
    plat::PutLe32(central, offset);
    central += e.name + e.centralExtra + e.comment;
  }
  const auto directoryOffset = static_cast<std::uint32_t>(out.size() - a.prefix.size());
  out += central;
  const auto n = static_cast<std::uint16_t>(a.entries.size());
  plat::PutLe32(out, 0x06054B50);
  plat::PutLe16(out, a.diskNumber.value_or(0));
  plat::PutLe16(out, 0);
  plat::PutLe16(out, a.totalEntries.value_or(n));
  plat::PutLe16(out, a.totalEntries.value_or(n));
  plat::PutLe32(out, a.directorySize.value_or(static_cast<std::uint32_t>(central.size())));
  plat::PutLe32(out, a.directoryOffset.value_or(directoryOffset));
  plat::PutLe16(out, static_cast<std::uint32_t>(a.archiveComment.size()));
  out += a.archiveComment + a.trailer;
  return out;
}

Bytes Pattern(std::size_t n, int seed = 0) {
  Bytes b(n, '\0');
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>("layout package "[(i + seed) % 15] + (i / 97) % 3);
  return b;
}

class ZipTest : public orvtest::DeviceTest {
 protected:
  // Writes the archive into the device and returns its device path.
  std::u16string Put(const Bytes& bytes, const char* name = "pkg.dat") {
    orvtest::WriteHostFile(device_.FsRoot() + "/" + name, bytes);
    std::u16string path = u"\\";
    for (const char* p = name; *p; ++p) path += static_cast<char16_t>(*p);
    return path;
  }

  static Bytes Read(CUnzippo& zip, const char* name, std::uint32_t size, int* result) {
    Bytes buffer(size, '\x55');
    *result = zip.ReadEntry(name, buffer.data(), size);
    return buffer;
  }

  bool HaveZipTool() { return std::system("zip -v >/dev/null 2>&1") == 0; }

  // Runs the zip tool in the device's root folder.
  void RunZip(const std::string& arguments) {
    const std::string command = "cd '" + device_.FsRoot() + "' && zip -q -X " + arguments;
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }
};

TEST_F(ZipTest, EntriesReadBackInEveryLayout) {
  const Bytes index = "<Index><item name=\"main\"/></Index>";
  const Bytes big = Pattern(100000);
  struct Case {
    const char* what;
    TestArchive archive;
  };
  const std::vector<Case> cases = {
      {"stored and deflated", {{{"Index.xml", index, 0}, {"images/big.bmp", big, 8}}}},
      {"extra fields in both headers",
       {{{"Index.xml", index, 8, "\x55\x54\x05\x00\x01\x02\x03\x04\x05", "\x55\x54\x01\x00\x07"},
         {"images/big.bmp", big, 0, "", "\x75\x78\x00\x00"}}}},
      {"entry and archive comments",
       {{{"Index.xml", index, 8, "", "", "first comment"}, {"images/big.bmp", big, 8, "", "", "x"}},
        "",
        "archive comment"}},
      {"data descriptors",
       {{{"Index.xml", index, 8, "", "", "", true}, {"images/big.bmp", big, 0, "", "", "", true}}}},
      {"bytes before the archive", {{{"Index.xml", index, 8}, {"images/big.bmp", big, 8}}, Bytes(777, 'S')}},
      {"encrypted", {{{"Index.xml", index, 8, "", "", "", false, "secret"},
                      {"images/big.bmp", big, 0, "", "", "", true, "secret"}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CUnzippo zip;
    ASSERT_EQ(1, zip.Open(Put(Build(c.archive)).c_str(), "secret")) << zip.GetLastError();
    EXPECT_EQ(2u, zip.GetEntryCount());
    std::uint32_t size = 0;
    ASSERT_TRUE(zip.GetEntrySize("index.XML", size));  // any letter case
    EXPECT_EQ(index.size(), size);
    EXPECT_EQ(big.size(), zip.GetEntrySize("Images/Big.bmp"));
    int result = 0;
    EXPECT_EQ(index, Read(zip, "INDEX.XML", size, &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ(big, Read(zip, "images/big.bmp", static_cast<std::uint32_t>(big.size()), &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ(UNZ_OK, zip.GetLastError());
  }
}

TEST_F(ZipTest, PartialReadsFillExactlyWhatWasAsked) {
  const Bytes data = Pattern(100, 3);
  CUnzippo zip;
  ASSERT_EQ(1, zip.Open(Put(Build({{{"a.txt", data, 8}}})).c_str(), nullptr));
  Bytes buffer(20, '\x55');
  EXPECT_EQ(1, zip.ReadEntry("a.txt", buffer.data(), 10));
  EXPECT_EQ(UNZ_MORE_DATA, zip.GetLastError());
  EXPECT_EQ(data.substr(0, 10), buffer.substr(0, 10));
  EXPECT_EQ(Bytes(10, '\x55'), buffer.substr(10));
  // A buffer larger than the entry gets the entry.
  Bytes large(300, '\x55');
  EXPECT_EQ(1, zip.ReadEntry("a.txt", large.data(), 300));
  EXPECT_EQ(data, large.substr(0, 100));
  EXPECT_EQ('\x55', large[100]);
  // Nothing to read succeeds without reading; a missing entry fails.
  EXPECT_EQ(1, zip.ReadEntry("a.txt", nullptr, 10));
  EXPECT_EQ(1, zip.ReadEntry("a.txt", buffer.data(), 0));
  EXPECT_EQ(0, zip.ReadEntry("b.txt", buffer.data(), 10));
  EXPECT_EQ(0u, zip.GetEntrySize("b.txt"));
}

TEST_F(ZipTest, IndexSizeFollowsTheEntryCount) {
  struct Case {
    int entries;
    std::uint32_t slots;
  };
  const Case cases[] = {{1, 32}, {16, 32}, {17, 64}, {32, 64}, {33, 128}, {100, 256}};
  for (const auto& c : cases) {
    TestArchive archive;
    for (int i = 0; i < c.entries; ++i) archive.entries.push_back({"e" + std::to_string(i), "x", 0});
    CUnzippo zip;
    ASSERT_EQ(1, zip.Open(Put(Build(archive)).c_str(), nullptr));
    EXPECT_EQ(c.slots, zip.GetIndexSlotCount()) << c.entries;
    int result = 0;
    EXPECT_EQ("x", Read(zip, ("E" + std::to_string(c.entries - 1)).c_str(), 1, &result));
  }
}

TEST_F(ZipTest, DamagedArchivesFailToOpen) {
  const TestEntry good{"a.txt", "hello", 0};
  struct Case {
    const char* what;
    Bytes bytes;
    int error;
  };
  TestArchive spanned{{good}};
  spanned.diskNumber = 1;
  TestArchive badSignature{{good}};
  badSignature.corruptCentralSignature = true;
  TestArchive offsetPastEnd{{good}};
  offsetPastEnd.directoryOffset = 100000;
  TestArchive sizePastEnd{{good}};
  sizePastEnd.directorySize = 100000;
  TestArchive moreEntries{{good}};
  moreEntries.totalEntries = 3;
  TestArchive longName{{TestEntry{"a.txt", "hello", 0}}};
  Bytes longNameBytes = Build(longName);
  // Name length of the central record made to run past the directory.
  const std::size_t central = longNameBytes.find("PK\x01\x02");
  longNameBytes[central + 28] = '\xF0';
  const std::vector<Case> cases = {
      {"spanned", Build(spanned), UNZ_SPANNED},
      {"central record signature", Build(badSignature), UNZ_CORRUPT_DIRECTORY},
      {"directory offset past the end", Build(offsetPastEnd), UNZ_CORRUPT_DIRECTORY},
      {"directory size past the end", Build(sizePastEnd), UNZ_CORRUPT_DIRECTORY},
      {"more entries than records", Build(moreEntries), UNZ_CORRUPT_DIRECTORY},
      {"name running past the directory", longNameBytes, UNZ_CORRUPT_DIRECTORY},
      {"end record too far back", Build({{good}, "", "", Bytes(70000, 'c')}), UNZ_CORRUPT_DIRECTORY},
      {"not an archive", Bytes(5000, 'z'), UNZ_CORRUPT_DIRECTORY},
      {"tiny file", "PK", UNZ_CORRUPT_DIRECTORY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CUnzippo zip;
    EXPECT_EQ(0, zip.Open(Put(c.bytes).c_str(), nullptr));
    EXPECT_EQ(c.error, zip.GetLastError());
    EXPECT_FALSE(zip.IsOpen());
    EXPECT_EQ(0u, zip.GetEntrySize("a.txt"));
  }
  CUnzippo zip;
  EXPECT_EQ(0, zip.Open(u"\\missing.dat", nullptr));
  EXPECT_EQ(UNZ_FILE_NOT_FOUND, zip.GetLastError());
  EXPECT_EQ(0, zip.Open(nullptr, nullptr));
  EXPECT_EQ(0, zip.Open(u"", nullptr));
  zip.Close();
  zip.Close();
}

TEST_F(ZipTest, DamagedEntriesFailToRead) {
  const Bytes data = Pattern(5000, 1);
  struct Case {
    const char* what;
    TestEntry entry;
    std::uint32_t readSize;
    int error;
  };
  auto with = [&](std::function<void(TestEntry&)> change, int method = 8) {
    TestEntry e{"a.bin", data, method};
    change(e);
    return e;
  };
  const std::vector<Case> cases = {
      {"bad CRC, deflated", with([](TestEntry& e) { e.crc = 0x12345678; }), 5000, UNZ_CORRUPT_DATA},
      {"bad CRC, stored", with([](TestEntry& e) { e.crc = 0x12345678; }, 0), 5000, UNZ_CORRUPT_DATA},
      {"declared larger than the stream", with([](TestEntry& e) { e.uncompressedSize = 6000; }), 6000,
       UNZ_CORRUPT_DATA},
      {"stored sizes disagree", with([](TestEntry& e) { e.uncompressedSize = 4000; }, 0), 4000,
       UNZ_CORRUPT_DATA},
      {"compressed size past the directory", with([](TestEntry& e) { e.compressedSize = 900000; }), 5000,
       UNZ_CORRUPT_DATA},
      {"local header past the end", with([](TestEntry& e) { e.localOffset = 800000; }), 5000, UNZ_CORRUPT_DATA},
      {"local header offset missing its header", with([](TestEntry& e) { e.localOffset = 3; }), 5000,
       UNZ_CORRUPT_DATA},
      {"unknown method", with([](TestEntry& e) { e.method = 12; }, 0), 5000, UNZ_CORRUPT_DATA},
      {"encrypted, no password given", with([](TestEntry& e) { e.password = "pw"; }), 5000, UNZ_WRONG_PASSWORD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestArchive archive{{c.entry, TestEntry{"ok.txt", "fine", 8}}};
    CUnzippo zip;
    ASSERT_EQ(1, zip.Open(Put(Build(archive)).c_str(), nullptr));
    int result = 1;
    Read(zip, "a.bin", c.readSize, &result);
    EXPECT_EQ(0, result);
    EXPECT_EQ(c.error, zip.GetLastError());
    // The other entry still reads.
    EXPECT_EQ("fine", Read(zip, "ok.txt", 4, &result));
    EXPECT_EQ(1, result);
  }
}

TEST_F(ZipTest, PartialReadOfAnEntryWithABadCrcIsNotChecked) {
  TestEntry e{"a.bin", Pattern(5000), 8};
  e.crc = 1;
  CUnzippo zip;
  ASSERT_EQ(1, zip.Open(Put(Build({{e}})).c_str(), nullptr));
  int result = 0;
  EXPECT_EQ(Pattern(5000).substr(0, 100), Read(zip, "a.bin", 100, &result));
  EXPECT_EQ(1, result);
}

TEST_F(ZipTest, WrongPasswordFailsAtTheHeaderCheck) {
  const Bytes data = Pattern(3000);
  struct Case {
    bool descriptor;
    int method;
  };
  for (const Case c : {Case{false, 8}, Case{true, 8}, Case{false, 0}}) {
    TestEntry e{"s.xml", data, c.method};
    e.password = "right";
    e.descriptor = c.descriptor;
    const std::u16string path = Put(Build({{e}}));
    CUnzippo zip;
    ASSERT_EQ(1, zip.Open(path.c_str(), "wrong"));
    EXPECT_FALSE(zip.CheckPassword());
    EXPECT_EQ(UNZ_WRONG_PASSWORD, zip.GetLastError());
    int result = 1;
    Read(zip, "s.xml", 3000, &result);
    EXPECT_EQ(0, result);
    EXPECT_EQ(UNZ_WRONG_PASSWORD, zip.GetLastError());
    ASSERT_EQ(1, zip.Open(path.c_str(), "right"));
    EXPECT_TRUE(zip.CheckPassword());
    EXPECT_EQ(data, Read(zip, "s.xml", 3000, &result));
    EXPECT_EQ(1, result);
  }
}

TEST_F(ZipTest, UnsafeNamesAreLeftOutOfTheIndex) {
  TestArchive archive{{{"../evil.txt", "x", 0},
                       {"a/../../b.txt", "x", 0},
                       {"/abs.txt", "x", 0},
                       {"\\abs2.txt", "x", 0},
                       {"C:/Drive.txt", "x", 0},
                       {"..", "x", 0},
                       {"dots..ok.txt", "ok", 0},
                       {"sub/..name", "ok", 0}}};
  CUnzippo zip;
  ASSERT_EQ(1, zip.Open(Put(Build(archive)).c_str(), nullptr));
  for (const char* bad : {"../evil.txt", "a/../../b.txt", "/abs.txt", "\\abs2.txt", "c:/drive.txt", ".."}) {
    EXPECT_EQ(0u, zip.GetEntrySize(bad)) << bad;
    char c;
    EXPECT_EQ(0, zip.ReadEntry(bad, &c, 1)) << bad;
  }
  // The directory still lists them, lower-cased, in its own order.
  ASSERT_EQ(8u, zip.GetEntryCount());
  EXPECT_EQ(std::string("../evil.txt"), zip.GetEntryName(0));
  EXPECT_EQ(std::string("c:/drive.txt"), zip.GetEntryName(4));
  EXPECT_EQ(nullptr, zip.GetEntryName(8));
  EXPECT_EQ(2u, zip.GetEntrySize("dots..ok.txt"));
  EXPECT_EQ(2u, zip.GetEntrySize("sub/..name"));
}

TEST_F(ZipTest, EveryTruncationOfAnArchiveFailsToOpen) {
  const Bytes full = Build({{{"one.txt", Pattern(300), 8}, {"two.txt", "second", 0}}});
  for (std::size_t n = 0; n < full.size(); ++n) {
    CUnzippo zip;
    EXPECT_EQ(0, zip.Open(Put(full.substr(0, n)).c_str(), nullptr)) << n;
  }
}

// A damaged byte anywhere either makes the archive or the entry fail, or
// leaves the entry's bytes intact: nothing damaged is ever delivered as good.
TEST_F(ZipTest, NoDamagedByteGivesWrongData) {
  const Bytes original = Pattern(300);
  const Bytes full = Build({{{"one.txt", original, 8}, {"two.txt", "second", 0}}});
  for (std::size_t i = 0; i < full.size(); ++i) {
    Bytes damaged = full;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    CUnzippo zip;
    if (!zip.Open(Put(damaged).c_str(), nullptr)) continue;
    Bytes buffer(300, '\0');
    if (zip.ReadEntry("one.txt", buffer.data(), 300)) {
      // A size damaged upwards makes this a partial read, which is not
      // CRC-checked; the bytes must still be the entry's own.
      EXPECT_GE(zip.GetEntrySize("one.txt"), 300u) << i;
      EXPECT_EQ(original, buffer) << i;
    }
  }
}

// A gzip stream as RFC 1952 lays it out: the fixed header, the optional
// fields the flags name, raw deflate data, CRC and size.
Bytes Gzip(const Bytes& data, const char* name = nullptr, bool extraCommentAndHeaderCrc = false) {
  std::uint8_t flags = 0;
  if (name) flags |= 0x08;
  if (extraCommentAndHeaderCrc) flags |= 0x04 | 0x10 | 0x02;
  Bytes out = {'\x1F', '\x8B', '\x08', static_cast<char>(flags), 0, 0, 0, 0, 0, 3};
  if (extraCommentAndHeaderCrc) out += Bytes("\x04\x00" "ab\0c", 6);
  if (name) out += Bytes(name) + '\0';
  if (extraCommentAndHeaderCrc) out += Bytes("a comment\0\x12\x34", 12);
  out += RawDeflate(data);
  plat::PutLe32(out, Crc(data));
  plat::PutLe32(out, static_cast<std::uint32_t>(data.size()));
  return out;
}

TEST_F(ZipTest, GzipFileOpensAsOneEntry) {
  const Bytes text = Pattern(30000, 2);
  struct Case {
    const char* what;
    Bytes bytes;
    const char* file;
    const char* entry;  // as asked for, in another case than stored
  } cases[] = {
      {"no stored name: the file's less .gz", Gzip(text), "layout.xml.GZ", "LAYOUT.xml"},
      {"stored name", Gzip(text, "Index.xml"), "pkg.dat", "INDEX.XML"},
      {"every optional field", Gzip(text, "Skin.xml", true), "skin.gz", "skin.xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CUnzippo zip;
    ASSERT_EQ(1, zip.Open(Put(c.bytes, c.file).c_str(), nullptr)) << zip.GetLastError();
    std::uint32_t size = 0;
    ASSERT_TRUE(zip.GetEntrySize(c.entry, size));
    EXPECT_EQ(size, text.size());
    int result = 0;
    EXPECT_EQ(text, Read(zip, c.entry, size, &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ(text.substr(0, 10), Read(zip, c.entry, 10, &result));
    EXPECT_EQ(1, result);
    EXPECT_FALSE(zip.GetEntrySize("other.xml", size));
  }
}

TEST_F(ZipTest, DamagedGzipFilesFailToOpenOrRead) {
  const Bytes text = Pattern(5000, 4);
  const Bytes good = Gzip(text, "a.xml");
  auto with = [&](std::size_t at, char value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    bool opens;
    bool readFails;  // reading the whole entry
  } cases[] = {
      {"method other than deflate", with(2, 7), false, true},
      {"reserved flag", with(3, static_cast<char>(0x08 | 0x20)), false, true},
      {"name without its end", Bytes(good.data(), 14), false, true},
      {"header only", Bytes(good.data(), 12), false, true},
      {"magic alone", Bytes("\x1F\x8B", 2), false, true},
      {"body cut short", good.substr(0, good.size() / 2), true, false},
      {"damaged deflate data", with(20, static_cast<char>(good[20] ^ 0x5A)), true, true},
      {"wrong CRC", with(good.size() - 8, static_cast<char>(good[good.size() - 8] ^ 1)), true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CUnzippo zip;
    const int opened = zip.Open(Put(c.bytes).c_str(), nullptr);
    ASSERT_EQ(opened, c.opens ? 1 : 0);
    if (!opened) {
      EXPECT_EQ(zip.GetLastError(), UNZ_CORRUPT_DIRECTORY);
      continue;
    }
    std::uint32_t size = 0;
    ASSERT_TRUE(zip.GetEntrySize("a.xml", size));
    // A cut file's size field is whatever bytes stand at its end now.
    const std::uint32_t n = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(text.size()));
    Bytes buffer(n, '\0');
    const int result = zip.ReadEntry("a.xml", buffer.data(), n);
    if (c.readFails) {
      EXPECT_EQ(result, 0);
    } else if (result == 1) {
      EXPECT_EQ(buffer, text.substr(0, n));  // what still reads is right
    }
  }
}

TEST_F(ZipTest, ArchivesOfTheZipToolRead) {
  if (!HaveZipTool()) GTEST_SKIP() << "zip tool missing";
  const Bytes text = Pattern(20000, 5);
  orvtest::WriteHostFile(device_.FsRoot() + "/Index.xml", "<Index/>");
  orvtest::WriteHostFile(device_.FsRoot() + "/layout.xml", text);
  struct Case {
    const char* what;
    const char* flags;
    const char* password;
  };
  const Case cases[] = {
      {"stored", "-0", nullptr},
      {"deflated", "-9", nullptr},
      {"encrypted stored", "-0 -P secret", "secret"},
      {"encrypted deflated", "-9 -P secret", "secret"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "tool" + std::to_string(n++) + ".zip";
    RunZip(std::string(c.flags) + " " + name + " Index.xml layout.xml");
    std::u16string path = u"\\";
    for (char ch : name) path += static_cast<char16_t>(ch);
    CUnzippo zip;
    ASSERT_EQ(1, zip.Open(path.c_str(), c.password));
    int result = 0;
    EXPECT_EQ("<Index/>", Read(zip, "index.xml", 8, &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ(text, Read(zip, "LAYOUT.XML", 20000, &result));
    EXPECT_EQ(1, result);
    if (c.password) {
      ASSERT_EQ(1, zip.Open(path.c_str(), "not it"));
      Read(zip, "layout.xml", 20000, &result);
      EXPECT_EQ(0, result);
      ASSERT_EQ(1, zip.Open(path.c_str(), nullptr));
      Read(zip, "layout.xml", 20000, &result);
      EXPECT_EQ(0, result);
    }
  }
}

}  // namespace
