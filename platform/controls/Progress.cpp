// The progress bar: a range, a position and a step, drawn as a framed bar
// filled in the selection blue up to the position.
#include <algorithm>

#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"

namespace plat {
namespace {

struct ProgressState {
  int low = 0;
  int high = 100;
  int pos = 0;
  int step = 10;
};

ControlStates<ProgressState>& All() {
  static auto* states = new ControlStates<ProgressState>;
  return *states;
}

// Sets the position (kept in the range); answers the old one.
LRESULT MoveTo(HWND hwnd, ProgressState& s, long long pos) {
  const int old = s.pos;
  s.pos = static_cast<int>(std::clamp<long long>(pos, s.low, std::max(s.low, s.high)));
  if (s.pos != old) InvalidateRect(hwnd, nullptr, FALSE);
  return old;
}

void Paint(HWND hwnd, const ProgressState& s) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT rc{};
  GetClientRect(hwnd, &rc);
  const int line = std::max(1, ScreenDpi() / 96);
  ctl::Fill(dc, rc, RGB(0x80, 0x80, 0x80));
  RECT inner{rc.left + line, rc.top + line, rc.right - line, rc.bottom - line};
  ctl::Fill(dc, inner, RGB(255, 255, 255));
  const long long span = static_cast<long long>(s.high) - s.low;
  if (span > 0 && inner.right > inner.left) {
    const long long done = (static_cast<long long>(s.pos) - s.low) * (inner.right - inner.left) / span;
    RECT bar{inner.left, inner.top, inner.left + static_cast<LONG>(done), inner.bottom};
    if (bar.right > bar.left) ctl::Fill(dc, bar, GetSysColor(COLOR_HIGHLIGHT));
  }
  EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto state = All().ForMessage(hwnd, msg);
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  ProgressState& s = *state;
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd, s);
      return 0;
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
      const LRESULT old = MAKELPARAM(static_cast<WORD>(s.low), static_cast<WORD>(s.high));
      if (msg == PBM_SETRANGE) {
        s.low = LOWORD(static_cast<std::uintptr_t>(lParam));
        s.high = HIWORD(static_cast<std::uintptr_t>(lParam));
      } else {
        s.low = static_cast<int>(wParam);
        s.high = static_cast<int>(lParam);
      }
      MoveTo(hwnd, s, s.pos);
      InvalidateRect(hwnd, nullptr, FALSE);
      return old;
    }
    case PBM_GETRANGE:
      return wParam ? s.low : s.high;
    case PBM_SETPOS:
      return MoveTo(hwnd, s, static_cast<int>(wParam));
    case PBM_GETPOS:
      return s.pos;
    case PBM_DELTAPOS:
      return MoveTo(hwnd, s, static_cast<long long>(s.pos) + static_cast<int>(wParam));
    case PBM_SETSTEP: {
      const int old = s.step;
      s.step = static_cast<int>(wParam);
      return old;
    }
    case PBM_STEPIT: {
      // Past the top the bar starts again from the bottom.
      long long next = static_cast<long long>(s.pos) + s.step;
      if (next > s.high) next = s.low + (next - s.high) % std::max(1LL, static_cast<long long>(s.high) - s.low);
      return MoveTo(hwnd, s, next);
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
