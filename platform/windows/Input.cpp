// Keyboard and stylus input: key states, injected keys, characters and
// stylus events (here or in the process owning the target window), and
// TranslateMessage.
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>

#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

std::array<std::atomic<bool>, 256>& Keys() {
  static auto* k = new std::array<std::atomic<bool>, 256>();
  return *k;
}

std::atomic<KeyRouter> g_router{nullptr};

// The window of this process that takes keys: the foreground window, else the
// top visible window of this process.
DWORD KeyWindowLocked() {
  DWORD fg = table::Foreground();
  if (FindValue(fg)) return fg;
  for (const TableEntry& e : table::Snapshot())
    if (e.pid == getpid() && (e.flags & kVisible) && FindValue(e.hwnd)) return e.hwnd;
  return 0;
}

}  // namespace

void SetKeyRouter(KeyRouter router) { g_router = router; }

BOOL InjectKeyLocal(UINT vk, bool down, bool repeat) {
  repeat = repeat && down;
  Keys()[vk & 0xFF] = down;
  DWORD topHandle;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    topHandle = KeyWindowLocked();
  }
  if (!topHandle) return FALSE;
  if (KeyRouter router = g_router.load(); router && router(ValueToHandle(topHandle), vk, down, repeat)) return TRUE;
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* top = FindValue(topHandle);
  if (!top) return FALSE;
  Window* target = FindValue(top->queue->focus);
  if (!target) target = top;
  LPARAM lp = !down ? static_cast<LPARAM>(0xC0000001u) : repeat ? static_cast<LPARAM>(0x40000001u) : 1;
  return PostToWindowLocal(target, down ? WM_KEYDOWN : WM_KEYUP, vk, lp) ? TRUE : FALSE;
}

BOOL InjectCharLocal(WCHAR ch) {
  DWORD fg = table::Foreground();
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* top = FindValue(fg);
  if (!top) return FALSE;
  Window* target = FindValue(top->queue->focus);
  if (!target) target = top;
  return PostToWindowLocal(target, WM_CHAR, ch, 1) ? TRUE : FALSE;
}

BOOL InjectStylusLocal(UINT message, int x, int y, bool forwardRemote) {
  // The window that holds the stylus takes it wherever it is, in whichever process.
  HWND target = nullptr;
  table::CaptureHolder cap = table::Capture();
  if (cap.hwnd) {
    if (cap.pid == getpid()) {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      if (FindValue(cap.hwnd)) target = ValueToHandle(cap.hwnd);
    } else if (forwardRemote) {
      TableEntry holder{};
      holder.hwnd = cap.hwnd;
      holder.pid = cap.pid;
      LRESULT ignored;
      return RemoteCall(holder, WireKind::Stylus, message, static_cast<WPARAM>(x), y, 0, 5000, &ignored) == kWireOk;
    }
  }
  if (!target) target = WindowFromPoint(POINT{x, y});
  if (!target) return FALSE;
  DWORD activate = 0;
  bool handled = false;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(target);
    if (w) {
      if (!EnabledLocked(w) && HandleToValue(target) != cap.hwnd) return FALSE;
      POINT p{x, y};
      Window* t = TopLevelOf(w);
      POINT off = OffsetInTopLevel(w);
      p.x -= t->rect.left + off.x;
      p.y -= t->rect.top + off.y;
      WPARAM keys = message == WM_LBUTTONUP ? 0 : (message == WM_MOUSEMOVE ? (Keys()[1] ? MK_LBUTTON : 0) : MK_LBUTTON);
      if (message == WM_LBUTTONDOWN) Keys()[1] = true;
      if (message == WM_LBUTTONUP) Keys()[1] = false;
      // A press brings its window forward: it takes the keys from now on.
      if (message == WM_LBUTTONDOWN && !(t->exStyle & WS_EX_NOACTIVATE)) activate = t->handle;
      if (!PostToWindowLocal(w, message, keys, MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y))))
        return FALSE;
      handled = true;
    }
  }
  if (handled) {
    if (activate && table::Foreground() != activate) table::SetForeground(activate);
    return TRUE;
  }
  if (!forwardRemote) return FALSE;
  auto e = table::Get(HandleToValue(target));
  if (!e) return FALSE;
  LRESULT ignored;
  return RemoteCall(*e, WireKind::Stylus, message, static_cast<WPARAM>(x), y, 0, 5000, &ignored) == kWireOk;
}

BOOL InjectWheelLocal(int x, int y, int clicks, bool forwardRemote) {
  if (clicks == 0) return FALSE;
  HWND target = WindowFromPoint(POINT{x, y});
  if (!target) return FALSE;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(target)) {
      // The nearest window with a scroll bar scrolls; without one, the window itself hears of it.
      Window* s = w;
      while (s && !(s->style & WS_VSCROLL)) s = s->parent;
      if (!s) s = w;
      WPARAM code = clicks > 0 ? SB_LINEDOWN : SB_LINEUP;
      for (int i = 0; i < std::abs(clicks); ++i)
        if (!PostToWindowLocal(s, WM_VSCROLL, code, 0)) return FALSE;
      return TRUE;
    }
  }
  if (!forwardRemote) return FALSE;
  auto e = table::Get(HandleToValue(target));
  if (!e) return FALSE;
  LRESULT ignored;
  return RemoteCall(*e, WireKind::Wheel, static_cast<UINT>(clicks), static_cast<WPARAM>(x), y, 0, 5000, &ignored) ==
         kWireOk;
}

}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

short GetKeyState(int vk) { return Keys()[vk & 0xFF] ? static_cast<short>(0x8000) : 0; }
short GetAsyncKeyState(int vk) { return GetKeyState(vk); }

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || msg->message != WM_KEYDOWN) return FALSE;
  UINT vk = static_cast<UINT>(msg->wParam);
  bool shift = Keys()[VK_SHIFT];
  WCHAR ch = 0;
  if (vk >= 'A' && vk <= 'Z') ch = static_cast<WCHAR>(shift ? vk : vk - 'A' + 'a');
  else if (vk >= '0' && vk <= '9') ch = static_cast<WCHAR>(vk);
  else if (vk == VK_SPACE) ch = u' ';
  else if (vk == VK_RETURN) ch = u'\r';
  else if (vk == VK_BACK) ch = 8;
  else if (vk == VK_TAB) ch = u'\t';
  else if (vk == VK_ESCAPE) ch = 27;
  if (!ch) return FALSE;
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(msg->hwnd);
  if (!w) return FALSE;
  auto q = w->queue;
  {
    std::lock_guard<std::mutex> l(q->m);
    // The character comes next, before what was queued after the key.
    q->PushPosted(MSG{msg->hwnd, WM_CHAR, ch, msg->lParam, msg->time, msg->pt}, true);
  }
  q->Wake();
  return TRUE;
}

BOOL InjectKey(UINT vk, bool down, bool repeat) {
  DWORD fg = table::Foreground();
  auto e = table::Get(fg);
  if (e && e->pid != getpid()) {
    LRESULT ignored;
    return RemoteCall(*e, WireKind::Key, vk, down ? (repeat ? 2 : 1) : 0, 0, 0, 5000, &ignored) == kWireOk;
  }
  return InjectKeyLocal(vk, down, repeat);
}

BOOL InjectChar(WCHAR ch) {
  DWORD fg = table::Foreground();
  auto e = table::Get(fg);
  if (e && e->pid != getpid()) {
    LRESULT ignored;
    return RemoteCall(*e, WireKind::Char, ch, 0, 0, 0, 5000, &ignored) == kWireOk;
  }
  return InjectCharLocal(ch);
}

BOOL InjectStylus(UINT message, int screenX, int screenY) { return InjectStylusLocal(message, screenX, screenY, true); }

BOOL InjectWheel(int screenX, int screenY, int clicks) { return InjectWheelLocal(screenX, screenY, clicks, true); }

}  // namespace plat
