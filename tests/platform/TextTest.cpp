#include <gtest/gtest.h>

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
