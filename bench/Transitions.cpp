// Screen transitions at 480x640 frame by frame (push, cross-fade, the cube,
// a rectangle turn: milliseconds per frame, goals 8 ms for the push and 12
// ms for the cube), and kinetic scrolling: the CPU used while momentum runs
// on an idle list, and that no frame is drawn while nothing moves.
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "layout/DialogFontCache.h"
#include "layout/KineticScroller.h"
#include "layout/ScreenScale.h"
#include "layout/ScreenTransition.h"
#include "platform/windows/Windows.h"

namespace {

using namespace plat;
using bench::Clock;

SharedBitmap Picture(int w, int h, int seed) {
  auto b = std::make_shared<CBitmapBuffer>();
  b->Create(w, h, CBitmapBuffer::kRgb565);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<std::uint16_t*>(b->Row(y));
    for (int x = 0; x < w; ++x) row[x] = static_cast<std::uint16_t>((x * 7 + y * 13 + seed * 977) ^ (y << 5));
  }
  return b;
}

int g_scrolls = 0;
LRESULT ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_VSCROLL) {
    ++g_scrolls;
    InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r{0, 0, 480, 640};
    HBRUSH b = CreateSolidBrush(RGB(GetScrollPos(hwnd, SB_VERT) & 255, 90, 160));
    FillRect(dc, &r, b);
    DeleteObject(b);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Transition(int code, const char* name, HWND window, const SharedBitmap& from, const SharedBitmap& to,
                double goalMs) {
  const RECT band{0, 200, 480, 280};
  auto t = CreateScreenTransition(code, from, to, window, &band);
  DWORD d = 0;
  t->Prepare(&d);
  // Every millisecond of the effect as a frame, several times over.
  int frames = 0;
  auto start = Clock::now();
  for (int round = 0; round < 3; ++round)
    for (DWORD ms = 0; ms <= d; ms += 4, ++frames) t->RenderFrame(ms);
  const double perFrame = bench::Seconds(start) * 1000 / frames;
  std::printf("%-28s %6.2f ms/frame (goal %4.1f) %s\n", name, perFrame, goalMs, perFrame <= goalMs ? "ok" : "SLOW");
}

// Momentum on a list with the real clock and a real message loop, for the
// given time; returns the CPU share.
void Momentum(HWND list, int velocity, int rowPixels, DWORD runMs, const char* name) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 100000, static_cast<UINT>(640 / rowPixels), 50000, 0};
  SetScrollInfo(list, SB_VERT, &si, FALSE);
  KineticScroller scroller(list, nullptr);
  g_scrolls = 0;
  const double cpu0 = CpuSeconds();
  auto start = Clock::now();
  scroller.StartMomentum(velocity);
  int passes = 0;
  while (bench::Seconds(start) * 1000 < runMs) {
    MSG m;
    if (MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, 0) == WAIT_TIMEOUT) continue;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_TIMER) ++passes;
      if (FilterKineticMessage(&scroller, m)) continue;
      DispatchMessageW(&m);
    }
  }
  const double wall = bench::Seconds(start), cpu = CpuSeconds() - cpu0;
  std::printf("%-28s %5.0f ms: %4d passes, %4d frames drawn, CPU %5.1f%%, still moving: %s\n", name, wall * 1000,
              passes, g_scrolls, cpu / wall * 100, scroller.IsMomentumRunning() ? "yes" : "no");
}

}  // namespace

int main() {
  const std::string device = bench::MakeTempDevice();
  if (device.empty()) return 1;
  SetScreenForTesting(480, 640, 192);
  ResetUiToolkitForTesting();
  WNDCLASSW wc{};
  wc.lpfnWndProc = &ListProc;
  wc.lpszClassName = u"BenchList";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, u"BenchList", u"", WS_POPUP | WS_VISIBLE | WS_VSCROLL, 0, 0, 480, 640, nullptr,
                                nullptr, nullptr, nullptr);
  auto from = Picture(480, 640, 1), to = Picture(480, 640, 2);
  std::printf("Screen transitions at 480x640, 192 dpi:\n");
  Transition(3, "push forward (3)", window, from, to, 8);
  Transition(4, "push backward (4)", window, from, to, 8);
  Transition(2, "cross-fade (2)", window, from, to, 8);
  Transition(0, "cube forward (0)", window, from, to, 12);
  Transition(1, "cube backward (1)", window, from, to, 12);
  Transition(7, "rectangle turn (7)", window, from, to, 12);
  Transition(5, "rectangle turn, 2 axes (5)", window, from, to, 12);

  std::printf("Kinetic scrolling on a 480x640 list:\n");
  Momentum(window, 3000, 1, 1000, "fling, pixel rows");
  Momentum(window, 250, 160, 1000, "slow drift, 160-px rows");
  Momentum(window, 0, 1, 500, "no motion");
  DestroyWindow(window);
  std::error_code ignored;
  std::filesystem::remove_all(device, ignored);
  return 0;
}
