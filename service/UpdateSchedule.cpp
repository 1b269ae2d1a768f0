#include "service/UpdateSchedule.h"

namespace {

constexpr plat::ULONGLONG kTicksPerHour = 3600ull * plat::FILETIME_TICKS_PER_SECOND;

plat::ULONGLONG Ticks(const plat::FILETIME& t) { return plat::FileTimeToULL(t); }

// Whether the last update ran at or after a time.
bool UpdatedSince(const plat::FILETIME* lastUpdate, plat::ULONGLONG time) {
  return lastUpdate && Ticks(*lastUpdate) != 0 && Ticks(*lastUpdate) >= time;
}

}  // namespace

plat::FILETIME LocalMinute(const plat::SYSTEMTIME& nowLocal) {
  plat::SYSTEMTIME st = nowLocal;
  st.wSecond = 0;
  st.wMilliseconds = 0;
  plat::FILETIME ft{};
  plat::SystemTimeToFileTime(&st, &ft);
  return ft;
}

plat::FILETIME TodayAt(const plat::SYSTEMTIME& nowLocal, const plat::FILETIME& timeOfDay) {
  plat::SYSTEMTIME at{};
  if (!plat::FileTimeToSystemTime(&timeOfDay, &at)) at = nowLocal;  // unreadable: the minute of the check
  plat::SYSTEMTIME st = nowLocal;
  st.wHour = at.wHour;
  st.wMinute = at.wMinute;
  st.wSecond = 0;
  st.wMilliseconds = 0;
  plat::FILETIME ft{};
  plat::SystemTimeToFileTime(&st, &ft);
  return ft;
}

void CUpdateSchedule::Start(const plat::SYSTEMTIME& nowLocal, std::uint32_t autoUpdate,
                            const plat::FILETIME& autoUpdateTime, const plat::FILETIME* lastUpdate) {
  doneDay_ = 0;
  if (autoUpdate != kAutoUpdateDaily) return;
  const plat::ULONGLONG target = Ticks(TodayAt(nowLocal, autoUpdateTime));
  if (Ticks(LocalMinute(nowLocal)) > target && UpdatedSince(lastUpdate, target)) doneDay_ = DayKey(nowLocal);
}

bool CUpdateSchedule::IsDue(const plat::SYSTEMTIME& nowLocal, std::uint32_t autoUpdate,
                            const plat::FILETIME& autoUpdateTime, const plat::FILETIME* lastUpdate) {
  if (autoUpdate == 0) return false;
  const plat::ULONGLONG now = Ticks(LocalMinute(nowLocal));
  if (autoUpdate == kAutoUpdateDaily) {
    // At or past today's time, once a day: a second check within the same
    // minute does not start a second update; the first check past the time
    // on a later day does.
    const plat::ULONGLONG target = Ticks(TodayAt(nowLocal, autoUpdateTime));
    if (now < target) {
      // Before the time (the time was moved later today): due again at it.
      doneDay_ = 0;
      return false;
    }
    if (DoneOn(nowLocal)) return false;
    doneDay_ = DayKey(nowLocal);
    return !UpdatedSince(lastUpdate, target);
  }
  if (!lastUpdate || Ticks(*lastUpdate) == 0) return true;
  return now >= Ticks(*lastUpdate) + autoUpdate * kTicksPerHour;
}
