// The state of the standard scroll bars of a window: range, page, position.
#include <algorithm>
#include <cstdint>

#include "platform/windows/WindowsInternal.h"

namespace plat {
namespace {

// The bar of a window of this process (W().lock held), or null.
wm::Window::ScrollBar* BarOf(HWND hwnd, int bar) {
  wm::Window* w = wm::Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (bar == SB_HORZ) return &w->hscroll;
  if (bar == SB_VERT) return &w->vscroll;
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

// Keeps page and position inside the range.
void Clamp(wm::Window::ScrollBar& b) {
  const std::int64_t span = static_cast<std::int64_t>(b.max) - b.min + 1;
  if (span <= 0) {
    b.page = 0;
  } else if (static_cast<std::int64_t>(b.page) > span) {
    b.page = static_cast<UINT>(span);
  }
  std::int64_t highest = static_cast<std::int64_t>(b.max) - std::max<std::int64_t>(b.page, 1) + 1;
  if (highest < b.min) highest = b.min;
  b.pos = static_cast<int>(std::clamp<std::int64_t>(b.pos, b.min, highest));
  b.trackPos = static_cast<int>(std::clamp<std::int64_t>(b.trackPos, b.min, highest));
}

}  // namespace

int SetScrollInfo(HWND hwnd, int bar, const SCROLLINFO* info, BOOL redraw) {
  if (!info || info->cbSize != sizeof(SCROLLINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int pos;
  bool shownBefore, shownAfter;
  {
    std::lock_guard<std::recursive_mutex> g(wm::W().lock);
    wm::Window::ScrollBar* b = BarOf(hwnd, bar);
    if (!b) return 0;
    wm::Window* w = wm::Find(hwnd);
    shownBefore = wm::ScrollBarShownLocked(w, bar);
    if (info->fMask & SIF_RANGE) {
      b->min = info->nMin;
      b->max = std::max(info->nMin, info->nMax);
    }
    if (info->fMask & SIF_PAGE) b->page = info->nPage;
    if (info->fMask & SIF_POS) b->pos = info->nPos;
    b->disableNoScroll = (info->fMask & SIF_DISABLENOSCROLL) != 0;
    if (info->fMask & SIF_TRACKPOS) b->trackPos = info->nTrackPos;
    else if (info->fMask & SIF_POS) b->trackPos = info->nPos;
    Clamp(*b);
    pos = b->pos;
    shownAfter = wm::ScrollBarShownLocked(w, bar);
  }
  // A bar that comes or goes changes the client area: all of it is drawn again.
  if (shownBefore != shownAfter) InvalidateRect(hwnd, nullptr, TRUE);
  else if (redraw && shownAfter) wm::DrawScrollBars(hwnd);
  return pos;
}

BOOL GetScrollInfo(HWND hwnd, int bar, SCROLLINFO* info) {
  if (!info || info->cbSize != sizeof(SCROLLINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::recursive_mutex> g(wm::W().lock);
  const wm::Window::ScrollBar* b = BarOf(hwnd, bar);
  if (!b) return FALSE;
  if (info->fMask & SIF_RANGE) {
    info->nMin = b->min;
    info->nMax = b->max;
  }
  if (info->fMask & SIF_PAGE) info->nPage = b->page;
  if (info->fMask & SIF_POS) info->nPos = b->pos;
  if (info->fMask & SIF_TRACKPOS) info->nTrackPos = b->trackPos;
  return TRUE;
}

int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw) {
  int previous;
  {
    std::lock_guard<std::recursive_mutex> g(wm::W().lock);
    wm::Window::ScrollBar* b = BarOf(hwnd, bar);
    if (!b) return 0;
    previous = b->pos;
  }
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, pos, 0};
  SetScrollInfo(hwnd, bar, &si, redraw);
  return previous;
}

int GetScrollPos(HWND hwnd, int bar) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, 0, 0};
  return GetScrollInfo(hwnd, bar, &si) ? si.nPos : 0;
}

BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE, minPos, maxPos, 0, 0, 0};
  {
    std::lock_guard<std::recursive_mutex> g(wm::W().lock);
    if (!BarOf(hwnd, bar)) return FALSE;
  }
  SetScrollInfo(hwnd, bar, &si, redraw);
  return TRUE;
}

BOOL GetScrollRange(HWND hwnd, int bar, int* minPos, int* maxPos) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(hwnd, bar, &si)) return FALSE;
  if (minPos) *minPos = si.nMin;
  if (maxPos) *maxPos = si.nMax;
  return TRUE;
}

}  // namespace plat
