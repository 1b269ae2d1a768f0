// System time, file times, the time zone and the tick count.
#include "platform/base/Time.h"

#include <sched.h>
#include <time.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/base/Text.h"

namespace plat {

namespace {

constexpr ULONGLONG kTicksPerDay = 86400ull * FILETIME_TICKS_PER_SECOND;
constexpr ULONGLONG kMaxFileTime = 0x7FFFFFFFFFFFFFFFull;
// Days from 1601-01-01 to 1970-01-01.
constexpr long long kDaysTo1970 = 134774;

class RealClock : public IClock {
 public:
  ULONGLONG NowUtcFileTime() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    long long ticks = static_cast<long long>(ts.tv_sec) * 10000000ll + ts.tv_nsec / 100;
    return FILETIME_UNIX_EPOCH + static_cast<ULONGLONG>(ticks);
  }
  DWORD TickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    unsigned long long ms = static_cast<unsigned long long>(ts.tv_sec) * 1000ull +
                            static_cast<unsigned long long>(ts.tv_nsec) / 1000000ull;
    return static_cast<DWORD>(ms);
  }
  void Sleep(DWORD ms) override {
    if (ms == 0) {
      sched_yield();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

// Never destroyed: code that runs at process exit may still read the time.
RealClock& TheRealClock() {
  static RealClock* clock = new RealClock;
  return *clock;
}
std::atomic<IClock*> g_clock{nullptr};

bool IsLeap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(long long y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

void TicksToSystemTime(ULONGLONG ticks, SYSTEMTIME* st) {
  ULONGLONG days = ticks / kTicksPerDay;
  ULONGLONG rest = ticks % kTicksPerDay;
  long long y;
  unsigned m, d;
  CivilFromDays(static_cast<long long>(days) - kDaysTo1970, y, m, d);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  ULONGLONG ms = rest / FILETIME_TICKS_PER_MS;
  st->wHour = static_cast<WORD>(ms / 3600000);
  st->wMinute = static_cast<WORD>(ms / 60000 % 60);
  st->wSecond = static_cast<WORD>(ms / 1000 % 60);
  st->wMilliseconds = static_cast<WORD>(ms % 1000);
}

// Offset of local time from UTC, in seconds, at the given Unix time.
long LocalOffsetAt(time_t t, tm* out = nullptr) {
  tzset();
  tm local{};
  if (!localtime_r(&t, &local)) return 0;
  if (out) *out = local;
  return local.tm_gmtoff;
}

time_t UnixSecondsOf(ULONGLONG fileTime) {
  return static_cast<time_t>((static_cast<long long>(fileTime) - static_cast<long long>(FILETIME_UNIX_EPOCH)) /
                             static_cast<long long>(FILETIME_TICKS_PER_SECOND));
}

// Offset of local time from UTC now (by the process's clock), in FILETIME ticks.
long long CurrentLocalOffsetTicks() {
  time_t now = UnixSecondsOf(CurrentClock().NowUtcFileTime());
  return static_cast<long long>(LocalOffsetAt(now)) * static_cast<long long>(FILETIME_TICKS_PER_SECOND);
}

void CopyName(WCHAR (&dst)[32], const char* name) {
  std::memset(dst, 0, sizeof dst);
  if (!name) return;
  std::u16string w = Utf8ToUtf16(name);
  std::size_t n = w.size() < 31 ? w.size() : 31;
  std::memcpy(dst, w.data(), n * sizeof(WCHAR));
}

// The transition rule, as the platform states it, for a change of offset
// that happens at Unix time t (the first second of the new offset):
// month, which weekday, its occurrence (5: the last one) and the local time
// (in the old offset) when it happens.
SYSTEMTIME TransitionRule(time_t t, long oldOffset) {
  long long localSeconds = static_cast<long long>(t) + oldOffset;
  ULONGLONG ticks = FILETIME_UNIX_EPOCH + static_cast<ULONGLONG>(localSeconds * 10000000ll);
  SYSTEMTIME st{};
  TicksToSystemTime(ticks, &st);
  SYSTEMTIME rule{};
  rule.wYear = 0;
  rule.wMonth = st.wMonth;
  rule.wDayOfWeek = st.wDayOfWeek;
  rule.wDay = static_cast<WORD>(st.wDay + 7 > DaysInMonth(st.wYear, st.wMonth) ? 5 : (st.wDay - 1) / 7 + 1);
  rule.wHour = st.wHour;
  rule.wMinute = st.wMinute;
  rule.wSecond = st.wSecond;
  return rule;
}

// First second in (from, to] whose offset differs from the offset at from.
time_t FindChange(time_t from, time_t to) {
  long base = LocalOffsetAt(from);
  while (to - from > 1) {
    time_t mid = from + (to - from) / 2;
    if (LocalOffsetAt(mid) == base) from = mid;
    else to = mid;
  }
  return to;
}

}  // namespace

void SetClock(IClock* clock) { g_clock.store(clock); }

IClock& CurrentClock() {
  IClock* c = g_clock.load();
  return c ? *c : TheRealClock();
}

ManualClock::ManualClock(ULONGLONG startUtcFileTime, DWORD startTick) : now_(startUtcFileTime), tick_(startTick) {}

ULONGLONG ManualClock::NowUtcFileTime() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

DWORD ManualClock::TickCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tick_;
}

void ManualClock::Sleep(DWORD ms) {
  sleeps_.fetch_add(1);
  Advance(ms);
}

void ManualClock::Advance(DWORD ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += static_cast<ULONGLONG>(ms) * FILETIME_TICKS_PER_MS;
  tick_ += ms;  // wraps as the platform's tick count does
}

void ManualClock::SetUtcFileTime(ULONGLONG ft) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ = ft;
}

void ManualClock::SetUtcTime(const SYSTEMTIME& st) {
  FILETIME ft{};
  if (SystemTimeToFileTime(&st, &ft)) SetUtcFileTime(FileTimeToULL(ft));
}

void GetSystemTime(SYSTEMTIME* st) {
  if (!st) return;
  TicksToSystemTime(CurrentClock().NowUtcFileTime(), st);
}

void GetLocalTime(SYSTEMTIME* st) {
  if (!st) return;
  ULONGLONG now = CurrentClock().NowUtcFileTime();
  long long offset = static_cast<long long>(LocalOffsetAt(UnixSecondsOf(now))) *
                     static_cast<long long>(FILETIME_TICKS_PER_SECOND);
  TicksToSystemTime(static_cast<ULONGLONG>(static_cast<long long>(now) + offset), st);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  if (!st || !ft) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59 || st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  long long days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) + kDaysTo1970;
  ULONGLONG ms = static_cast<ULONGLONG>(days) * 86400000ull + st->wHour * 3600000ull + st->wMinute * 60000ull +
                 st->wSecond * 1000ull + st->wMilliseconds;
  *ft = ULLToFileTime(ms * FILETIME_TICKS_PER_MS);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  if (!ft || !st || FileTimeToULL(*ft) > kMaxFileTime) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  TicksToSystemTime(FileTimeToULL(*ft), st);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (!utc || !local) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  long long v = static_cast<long long>(FileTimeToULL(*utc));
  long long offset = CurrentLocalOffsetTicks();
  if (FileTimeToULL(*utc) > kMaxFileTime || v + offset < 0 ||
      (offset > 0 && v > static_cast<long long>(kMaxFileTime) - offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *local = ULLToFileTime(static_cast<ULONGLONG>(v + offset));
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  if (!local || !utc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  long long v = static_cast<long long>(FileTimeToULL(*local));
  long long offset = CurrentLocalOffsetTicks();
  if (FileTimeToULL(*local) > kMaxFileTime || v - offset < 0 ||
      (offset < 0 && v > static_cast<long long>(kMaxFileTime) + offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *utc = ULLToFileTime(static_cast<ULONGLONG>(v - offset));
  return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  ULONGLONG x = FileTimeToULL(*a), y = FileTimeToULL(*b);
  return x < y ? -1 : x > y ? 1 : 0;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tzi) {
  if (!tzi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  std::memset(tzi, 0, sizeof *tzi);
  time_t now = UnixSecondsOf(CurrentClock().NowUtcFileTime());
  tm nowTm{};
  LocalOffsetAt(now, &nowTm);
  // The year's first day and its middle tell the standard offset (the smaller)
  // and the daylight offset apart, on either hemisphere.
  tm jan{};
  jan.tm_year = nowTm.tm_year;
  jan.tm_mon = 0;
  jan.tm_mday = 1;
  time_t yearStart = timegm(&jan);
  time_t yearEnd = yearStart + 366 * 86400;
  tm a{}, b{};
  long offA = LocalOffsetAt(yearStart, &a);
  long offB = LocalOffsetAt(yearStart + 182 * 86400, &b);
  if (offA == offB) {
    tzi->Bias = static_cast<LONG>(-offA / 60);
    CopyName(tzi->StandardName, a.tm_zone);
    CopyName(tzi->DaylightName, a.tm_zone);
    return TIME_ZONE_ID_UNKNOWN;
  }
  long standard = offA < offB ? offA : offB;
  long daylight = offA < offB ? offB : offA;
  tzi->Bias = static_cast<LONG>(-standard / 60);
  tzi->StandardBias = 0;
  tzi->DaylightBias = static_cast<LONG>(-(daylight - standard) / 60);
  CopyName(tzi->StandardName, (offA == standard ? a : b).tm_zone);
  CopyName(tzi->DaylightName, (offA == daylight ? a : b).tm_zone);
  // Find this year's two changes day by day, then to the second.
  time_t prev = yearStart;
  long prevOff = offA;
  for (time_t t = yearStart + 86400; t <= yearEnd; t += 86400) {
    long off = LocalOffsetAt(t);
    if (off != prevOff) {
      time_t change = FindChange(prev, t);
      long newOff = LocalOffsetAt(change);
      if (newOff == daylight) tzi->DaylightDate = TransitionRule(change, prevOff);
      else tzi->StandardDate = TransitionRule(change, prevOff);
      prevOff = off;
    }
    prev = t;
  }
  return nowTm.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

DWORD GetTickCount() { return CurrentClock().TickCount(); }

void Sleep(DWORD ms) { CurrentClock().Sleep(ms); }

}  // namespace plat
