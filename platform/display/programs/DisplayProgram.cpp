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
// A program given after "--" is started on the device; when the display ends
// (its window closed, "quit", SIGINT or SIGTERM) the programs it started are
// asked to close their windows, then ended.
#include <SDL.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
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

// The programs started on the device by this display.
class Session {
 public:
  bool Start(const std::vector<std::string>& program) {
    if (program.empty()) return true;
    SpawnOptions options;
    options.environment = {"ORVNEWS_DEVICE=" + DeviceRoot()};
    int pid = 0;
    if (int err = SpawnProcess(program, options, &pid)) {
      std::fprintf(stderr, "orv-display: cannot start %s: %s\n", program[0].c_str(), std::strerror(err));
      return false;
    }
    pids_.push_back(pid);
    return true;
  }

  // Asks the programs to close their windows, waits a little, then ends them.
  void End() {
    if (pids_.empty()) return;
    struct Ask {
      std::vector<pid_t>* pids;
    } ask{&pids_};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
          auto* a = reinterpret_cast<Ask*>(lp);
          DWORD pid = 0;
          GetWindowThreadProcessId(hwnd, &pid);
          for (pid_t p : *a->pids)
            if (static_cast<DWORD>(p) == pid) PostMessageW(hwnd, WM_CLOSE, 0, 0);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&ask));
    if (!Reap(5000)) {
      for (pid_t p : pids_) ::kill(p, SIGTERM);
      if (!Reap(2000))
        for (pid_t p : pids_) ::kill(p, SIGKILL);
      Reap(2000);
    }
  }

 private:
  bool Reap(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pids_.empty()) {
      std::erase_if(pids_, [](pid_t p) { return ::waitpid(p, nullptr, WNOHANG) != 0; });
      if (pids_.empty()) break;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  std::vector<pid_t> pids_;
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
