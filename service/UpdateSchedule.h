// When a scheduled update is due: "AutoUpdate" as a period in hours since
// "LastUpdateTime", or 24 for once a day at the time of day of "AutoUpdateTime".
//
// Both times are FILETIMEs in local time, as the program stores them
// ("LastUpdateTime" is written from the local clock, "AutoUpdateTime" from the
// options page's local time of day), so the comparisons below are between the
// user's times of day; only the hour and minute of "AutoUpdateTime" count.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/base/Time.h"

// "AutoUpdate" meaning daily at "AutoUpdateTime".
inline constexpr std::uint32_t kAutoUpdateDaily = 24;

class CUpdateSchedule {
 public:
  // At the service's start: in daily mode, a start past today's time counts
  // as done today when an update ran since that time (lastUpdate at or past
  // it), so it does not update again; a time that passed without an update
  // (the device was off, the service stopped) is made up by the first check.
  // lastUpdate: null when "LastUpdateTime" is missing or no time (never
  // updated).
  void Start(const plat::SYSTEMTIME& nowLocal, std::uint32_t autoUpdate, const plat::FILETIME& autoUpdateTime,
             const plat::FILETIME* lastUpdate);

  // One check. nowLocal is cut to the minute here. lastUpdate as for Start;
  // in daily mode an update since today's time (of the main program's own,
  // say) counts as the day's.
  bool IsDue(const plat::SYSTEMTIME& nowLocal, std::uint32_t autoUpdate, const plat::FILETIME& autoUpdateTime,
             const plat::FILETIME* lastUpdate);

  // The update that IsDue asked for could not be started: the next check
  // tries again the same day.
  void Missed() { doneDay_ = 0; }

  // Whether the daily update counts as done on the day of nowLocal.
  bool DoneOn(const plat::SYSTEMTIME& nowLocal) const { return doneDay_ != 0 && doneDay_ == DayKey(nowLocal); }

 private:
  // The local date as one number (yyyymmdd): the day the daily update was
  // done is kept, not a flag, so that a new day is due at its time even when
  // no check fell before the time (a device asleep or busy until after it).
  static std::uint32_t DayKey(const plat::SYSTEMTIME& st) {
    return st.wYear * 10000u + st.wMonth * 100u + st.wDay;
  }
  std::uint32_t doneDay_ = 0;  // 0: not done on any day
};

// The local time as a FILETIME, cut to the minute.
plat::FILETIME LocalMinute(const plat::SYSTEMTIME& nowLocal);
// Today's date (of nowLocal) at the hour and minute of a local FILETIME.
plat::FILETIME TodayAt(const plat::SYSTEMTIME& nowLocal, const plat::FILETIME& timeOfDay);
