// The control interface of the display program, for scripts, the control tool
// and the whole-program test driver: a stream socket of the device (abstract
// Unix socket "orv-display-<device token>"), one command per line, one reply
// per command.
//
// Commands (coordinates are device screen pixels):
//   ping                          ok
//   screen                        ok <width> <height> <dpi>
//   tap X Y                       a stylus down and up
//   down X Y | move X Y | up X Y  one stylus message
//   hold X Y [MS]                 down, MS milliseconds (1000), up
//   drag X1 Y1 X2 Y2 [MS]         down, moves over MS milliseconds (300), up
//   wheel X Y CLICKS              the wheel under a point (negative: up)
//   key NAME [down|up]            a device key (see KeyByName): pressed, or one edge
//   text TEXT                     WM_CHAR for each character of the rest of the line (UTF-8)
//   screenshot PATH               composes the screen into a PNG file: ok <width> <height>
//   windows                       the top-level windows, top of the z-order first
//   quit                          ends the display program
//
// A reply is one line beginning with "ok" or "error <reason>"; "ok +N" is
// followed by N lines. Each window line holds tab-separated fields: handle,
// process id, visible (1/0), "left,top,right,bottom", class, title (tab,
// newline and backslash in class and title written as \t, \n, \\), animating
// (1/0: an animation such as a screen transition draws over the window now;
// once it is 0 the window's screen is in place).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/display/DeviceInput.h"
#include "platform/display/ScreenComposer.h"

namespace plat::display {

constexpr std::size_t kMaxControlLine = 4096;

// The socket name of the current device's display.
std::string ControlAddress();

struct ControlHooks {
  std::function<void()> quit;  // the display should end (after the reply)
};

// Runs one command line; the reply without its final newline.
std::string ExecuteControl(const std::string& line, DeviceInput& input, ScreenComposer& composer,
                           const ControlHooks& hooks);

// Serves the control socket on a thread of its own.
class ControlServer {
 public:
  ControlServer(DeviceInput& input, ScreenComposer& composer, ControlHooks hooks);
  ~ControlServer();
  // False when the socket cannot be had (another display serves this device).
  bool Start();
  void Stop();

 private:
  void Run();

  DeviceInput& input_;
  ScreenComposer& composer_;
  ControlHooks hooks_;
  int listen_ = -1;
  int wake_ = -1;
  std::thread thread_;
};

// One connection to the display of the current device.
class ControlClient {
 public:
  ControlClient() = default;
  ~ControlClient();
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  bool Connect();
  bool Connected() const { return fd_ >= 0; }
  // Sends one command and returns its reply lines (the first is "ok ..." or
  // "error ..."); nothing when the connection broke or timeoutMs passed.
  std::optional<std::vector<std::string>> Call(const std::string& command, int timeoutMs = 30000);

 private:
  std::optional<std::string> ReadLine(int timeoutMs);
  int fd_ = -1;
  std::string buffer_;
};

// A window line of the "windows" reply, read back.
struct WindowLine {
  unsigned hwnd = 0;
  int pid = 0;
  bool visible = false;
  int left = 0, top = 0, right = 0, bottom = 0;
  std::string cls;    // UTF-8
  std::string title;  // UTF-8
  bool animating = false;
};
std::optional<WindowLine> ParseWindowLine(const std::string& line);

}  // namespace plat::display
