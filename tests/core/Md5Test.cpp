#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/Md5.h"
#include "core/StringUtils.h"
#include "tests/support/Printers.h"
#include "tests/support/TempDevice.h"

namespace {

using orvtest::Utf8;

class Md5Test : public orvtest::DeviceTest {};

std::string Hex(const std::uint8_t* digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 15]);
  }
  return out;
}

struct ByteCase {
  std::string message;
  const char* digest;
};

// The test suite of RFC 1321, and lengths around the padding boundary.
const ByteCase kByteCases[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'x'), "04364420e25c512fd958a70738aa8f72"},
    {std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
    {std::string(63, 'x'), "7dc2ca208106a2f703567bdff99d8981"},
    {std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"},
    {std::string(65, 'x'), "1bc932052302d074bdec39795fe00cf6"},
    {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
};

TEST_F(Md5Test, DigestsOfWholeBuffers) {
  for (const auto& c : kByteCases) {
    const Md5Digest d = Md5Bytes(c.message.data(), c.message.size());
    EXPECT_EQ(Hex(d.data()), c.digest) << "length " << c.message.size();
  }
}

TEST_F(Md5Test, PiecewiseUpdatesMatchOneUpdate) {
  // The same messages fed in pieces of every awkward size.
  const std::size_t pieces[] = {1, 3, 63, 64, 65, 1000};
  for (const auto& c : kByteCases) {
    for (std::size_t piece : pieces) {
      Md5Context ctx;
      Md5Init(ctx);
      for (std::size_t at = 0; at < c.message.size(); at += piece) {
        Md5Update(ctx, c.message.data() + at, std::min(piece, c.message.size() - at));
      }
      std::uint8_t digest[16];
      Md5Final(ctx, digest);
      EXPECT_EQ(Hex(digest), c.digest) << "length " << c.message.size() << " piece " << piece;
    }
  }
}

TEST_F(Md5Test, TextDigestsHashUtf16LittleEndianBytes) {
  struct Case {
    std::u16string text;
    const char* digest;  // MD5 of the UTF-16LE bytes
  } cases[] = {
      {u"", "d41d8cd98f00b204e9800998ecf8427e"},
      {u"abc", "ce1473cf80c6b3fda8e3dfc006adc315"},  // 61 00 62 00 63 00
      {u"http://example.com/feed.xml", "824222efa02a62f179998e8673bd73d4"},
      {u"Grüße", "d8634e3e19167bdbe990f969ad19c65f"},
      {u"日本語", "965f626b62b499198df91ae051f13bd2"},
      {u"\U0001F600", "713b431f5caa0d142bea157989c96852"},  // a surrogate pair, unit by unit
  };
  for (const auto& c : cases) {
    const std::u16string hex = GetMd5Hex(c.text);
    EXPECT_EQ(Utf8(hex), c.digest);
    EXPECT_EQ(hex.size(), 32u);
    EXPECT_TRUE(IsHexDigest(hex));
  }
  EXPECT_NE(Utf8(GetMd5Hex(u"abc")), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(Md5Test, LongTextCrossesChunkBoundaries) {
  // 300 units (600 bytes) spans the internal chunk and several blocks.
  std::u16string text(300, u'x');
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  const Md5Digest d = Md5Bytes(bytes.data(), bytes.size());
  EXPECT_EQ(Utf8(GetMd5Hex(text)), Hex(d.data()));
  EXPECT_EQ(Utf8(GetMd5Hex(text)), "87539aa1c07d1f5de5f071cbfb97a904");
}

}  // namespace
