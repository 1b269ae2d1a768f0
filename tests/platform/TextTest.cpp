#include <gtest/gtest.h>

#include <random>

#include "platform/base/Text.h"
#include "platform/base/Utf8.h"

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

TEST(Text, AffixesIgnoreCase) {
  struct Case {
    std::u16string_view text, affix;
    bool starts, ends;
  } cases[] = {
      {u"HTTP://host/feed.XML", u"http://", true, false},
      {u"HTTP://host/feed.XML", u".xml", false, true},
      {u"Привет", u"пр", true, false},
      {u"Привет", u"ЕТ", false, true},
      {u"abc", u"", true, true},
      {u"", u"", true, true},
      {u"ab", u"abc", false, false},  // the affix is longer than the text
      {u"xabcx", u"abc", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StartsWithNoCase(c.text, c.affix), c.starts) << Utf16ToUtf8(c.text) << " / " << Utf16ToUtf8(c.affix);
    EXPECT_EQ(EndsWithNoCase(c.text, c.affix), c.ends) << Utf16ToUtf8(c.text) << " / " << Utf16ToUtf8(c.affix);
  }
}

// Each kind of white space holds exactly its own characters: the readers
// that rely on one (XML, HTTP headers, dates, HTML, typed names) keep it.
TEST(Text, KindsOfWhiteSpace) {
  struct Case {
    char32_t c;
    bool xml, ascii, html, nbsp, wide;
  } cases[] = {
      {U' ', true, true, true, true, true},       {U'\t', true, true, true, true, true},
      {U'\n', true, true, true, true, true},      {U'\r', true, true, true, true, true},
      {U'\v', false, true, false, false, false},  {U'\f', false, true, true, false, false},
      {0xA0, false, false, false, true, true},    {0x3000, false, false, false, false, true},
      {0x2003, false, false, false, false, false},  // an em space is only the locale's
      {0x85, false, false, false, false, false},    {U'x', false, false, false, false, false},
      {0, false, false, false, false, false},       {0xFFFFFFFF, false, false, false, false, false},
  };
  for (const auto& c : cases) {
    const auto code = static_cast<unsigned>(c.c);
    EXPECT_EQ(IsXmlSpace(c.c), c.xml) << code;
    EXPECT_EQ(IsAsciiSpace(c.c), c.ascii) << code;
    EXPECT_EQ(IsHtmlSpace(c.c), c.html) << code;
    EXPECT_EQ(IsXmlSpaceOrNbsp(c.c), c.nbsp) << code;
    EXPECT_EQ(IsXmlSpaceNbspOrIdeographic(c.c), c.wide) << code;
  }
  // A byte above 0x7F (a negative char) is no space of any kind.
  EXPECT_FALSE(IsXmlSpace('\xA0'));
  EXPECT_FALSE(IsXmlSpaceOrNbsp('\xA0'));
}

TEST(Text, TrimmingKeepsWhatIsInside) {
  struct Case {
    std::u16string_view text, both, right;
  } cases[] = {
      {u"  two  words \r\n", u"two  words", u"  two  words"},
      {u"\t\n", u"", u""},
      {u"", u"", u""},
      {u"x", u"x", u"x"},
      {u"\u00A0x\u00A0", u"\u00A0x\u00A0", u"\u00A0x\u00A0"},  // no XML space
      {u"\vx\f", u"\vx\f", u"\vx\f"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Trim(c.text, IsXmlSpace), c.both) << Utf16ToUtf8(c.text);
    EXPECT_EQ(TrimView(c.text, IsXmlSpace), c.both) << Utf16ToUtf8(c.text);
    EXPECT_EQ(TrimRight(c.text, IsXmlSpace), c.right) << Utf16ToUtf8(c.text);
  }
  EXPECT_EQ(Trim(u"\u00A0x\u3000", IsXmlSpaceOrNbsp), u"x\u3000");
  EXPECT_EQ(Trim(u"\u00A0x\u3000", IsXmlSpaceNbspOrIdeographic), u"x");
  EXPECT_EQ(Trim(u"\vx\f", IsAsciiSpace), u"x");
  // Bytes: an HTTP header's value.
  EXPECT_EQ(Trim(std::string_view(" text/html \r"), IsXmlSpace), "text/html");
  EXPECT_EQ(TrimView(std::string_view("\f x \v"), IsAsciiSpace), "x");
  EXPECT_EQ(Trim(std::string_view("\xA0x"), IsXmlSpace), "\xA0x");
}

TEST(Text, AppendUtf8EncodesEachLength) {
  struct Case {
    char32_t code;
    std::string utf8;
  } cases[] = {
      {U'A', "A"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0xE9, "\xC3\xA9"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFD, "\xEF\xBF\xBD"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x1F600, "\xF0\x9F\x98\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    AppendUtf8(out, c.code);
    EXPECT_EQ(out, "x" + c.utf8) << static_cast<unsigned>(c.code);
  }
}
