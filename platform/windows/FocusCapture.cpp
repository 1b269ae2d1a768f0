// Focus, activation, the foreground window and stylus capture.
#include "platform/windows/WindowsInternal.h"

namespace plat {
using namespace plat::wm;

HWND SetFocus(HWND hwnd) {
  auto q = CurrentQueue();
  DWORD old;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (hwnd) {
      Window* w = Find(hwnd);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (w->queue != q) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      if (!EnabledLocked(w)) return nullptr;
    }
    old = q->focus;
    if (old == HandleToValue(hwnd)) return ValueToHandle(old);
    if (old && !FindValue(old)) old = 0;
    q->focus = HandleToValue(hwnd);
  }
  if (old) SendMessageW(ValueToHandle(old), WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd) SendMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(ValueToHandle(old)), 0);
  return ValueToHandle(old);
}

HWND GetFocus() {
  auto q = CurrentQueue();
  std::lock_guard<std::recursive_mutex> g(W().lock);
  return FindValue(q->focus) ? ValueToHandle(q->focus) : nullptr;
}

HWND SetActiveWindow(HWND hwnd) {
  auto q = CurrentQueue();
  DWORD old;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (hwnd && (!w || w->queue != q)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if (w) w = TopLevelOf(w);
    old = q->active;
    if (old && !FindValue(old)) old = 0;
    q->active = w ? w->handle : 0;
    if (old == q->active) return ValueToHandle(old);
    if (w) table::SetForeground(w->handle);
  }
  if (old) SendMessageW(ValueToHandle(old), WM_ACTIVATE, WA_INACTIVE, static_cast<LPARAM>(HandleToValue(hwnd)));
  if (hwnd) SendMessageW(hwnd, WM_ACTIVATE, WA_ACTIVE, static_cast<LPARAM>(old));
  return ValueToHandle(old);
}

HWND GetActiveWindow() {
  auto q = CurrentQueue();
  std::lock_guard<std::recursive_mutex> g(W().lock);
  return FindValue(q->active) ? ValueToHandle(q->active) : nullptr;
}

BOOL SetForegroundWindow(HWND hwnd) {
  DWORD top = 0;
  bool mine = false;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(hwnd)) {
      Window* t = TopLevelOf(w);
      top = t->handle;
      mine = t->queue == CurrentQueue();
    }
  }
  if (!top) {
    if (!table::Get(HandleToValue(hwnd))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    top = HandleToValue(hwnd);
  }
  if (mine) SetActiveWindow(ValueToHandle(top));
  table::SetForeground(top);
  return TRUE;
}

HWND GetForegroundWindow() { return ValueToHandle(table::Foreground()); }

HWND SetCapture(HWND hwnd) {
  DWORD old;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (!Find(hwnd)) return nullptr;
    old = W().capture;
    W().capture = HandleToValue(hwnd);
  }
  if (old && old != HandleToValue(hwnd)) SendMessageW(ValueToHandle(old), WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
  return ValueToHandle(old);
}

BOOL ReleaseCapture() {
  DWORD old;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    old = W().capture;
    W().capture = 0;
  }
  if (old) SendMessageW(ValueToHandle(old), WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  return FindValue(W().capture) ? ValueToHandle(W().capture) : nullptr;
}

}  // namespace plat
