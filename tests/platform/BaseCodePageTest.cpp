#include <gtest/gtest.h>

#include <string>

#include "platform/base/CodePage.h"

using namespace plat;

namespace {

// Converts the whole text; "<failed>" when the call fails.
std::u16string ToWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
  char16_t buf[64];
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), buf, 64);
  return n == 0 ? u"<failed>" : std::u16string(buf, static_cast<std::size_t>(n));
}

std::string ToBytes(UINT cp, const std::u16string& text, const char* defaultChar = nullptr,
                    BOOL* usedDefault = nullptr) {
  char buf[64];
  int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), buf, 64, defaultChar, usedDefault);
  return n == 0 ? "<failed>" : std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

TEST(BaseCodePage, BytesToUtf16) {
  struct Case {
    UINT cp;
    std::string in;
    std::u16string out;
  } cases[] = {
      {1252, "caf\xE9", u"café"},
      {1252, "\x80 \x93x\x94", u"€ “x”"},
      {CP_ACP, "\xE9", u"é"},  // the default locale's ANSI page is 1252
      {28591, "\xE9\x80", u"é\u0080"},
      {1251, "\xCF\xF0\xE8", u"При"},
      {20866, "\xF0\xD2\xC9", u"При"},
      {949, "\xB0\xA1", u"가"},
      {932, "\x82\xA0", u"あ"},
      {CP_UTF8, "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80", u"Grüße \U0001F600"},
      {CP_UTF8, "a\xFF" "b", u"a\uFFFDb"},
      {1200, std::string("h\0i\0", 4), u"hi"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToWide(c.cp, c.in), c.out) << c.cp << " " << c.in;
  EXPECT_EQ(ToWide(CP_UTF8, "a\xFF", MB_ERR_INVALID_CHARS), u"<failed>");
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // Undefined bytes of the pages converted by table: U+FFFD, or a failure
  // (also when only the length is asked) with MB_ERR_INVALID_CHARS.
  EXPECT_EQ(ToWide(1252, "a\x81" "b\x9D"), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(ToWide(1252, "a\x81", MB_ERR_INVALID_CHARS), u"<failed>");
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, "\x98", 1, nullptr, 0), 0);
  EXPECT_EQ(ToWide(1252, "\x80\x9F", MB_ERR_INVALID_CHARS), u"\u20AC\u0178");
  EXPECT_NE(SingleByteUpperHalf(1252), nullptr);
  EXPECT_EQ(SingleByteUpperHalf(CP_ACP), SingleByteUpperHalf(1252));
  EXPECT_EQ(SingleByteUpperHalf(932), nullptr);
}

TEST(BaseCodePage, IncompleteSequenceYieldsNothingUntilComplete) {
  // As a decoder feeds a byte more at a time.
  EXPECT_EQ(ToWide(949, "\xB0"), u"<failed>");
  EXPECT_EQ(ToWide(949, "\xB0\xA1"), u"가");
  EXPECT_EQ(ToWide(CP_UTF8, "\xE2\x82"), u"<failed>");
  EXPECT_EQ(ToWide(CP_UTF8, "\xE2\x82\xAC"), u"€");
  EXPECT_EQ(ToWide(CP_UTF8, "ab\xE2\x82"), u"ab");
}

TEST(BaseCodePage, LengthsAndBuffers) {
  // -1 converts the null too.
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
  char16_t small[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, small, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"é", -1, nullptr, 0, nullptr, nullptr), 3);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", 1, small, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, nullptr, 1, small, 2), 0);
  EXPECT_TRUE(IsValidCodePage(1252));
  EXPECT_TRUE(IsValidCodePage(51949));
  EXPECT_FALSE(IsValidCodePage(12345));
}

TEST(BaseCodePage, Utf16ToBytes) {
  EXPECT_EQ(ToBytes(1252, u"café€"), "caf\xE9\x80");
  EXPECT_EQ(ToBytes(1251, u"При"), "\xCF\xF0\xE8");
  EXPECT_EQ(ToBytes(949, u"가"), "\xB0\xA1");
  EXPECT_EQ(ToBytes(CP_UTF8, u"a\xD800z"), "a\xEF\xBF\xBDz");  // unpaired surrogate
  BOOL used = FALSE;
  EXPECT_EQ(ToBytes(1252, u"a日b", nullptr, &used), "a?b");
  EXPECT_TRUE(used);
  used = FALSE;
  EXPECT_EQ(ToBytes(1252, u"\U0001F600", "#", &used), "#");  // a pair is one character
  EXPECT_TRUE(used);
  used = TRUE;
  EXPECT_EQ(ToBytes(1252, u"plain", nullptr, &used), "plain");
  EXPECT_FALSE(used);
  EXPECT_EQ(ToBytes(CP_UTF8, u"x", nullptr, &used), "<failed>");  // no default for UTF-8
  char tiny[2];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", 3, tiny, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}
