#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/HtmlEntities.h"
#include "core/StringUtils.h"
#include "platform/base/Locale.h"
#include "tests/support/TempDevice.h"

namespace {

class StringUtilsTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override { plat::ResetLocaleForTesting(); }
};

std::string Shown(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[12];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

TEST_F(StringUtilsTest, FindAnyCharAndSubstring) {
  EXPECT_EQ(FindAnyChar(u"hello, world; bye", u";,"), 5u);
  EXPECT_EQ(FindAnyChar(u"hello", u"xyz"), kNotFound);
  EXPECT_EQ(FindAnyChar(u"hello", nullptr), kNotFound);
  EXPECT_EQ(FindAnyChar(u"", u"a"), kNotFound);
  EXPECT_EQ(FindAnyChar(u"hello", u"o"), 4u);

  EXPECT_EQ(FindSubstring(u"hello world", u"world"), 6u);
  EXPECT_EQ(FindSubstring(u"hello world", u"o"), 4u);
  EXPECT_EQ(FindSubstring(u"hello world", u""), 0u);
  EXPECT_EQ(FindSubstring(u"hello world", nullptr), 0u);
  EXPECT_EQ(FindSubstring(u"abc", u"abcd"), kNotFound);
  EXPECT_EQ(FindSubstring(u"abc", u"C"), kNotFound);
}

TEST_F(StringUtilsTest, CharacterClasses) {
  struct Case {
    char16_t c;
    bool hex;
    bool space;
  } cases[] = {
      {u'0', true, false}, {u'9', true, false}, {u'a', true, false}, {u'f', true, false},
      {u'A', true, false}, {u'F', true, false}, {u'g', false, false}, {u'G', false, false},
      {u'/', false, false}, {u':', false, false}, {u'@', false, false}, {u'`', false, false},
      {u'\uFF10', false, false},  // full-width zero is no hex digit
      {u' ', false, true}, {u'\t', false, true}, {u'\n', false, true}, {u'\r', false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsHexDigit(c.c), c.hex) << static_cast<int>(c.c);
    EXPECT_EQ(IsSpaceChar(c.c), c.space) << static_cast<int>(c.c);
  }
}

TEST_F(StringUtilsTest, HexValues) {
  struct Case {
    char16_t c;
    int value;
  } cases[] = {
      {u'0', 0},  {u'9', 9},  {u'a', 10}, {u'f', 15}, {u'A', 10}, {u'F', 15},
      {u'g', -1}, {u'G', -1}, {u'/', -1}, {u':', -1}, {u'@', -1}, {u'`', -1},
      {u'\uFF10', -1},  // full-width zero
      {u'\uFFE9', -1},  // a byte 0xE9 passed as a negative char
  };
  for (const auto& c : cases) EXPECT_EQ(HexValue(c.c), c.value) << static_cast<int>(c.c);
}

// The locale's white space: every Unicode space goes at the ends, the inside
// stays as it is.
TEST_F(StringUtilsTest, TrimSpaceTakesEveryUnicodeSpace) {
  struct Case {
    std::u16string text, trimmed;
  } cases[] = {
      {u"  News \t", u"News"},
      {u"\u3000\u00A0Nachrichten\u2003\u2028", u"Nachrichten"},
      {u"\vtwo  words\f", u"two  words"},
      {u" \u00A0 ", u""},
      {u"", u""},
      {u"x\u200Bx", u"x\u200Bx"},  // a zero-width space is no white space
      {u"\u200Bx", u"\u200Bx"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimSpace(c.text), c.trimmed) << Shown(c.text);
}

TEST_F(StringUtilsTest, IsHexDigestNeedsThirtyTwoHexDigits) {
  const std::u16string digest = u"d41d8cd98f00b204e9800998ecf8427e";
  struct Case {
    std::u16string text;
    bool expected;
  } cases[] = {
      {digest.substr(0, 31), false},
      {digest, true},
      {digest + u"0", true},
      {u"D41D8CD98F00B204E9800998ECF8427E", true},
      {digest.substr(0, 31) + u"g", false},
      {u" " + digest, false},
      {u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsHexDigest(c.text), c.expected) << Shown(c.text);
}

TEST_F(StringUtilsTest, ParseNumbers) {
  struct HexCase {
    const char16_t* text;
    unsigned int value;
  } hexCases[] = {{u"1F", 31}, {u"ff", 255}, {u"zz", 0}, {u"", 0}, {u" 10", 16}, {u"7fffffff", 0x7FFFFFFF}, {u"12g", 0x12}};
  for (const auto& c : hexCases) EXPECT_EQ(ParseHex(c.text), c.value) << Shown(c.text);

  struct IntCase {
    const char16_t* text;
    bool ok;
    int value;
  } intCases[] = {{u"42", true, 42}, {u"-7", true, -7}, {u"12abc", true, 12}, {u"x", false, 99}, {u"", false, 99}};
  for (const auto& c : intCases) {
    int value = 99;
    EXPECT_EQ(ParseInt(c.text, value), c.ok) << Shown(c.text);
    EXPECT_EQ(value, c.value) << Shown(c.text);
  }
}

TEST_F(StringUtilsTest, ConsumeCharAndNumber) {
  struct CharCase {
    const char16_t* text;
    char16_t c;
    bool ok;
    const char16_t* rest;
  } charCases[] = {{u"abc", u'a', true, u"bc"}, {u"abc", u'b', false, u"abc"}, {u"", u'a', false, u""}, {u":", u':', true, u""}};
  for (const auto& c : charCases) {
    std::u16string text = c.text;
    EXPECT_EQ(ConsumeChar(text, c.c), c.ok) << Shown(c.text);
    EXPECT_EQ(text, c.rest);
  }

  struct NumberCase {
    const char16_t* text;
    bool ok;
    int value;
    const char16_t* rest;
  } numberCases[] = {
      {u"12:30", true, 12, u":30"}, {u":30", false, 0, u":30"}, {u"007x", true, 7, u"x"},
      {u"5", true, 5, u""},         {u"", false, 0, u""},       {u"-5", false, 0, u"-5"},
      {u" 5", false, 0, u" 5"},
  };
  for (const auto& c : numberCases) {
    std::u16string text = c.text;
    int value = 99;
    EXPECT_EQ(ConsumeNumber(text, value), c.ok) << Shown(c.text);
    EXPECT_EQ(value, c.value) << Shown(c.text);
    EXPECT_EQ(text, c.rest) << Shown(c.text);
  }
}

TEST_F(StringUtilsTest, PointFromLParamTakesSignedHalves) {
  struct Case {
    plat::LPARAM lParam;
    int x, y;
  } cases[] = {
      {0x00200010, 16, 32},
      {static_cast<plat::LPARAM>(0xFFFEFFFFu), -1, -2},
      {static_cast<plat::LPARAM>(0x80007FFFu), 32767, -32768},
      {static_cast<plat::LPARAM>(0x123400020001ll), 1, 2},  // bits above 32 are no part of it
  };
  for (const auto& c : cases) {
    const plat::POINT p = PointFromLParam(c.lParam);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
}

TEST_F(StringUtilsTest, FormatNumberUnderEnglishLocale) {
  EXPECT_EQ(GetDecimalSeparator(), u".");
  struct Case {
    double value;
    int decimals;
    const char16_t* text;
  } cases[] = {
      {2.50, 2, u"2.5"},          {2.00, 2, u"2"},          {1234.5, 0, u"1,234"},
      {1234.567, 2, u"1,234.57"}, {1234.567, 1, u"1,234.5"}, {0.004, 2, u"0"},
      {-1234.5, 1, u"-1,234.5"},  {1e6, 2, u"1,000,000"},   {0.5, 3, u"0.5"},
      {999.999, 0, u"1,000"},     {117.737, 0, u"117"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value, c.decimals), c.text) << c.value << " " << c.decimals;
}

TEST_F(StringUtilsTest, FormatNumberFollowsTheLocale) {
  plat::LocaleSettings german;
  german.decimal = u",";
  german.thousand = u".";
  plat::SetLocaleForTesting(german);
  EXPECT_EQ(GetDecimalSeparator(), u",");
  EXPECT_EQ(FormatNumber(1234.5, 1), u"1.234,5");
  EXPECT_EQ(FormatNumber(1234.5, 0), u"1.234");
  EXPECT_EQ(FormatNumber(2.0, 2), u"2");
  EXPECT_EQ(FormatFileSize(1536, true), u"1,5 KB (1.536 B)");
}

TEST_F(StringUtilsTest, FormatFileSize) {
  struct Case {
    std::int64_t bytes;
    bool exact;
    const char16_t* text;
  } cases[] = {
      {1536, true, u"1.5 KB (1,536 B)"},
      {500, true, u"500 B"},
      {0, true, u"0 B"},
      {-5, true, u"-5 B"},
      {1023, false, u"1,023 B"},
      {1024, false, u"1 KB"},
      {10752, false, u"10.5 KB"},         // 10.5: one decimal
      {153600, false, u"150 KB"},         // at least 100: none
      {1048575, false, u"1,024 KB"},
      {1048576, true, u"1 MB (1,048,576 B)"},
      {2359296, false, u"2.25 MB"},
      {123456789, false, u"117 MB"},      // 117.74: cut, not rounded
      {123456789, true, u"117 MB (123,456,789 B)"},
      {5368709120ll, false, u"5,120 MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFileSize(c.bytes, c.exact), c.text) << c.bytes;
}

TEST_F(StringUtilsTest, EscapeAndUnescapeUrl) {
  struct Case {
    const char16_t* plain;
    const char16_t* escaped;
  } cases[] = {
      {u"a:b/c.d", u"a%3Ab%2Fc%2Ed"},
      {u"a b", u"a b"},
      {u"Grüße 日本", u"Grüße 日本"},
      {u"%<>:\"/\\|.[]{}`~#&*;'^,?", u"%25%3C%3E%3A%22%2F%5C%7C%2E%5B%5D%7B%7D%60%7E%23%26%2A%3B%27%5E%2C%3F"},
      {u"!$()+=@-_", u"!$()+=@-_"},
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeUrl(c.plain), c.escaped) << Shown(c.plain);
    EXPECT_EQ(UnescapeUrl(c.escaped), c.plain) << Shown(c.escaped);
  }
}

TEST_F(StringUtilsTest, UnescapeUrlOddInput) {
  struct Case {
    const char16_t* in;
    std::u16string out;
  } cases[] = {
      {u"100%", u"100%"},    // no characters after it
      {u"ab%4", u"ab%4"},    // only one
      {u"%41%", u"A%"},
      {u"%4a%4A", u"JJ"},
      {u"%4G", std::u16string(1, u'\x04')},  // as far as the digits go; both characters go
      {u"100%ok", u"100%ok"},  // no code: kept as written, no null inserted
      {u"%00x", u"%00x"},
      {u"%25", u"%"},
      {u"%2525", u"%25"},     // one pass
  };
  for (const auto& c : cases) EXPECT_EQ(UnescapeUrl(c.in), c.out) << Shown(c.in);
}

TEST_F(StringUtilsTest, EscapeChars) {
  struct Case {
    const char16_t* in;
    const char16_t* set;
    const char16_t* out;
  } cases[] = {
      {u"a|b", u"|", u"a\\|b"},
      {u"a\\b", u"|", u"a\\\\b"},
      {u"a:b|c", u":|", u"a\\:b\\|c"},
      {u"a:b", u"|", u"a:b"},
      {u"x", nullptr, u"x"},
      {u"\\", nullptr, u"\\\\"},
      {u"", u"|", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeChars(c.in, c.set), c.out) << Shown(c.in);
}

TEST_F(StringUtilsTest, DecodeHtmlEntities) {
  struct Case {
    const char16_t* in;
    std::u16string out;
  } cases[] = {
      {u"&amp;", u"&"},
      {u"a &lt;b&gt; c", u"a <b> c"},
      {u"&quot;&apos;", u"\"'"},
      {u"&#8217;", u"\u2019"},
      {u"&#150;", u"\u2013"},  // Windows-1252 en dash
      {u"&#128;&#159;&#129;", u"\u20AC\u0178\u0081"},
      {u"&#127;&#160;", u"\u007F\u00A0"},
      {u"&#x2019;&#X41;&#x4a;", u"\u2019AJ"},
      {u"&unknown;", u"&unknown;"},
      {u"&AMP;", u"&AMP;"},  // names match case-sensitively
      {u"&Alpha;&alpha;&nbsp;&euro;&hearts;", u"\u0391\u03B1\u00A0\u20AC\u2665"},
      {u"line\r\nbreak", u"line  break"},
      {u"&#10;&#13;", u"  "},
      {u"&", u"&"},
      {u"a&", u"a&"},
      {u"&#", u"&#"},
      {u"&;", u"&;"},
      {u"&&amp;", u"&&"},
      {u"&amp;amp;", u"&amp;"},  // one pass
      {u"&amp", u"&"},           // the name runs to the end
      {u"AT&T rocks", u"AT&T rocks"},
      // "&#" without digits stays as written; after the digits the scan goes
      // on, so a reference missing its ';' never swallows the following text.
      {u"&#;x", u"&#;x"},
      {u"&#65", u"A"},
      {u"&#65abc;def", u"Aabc;def"},
      {u"&#abc;x", u"&#abc;x"},
      {u"&#x;y", u"&#x;y"},
      {u"a&#x", u"a&#x"},
      {u"it&#8217s here; and there", u"it\u2019s here; and there"},
      {u"Q&#A is; kept", u"Q&#A is; kept"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeHtmlEntities(c.in), c.out) << Shown(c.in);
}

TEST_F(StringUtilsTest, DecodeHtmlEntitiesBeyondBasicPlane) {
  // Code points above U+FFFF become surrogate pairs; 0, surrogates and values
  // past U+10FFFF become U+FFFD rather than losing their high bits.
  struct Case {
    const char16_t* in;
    std::u16string out;
  } cases[] = {
      {u"&#x1F600;", u"\U0001F600"},
      {u"&#128512;", u"\U0001F600"},
      {u"&#x10000;", u"\U00010000"},
      {u"&#x10FFFF;", u"\U0010FFFF"},
      {u"&#xFFFF;", u"\uFFFF"},
      {u"&#0;", u"\uFFFD"},
      {u"&#xD800;", u"\uFFFD"},
      {u"&#57343;", u"\uFFFD"},  // U+DFFF
      {u"&#x110000;", u"\uFFFD"},
      {u"&#4294967361;", u"\uFFFD"},  // 2^32 + 65, not 'A'
      {u"&#x10041;", u"\U00010041"},  // not 'A'
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeHtmlEntities(c.in), c.out) << Shown(c.in);
}

TEST_F(StringUtilsTest, HtmlEntityTable) {
  std::set<std::u16string> names;
  for (std::size_t i = 0; i < kHtmlEntityCount; ++i) {
    const std::u16string name = g_HtmlEntities[i].name;
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(names.insert(name).second) << Shown(name);
    EXPECT_EQ(LookupHtmlEntity(name), g_HtmlEntities[i].character) << Shown(name);
  }
  EXPECT_EQ(names.size(), 253u);
  EXPECT_EQ(std::u16string(g_HtmlEntities[kHtmlEntityCount].name), u"");
  EXPECT_EQ(g_HtmlEntities[kHtmlEntityCount].character, 0);

  struct Case {
    const char16_t* name;
    std::int32_t character;
  } cases[] = {
      {u"quot", 34},    {u"amp", 38},      {u"lt", 60},      {u"gt", 62},       {u"apos", 39},
      {u"nbsp", 160},   {u"yuml", 255},    {u"Yuml", 376},   {u"fnof", 402},    {u"thetasym", 977},
      {u"sigmaf", 962}, {u"alefsym", 8501}, {u"hearts", 9829}, {u"diams", 9830}, {u"lang", 9001}, {u"euro", 8364},
      {u"zwnj", 8204},  {u"AMP", 0},       {u"nope", 0},     {u"", 0},          {u"ampx", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(LookupHtmlEntity(c.name), c.character) << Shown(c.name);
}

TEST_F(StringUtilsTest, AppendUrlParameter) {
  struct Case {
    const char16_t* url;
    const char16_t* parameter;
    const char16_t* out;
  } cases[] = {
      {u"http://a/b", u"x=1", u"http://a/b?x=1"},
      {u"http://a/b?y=2", u"x=1", u"http://a/b?y=2&x=1"},
      {u"", u"p", u"?p"},
      {u"http://a/?", u"ping=1", u"http://a/?&ping=1"},
  };
  for (const auto& c : cases) {
    std::u16string url = c.url;
    AppendUrlParameter(url, c.parameter);
    EXPECT_EQ(url, c.out);
  }
}

TEST_F(StringUtilsTest, MapAndListToString) {
  struct MapCase {
    CStringToStringMap map;
    const char16_t* text;
  } mapCases[] = {
      {{{u"a:b", u"c|d"}}, u"a\\:b:c\\|d|"},
      {{{u"b", u"2"}, {u"a", u"1"}}, u"a:1|b:2|"},
      {{{u"k\\", u"v"}}, u"k\\\\:v|"},
      {{{u"", u""}}, u":|"},
      {{}, u""},
  };
  for (const auto& c : mapCases) EXPECT_EQ(MapToString(c.map), c.text) << Shown(c.text);

  struct ListCase {
    CStringList list;
    const char16_t* text;
  } listCases[] = {
      {{u"x|y", u"z"}, u"x\\|y|z|"},
      {{u"a:b"}, u"a:b|"},
      {{u"\\"}, u"\\\\|"},
      {{u""}, u"|"},
      {{}, u""},
  };
  for (const auto& c : listCases) EXPECT_EQ(ListToString(c.list), c.text) << Shown(c.text);
}

}  // namespace
