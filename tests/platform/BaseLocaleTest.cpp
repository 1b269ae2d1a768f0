#include <gtest/gtest.h>

#include <string>

#include "platform/base/Format.h"
#include "platform/base/Locale.h"
#include "platform/base/Text.h"

using namespace plat;

namespace {

class BaseLocale : public ::testing::Test {
 protected:
  void TearDown() override { ResetLocaleForTesting(); }

  static std::u16string Info(LCTYPE type, LCID lcid = LOCALE_USER_DEFAULT) {
    char16_t buf[100];
    int n = GetLocaleInfoW(lcid, type, buf, 100);
    if (n == 0) return u"<failed>";
    EXPECT_EQ(static_cast<std::size_t>(n), StrLen(buf) + 1);
    return buf;
  }

  static std::u16string Number(const char16_t* value, const NUMBERFMTW* fmt = nullptr) {
    char16_t buf[100];
    int n = GetNumberFormatW(LOCALE_USER_DEFAULT, 0, value, fmt, buf, 100);
    return n == 0 ? u"<failed>" : std::u16string(buf);
  }

  static std::u16string Date(DWORD flags, const SYSTEMTIME& st, const char16_t* pic = nullptr) {
    char16_t buf[100];
    int n = GetDateFormatW(LOCALE_USER_DEFAULT, flags, &st, pic, buf, 100);
    return n == 0 ? u"<failed>" : std::u16string(buf);
  }

  static std::u16string Time(DWORD flags, const SYSTEMTIME& st, const char16_t* pic = nullptr) {
    char16_t buf[100];
    int n = GetTimeFormatW(LOCALE_USER_DEFAULT, flags, &st, pic, buf, 100);
    return n == 0 ? u"<failed>" : std::u16string(buf);
  }

  static SYSTEMTIME At(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0) {
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    return st;
  }
};

}  // namespace

TEST_F(BaseLocale, DefaultIsEnglishUnitedStates) {
  EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
  EXPECT_EQ(GetSystemDefaultLangID(), 0x0409);
  EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
  struct Case {
    LCTYPE type;
    std::u16string value;
  } cases[] = {
      {LOCALE_SDECIMAL, u"."},          {LOCALE_STHOUSAND, u","},           {LOCALE_SGROUPING, u"3;0"},
      {LOCALE_IDIGITS, u"2"},           {LOCALE_ILZERO, u"1"},              {LOCALE_INEGNUMBER, u"1"},
      {LOCALE_SSHORTDATE, u"M/d/yyyy"}, {LOCALE_STIMEFORMAT, u"h:mm:ss tt"}, {LOCALE_ILANGUAGE, u"0409"},
      {LOCALE_SISO639LANGNAME, u"en"},  {LOCALE_SISO3166CTRYNAME, u"US"},   {LOCALE_SABBREVLANGNAME, u"ENU"},
      {LOCALE_SDAYNAME1, u"Monday"},    {LOCALE_SABBREVMONTHNAME1 + 11, u"Dec"},
      {LOCALE_SDECIMAL | LOCALE_NOUSEROVERRIDE, u"."},
  };
  for (const auto& c : cases) EXPECT_EQ(Info(c.type), c.value) << c.type;
  EXPECT_EQ(Info(LOCALE_SDECIMAL, LOCALE_SYSTEM_DEFAULT), u".");
  EXPECT_EQ(Info(LOCALE_SDECIMAL, 0x0409), u".");
}

TEST_F(BaseLocale, LocaleInfoBufferRules) {
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, nullptr, 0), 9);
  char16_t small[4];
  SetLastError(0);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, small, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, 0x7777, small, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SDECIMAL, small, 4), 0);  // a locale the device does not have
  DWORD digits = 0;
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDIGITS | LOCALE_RETURN_NUMBER,
                           reinterpret_cast<char16_t*>(&digits), 2),
            2);
  EXPECT_EQ(digits, 2u);
}

TEST_F(BaseLocale, NumbersWithTheLocaleFormat) {
  struct Case {
    const char16_t* in;
    std::u16string out;
  } cases[] = {
      {u"1234.50", u"1,234.50"},   {u"1234.5", u"1,234.50"},      {u"1234567", u"1,234,567.00"},
      {u"-1234.5", u"-1,234.50"},  {u"0.005", u"0.01"},           {u"0.994", u"0.99"},
      {u"999.995", u"1,000.00"},   {u".5", u"0.50"},              {u"0", u"0.00"},
      {u"123", u"123.00"},         {u"000123.4", u"123.40"},      {u"-0.001", u"0.00"},
      {u"1536.00", u"1,536.00"},   {u"100", u"100.00"},           {u"-999999.999", u"-1,000,000.00"},
      {u"abc", u"<failed>"},       {u"1.2.3", u"<failed>"},       {u"", u"<failed>"},
      {u"-", u"<failed>"},         {u"1e5", u"<failed>"},         {u" 1", u"<failed>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Number(c.in), c.out) << Utf16ToUtf8(c.in);
  // As the core formats a double: "%.2lf" first, then the locale.
  std::u16string printed = FormatString(u"%.2lf", 1234.5);
  EXPECT_EQ(Number(printed.c_str()), u"1,234.50");
}

TEST_F(BaseLocale, NumbersWithAnExplicitFormat) {
  NUMBERFMTW f{0, 1, 32, u".", u",", 1};
  EXPECT_EQ(Number(u"1234567.89", &f), u"12,34,568");  // Indic grouping, no decimals
  f.Grouping = 0;
  EXPECT_EQ(Number(u"1234567", &f), u"1234567");
  f.Grouping = 30;
  EXPECT_EQ(Number(u"1234567", &f), u"1234,567");  // one group only
  f = NUMBERFMTW{3, 0, 3, u",", u" ", 0};
  EXPECT_EQ(Number(u"0.5", &f), u",500");
  EXPECT_EQ(Number(u"-12345.6", &f), u"(12 345,600)");
  const std::u16string negatives[] = {u"(1,5)", u"-1,5", u"- 1,5", u"1,5-", u"1,5 -"};
  for (UINT order = 0; order < 5; ++order) {
    NUMBERFMTW g{1, 1, 3, u",", u".", order};
    EXPECT_EQ(Number(u"-1.5", &g), negatives[order]) << order;
  }
  NUMBERFMTW bad{2, 1, 3, nullptr, u",", 1};
  EXPECT_EQ(Number(u"1", &bad), u"<failed>");
  // Size query and too small a buffer.
  EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, u"1234.5", nullptr, nullptr, 0), 9);
  char16_t tiny[5];
  SetLastError(0);
  EXPECT_EQ(GetNumberFormatW(LOCALE_USER_DEFAULT, 0, u"1234.5", nullptr, tiny, 5), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(BaseLocale, PosedLocaleChangesEveryAnswer) {
  LocaleSettings de;
  de.lcid = 0x0407;
  de.iso639 = u"de";
  de.decimal = u",";
  de.thousand = u".";
  de.shortDate = u"dd.MM.yyyy";
  de.timeFormat = u"HH:mm:ss";
  SetLocaleForTesting(de);
  EXPECT_EQ(GetSystemDefaultLangID(), 0x0407);
  EXPECT_EQ(Info(LOCALE_SDECIMAL), u",");
  EXPECT_EQ(Number(u"1234.5"), u"1.234,50");
  EXPECT_EQ(Date(DATE_SHORTDATE, At(2003, 6, 1)), u"01.06.2003");
  EXPECT_EQ(Time(TIME_NOSECONDS, At(2003, 6, 1, 16, 5, 9)), u"16:05");
  ResetLocaleForTesting();
  EXPECT_EQ(Info(LOCALE_SDECIMAL), u".");
}

TEST_F(BaseLocale, DatePictures) {
  SYSTEMTIME st = At(2003, 6, 10, 4, 5, 6);
  st.wDayOfWeek = 5;  // wrong on purpose: the day is worked out from the date
  struct Case {
    DWORD flags;
    const char16_t* pic;
    std::u16string out;
  } cases[] = {
      {DATE_SHORTDATE, nullptr, u"6/10/2003"},
      {DATE_LONGDATE, nullptr, u"Tuesday, June 10, 2003"},
      {0, nullptr, u"6/10/2003"},
      {0, u"dd MMM yy", u"10 Jun 03"},
      {0, u"ddd, d MMMM yyyy", u"Tue, 10 June 2003"},
      {0, u"M/d/y", u"6/10/3"},
      {0, u"'Day' d 'of' MM", u"Day 10 of 06"},
      {0, u"''yy", u"'03"},
      {0, u"yyyy-MM-dd hh:mm", u"2003-06-10 hh:mm"},  // time letters are text here
      {0, u"gg yyyy", u"A.D. 2003"},
  };
  for (const auto& c : cases) EXPECT_EQ(Date(c.flags, st, c.pic), c.out) << (c.pic ? Utf16ToUtf8(c.pic) : "");
  EXPECT_EQ(Date(DATE_SHORTDATE, At(2003, 2, 30)), u"<failed>");
  EXPECT_EQ(Date(DATE_SHORTDATE, st, u"d"), u"<failed>");  // a picture and a flag
  EXPECT_EQ(Date(DATE_SHORTDATE | DATE_LONGDATE, st), u"<failed>");
  char16_t small[5];
  SetLastError(0);
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, small, 5), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, nullptr, 0), 10);
}

TEST_F(BaseLocale, TimePictures) {
  struct Case {
    SYSTEMTIME st;
    DWORD flags;
    const char16_t* pic;
    std::u16string out;
  } cases[] = {
      {At(2003, 6, 10, 16, 5, 9), 0, nullptr, u"4:05:09 PM"},
      {At(2003, 6, 10, 16, 5, 9), TIME_NOSECONDS, nullptr, u"4:05 PM"},
      {At(2003, 6, 10, 16, 5, 9), TIME_NOMINUTESORSECONDS, nullptr, u"4 PM"},
      {At(2003, 6, 10, 16, 5, 9), TIME_NOTIMEMARKER, nullptr, u"4:05:09"},
      {At(2003, 6, 10, 16, 5, 9), TIME_FORCE24HOURFORMAT, nullptr, u"16:05:09"},
      {At(2003, 6, 10, 0, 0, 0), 0, nullptr, u"12:00:00 AM"},
      {At(2003, 6, 10, 12, 30, 0), TIME_NOSECONDS, nullptr, u"12:30 PM"},
      {At(2003, 6, 10, 9, 7, 3), 0, u"HH'h'mm t", u"09h07 A"},
      {At(2003, 6, 10, 21, 7, 3), 0, u"tt hh:mm", u"PM 09:07"},
      {At(2003, 6, 10, 21, 7, 3), TIME_NOTIMEMARKER, u"tt hh:mm", u"09:07"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Time(c.flags, c.st, c.pic), c.out) << c.st.wHour << " flags " << c.flags;
  EXPECT_EQ(Time(0, At(2003, 6, 10, 24, 0, 0)), u"<failed>");
}

TEST_F(BaseLocale, WhiteSpaceClasses) {
  const char16_t spaces[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x2005,
                             0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char16_t c : spaces) {
    WORD t = 0;
    ASSERT_TRUE(GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE1, &c, 1, &t));
    EXPECT_TRUE(t & C1_SPACE) << std::hex << static_cast<int>(c);
  }
  const char16_t others[] = {u'a', u'0', u'.', 0x200B, 0xFEFF, 0x00, 0x1F, u'Ж'};
  for (char16_t c : others) {
    WORD t = 0;
    ASSERT_TRUE(GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE1, &c, 1, &t));
    EXPECT_FALSE(t & C1_SPACE) << std::hex << static_cast<int>(c);
  }
}

TEST_F(BaseLocale, CharacterClasses) {
  const char16_t text[] = u"aZ5f!Ж\t";
  WORD t[8] = {};
  ASSERT_TRUE(GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE1, text, -1, t));  // with the null
  EXPECT_EQ(t[0] & (C1_LOWER | C1_ALPHA | C1_XDIGIT), C1_LOWER | C1_ALPHA | C1_XDIGIT);
  EXPECT_EQ(t[1] & (C1_UPPER | C1_ALPHA | C1_XDIGIT), C1_UPPER | C1_ALPHA);
  EXPECT_EQ(t[2] & (C1_DIGIT | C1_XDIGIT | C1_ALPHA), C1_DIGIT | C1_XDIGIT);
  EXPECT_TRUE(t[3] & C1_XDIGIT);
  EXPECT_EQ(t[4] & (C1_PUNCT | C1_ALPHA), C1_PUNCT);
  EXPECT_EQ(t[5] & (C1_UPPER | C1_ALPHA), C1_UPPER | C1_ALPHA);
  EXPECT_EQ(t[6] & (C1_SPACE | C1_BLANK | C1_CNTRL), C1_SPACE | C1_BLANK | C1_CNTRL);
  EXPECT_TRUE(t[7] & C1_CNTRL);  // the null
  SetLastError(0);
  EXPECT_FALSE(GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE2, text, 1, t));
  EXPECT_FALSE(GetStringTypeExW(LOCALE_USER_DEFAULT, CT_CTYPE1, text, 0, t));
}
