// Several sessions of the device screen on one device, as a person has them:
// the display is started, programs are opened on it, the display is quit,
// and later started again on the same device, or on a device folder removed
// and made again at the same path. Every program of the device ends with the
// display, and the next session's windows show whole.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/HostRequests.h"
#include "platform/base/Device.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/RunProgram.h"
#include "tests/support/ScreenDriver.h"
#include "tests/support/TodayScreen.h"

namespace {

using orvtest::ScreenDriver;
using plat::ScreenSettings;

constexpr const char* kOptionsOwnerClass = "052DF53E-3074-4d3d-85BF-94F1D21E010C";

std::string Pids(const std::vector<pid_t>& pids) {
  std::string text;
  for (pid_t pid : pids) {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    text += " " + std::to_string(pid) + " (" + exe.filename().string() + ")";
  }
  return text;
}

std::string WindowList(ScreenDriver& device) {
  std::string text;
  for (const auto& w : device.Windows())
    text += "  " + std::to_string(w.hwnd) + " " + std::to_string(w.pid) + " " + w.cls + " \"" + w.title + "\"" +
            (w.visible ? " shown" : "") + "\n";
  return text;
}

// The surfaces of this device in shared memory, by name.
std::vector<std::string> SurfaceNames() {
  std::vector<std::string> names;
  const std::string prefix = "orv-" + plat::DeviceToken() + "-";
  if (DIR* dir = ::opendir("/dev/shm")) {
    while (const dirent* d = ::readdir(dir))
      if (std::string(d->d_name).rfind(prefix, 0) == 0) names.push_back(d->d_name);
    ::closedir(dir);
  }
  return names;
}

// The options sheet as a person meets it: below the top bar with its menu
// bar, and the hidden owner window of its program.
void ExpectWholeSheet(ScreenDriver& device, orvtest::TodayScreen& today) {
  const auto sheet = today.Sheet();
  ASSERT_TRUE(sheet.has_value()) << WindowList(device);
  bool owner = false;
  for (const auto& w : device.Windows())
    if (w.pid == sheet->pid && w.cls == kOptionsOwnerClass) owner = true;
  EXPECT_TRUE(owner) << WindowList(device);
}

class ScreenSessionsE2E : public ::testing::Test {
 protected:
  // Session 1 of the device: the Today screen; a tap on the item's icon
  // strip starts the main program, Home brings the Today screen back, and
  // the item's menu opens its options. Then the display is quit.
  void FirstSession(ScreenDriver& device) {
    orvtest::TodayScreen today(device);
    ASSERT_NO_FATAL_FAILURE(today.Install());
    ASSERT_GT(today.StartHost(), 0) << today.HostLog();
    // Left of the text, beside the options icon: the main program.
    const plat::POINT strip = today.ItemPoint(22, 8);
    ASSERT_TRUE(device.Tap(strip.x, strip.y));
    ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000)) << WindowList(device);
    ASSERT_TRUE(device.Key("home"));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return today.StartBarOnTop(); }, 20000));
    ASSERT_NO_FATAL_FAILURE(today.OpenOptionsFromTheItem()) << WindowList(device);
    device.Screenshot("session-1-options");
  }
  // Session 2: the Today screen again; the item's menu opens the options,
  // which show whole.
  void SecondSession(ScreenDriver& device, const std::string& shot) {
    // The host's log of this session only.
    orvtest::RemoveTree(device.Device().Scratch() + "/host.log");
    orvtest::TodayScreen today(device);
    ASSERT_GT(today.StartHost(), 0) << today.HostLog();
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return today.StartBarOnTop(); }, 20000)) << WindowList(device);
    ASSERT_NO_FATAL_FAILURE(today.OpenOptionsFromTheItem()) << WindowList(device);
    ExpectWholeSheet(device, today);
    device.Screenshot(shot);
  }
};

// Quitting the display ends every program of the device: the Today host,
// the main program the item started and the options program. The next
// session on the same device shows the options with their menu bar.
TEST_F(ScreenSessionsE2E, EveryProgramEndsWithTheDisplayAndTheNextSessionShowsTheOptionsWhole) {
  ScreenDriver device(ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_NO_FATAL_FAILURE(FirstSession(device));
  EXPECT_EQ(device.Quit(30000), 0);
  EXPECT_EQ(Pids(device.ProgramsRunning()), "");

  ASSERT_TRUE(device.Restart());
  ASSERT_NO_FATAL_FAILURE(SecondSession(device, "session-2-options"));
}

// A reset: the device folder is removed and made again at the same path,
// after the display was quit or after the power went with everything
// running. What the programs of the earlier device left in shared memory
// goes when the new display starts, and the new session's windows show whole.
TEST_F(ScreenSessionsE2E, AfterAResetOfTheDeviceFolderTheOptionsShowWhole) {
  for (const bool powerCut : {false, true}) {
    SCOPED_TRACE(powerCut ? "power cut" : "display quit");
    ScreenDriver device(ScreenSettings{480, 640, 192});
    ASSERT_TRUE(device.Ready());
    ASSERT_NO_FATAL_FAILURE(FirstSession(device));
    if (powerCut) {
      device.PowerCut();
    } else {
      EXPECT_EQ(device.Quit(30000), 0);
      EXPECT_EQ(Pids(device.ProgramsRunning()), "");
    }
    const std::vector<std::string> left = SurfaceNames();
    if (powerCut) {
      EXPECT_FALSE(left.empty());  // nobody removed them
    }

    device.ResetDeviceFolder();
    ASSERT_TRUE(orvtest::InstallMainProgram());
    ASSERT_TRUE(device.Restart());
    const std::vector<std::string> now = SurfaceNames();
    for (const std::string& name : left) EXPECT_EQ(std::count(now.begin(), now.end(), name), 0) << name;
    ASSERT_NO_FATAL_FAILURE(SecondSession(device, powerCut ? "after-power-cut-reset" : "after-quit-reset"));
  }
}

// Programs started by the display and by hand: one that ends while the
// display runs is reaped at once (no zombie stays behind), and the one
// started by hand ends when the display is quit.
TEST(ScreenSessionsProgramsE2E, AProgramThatEndsIsReapedAndOneStartedByHandEndsWithTheDisplay) {
  const std::string scratch = orvtest::MakeTempDir("orvsessions");
  ScreenDriver::Options options;
  options.screen = ScreenSettings{240, 320, 96};
  options.session = {orvtest::TestAppPath(), "--log", scratch + "/session.log", "--class", "SessionApp"};
  {
    ScreenDriver device(options);
    ASSERT_TRUE(device.Ready());
    const auto session = device.WaitForWindow("SessionApp");
    ASSERT_TRUE(session.has_value());
    ASSERT_TRUE(plat::PostMessageW(plat::ValueToHandle(session->hwnd), plat::WM_CLOSE, 0, 0));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return orvtest::HasLine(scratch + "/session.log", "exit"); }));
    // Not left as a zombie of the display.
    EXPECT_TRUE(ScreenDriver::WaitUntil(
        [&] { return !std::filesystem::exists("/proc/" + std::to_string(session->pid)); }))
        << session->pid;
    EXPECT_TRUE(device.Ok("ping"));

    const pid_t byHand = device.Launch(orvtest::TestAppPath(), {"--log", scratch + "/hand.log", "--class", "HandApp"});
    ASSERT_GT(byHand, 0);
    ASSERT_TRUE(device.WaitForWindow("HandApp").has_value());
    EXPECT_EQ(device.Quit(20000), 0);
    EXPECT_EQ(device.WaitExit(byHand, 1000), 0);
    EXPECT_TRUE(orvtest::HasLine(scratch + "/hand.log", "exit"));
  }
  orvtest::RemoveTree(scratch);
}

// A program killed while its parent has not yet reaped it (a zombie) has
// ended: its windows leave the screen at once.
TEST(ScreenSessionsProgramsE2E, TheWindowsOfAProgramThatEndedLeaveBeforeItIsReaped) {
  ScreenDriver device(ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  const std::string log = device.Device().Scratch() + "/app.log";
  const pid_t app = device.Launch(orvtest::TestAppPath(), {"--log", log, "--class", "KilledApp"});
  ASSERT_GT(app, 0);
  ASSERT_TRUE(device.WaitForWindow("KilledApp").has_value());
  ASSERT_EQ(::kill(app, SIGKILL), 0);  // not reaped: a zombie of this process
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return device.Windows().empty(); })) << WindowList(device);
  EXPECT_EQ(device.Stop(app, true), 128 + SIGKILL);
}

}  // namespace

namespace {

bool MapsTheItem(pid_t pid) {
  return orvtest::ReadHostFile("/proc/" + std::to_string(pid) + "/maps").find("liborvnewstoday") != std::string::npos;
}

// The uninstaller after an earlier session, with the Today item tapped in
// each (its starter thread started the main program): the Today host lets
// go of the item as on a fresh device, and the main program has ended.
TEST_F(ScreenSessionsE2E, TheRemovalReachesTheTodayHostAfterAnEarlierSession) {
  ScreenDriver device(ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_NO_FATAL_FAILURE(FirstSession(device));
  EXPECT_EQ(device.Quit(30000), 0);
  ASSERT_TRUE(device.Restart());

  orvtest::RemoveTree(device.Device().Scratch() + "/host.log");
  const std::string hostLog = device.Device().Scratch() + "/host.log";
  orvtest::TodayScreen today(device);
  const pid_t host = today.StartHost();
  ASSERT_GT(host, 0) << today.HostLog();
  const plat::POINT strip = today.ItemPoint(22, 8);
  ASSERT_TRUE(device.Tap(strip.x, strip.y));
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000)) << WindowList(device);
  ASSERT_TRUE(MapsTheItem(host));

  const std::vector<plat::DWORD> before = device.ComposedScreen().pixels;
  const std::string removerLog = device.Device().FsRoot() + "/OrvNewsRemover_log.txt";
  EXPECT_EQ(orvtest::RunProgram(ORV_REMOVER), 0) << orvtest::ReadHostFile(removerLog);
  EXPECT_TRUE(orvtest::HasLine(hostLog, "unloaded")) << today.HostLog();
  EXPECT_FALSE(MapsTheItem(host));
  EXPECT_EQ(plat::FindWindowW(u"A377667C-B302-4767-B9C5-EC5210805251", nullptr), nullptr);
  // The host goes on answering: asked once more to let the item go, it holds none.
  const plat::HWND desktop = plat::FindWindowW(plat::hosts::kTodayHostWindowClass, nullptr);
  ASSERT_NE(desktop, nullptr);
  plat::DWORD_PTR held = 2;
  EXPECT_NE(plat::SendMessageTimeoutW(desktop, plat::RegisterWindowMessageW(plat::hosts::kUnloadProductMessage), 0, 0,
                                      plat::SMTO_NORMAL, 10000, &held),
            0);
  EXPECT_EQ(held, 0u);
  // The main program has left the screen: the Today screen shows.
  EXPECT_TRUE(device.WaitForStillScreen(&before));
  device.Screenshot("after-removal");
}

}  // namespace
