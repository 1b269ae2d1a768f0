// Painting: invalidation and validation of the update area, WM_PAINT,
// BeginPaint and EndPaint.
#include <cstring>
#include <vector>

#include "platform/windows/WindowsInternal.h"

namespace plat::wm {

void InvalidateLocked(Window* w, const RECT* rect, bool erase) {
  if (!w || w->destroying) return;
  RECT client{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  RECT r = client;
  if (rect) IntersectRect(&r, rect, &client);
  if (IsRectEmpty(&r)) return;
  if (w->hasUpdate) UnionRect(&w->update, &w->update, &r);
  else w->update = r;
  w->hasUpdate = true;
  if (erase) w->erase = true;
  // Children paint into the same surface: what the parent repaints, they repaint.
  for (Window* c : w->children) {
    if (!(c->style & WS_VISIBLE)) continue;
    RECT cr;
    if (IntersectRect(&cr, &r, &c->rect)) {
      OffsetRect(&cr, -c->rect.left, -c->rect.top);
      InvalidateLocked(c, &cr, true);
    }
  }
  WakeQueueOfWindow(w);
}

}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  if (!hwnd) {
    for (auto& [h, w] : W().windows)
      if (!w->parent) InvalidateLocked(w.get(), nullptr, erase != FALSE);
    return TRUE;
  }
  Window* w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  InvalidateLocked(w, rect, erase != FALSE);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!w->hasUpdate) return TRUE;
  if (!rect) {
    w->hasUpdate = false;
    w->erase = false;
    return TRUE;
  }
  RECT covered;
  if (IntersectRect(&covered, &w->update, rect) && EqualRect(&covered, &w->update)) {
    w->hasUpdate = false;
    w->erase = false;
  } else {
    // The update area is one rectangle: cut whole sides only.
    RECT v = *rect;
    RECT& u = w->update;
    if (v.top <= u.top && v.bottom >= u.bottom) {
      if (v.left <= u.left && v.right > u.left) u.left = v.right;
      else if (v.right >= u.right && v.left < u.right) u.right = v.left;
    } else if (v.left <= u.left && v.right >= u.right) {
      if (v.top <= u.top && v.bottom > u.top) u.top = v.bottom;
      else if (v.bottom >= u.bottom && v.top < u.bottom) u.bottom = v.top;
    }
    if (IsRectEmpty(&u)) w->hasUpdate = false;
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) return FALSE;
  if (rect) *rect = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
  return w->hasUpdate ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hwnd) {
  bool paint;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    paint = w->hasUpdate && VisibleLocked(w);
  }
  if (paint) SendMessageW(hwnd, WM_PAINT, 0, 0);
  // Then the children that still need it, parents before children.
  std::vector<DWORD> kids;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(hwnd))
      for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) kids.push_back((*it)->handle);
  }
  for (DWORD k : kids) UpdateWindow(ValueToHandle(k));
  return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  if (!ps) return nullptr;
  std::memset(ps, 0, sizeof *ps);
  RECT upd;
  bool erase;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    upd = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
    erase = w->hasUpdate && w->erase;
    w->hasUpdate = false;
    w->erase = false;
    // The parent paints over its children: those painted since it was
    // invalidated (UpdateWindow of a child) paint again after it.
    for (Window* c : w->children) {
      RECT cr;
      if ((c->style & WS_VISIBLE) && IntersectRect(&cr, &upd, &c->rect)) {
        OffsetRect(&cr, -c->rect.left, -c->rect.top);
        InvalidateLocked(c, &cr, true);
      }
    }
  }
  HDC dc = GetDC(hwnd);
  if (!dc) return nullptr;
  IntersectClipRect(dc, upd.left, upd.top, upd.right, upd.bottom);
  ps->hdc = dc;
  ps->rcPaint = upd;
  ps->fErase = TRUE;
  if (erase && !IsRectEmpty(&upd)) ps->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
  return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (!ps || !ps->hdc) return FALSE;
  BOOL ok = ReleaseDC(hwnd, ps->hdc) ? TRUE : FALSE;
  DrawScrollBars(hwnd);
  return ok;
}

}  // namespace plat
