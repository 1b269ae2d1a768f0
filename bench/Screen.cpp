// The device screen: composing a 480x640 screen of 6 overlapping windows and
// presenting it (into an RGB565 frame as the display window takes it), and the
// latency of an injected tap until the window procedure runs, with the window
// in this process and in another one.
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/display/ScreenComposer.h"
#include "platform/windows/Windows.h"
#include "tests/support/Pump.h"

namespace {

using namespace plat;
using bench::Clock;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The time the window procedure saw the last press (shared with a child process).
std::atomic<std::int64_t>* g_pressedAt = nullptr;

LRESULT PaintedProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_LBUTTONDOWN) {
    g_pressedAt->store(NowNs());
    return 0;
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r;
    GetClientRect(hwnd, &r);
    auto v = static_cast<BYTE>(HandleToValue(hwnd) * 37);
    HBRUSH b = CreateSolidBrush(RGB(v, static_cast<BYTE>(255 - v), 128));
    FillRect(dc, &r, b);
    DeleteObject(b);
    DrawTextW(dc, u"Window", -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterBenchClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PaintedProc;
  wc.lpszClassName = u"OrvBenchWindow";
  RegisterClassW(&wc);
}

struct Stats {
  double median, p95, max;
};
Stats Summarize(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return Stats{v[v.size() / 2], v[v.size() * 95 / 100], v.back()};
}

void ComposeBench() {
  std::vector<HWND> windows;
  for (int i = 0; i < 6; ++i) {
    // Overlapping: each 60 px further right and down, the last ones full-width.
    int x = i * 40, y = i * 60;
    HWND w = CreateWindowExW(0, u"OrvBenchWindow", u"bench", WS_VISIBLE, x, y, 480 - x, 400, nullptr, nullptr,
                             nullptr, nullptr);
    windows.push_back(w);
  }
  orvtest::PumpMessages();
  display::ScreenComposer composer;
  std::vector<std::uint16_t> frame(480 * 640);
  std::vector<double> compose, present;
  for (int i = 0; i < 300; ++i) {
    auto t0 = Clock::now();
    ComposeScreen();
    compose.push_back(bench::Seconds(t0) * 1000);
    t0 = Clock::now();
    composer.Compose([&](const std::uint16_t* px, int w, int h, int stride) {
      for (int row = 0; row < h; ++row)
        std::memcpy(&frame[static_cast<std::size_t>(row) * w], reinterpret_cast<const char*>(px) + row * stride,
                    static_cast<std::size_t>(w) * 2);
    });
    present.push_back(bench::Seconds(t0) * 1000);
  }
  Stats c = Summarize(compose), p = Summarize(present);
  std::printf("compose 480x640, 6 windows: median %.3f ms, p95 %.3f ms, max %.3f ms (goal <= 2 ms)\n", c.median, c.p95,
              c.max);
  std::printf("compose + present frame:    median %.3f ms, p95 %.3f ms, max %.3f ms\n", p.median, p.p95, p.max);
  for (HWND w : windows) DestroyWindow(w);
}

// Taps a window and waits for its procedure to see the press.
Stats TapLatency(HWND target, int x, int y, int rounds) {
  std::vector<double> v;
  for (int i = 0; i < rounds; ++i) {
    g_pressedAt->store(0);
    std::int64_t t0 = NowNs();
    if (!InjectStylus(WM_LBUTTONDOWN, x, y)) {
      std::printf("the tap reached no window\n");
      return Stats{};
    }
    while (g_pressedAt->load() == 0) std::this_thread::yield();
    v.push_back(static_cast<double>(g_pressedAt->load() - t0) / 1e6);
    InjectStylus(WM_LBUTTONUP, x, y);
    (void)target;
  }
  return Summarize(v);
}

void LatencyBench() {
  // In this process: the window's thread runs its loop.
  std::atomic<HWND> local{nullptr};
  std::atomic<bool> stop{false};
  std::thread ui([&] {
    local = CreateWindowExW(0, u"OrvBenchWindow", u"local", WS_VISIBLE, 0, 0, 200, 200, nullptr, nullptr, nullptr,
                            nullptr);
    while (!stop) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      orvtest::PumpMessages();
    }
    DestroyWindow(local);
  });
  while (!local) std::this_thread::yield();
  Stats s = TapLatency(local, 10, 10, 200);
  std::printf("tap to window procedure, same process:    median %.3f ms, p95 %.3f ms, max %.3f ms\n", s.median, s.p95,
              s.max);
  stop = true;
  ui.join();

  // In another process: over its socket.
  pid_t child = fork();
  if (child == 0) {
    RegisterBenchClass();  // the child's window manager starts afresh
    HWND w = CreateWindowExW(0, u"OrvBenchWindow", u"remote", WS_VISIBLE, 0, 0, 200, 200, nullptr, nullptr, nullptr,
                             nullptr);
    (void)w;
    for (;;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
      orvtest::PumpMessages();
    }
  }
  for (;;) {
    HWND remote = FindWindowW(u"OrvBenchWindow", u"remote");
    if (remote && IsWindowVisible(remote)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  s = TapLatency(nullptr, 10, 10, 200);
  std::printf("tap to window procedure, another process: median %.3f ms, p95 %.3f ms, max %.3f ms\n", s.median, s.p95,
              s.max);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string device = bench::MakeTempDevice();
  if (device.empty()) return 1;
  void* shared = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  g_pressedAt = new (shared) std::atomic<std::int64_t>(0);
  SetScreenForTesting(480, 640, 192);
  RegisterBenchClass();
  ComposeBench();
  LatencyBench();
  std::error_code ec;
  std::filesystem::remove_all(device, ec);
  return 0;
}
