#include <gtest/gtest.h>

#include <random>

#include "platform/base/Text.h"

using namespace plat;

TEST(Text, Utf8RoundTripsValidText) {
  const std::u16string samples[] = {u"", u"abc", u"Grüße", u"Привет", u"日本語", u"\U0001F600 smile"};
  for (const auto& s : samples) {
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
  }
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"\xFF", u"\uFFFD"},
      {"a\xC3", u"a\uFFFD"},                 // truncated two-byte sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD"},         // overlong form: bad lead, stray continuation
      {"\xED\xA0\x80", u"\uFFFD"},           // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD"},       // above U+10FFFF
      {"\xE2\x82x", u"\uFFFDx"},             // broken three-byte sequence keeps the next char
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in;
}

TEST(Text, UnpairedSurrogateBecomesReplacement) {
  std::u16string s = u"a";
  s.push_back(0xD800);
  s += u"b";
  EXPECT_EQ(Utf16ToUtf8(s), "a\xEF\xBF\xBD" "b");
}

// Random text of every length class of unit (ASCII runs, two and three
// bytes, pairs, unpaired surrogates at any place, the end included): both
// conversions size their output exactly and keep every character.
TEST(Text, MixedTextConvertsBothWays) {
  std::mt19937 random(20);
  const char32_t kSamples[] = {u'a', u' ', 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x65E5, 0xFFFD, 0xFFFF, 0x10000, 0x1F600,
                               0x10FFFF};
  for (int round = 0; round < 500; ++round) {
    std::u16string text, expected;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      const unsigned pick = random() % 16;
      if (pick < 13) {
        char32_t c = kSamples[pick];
        if (c >= 0x10000) {
          c -= 0x10000;
          text += {static_cast<char16_t>(0xD800 + (c >> 10)), static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
          expected += text.substr(text.size() - 2);
        } else {
          text.push_back(static_cast<char16_t>(c));
          expected.push_back(static_cast<char16_t>(c));
        }
      } else {
        // A lone surrogate (a high one may not be followed by a low one).
        const char16_t lone = pick == 13 ? 0xDC00 : 0xD800;
        if (lone == 0xD800 && i + 1 < length) {
          text.push_back(lone);
          text.push_back(u'x');
          expected += u"\uFFFDx";
          ++i;
        } else {
          text.push_back(lone);
          expected.push_back(u'\uFFFD');
        }
      }
    }
    const std::string utf8 = Utf16ToUtf8(text);
    EXPECT_EQ(utf8.find('\0'), std::string::npos);
    EXPECT_EQ(Utf8ToUtf16(utf8), expected) << "round " << round;
  }
}

TEST(Text, CaseInsensitiveCompare) {
  EXPECT_TRUE(EqualsNoCase(u"My Documents\\A.CNL", u"my documents\\a.cnl"));
  EXPECT_TRUE(EqualsNoCase(u"ÄÖÜ", u"äöü"));
  EXPECT_TRUE(EqualsNoCase(u"ПРИВЕТ", u"привет"));
  EXPECT_FALSE(EqualsNoCase(u"abc", u"abd"));
  EXPECT_LT(CompareNoCase(u"abc", u"ABD"), 0);
  EXPECT_GT(CompareNoCase(u"abcd", u"ABC"), 0);
  EXPECT_EQ(ToUpper(u'ÿ'), u'\u0178');
  EXPECT_EQ(ToLower(u'\u0178'), u'ÿ');
}
