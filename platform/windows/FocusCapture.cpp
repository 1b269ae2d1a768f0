// Focus, activation, the foreground window and stylus capture.
#include <unistd.h>

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

namespace wm {

void PassActivation(HWND hwnd) {
  const DWORD h = HandleToValue(hwnd);
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w || w->parent) return;
  }
  if (table::Foreground() != h) return;
  DWORD next = 0;
  bool mine = false;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) return;
    auto takes = [&](Window* c) {
      return c && c != w && !c->parent && !c->destroying && !c->messageOnly && (c->style & WS_VISIBLE) &&
             !(c->style & WS_DISABLED) && !(c->exStyle & WS_EX_NOACTIVATE);
    };
    if (Window* o = FindValue(w->owner); takes(o)) next = o->handle;
    if (!next) {
      for (const TableEntry& e : table::Snapshot()) {  // top of the z-order first
        if (e.pid != getpid() || !(e.flags & kVisible)) continue;
        if (Window* c = FindValue(e.hwnd); takes(c)) {
          next = c->handle;
          break;
        }
      }
    }
    if (!next) return;
    mine = FindValue(next)->queue == CurrentQueue();
  }
  // Only while hwnd still holds it: a program that took it meanwhile keeps it.
  if (table::Foreground() != h) return;
  if (mine) SetActiveWindow(ValueToHandle(next));
  else table::SetForeground(next);
}

ModalFocus::ModalFocus(HWND owner) {
  ownerTop_ = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
  focus_ = GetFocus();
}

void ModalFocus::Return() { ReturnModalFocus(ownerTop_, focus_); }

void ReturnModalFocus(HWND ownerTop_, HWND focus_) {
  if (!ownerTop_ || !IsWindow(ownerTop_) || !IsWindowEnabled(ownerTop_)) return;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* top = Find(ownerTop_);
    if (!top || top->queue != CurrentQueue() || top->destroying || !(top->style & WS_VISIBLE)) return;
  }
  // While the modal window showed, the activation went to whichever window of
  // this program was left (the owner was disabled): it goes back to the owner
  // unless another program holds the foreground now.
  const DWORD fg = table::Foreground();
  auto holder = table::Get(fg);
  if (!fg || !holder || holder->pid == getpid()) SetForegroundWindow(ownerTop_);
  HWND to = ownerTop_;
  if (focus_ && IsWindow(focus_) && IsWindowEnabled(focus_) && IsWindowVisible(focus_) &&
      GetAncestor(focus_, GA_ROOT) == ownerTop_)
    to = focus_;
  SetFocus(to);
}

}  // namespace wm

// The stylus capture is device-wide: a window that takes it takes it from
// whichever window of whichever process held it; that window hears of it
// with WM_CAPTURECHANGED (posted across processes) and GetCapture in its
// process answers null from then on.
HWND SetCapture(HWND hwnd) {
  DWORD h = HandleToValue(hwnd);
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (!Find(hwnd)) return nullptr;
    W().capture = h;
  }
  table::CaptureHolder old = table::SetCapture(h);
  if (old.hwnd && old.hwnd != h) {
    if (old.pid == getpid()) {
      SendMessageW(ValueToHandle(old.hwnd), WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
    } else {
      TableEntry holder{};
      holder.hwnd = old.hwnd;
      holder.pid = old.pid;
      LRESULT ignored;
      RemoteCall(holder, WireKind::Post, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(h), 0, 5000, &ignored);
    }
  }
  return ValueToHandle(old.hwnd);
}

BOOL ReleaseCapture() {
  DWORD old;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    old = W().capture;
    W().capture = 0;
  }
  // A capture another process's window took meanwhile is not ours to release.
  if (!old || table::Capture().hwnd != old) return TRUE;
  table::SetCapture(0);
  SendMessageW(ValueToHandle(old), WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() {
  DWORD mine;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    mine = FindValue(W().capture) ? W().capture : 0;
  }
  if (!mine) return nullptr;
  if (table::Capture().hwnd != mine) {
    // Another process's window took it.
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (W().capture == mine) W().capture = 0;
    return nullptr;
  }
  return ValueToHandle(mine);
}

}  // namespace plat
