#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/base/Text.h"
#include "platform/base/Time.h"

using namespace plat;

namespace {

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st{};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

ULONGLONG ToTicks(const SYSTEMTIME& st) {
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return FileTimeToULL(ft);
}

// Poses a time zone (TZ) and a manual clock for one test; restores both.
class BaseTimeZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    if (tz) saved_ = tz;
    SetClock(&clock_);
  }
  void TearDown() override {
    SetClock(nullptr);
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  void Pose(const char* tz, const SYSTEMTIME& utcNow) {
    setenv("TZ", tz, 1);
    tzset();
    clock_.SetUtcTime(utcNow);
  }
  ManualClock clock_;
  std::optional<std::string> saved_;
};

}  // namespace

TEST(BaseTime, KnownInstants) {
  struct Case {
    SYSTEMTIME st;
    ULONGLONG ticks;
    WORD dayOfWeek;
  } cases[] = {
      {St(1601, 1, 1), 0, 1},                                        // a Monday
      {St(1970, 1, 1), FILETIME_UNIX_EPOCH, 4},                      // a Thursday
      {St(2003, 6, 10, 4), 126996912000000000ull, 2},  // a Tuesday
      {St(2000, 2, 29, 23, 59, 59, 999), 125963423999990000ull, 2},
      {St(30828, 9, 14, 2, 48, 5, 477), 0x7FFFFFFFFFFFFFFFull / 10000 * 10000, 4},
  };
  for (const auto& c : cases) {
    SYSTEMTIME st{};
    FILETIME ft = ULLToFileTime(c.ticks);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << c.st.wYear;
    EXPECT_EQ(st.wYear, c.st.wYear);
    EXPECT_EQ(st.wMonth, c.st.wMonth);
    EXPECT_EQ(st.wDay, c.st.wDay);
    EXPECT_EQ(st.wHour, c.st.wHour);
    EXPECT_EQ(st.wMinute, c.st.wMinute);
    EXPECT_EQ(st.wSecond, c.st.wSecond);
    EXPECT_EQ(st.wMilliseconds, c.st.wMilliseconds);
    EXPECT_EQ(st.wDayOfWeek, c.dayOfWeek) << c.st.wYear;
  }
  // 2003-06-10 04:00 UTC as Unix time 1055217600.
  EXPECT_EQ(ToTicks(St(2003, 6, 10, 4)), FILETIME_UNIX_EPOCH + 1055217600ull * FILETIME_TICKS_PER_SECOND);
}

TEST(BaseTime, RoundTripsKeepEveryField) {
  const SYSTEMTIME cases[] = {St(1601, 1, 1),          St(1899, 12, 31, 23, 59, 59, 999), St(1900, 3, 1),
                              St(2004, 2, 29, 12, 30), St(2038, 1, 19, 3, 14, 8, 1),       St(2100, 2, 28),
                              St(9999, 12, 31, 23, 59, 59, 999), St(30827, 12, 31, 23, 59, 59, 999)};
  for (const auto& c : cases) {
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&c, &ft)) << c.wYear << "-" << c.wMonth << "-" << c.wDay;
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, c.wYear);
    EXPECT_EQ(back.wMonth, c.wMonth);
    EXPECT_EQ(back.wDay, c.wDay);
    EXPECT_EQ(back.wHour, c.wHour);
    EXPECT_EQ(back.wMinute, c.wMinute);
    EXPECT_EQ(back.wSecond, c.wSecond);
    EXPECT_EQ(back.wMilliseconds, c.wMilliseconds);
  }
  // Every day of a leap year and of a common year survives the trip.
  for (ULONGLONG t = ToTicks(St(2003, 12, 30)); t < ToTicks(St(2005, 1, 2)); t += 86400ull * 10000000ull) {
    FILETIME ft = ULLToFileTime(t), again{};
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    ASSERT_TRUE(SystemTimeToFileTime(&st, &again));
    EXPECT_EQ(FileTimeToULL(again), t);
  }
}

TEST(BaseTime, InvalidSystemTimesAreRejected) {
  const SYSTEMTIME cases[] = {
      St(2003, 2, 29), St(2004, 2, 30), St(2003, 2, 31), St(2003, 4, 31), St(2003, 13, 1), St(2003, 0, 1),
      St(2003, 1, 0),  St(2003, 1, 32), St(1600, 12, 31), St(30828, 1, 1), St(2003, 1, 1, 24), St(2003, 1, 1, 0, 60),
      St(2003, 1, 1, 0, 0, 60), St(2003, 1, 1, 0, 0, 0, 1000), St(1900, 2, 29),
  };
  for (const auto& c : cases) {
    FILETIME ft{123, 456};
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&c, &ft)) << c.wYear << "-" << c.wMonth << "-" << c.wDay << " " << c.wHour;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  FILETIME tooBig = ULLToFileTime(0x8000000000000000ull);
  SYSTEMTIME st{};
  EXPECT_FALSE(FileTimeToSystemTime(&tooBig, &st));
}

TEST(BaseTime, CompareFileTime) {
  FILETIME a = ULLToFileTime(5), b = ULLToFileTime(0x100000000ull), c = ULLToFileTime(5);
  EXPECT_EQ(CompareFileTime(&a, &b), -1);
  EXPECT_EQ(CompareFileTime(&b, &a), 1);
  EXPECT_EQ(CompareFileTime(&a, &c), 0);
}

TEST(BaseClock, ManualClockDrivesEveryReader) {
  ManualClock clock(ToTicks(St(2010, 5, 6, 7, 8, 9, 10)), 5000);
  SetClock(&clock);
  SYSTEMTIME st{};
  GetSystemTime(&st);
  EXPECT_EQ(st.wYear, 2010);
  EXPECT_EQ(st.wMonth, 5);
  EXPECT_EQ(st.wDay, 6);
  EXPECT_EQ(st.wDayOfWeek, 4);
  EXPECT_EQ(st.wSecond, 9);
  EXPECT_EQ(st.wMilliseconds, 10);
  EXPECT_EQ(GetTickCount(), 5000u);

  auto before = std::chrono::steady_clock::now();
  Sleep(60 * 60 * 1000);  // an hour passes at once
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::minutes(1));
  EXPECT_EQ(GetTickCount(), 5000u + 3600000u);
  GetSystemTime(&st);
  EXPECT_EQ(st.wHour, 8);
  EXPECT_EQ(clock.SleepCalls(), 1u);

  clock.Advance(250);
  EXPECT_EQ(GetTickCount(), 5000u + 3600250u);
  SetClock(nullptr);
  // The real clock is back: the system time is today's.
  GetSystemTime(&st);
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  EXPECT_EQ(st.wYear, utc.tm_year + 1900);
}

TEST(BaseClock, TickCountWrapsAround) {
  ManualClock clock(FILETIME_UNIX_EPOCH, 0xFFFFFF00u);
  SetClock(&clock);
  DWORD start = GetTickCount();
  clock.Advance(0x200);
  EXPECT_EQ(GetTickCount(), 0x100u);
  EXPECT_EQ(GetTickCount() - start, 0x200u);  // differences stay right across the wrap
  SetClock(nullptr);
}

TEST(BaseClock, RealSleepWaitsAtLeastTheTimeAsked) {
  DWORD t0 = GetTickCount();
  auto before = std::chrono::steady_clock::now();
  Sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(30));
  EXPECT_GE(GetTickCount() - t0, 29u);
}

TEST_F(BaseTimeZone, UnitedStatesEasternInSummer) {
  Pose("EST5EDT,M3.2.0,M11.1.0", St(2010, 7, 1, 12));
  TIME_ZONE_INFORMATION tzi{};
  EXPECT_EQ(GetTimeZoneInformation(&tzi), TIME_ZONE_ID_DAYLIGHT);
  EXPECT_EQ(tzi.Bias, 300);
  EXPECT_EQ(tzi.StandardBias, 0);
  EXPECT_EQ(tzi.DaylightBias, -60);
  EXPECT_EQ(Utf16ToUtf8(tzi.StandardName), "EST");
  EXPECT_EQ(Utf16ToUtf8(tzi.DaylightName), "EDT");
  // Second Sunday of March at 2:00; first Sunday of November at 2:00.
  EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
  EXPECT_EQ(tzi.DaylightDate.wDay, 2);
  EXPECT_EQ(tzi.DaylightDate.wDayOfWeek, 0);
  EXPECT_EQ(tzi.DaylightDate.wHour, 2);
  EXPECT_EQ(tzi.StandardDate.wMonth, 11);
  EXPECT_EQ(tzi.StandardDate.wDay, 1);
  EXPECT_EQ(tzi.StandardDate.wHour, 2);

  SYSTEMTIME local{};
  GetLocalTime(&local);
  EXPECT_EQ(local.wHour, 8);
  FILETIME utc = ULLToFileTime(ToTicks(St(2010, 7, 1, 12))), loc{}, back{};
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &loc));
  EXPECT_EQ(FileTimeToULL(loc), FileTimeToULL(utc) - 4ull * 3600 * 10000000);
  ASSERT_TRUE(LocalFileTimeToFileTime(&loc, &back));
  EXPECT_EQ(FileTimeToULL(back), FileTimeToULL(utc));
}

TEST_F(BaseTimeZone, CentralEuropeInWinter) {
  Pose("CET-1CEST,M3.5.0,M10.5.0/3", St(2010, 1, 15, 12));
  TIME_ZONE_INFORMATION tzi{};
  EXPECT_EQ(GetTimeZoneInformation(&tzi), TIME_ZONE_ID_STANDARD);
  EXPECT_EQ(tzi.Bias, -60);
  EXPECT_EQ(tzi.DaylightBias, -60);
  EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
  EXPECT_EQ(tzi.DaylightDate.wDay, 5);  // the last Sunday
  EXPECT_EQ(tzi.DaylightDate.wHour, 2);
  EXPECT_EQ(tzi.StandardDate.wMonth, 10);
  EXPECT_EQ(tzi.StandardDate.wDay, 5);
  EXPECT_EQ(tzi.StandardDate.wHour, 3);
  // Conversions use the bias in effect now (winter), for any instant.
  FILETIME summer = ULLToFileTime(ToTicks(St(2010, 7, 1, 12))), loc{};
  ASSERT_TRUE(FileTimeToLocalFileTime(&summer, &loc));
  EXPECT_EQ(FileTimeToULL(loc), FileTimeToULL(summer) + 3600ull * 10000000);
}

TEST_F(BaseTimeZone, ZoneWithoutDaylightSaving) {
  Pose("UTC0", St(2010, 7, 1, 12));
  TIME_ZONE_INFORMATION tzi{};
  EXPECT_EQ(GetTimeZoneInformation(&tzi), TIME_ZONE_ID_UNKNOWN);
  EXPECT_EQ(tzi.Bias, 0);
  EXPECT_EQ(tzi.DaylightDate.wMonth, 0);
  SYSTEMTIME local{}, utc{};
  GetLocalTime(&local);
  GetSystemTime(&utc);
  EXPECT_EQ(local.wHour, utc.wHour);
  // Times before the start of the file-time range cannot move further back.
  Pose("UTC-5", St(2010, 7, 1, 12));
  FILETIME zero = ULLToFileTime(0), out{};
  EXPECT_TRUE(FileTimeToLocalFileTime(&zero, &out));
  EXPECT_FALSE(LocalFileTimeToFileTime(&zero, &out));
}
