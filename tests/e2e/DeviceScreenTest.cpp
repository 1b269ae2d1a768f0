// The device screen as a whole: the display program (headless) with real
// programs on a temporary device, driven through its control interface.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/base/Device.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenDriver.h"

namespace {

using namespace plat;
using orvtest::HasLine;
using orvtest::ScreenDriver;

std::string LogPath(const ScreenDriver& d, const std::string& name) { return d.Device().Scratch() + "/" + name + ".log"; }

// The colour of a screen pixel as 0xRRGGBB (RGB565 loses the low bits).
DWORD At(const PixelImage& img, int x, int y) { return img.pixels[static_cast<std::size_t>(y) * img.width + x]; }
bool Near(DWORD got, DWORD want) {
  for (int shift : {0, 8, 16}) {
    int a = static_cast<int>((got >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
    if (std::abs(a - b) > 8) return false;
  }
  return true;
}

struct ScreenCase {
  ScreenSettings screen;
  const char* name;
};
void PrintTo(const ScreenCase& c, std::ostream* os) { *os << c.name; }

class DeviceScreenSizes : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(DeviceScreenSizes, ProgramsSeeTheDevicesScreenAndItComposes) {
  const ScreenCase& c = GetParam();
  ScreenDriver device(c.screen);
  ASSERT_TRUE(device.Ready());
  std::string log = LogPath(device, "app");
  device.Launch(orvtest::TestAppPath(), {"--log", log, "--title", c.name});
  auto w = device.WaitForWindow("OrvTestApp");
  ASSERT_TRUE(w.has_value());
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "ready", true); }));
  char want[96];
  std::snprintf(want, sizeof want, "screen %d %d %d %d PocketPC", c.screen.width, c.screen.height, c.screen.dpi,
                c.screen.dpi);
  EXPECT_TRUE(HasLine(log, want)) << want;
  // A full-screen window covers the screen.
  EXPECT_EQ(w->left, 0);
  EXPECT_EQ(w->right, c.screen.width);
  EXPECT_EQ(w->bottom, c.screen.height);
  EXPECT_EQ(w->title, c.name);
  auto reply = device.Command("screen");
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0], "ok " + std::to_string(c.screen.width) + " " + std::to_string(c.screen.height) + " " +
                          std::to_string(c.screen.dpi));

  std::string png = device.Screenshot(c.name);
  ASSERT_FALSE(png.empty());
  EXPECT_GT(orvtest::ReadHostFile(png).size(), 100u);
  PixelImage img = device.ComposedScreen();
  ASSERT_EQ(img.width, c.screen.width);
  EXPECT_TRUE(Near(At(img, 70, 100), 0xD02020)) << std::hex << At(img, 70, 100);   // the red box
  EXPECT_TRUE(Near(At(img, 190, 100), 0x2040D0)) << std::hex << At(img, 190, 100);  // the blue ellipse's middle
  EXPECT_TRUE(Near(At(img, 5, 150), 0xF0F0E0)) << std::hex << At(img, 5, 150);      // the background
}

INSTANTIATE_TEST_SUITE_P(Screens, DeviceScreenSizes,
                         ::testing::Values(ScreenCase{{480, 640, 192}, "portrait-192"},
                                           ScreenCase{{240, 320, 96}, "small-96"},
                                           ScreenCase{{640, 480, 192}, "landscape-192"}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

class DeviceScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.Ready());
    log_ = LogPath(device_, "app");
    pid_ = device_.Launch(orvtest::TestAppPath(), {"--log", log_});
    ASSERT_TRUE(device_.WaitForWindow("OrvTestApp").has_value());
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log_, "ready", true); }));
  }
  bool Logged(const std::string& line, bool prefix = false) {
    return ScreenDriver::WaitUntil([&] { return HasLine(log_, line, prefix); });
  }

  ScreenDriver device_;
  std::string log_;
  pid_t pid_ = -1;
};

TEST_F(DeviceScreenTest, StylusGesturesReachTheProgramsOwnLoop) {
  ASSERT_TRUE(device_.Tap(100, 200));
  EXPECT_TRUE(Logged("tap 100 200"));
  ASSERT_TRUE(device_.Drag(100, 300, 300, 320, 200));
  EXPECT_TRUE(Logged("drag 300 320"));
  EXPECT_TRUE(HasLine(log_, "move", true));
  ASSERT_TRUE(device_.Hold(50, 400, 900));
  EXPECT_TRUE(Logged("hold 50 400"));
  EXPECT_TRUE(Logged("up 50 400"));
  // The loop asked for high-resolution points and was told there are none.
  EXPECT_FALSE(HasLine(log_, "move-points", true));
}

TEST_F(DeviceScreenTest, KeysTextHelpAndWheel) {
  struct Case {
    const char* command;
    const char* logged;
  } cases[] = {
      {"key left", "keydown 25"},       {"key action", "keydown 86"}, {"key back", "keydown 1B"},
      {"key soft1", "keydown 70"},      {"key soft2", "keydown 71"},  {"key enter", "char 13"},
      {"key backspace", "char 8"},      {"key help", "help"},         {"text ü", "char 252"},
      {"wheel 100 100 2", "vscroll 1"}, {"wheel 100 100 -1", "vscroll 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_TRUE(device_.Ok(c.command));
    EXPECT_TRUE(Logged(c.logged));
  }
  EXPECT_TRUE(HasLine(log_, "keydown 8"));  // backspace is the key and its character
  auto lines = orvtest::ReadLines(log_);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "vscroll 1"), 2);  // one a click
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "vscroll 0"), 1);
  // Home brings the Today screen forward; there is none on this device.
  EXPECT_FALSE(device_.Ok("key home"));
}

TEST_F(DeviceScreenTest, HomeBringsTheTodayScreenForward) {
  std::string today = LogPath(device_, "today");
  device_.Launch(orvtest::TestAppPath(), {"--log", today, "--class", "DesktopExplorerWindow", "--title", "Today"});
  ASSERT_TRUE(device_.WaitForWindow("DesktopExplorerWindow").has_value());
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(today, "ready", true); }));
  ASSERT_TRUE(SetForegroundWindow(FindWindowW(u"OrvTestApp", nullptr)));
  ASSERT_EQ(device_.Windows().front().cls, "OrvTestApp");
  ASSERT_TRUE(device_.Key("home"));
  EXPECT_EQ(device_.Windows().front().cls, "DesktopExplorerWindow");
  ASSERT_TRUE(device_.Key("down"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(today, "keydown 28"); }));
  EXPECT_FALSE(HasLine(log_, "keydown 28"));
}

TEST_F(DeviceScreenTest, InputGoesToTheProgramUnderTheStylus) {
  std::string log2 = LogPath(device_, "second");
  device_.Launch(orvtest::TestAppPath(),
                 {"--log", log2, "--class", "OrvTestSecond", "--rect", "0,320,480,320", "--colour", "2080C0"});
  ASSERT_TRUE(device_.WaitForWindow("OrvTestSecond").has_value());
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log2, "ready", true); }));
  device_.Screenshot("two-programs");
  ASSERT_TRUE(device_.Tap(30, 400));  // the second window, (30, 80) in its own coordinates
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log2, "tap 30 80"); }));
  ASSERT_TRUE(device_.Tap(30, 100));
  EXPECT_TRUE(Logged("tap 30 100"));
  EXPECT_FALSE(HasLine(log2, "tap 30 100"));
  // Keys go to the window tapped last.
  ASSERT_TRUE(device_.Key("right"));
  EXPECT_TRUE(Logged("keydown 27"));
  EXPECT_FALSE(HasLine(log2, "keydown 27"));

  auto windows = device_.Windows();
  ASSERT_GE(windows.size(), 2u);
  EXPECT_EQ(windows[0].cls, "OrvTestApp");  // the tapped window came to the top
  EXPECT_EQ(windows[0].pid, pid_);
}

TEST_F(DeviceScreenTest, NestedLoopAnswersSendsAndLosesTheCaptureToAnotherWindow) {
  std::string log2 = LogPath(device_, "second");
  device_.Launch(orvtest::TestAppPath(), {"--log", log2, "--class", "OrvTestSecond", "--rect", "0,600,10,10"});
  ASSERT_TRUE(device_.WaitForWindow("OrvTestSecond").has_value());
  ASSERT_TRUE(device_.Ok("down 40 40"));  // the stylus stays down: the program pumps in its own loop
  ASSERT_TRUE(Logged("down 40 40"));
  // A message sent to the program's thread is answered inside that loop.
  HWND app = FindWindowW(u"OrvTestApp", nullptr);
  ASSERT_NE(app, nullptr);
  UINT question = RegisterWindowMessageW(u"OrvTestApp.Question");
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(app, question, 21, 0, SMTO_NORMAL, 10000, &answer));
  EXPECT_EQ(answer, 42u);
  EXPECT_TRUE(Logged("answered 21"));
  // Another window takes the stylus: the loop sees it lost the capture and ends.
  HWND second = FindWindowW(u"OrvTestSecond", nullptr);
  ASSERT_TRUE(PostMessageW(second, RegisterWindowMessageW(u"OrvTestApp.TakeCapture"), 0, 0));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log2, "took-capture"); }));
  EXPECT_TRUE(Logged("capture-lost"));
  // The stylus now goes to the window that holds it.
  ASSERT_TRUE(device_.Ok("up 40 40"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log2, "up 40 -560"); }));
}

TEST_F(DeviceScreenTest, AnimationThreadFramesReachTheScreen) {
  std::string log2 = LogPath(device_, "animated");
  device_.Launch(orvtest::TestAppPath(),
                 {"--log", log2, "--class", "OrvTestAnimated", "--rect", "0,0,480,640", "--animate", "30"});
  ASSERT_TRUE(device_.WaitForWindow("OrvTestAnimated").has_value());
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log2, "frames 30"); }));
  PixelImage img = device_.ComposedScreen();
  // The last frame's square: 29 * 4 = 116 .. 156 across, 300 .. 340 down.
  EXPECT_TRUE(Near(At(img, 130, 320), 0x800080)) << std::hex << At(img, 130, 320);
  EXPECT_TRUE(Near(At(img, 100, 320), 0xFFFFFF)) << std::hex << At(img, 100, 320);
  device_.Screenshot("animated");
}

TEST_F(DeviceScreenTest, AProgramThatDiesLeavesNothingOnTheScreen) {
  std::uint32_t before = 0;
  {
    PixelImage img = device_.ComposedScreen();
    ASSERT_TRUE(Near(At(img, 70, 100), 0xD02020));
    before = img.pixels.size();
  }
  EXPECT_EQ(device_.Stop(pid_, true), 128 + SIGKILL);
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return device_.Windows().empty(); }));
  PixelImage img = device_.ComposedScreen();
  ASSERT_EQ(img.pixels.size(), before);
  EXPECT_EQ(At(img, 70, 100), 0u);  // black: no stale surface
  EXPECT_TRUE(device_.Ok("ping"));
  EXPECT_FALSE(device_.Screenshot("after-death").empty());
  EXPECT_FALSE(device_.Tap(70, 100));  // nobody takes it; the display goes on
  EXPECT_TRUE(device_.Ok("ping"));
}

TEST_F(DeviceScreenTest, ClosingTheProgramAndQuittingTheDisplayEndCleanly) {
  HWND app = FindWindowW(u"OrvTestApp", nullptr);
  ASSERT_TRUE(PostMessageW(app, WM_CLOSE, 0, 0));
  EXPECT_EQ(device_.WaitExit(pid_), 0);
  EXPECT_TRUE(Logged("exit"));
  EXPECT_EQ(device_.Quit(), 0);
}

}  // namespace

namespace {

TEST(DeviceScreenSession, WithoutADisplayItRunsHeadlessAndEndsItsSessionCleanly) {
  std::string scratch = orvtest::MakeTempDir("orvsession");
  std::string log = scratch + "/session.log";
  ScreenDriver::Options options;
  options.screen = ScreenSettings{240, 320, 96};
  options.session = {orvtest::TestAppPath(), "--log", log};
  options.headlessFlag = false;  // no DISPLAY in its environment instead
  {
    ScreenDriver device(options);
    ASSERT_TRUE(device.Ready());
    auto w = device.WaitForWindow("OrvTestApp");
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->right, 240);
    ASSERT_TRUE(device.Tap(10, 10));
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "tap 10 10"); }));
    // Ending the display ends the program it started: asked to close, it closes.
    EXPECT_EQ(device.Quit(), 0);
    EXPECT_TRUE(HasLine(log, "exit"));
  }
  orvtest::RemoveTree(scratch);
}

}  // namespace
