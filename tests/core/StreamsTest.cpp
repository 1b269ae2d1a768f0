// Byte streams and the record encoding of the database files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/RecordEncoding.h"
#include "core/Streams.h"
#include "platform/files/Files.h"
#include "tests/support/TempDevice.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Taken(CBufferWriter& writer) {
  return Bytes(writer.GetData(), writer.GetData() + writer.GetSize());
}

Bytes Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Str(std::string_view s) { return Bytes(s.begin(), s.end()); }

class StreamsTest : public orvtest::DeviceTest {};

// A memory reader that does not tell how much is left, as a stream over a
// pipe would not: only the count limit can refuse a count early.
class CUnsizedReader : public CBaseReader {
 public:
  CUnsizedReader(const void* data, std::size_t size) : inner_(data, size) {}
  bool Read(void* buffer, std::size_t size) override { return inner_.Read(buffer, size); }
  std::size_t GetPosition() const { return inner_.GetPosition(); }

 private:
  CBufferReader inner_;
};

// ---- Memory streams ------------------------------------------------------------

TEST_F(StreamsTest, BufferReaderDeliversExactlyAndStopsAtTheEnd) {
  const std::uint8_t data[5] = {1, 2, 3, 4, 5};
  CBufferReader reader(data, sizeof data);
  std::uint8_t out[5] = {};
  EXPECT_FALSE(reader.Read(nullptr, 1));
  ASSERT_TRUE(reader.Read(out, 3));
  EXPECT_EQ(0, std::memcmp(out, data, 3));
  EXPECT_EQ(2, reader.Remaining());
  EXPECT_FALSE(reader.Read(out, 3));  // only 2 left
  EXPECT_EQ(3u, reader.GetPosition());
  ASSERT_TRUE(reader.Read(out, 2));
  EXPECT_EQ(4, out[0]);
  EXPECT_EQ(5, out[1]);
  EXPECT_TRUE(reader.Read(out, 0));
  EXPECT_FALSE(reader.Read(out, 1));
}

TEST_F(StreamsTest, BufferWriterGrowsAndDetaches) {
  CBufferWriter writer;
  EXPECT_TRUE(writer.Write(nullptr, 10));
  EXPECT_TRUE(writer.Write("x", 0));
  EXPECT_EQ(0u, writer.GetSize());
  EXPECT_EQ(0u, writer.GetCapacity());

  ASSERT_TRUE(writer.Write("abc", 3));
  EXPECT_EQ(8192u, writer.GetCapacity());
  std::vector<std::uint8_t> big(10000, 0x5A);
  ASSERT_TRUE(writer.Write(big.data(), big.size()));
  EXPECT_EQ(2u * 10003u, writer.GetCapacity());
  EXPECT_EQ(10003u, writer.GetSize());

  std::uint8_t* buffer = nullptr;
  std::size_t size = 0;
  writer.Detach(&buffer, &size);
  ASSERT_NE(nullptr, buffer);
  EXPECT_EQ(10003u, size);
  EXPECT_EQ(0, std::memcmp(buffer, "abc", 3));
  EXPECT_EQ(0x5A, buffer[10002]);
  std::free(buffer);
  EXPECT_EQ(nullptr, writer.GetData());
  EXPECT_EQ(0u, writer.GetSize());
  EXPECT_EQ(0u, writer.GetCapacity());
}

TEST_F(StreamsTest, WriterWriteHandsBackTheStreamResult) {
  CBufferWriter writer;
  EXPECT_TRUE(WriterWrite(writer, "hello", 5));
  EXPECT_EQ(Str("hello"), Taken(writer));
  CBufferReader reader(writer.GetData(), writer.GetSize());
  char out[5];
  EXPECT_TRUE(WriterWrite(reader, out, 5));
  EXPECT_EQ(0, std::memcmp(out, "hello", 5));
  EXPECT_FALSE(WriterWrite(reader, out, 1));
}

// ---- Exact encodings --------------------------------------------------------------

struct EncodingCase {
  const char* name;
  std::function<bool(CBaseWriter&)> write;
  Bytes expected;
};

TEST_F(StreamsTest, RecordsEncodeExactly) {
  const std::vector<EncodingCase> cases = {
      {"int32", [](CBaseWriter& w) { return WriteInt32(w, std::int32_t{0x12345678}); }, {0x78, 0x56, 0x34, 0x12}},
      {"negative int32", [](CBaseWriter& w) { return WriteInt32(w, std::int32_t{-2}); }, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"byte", [](CBaseWriter& w) { return WriteByte(w, 0xA5); }, {0xA5}},
      {"int64",
       [](CBaseWriter& w) { return WriteInt64(w, std::int64_t{0x0102030405060708}); },
       {8, 7, 6, 5, 4, 3, 2, 1}},
      {"file time",
       [](CBaseWriter& w) { return WriteInt64(w, plat::FILETIME{0x04030201u, 0x08070605u}); },
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"empty string", [](CBaseWriter& w) { return WriteString(w, u""); }, {0, 0, 0, 0}},
      {"ascii string", [](CBaseWriter& w) { return WriteString(w, u"abc"); }, Concat({Le32(3), Str("abc")})},
      {"utf-8 string",
       [](CBaseWriter& w) { return WriteString(w, u"\u00e9\u20ac"); },
       Concat({Le32(5), {0xC3, 0xA9, 0xE2, 0x82, 0xAC}})},
      {"digest lower",
       [](CBaseWriter& w) { return WriteDigest(w, u"00112233445566778899aabbccddeeff"); },
       {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
      {"digest upper",
       [](CBaseWriter& w) { return WriteDigest(w, u"00112233445566778899AABBCCDDEEFF"); },
       {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
      {"digest longer than 32 digits",
       [](CBaseWriter& w) { return WriteDigest(w, u"f0000000000000000000000000000001ab"); },
       {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}},
      {"empty set", [](CBaseWriter& w) { return WriteStringSet(w, {}); }, {0, 0, 0, 0}},
      {"one-item set",
       [](CBaseWriter& w) { return WriteStringSet(w, {u"k"}); },
       Concat({Le32(1), Le32(1), Str("k")})},
      {"one-item digest set",
       [](CBaseWriter& w) { return WriteDigestSet(w, {u"0102030405060708090a0b0c0d0e0f10"}); },
       Concat({Le32(1), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}})},
      {"one-entry map",
       [](CBaseWriter& w) { return WriteStringMap(w, {{u"key", u"v"}}); },
       Concat({Le32(1), Le32(3), Str("key"), Le32(1), Str("v")})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CBufferWriter writer;
    ASSERT_TRUE(c.write(writer));
    EXPECT_EQ(c.expected, Taken(writer));
  }
}

TEST_F(StreamsTest, BadDigestsWriteNothing) {
  const std::u16string cases[] = {
      u"0011223344556677889900aabbccdde",    // 31 digits
      u"0011223344556677889900aabbccddeg",   // not hex
      u"0011223344556677889900aabbccddee ",  // a trailing non-digit
      u"",
  };
  for (const auto& text : cases) {
    CBufferWriter writer;
    EXPECT_FALSE(WriteDigest(writer, text)) << std::string(text.begin(), text.end());
    EXPECT_EQ(0u, writer.GetSize());
  }
  // Inside a set the bad digest fails the whole set.
  CBufferWriter writer;
  EXPECT_FALSE(WriteDigestSet(writer, {u"0102030405060708090a0b0c0d0e0f10", u"xyz"}));
}

// ---- Round trips -----------------------------------------------------------------

TEST_F(StreamsTest, EveryRecordKindRoundTrips) {
  const CStringSet strings = {u"alpha", u"", u"\u00fcber", u"\U0001F600 smile", u"a|b\\c"};
  const CStringSet digests = {u"00000000000000000000000000000000", u"ffffffffffffffffffffffffffffffff",
                              u"0123456789abcdef0123456789abcdef"};
  const CStringToStringMap map = {{u"k1", u"v1"}, {u"\u4e2d", u"\u6587"}, {u"empty", u""}};

  CBufferWriter writer;
  ASSERT_TRUE(WriteInt32(writer, std::int32_t{-123456789}));
  ASSERT_TRUE(WriteInt32(writer, std::uint32_t{0xFFFFFFFEu}));
  ASSERT_TRUE(WriteByte(writer, 0x80));
  ASSERT_TRUE(WriteInt64(writer, std::int64_t{-5}));
  ASSERT_TRUE(WriteInt64(writer, std::uint64_t{0x8000000000000001ull}));
  ASSERT_TRUE(WriteInt64(writer, plat::FILETIME{0xDEADBEEFu, 0x01D2C3B4u}));
  ASSERT_TRUE(WriteString(writer, u"Gr\u00fc\u00dfe \U0001F4F0"));
  ASSERT_TRUE(WriteString(writer, u""));
  ASSERT_TRUE(WriteDigest(writer, u"D41D8CD98F00B204E9800998ECF8427E"));
  ASSERT_TRUE(WriteStringSet(writer, strings));
  ASSERT_TRUE(WriteDigestSet(writer, digests));
  ASSERT_TRUE(WriteStringMap(writer, map));

  CBufferReader reader(writer.GetData(), writer.GetSize());
  std::int32_t i32 = 0;
  std::uint32_t u32 = 0;
  std::uint8_t b = 0;
  std::int64_t i64 = 0;
  std::uint64_t u64 = 0;
  std::u16string s1 = u"x", s2 = u"x", digest;
  CStringSet readStrings, readDigests;
  CStringToStringMap readMap;
  ASSERT_TRUE(ReadInt32(reader, i32));
  ASSERT_TRUE(ReadInt32(reader, u32));
  ASSERT_TRUE(ReadByte(reader, b));
  ASSERT_TRUE(ReadInt64(reader, i64));
  ASSERT_TRUE(ReadInt64(reader, u64));
  plat::FILETIME ft{};
  ASSERT_TRUE(ReadInt64(reader, ft));
  ASSERT_TRUE(ReadString(reader, s1));
  ASSERT_TRUE(ReadString(reader, s2));
  ASSERT_TRUE(ReadDigest(reader, digest));
  ASSERT_TRUE(ReadStringSet(reader, readStrings));
  ASSERT_TRUE(ReadDigestSet(reader, readDigests));
  ASSERT_TRUE(ReadStringMap(reader, readMap));
  EXPECT_EQ(0, reader.Remaining());

  EXPECT_EQ(-123456789, i32);
  EXPECT_EQ(0xFFFFFFFEu, u32);
  EXPECT_EQ(0x80, b);
  EXPECT_EQ(-5, i64);
  EXPECT_EQ(0x8000000000000001ull, u64);
  EXPECT_EQ(0xDEADBEEFu, ft.dwLowDateTime);
  EXPECT_EQ(0x01D2C3B4u, ft.dwHighDateTime);
  EXPECT_EQ(u"Gr\u00fc\u00dfe \U0001F4F0", s1);
  EXPECT_EQ(u"", s2);
  EXPECT_EQ(u"d41d8cd98f00b204e9800998ecf8427e", digest);  // read back in lower case
  EXPECT_EQ(strings, readStrings);
  EXPECT_EQ(digests, readDigests);
  EXPECT_EQ(map, readMap);
}

TEST_F(StreamsTest, RepeatedKeysOnReadingKeepTheLastValueAndOneCopy) {
  const Bytes mapBytes = Concat({Le32(2), Le32(1), Str("k"), Le32(1), Str("a"), Le32(1), Str("k"), Le32(1), Str("b")});
  CBufferReader mapReader(mapBytes.data(), mapBytes.size());
  CStringToStringMap map;
  ASSERT_TRUE(ReadStringMap(mapReader, map));
  EXPECT_EQ((CStringToStringMap{{u"k", u"b"}}), map);

  const Bytes setBytes = Concat({Le32(3), Le32(1), Str("x"), Le32(1), Str("x"), Le32(1), Str("y")});
  CBufferReader setReader(setBytes.data(), setBytes.size());
  CStringSet set;
  ASSERT_TRUE(ReadStringSet(setReader, set));
  EXPECT_EQ((CStringSet{u"x", u"y"}), set);
}

// ---- Failing reads -----------------------------------------------------------------

// Every prefix of a record shorter than the record fails to read, and leaves the
// target empty.
TEST_F(StreamsTest, TruncatedRecordsFailAtEveryOffset) {
  struct Case {
    const char* name;
    std::function<bool(CBaseWriter&)> write;
    std::function<bool(CBaseReader&, bool& targetEmpty)> read;
  };
  const std::vector<Case> cases = {
      {"int32", [](CBaseWriter& w) { return WriteInt32(w, std::int32_t{7}); },
       [](CBaseReader& r, bool& empty) {
         std::int32_t v = 0;
         empty = true;
         return ReadInt32(r, v);
       }},
      {"int64", [](CBaseWriter& w) { return WriteInt64(w, std::int64_t{7}); },
       [](CBaseReader& r, bool& empty) {
         std::int64_t v = 0;
         empty = true;
         return ReadInt64(r, v);
       }},
      {"string", [](CBaseWriter& w) { return WriteString(w, u"h\u00e9llo"); },
       [](CBaseReader& r, bool& empty) {
         std::u16string v = u"old";
         const bool ok = ReadString(r, v);
         empty = v.empty();
         return ok;
       }},
      {"digest", [](CBaseWriter& w) { return WriteDigest(w, u"0123456789abcdef0123456789abcdef"); },
       [](CBaseReader& r, bool& empty) {
         std::u16string v = u"old";
         const bool ok = ReadDigest(r, v);
         empty = v.empty();
         return ok;
       }},
      {"string set", [](CBaseWriter& w) { return WriteStringSet(w, {u"one", u"two", u"three"}); },
       [](CBaseReader& r, bool& empty) {
         CStringSet v = {u"old"};
         const bool ok = ReadStringSet(r, v);
         empty = v.empty();
         return ok;
       }},
      {"digest set",
       [](CBaseWriter& w) {
         return WriteDigestSet(w, {u"0123456789abcdef0123456789abcdef", u"fedcba9876543210fedcba9876543210"});
       },
       [](CBaseReader& r, bool& empty) {
         CStringSet v = {u"old"};
         const bool ok = ReadDigestSet(r, v);
         empty = v.empty();
         return ok;
       }},
      {"string map", [](CBaseWriter& w) { return WriteStringMap(w, {{u"a", u"1"}, {u"bb", u"22"}}); },
       [](CBaseReader& r, bool& empty) {
         CStringToStringMap v = {{u"old", u"x"}};
         const bool ok = ReadStringMap(r, v);
         empty = v.empty();
         return ok;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CBufferWriter writer;
    ASSERT_TRUE(c.write(writer));
    const Bytes full = Taken(writer);
    {
      CBufferReader reader(full.data(), full.size());
      bool empty = true;
      EXPECT_TRUE(c.read(reader, empty));
    }
    for (std::size_t n = 0; n < full.size(); ++n) {
      SCOPED_TRACE(n);
      CBufferReader reader(full.data(), n);
      bool empty = false;
      EXPECT_FALSE(c.read(reader, empty));
      EXPECT_TRUE(empty);
    }
  }
}

TEST_F(StreamsTest, CountsOutsideTheLimitAreRefused) {
  struct Case {
    const char* name;
    std::int32_t count;
  };
  const Case cases[] = {{"2^24 + 1", 16777217}, {"2^31 - 1", INT32_MAX}, {"negative", -1}, {"most negative", INT32_MIN}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = Le32(static_cast<std::uint32_t>(c.count));
    bytes.resize(64, 'a');
    // Refused on the count itself: nothing after it is read.
    {
      CUnsizedReader r(bytes.data(), bytes.size());
      std::u16string s = u"old";
      EXPECT_FALSE(ReadString(r, s));
      EXPECT_TRUE(s.empty());
      EXPECT_EQ(4u, r.GetPosition());
    }
    {
      CUnsizedReader r(bytes.data(), bytes.size());
      CStringSet set = {u"old"};
      EXPECT_FALSE(ReadStringSet(r, set));
      EXPECT_TRUE(set.empty());
      EXPECT_EQ(4u, r.GetPosition());
    }
    {
      CUnsizedReader r(bytes.data(), bytes.size());
      CStringSet set = {u"old"};
      EXPECT_FALSE(ReadDigestSet(r, set));
      EXPECT_TRUE(set.empty());
      EXPECT_EQ(4u, r.GetPosition());
    }
    {
      CUnsizedReader r(bytes.data(), bytes.size());
      CStringToStringMap map = {{u"old", u"x"}};
      EXPECT_FALSE(ReadStringMap(r, map));
      EXPECT_TRUE(map.empty());
      EXPECT_EQ(4u, r.GetPosition());
    }
  }
  // The string limit with every byte present behind the count.
  Bytes full = Le32(16777217);
  full.resize(4 + 16777217, 'a');
  CBufferReader r(full.data(), full.size());
  std::u16string s = u"old";
  EXPECT_FALSE(ReadString(r, s));
  EXPECT_TRUE(s.empty());
}

TEST_F(StreamsTest, ContainersAtTheLimitAreReadItemByItem) {
  // A count of exactly 2^24 passes the check; the reader then stops at the
  // first missing item.
  const Bytes bytes = Concat({Le32(16777216), Le32(1), Str("a"), Le32(1), Str("b")});
  CUnsizedReader r(bytes.data(), bytes.size());
  CStringSet set;
  EXPECT_FALSE(ReadStringSet(r, set));
  EXPECT_TRUE(set.empty());
  EXPECT_EQ(bytes.size(), r.GetPosition());
}

TEST_F(StreamsTest, StringOfTheLimitIsAccepted) {
  Bytes bytes = Le32(16777216);
  bytes.resize(4 + 16777216, 'z');
  CBufferReader reader(bytes.data(), bytes.size());
  std::u16string s;
  ASSERT_TRUE(ReadString(reader, s));
  EXPECT_EQ(16777216u, s.size());
  EXPECT_EQ(u'z', s.back());
}

TEST_F(StreamsTest, StringLongerThanTheLimitIsNotWritten) {
  // Too many units, and fewer units that make too many UTF-8 bytes (3 each,
  // or 4 for a surrogate pair).
  std::u16string pairs(2 * 4194305, u'\xD83D');
  for (std::size_t i = 1; i < pairs.size(); i += 2) pairs[i] = u'\xDCF0';
  const std::u16string cases[] = {std::u16string(16777217, u'a'), std::u16string(5592406, u'\u20ac'), pairs};
  for (const auto& tooLong : cases) {
    CBufferWriter writer;
    EXPECT_FALSE(WriteString(writer, tooLong));
    EXPECT_EQ(0u, writer.GetSize());
  }
  // Just inside the limit it is written.
  CBufferWriter writer;
  EXPECT_TRUE(WriteString(writer, std::u16string(5592405, u'\u20ac')));
  EXPECT_EQ(4u + 16777215u, writer.GetSize());
}

TEST_F(StreamsTest, CountsBeyondTheBytesLeftFailAtOnce) {
  // A plausible count with almost nothing behind it.
  const Bytes bytes = Concat({Le32(1000000), Le32(1), Str("a")});
  CBufferReader r1(bytes.data(), bytes.size());
  CStringSet set;
  EXPECT_FALSE(ReadStringSet(r1, set));
  EXPECT_EQ(4u, r1.GetPosition());  // refused before any item was read
  CBufferReader r2(bytes.data(), bytes.size());
  std::u16string s;
  EXPECT_FALSE(ReadString(r2, s));
  EXPECT_EQ(4u, r2.GetPosition());
}

TEST_F(StreamsTest, FinalNulByteIsDroppedAndNothingLeftFails) {
  struct Case {
    Bytes bytes;
    bool ok;
    std::u16string value;
  };
  const Case cases[] = {
      {Concat({Le32(3), {'a', 'b', 0}}), true, u"ab"},
      {Concat({Le32(3), {'a', 0, 'b'}}), true, std::u16string(u"a\0b", 3)},
      {Concat({Le32(1), {0}}), false, u""},
      {Concat({Le32(3), {'a', 0, 0}}), true, u"a"},
      {Concat({Le32(2), {0, 0}}), false, u""},
      {Concat({Le32(2), {0xFF, 0xFE}}), true, u"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    CBufferReader reader(c.bytes.data(), c.bytes.size());
    std::u16string s = u"old";
    EXPECT_EQ(c.ok, ReadString(reader, s));
    EXPECT_EQ(c.value, s);
  }
}

// A string ending in zeros (one read from a damaged file, or set by a
// script) is written without them: a lone zero once made a record that
// reading refuses, and a channel or headers file saved with it lost every
// record after it on the next load.
TEST_F(StreamsTest, StringsEndingInZerosWriteWhatReadsBack) {
  struct Case {
    std::u16string value;
    std::u16string read;
  };
  const Case cases[] = {
      {std::u16string(1, u'\0'), u""},
      {std::u16string(3, u'\0'), u""},
      {std::u16string(u"ab\0", 3), u"ab"},
      {std::u16string(u"a\0b", 3), std::u16string(u"a\0b", 3)},
      {std::u16string(u"\0a", 2), std::u16string(u"\0a", 2)},
  };
  for (const auto& c : cases) {
    CBufferWriter writer;
    ASSERT_TRUE(WriteString(writer, c.value));
    ASSERT_TRUE(WriteString(writer, u"next"));
    CBufferReader reader(writer.GetData(), writer.GetSize());
    std::u16string first, second;
    EXPECT_TRUE(ReadString(reader, first));
    EXPECT_EQ(first, c.read);
    EXPECT_TRUE(ReadString(reader, second));
    EXPECT_EQ(second, u"next");
  }
}

TEST_F(StreamsTest, ContainerFailingOnItsThirdItemIsLeftEmpty) {
  // Three items announced; the third string is cut short.
  const Bytes setBytes = Concat({Le32(3), Le32(1), Str("a"), Le32(1), Str("b"), Le32(5), Str("c")});
  CBufferReader r1(setBytes.data(), setBytes.size());
  CStringSet set;
  EXPECT_FALSE(ReadStringSet(r1, set));
  EXPECT_TRUE(set.empty());

  const Bytes digestBytes = Concat({Le32(3), Bytes(16, 1), Bytes(16, 2), Bytes(15, 3)});
  CBufferReader r2(digestBytes.data(), digestBytes.size());
  CStringSet digests;
  EXPECT_FALSE(ReadDigestSet(r2, digests));
  EXPECT_TRUE(digests.empty());

  // A map whose third value is a lone NUL (no character): the whole map fails.
  const Bytes mapBytes = Concat({Le32(3), Le32(1), Str("a"), Le32(1), Str("1"), Le32(1), Str("b"), Le32(1),
                                 Str("2"), Le32(1), Str("c"), Le32(1), {0}});
  CBufferReader r3(mapBytes.data(), mapBytes.size());
  CStringToStringMap map;
  EXPECT_FALSE(ReadStringMap(r3, map));
  EXPECT_TRUE(map.empty());
}

// ---- File streams -------------------------------------------------------------------

std::string HostOf(const orvtest::ScopedTempDevice& device, const char* name) {
  return device.FsRoot() + "/" + name;
}

TEST_F(StreamsTest, FileRecordsRoundTripThroughTheDevice) {
  const std::u16string path = u"\\records.bin";
  {
    CFileWriter writer(path, true);
    ASSERT_TRUE(writer.IsOpen());
    ASSERT_TRUE(WriteInt32(writer, std::int32_t{42}));
    ASSERT_TRUE(WriteString(writer, u"news"));
    ASSERT_TRUE(WriteStringMap(writer, {{u"a", u"b"}}));
    EXPECT_EQ(4 + 8 + 4 + 5 + 5, writer.GetPosition());
    EXPECT_TRUE(writer.Close(false));
  }
  EXPECT_EQ(26u, orvtest::ReadHostFile(HostOf(device_, "records.bin")).size());
  CFileReader reader(path);
  ASSERT_TRUE(reader.IsOpen());
  EXPECT_EQ(26, reader.Remaining());
  std::int32_t v = 0;
  std::u16string s;
  CStringToStringMap map;
  ASSERT_TRUE(ReadInt32(reader, v));
  ASSERT_TRUE(ReadString(reader, s));
  ASSERT_TRUE(ReadStringMap(reader, map));
  EXPECT_EQ(42, v);
  EXPECT_EQ(u"news", s);
  EXPECT_EQ((CStringToStringMap{{u"a", u"b"}}), map);
  EXPECT_EQ(0, reader.Remaining());
  EXPECT_FALSE(ReadInt32(reader, v));
}

TEST_F(StreamsTest, ReadingPastTheEndOfAFileFailsEvenWhenSomeBytesArrived) {
  orvtest::WriteHostFile(HostOf(device_, "short.bin"), "abc");
  CFileReader reader(u"\\short.bin");
  ASSERT_TRUE(reader.IsOpen());
  char out[4] = {};
  EXPECT_FALSE(reader.Read(out, 4));
  ASSERT_TRUE(reader.Seek(0, plat::FILE_BEGIN));
  EXPECT_TRUE(reader.Read(out, 3));
  EXPECT_EQ(std::string("abc"), std::string(out, 3));
}

TEST_F(StreamsTest, FileReaderServesLargeFilesAcrossItsBuffer) {
  std::string content(3 * 65536 + 123, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  orvtest::WriteHostFile(HostOf(device_, "big.bin"), content);
  CFileReader reader(u"\\big.bin");
  std::string got(content.size(), '\0');
  ASSERT_TRUE(reader.Read(got.data(), 100));
  EXPECT_EQ(static_cast<std::int64_t>(content.size()) - 100, reader.Remaining());
  ASSERT_TRUE(reader.Read(got.data() + 100, 65536));  // straddles a refill
  ASSERT_TRUE(reader.Read(got.data() + 65636, content.size() - 65636));
  EXPECT_EQ(content, got);
  EXPECT_EQ(0, reader.Remaining());
  ASSERT_TRUE(reader.Seek(-10, plat::FILE_END));
  EXPECT_EQ(10, reader.Remaining());
  char tail[10];
  ASSERT_TRUE(reader.Read(tail, 10));
  EXPECT_EQ(content.substr(content.size() - 10), std::string(tail, 10));
}

TEST_F(StreamsTest, UnopenedFileStreamsFailEveryCall) {
  CFileReader reader(u"\\missing\\nothing.bin");
  EXPECT_FALSE(reader.IsOpen());
  char c;
  EXPECT_FALSE(reader.Read(&c, 1));
  EXPECT_FALSE(reader.Read(&c, 0));
  EXPECT_FALSE(reader.Seek(0, plat::FILE_BEGIN));

  CFileWriter writer(u"\\missing\\nothing.bin", true);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(writer.Write("x", 1));
  EXPECT_FALSE(WriteInt32(writer, std::int32_t{1}));
  EXPECT_EQ(0, writer.GetPosition());
  EXPECT_FALSE(writer.Seek(0, plat::FILE_BEGIN));
  EXPECT_TRUE(writer.Flush());
}

TEST_F(StreamsTest, WriterWithoutTruncationKeepsTheOldTailUnlessClosedWithTruncation) {
  struct Case {
    bool truncateOnOpen;
    bool truncateOnClose;
    std::string expected;
  };
  const Case cases[] = {
      {false, false, "XYcdefgh"},
      {false, true, "XY"},
      {true, false, "XY"},
  };
  for (const auto& c : cases) {
    orvtest::WriteHostFile(HostOf(device_, "old.bin"), "abcdefgh");
    CFileWriter writer(u"\\old.bin", c.truncateOnOpen);
    ASSERT_TRUE(writer.Write("XY", 2));
    EXPECT_TRUE(writer.Close(c.truncateOnClose));
    EXPECT_EQ(c.expected, orvtest::ReadHostFile(HostOf(device_, "old.bin")));
  }
}

TEST_F(StreamsTest, WriterBuffersSmallWritesAndPassesLargeBlocksStraight) {
  CFileWriter writer(u"\\blocks.bin", true);
  ASSERT_TRUE(writer.Write("head", 4));
  EXPECT_EQ(0u, orvtest::ReadHostFile(HostOf(device_, "blocks.bin")).size());  // still buffered
  const std::string block(100000, 'B');
  ASSERT_TRUE(writer.Write(block.data(), block.size()));
  // The buffered head went out first, then the block past the buffer.
  EXPECT_EQ("head" + block, orvtest::ReadHostFile(HostOf(device_, "blocks.bin")));
  ASSERT_TRUE(writer.Write("tail", 4));
  EXPECT_EQ(100008, writer.GetPosition());
  ASSERT_TRUE(writer.Seek(0, plat::FILE_BEGIN));  // flushes first
  ASSERT_TRUE(writer.Write("HE", 2));
  EXPECT_TRUE(writer.Close(false));
  EXPECT_EQ("HEad" + block + "tail", orvtest::ReadHostFile(HostOf(device_, "blocks.bin")));
}

TEST_F(StreamsTest, DeleteFileDropsWhatWasNeverFlushed) {
  {
    CFileWriter writer(u"\\gone.bin", true);
    ASSERT_TRUE(writer.Write("pending", 7));
    EXPECT_TRUE(writer.DeleteFile());
    EXPECT_FALSE(writer.IsOpen());
  }
  EXPECT_EQ(plat::INVALID_FILE_ATTRIBUTES, plat::GetFileAttributesW(u"\\gone.bin"));

  // Deleting what names nothing counts as done.
  CFileWriter nothing(u"\\missing\\x.bin", true);
  EXPECT_TRUE(nothing.DeleteFile());
}

TEST_F(StreamsTest, CloseReportsAFailedFinalFlush) {
  CFileWriter writer(u"\\full.bin", true);
  ASSERT_TRUE(writer.Write("0123456789", 10));
  plat::SimulateDiskFull(4);
  EXPECT_FALSE(writer.Close(false));
  plat::SimulateDiskFull(-1);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ("0123", orvtest::ReadHostFile(HostOf(device_, "full.bin")));
}

TEST_F(StreamsTest, FlushAfterAShortWriteDoesNotRepeatWhatWasWritten) {
  CFileWriter writer(u"\\partial.bin", true);
  ASSERT_TRUE(writer.Write("abcdef", 6));
  plat::SimulateDiskFull(2);
  EXPECT_FALSE(writer.Flush());
  plat::SimulateDiskFull(-1);
  EXPECT_TRUE(writer.Flush());
  EXPECT_TRUE(writer.Close(false));
  EXPECT_EQ("abcdef", orvtest::ReadHostFile(HostOf(device_, "partial.bin")));
}

}  // namespace
