// The whole-program test driver: plays the device and its user. It makes a
// temporary device with the chosen screen, starts the display program on it
// (headless) and the programs under test as real processes, and then taps,
// drags, presses keys and types through the display's control interface,
// reads the window list and composes the screen into PNG files kept under the
// build folder ("screenshots/<test>/<name>.png") for a person to look at.
//
//   orvtest::ScreenDriver device(plat::ScreenSettings{240, 320, 96});
//   ASSERT_TRUE(device.Ready());
//   device.Launch(orvtest::TestAppPath(), {"--log", log});
//   auto w = device.WaitForWindow("OrvTestApp");
//   device.Tap(w->left + 10, w->top + 10);
//   EXPECT_TRUE(device.WaitUntil([&] { return LogHas(log, "tap"); }));
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/ScreenSettings.h"
#include "platform/display/Control.h"
#include "platform/gdi/Gdi.h"
#include "tests/support/TempDevice.h"

namespace orvtest {

// Programs built with the tests.
std::string DisplayProgramPath();
std::string TestAppPath();
// The folder of this test's screenshots under the build folder (made on demand).
std::string ScreenshotFolder();

class ScreenDriver {
 public:
  struct Options {
    plat::ScreenSettings screen;
    // A program the display starts as its session (ended when the display ends).
    std::vector<std::string> session;
    // Headless by "--headless"; false: by a process environment without a display.
    bool headlessFlag = true;
  };
  explicit ScreenDriver(const plat::ScreenSettings& screen = {}) : ScreenDriver(Options{screen, {}, true}) {}
  explicit ScreenDriver(const Options& options);
  // Ends the programs it started (their windows are asked to close first),
  // then the display.
  ~ScreenDriver();
  ScreenDriver(const ScreenDriver&) = delete;
  ScreenDriver& operator=(const ScreenDriver&) = delete;

  // The display answers its control interface.
  bool Ready() const { return ready_; }
  const ScopedTempDevice& Device() const { return device_; }
  const plat::ScreenSettings& Screen() const { return screen_; }
  pid_t DisplayPid() const { return display_; }

  // Starts a program on the device (its own process); -1 on failure.
  pid_t Launch(const std::string& program, const std::vector<std::string>& args);
  // Ends a program started here: SIGKILL when kill, else SIGTERM; reaps it.
  // Its exit status (as ChildProcess reports it).
  int Stop(pid_t pid, bool kill = false);
  // Waits for a started program to end by itself; ChildProcess::kTimedOut when it did not.
  int WaitExit(pid_t pid, int boundMs = 10000);

  // Ends the display with "quit"; its exit status (ChildProcess::kTimedOut when it hangs).
  int Quit(int boundMs = 10000);
  // After Quit: the display started again on the same device, a new screen
  // session (with the same session program); Ready() says whether it answers.
  bool Restart();
  // After Quit: the device folder removed and made again at the same path (a
  // reset of the device), with its screen; this process uses the new one.
  void ResetDeviceFolder();
  // The power goes: the display and every program of the device are killed
  // at once, leaving whatever they had in shared memory and in the device
  // folder as it was.
  void PowerCut();
  // The processes other than this one that run on the device (their
  // environment names it) and have not ended.
  std::vector<pid_t> ProgramsRunning() const;

  // One command; the reply's lines (empty when the display did not answer).
  std::vector<std::string> Command(const std::string& line);
  // True for an "ok" reply.
  bool Ok(const std::string& line);

  bool Tap(int x, int y) { return Ok("tap " + Xy(x, y)); }
  bool Hold(int x, int y, int ms = 1000) { return Ok("hold " + Xy(x, y) + " " + std::to_string(ms)); }
  bool Drag(int x1, int y1, int x2, int y2, int ms = 300) {
    return Ok("drag " + Xy(x1, y1) + " " + Xy(x2, y2) + " " + std::to_string(ms));
  }
  bool Wheel(int x, int y, int clicks) { return Ok("wheel " + Xy(x, y) + " " + std::to_string(clicks)); }
  bool Key(const std::string& name) { return Ok("key " + name); }
  bool Text(const std::string& utf8) { return Ok("text " + utf8); }

  // The top-level windows, top of the z-order first.
  std::vector<plat::display::WindowLine> Windows();
  // The first visible window of the class (exact, ignoring case) within the bound.
  std::optional<plat::display::WindowLine> WaitForWindow(const std::string& cls, int boundMs = 10000);
  // The display composes the screen into <ScreenshotFolder()>/<name>.png; the
  // path, or empty on failure.
  std::string Screenshot(const std::string& name);
  // The screen composed in this process (same device and screen), for checks of pixels.
  plat::PixelImage ComposedScreen();

  // Checks cond until it holds or boundMs passed.
  static bool WaitUntil(const std::function<bool()>& cond, int boundMs = 10000);
  // True when the window list marks a window animating: a screen transition
  // draws over it now.
  bool AnyWindowAnimating();
  // Waits until no window is marked animating and the composed screen holds
  // still over three looks in a row, after it changed from `before` when that
  // is given: a screen that slides in has arrived and the programs have drawn
  // their answer to the input (a program paints once its queue is empty). A
  // transition is marked from its start, so a caller that first waits for
  // what the new screen shows (its caption) never sees the old screen here.
  bool WaitForStillScreen(const std::vector<plat::DWORD>* before = nullptr, int boundMs = 20000);
  // The same for a part of the screen: what part() reads of ComposedScreen().
  bool WaitForStillPart(const std::function<std::vector<plat::DWORD>()>& part,
                        const std::vector<plat::DWORD>* before = nullptr, int boundMs = 20000);

 private:
  static std::string Xy(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }
  bool StartDisplay();

  ScopedTempDevice device_;
  plat::ScreenSettings screen_;
  Options options_;
  pid_t display_ = -1;
  bool ready_ = false;
  std::vector<pid_t> programs_;
  plat::display::ControlClient client_;
};

// The lines of a log file (a program's input log); empty when missing.
std::vector<std::string> ReadLines(const std::string& hostPath);
// True when the file has a line equal to line (or starting with it plus a space, when prefix).
bool HasLine(const std::string& hostPath, const std::string& line, bool prefix = false);

}  // namespace orvtest
