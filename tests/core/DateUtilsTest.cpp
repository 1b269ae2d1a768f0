#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/DateUtils.h"
#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "platform/base/Locale.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "platform/resources/Resources.h"
#include "tests/support/TempDevice.h"
#include "tools/rc/ResourceCompiler.h"

using plat::FILETIME;

namespace {

// File time of a UTC civil time, worked out independently of the platform's
// conversions.
std::uint64_t Utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
  using namespace std::chrono;
  sys_days day = year{y} / month{mo} / std::chrono::day{d};
  long long secs = day.time_since_epoch().count() * 86400LL + h * 3600LL + mi * 60LL + s;
  return static_cast<std::uint64_t>(static_cast<long long>(plat::FILETIME_UNIX_EPOCH) + secs * 10000000LL);
}

struct DateCase {
  const char16_t* text;
  std::optional<std::uint64_t> expected;  // nullopt: the parse fails
  const char* why;
};

std::string Narrow(const char16_t* s) { return plat::Utf16ToUtf8(s); }

void CheckCases(bool (*parse)(std::u16string_view, FILETIME&), const DateCase* begin, const DateCase* end) {
  for (const DateCase* c = begin; c != end; ++c) {
    // A failed parse leaves the result as it was.
    FILETIME ft = plat::ULLToFileTime(0x1234567890ull);
    bool ok = parse(c->text, ft);
    if (c->expected) {
      EXPECT_TRUE(ok) << "\"" << Narrow(c->text) << "\": " << c->why;
      EXPECT_EQ(plat::FileTimeToULL(ft), *c->expected) << "\"" << Narrow(c->text) << "\": " << c->why;
    } else {
      EXPECT_FALSE(ok) << "\"" << Narrow(c->text) << "\": " << c->why;
      EXPECT_EQ(plat::FileTimeToULL(ft), 0x1234567890ull) << "\"" << Narrow(c->text) << "\": " << c->why;
    }
  }
}

constexpr std::nullopt_t kFails = std::nullopt;

class DateUtils : public orvtest::DeviceTest {};
class DateUtilsClock : public orvtest::DeviceTest {};

}  // namespace

TEST_F(DateUtils, Rfc822AsFeedsWriteIt) {
  const DateCase cases[] = {
      {u"Tue, 10 Jun 2003 04:00:00 GMT", Utc(2003, 6, 10, 4), "RSS 2.0 sample"},
      {u"Wed, 02 Oct 2002 13:00:00 GMT", Utc(2002, 10, 2, 13), "leading zero in the day"},
      {u"Sat, 07 Sep 2002 00:00:01 GMT", Utc(2002, 9, 7, 0, 0, 1), "one second past midnight"},
      {u"Mon, 1 Jan 2001 9:05:07 GMT", Utc(2001, 1, 1, 9, 5, 7), "one-digit day and hour"},
      {u"Tue, 10 Jun 2003 04:00:00 UT", Utc(2003, 6, 10, 4), "UT"},
      {u"Tue, 10 Jun 2003 04:00:00", Utc(2003, 6, 10, 4), "no zone: UTC"},
      {u"10 Jun 2003 04:00:00 GMT", Utc(2003, 6, 10, 4), "no day name"},
      {u"Tue, 10 jun 2003 04:00:00 gmt", Utc(2003, 6, 10, 4), "month and zone ignore case"},
      {u"TUE, 10 JUN 2003 04:00:00 GMT", Utc(2003, 6, 10, 4), "upper case"},
      {u"Thu, 29 Feb 2004 12:00:00 GMT", Utc(2004, 2, 29, 12), "leap day"},
      {u"Tue, 10 Jun 2003 04:00:00 GMT and more", Utc(2003, 6, 10, 4), "text after the zone is ignored"},
      // Surrounding and inner white space.
      {u"  Tue, 10 Jun 2003 04:00:00 GMT  \r\n", Utc(2003, 6, 10, 4), "surrounding white space"},
      {u"\tTue,\t10\tJun\t2003\t04:00:00\tGMT\t", Utc(2003, 6, 10, 4), "tabs"},
      {u"Tue,10 Jun 2003 04:00:00 GMT", Utc(2003, 6, 10, 4), "no space after the comma"},
      // Missing seconds, missing time.
      {u"10 Jun 03 04:00 PST", Utc(2003, 6, 10, 12), "no seconds, two-digit year"},
      {u"Tue, 10 Jun 2003 04:00 +0200", Utc(2003, 6, 10, 2), "no seconds, numeric zone"},
      {u"Tue, 10 Jun 2003 04:00", Utc(2003, 6, 10, 4), "no seconds, no zone"},
      {u"10 Jun 99", Utc(1999, 6, 10), "date only, two-digit year"},
      {u"Tue, 10 Jun 2003 GMT", Utc(2003, 6, 10), "date and zone"},
      // Two-digit years: 50..99 are the 1900s, 00..49 the 2000s.
      {u"1 Jan 50 00:00:00 GMT", Utc(1950, 1, 1), "50 is 1950"},
      {u"1 Jan 49 00:00:00 GMT", Utc(2049, 1, 1), "49 is 2049"},
      {u"1 Jan 00 00:00:00 GMT", Utc(2000, 1, 1), "00 is 2000"},
      {u"1 Jan 0003 00:00:00 GMT", Utc(2003, 1, 1), "a year below 100 however written"},
      // Year limits of file times.
      {u"1 Jan 1601 00:00:00 GMT", Utc(1601, 1, 1), "the first file time"},
      {u"31 Dec 30827 23:59:59 GMT", Utc(30827, 12, 31, 23, 59, 59), "the last year"},
  };
  CheckCases(&ParseRfc822Date, std::begin(cases), std::end(cases));
}

TEST_F(DateUtils, Rfc822Zones) {
  // Named zones add their offset to reach UTC; one-letter military zones
  // follow RFC 822's signs (A = local time + 1 h, N = local time - 1 h), which
  // RFC 1123 calls wrong: feeds that use them get the RFC 822 reading. J names
  // no zone and lower-case letters are no zone either; both count as UTC, as
  // do unknown names.
  const DateCase cases[] = {
      {u"10 Jun 2003 04:00:00 EST", Utc(2003, 6, 10, 9), "EST +5 h"},
      {u"10 Jun 2003 04:00:00 EDT", Utc(2003, 6, 10, 8), "EDT +4 h"},
      {u"10 Jun 2003 04:00:00 CST", Utc(2003, 6, 10, 10), "CST +6 h"},
      {u"10 Jun 2003 04:00:00 CDT", Utc(2003, 6, 10, 9), "CDT +5 h"},
      {u"10 Jun 2003 04:00:00 MST", Utc(2003, 6, 10, 11), "MST +7 h"},
      {u"10 Jun 2003 04:00:00 MDT", Utc(2003, 6, 10, 10), "MDT +6 h"},
      {u"10 Jun 2003 04:00:00 PST", Utc(2003, 6, 10, 12), "PST +8 h"},
      {u"10 Jun 2003 04:00:00 PDT", Utc(2003, 6, 10, 11), "PDT +7 h"},
      {u"10 Jun 2003 04:00:00 est", Utc(2003, 6, 10, 9), "names ignore case"},
      {u"10 Jun 2003 04:00:00 CEST", Utc(2003, 6, 10, 4), "unknown name: UTC"},
      {u"10 Jun 2003 04:00:00 Z", Utc(2003, 6, 10, 4), "Z is UTC"},
      {u"10 Jun 2003 04:00:00 A", Utc(2003, 6, 10, 5), "A +1 h (RFC 822 sign)"},
      {u"10 Jun 2003 04:00:00 I", Utc(2003, 6, 10, 13), "I +9 h"},
      {u"10 Jun 2003 04:00:00 J", Utc(2003, 6, 10, 4), "J names no zone: UTC"},
      {u"10 Jun 2003 04:00:00 K", Utc(2003, 6, 10, 14), "K +10 h (J skipped)"},
      {u"10 Jun 2003 04:00:00 M", Utc(2003, 6, 10, 16), "M +12 h"},
      {u"10 Jun 2003 04:00:00 N", Utc(2003, 6, 10, 3), "N -1 h (RFC 822 sign)"},
      {u"10 Jun 2003 04:00:00 Y", Utc(2003, 6, 9, 16), "Y -12 h"},
      {u"10 Jun 2003 04:00:00 a", Utc(2003, 6, 10, 4), "lower-case letter: UTC"},
      // Numeric zones: a plus sign subtracts, a minus sign adds.
      {u"Tue, 10 Jun 2003 04:00:00 +0200", Utc(2003, 6, 10, 2), "+0200"},
      {u"Tue, 10 Jun 2003 04:00:00 -0530", Utc(2003, 6, 10, 9, 30), "-0530"},
      {u"Tue, 10 Jun 2003 04:00:00 +0000", Utc(2003, 6, 10, 4), "+0000"},
      {u"Tue, 10 Jun 2003 04:00:00 -0000", Utc(2003, 6, 10, 4), "-0000"},
      {u"Tue, 10 Jun 2003 04:00:00 +10:00", Utc(2003, 6, 9, 18), "zone written with a colon"},
      {u"Sun, 31 Dec 2000 23:30:00 -0100", Utc(2001, 1, 1, 0, 30), "zone moves into the next year"},
      {u"Tue, 10 Jun 2003 04:00 +1000", Utc(2003, 6, 9, 18), "no seconds, +1000"},
      {u"Tue, 10 Jun 2003 +1000", Utc(2003, 6, 9, 14), "numeric zone is not read as the hour"},
      {u"Tue, 10 Jun 2003 -0130", Utc(2003, 6, 10, 1, 30), "date and numeric zone"},
      // Numeric zones that do not read fail the parse.
      {u"Tue, 10 Jun 2003 04:00:00 +2400", kFails, "zone hours above 23"},
      {u"Tue, 10 Jun 2003 04:00:00 +0060", kFails, "zone minutes above 59"},
      {u"Tue, 10 Jun 2003 04:00:00 +02a0", kFails, "letter in the zone"},
      {u"Tue, 10 Jun 2003 04:00:00 +10000", kFails, "zone too long"},
      {u"Tue, 10 Jun 2003 04:00:00 +1", kFails, "zone too short"},
      {u"Tue, 10 Jun 2003 04:00:00 +-100", kFails, "signed zone hours"},
      {u"Tue, 10 Jun 2003 04:00:00 -", kFails, "sign alone"},
      // The result must stay a file time.
      {u"1 Jan 1601 00:00:00 +0100", kFails, "before the first file time"},
      {u"1 Jan 1601 00:00:00 -0100", Utc(1601, 1, 1, 1), "just after the first file time"},
      {u"31 Dec 30827 23:59:59 M", Utc(30828, 1, 1, 11, 59, 59), "past the last year, still a file time"},
  };
  CheckCases(&ParseRfc822Date, std::begin(cases), std::end(cases));
}

TEST_F(DateUtils, Rfc822Failures) {
  const DateCase cases[] = {
      {u"", kFails, "empty"},
      {u"   \t ", kFails, "white space"},
      {u"garbage", kFails, "garbage"},
      {u"Tue,", kFails, "day name only"},
      {u"Tue, 10 Jun", kFails, "no year"},
      {u"10 Foo 2003", kFails, "unknown month"},
      {u"10 June 2003 04:00:00 GMT", kFails, "full month name"},
      {u"10-Jun-2003", kFails, "hyphens"},
      {u"Tue 10 Jun 2003 04:00:00 GMT", kFails, "day name without its comma"},
      {u"31 Feb 2003", kFails, "day the month lacks"},
      {u"29 Feb 2003 00:00:00 GMT", kFails, "no leap day in 2003"},
      {u"0 Jun 2003", kFails, "day 0"},
      {u"32 Jan 2003", kFails, "day 32"},
      {u"-5 Jun 2003", kFails, "negative day"},
      {u"100 Jun 2003", kFails, "day overflows its field"},
      {u"10 Jun 2003 24:00:00 GMT", kFails, "hour 24"},
      {u"10 Jun 2003 04:60:00 GMT", kFails, "minute 60"},
      {u"10 Jun 2003 04:00:60 GMT", kFails, "second 60"},
      {u"10 Jun 2003 123:00:00 GMT", kFails, "hour overflows its field"},
      {u"10 Jun 2003 04:000:00 GMT", kFails, "minute overflows its field"},
      {u"10 Jun 2003 04:00:000 GMT", kFails, "second overflows its field"},
      {u"10 Jun -2003", kFails, "negative year"},
      {u"10 Jun +2003", kFails, "signed year"},
      {u"10 Jun 100", kFails, "three-digit year is kept, before 1601"},
      {u"10 Jun 1600", kFails, "year before 1601"},
      {u"10 Jun 30828", kFails, "year after 30827"},
      {u"10 Jun 67539 04:00:00 GMT", kFails, "year that a 16-bit field would wrap to 2003"},
      {u"10 Jun 4294969299 04:00:00 GMT", kFails, "year that a 32-bit field would wrap to 2003"},
      {u"10 Jun 99999999999999999999 04:00:00 GMT", kFails, "year overflows"},
      {u"2003-06-10T04:00:00Z", kFails, "ISO form"},
  };
  CheckCases(&ParseRfc822Date, std::begin(cases), std::end(cases));
}

TEST_F(DateUtils, Iso8601) {
  const DateCase cases[] = {
      {u"2003-06-10T04:00:00Z", Utc(2003, 6, 10, 4), "UTC"},
      {u"2003-06-10T04:00:00.25Z", Utc(2003, 6, 10, 4), "fraction ignored"},
      {u"2003-06-10T04:00:00.123456789012345678Z", Utc(2003, 6, 10, 4), "long fraction ignored"},
      {u"2003-06-10T04:00Z", Utc(2003, 6, 10, 4), "no seconds"},
      {u"2003-06-10T04:00:00+02:00", Utc(2003, 6, 10, 2), "plus zone subtracts"},
      {u"2003-06-10T04:00:00-05:00", Utc(2003, 6, 10, 9), "minus zone adds"},
      {u"2003-06-10T04:00-05:30", Utc(2003, 6, 10, 9, 30), "zone after minutes"},
      {u"2003-06-10T04:00:00.25+02:00", Utc(2003, 6, 10, 2), "fraction and zone"},
      {u"2003-06-10T23:30:00-01:00", Utc(2003, 6, 11, 0, 30), "zone moves to the next day"},
      {u"2003-06-10T04:00:00", Utc(2003, 6, 10, 4), "no zone: UTC"},
      {u"2003-06-10T04:00:00 and more", Utc(2003, 6, 10, 4), "text after the time ignored"},
      {u"2003-06-10", Utc(2003, 6, 10), "date only: midnight UTC"},
      {u"2003-6-1", Utc(2003, 6, 1), "one-digit month and day"},
      {u"2003-06-10t04:00:00Z", Utc(2003, 6, 10), "lower-case t is no time"},
      {u"2003-06-10 04:00:00", Utc(2003, 6, 10), "a space is no time"},
      {u"  2003-06-10T04:00:00Z \r\n", Utc(2003, 6, 10, 4), "surrounding white space"},
      {u"\t2003-06-10\t", Utc(2003, 6, 10), "tabs"},
      {u"2004-02-29T12:00:00Z", Utc(2004, 2, 29, 12), "leap day"},
      {u"1601-01-01T00:30:00+00:30", Utc(1601, 1, 1), "the first file time"},
      // Failures.
      {u"", kFails, "empty"},
      {u"garbage", kFails, "garbage"},
      {u"2003", kFails, "year only"},
      {u"2003-06", kFails, "no day"},
      {u"20030610T040000Z", kFails, "basic format"},
      {u"-2003-06-10", kFails, "negative year"},
      {u"2003-06-10T04", kFails, "no minutes"},
      {u"2003-06-10T04:", kFails, "minutes missing after the colon"},
      {u"2003-06-10T04:00:", kFails, "seconds missing after the colon"},
      {u"2003-06-10T04:00:00.Z", kFails, "fraction missing after the stop"},
      {u"2003-06-10Tgarbage", kFails, "garbage after T"},
      {u"2003-06-10T04:00:00+02", kFails, "zone without minutes"},
      {u"2003-06-10T04:00:00+0200", kFails, "zone without colon"},
      {u"2003-06-10T04:00:00+24:00", kFails, "zone hours above 23"},
      {u"2003-06-10T04:00:00+02:60", kFails, "zone minutes above 59"},
      {u"2003-06-10T04:00:00+4294967298:00", kFails, "zone hours overflow"},
      {u"2003-13-01", kFails, "month 13"},
      {u"2003-00-01", kFails, "month 0"},
      {u"2003-06-00", kFails, "day 0"},
      {u"2003-06-32", kFails, "day 32"},
      {u"2003-02-30", kFails, "day the month lacks"},
      {u"2003-06-10T24:00:00Z", kFails, "hour 24"},
      {u"2003-06-10T04:60:00Z", kFails, "minute 60"},
      {u"2003-06-10T04:00:60Z", kFails, "second 60"},
      {u"2003-06-10T4294967300:00Z", kFails, "hour that a 32-bit field would wrap to 4"},
      {u"2003-06-10T04:4294967296Z", kFails, "minute that a 32-bit field would wrap to 0"},
      {u"1600-12-31", kFails, "year before 1601"},
      {u"30828-01-01", kFails, "year after 30827"},
      {u"67539-06-10", kFails, "year that a 16-bit field would wrap to 2003"},
      {u"4294969299-06-10", kFails, "year that a 32-bit field would wrap to 2003"},
      {u"99999999999999999999-06-10", kFails, "year overflows"},
      {u"2003-4294967302-10", kFails, "month that a 32-bit field would wrap to 6"},
      {u"1601-01-01T00:00:00+00:01", kFails, "before the first file time"},
      {u"Tue, 10 Jun 2003 04:00:00 GMT", kFails, "RFC 822 form"},
  };
  CheckCases(&ParseIso8601Date, std::begin(cases), std::end(cases));
}

TEST_F(DateUtils, ParseDateTimeTriesBothForms) {
  const DateCase cases[] = {
      {u"Tue, 10 Jun 2003 04:00:00 EDT", Utc(2003, 6, 10, 8), "RFC 822"},
      {u"2003-06-10T04:00:00+02:00", Utc(2003, 6, 10, 2), "ISO 8601"},
      {u" 2003-06-10 ", Utc(2003, 6, 10), "ISO 8601 date with white space"},
  };
  for (const DateCase& c : cases) {
    FILETIME ft{};
    EXPECT_TRUE(ParseDateTime(c.text, ft)) << c.why;
    EXPECT_EQ(plat::FileTimeToULL(ft), *c.expected) << c.why;
  }
  // Both failing gives 0, whatever the result held.
  const char16_t* failures[] = {u"10 Foo 2003", u"31 Feb 2003", u"", u"garbage", u"2003-13-01"};
  for (const char16_t* text : failures) {
    FILETIME ft = plat::ULLToFileTime(Utc(2010, 1, 1));
    EXPECT_FALSE(ParseDateTime(text, ft)) << Narrow(text);
    EXPECT_EQ(plat::FileTimeToULL(ft), 0u) << Narrow(text);
  }
}

namespace {

// Formatting runs in a posed time zone at a posed time.
class DateFormatTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    if (tz) savedTz_ = tz;
    plat::SetClock(&clock_);
    plat::ResetLocaleForTesting();
  }
  void TearDown() override {
    plat::SetClock(nullptr);
    if (savedTz_) setenv("TZ", savedTz_->c_str(), 1);
    else unsetenv("TZ");
    plat::ResetLocaleForTesting();
  }
  void Pose(const char* tz, std::uint64_t nowUtc) {
    setenv("TZ", tz, 1);
    clock_.SetUtcFileTime(nowUtc);
  }
  static std::u16string Format(std::uint64_t t, bool dateOnly = false) {
    return FormatDateTime(plat::ULLToFileTime(t), dateOnly);
  }

  plat::ManualClock clock_;
  std::optional<std::string> savedTz_;
};

}  // namespace

TEST_F(DateFormatTest, OtherDaysShowTheShortDateAndTheTime) {
  Pose("UTC0", Utc(2010, 6, 15, 12));
  EXPECT_EQ(Format(Utc(2010, 6, 10, 4, 30)), u"6/10/2010 4:30 AM");
  EXPECT_EQ(Format(Utc(2010, 6, 10, 16, 5, 59)), u"6/10/2010 4:05 PM");  // no seconds
  EXPECT_EQ(Format(Utc(2010, 6, 10, 4, 30), true), u"6/10/2010");
  EXPECT_EQ(Format(Utc(2010, 6, 10)), u"6/10/2010");  // midnight: no time
  EXPECT_EQ(Format(Utc(2010, 6, 16, 9)), u"6/16/2010 9:00 AM");  // tomorrow is another day
  EXPECT_EQ(Format(Utc(2009, 6, 15, 9)), u"6/15/2009 9:00 AM");  // same day, other year
}

TEST_F(DateFormatTest, TodayShowsTheTimeAlone) {
  Pose("UTC0", Utc(2010, 6, 15, 12));
  EXPECT_EQ(Format(Utc(2010, 6, 15, 4)), u"4:00 AM");
  EXPECT_EQ(Format(Utc(2010, 6, 15, 4), true), u"4:00 AM");  // no date to show alone
  EXPECT_EQ(Format(Utc(2010, 6, 15, 0, 0, 1)), u"12:00 AM");
}

TEST_F(DateFormatTest, ZeroIsEmpty) {
  Pose("UTC0", Utc(2010, 6, 15, 12));
  EXPECT_EQ(Format(0), u"");
  EXPECT_EQ(Format(0, true), u"");
}

TEST_F(DateFormatTest, LocalTimeDecides) {
  // Five hours behind UTC, no daylight saving.
  Pose("EST5", Utc(2010, 6, 15, 17));
  EXPECT_EQ(Format(Utc(2010, 6, 15, 14, 30)), u"9:30 AM");                // today, local time
  EXPECT_EQ(Format(Utc(2010, 6, 15, 3)), u"6/14/2010 10:00 PM");          // yesterday evening, local
  EXPECT_EQ(Format(Utc(2010, 6, 15)), u"6/14/2010");                      // midnight UTC: no time shown
}

TEST_F(DateFormatTest, FollowsTheLocale) {
  plat::LocaleSettings german;
  german.lcid = 0x0407;
  german.shortDate = u"dd.MM.yyyy";
  german.timeFormat = u"HH:mm:ss";
  plat::SetLocaleForTesting(german);
  Pose("UTC0", Utc(2010, 6, 15, 12));
  EXPECT_EQ(Format(Utc(2010, 6, 3, 16, 5, 59)), u"03.06.2010 16:05");
  EXPECT_EQ(Format(Utc(2010, 6, 15, 8, 7)), u"08:07");
}

namespace {

// The word for today comes from the program's string resources, through the
// language file.
class DateFormatTodayTest : public DateFormatTest {
 protected:
  void SetUp() override {
    DateFormatTest::SetUp();
    GetLocalizer().Unload();
    plat::ResourceCompileResult rc =
        plat::CompileResourceScript("STRINGTABLE\nBEGIN\n  195 \"today\"\nEND\n", device_.Scratch());
    ASSERT_TRUE(rc.ok) << rc.error;
    ASSERT_TRUE(plat::BindModuleResources(plat::GetModuleHandleW(nullptr), std::move(rc.image)));
  }
  void TearDown() override {
    plat::BindModuleResources(plat::GetModuleHandleW(nullptr), nullptr, 0);
    GetLocalizer().Unload();
    DateFormatTest::TearDown();
  }
  void LoadGerman() {
    const std::u16string path = u"\\lang\\de.txt";
    ASSERT_TRUE(CreateFolderTree(u"\\lang"));
    plat::HANDLE h = plat::CreateFileW(path.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS,
                                       plat::FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, plat::INVALID_HANDLE_VALUE);
    const char text[] = "today|heute\n";
    plat::DWORD written = 0;
    ASSERT_TRUE(plat::WriteFile(h, text, sizeof text - 1, &written, nullptr));
    plat::CloseHandle(h);
    ASSERT_TRUE(GetLocalizer().LoadFile(path.c_str()));
  }
};

}  // namespace

TEST_F(DateFormatTodayTest, MidnightOfTodayShowsTheWordForToday) {
  Pose("UTC0", Utc(2010, 6, 15, 12));
  EXPECT_EQ(Format(Utc(2010, 6, 15)), u"today");
  LoadGerman();
  EXPECT_EQ(Format(Utc(2010, 6, 15)), u"heute");
  EXPECT_EQ(Format(Utc(2010, 6, 15), true), u"heute");
  EXPECT_EQ(Format(Utc(2010, 6, 15, 4)), u"4:00 AM");  // a time of day shows the time instead
}

TEST_F(DateFormatTodayTest, TimeOfDayMustExistInUtcAndLocally) {
  LoadGerman();
  Pose("EST5", Utc(2010, 6, 15, 17));
  // 05:00 UTC is local midnight of today: no local time of day.
  EXPECT_EQ(Format(Utc(2010, 6, 15, 5)), u"heute");
  Pose("UTC-3", Utc(2010, 6, 15, 17));
  // Midnight UTC is 03:00 local time today: no time of day in UTC.
  EXPECT_EQ(Format(Utc(2010, 6, 15)), u"heute");
  EXPECT_EQ(Format(Utc(2010, 6, 15, 1)), u"4:00 AM");
}

TEST_F(DateUtilsClock, CurrentFileTimeFollowsTheClock) {
  plat::ManualClock clock(Utc(2011, 3, 4, 5, 6, 7));
  plat::SetClock(&clock);
  FILETIME ft{};
  GetCurrentFileTime(ft);
  EXPECT_EQ(plat::FileTimeToULL(ft), Utc(2011, 3, 4, 5, 6, 7));
  clock.Advance(1500);
  GetCurrentFileTime(ft);
  EXPECT_EQ(plat::FileTimeToULL(ft), Utc(2011, 3, 4, 5, 6, 8) + 5000000u);
  plat::SetClock(nullptr);
}
