// The standard scroll bars drawn and used: a bar along the right (vertical)
// or bottom (horizontal) edge of a window with WS_VSCROLL / WS_HSCROLL while
// its range is larger than its page. Arrows at both ends scroll a line, the
// track beside the thumb a page; the thumb is dragged with SB_THUMBTRACK
// (the 32-bit position in the scroll info's track position, its low 16 bits
// in the message) and let go with SB_THUMBPOSITION and SB_ENDSCROLL. An arrow
// or the track held down repeats (after kRepeatDelayMs, then every
// kRepeatMs on the platform clock) while the stylus stays on it. A bar kept
// by SIF_DISABLENOSCROLL whose range fits its page is drawn disabled.
#include <algorithm>
#include <cstdint>

#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

int Thickness() { return GetSystemMetrics(SM_CXVSCROLL); }

const Window::ScrollBar& BarState(const Window* w, int bar) { return bar == SB_VERT ? w->vscroll : w->hscroll; }

// The bar's rectangle in the window's coordinates.
RECT BarRect(const Window* w, int bar) {
  int width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top, t = Thickness();
  bool v = ScrollBarShownLocked(w, SB_VERT), h = ScrollBarShownLocked(w, SB_HORZ);
  if (bar == SB_VERT) return RECT{width - t, 0, width, height - (h ? t : 0)};
  return RECT{0, height - t, width - (v ? t : 0), height};
}

// Lengths along the bar: the arrows take a square each, the thumb its share.
struct Layout {
  int length = 0;      // of the whole bar
  int arrow = 0;
  int thumbStart = 0;  // from the bar's start
  int thumbLength = 0;
};

std::int64_t HighestPos(const Window::ScrollBar& b) {
  return std::max<std::int64_t>(b.min, static_cast<std::int64_t>(b.max) - std::max<std::int64_t>(b.page, 1) + 1);
}

Layout LayoutOf(const Window* w, int bar, int pos) {
  RECT r = BarRect(w, bar);
  const Window::ScrollBar& b = BarState(w, bar);
  Layout l;
  l.length = bar == SB_VERT ? r.bottom - r.top : r.right - r.left;
  l.arrow = std::min(Thickness(), l.length / 3);
  int track = std::max(0, l.length - 2 * l.arrow);
  std::int64_t span = static_cast<std::int64_t>(b.max) - b.min + 1;
  l.thumbLength = b.page ? static_cast<int>(track * static_cast<std::int64_t>(b.page) / std::max<std::int64_t>(span, 1))
                         : Thickness();
  l.thumbLength = std::clamp(l.thumbLength, std::min(track, Thickness() * 2 / 3), track);
  std::int64_t range = HighestPos(b) - b.min;
  std::int64_t room = track - l.thumbLength;
  l.thumbStart = l.arrow + (range > 0 ? static_cast<int>(room * (static_cast<std::int64_t>(pos) - b.min) / range) : 0);
  return l;
}

// Position from where the thumb starts (pixels along the bar).
int PosAt(const Window* w, int bar, int thumbStart) {
  const Window::ScrollBar& b = BarState(w, bar);
  Layout l = LayoutOf(w, bar, b.min);
  std::int64_t room = l.length - 2 * l.arrow - l.thumbLength;
  std::int64_t range = HighestPos(b) - b.min;
  if (room <= 0 || range <= 0) return b.min;
  std::int64_t offset = std::clamp<std::int64_t>(thumbStart - l.arrow, 0, room);
  return static_cast<int>(b.min + (offset * range + room / 2) / room);
}

void Fill(HDC dc, RECT r, COLORREF c) {
  HBRUSH b = CreateSolidBrush(c);
  FillRect(dc, &r, b);
  DeleteObject(b);
}

void Frame(HDC dc, RECT r, COLORREF c) {
  HBRUSH b = CreateSolidBrush(c);
  FrameRect(dc, &r, b);
  DeleteObject(b);
}

// An arrow square with a triangle pointing away from the track.
void Arrow(HDC dc, RECT r, int bar, bool towardsStart, COLORREF inkColour) {
  Fill(dc, r, RGB(255, 255, 255));
  Frame(dc, r, inkColour);
  int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2, s = std::max(2, (r.right - r.left) / 4);
  POINT p[3];
  if (bar == SB_VERT) {
    int d = towardsStart ? -1 : 1;
    p[0] = {cx, cy + d * s};
    p[1] = {cx - s, cy - d * s / 2};
    p[2] = {cx + s, cy - d * s / 2};
  } else {
    int d = towardsStart ? -1 : 1;
    p[0] = {cx + d * s, cy};
    p[1] = {cx - d * s / 2, cy - s};
    p[2] = {cx - d * s / 2, cy + s};
  }
  HBRUSH ink = CreateSolidBrush(inkColour);
  HPEN pen = CreatePen(PS_SOLID, 1, inkColour);
  HGDIOBJ ob = SelectObject(dc, ink), op = SelectObject(dc, pen);
  Polygon(dc, p, 3);
  SelectObject(dc, ob);
  SelectObject(dc, op);
  DeleteObject(ink);
  DeleteObject(pen);
}

// Moves a rectangle's span along the bar's axis.
RECT Along(RECT bar, int which, int from, int to) {
  if (which == SB_VERT) return RECT{bar.left, bar.top + from, bar.right, bar.top + to};
  return RECT{bar.left + from, bar.top, bar.left + to, bar.bottom};
}

// The thread's bar being pressed or dragged.
struct Tracking {
  DWORD hwnd = 0;
  int bar = SB_VERT;
  bool thumb = false;
  int grab = 0;  // pixels from the thumb's start to the stylus
  WORD code = 0;  // arrows and track: the code repeated
  int at = 0;     // the stylus along the bar
  bool over = true;  // the stylus is on the bar
};
thread_local Tracking t_track;

constexpr UINT_PTR kRepeatTimer = 0xFFFE5C01;
constexpr UINT kRepeatDelayMs = 400;
constexpr UINT kRepeatMs = 80;

// The code of a press at a point along the bar (not the thumb).
WORD CodeAt(const Layout& l, int at) {
  return at < l.arrow                 ? SB_LINEUP
         : at >= l.length - l.arrow   ? SB_LINEDOWN
         : at < l.thumbStart          ? SB_PAGEUP
         : at >= l.thumbStart + l.thumbLength ? SB_PAGEDOWN
                                      : SB_ENDSCROLL;  // on the thumb: nothing
}

int AlongOf(int bar, LPARAM lParam) { return bar == SB_VERT ? GET_Y_LPARAM(lParam) : GET_X_LPARAM(lParam); }

void Send(HWND hwnd, int bar, WORD code, int pos) {
  SendMessageW(hwnd, bar == SB_VERT ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(code, static_cast<WORD>(pos & 0xFFFF)), 0);
}

// The held arrow or track again, while the stylus is on the same part (the
// track stops when the thumb has come to the stylus).
void Repeat(HWND hwnd, UINT, UINT_PTR, DWORD) {
  if (t_track.hwnd != HandleToValue(hwnd) || t_track.thumb) {
    KillTimer(hwnd, kRepeatTimer);
    return;
  }
  WORD now;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w || !ScrollBarUsableLocked(w, t_track.bar)) {
      KillTimer(hwnd, kRepeatTimer);
      return;
    }
    now = CodeAt(LayoutOf(w, t_track.bar, BarState(w, t_track.bar).pos), t_track.at);
  }
  SetTimer(hwnd, kRepeatTimer, kRepeatMs, &Repeat);
  if (t_track.over && now == t_track.code) Send(hwnd, t_track.bar, t_track.code, 0);
}

}  // namespace

bool ScrollBarUsableLocked(const Window* w, int bar) {
  if (!(w->style & (bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL))) return false;
  const Window::ScrollBar& b = BarState(w, bar);
  std::int64_t span = static_cast<std::int64_t>(b.max) - b.min + 1;
  return b.max > b.min && (b.page == 0 || span > static_cast<std::int64_t>(b.page));
}

bool ScrollBarShownLocked(const Window* w, int bar) {
  if (!(w->style & (bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL))) return false;
  return ScrollBarUsableLocked(w, bar) || BarState(w, bar).disableNoScroll;
}

RECT ClientAreaLocked(const Window* w) {
  RECT r{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  if (ScrollBarShownLocked(w, SB_VERT)) r.right = std::max<LONG>(0, r.right - Thickness());
  if (ScrollBarShownLocked(w, SB_HORZ)) r.bottom = std::max<LONG>(0, r.bottom - Thickness());
  return r;
}

void DrawScrollBars(HWND hwnd) {
  struct Piece {
    int bar;
    RECT rect;
    Layout layout;
    bool usable;
  };
  std::vector<Piece> pieces;
  RECT corner{};
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w || w->queue != CurrentQueue()) return;
    for (int bar : {SB_VERT, SB_HORZ}) {
      if (!ScrollBarShownLocked(w, bar)) continue;
      const Window::ScrollBar& b = BarState(w, bar);
      bool dragging = t_track.hwnd == w->handle && t_track.bar == bar && t_track.thumb;
      pieces.push_back(Piece{bar, BarRect(w, bar), LayoutOf(w, bar, dragging ? b.trackPos : b.pos),
                             ScrollBarUsableLocked(w, bar)});
    }
    if (pieces.size() == 2) {
      RECT v = pieces[0].rect, h = pieces[1].rect;
      corner = RECT{v.left, h.top, v.right, h.bottom};
    }
  }
  if (pieces.empty()) return;
  HDC dc = GetWindowDcWithBars(hwnd);
  if (!dc) return;
  for (const Piece& p : pieces) {
    const Layout& l = p.layout;
    Fill(dc, p.rect, RGB(232, 232, 232));
    const COLORREF ink = p.usable ? RGB(0, 0, 0) : RGB(160, 160, 160);
    Arrow(dc, Along(p.rect, p.bar, 0, l.arrow), p.bar, true, ink);
    Arrow(dc, Along(p.rect, p.bar, l.length - l.arrow, l.length), p.bar, false, ink);
    if (p.usable) {  // a disabled bar has no thumb
      RECT thumb = Along(p.rect, p.bar, l.thumbStart, l.thumbStart + l.thumbLength);
      Fill(dc, thumb, RGB(255, 255, 255));
      Frame(dc, thumb, RGB(0, 0, 0));
    }
    // A line between the bar and the content.
    RECT edge = p.bar == SB_VERT ? RECT{p.rect.left, p.rect.top, p.rect.left + 1, p.rect.bottom}
                                 : RECT{p.rect.left, p.rect.top, p.rect.right, p.rect.top + 1};
    Fill(dc, edge, RGB(0, 0, 0));
  }
  if (!IsRectEmpty(&corner)) Fill(dc, corner, RGB(232, 232, 232));
  ReleaseDC(hwnd, dc);
}

bool ScrollBarInput(const MSG* msg) {
  if (msg->message != WM_LBUTTONDOWN && msg->message != WM_MOUSEMOVE && msg->message != WM_LBUTTONUP) return false;
  HWND hwnd = msg->hwnd;
  DWORD handle = HandleToValue(hwnd);
  if (msg->message == WM_LBUTTONDOWN) {
    int bar = -1;
    Layout l;
    POINT p{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)};
    {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* w = Find(hwnd);
      if (!w) return false;
      for (int b : {SB_VERT, SB_HORZ}) {
        RECT r = BarRect(w, b);
        if (ScrollBarShownLocked(w, b) && PtInRect(&r, p)) {
          if (!ScrollBarUsableLocked(w, b)) return true;  // disabled: the press is the bar's, nothing moves
          bar = b;
          l = LayoutOf(w, b, BarState(w, b).pos);
          int at = b == SB_VERT ? p.y - r.top : p.x - r.left;
          t_track = Tracking{handle, b, at >= l.thumbStart && at < l.thumbStart + l.thumbLength, at - l.thumbStart};
          if (t_track.thumb) (b == SB_VERT ? w->vscroll : w->hscroll).trackPos = BarState(w, b).pos;
        }
      }
    }
    if (bar < 0) return false;
    SetCapture(hwnd);
    if (!t_track.thumb) {
      RECT r;
      {
        std::lock_guard<std::recursive_mutex> g(W().lock);
        Window* w = Find(hwnd);
        r = w ? BarRect(w, bar) : RECT{};
      }
      int at = bar == SB_VERT ? p.y - r.top : p.x - r.left;
      WORD code = CodeAt(l, at);
      t_track.code = code;
      t_track.at = at;
      Send(hwnd, bar, code, 0);
      // Held down, it repeats.
      if (IsWindow(hwnd) && t_track.hwnd == handle) SetTimer(hwnd, kRepeatTimer, kRepeatDelayMs, &Repeat);
    } else {
      DrawScrollBars(hwnd);
    }
    return true;
  }
  if (t_track.hwnd != handle) return false;
  int bar = t_track.bar;
  if (msg->message == WM_MOUSEMOVE) {
    if (!t_track.thumb) {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      if (Window* w = Find(hwnd)) {
        RECT r = BarRect(w, bar);
        POINT p{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)};
        t_track.over = PtInRect(&r, p) != FALSE;
        t_track.at = AlongOf(bar, msg->lParam) - (bar == SB_VERT ? r.top : r.left);
      }
      return true;
    }
    int pos;
    {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* w = Find(hwnd);
      if (!w) return true;
      RECT r = BarRect(w, bar);
      int at = AlongOf(bar, msg->lParam) - (bar == SB_VERT ? r.top : r.left);
      pos = PosAt(w, bar, at - t_track.grab);
      Window::ScrollBar& b = bar == SB_VERT ? w->vscroll : w->hscroll;
      if (b.trackPos == pos) return true;
      b.trackPos = pos;
    }
    Send(hwnd, bar, SB_THUMBTRACK, pos);
    DrawScrollBars(hwnd);
    return true;
  }
  // Let go.
  bool thumb = t_track.thumb;
  t_track = Tracking{};
  KillTimer(hwnd, kRepeatTimer);
  if (GetCapture() == hwnd) ReleaseCapture();
  if (thumb) {
    int pos = 0;
    {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* w = Find(hwnd);
      if (!w) return true;
      pos = BarState(w, bar).trackPos;
    }
    Send(hwnd, bar, SB_THUMBPOSITION, pos);
  }
  if (IsWindow(hwnd)) Send(hwnd, bar, SB_ENDSCROLL, 0);
  if (IsWindow(hwnd)) DrawScrollBars(hwnd);
  return true;
}

}  // namespace plat::wm
