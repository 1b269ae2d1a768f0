#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/base/Format.h"
#include "platform/base/Text.h"

using namespace plat;

namespace {

std::u16string W(const char* s) { return Latin1ToUtf16(s); }

template <typename T>
std::string CFormat(const char* fmt, T v) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

template <typename T>
void ExpectLikeC(const char* fmt, T v) {
  std::u16string wfmt = W(fmt);
  EXPECT_EQ(Utf16ToUtf8(FormatString(wfmt.c_str(), v)), CFormat(fmt, v)) << "format " << fmt;
}

}  // namespace

TEST(BaseFormat, IntegersMatchC) {
  const char* intFormats[] = {"%d", "%i", "%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%8.3d", "%-+8.3d|",
                              "%x", "%X", "%#x", "%#X", "%08X", "%o", "%#o", "%u"};
  const int intValues[] = {0, 1, -1, 42, -42, 255, 65535, INT_MAX, INT_MIN};
  for (const char* f : intFormats)
    for (int v : intValues) ExpectLikeC(f, v);
  const long long wide[] = {0, -1, 1234567890123ll, LLONG_MAX, LLONG_MIN};
  for (long long v : wide) {
    ExpectLikeC("%lld", v);
    ExpectLikeC("%20lld", v);
    ExpectLikeC("%llx", v);
  }
  ExpectLikeC("%hd", 70000);   // shortened to 16 bits
  ExpectLikeC("%hu", 70000);
  ExpectLikeC("%hhd", 300);
}

TEST(BaseFormat, FloatsMatchC) {
  const char* formats[] = {"%f", "%.2f", "%.2lf", "%10.3f", "%-10.1f|", "%+f", "%010.2f", "%e", "%.3E",
                           "%g", "%G", "%#g", "%.0f", "%#.0f", "%.10g", "% .1f"};
  const double values[] = {0.0, -0.0, 1.0, -1.5, 3.14159265, 2.5, 1234.5, 1e-5, 1e20, 123456789.125};
  for (const char* f : formats)
    for (double v : values) ExpectLikeC(f, v);
  ExpectLikeC("%f", INFINITY);
  ExpectLikeC("%f", -INFINITY);
  ExpectLikeC("%f", NAN);
}

TEST(BaseFormat, PlatformLengthModifiers) {
  // long is 32 bits on the device: %ld takes a LONG, %I64d a 64-bit value.
  EXPECT_EQ(FormatString(u"%ld %lu %lx", static_cast<std::int32_t>(-5), static_cast<std::uint32_t>(4000000000u),
                         static_cast<std::uint32_t>(0xBEEFu)),
            u"-5 4000000000 beef");
  EXPECT_EQ(FormatString(u"%I64d|%I64u|%I64X", -9000000000ll, 18000000000ull, 0xABCDEF0123ull),
            u"-9000000000|18000000000|ABCDEF0123");
  EXPECT_EQ(FormatString(u"%zu", static_cast<std::size_t>(1) << 40), u"1099511627776");
}

TEST(BaseFormat, WideAndNarrowStrings) {
  struct Case {
    std::u16string expected;
    std::u16string got;
  } cases[] = {
      {u"[Grüße]", FormatString(u"[%s]", u"Grüße")},
      {u"[Grüße]", FormatString(u"[%ls]", u"Grüße")},
      {u"[Grüße]", FormatString(u"[%S]", "Gr\xC3\xBC\xC3\x9F" "e")},  // UTF-8
      {u"[Grüße]", FormatString(u"[%hs]", "Gr\xC3\xBC\xC3\x9F" "e")},
      {u"[   ab]", FormatString(u"[%5s]", u"ab")},
      {u"[ab   ]", FormatString(u"[%-5s]", u"ab")},
      {u"[abc]", FormatString(u"[%.3s]", u"abcdef")},
      {u"[  abc]", FormatString(u"[%5.3s]", u"abcdef")},
      {u"[  abc]", FormatString(u"[%*.*s]", 5, 3, u"abcdef")},
      {u"[abc  ]", FormatString(u"[%*s]", -5, u"abc")},
      {u"[(null)]", FormatString(u"[%s]", static_cast<const char16_t*>(nullptr))},
      {u"[(null)]", FormatString(u"[%S]", static_cast<const char*>(nullptr))},
      {u"[Ж]", FormatString(u"[%c]", u'Ж')},
      {u"[Ж]", FormatString(u"[%lc]", u'Ж')},
      {u"[A]", FormatString(u"[%C]", 'A')},
      {u"[  x]", FormatString(u"[%3c]", u'x')},
      {u"100%", FormatString(u"%d%%", 100)},
      {u"%2F", FormatString(u"%%%02X", 0x2F)},
      {u"-hwnd:123", FormatString(u"-hwnd:%i", 123)},
      {u"Updating 3 of 10 channels", FormatString(u"Updating %d of %d channels", 3, 10)},
      {u"\U0001F600!", FormatString(u"%s!", u"\U0001F600")},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << Utf16ToUtf8(c.expected);
}

TEST(BaseFormat, PointerMatchesC) {
  int x = 0;
  ExpectLikeC("<object %p", static_cast<void*>(&x));
  ExpectLikeC("%p", static_cast<void*>(nullptr));
}

TEST(BaseFormat, BufferLimitTruncatesAndReportsFailure) {
  char16_t buf[6];
  EXPECT_EQ(swprintf(buf, 6, u"%d", 12345), 5);
  EXPECT_EQ(std::u16string(buf), u"12345");
  EXPECT_EQ(swprintf(buf, 6, u"%d", 123456), -1);
  EXPECT_EQ(std::u16string(buf), u"12345");  // truncated, still terminated
  EXPECT_EQ(swprintf(buf, 0, u"x"), -1);
  EXPECT_EQ(swprintf(buf, 1, u""), 0);
  EXPECT_EQ(buf[0], u'\0');
}

TEST(BaseFormat, LongOutputIsComplete) {
  std::u16string s = FormatString(u"%300d|%s", 7, std::u16string(1000, u'z').c_str());
  ASSERT_EQ(s.size(), 1301u);
  EXPECT_EQ(s[299], u'7');
  EXPECT_EQ(s[300], u'|');
  EXPECT_EQ(s.back(), u'z');
}

TEST(BaseFormat, UnknownConversionIsCopied) {
  EXPECT_EQ(FormatString(u"a%kb %d", 5), u"a%kb 5");
  EXPECT_EQ(FormatString(u"end%"), u"end%");
}

// ------------------------------------------------------------------ scanf

namespace {

struct IntScanCase {
  const char* text;
  const char* fmt;  // up to three int conversions (%n counts as one target)
};

}  // namespace

TEST(BaseScan, IntegerConversionsMatchC) {
  const IntScanCase cases[] = {
      {"42", "%d"},        {"  -17", "%d"},         {"+8", "%d"},           {"12abc", "%d%n"},
      {"abc", "%d"},       {"", "%d"},              {"   ", "%d"},          {"1 2 3", "%d %d %d"},
      {"1,2", "%d,%d"},    {"1;2", "%d,%d"},        {"12345", "%2d%3d"},    {"0x1A", "%x"},
      {"1a", "%X"},        {"-0x1A", "%x"},         {"FF", "%X"},           {"0X10", "%i"},
      {"010", "%i"},       {"-010", "%i"},          {"77", "%o"},           {"4294967295", "%u"},
      {"-1", "%u"},        {"12:30", "%d%n"},       {"1 x", "%d %d"},       {"5", "%*d"},
      {"5 6", "%*d %d"},   {"abc 5", "abc %d"},     {"abd 5", "abc %d"},    {"ab", "ab%n"},
      {"10 20", "%d%n"},   {"100%", "%d%%"},        {"7 %", "%d %%"},       {"0400", "%2d%2d"},
      {"-", "%d"},         {"\t\n 9", "%d"},        {"2003-06-10", "%d-%d-%d"}, {"x", "%n%d"},
  };
  for (const auto& c : cases) {
    int a[3] = {-7, -7, -7}, b[3] = {-7, -7, -7};
    int rc = std::sscanf(c.text, c.fmt, &a[0], &a[1], &a[2]);
    std::u16string text = W(c.text), fmt = W(c.fmt);
    int rw = swscanf(text.c_str(), fmt.c_str(), &b[0], &b[1], &b[2]);
    EXPECT_EQ(rw, rc) << "'" << c.text << "' with " << c.fmt;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(b[i], a[i]) << "'" << c.text << "' with " << c.fmt << " field " << i;
  }
}

TEST(BaseScan, FloatConversionsMatchC) {
  const char* texts[] = {"3.25", "-0.5", "1e3", "1.5E-2", ".75", "7.", "inf", "-nan", "12abc", "abc", "", "+4"};
  for (const char* t : texts) {
    double a = -99, b = -99;
    int rc = std::sscanf(t, "%lf", &a);
    std::u16string text = W(t);
    int rw = swscanf(text.c_str(), u"%lf", &b);
    EXPECT_EQ(rw, rc) << t;
    if (rc == 1 && !std::isnan(a)) {
      EXPECT_EQ(b, a) << t;
    } else if (rc == 1) {
      EXPECT_TRUE(std::isnan(b)) << t;
    }
  }
  float f = 0;
  EXPECT_EQ(swscanf(u"2.5", u"%f", &f), 1);
  EXPECT_EQ(f, 2.5f);
  double d = 0;
  EXPECT_EQ(swscanf(u"123456", u"%3lf", &d), 1);
  EXPECT_EQ(d, 123.0);
}

TEST(BaseScan, PlatformLengthModifiers) {
  std::int32_t l = 0;
  long long ll = 0;
  short h = 0;
  signed char hh = 0;
  EXPECT_EQ(swscanf(u"-5 9000000000 70000 300", u"%ld %I64d %hd %hhd", &l, &ll, &h, &hh), 4);
  EXPECT_EQ(l, -5);
  EXPECT_EQ(ll, 9000000000ll);
  EXPECT_EQ(h, static_cast<short>(70000 & 0xFFFF));
  EXPECT_EQ(hh, static_cast<signed char>(300 & 0xFF));
}

TEST(BaseScan, StringsCharactersAndSets) {
  char16_t s1[16] = {}, s2[16] = {};
  EXPECT_EQ(swscanf(u"  hello world", u"%s %s", s1, s2), 2);
  EXPECT_EQ(std::u16string(s1), u"hello");
  EXPECT_EQ(std::u16string(s2), u"world");

  EXPECT_EQ(swscanf(u"abcdef", u"%3s", s1), 1);
  EXPECT_EQ(std::u16string(s1), u"abc");

  char16_t c3[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(swscanf(u" Jun", u" %3c", c3), 1);
  EXPECT_EQ(std::u16string(c3, 4), u"Junx");  // %c stores no terminator

  char16_t one = 0;
  EXPECT_EQ(swscanf(u" x", u"%c", &one), 1);
  EXPECT_EQ(one, u' ');  // %c does not skip white space

  EXPECT_EQ(swscanf(u"key=value;", u"%[^=]=%[a-z]", s1, s2), 2);
  EXPECT_EQ(std::u16string(s1), u"key");
  EXPECT_EQ(std::u16string(s2), u"value");
  EXPECT_EQ(swscanf(u"]]x", u"%[]]", s1), 1);
  EXPECT_EQ(std::u16string(s1), u"]]");
  EXPECT_EQ(swscanf(u"xyz", u"%[abc]", s1), 0);

  char narrow[16] = {};
  EXPECT_EQ(swscanf(u"Grüße rest", u"%S", narrow), 1);
  EXPECT_EQ(std::string(narrow), "Gr\xC3\xBC\xC3\x9F" "e");
  // A narrow field's width bounds the bytes it stores.
  char small[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(swscanf(u"üüü", u"%3hs", small), 1);
  EXPECT_EQ(std::string(small), "\xC3\xBC");

  // A narrow character takes one byte: a character beyond ASCII becomes '?'.
  char ch[2] = {'#', '#'};
  EXPECT_EQ(swscanf(u"é", u"%C", ch), 1);
  EXPECT_EQ(ch[0], '?');
  EXPECT_EQ(ch[1], '#');
  char three[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(swscanf(u"éab", u"%3hc", three), 1);
  EXPECT_EQ(std::string(three, 4), "\xC3\xA9" "a#");

  char16_t w[8] = {};
  EXPECT_EQ(swscanf(u"Привет мир", u"%s", w), 1);
  EXPECT_EQ(std::u16string(w), u"Привет");
}

TEST(BaseScan, DateFormatsOfFeeds) {
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  char16_t month[4] = {}, zone[11] = {};
  EXPECT_EQ(swscanf(u"10 Jun 2003 04:00:00 GMT", u"%2d %3c %d %2d:%2d:%2d %10s", &day, month, &year, &hour, &minute,
                    &second, zone),
            7);
  EXPECT_EQ(day, 10);
  EXPECT_EQ(std::u16string(month, 3), u"Jun");
  EXPECT_EQ(year, 2003);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(std::u16string(zone), u"GMT");

  // No seconds: the first picture stops at the missing colon with 5 fields.
  EXPECT_EQ(swscanf(u"10 Jun 03 04:00 PST", u"%2d %3c %d %2d:%2d:%2d %10s", &day, month, &year, &hour, &minute,
                    &second, zone),
            5);
  EXPECT_EQ(swscanf(u"10 Jun 03 04:00 PST", u"%2d %3c %d %2d:%2d %10s", &day, month, &year, &hour, &minute, zone), 6);
  EXPECT_EQ(std::u16string(zone), u"PST");
  // A date alone leaves the zone for input end.
  EXPECT_EQ(swscanf(u"10 Jun 99", u"%2d %3c %d %10s", &day, month, &year, zone), 3);
  int hh = 0, mm = 0;
  EXPECT_EQ(swscanf(u"0530", u"%2d%2d", &hh, &mm), 2);
  EXPECT_EQ(hh, 5);
  EXPECT_EQ(mm, 30);
}

TEST(BaseScan, EndOfInputAndMatchingFailures) {
  int a = -1, b = -1;
  struct Case {
    const char16_t* text;
    const char16_t* fmt;
    int expected;
  } cases[] = {
      {u"", u"%d", -1},
      {u"  ", u" %d", -1},
      {u"", u"abc%d", -1},
      {u"5", u"%*d%d", 0},   // a conversion completed before the input ended
      {u"5", u"%d%d", 1},
      {u"x5", u"%d", 0},
      {u"ab", u"%3c", -1},   // fewer characters than the width
      {u"", u"%n", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(swscanf(c.text, c.fmt, &a, &b), c.expected) << Utf16ToUtf8(c.text) << " / " << Utf16ToUtf8(c.fmt);
  }
}

TEST(BaseScan, HexPrefixNeedsADigit) {
  unsigned v = 99;
  int n = -1;
  EXPECT_EQ(swscanf(u"0xg", u"%x%n", &v, &n), 1);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(n, 1);  // only the 0 is read
  EXPECT_EQ(swscanf(u"0x7fffffff", u"%X", &v), 1);
  EXPECT_EQ(v, 0x7FFFFFFFu);
  // An exponent without digits is not part of the number.
  double d = 0;
  EXPECT_EQ(swscanf(u"1e", u"%lf%n", &d, &n), 1);
  EXPECT_EQ(d, 1.0);
  EXPECT_EQ(n, 1);
}

TEST(BaseScan, NullArgumentsFail) {
  int a = 0;
  EXPECT_EQ(swscanf(nullptr, u"%d", &a), -1);
  EXPECT_EQ(swscanf(u"1", nullptr), -1);
}
