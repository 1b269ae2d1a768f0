// The service's checks on a clock of the test's own: the daily time and the
// period, the update lock taken with a compare-and-set, a lock left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/VORegistry.h"
#include "platform/base/Time.h"
#include "service/AutoUpdateService.h"
#include "service/UpdateLock.h"
#include "tests/support/TempDevice.h"

namespace {

using plat::FILETIME;
using plat::SYSTEMTIME;

SYSTEMTIME At(int day, int hour, int minute) {
  SYSTEMTIME st{};
  st.wYear = 2026;
  st.wMonth = 6;
  st.wDay = static_cast<plat::WORD>(day);
  st.wHour = static_cast<plat::WORD>(hour);
  st.wMinute = static_cast<plat::WORD>(minute);
  return st;
}

FILETIME LocalFileTime(const SYSTEMTIME& st) {
  FILETIME ft{};
  plat::SystemTimeToFileTime(&st, &ft);
  return ft;
}

class ServiceScheduleTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { plat::SetClock(&clock_); }
  void TearDown() override { plat::SetClock(nullptr); }

  // Sets the clock so that the local time is st.
  void SetLocalNow(const SYSTEMTIME& st) {
    const FILETIME local = LocalFileTime(st);
    FILETIME utc{};
    ASSERT_TRUE(plat::LocalFileTimeToFileTime(&local, &utc));
    clock_.SetUtcFileTime(plat::FileTimeToULL(utc));
  }

  void SetDword(const char16_t* name, std::uint32_t v) { OpenSettingsKey().SetDWORD(name, v); }
  void SetTime(const char16_t* name, const FILETIME& t) {
    CVORegistry key = OpenSettingsKey();
    plat::BYTE data[8];
    std::memcpy(data, &t.dwLowDateTime, 4);
    std::memcpy(data + 4, &t.dwHighDateTime, 4);
    ASSERT_EQ(plat::RegSetValueExW(key.GetKey(), name, 0, plat::REG_BINARY, data, 8), 0);
  }

  // A check at a local time; true when it started an update.
  bool CheckAt(const SYSTEMTIME& st) {
    SetLocalNow(st);
    const unsigned before = posts_;
    service_.RunChecks(kStateOtherNetwork);
    return posts_ > before;
  }

  plat::ManualClock clock_;
  unsigned posts_ = 0;
  bool mainRunning_ = false;
  bool postSucceeds_ = true;
  CAutoUpdateService service_{ServiceSettings{},
                              ServiceActions{[this] { return mainRunning_; },
                                             [this] {
                                               if (postSucceeds_) ++posts_;
                                               return postSucceeds_;
                                             }}};
};

struct DailyCase {
  const char* name;
  int startHour, startMinute;
  // "LastUpdateTime" at the start (day, hour, minute); day 0: none stored.
  int lastDay, lastHour, lastMinute;
  // Checks (day, hour, minute) and whether each starts an update.
  std::vector<std::tuple<int, int, int, bool>> checks;
};

TEST_F(ServiceScheduleTest, DailyTimeUpdatesOnceADay) {
  const DailyCase cases[] = {
      {"start 07:00",
       7, 0, 0, 0, 0,
       {{1, 7, 1, false}, {1, 8, 29, false}, {1, 8, 31, true}, {1, 8, 31, false}, {1, 12, 0, false},
        {1, 23, 59, false}, {2, 7, 0, false}, {2, 8, 30, true}, {2, 8, 30, false}, {2, 8, 45, false}}},
      // Updated since the day's time: the day is done.
      {"start 09:00, updated at 08:35",
       9, 0, 1, 8, 35,
       {{1, 9, 1, false}, {1, 18, 0, false}, {2, 8, 0, false}, {2, 8, 31, true}, {2, 9, 0, false}}},
      // The time passed while the service did not run: made up once.
      {"start 09:00, last updated the day before",
       9, 0, 31, 8, 30,
       {{1, 9, 1, true}, {1, 9, 2, false}, {1, 18, 0, false}, {2, 8, 0, false}, {2, 8, 31, true},
        {2, 9, 0, false}}},
      {"start 09:00, updated today before the time",
       9, 0, 1, 7, 0, {{1, 9, 1, true}, {1, 9, 30, false}}},
      {"start 09:00, never updated", 9, 0, 0, 0, 0, {{1, 9, 1, true}, {1, 9, 2, false}, {2, 8, 31, true}}},
      {"start at the time", 8, 30, 0, 0, 0, {{1, 8, 30, true}, {1, 8, 30, false}, {1, 8, 31, false}}},
      // No check falls before the time on the later days (asleep overnight,
      // busy in the morning): the first check past the time on each day updates.
      {"no check before the time",
       7, 0, 0, 0, 0,
       {{1, 8, 31, true}, {1, 22, 0, false}, {2, 9, 0, true}, {2, 9, 5, false}, {3, 23, 59, true},
        {3, 23, 59, false}, {5, 12, 0, true}, {5, 18, 0, false}}},
      {"started past the time, updated since, next day late",
       9, 0, 1, 8, 40,
       {{1, 20, 0, false}, {2, 17, 0, true}, {2, 17, 1, false}}},
  };
  for (const DailyCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetDword(u"AutoUpdate", kAutoUpdateDaily);
    SetTime(u"AutoUpdateTime", LocalFileTime(At(20, 8, 30)));  // only the time of day counts
    plat::RegDeleteValueW(OpenSettingsKey().GetKey(), u"LastUpdateTime");
    // Day 31 is the last of the month before.
    if (c.lastDay != 0) {
      SYSTEMTIME last = At(c.lastDay, c.lastHour, c.lastMinute);
      if (c.lastDay == 31) last.wMonth = 5;
      SetTime(u"LastUpdateTime", LocalFileTime(last));
    }
    SetLocalNow(At(1, c.startHour, c.startMinute));
    service_.Begin(kStateOtherNetwork);
    for (const auto& [day, hour, minute, updates] : c.checks) {
      SCOPED_TRACE(testing::Message() << "day " << day << " " << hour << ":" << minute);
      EXPECT_EQ(CheckAt(At(day, hour, minute)), updates);
    }
  }
}

TEST_F(ServiceScheduleTest, PeriodCountsFromTheLastUpdate) {
  struct Case {
    const char* name;
    int hoursAgo;  // -1: no "LastUpdateTime"; -2: "LastUpdateTime" 0
    bool updates;
  } const cases[] = {
      {"5 hours ago", 5, false}, {"6 hours ago", 6, true}, {"30 hours ago", 30, true},
      {"never", -1, true},       {"stored as 0", -2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CVORegistry key = OpenSettingsKey();
    plat::RegDeleteValueW(key.GetKey(), u"LastUpdateTime");
    SetDword(u"AutoUpdate", 6);
    const SYSTEMTIME now = At(3, 14, 0);
    if (c.hoursAgo >= 0) {
      const plat::ULONGLONG hour = 3600ull * plat::FILETIME_TICKS_PER_SECOND;
      SetTime(u"LastUpdateTime", plat::ULLToFileTime(plat::FileTimeToULL(LocalFileTime(now)) - c.hoursAgo * hour));
    }
    if (c.hoursAgo == -2) SetTime(u"LastUpdateTime", FILETIME{0, 0});
    SetLocalNow(now);
    service_.Begin(kStateOtherNetwork);
    EXPECT_EQ(CheckAt(now), c.updates);
    if (!c.updates) continue;
    // The started update holds the lock. The main program stores the time of
    // its update and ends; the next check frees the lock and starts nothing.
    EXPECT_EQ(ReadUpdateLock(), kUpdateLockedByService);
    SetTime(u"LastUpdateTime", LocalFileTime(now));
    EXPECT_FALSE(CheckAt(now));
    EXPECT_EQ(ReadUpdateLock(), 0u);
  }
}

TEST_F(ServiceScheduleTest, TheLockDecidesWhoUpdates) {
  SetDword(u"AutoUpdate", 1);
  SetLocalNow(At(4, 10, 0));
  service_.Begin(kStateOtherNetwork);

  // A running main program's lock (2) stays, and nothing starts.
  mainRunning_ = true;
  SetDword(u"UpdateLocked", 2);
  EXPECT_FALSE(CheckAt(At(4, 10, 0)));
  EXPECT_EQ(ReadUpdateLock(), 2u);

  // Left behind by a main program that has gone: deleted, and the update starts.
  mainRunning_ = false;
  EXPECT_TRUE(CheckAt(At(4, 10, 1)));
  EXPECT_EQ(ReadUpdateLock(), kUpdateLockedByService);

  // A launch that fails gives the lock back, and the next check tries again.
  DeleteStaleUpdateLock(kUpdateLockedByService);
  postSucceeds_ = false;
  EXPECT_FALSE(CheckAt(At(4, 10, 2)));
  EXPECT_EQ(ReadUpdateLock(), 0u);
  postSucceeds_ = true;
  EXPECT_TRUE(CheckAt(At(4, 10, 3)));

  // "AutoUpdate" 0 is off.
  DeleteStaleUpdateLock(kUpdateLockedByService);
  SetDword(u"AutoUpdate", 0);
  EXPECT_FALSE(CheckAt(At(4, 11, 0)));
}

TEST_F(ServiceScheduleTest, AFailedDailyLaunchIsTriedAgainThatDay) {
  SetDword(u"AutoUpdate", kAutoUpdateDaily);
  SetTime(u"AutoUpdateTime", LocalFileTime(At(1, 8, 30)));
  SetLocalNow(At(5, 7, 0));
  service_.Begin(kStateOtherNetwork);
  postSucceeds_ = false;
  EXPECT_FALSE(CheckAt(At(5, 8, 31)));
  postSucceeds_ = true;
  EXPECT_TRUE(CheckAt(At(5, 8, 32)));
  EXPECT_FALSE(CheckAt(At(5, 8, 40)));
}

// A value of another type or size is no time: "AutoUpdateTime" then counts
// as the minute of the check, "LastUpdateTime" as never; a last update far
// in the future is no time either.
TEST_F(ServiceScheduleTest, ATimeOfAnotherTypeOrFarAheadCountsAsMissing) {
  const SYSTEMTIME now = At(7, 14, 0);
  const plat::ULONGLONG hour = 3600ull * plat::FILETIME_TICKS_PER_SECOND;
  const FILETIME nowTime = LocalFileTime(now);
  auto bytesOf = [](const FILETIME& t) {
    std::vector<plat::BYTE> b(8);
    std::memcpy(b.data(), &t.dwLowDateTime, 4);
    std::memcpy(b.data() + 4, &t.dwHighDateTime, 4);
    return b;
  };
  const std::vector<plat::BYTE> threeLetters = {'a', 0, 'b', 0, 'c', 0, 0, 0};  // "abc" as REG_SZ: 8 bytes
  struct Case {
    const char* name;
    const char16_t* value;
    plat::DWORD type;
    std::vector<plat::BYTE> data;
    std::uint32_t autoUpdate;
    bool updates;
  } const cases[] = {
      // Period of 6 hours; a real last update 1 hour ago holds it back.
      {"last update 1 hour ago", u"LastUpdateTime", plat::REG_BINARY,
       bytesOf(plat::ULLToFileTime(plat::FileTimeToULL(nowTime) - hour)), 6, false},
      {"last update a string", u"LastUpdateTime", plat::REG_SZ, threeLetters, 6, true},
      {"last update a REG_QWORD", u"LastUpdateTime", plat::REG_QWORD,
       bytesOf(plat::ULLToFileTime(plat::FileTimeToULL(nowTime) - hour)), 6, true},
      {"last update a DWORD pair", u"LastUpdateTime", plat::REG_DWORD, {1, 0, 0, 0}, 6, true},
      {"last update in 2 hours (clock set back)", u"LastUpdateTime", plat::REG_BINARY,
       bytesOf(plat::ULLToFileTime(plat::FileTimeToULL(nowTime) + 2 * hour)), 6, false},
      {"last update years ahead", u"LastUpdateTime", plat::REG_BINARY,
       bytesOf(plat::ULLToFileTime(plat::FileTimeToULL(nowTime) + 5 * 365 * 24 * hour)), 6, true},
      // Daily, started at 07:00 with the last update the day before: a real
      // time of 20:00 is not due at 14:00; one that is no time is the minute
      // of the check, so due.
      {"daily time 20:00", u"AutoUpdateTime", plat::REG_BINARY, bytesOf(LocalFileTime(At(1, 20, 0))),
       kAutoUpdateDaily, false},
      {"daily time a string", u"AutoUpdateTime", plat::REG_SZ, threeLetters, kAutoUpdateDaily, true},
      {"daily time a REG_QWORD", u"AutoUpdateTime", plat::REG_QWORD, bytesOf(LocalFileTime(At(1, 20, 0))),
       kAutoUpdateDaily, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CVORegistry key = OpenSettingsKey();
    plat::RegDeleteValueW(key.GetKey(), u"UpdateLocked");
    plat::RegDeleteValueW(key.GetKey(), u"AutoUpdateTime");
    SetTime(u"LastUpdateTime", LocalFileTime(At(6, 23, 0)));
    SetDword(u"AutoUpdate", c.autoUpdate);
    ASSERT_EQ(plat::RegSetValueExW(key.GetKey(), c.value, 0, c.type, c.data.data(),
                                   static_cast<plat::DWORD>(c.data.size())),
              0);
    SetLocalNow(At(7, 7, 0));
    service_.Begin(kStateOtherNetwork);
    EXPECT_EQ(CheckAt(now), c.updates);
  }
}

// The taking itself: missing or 0 becomes 1; a held lock is left alone; the
// service gives back only its own value.
TEST_F(ServiceScheduleTest, UpdateLockTakesAndGivesBackOnlyItsOwn) {
  EXPECT_TRUE(TryTakeUpdateLock());
  EXPECT_FALSE(TryTakeUpdateLock());
  ReleaseUpdateLock();
  EXPECT_EQ(ReadUpdateLock(), 0u);
  SetDword(u"UpdateLocked", 0);
  EXPECT_TRUE(TryTakeUpdateLock());
  SetDword(u"UpdateLocked", 2);  // the main program took over
  ReleaseUpdateLock();
  EXPECT_EQ(ReadUpdateLock(), 2u);
  DeleteStaleUpdateLock(1);  // not the value seen: stays
  EXPECT_EQ(ReadUpdateLock(), 2u);
  DeleteStaleUpdateLock(2);
  EXPECT_EQ(ReadUpdateLock(), 0u);
}

}  // namespace
