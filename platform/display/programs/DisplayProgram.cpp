// orv-display: the device's screen. Shows the composed screen of the device in
// a window (SDL2), scaled to fit, redrawn when something on the screen changed,
// and turns the mouse, touch and keys into the device's stylus and keys. With
// no display (no DISPLAY or WAYLAND_DISPLAY) or with --headless it runs
// without a window. Either way it serves the control interface
// (platform/display/Control.h).
//
//   orv-display [--device DIR] [--screen 480x640@192[,landscape]] [--headless]
//               [-- PROGRAM ARGS...]
//
// A program given after "--" is started on the device. When the display ends
// (its window closed, "quit", SIGINT or SIGTERM) every program of the device
// ends with it: those it started, those the device's programs started and
// those started by hand that show a window on it are asked to close their
// windows, then ended. A program it started that ends meanwhile is reaped at
// once.
#include <SDL.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Device.h"
#include "platform/base/ScreenSettings.h"
#include "platform/base/Spawn.h"
#include "platform/base/Text.h"
#include "platform/display/ClipboardBridge.h"
#include "platform/display/Control.h"
#include "platform/display/DeviceInput.h"
#include "platform/display/UserActivity.h"
#include "platform/display/ScreenComposer.h"
#include "platform/ipc/ScreenNotice.h"
#include "platform/windows/Windows.h"

namespace {

using namespace plat;
using namespace plat::display;

struct Options {
  std::string device;
  std::string screen;
  bool headless = false;
  std::vector<std::string> program;
};

void Usage() {
  std::fprintf(stderr,
               "usage: orv-display [--device DIR] [--screen WxH[@DPI][,landscape]] [--headless] [-- PROGRAM ARGS...]\n");
}

bool ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {
      for (++i; i < argc; ++i) o->program.push_back(argv[i]);
      break;
    }
    if (a == "--headless") o->headless = true;
    else if (a == "--device" && i + 1 < argc) o->device = argv[++i];
    else if (a == "--screen" && i + 1 < argc) o->screen = argv[++i];
    else return false;
  }
  return true;
}

// Input reaches the device on a thread of its own, in order, so the window
// never waits for a slow program.
class InputWorker {
 public:
  InputWorker() : thread_([this] { Run(); }) {}
  ~InputWorker() {
    {
      std::lock_guard<std::mutex> g(m_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Add(std::function<void()> work) {
    {
      std::lock_guard<std::mutex> g(m_);
      queue_.push_back(std::move(work));
    }
    cv_.notify_all();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> work;
      {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        work = std::move(queue_.front());
        queue_.pop_front();
      }
      work();
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  bool stop_ = false;
  std::thread thread_;
};

// A process as /proc shows it: its parent and start time; nullopt when it is
// gone or has ended (a zombie).
struct ProcessStat {
  pid_t parent = 0;
  unsigned long long start = 0;
};
std::optional<ProcessStat> ReadProcessStat(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  // The command name may hold spaces: fields count from the last ')'.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return std::nullopt;
  const char state = text[close + 2];
  if (state == 'Z' || state == 'X' || state == 'x') return std::nullopt;
  ProcessStat st;
  std::size_t at = close + 2;
  for (int field = 3; field <= 22 && at < text.size(); ++field) {
    const std::size_t next = text.find(' ', at);
    const std::string value = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
    if (field == 4) st.parent = static_cast<pid_t>(std::strtol(value.c_str(), nullptr, 10));
    if (field == 22) st.start = std::strtoull(value.c_str(), nullptr, 10);
    if (next == std::string::npos) break;
    at = next + 1;
  }
  return st;
}

// The programs of the device. Those this display started are its children,
// reaped on a thread of their own as soon as they end, so none stays a zombie
// while the display runs. When the display ends every program of the device
// ends: its children, the programs the device's programs started (they carry
// the device's show command in their environment) and every other process
// with a window on the device. The processes that started the display (a
// shell, a test) are not its to end.
class Session {
 public:
  Session() {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    reaper_ = std::thread([this] { ReapChildren(); });
  }
  ~Session() {
    stop_ = true;
    Wake();
    reaper_.join();
    ::close(wake_);
  }

  bool Start(const std::vector<std::string>& program) {
    if (program.empty()) return true;
    SpawnOptions options;
    options.environment = {"ORVNEWS_DEVICE=" + DeviceRoot()};
    int pid = 0;
    if (int err = SpawnProcess(program, options, &pid)) {
      std::fprintf(stderr, "orv-display: cannot start %s: %s\n", program[0].c_str(), std::strerror(err));
      return false;
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      children_.push_back(pid);
    }
    Wake();
    return true;
  }

  // Asks every program of the device to close its windows, waits a little,
  // then ends those left. Programs started meanwhile are ended too.
  void End() {
    for (int round = 0; round < 3; ++round) {
      std::vector<Program> programs = DevicePrograms();
      if (programs.empty()) break;
      EnumWindows(
          [](HWND hwnd, LPARAM lp) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            for (const Program& p : *reinterpret_cast<std::vector<Program>*>(lp))
              if (static_cast<DWORD>(p.pid) == pid) PostMessageW(hwnd, WM_CLOSE, 0, 0);
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&programs));
      if (WaitGone(programs, 5000)) continue;
      for (const Program& p : programs)
        if (Running(p)) ::kill(p.pid, SIGTERM);
      if (WaitGone(programs, 2000)) continue;
      for (const Program& p : programs)
        if (Running(p)) ::kill(p.pid, SIGKILL);
      WaitGone(programs, 2000);
    }
    // Reading the window table drops the windows (and surfaces) of the programs that ended.
    EnumWindows([](HWND, LPARAM) -> BOOL { return TRUE; }, 0);
  }

 private:
  struct Program {
    pid_t pid;
    unsigned long long start;
  };

  void Wake() {
    std::uint64_t one = 1;
    ssize_t r = ::write(wake_, &one, sizeof one);
    (void)r;
  }

  bool IsChild(pid_t pid) {
    std::lock_guard<std::mutex> g(lock_);
    return std::find(children_.begin(), children_.end(), pid) != children_.end();
  }

  // Still the same process, not ended (a child is reaped by the reaper).
  bool Running(const Program& p) {
    if (IsChild(p.pid)) return true;
    auto st = ReadProcessStat(p.pid);
    return st && st->start == p.start;
  }

  bool WaitGone(const std::vector<Program>& programs, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      if (std::none_of(programs.begin(), programs.end(), [&](const Program& p) { return Running(p); })) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // This process and the ones that started it.
  static std::vector<pid_t> SelfAndAncestors() {
    std::vector<pid_t> out{::getpid()};
    for (pid_t p = ::getppid(); p > 1 && out.size() < 64; ) {
      out.push_back(p);
      auto st = ReadProcessStat(p);
      if (!st) break;
      p = st->parent;
    }
    return out;
  }

  std::vector<Program> DevicePrograms() {
    const std::vector<pid_t> spared = SelfAndAncestors();
    std::vector<pid_t> pids;
    {
      std::lock_guard<std::mutex> g(lock_);
      pids = children_;
    }
    // Every process with a window on the device.
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
          DWORD pid = 0;
          GetWindowThreadProcessId(hwnd, &pid);
          reinterpret_cast<std::vector<pid_t>*>(lp)->push_back(static_cast<pid_t>(pid));
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&pids));
    // Programs the device's programs started, with a window or not yet.
    const std::string device = "ORVNEWS_DEVICE=" + DeviceRoot();
    if (DIR* proc = ::opendir("/proc")) {
      while (const dirent* d = ::readdir(proc)) {
        const std::string name = d->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in("/proc/" + name + "/environ", std::ios::binary);
        bool onDevice = false, started = false;
        for (std::string var; std::getline(in, var, '\0');) {
          onDevice = onDevice || var == device;
          started = started || var.rfind("ORVNEWS_SHOWCMD=", 0) == 0;
        }
        if (onDevice && started) pids.push_back(static_cast<pid_t>(std::stol(name)));
      }
      ::closedir(proc);
    }
    std::vector<Program> out;
    for (pid_t pid : pids) {
      if (pid <= 0 || std::find(spared.begin(), spared.end(), pid) != spared.end()) continue;
      if (std::any_of(out.begin(), out.end(), [&](const Program& p) { return p.pid == pid; })) continue;
      auto st = ReadProcessStat(pid);
      if (st) out.push_back(Program{pid, st->start});
    }
    return out;
  }

  // Waits on each child's process descriptor and reaps it when it ends.
  void ReapChildren() {
    std::vector<std::pair<pid_t, int>> watched;  // child, its pidfd (-1: none)
    while (!stop_) {
      {
        std::lock_guard<std::mutex> g(lock_);
        for (pid_t p : children_)
          if (std::none_of(watched.begin(), watched.end(), [&](const auto& w) { return w.first == p; }))
            watched.emplace_back(p, static_cast<int>(::syscall(SYS_pidfd_open, p, 0)));
      }
      std::vector<pollfd> fds{{wake_, POLLIN, 0}};
      bool unwatchable = false;
      for (const auto& w : watched) {
        if (w.second >= 0) fds.push_back({w.second, POLLIN, 0});
        else unwatchable = true;
      }
      // Without process descriptors (an old kernel) the children are looked at twice a second.
      ::poll(fds.data(), fds.size(), unwatchable ? 500 : -1);
      std::uint64_t v;
      ssize_t r = ::read(wake_, &v, sizeof v);
      (void)r;
      std::erase_if(watched, [&](const auto& w) {
        if (::waitpid(w.first, nullptr, WNOHANG) == 0) return false;
        if (w.second >= 0) ::close(w.second);
        std::lock_guard<std::mutex> g(lock_);
        std::erase(children_, w.first);
        return true;
      });
    }
    for (const auto& w : watched)
      if (w.second >= 0) ::close(w.second);
  }

  std::mutex lock_;
  std::vector<pid_t> children_;
  int wake_ = -1;
  std::atomic<bool> stop_{false};
  std::thread reaper_;
};

// Watches the screen's change notice and tells the window to redraw; after a
// quiet while it reads the window table, which drops the windows of programs
// that died (and raises the notice when it did).
class ChangeWatcher {
 public:
  explicit ChangeWatcher(std::function<void()> changed) : changed_(std::move(changed)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ChangeWatcher() {
    stop_ = true;
    NotifyScreenChanged();
    thread_.join();
  }

 private:
  void Run() {
    std::uint32_t seen = ScreenChangeSerial();
    while (!stop_) {
      std::uint32_t now = WaitScreenChange(seen, 500);
      if (stop_) break;
      if (now != seen) {
        seen = now;
        changed_();
      } else {
        EnumWindows([](HWND, LPARAM) -> BOOL { return TRUE; }, 0);
      }
    }
  }
  std::function<void()> changed_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

int RunHeadless(ControlServer& server, int quitFd) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  int sfd = ::signalfd(-1, &set, SFD_CLOEXEC);
  pollfd fds[2] = {{quitFd, POLLIN, 0}, {sfd, POLLIN, 0}};
  while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
  }
  ::close(sfd);
  server.Stop();
  return 0;
}

struct Sdl {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  ~Sdl() {
    if (texture) SDL_DestroyTexture(texture);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
    SDL_Quit();
  }
};

// The window's first size: the screen, scaled down to fit the desktop.
void FirstSize(int w, int h, int* outW, int* outH) {
  SDL_Rect usable{0, 0, 1280, 1024};
  SDL_GetDisplayUsableBounds(0, &usable);
  double scale = 1.0;
  if (w > usable.w * 9 / 10) scale = std::min(scale, usable.w * 0.9 / w);
  if (h > usable.h * 9 / 10) scale = std::min(scale, usable.h * 0.9 / h);
  *outW = std::max(1, static_cast<int>(w * scale));
  *outH = std::max(1, static_cast<int>(h * scale));
}

std::optional<UINT> HostKey(SDL_Keycode k) {
  switch (k) {
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_SPACE: return kVkAction;
    case SDLK_ESCAPE: return VK_ESCAPE;  // the device's Back key
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_F1: return kVkSoft1;
    case SDLK_F2: return kVkSoft2;
    default: return std::nullopt;
  }
}

int RunWindow(Sdl& sdl, DeviceInput& input, ScreenComposer& composer) {
  const int sw = ScreenWidth(), sh = ScreenHeight();
  int ww, wh;
  FirstSize(sw, sh, &ww, &wh);
  sdl.window = SDL_CreateWindow("Orv device screen", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, ww, wh,
                                SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
  if (!sdl.window) return -1;
  sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_ACCELERATED);
  if (!sdl.renderer) sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
  if (!sdl.renderer) return -1;
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  SDL_RenderSetLogicalSize(sdl.renderer, sw, sh);  // letterboxed; mouse events come in screen pixels
  sdl.texture = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, sw, sh);
  if (!sdl.texture) return -1;

  const Uint32 redrawEvent = SDL_RegisterEvents(1);
  std::atomic<bool> redrawPending{false};
  auto requestRedraw = [&] {
    if (redrawPending.exchange(true)) return;
    SDL_Event e{};
    e.type = redrawEvent;
    SDL_PushEvent(&e);
  };
  ChangeWatcher watcher(requestRedraw);
  InputWorker worker;
  SDL_StartTextInput();

  auto present = [&] {
    redrawPending = false;
    composer.Compose([&](const std::uint16_t* px, int w, int h, int stride) {
      if (w == sw && h == sh) SDL_UpdateTexture(sdl.texture, nullptr, px, stride);
    });
    SDL_SetRenderDrawColor(sdl.renderer, 0, 0, 0, 255);
    SDL_RenderClear(sdl.renderer);
    SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, nullptr);
    SDL_RenderPresent(sdl.renderer);
  };
  auto clampX = [&](int x) { return std::clamp(x, 0, sw - 1); };
  auto clampY = [&](int y) { return std::clamp(y, 0, sh - 1); };
  auto stylus = [&](UINT msg, int x, int y) {
    worker.Add([&input, msg, x = clampX(x), y = clampY(y)] { input.Stylus(msg, x, y); });
  };

  // The desktop's clipboard and the device's follow each other while the window is up.
  ClipboardBridge clipboard({[]() -> std::optional<std::string> {
                               if (!SDL_HasClipboardText()) return std::nullopt;
                               char* text = SDL_GetClipboardText();
                               std::optional<std::string> out;
                               if (text) out = std::string(text);
                               SDL_free(text);
                               return out;
                             },
                             [](const std::string& text) { SDL_SetClipboardText(text.c_str()); }});
  auto clipboardLooked = std::chrono::steady_clock::now();

  bool leftDown = false, rightDown = false;
  SDL_FingerID finger = 0;
  bool fingerDown = false;
  auto rightSince = std::chrono::steady_clock::now();
  present();
  for (;;) {
    SDL_Event e;
    const bool got = SDL_WaitEventTimeout(&e, 500) != 0;
    if (std::chrono::steady_clock::now() - clipboardLooked >= std::chrono::milliseconds(500)) {
      clipboard.PollDevice();
      clipboardLooked = std::chrono::steady_clock::now();
    }
    if (!got) continue;
    if (e.type == SDL_QUIT) return 0;
    if (e.type == SDL_CLIPBOARDUPDATE) {
      clipboard.DesktopChanged();
      continue;
    }
    if (e.type == redrawEvent) {
      present();
      continue;
    }
    switch (e.type) {
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) present();
        break;
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.which == SDL_TOUCH_MOUSEID || leftDown || rightDown) break;
        if (e.button.button == SDL_BUTTON_LEFT) {
          leftDown = true;
          SDL_CaptureMouse(SDL_TRUE);
          stylus(WM_LBUTTONDOWN, e.button.x, e.button.y);
        } else if (e.button.button == SDL_BUTTON_RIGHT) {
          // A held tap: down now, up no sooner than the hold time.
          rightDown = true;
          rightSince = std::chrono::steady_clock::now();
          stylus(WM_LBUTTONDOWN, e.button.x, e.button.y);
        }
        break;
      case SDL_MOUSEMOTION:
        if (e.motion.which == SDL_TOUCH_MOUSEID || !(leftDown || rightDown)) break;
        stylus(WM_MOUSEMOVE, e.motion.x, e.motion.y);
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.which == SDL_TOUCH_MOUSEID) break;
        if (e.button.button == SDL_BUTTON_LEFT && leftDown) {
          leftDown = false;
          SDL_CaptureMouse(SDL_FALSE);
          stylus(WM_LBUTTONUP, e.button.x, e.button.y);
        } else if (e.button.button == SDL_BUTTON_RIGHT && rightDown) {
          rightDown = false;
          auto until = rightSince + std::chrono::milliseconds(kDefaultHoldMs);
          worker.Add([until] { std::this_thread::sleep_until(until); });
          stylus(WM_LBUTTONUP, e.button.x, e.button.y);
        }
        break;
      case SDL_FINGERDOWN:
        if (fingerDown || leftDown || rightDown) break;
        fingerDown = true;
        finger = e.tfinger.fingerId;
        stylus(WM_LBUTTONDOWN, static_cast<int>(e.tfinger.x * sw), static_cast<int>(e.tfinger.y * sh));
        break;
      case SDL_FINGERMOTION:
        if (fingerDown && e.tfinger.fingerId == finger)
          stylus(WM_MOUSEMOVE, static_cast<int>(e.tfinger.x * sw), static_cast<int>(e.tfinger.y * sh));
        break;
      case SDL_FINGERUP:
        if (fingerDown && e.tfinger.fingerId == finger) {
          fingerDown = false;
          stylus(WM_LBUTTONUP, static_cast<int>(e.tfinger.x * sw), static_cast<int>(e.tfinger.y * sh));
        }
        break;
      case SDL_MOUSEWHEEL: {
        int mx = 0, my = 0;
        SDL_GetMouseState(&mx, &my);
        float lx = 0, ly = 0;
        SDL_RenderWindowToLogical(sdl.renderer, mx, my, &lx, &ly);
        int clicks = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? e.wheel.y : -e.wheel.y;
        if (clicks)
          worker.Add([&input, x = clampX(static_cast<int>(lx)), y = clampY(static_cast<int>(ly)), clicks] {
            input.Wheel(x, y, clicks);
          });
        break;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        bool down = e.type == SDL_KEYDOWN;
        SDL_Keycode k = e.key.keysym.sym;
        std::optional<DeviceKey> key;
        if (auto vk = HostKey(k)) key = DeviceKey{KeyKind::Plain, *vk};
        else if (k == SDLK_F3 || k == SDLK_HELP) key = DeviceKey{KeyKind::Help, 0};
        else if (k == SDLK_HOME) key = DeviceKey{KeyKind::Home, 0};
        if (key) worker.Add([&input, key = *key, down] { input.Key(key, down); });
        break;
      }
      case SDL_TEXTINPUT: {
        std::u16string text = Utf8ToUtf16(e.text.text);
        // Space is the action key; its character still reaches edit boxes.
        worker.Add([&input, text] { input.Text(text); });
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) {
    Usage();
    return 2;
  }
  if (!o.device.empty()) SetDeviceRoot(o.device);
  if (!o.screen.empty()) {
    auto s = ParseScreenSpec(o.screen);
    if (!s) {
      std::fprintf(stderr, "orv-display: bad screen \"%s\" (for example 480x640@192 or 640x480@192)\n",
                   o.screen.c_str());
      return 2;
    }
    if (!WriteDeviceScreen(*s)) {
      std::fprintf(stderr, "orv-display: cannot write the screen settings of %s\n", DeviceRoot().c_str());
      return 1;
    }
  }
  // The screen of this process follows the device's settings from its first use.
  ScreenSettings s = ReadDeviceScreen();

  // Signals end a headless display through its loop, a windowed one through SDL's quit event.
  bool headless = o.headless || (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"));
  if (!headless && SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "orv-display: no display (%s): running headless\n", SDL_GetError());
    headless = true;
  }
  if (headless) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

  DeviceInput input;
  // Taps, keys and the wheel, from the window or the control interface, are
  // the user's activity, as the device's power manager reports it.
  UserActivity activity;
  input.SetUserActivity(&activity);
  ScreenComposer composer;
  int quitFd = ::eventfd(0, EFD_CLOEXEC);
  ControlHooks hooks;
  hooks.quit = [quitFd, headless] {
    if (headless) {
      std::uint64_t one = 1;
      ssize_t r = ::write(quitFd, &one, sizeof one);
      (void)r;
    } else {
      SDL_Event e{};
      e.type = SDL_QUIT;
      SDL_PushEvent(&e);
    }
  };
  ControlServer server(input, composer, hooks);
  if (!server.Start()) {
    std::fprintf(stderr, "orv-display: a display already runs for the device %s\n", DeviceRoot().c_str());
    if (!headless) SDL_Quit();
    return 1;
  }
  // Surfaces that earlier sessions left behind go; this session's names are new.
  BeginScreenSession();
  Session session;
  if (!session.Start(o.program)) {
    std::fprintf(stderr, "orv-display: cannot start %s\n", o.program[0].c_str());
    return 1;
  }
  std::fprintf(stderr, "orv-display: device %s, screen %s%s\n", DeviceRoot().c_str(), FormatScreenSpec(s).c_str(),
               headless ? ", headless" : "");

  int rc = 0;
  if (headless) {
    rc = RunHeadless(server, quitFd);
  } else {
    Sdl sdl;
    rc = RunWindow(sdl, input, composer);
    if (rc < 0) std::fprintf(stderr, "orv-display: %s\n", SDL_GetError());
    server.Stop();
  }
  session.End();
  ::close(quitFd);
  return rc < 0 ? 1 : 0;
}
