// The service's thread on a device of the test's own: the cradle watcher's
// notices, the user's activity, and a stop in the middle of a launch that
// takes the screen cover down and gives the shell windows back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "core/VORegistry.h"
#include "platform/base/Module.h"
#include "platform/display/DeviceInput.h"
#include "platform/display/UserActivity.h"
#include "platform/base/Thread.h"
#include "platform/files/Files.h"
#include "platform/inet/DeviceNetwork.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"
#include "service/AutoUpdateService.h"
#include "service/UpdateLock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDevice.h"
#include "tests/support/Wait.h"

extern "C" {
plat::DWORD NEW_Init(plat::DWORD context);
plat::BOOL NEW_Deinit(plat::DWORD device);
plat::DWORD NEW_Open(plat::DWORD device, plat::DWORD access, plat::DWORD share);
plat::BOOL NEW_IOControl(plat::DWORD, plat::DWORD, plat::BYTE*, plat::DWORD, plat::BYTE*, plat::DWORD, plat::DWORD*);
}

namespace {

using orvtest::Eventually;

class ServiceThreadTest : public orvtest::DeviceTest {
 protected:
  static ServiceSettings Fast() {
    ServiceSettings s;
    s.idleMs = 5;
    s.activityPauseMs = 5;
    return s;
  }
  ServiceActions Counting() {
    return ServiceActions{[] { return false; }, [this] {
                            ++posts_;
                            return true;
                          }};
  }
  // "\Apps" as the install folder, holding "Orv News.exe" with this script.
  ::testing::AssertionResult InstallProgram(const std::string& script) {
    if (!plat::CreateDirectoryW(u"\\Apps", nullptr)) return ::testing::AssertionFailure() << "no \\Apps";
    const std::string program = device_.FsRoot() + "/Apps/Orv News.exe";
    orvtest::WriteHostFile(program, script);
    if (::chmod(program.c_str(), 0755) != 0) return ::testing::AssertionFailure() << "not executable";
    OpenSettingsKey().SetString(u"InstallFolder", u"\\Apps");
    return ::testing::AssertionSuccess();
  }
  std::atomic<unsigned> posts_{0};
};

TEST_F(ServiceThreadTest, PuttingTheDeviceIntoTheCradleStartsOneUpdate) {
  OpenSettingsKey().SetDWORD(u"AutoUpdateWhenCradled", 1);
  CAutoUpdateService service(Fast(), Counting());
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(service.WatcherRunning());
  ASSERT_TRUE(Eventually([&] { return service.Checks() >= 2; }));
  EXPECT_EQ(posts_.load(), 0u);

  ASSERT_TRUE(plat::SetCradled(true));
  ASSERT_TRUE(Eventually([&] { return posts_.load() == 1; }));
  // Staying in the cradle starts no more, check after check.
  const unsigned checks = service.Checks();
  ASSERT_TRUE(Eventually([&] { return service.Checks() >= checks + 10; }));
  EXPECT_EQ(posts_.load(), 1u);

  // Out and in again: one more.
  ASSERT_TRUE(plat::SetCradled(false));
  const unsigned out = service.Checks();
  ASSERT_TRUE(Eventually([&] { return service.Checks() >= out + 3; }));
  ASSERT_TRUE(plat::SetCradled(true));
  ASSERT_TRUE(Eventually([&] { return posts_.load() == 2; }));
  EXPECT_TRUE(service.Stop());
}

TEST_F(ServiceThreadTest, WithoutTheChangeNotificationNoWatcherRunsAndTheCradleIsNotSeen) {
  OpenSettingsKey().SetDWORD(u"AutoUpdateWhenCradled", 1);
  plat::UnregisterBuiltInModule(u"coredll.dll");
  CAutoUpdateService service(Fast(), Counting());
  ASSERT_TRUE(service.Start());
  plat::RegisterCoreDllModule();
  EXPECT_FALSE(service.WatcherRunning());
  // A device in the cradle when the service begins counts as cradled: the
  // cradle comes only after the service's first check.
  ASSERT_TRUE(Eventually([&] { return service.Checks() >= 1; }));
  ASSERT_TRUE(plat::SetCradled(true));
  const unsigned checks = service.Checks();
  ASSERT_TRUE(Eventually([&] { return service.Checks() >= checks + 10; }));
  EXPECT_EQ(posts_.load(), 0u);
  EXPECT_TRUE(service.Stop());
}

// Each timing comes from its own variable: the idle wait no longer shortens
// the launch pauses or the activity pause, and nothing lengthens a timing.
TEST(ServiceSettingsTest, EachVariableSetsItsOwnTiming) {
  struct Timings {
    plat::DWORD idle, activityPause, launchPause, answer;
    bool operator==(const Timings&) const = default;
  };
  const char* const names[] = {"ORVNEWS_SERVICE_IDLE_MS", "ORVNEWS_SERVICE_ACTIVITY_PAUSE_MS",
                               "ORVNEWS_SERVICE_LAUNCH_PAUSE_MS", "ORVNEWS_SERVICE_ANSWER_MS"};
  struct Case {
    const char* name;
    const char* value;
    Timings timings;
  } const cases[] = {
      {nullptr, nullptr, {30000, 5000, 500, 5000}},
      {"ORVNEWS_SERVICE_IDLE_MS", "50", {50, 5000, 500, 5000}},
      {"ORVNEWS_SERVICE_ACTIVITY_PAUSE_MS", "40", {30000, 40, 500, 5000}},
      {"ORVNEWS_SERVICE_LAUNCH_PAUSE_MS", "30", {30000, 5000, 30, 5000}},
      {"ORVNEWS_SERVICE_ANSWER_MS", "200", {30000, 5000, 500, 200}},
      {"ORVNEWS_SERVICE_IDLE_MS", "90000", {30000, 5000, 500, 5000}},  // longer: the normal one
      {"ORVNEWS_SERVICE_ANSWER_MS", "0", {30000, 5000, 500, 5000}},
      {"ORVNEWS_SERVICE_LAUNCH_PAUSE_MS", "soon", {30000, 5000, 500, 5000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.name ? c.name : "none") << "=" << (c.value ? c.value : ""));
    for (const char* name : names) ::unsetenv(name);
    if (c.name) ::setenv(c.name, c.value, 1);
    const ServiceSettings s = ServiceSettingsFromEnvironment();
    const Timings got{s.idleMs, s.activityPauseMs, s.launch.pauseMs, s.launch.answerBoundMs};
    EXPECT_TRUE(got == c.timings) << got.idle << " " << got.activityPause << " " << got.launchPause << " "
                                  << got.answer;
  }
  for (const char* name : names) ::unsetenv(name);
}

// A failed wait ends the thread: taken for an event it would loop at once and
// keep Stop waiting out its bound.
TEST(ServiceWaitTest, EveryResultMeansWhatItsHandleIs) {
  using W = ServiceWake;
  struct Case {
    plat::DWORD result;
    bool change, activity;
    W wake;
  } const cases[] = {
      {plat::WAIT_TIMEOUT, true, true, W::Idle},
      {plat::WAIT_OBJECT_0, true, true, W::Stop},
      {plat::WAIT_OBJECT_0 + 1, true, true, W::StateChange},
      {plat::WAIT_OBJECT_0 + 2, true, true, W::UserActivity},
      {plat::WAIT_OBJECT_0 + 1, false, true, W::UserActivity},
      {plat::WAIT_OBJECT_0 + 1, true, false, W::StateChange},
      {plat::WAIT_OBJECT_0 + 2, true, false, W::Failed},
      {plat::WAIT_OBJECT_0 + 1, false, false, W::Failed},
      {plat::WAIT_FAILED, true, true, W::Failed},
      {plat::WAIT_FAILED, false, true, W::Failed},
      {plat::WAIT_FAILED, true, false, W::Failed},
      {plat::WAIT_FAILED, false, false, W::Failed},
      {plat::WAIT_ABANDONED_0 + 1, true, true, W::Failed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyServiceWait(c.result, c.change, c.activity), c.wake)
        << std::hex << c.result << " change " << c.change << " activity " << c.activity;
  }
}

TEST_F(ServiceThreadTest, NoCheckRunsWhileTheUserIsActive) {
  OpenSettingsKey().SetDWORD(u"AutoUpdate", 1);  // due at every check
  CAutoUpdateService service(Fast(), Counting());
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(Eventually([&] { return service.Checks() >= 1; }));
  plat::HANDLE activity = plat::OpenEventW(plat::EVENT_MODIFY_STATE, plat::FALSE, kUserActivityEventName);
  ASSERT_NE(activity, nullptr);
  plat::SetEvent(activity);
  ASSERT_TRUE(Eventually([&] { return service.ActivityPauses() >= 1; }));
  const unsigned checks = service.Checks();
  const unsigned pauses = service.ActivityPauses();
  ASSERT_TRUE(Eventually([&] { return service.ActivityPauses() >= pauses + 10; }));
  EXPECT_EQ(service.Checks(), checks);
  plat::ResetEvent(activity);
  ASSERT_TRUE(Eventually([&] { return service.Checks() > checks; }));
  plat::CloseHandle(activity);
  EXPECT_TRUE(service.Stop());
}

// The device's own input (what the display program delivers) is what makes
// the user active: a tap pauses the checks until the user has been idle.
TEST_F(ServiceThreadTest, ATapOnTheDevicePausesTheChecksUntilTheUserIsIdle) {
  OpenSettingsKey().SetDWORD(u"AutoUpdate", 1);
  ServiceSettings settings = Fast();
  settings.idleMs = 100;  // a margin between the reset and the next check
  CAutoUpdateService service(settings, Counting());
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(Eventually([&] { return service.Checks() >= 1; }));
  plat::display::UserActivity activity(400);
  plat::display::DeviceInput input;
  input.SetUserActivity(&activity);
  input.Tap(10, 10);  // on no window: the user still used the device
  ASSERT_TRUE(Eventually([&] { return service.ActivityPauses() >= 1; }));
  const unsigned checks = service.Checks();
  while (activity.Active()) ASSERT_EQ(service.Checks(), checks);
  EXPECT_TRUE(Eventually([&] { return service.Checks() > checks; }));
  EXPECT_TRUE(service.Stop());
}

// The shell's windows on a thread of their own that pumps its messages.
class ShellWindows {
 public:
  ShellWindows() {
    thread_ = std::thread([this] {
      plat::WNDCLASSW wc{};
      wc.lpfnWndProc = &plat::DefWindowProcW;
      for (const char16_t* cls : {u"HHTaskBar", u"MS_SIPBUTTON"}) {
        wc.lpszClassName = cls;
        plat::RegisterClassW(&wc);
      }
      taskBar_ = plat::CreateWindowExW(0, u"HHTaskBar", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 480, 26,
                                       nullptr, nullptr, nullptr, nullptr);
      sip_ = plat::CreateWindowExW(0, u"MS_SIPBUTTON", u"", plat::WS_POPUP | plat::WS_VISIBLE, 400, 610, 80, 30,
                                   nullptr, nullptr, nullptr, nullptr);
      threadId_ = plat::GetCurrentThreadId();
      ready_ = true;
      plat::MSG m;
      while (plat::GetMessageW(&m, nullptr, 0, 0) > 0) plat::DispatchMessageW(&m);
      plat::DestroyWindow(sip_);
      plat::DestroyWindow(taskBar_);
    });
    Eventually([this] { return ready_.load(); });
  }
  ~ShellWindows() {
    plat::PostThreadMessageW(threadId_, plat::WM_QUIT, 0, 0);
    thread_.join();
  }
  plat::HWND TaskBar() const { return taskBar_; }
  plat::HWND Sip() const { return sip_; }

 private:
  std::thread thread_;
  std::atomic<bool> ready_{false};
  plat::DWORD threadId_ = 0;
  plat::HWND taskBar_ = nullptr;
  plat::HWND sip_ = nullptr;
};

plat::RECT RectOf(plat::HWND w) {
  plat::RECT r{};
  plat::GetWindowRect(w, &r);
  return r;
}

TEST_F(ServiceThreadTest, StopDuringALaunchEndsWithinTheBoundAndRestoresTheShell) {
  ShellWindows shell;
  ASSERT_NE(shell.TaskBar(), nullptr);
  const auto taskBarProc = plat::GetWindowLongW(shell.TaskBar(), plat::GWL_WNDPROC);
  const auto sipProc = plat::GetWindowLongW(shell.Sip(), plat::GWL_WNDPROC);

  // An install folder with a program that ends without showing a window.
  ASSERT_TRUE(InstallProgram("#!/bin/sh\nexit 0\n"));
  OpenSettingsKey().SetDWORD(u"AutoUpdate", 1);

  ServiceSettings settings = Fast();
  settings.launch.pauseMs = 600000;  // a pause that only the stop can cut short
  settings.stopBoundMs = 10000;
  CAutoUpdateService service(settings);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(Eventually([&] { return plat::FindWindowW(kCoverClassName, nullptr) != nullptr; }));
  ASSERT_TRUE(Eventually([&] { return RectOf(shell.TaskBar()).left == 1000 && RectOf(shell.Sip()).left == 1000; }));
  EXPECT_NE(plat::GetWindowLongW(shell.TaskBar(), plat::GWL_WNDPROC), taskBarProc);
  EXPECT_EQ(ReadUpdateLock(), kUpdateLockedByService);

  EXPECT_TRUE(service.Stop());
  EXPECT_EQ(plat::FindWindowW(kCoverClassName, nullptr), nullptr);
  EXPECT_EQ(RectOf(shell.TaskBar()).left, 0);
  EXPECT_EQ(RectOf(shell.TaskBar()).top, 0);
  EXPECT_EQ(RectOf(shell.Sip()).left, 400);
  EXPECT_EQ(RectOf(shell.Sip()).top, 610);
  EXPECT_TRUE(plat::IsWindowVisible(shell.Sip()));
  EXPECT_EQ(plat::GetWindowLongW(shell.TaskBar(), plat::GWL_WNDPROC), taskBarProc);
  EXPECT_EQ(plat::GetWindowLongW(shell.Sip(), plat::GWL_WNDPROC), sipProc);
  // The launch gave nothing: the lock is given back for the next check.
  EXPECT_EQ(ReadUpdateLock(), 0u);
}

// The task bar belongs to another process that stops reading its messages
// while the service is stopped in the middle of a launch: the put-back is not
// asked again past the stop, so Stop answers within its bound that the
// thread has ended.
TEST_F(ServiceThreadTest, StopWhileTheTaskBarsOwnerIsBusyEndsWithinTheBound) {
  orvtest::ChildProcess owner([](orvtest::ChildContext& ctx) {
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = &plat::DefWindowProcW;
    wc.lpszClassName = u"HHTaskBar";
    plat::RegisterClassW(&wc);
    if (!plat::CreateWindowExW(0, u"HHTaskBar", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 480, 26, nullptr,
                               nullptr, nullptr, nullptr))
      return 1;
    ctx.Ready();
    if (!orvtest::PumpUntil([&] { return ctx.WaitFor("busy", 0); }, 60000)) return 2;
    ctx.Send("not reading");
    if (!ctx.WaitFor("go on", 120000)) return 3;
    return orvtest::PumpUntil([&] { return ctx.WaitFor("end", 0); }, 60000) ? 0 : 4;
  });
  ASSERT_TRUE(owner.WaitReady());
  plat::HWND bar = plat::FindWindowW(u"HHTaskBar", nullptr);
  ASSERT_NE(bar, nullptr);

  ASSERT_TRUE(InstallProgram("#!/bin/sh\nexit 0\n"));
  OpenSettingsKey().SetDWORD(u"AutoUpdate", 1);

  ServiceSettings settings = Fast();
  settings.launch.pauseMs = 600000;  // a pause that only the stop can cut short
  settings.stopBoundMs = 15000;
  CAutoUpdateService service(settings);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(Eventually([&] { return plat::FindWindowW(kCoverClassName, nullptr) != nullptr; }));
  ASSERT_TRUE(Eventually([&] { return RectOf(bar).left == 1000; }));

  owner.Send("busy");
  ASSERT_TRUE(owner.WaitFor("not reading", 20000));
  const bool stopped = service.Stop();
  EXPECT_TRUE(stopped) << "the thread still asked the task bar to go back";
  owner.Send("go on");
  // However it went, the thread has ended before the service goes.
  EXPECT_TRUE(Eventually([&] { return plat::FindWindowW(kCoverClassName, nullptr) == nullptr; }, 60000));
  owner.Send("end");
  EXPECT_EQ(owner.Wait(), 0);
  EXPECT_EQ(ReadUpdateLock(), 0u);
}

// A main program that takes longer to show its window than the launch's
// looks add up to: short pauses look more often, but the program still has
// the whole bound to show itself, and is found and asked to update.
TEST_F(ServiceThreadTest, AMainProgramSlowToShowItsWindowIsStillFoundAndAskedToUpdate) {
  ASSERT_TRUE(InstallProgram(std::string("#!/bin/sh\nsleep 1\nexec '") + ORV_FAKE_MAIN + "' \"$@\"\n"));
  // Whatever happens, the started program does not outlive the test.
  struct EndStarted {
    ~EndStarted() {
      if (plat::HWND w = plat::FindWindowW(kMainProgramWindowClass, nullptr)) {
        plat::DWORD pid = 0;
        plat::GetWindowThreadProcessId(w, &pid);
        if (pid) ::kill(static_cast<pid_t>(pid), SIGKILL);
      }
    }
  } endStarted;

  LaunchTimings timings;
  timings.pauseMs = 5;  // 30 looks of 5 ms are over long before the program shows
  CScreenCover cover;
  CMainProgramLauncher launcher(cover, nullptr, timings);
  EXPECT_TRUE(launcher.PostUpdateNow());
  const std::string log = device_.Root() + "/fakemain.log";
  EXPECT_TRUE(Eventually([&] { return orvtest::ReadHostFile(log).find("exit") != std::string::npos; }))
      << orvtest::ReadHostFile(log);
  EXPECT_NE(orvtest::ReadHostFile(log).find("update-now"), std::string::npos) << orvtest::ReadHostFile(log);
  EXPECT_EQ(plat::FindWindowW(kCoverClassName, nullptr), nullptr);
}

TEST_F(ServiceThreadTest, EntryPointsStartAndStopTheService) {
  EXPECT_EQ(NEW_Init(0), 1u);
  plat::HANDLE activity = plat::OpenEventW(plat::SYNCHRONIZE, plat::FALSE, kUserActivityEventName);
  EXPECT_NE(activity, nullptr);  // the service holds the platform's event
  if (activity) plat::CloseHandle(activity);
  EXPECT_EQ(NEW_Open(1, 0, 0), 0u);
  EXPECT_EQ(NEW_IOControl(1, 0, nullptr, 0, nullptr, 0, nullptr), 1);
  EXPECT_EQ(NEW_Deinit(1), 0);
  // Stopped: nobody holds the event any more.
  EXPECT_EQ(plat::OpenEventW(plat::SYNCHRONIZE, plat::FALSE, kUserActivityEventName), nullptr);
}

}  // namespace
