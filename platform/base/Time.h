// System time, file times, the time zone, the tick count and sleeping, all
// driven by one clock that tests can replace (SetClock, ManualClock).
#pragma once

#include <atomic>
#include <mutex>

#include "platform/base/Types.h"

namespace plat {

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1..12
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;        // 1..31
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// 100-nanosecond ticks since 1601-01-01 00:00 UTC, split in two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct TIME_ZONE_INFORMATION {
  LONG Bias;  // minutes: UTC = local time + Bias
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;  // wYear 0: month, week of month (wDay 1..5), day of week, time
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};

constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;
constexpr DWORD TIME_ZONE_ID_INVALID = 0xFFFFFFFFu;

// Ticks per unit of FILETIME.
constexpr ULONGLONG FILETIME_TICKS_PER_MS = 10000ull;
constexpr ULONGLONG FILETIME_TICKS_PER_SECOND = 10000000ull;
// FILETIME of 1970-01-01 00:00 UTC.
constexpr ULONGLONG FILETIME_UNIX_EPOCH = 116444736000000000ull;

inline ULONGLONG FileTimeToULL(const FILETIME& ft) {
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME ULLToFileTime(ULONGLONG v) {
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFFu), static_cast<DWORD>(v >> 32)};
}

// The source of time. The real clock reads the host's clocks and sleeps.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual ULONGLONG NowUtcFileTime() = 0;  // now, as FILETIME ticks
  virtual DWORD TickCount() = 0;           // ms since an arbitrary start, wraps
  virtual void Sleep(DWORD ms) = 0;
};

// Makes clock the process's clock (not owned; it must outlive its use);
// nullptr restores the real clock.
void SetClock(IClock* clock);
IClock& CurrentClock();

// A clock for tests: time moves only by Advance, Set and Sleep; Sleep advances
// the clock by the time asked and returns at once. Thread-safe.
class ManualClock : public IClock {
 public:
  // Starts at 2010-01-01 00:00:00 UTC with tick count 1000 unless told otherwise.
  explicit ManualClock(ULONGLONG startUtcFileTime = 129067776000000000ull, DWORD startTick = 1000);

  ULONGLONG NowUtcFileTime() override;
  DWORD TickCount() override;
  void Sleep(DWORD ms) override;

  void Advance(DWORD ms);
  void SetUtcFileTime(ULONGLONG ft);  // moves the date only, not the tick count
  void SetUtcTime(const SYSTEMTIME& st);  // the same from a system time (UTC)
  DWORD SleepCalls() const { return sleeps_.load(); }

 private:
  std::mutex mutex_;
  ULONGLONG now_;
  DWORD tick_;
  std::atomic<DWORD> sleeps_{0};
};

void GetSystemTime(SYSTEMTIME* st);  // UTC
void GetLocalTime(SYSTEMTIME* st);   // in the host's time zone (TZ respected)

// Fails (FALSE, ERROR_INVALID_PARAMETER) on any field out of range: month not
// 1..12, a day the month lacks (Feb 30, Feb 29 outside leap years), hour > 23,
// minute or second > 59, milliseconds > 999, year < 1601 or > 30827.
// wDayOfWeek is ignored.
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
// Sets every field including wDayOfWeek; fails above 0x7FFFFFFFFFFFFFFF.
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
// Shift by the time zone bias in effect now (daylight saving as of now).
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
// -1, 0 or 1.
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

// The host's time zone (TZ respected): TIME_ZONE_ID_STANDARD or _DAYLIGHT when
// the zone has daylight saving, TIME_ZONE_ID_UNKNOWN when it has none.
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tzi);

DWORD GetTickCount();
// Sleep(0) yields the rest of the time slice.
void Sleep(DWORD ms);

}  // namespace plat
