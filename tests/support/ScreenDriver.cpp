#include "tests/support/ScreenDriver.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/windows/Windows.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Wait.h"

namespace orvtest {
namespace {

using Clock = std::chrono::steady_clock;

int StatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return ChildProcess::kTimedOut;
}

// Waits for pid to end; its status, or kTimedOut.
int Reap(pid_t pid, int boundMs) {
  auto end = Clock::now() + std::chrono::milliseconds(boundMs);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return StatusOf(status);
    if (r < 0 && errno != EINTR) return ChildProcess::kTimedOut;
    if (Clock::now() > end) return ChildProcess::kTimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, bool noDisplay = false) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (noDisplay) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

// A process that has not ended (a zombie has: only its parent has not reaped it).
bool Alive(const std::filesystem::path& proc) {
  std::ifstream in(proc / "stat");
  std::string text;
  if (!std::getline(in, text)) return false;
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return false;
  const char state = text[close + 2];
  return state != 'Z' && state != 'X' && state != 'x';
}

// Processes other than this one on the device `root` (their environment
// names it) that have not ended; startedOnly: only those that the device's
// programs started (ShellExecuteEx, CreateProcessW), which are detached from
// this process and found by the environment the device's program starter
// gives them.
std::vector<pid_t> ProcessesOnDevice(const std::string& root, bool startedOnly) {
  std::vector<pid_t> found;
  const std::string device = "ORVNEWS_DEVICE=" + root;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == ::getpid()) continue;
    std::ifstream in(entry.path() / "environ", std::ios::binary);
    bool onDevice = false, started = false;
    for (std::string var; std::getline(in, var, '\0');) {
      onDevice = onDevice || var == device;
      started = started || var.rfind("ORVNEWS_SHOWCMD=", 0) == 0;
    }
    if (onDevice && (started || !startedOnly) && Alive(entry.path())) found.push_back(pid);
  }
  return found;
}
std::vector<pid_t> ProgramsStartedOnDevice(const std::string& root) { return ProcessesOnDevice(root, true); }

}  // namespace

std::string DisplayProgramPath() { return ORV_DISPLAY_PROGRAM; }
std::string TestAppPath() { return ORV_TEST_APP; }

std::string ScreenshotFolder() {
  std::string dir = ORV_SCREENSHOT_DIR;
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir += "/" + name;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir;
}

ScreenDriver::ScreenDriver(const Options& options) : screen_(options.screen), options_(options) {
  if (!plat::WriteDeviceScreen(screen_)) return;
  plat::SetScreenForTesting(screen_.width, screen_.height, screen_.dpi);
  StartDisplay();
}

bool ScreenDriver::StartDisplay() {
  ready_ = false;
  std::vector<std::string> args{"--device", device_.Root()};
  if (options_.headlessFlag) args.push_back("--headless");
  if (!options_.session.empty()) {
    args.push_back("--");
    args.insert(args.end(), options_.session.begin(), options_.session.end());
  }
  display_ = Spawn(DisplayProgramPath(), args, !options_.headlessFlag);
  if (display_ < 0) return false;
  ready_ = WaitUntil([&] { return client_.Connect() || Reap(display_, 0) != ChildProcess::kTimedOut; }) &&
           Ok("ping");
  return ready_;
}

bool ScreenDriver::Restart() {
  if (display_ > 0) return false;
  return StartDisplay();
}

void ScreenDriver::ResetDeviceFolder() {
  RemoveTree(device_.Root());
  plat::SetDeviceRoot(device_.Root());
  plat::WriteDeviceScreen(screen_);
}

void ScreenDriver::PowerCut() {
  if (display_ > 0) ::kill(display_, SIGKILL);
  for (pid_t pid : ProcessesOnDevice(device_.Root(), false)) ::kill(pid, SIGKILL);
  if (display_ > 0 && Reap(display_, 5000) != ChildProcess::kTimedOut) display_ = -1;
  for (pid_t pid : std::vector<pid_t>(programs_))
    if (Reap(pid, 5000) != ChildProcess::kTimedOut) std::erase(programs_, pid);
  ready_ = false;
}

std::vector<pid_t> ScreenDriver::ProgramsRunning() const { return ProcessesOnDevice(device_.Root(), false); }

ScreenDriver::~ScreenDriver() {
  for (pid_t pid : std::vector<pid_t>(programs_)) {
    // Asked to close first, so that a program ends as it would on the device.
    struct Ask {
      pid_t pid;
    } ask{pid};
    plat::EnumWindows(
        [](plat::HWND hwnd, plat::LPARAM lp) -> plat::BOOL {
          plat::DWORD owner = 0;
          plat::GetWindowThreadProcessId(hwnd, &owner);
          if (static_cast<pid_t>(owner) == reinterpret_cast<Ask*>(lp)->pid)
            plat::PostMessageW(hwnd, plat::WM_CLOSE, 0, 0);
          return plat::TRUE;
        },
        reinterpret_cast<plat::LPARAM>(&ask));
    if (Reap(pid, 3000) == ChildProcess::kTimedOut) Stop(pid, true);
  }
  // A program started on the device that is still running (a test that
  // failed before it ended) would outlive the test and keep its output open.
  for (pid_t pid : ProgramsStartedOnDevice(device_.Root())) ::kill(pid, SIGKILL);
  if (display_ > 0 && Quit(5000) == ChildProcess::kTimedOut) {
    ::kill(display_, SIGKILL);
    Reap(display_, 5000);
  }
  plat::ResetScreenForTesting();
}

int ScreenDriver::Quit(int boundMs) {
  if (display_ <= 0) return ChildProcess::kTimedOut;
  if (ready_) Ok("quit");
  int r = Reap(display_, boundMs);
  if (r != ChildProcess::kTimedOut) display_ = -1;
  return r;
}

pid_t ScreenDriver::Launch(const std::string& program, const std::vector<std::string>& args) {
  pid_t pid = Spawn(program, args);
  if (pid > 0) programs_.push_back(pid);
  return pid;
}

int ScreenDriver::Stop(pid_t pid, bool kill) {
  ::kill(pid, kill ? SIGKILL : SIGTERM);
  int r = Reap(pid, 10000);
  std::erase(programs_, pid);
  return r;
}

int ScreenDriver::WaitExit(pid_t pid, int boundMs) {
  int r = Reap(pid, boundMs);
  if (r != ChildProcess::kTimedOut) std::erase(programs_, pid);
  return r;
}

std::vector<std::string> ScreenDriver::Command(const std::string& line) {
  auto reply = client_.Call(line);
  if (!reply) return {};
  return *reply;
}

bool ScreenDriver::Ok(const std::string& line) {
  auto r = Command(line);
  return !r.empty() && r[0].rfind("ok", 0) == 0;
}

std::vector<plat::display::WindowLine> ScreenDriver::Windows() {
  std::vector<plat::display::WindowLine> out;
  auto r = Command("windows");
  for (std::size_t i = 1; i < r.size(); ++i)
    if (auto w = plat::display::ParseWindowLine(r[i])) out.push_back(*w);
  return out;
}

std::optional<plat::display::WindowLine> ScreenDriver::WaitForWindow(const std::string& cls, int boundMs) {
  std::optional<plat::display::WindowLine> found;
  auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
  };
  WaitUntil(
      [&] {
        for (const auto& w : Windows()) {
          if (w.visible && lower(w.cls) == lower(cls)) {
            found = w;
            return true;
          }
        }
        return false;
      },
      boundMs);
  return found;
}

std::string ScreenDriver::Screenshot(const std::string& name) {
  std::string path = ScreenshotFolder() + "/" + name + ".png";
  return Ok("screenshot " + path) ? path : std::string();
}

plat::PixelImage ScreenDriver::ComposedScreen() {
  plat::ComposeScreen();
  return plat::ReadBitmapPixels(plat::ScreenBitmap());
}

bool ScreenDriver::AnyWindowAnimating() {
  for (const auto& w : Windows())
    if (w.animating) return true;
  return false;
}

bool ScreenDriver::WaitForStillScreen(const std::vector<plat::DWORD>* before, int boundMs) {
  return WaitForStillPart([this] { return ComposedScreen().pixels; }, before, boundMs);
}

bool ScreenDriver::WaitForStillPart(const std::function<std::vector<plat::DWORD>()>& part,
                                    const std::vector<plat::DWORD>* before, int boundMs) {
  std::vector<plat::DWORD> last;
  int still = 0;
  return WaitUntil(
      [&] {
        std::vector<plat::DWORD> now = part();
        // Looked at after the picture: a transition under way when it was
        // taken is marked by now.
        if (AnyWindowAnimating()) {
          still = 0;
          last.clear();
          return false;
        }
        const bool changed = !before || now != *before;
        still = changed && !now.empty() && now == last ? still + 1 : 0;
        last = std::move(now);
        return still >= 3;
      },
      boundMs);
}

bool ScreenDriver::WaitUntil(const std::function<bool()>& cond, int boundMs) {
  // What the conditions look at is asked of the display: every 10 ms.
  return Eventually(cond, boundMs, 10);
}

std::vector<std::string> ReadLines(const std::string& hostPath) {
  std::vector<std::string> out;
  std::ifstream f(hostPath);
  std::string line;
  while (std::getline(f, line)) out.push_back(line);
  return out;
}

bool HasLine(const std::string& hostPath, const std::string& line, bool prefix) {
  for (const auto& l : ReadLines(hostPath))
    if (l == line || (prefix && l.rfind(line + " ", 0) == 0)) return true;
  return false;
}

}  // namespace orvtest
