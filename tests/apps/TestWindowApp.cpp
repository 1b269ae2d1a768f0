// orv-testapp: a small program of the device for the whole-program tests of
// the screen. It opens one top-level window that draws text and shapes, and
// writes every input it gets to a log file, one line each:
//
//   ready <hwnd>            the window is shown and painted
//   down|move|up <x> <y>    stylus messages (client coordinates)
//   tap|drag|hold <x> <y>   what the stylus loop made of a press
//   capture-lost            the loop ended because another window took the stylus
//   keydown|keyup <vk>      keys (hexadecimal)
//   char <code>             characters
//   help | vscroll <code> | activate <state>
//   answered <n>            the registered message "OrvTestApp.Question" (answer 2n)
//   took-capture            "OrvTestApp.TakeCapture" made the window take the stylus
//   screen <w> <h> <dpi x> <dpi y> <platform>   at start
//   frames <n>              the animation thread drew its frames
//
// A press runs a stylus loop of its own, as finger-driven views do: it holds
// the capture and pumps the thread's messages itself until the stylus is up.
//
//   orv-testapp --log PATH [--class NAME] [--title TEXT] [--rect X,Y,W,H]
//               [--colour RRGGBB] [--animate FRAMES]
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/SystemMetrics.h"
#include "platform/windows/Windows.h"
#include "tests/support/AppLog.h"

namespace {

using namespace plat;

FILE*& g_log = orvtest::AppLogFile();
constexpr auto Log = &orvtest::AppLog;
COLORREF g_colour = 0xF0F0E0;  // RRGGBB until the arguments are read
std::u16string g_title = u"Test window";
HWND g_window = nullptr;


void Paint(HDC dc, const RECT& client) {
  HBRUSH back = CreateSolidBrush(g_colour);
  FillRect(dc, &client, back);
  DeleteObject(back);
  HBRUSH red = CreateSolidBrush(RGB(0xD0, 0x20, 0x20));
  RECT box{20, 60, 120, 140};
  FillRect(dc, &box, red);
  DeleteObject(red);
  HBRUSH blue = CreateSolidBrush(RGB(0x20, 0x40, 0xD0));
  HGDIOBJ oldBrush = SelectObject(dc, blue);
  Ellipse(dc, 140, 60, 240, 140);
  SelectObject(dc, oldBrush);
  DeleteObject(blue);
  HBRUSH green = CreateSolidBrush(RGB(0x20, 0xA0, 0x40));
  oldBrush = SelectObject(dc, green);
  POINT tri[3] = {{20, 220}, {120, 160}, {220, 220}};
  Polygon(dc, tri, 3);
  SelectObject(dc, oldBrush);
  DeleteObject(green);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  RECT text{10, 10, client.right - 10, 50};
  DrawTextW(dc, g_title.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE);
  RECT hello{10, 240, client.right - 10, 280};
  DrawTextW(dc, u"Hello, device", -1, &hello, DT_LEFT | DT_SINGLELINE);
}

// The stylus loop of a press: tap, drag or hold, pumping the thread's other
// messages meanwhile.
void StylusLoop(HWND hwnd, int x0, int y0) {
  SetCapture(hwnd);
  int x = x0, y = y0;
  bool moved = false, held = false;
  for (;;) {
    if (GetCapture() != hwnd) {
      Log("capture-lost");
      return;
    }
    DWORD r = MsgWaitForMultipleObjectsEx(0, nullptr, 400, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_TIMEOUT) {
      if (!moved && !held) {
        held = true;
        Log("hold %d %d", x, y);
      }
      continue;
    }
    MSG m;
    if (PeekMessageW(&m, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
      POINT pts[8];
      UINT got = 99;
      if (GetMouseMovePoints(pts, 8, &got) || got != 0) Log("move-points %u", got);
      x = GET_X_LPARAM(m.lParam);
      y = GET_Y_LPARAM(m.lParam);
      if (m.message == WM_MOUSEMOVE) {
        Log("move %d %d", x, y);
        if (std::abs(x - x0) > 4 || std::abs(y - y0) > 4) moved = true;
      } else if (m.message == WM_LBUTTONUP) {
        Log("up %d %d", x, y);
        ReleaseCapture();
        if (moved) Log("drag %d %d", x, y);
        else if (!held) Log("tap %d %d", x, y);
        return;
      }
      continue;
    }
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(m.wParam));
        return;
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
      if (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST) break;
    }
  }
}

void Animate(HWND hwnd, int frames) {
  RECT band{0, 300, 0, 340};
  for (int i = 0; i < frames; ++i) {
    HDC dc = GetDC(hwnd);
    if (!dc) return;
    RECT client;
    GetClientRect(hwnd, &client);
    band.right = client.right;
    HBRUSH back = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    FillRect(dc, &band, back);
    DeleteObject(back);
    HBRUSH square = CreateSolidBrush(RGB(0x80, 0x00, 0x80));
    RECT r{i * 4, 300, i * 4 + 40, 340};
    FillRect(dc, &r, square);
    DeleteObject(square);
    ReleaseDC(hwnd, dc);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Log("frames %d", frames);
}

LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  static const UINT question = RegisterWindowMessageW(u"OrvTestApp.Question");
  static const UINT takeCapture = RegisterWindowMessageW(u"OrvTestApp.TakeCapture");
  if (msg == takeCapture) {
    SetCapture(hwnd);
    Log("took-capture");
    return 0;
  }
  if (msg == question) {
    Log("answered %d", static_cast<int>(wParam));
    return static_cast<LRESULT>(wParam) * 2;
  }
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT client;
      GetClientRect(hwnd, &client);
      Paint(dc, client);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN: {
      int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
      Log("down %d %d", x, y);
      StylusLoop(hwnd, x, y);
      return 0;
    }
    case WM_MOUSEMOVE:
      Log("move %d %d", GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_LBUTTONUP:
      Log("up %d %d", GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_KEYDOWN:
      Log("keydown %X", static_cast<unsigned>(wParam));
      return 0;
    case WM_KEYUP:
      Log("keyup %X", static_cast<unsigned>(wParam));
      return 0;
    case WM_CHAR:
      Log("char %u", static_cast<unsigned>(wParam));
      return 0;
    case WM_HELP:
      Log("help");
      return 0;
    case WM_VSCROLL:
      Log("vscroll %u", static_cast<unsigned>(LOWORD(wParam)));
      return 0;
    case WM_ACTIVATE:
      Log("activate %u", static_cast<unsigned>(LOWORD(wParam)));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::u16string cls = u"OrvTestApp";
  int x = CW_USEDEFAULT, y = 0, w = CW_USEDEFAULT, h = 0;
  const char* logPath = nullptr;
  int animate = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--log") logPath = argv[i + 1];
    else if (a == "--class") cls = Utf8ToUtf16(v);
    else if (a == "--title") g_title = Utf8ToUtf16(v);
    else if (a == "--rect") std::sscanf(v.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h);
    else if (a == "--colour") g_colour = static_cast<COLORREF>(std::strtoul(v.c_str(), nullptr, 16));
    else if (a == "--animate") animate = std::atoi(v.c_str());
    else return 2;
  }
  // RRGGBB on the command line; COLORREF keeps blue in the high byte.
  g_colour = RGB((g_colour >> 16) & 0xFF, (g_colour >> 8) & 0xFF, g_colour & 0xFF);
  if (logPath) g_log = std::fopen(logPath, "a");
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.lpszClassName = cls.c_str();
  if (!RegisterClassW(&wc)) return 3;
  g_window = CreateWindowExW(0, cls.c_str(), g_title.c_str(), WS_VISIBLE | WS_VSCROLL, x, y, w, h, nullptr, nullptr,
                             nullptr, nullptr);
  if (!g_window) {
    Log("create-failed %u", static_cast<unsigned>(GetLastError()));
    return 4;
  }
  SetForegroundWindow(g_window);
  SetFocus(g_window);
  UpdateWindow(g_window);
  WCHAR platform[32] = {};
  SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof platform, platform, 0);
  HDC screen = GetDC(nullptr);
  Log("screen %d %d %d %d %s", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
      GetDeviceCaps(screen, LOGPIXELSX), GetDeviceCaps(screen, LOGPIXELSY), Utf16ToUtf8(platform).c_str());
  ReleaseDC(nullptr, screen);
  Log("ready %u", static_cast<unsigned>(HandleToValue(g_window)));
  std::thread animation;
  if (animate > 0) animation = std::thread([n = animate] { Animate(g_window, n); });
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  if (animation.joinable()) animation.join();
  Log("exit");
  return 0;
}
