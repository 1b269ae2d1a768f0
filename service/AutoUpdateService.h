// The auto-update service: one thread that waits for the cradle, the user's
// idleness and the schedule, and starts an update of all channels in the main
// program when one is due.
//
// Every wait of the thread ends at once when the service stops, so Stop
// returns within its bound; the screen cover is always taken down and what it
// subclassed given back.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/base/Handle.h"
#include "platform/base/Time.h"
#include "service/CradleWatcher.h"
#include "service/MainProgramLauncher.h"
#include "service/ScreenCover.h"
#include "service/UpdateSchedule.h"

inline constexpr const char16_t* kUserActivityEventName = u"PowerManager/UserActivity_Active";

struct ServiceSettings {
  plat::DWORD idleMs = 30000;           // a check runs after this long without activity or change
  plat::DWORD activityPauseMs = 5000;   // the pause after the user was seen active
  plat::DWORD stopBoundMs = 20000;      // Stop waits this long for the thread
  LaunchTimings launch;
};

// The service's timings. In a test build (ORV_TEST_SWITCHES) each may come
// from the environment: a whole-program test shortens them (milliseconds,
// above 0 and below the normal value; anything else keeps the normal one). A
// release build reads no variable and runs with the normal ones:
//   ORVNEWS_SERVICE_IDLE_MS            idle wait before the checks         30000
//   ORVNEWS_SERVICE_ACTIVITY_PAUSE_MS  pause after the user was active      5000
//   ORVNEWS_SERVICE_LAUNCH_PAUSE_MS    pause between looks for the started
//                                      main program and its interface       500
//   ORVNEWS_SERVICE_ANSWER_MS          bound on each answer of the main
//                                      program (is its interface open)     5000
// The last is the service's own bound: a main program that does not answer
// within it counts as "interface not open yet", and the next look follows.
ServiceSettings ServiceSettingsFromEnvironment();

// What ended one wait of the service thread.
enum class ServiceWake { Stop, Idle, StateChange, UserActivity, Failed };

// The meaning of a wait's result, the handles waited on being the stop event,
// then the watcher's change event when there is one, then the user-activity
// event when there is one. Anything else, a failed wait included, is Failed.
ServiceWake ClassifyServiceWait(plat::DWORD result, bool hasChangeEvent, bool hasActivityEvent);

// What the checks do to the main program; tests put their own in.
struct ServiceActions {
  std::function<bool()> isMainProgramRunning;
  std::function<bool()> postUpdateNow;
};

class CAutoUpdateService {
 public:
  explicit CAutoUpdateService(ServiceSettings settings = {}, ServiceActions actions = {});
  ~CAutoUpdateService();
  CAutoUpdateService(const CAutoUpdateService&) = delete;
  CAutoUpdateService& operator=(const CAutoUpdateService&) = delete;

  // Creates the events and the watcher and starts the thread; false when
  // something could not be made.
  bool Start();
  // Sets the stop event and waits up to the bound; then takes the cover
  // down. False when the thread had not ended by then (it still ends on its
  // own; this object must then be kept).
  bool Stop();

  // The checks run so far, and the updates they started.
  unsigned Checks() const { return checks_.load(); }
  unsigned UpdatesStarted() const { return updates_.load(); }
  // The pauses taken because the user was active.
  unsigned ActivityPauses() const { return pauses_.load(); }
  bool WatcherRunning() const { return watcher_ && watcher_->Running(); }

  // One step of the thread, for tests: a reported change of state, and the
  // checks after an idle wait.
  void OnStateChange(plat::DWORD state);
  void RunChecks(plat::DWORD state);
  void Begin(plat::DWORD state);  // the thread's start-up

 private:
  static plat::DWORD ThreadMain(void* param);
  void Run();

  ServiceSettings settings_;
  ServiceActions actions_;
  plat::HANDLE stop_ = nullptr;
  plat::HANDLE userActivity_ = nullptr;
  std::unique_ptr<CradleWatcher> watcher_;
  plat::HANDLE thread_ = nullptr;
  CScreenCover cover_;
  std::unique_ptr<CMainProgramLauncher> launcher_;

  // Touched by the service thread only (or by a test driving the steps).
  CUpdateSchedule schedule_;
  bool cradle_ = false;
  bool firstReport_ = true;

  std::atomic<unsigned> checks_{0};
  std::atomic<unsigned> updates_{0};
  std::atomic<unsigned> pauses_{0};
};
