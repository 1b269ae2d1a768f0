// Locale information, number, date and time formatting and character
// classes, as the platform gives them. The device's locale is fixed (English,
// United States, 0x0409) unless a test poses another with SetLocaleForTesting.
#pragma once

#include <string>

#include "platform/base/Time.h"
#include "platform/base/Types.h"

namespace plat {

using LANGID = WORD;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_NEUTRAL = 0x0000;

constexpr LANGID MAKELANGID(WORD primary, WORD sub) { return static_cast<LANGID>((sub << 10) | primary); }
constexpr WORD PRIMARYLANGID(LANGID id) { return static_cast<WORD>(id & 0x3FF); }
constexpr WORD SUBLANGID(LANGID id) { return static_cast<WORD>(id >> 10); }
constexpr LCID MAKELCID(LANGID lang, WORD sort) { return (static_cast<LCID>(sort) << 16) | lang; }
constexpr LANGID LANGIDFROMLCID(LCID lcid) { return static_cast<LANGID>(lcid & 0xFFFF); }

// LCTYPE values.
constexpr LCTYPE LOCALE_NOUSEROVERRIDE = 0x80000000u;  // flag, ignored: there are no user overrides
constexpr LCTYPE LOCALE_RETURN_NUMBER = 0x20000000u;   // flag: the value as a DWORD in the buffer
constexpr LCTYPE LOCALE_ILANGUAGE = 0x0001;            // "0409"
constexpr LCTYPE LOCALE_SLANGUAGE = 0x0002;            // "English (United States)"
constexpr LCTYPE LOCALE_SABBREVLANGNAME = 0x0003;      // "ENU"
constexpr LCTYPE LOCALE_SNATIVELANGNAME = 0x0004;      // "English"
constexpr LCTYPE LOCALE_ICOUNTRY = 0x0005;             // "1"
constexpr LCTYPE LOCALE_SCOUNTRY = 0x0006;             // "United States"
constexpr LCTYPE LOCALE_SABBREVCTRYNAME = 0x0007;      // "USA"
constexpr LCTYPE LOCALE_SLIST = 0x000C;                // ","
constexpr LCTYPE LOCALE_IMEASURE = 0x000D;             // "1" (U.S.)
constexpr LCTYPE LOCALE_SDECIMAL = 0x000E;             // "."
constexpr LCTYPE LOCALE_STHOUSAND = 0x000F;            // ","
constexpr LCTYPE LOCALE_SGROUPING = 0x0010;            // "3;0"
constexpr LCTYPE LOCALE_IDIGITS = 0x0011;              // "2"
constexpr LCTYPE LOCALE_ILZERO = 0x0012;               // "1"
constexpr LCTYPE LOCALE_SNATIVEDIGITS = 0x0013;        // "0123456789"
constexpr LCTYPE LOCALE_SCURRENCY = 0x0014;            // "$"
constexpr LCTYPE LOCALE_SDATE = 0x001D;                // "/"
constexpr LCTYPE LOCALE_STIME = 0x001E;                // ":"
constexpr LCTYPE LOCALE_SSHORTDATE = 0x001F;           // "M/d/yyyy"
constexpr LCTYPE LOCALE_SLONGDATE = 0x0020;            // "dddd, MMMM dd, yyyy"
constexpr LCTYPE LOCALE_IDATE = 0x0021;                // "0" (month-day-year)
constexpr LCTYPE LOCALE_ITIME = 0x0023;                // "0" (12-hour)
constexpr LCTYPE LOCALE_S1159 = 0x0028;                // "AM"
constexpr LCTYPE LOCALE_S2359 = 0x0029;                // "PM"
constexpr LCTYPE LOCALE_SDAYNAME1 = 0x002A;            // "Monday" .. LOCALE_SDAYNAME7 "Sunday"
constexpr LCTYPE LOCALE_SDAYNAME7 = 0x0030;
constexpr LCTYPE LOCALE_SABBREVDAYNAME1 = 0x0031;      // "Mon" .. LOCALE_SABBREVDAYNAME7 "Sun"
constexpr LCTYPE LOCALE_SABBREVDAYNAME7 = 0x0037;
constexpr LCTYPE LOCALE_SMONTHNAME1 = 0x0038;          // "January" .. LOCALE_SMONTHNAME12
constexpr LCTYPE LOCALE_SMONTHNAME12 = 0x0043;
constexpr LCTYPE LOCALE_SABBREVMONTHNAME1 = 0x0044;    // "Jan" .. LOCALE_SABBREVMONTHNAME12
constexpr LCTYPE LOCALE_SABBREVMONTHNAME12 = 0x004F;
constexpr LCTYPE LOCALE_SPOSITIVESIGN = 0x0050;        // ""
constexpr LCTYPE LOCALE_SNEGATIVESIGN = 0x0051;        // "-"
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x0059;      // "en"
constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x005A;     // "US"
constexpr LCTYPE LOCALE_INEGNUMBER = 0x1010;           // "1" ("-1.1")
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;         // "English"
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;          // "United States"
constexpr LCTYPE LOCALE_STIMEFORMAT = 0x1003;          // "h:mm:ss tt"
constexpr LCTYPE LOCALE_IDEFAULTLANGUAGE = 0x0009;     // "0409"
constexpr LCTYPE LOCALE_IDEFAULTCODEPAGE = 0x000B;     // "437"
constexpr LCTYPE LOCALE_IDEFAULTANSICODEPAGE = 0x1004; // "1252"
constexpr LCTYPE LOCALE_IFIRSTDAYOFWEEK = 0x100C;      // "6" (Sunday)

// The locale's values, all of them text as GetLocaleInfoW gives them.
struct LocaleSettings {
  LCID lcid = 0x0409;
  std::u16string languageName = u"English (United States)";
  std::u16string englishLanguage = u"English";
  std::u16string nativeLanguage = u"English";
  std::u16string abbrevLanguage = u"ENU";
  std::u16string iso639 = u"en";
  std::u16string iso3166 = u"US";
  std::u16string country = u"United States";
  std::u16string abbrevCountry = u"USA";
  std::u16string countryCode = u"1";
  std::u16string list = u",";
  std::u16string measure = u"1";
  std::u16string decimal = u".";
  std::u16string thousand = u",";
  std::u16string grouping = u"3;0";
  std::u16string digits = u"2";
  std::u16string leadingZero = u"1";
  std::u16string negativeNumber = u"1";
  std::u16string negativeSign = u"-";
  std::u16string positiveSign = u"";
  std::u16string currency = u"$";
  std::u16string dateSeparator = u"/";
  std::u16string timeSeparator = u":";
  std::u16string shortDate = u"M/d/yyyy";
  std::u16string longDate = u"dddd, MMMM dd, yyyy";
  std::u16string timeFormat = u"h:mm:ss tt";
  std::u16string dateOrder = u"0";
  std::u16string timeMode = u"0";
  std::u16string am = u"AM";
  std::u16string pm = u"PM";
  std::u16string firstDayOfWeek = u"6";
  std::u16string oemCodePage = u"437";
  std::u16string ansiCodePage = u"1252";
  // Monday first, as the LOCALE_SDAYNAME1.. values run.
  std::u16string dayNames[7] = {u"Monday", u"Tuesday", u"Wednesday", u"Thursday",
                                u"Friday", u"Saturday", u"Sunday"};
  std::u16string abbrevDayNames[7] = {u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"};
  std::u16string monthNames[12] = {u"January", u"February", u"March",     u"April",
                                   u"May",     u"June",     u"July",      u"August",
                                   u"September", u"October", u"November", u"December"};
  std::u16string abbrevMonthNames[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                         u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
};

// Poses another locale for the whole process (user and system default);
// ResetLocaleForTesting restores English (United States).
void SetLocaleForTesting(const LocaleSettings& settings);
void ResetLocaleForTesting();
LocaleSettings CurrentLocaleSettings();

LANGID GetUserDefaultLangID();
LANGID GetSystemDefaultLangID();
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();

// Copies the value with its null into buf and returns the characters written
// including the null; with cch 0 returns the size needed. 0 on failure:
// ERROR_INSUFFICIENT_BUFFER, or ERROR_INVALID_PARAMETER for an unknown LCTYPE
// or a locale other than the device's (LOCALE_USER_DEFAULT,
// LOCALE_SYSTEM_DEFAULT, LOCALE_NEUTRAL and its own LCID are accepted).
int GetLocaleInfoW(LCID locale, LCTYPE type, char16_t* buf, int cch);

struct NUMBERFMTW {
  UINT NumDigits;        // digits after the decimal separator
  UINT LeadingZero;      // 1: "0.5", 0: ".5"
  UINT Grouping;         // 0..9, or 32 for "3;2;0" (Indic)
  const char16_t* lpDecimalSep;
  const char16_t* lpThousandSep;
  UINT NegativeOrder;    // 0 "(1.1)", 1 "-1.1", 2 "- 1.1", 3 "1.1-", 4 "1.1 -"
};

// Formats value ("-1234.5": optional minus, digits, optional "." and digits)
// with fmt, or the locale's number format when fmt is null: rounded (half away
// from zero) or padded to NumDigits, grouped, with the locale's separators.
// Returns the characters written including the null (the size needed when
// cch is 0), or 0: ERROR_INVALID_PARAMETER for a malformed value,
// ERROR_INSUFFICIENT_BUFFER.
int GetNumberFormatW(LCID locale, DWORD flags, const char16_t* value, const NUMBERFMTW* fmt,
                     char16_t* out, int cch);

// Date and time formatting. A null date or time is the current local time. A
// null format uses the locale's picture chosen by the flags. Pictures:
// d dd ddd dddd, M MM MMM MMMM, y yy yyyy, g gg (era, "A.D."); h hh H HH m mm
// s ss t tt; text in single quotes is copied ('' is one quote). Results as
// GetLocaleInfoW: characters written including the null, or 0 with
// ERROR_INVALID_PARAMETER / ERROR_INSUFFICIENT_BUFFER.
constexpr DWORD DATE_SHORTDATE = 0x00000001;
constexpr DWORD DATE_LONGDATE = 0x00000002;
constexpr DWORD DATE_USE_ALT_CALENDAR = 0x00000004;
constexpr DWORD TIME_NOMINUTESORSECONDS = 0x00000001;
constexpr DWORD TIME_NOSECONDS = 0x00000002;
constexpr DWORD TIME_NOTIMEMARKER = 0x00000004;
constexpr DWORD TIME_FORCE24HOURFORMAT = 0x00000008;

int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, const char16_t* format,
                   char16_t* out, int cch);
int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, const char16_t* format,
                   char16_t* out, int cch);

// Character classes.
constexpr DWORD CT_CTYPE1 = 0x0001;
constexpr DWORD CT_CTYPE2 = 0x0002;
constexpr DWORD CT_CTYPE3 = 0x0004;

constexpr WORD C1_UPPER = 0x0001;
constexpr WORD C1_LOWER = 0x0002;
constexpr WORD C1_DIGIT = 0x0004;
constexpr WORD C1_SPACE = 0x0008;
constexpr WORD C1_PUNCT = 0x0010;
constexpr WORD C1_CNTRL = 0x0020;
constexpr WORD C1_BLANK = 0x0040;
constexpr WORD C1_XDIGIT = 0x0080;
constexpr WORD C1_ALPHA = 0x0100;
constexpr WORD C1_DEFINED = 0x0200;

// Classes cch characters of src (cch -1: up to and including the null) into
// out, one WORD each. Only CT_CTYPE1 is supported; CT_CTYPE2 and CT_CTYPE3
// fail with ERROR_NOT_SUPPORTED.
BOOL GetStringTypeExW(LCID locale, DWORD infoType, const char16_t* src, int cch, WORD* out);
BOOL GetStringTypeW(DWORD infoType, const char16_t* src, int cch, WORD* out);

}  // namespace plat
