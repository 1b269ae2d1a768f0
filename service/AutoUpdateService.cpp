#include "service/AutoUpdateService.h"

#include <cstdlib>
#include <cstring>

#include "core/VORegistry.h"
#include "platform/base/Thread.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "service/UpdateLock.h"

namespace {

// A time of the product key: REG_BINARY of 8 bytes, as the main program and
// the options store it; false when missing, of another type or of another
// size (a string or a number of 8 bytes is no time).
bool ReadTime(CVORegistry& key, const char16_t* name, plat::FILETIME* out) {
  if (!key.IsOpen()) return false;
  plat::BYTE data[8] = {};
  plat::DWORD type = 0;
  plat::DWORD size = sizeof data;
  if (plat::RegQueryValueExW(key.GetKey(), name, nullptr, &type, data, &size) != plat::ERROR_SUCCESS ||
      type != plat::REG_BINARY || size != sizeof data)
    return false;
  std::memcpy(&out->dwLowDateTime, data, 4);
  std::memcpy(&out->dwHighDateTime, data + 4, 4);
  return true;
}

// A clock set back by an hour (the end of summer time) leaves the last
// update that far ahead; a time further ahead than this is no update time,
// and would hold the schedule back until then.
constexpr plat::ULONGLONG kLastUpdateAheadBound = 24ull * 3600 * plat::FILETIME_TICKS_PER_SECOND;

// "LastUpdateTime": false when missing, 0 (never), no time, or further in the
// future than the bound above.
bool ReadLastUpdate(CVORegistry& key, const plat::SYSTEMTIME& now, plat::FILETIME* out) {
  if (!ReadTime(key, u"LastUpdateTime", out)) return false;
  const plat::ULONGLONG last = plat::FileTimeToULL(*out);
  return last != 0 && last <= plat::FileTimeToULL(LocalMinute(now)) + kLastUpdateAheadBound;
}

plat::SYSTEMTIME LocalNow() {
  plat::SYSTEMTIME st{};
  plat::GetLocalTime(&st);
  return st;
}

// "AutoUpdateTime": missing, unreadable or of another size counts as now.
plat::FILETIME AutoUpdateTime(CVORegistry& key, const plat::SYSTEMTIME& now) {
  plat::FILETIME t{};
  if (!ReadTime(key, u"AutoUpdateTime", &t)) t = LocalMinute(now);
  return t;
}

}  // namespace

ServiceWake ClassifyServiceWait(plat::DWORD result, bool hasChangeEvent, bool hasActivityEvent) {
  if (result == plat::WAIT_TIMEOUT) return ServiceWake::Idle;
  if (result == plat::WAIT_OBJECT_0) return ServiceWake::Stop;
  plat::DWORD next = plat::WAIT_OBJECT_0 + 1;
  if (hasChangeEvent && result == next++) return ServiceWake::StateChange;
  if (hasActivityEvent && result == next) return ServiceWake::UserActivity;
  return ServiceWake::Failed;
}

// The variables and normal values are listed in the header.
ServiceSettings ServiceSettingsFromEnvironment() {
  ServiceSettings settings;
#if defined(ORV_TEST_SWITCHES)
  struct Setting {
    const char* name;
    plat::DWORD* value;
  } const settingsFromEnvironment[] = {
      {"ORVNEWS_SERVICE_IDLE_MS", &settings.idleMs},
      {"ORVNEWS_SERVICE_ACTIVITY_PAUSE_MS", &settings.activityPauseMs},
      {"ORVNEWS_SERVICE_LAUNCH_PAUSE_MS", &settings.launch.pauseMs},
      {"ORVNEWS_SERVICE_ANSWER_MS", &settings.launch.answerBoundMs},
  };
  for (const Setting& s : settingsFromEnvironment) {
    const char* text = std::getenv(s.name);
    if (!text) continue;
    const long ms = std::strtol(text, nullptr, 10);
    if (ms > 0 && ms < static_cast<long>(*s.value)) *s.value = static_cast<plat::DWORD>(ms);
  }
#endif
  return settings;
}

CAutoUpdateService::CAutoUpdateService(ServiceSettings settings, ServiceActions actions)
    : settings_(settings), actions_(std::move(actions)) {}

CAutoUpdateService::~CAutoUpdateService() {
  if (thread_) Stop();
  cover_.SetStopEvent(nullptr);
  if (userActivity_) plat::CloseHandle(userActivity_);
  if (stop_) plat::CloseHandle(stop_);
}

bool CAutoUpdateService::Start() {
  stop_ = plat::CreateLocalEvent(true, false);
  userActivity_ = plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, kUserActivityEventName);
  if (!stop_) return false;
  cover_.SetStopEvent(stop_);
  launcher_ = std::make_unique<CMainProgramLauncher>(cover_, stop_, settings_.launch);
  if (!actions_.isMainProgramRunning) actions_.isMainProgramRunning = [] { return CMainProgramLauncher::IsMainProgramRunning(); };
  if (!actions_.postUpdateNow) actions_.postUpdateNow = [this] { return launcher_->PostUpdateNow(); };
  watcher_ = std::make_unique<CradleWatcher>();
  thread_ = plat::CreateThread(nullptr, 0, &CAutoUpdateService::ThreadMain, this, 0, nullptr);
  return thread_ != nullptr;
}

bool CAutoUpdateService::Stop() {
  bool ended = true;
  if (thread_) {
    plat::SetEvent(stop_);
    ended = plat::WaitForSingleObject(thread_, settings_.stopBoundMs) == plat::WAIT_OBJECT_0;
    plat::CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (ended) {
    cover_.Hide();
    cover_.LastTry();  // a shell window the thread left out of place after the stop
    watcher_.reset();  // its own bounded stop
  }
  return ended;
}

plat::DWORD CAutoUpdateService::ThreadMain(void* param) {
  static_cast<CAutoUpdateService*>(param)->Run();
  return 0;
}

void CAutoUpdateService::Begin(plat::DWORD state) {
  CVORegistry key = OpenSettingsKey();
  const plat::SYSTEMTIME now = LocalNow();
  plat::FILETIME last{};
  const bool hasLast = ReadLastUpdate(key, now, &last);
  schedule_.Start(now, key.GetDWORD(u"AutoUpdate", 0), AutoUpdateTime(key, now), hasLast ? &last : nullptr);
  firstReport_ = true;
  cradle_ = state == kStateCradled;
}

void CAutoUpdateService::OnStateChange(plat::DWORD state) {
  // The watcher's first report is the state it found at its start, not a
  // change: a cradle found then does not count as being put into the cradle.
  const bool first = firstReport_;
  firstReport_ = false;
  if (state == kStateCradled) {
    if (!cradle_ && !first) cradle_ = true;
  } else {
    cradle_ = false;
  }
}

void CAutoUpdateService::RunChecks(plat::DWORD state) {
  ++checks_;
  std::uint32_t lock = ReadUpdateLock();
  if (lock != 0 && !actions_.isMainProgramRunning()) {
    DeleteStaleUpdateLock(lock);
    lock = ReadUpdateLock();
  }
  CVORegistry key = OpenSettingsKey();
  bool due = false;
  bool scheduled = false;
  if (key.GetDWORD(u"AutoUpdateWhenCradled", 0) != 0 && state == kStateCradled && cradle_) {
    cradle_ = false;
    due = lock == 0;
  } else {
    const std::uint32_t autoUpdate = key.GetDWORD(u"AutoUpdate", 0);
    if (autoUpdate != 0 && lock == 0) {
      const plat::SYSTEMTIME now = LocalNow();
      plat::FILETIME last{};
      const bool hasLast = ReadLastUpdate(key, now, &last);
      due = schedule_.IsDue(now, autoUpdate, AutoUpdateTime(key, now), hasLast ? &last : nullptr);
      scheduled = due;
    }
  }
  if (!due) return;
  // The lock is taken before the main program is asked, in one step, so a
  // main program starting an update meanwhile keeps its own.
  if (!TryTakeUpdateLock()) {
    if (scheduled) schedule_.Missed();
    return;
  }
  if (actions_.postUpdateNow()) {
    ++updates_;
    return;
  }
  ReleaseUpdateLock();
  if (scheduled) schedule_.Missed();
}

void CAutoUpdateService::Run() {
  Begin(watcher_->GetState());
  for (;;) {
    plat::HANDLE waits[3] = {stop_, nullptr, nullptr};
    plat::DWORD count = 1;
    plat::HANDLE change = watcher_->ChangeEvent();
    if (change) waits[count++] = change;
    if (userActivity_) waits[count++] = userActivity_;
    const plat::DWORD r = plat::WaitForMultipleObjects(count, waits, plat::FALSE, settings_.idleMs);
    const ServiceWake wake = ClassifyServiceWait(r, change != nullptr, userActivity_ != nullptr);
    if (wake == ServiceWake::Idle) {
      RunChecks(watcher_->GetState());
    } else if (wake == ServiceWake::StateChange) {
      OnStateChange(watcher_->GetState());
    } else if (wake == ServiceWake::UserActivity) {
      // The user is using the device: look again after a pause.
      ++pauses_;
      if (plat::WaitForSingleObject(stop_, settings_.activityPauseMs) != plat::WAIT_TIMEOUT) break;
    } else {
      break;  // stopped, or the wait failed: a failed wait would fail again at once
    }
  }
  cover_.Hide();
}
