// Windows and classes: creation and destruction, window longs, text,
// properties, the tree, z-order, geometry, finding windows across processes.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "platform/base/Text.h"
#include "platform/base/Thread.h"
#include "platform/resources/Resources.h"
#include "platform/windows/WindowsInternal.h"

namespace plat::wm {

Wm& W() {
  static Wm* state = nullptr;
  static std::mutex* guard = new std::mutex;
  static auto* retired = new std::vector<void*>;  // states of a parent before fork
  // A forked child starts with a state of its own: the parent's windows, queues
  // and locks are not its own.
  pid_t pid = getpid();
  if (state && state->pid == pid) return *state;
  std::lock_guard<std::mutex> g(*guard);
  if (!state || state->pid != pid) {
    if (state) retired->push_back(state);
    auto* s = new Wm;
    s->pid = pid;
    state = s;
  }
  return *state;
}

Window* FindValue(DWORD value) {
  if (!value) return nullptr;
  auto& ws = W().windows;
  auto it = ws.find(value);
  return it == ws.end() ? nullptr : it->second.get();
}

Window* Find(HWND hwnd) {
  std::uintptr_t v = reinterpret_cast<std::uintptr_t>(hwnd);
  if (v == 0 || v > 0x7FFFFFFFu) return nullptr;
  return FindValue(static_cast<DWORD>(v));
}

Window* TopLevelOf(Window* w) {
  while (w && w->parent) w = w->parent;
  return w;
}

bool IsAncestor(Window* ancestor, Window* w) {
  for (Window* p = w ? w->parent : nullptr; p; p = p->parent)
    if (p == ancestor) return true;
  return false;
}

POINT OffsetInTopLevel(Window* w) {
  POINT p{0, 0};
  for (; w && w->parent; w = w->parent) {
    p.x += w->rect.left;
    p.y += w->rect.top;
  }
  return p;
}

RECT VisibleClientRect(Window* w, bool wholeWindow) {
  RECT r = wholeWindow ? RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top} : ClientAreaLocked(w);
  // Walk up: the parent's client area, expressed in w's coordinates.
  POINT off{0, 0};
  for (Window* c = w; c->parent; c = c->parent) {
    off.x += c->rect.left;
    off.y += c->rect.top;
    Window* p = c->parent;
    RECT pr = ClientAreaLocked(p);
    OffsetRect(&pr, -off.x, -off.y);
    IntersectRect(&r, &r, &pr);
  }
  return r;
}

bool VisibleLocked(Window* w) {
  for (; w; w = w->parent)
    if (!(w->style & WS_VISIBLE)) return false;
  return true;
}

bool EnabledLocked(Window* w) {
  for (; w; w = w->parent)
    if (w->style & WS_DISABLED) return false;
  return true;
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) return 0;
    proc = w->proc;
  }
  if (!proc) return DefWindowProcW(hwnd, msg, wParam, lParam);
  // A window procedure that throws must not end the program: the exception
  // stops here, is logged, and the message gets the unhandled answer.
  try {
    return proc(hwnd, msg, wParam, lParam);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "window procedure of %u threw on message 0x%04x: %s\n", HandleToValue(hwnd), msg, e.what());
  } catch (...) {
    std::fprintf(stderr, "window procedure of %u threw on message 0x%04x\n", HandleToValue(hwnd), msg);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::shared_ptr<ClassInfo> FindClass(const WCHAR* name) {
  EnsureBuiltinClasses();
  std::lock_guard<std::recursive_mutex> g(W().lock);
  if (!name) return nullptr;
  if (IS_INTRESOURCE(name)) {
    auto atom = static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name));
    for (auto& c : W().classes)
      if (c->atom == atom) return c;
    return nullptr;
  }
  std::u16string n(name);
  if (n == u"#32770") n = u"#32770";
  for (auto& c : W().classes)
    if (EqualsNoCase(c->name, n)) return c;
  return nullptr;
}

namespace {

void FreeWindowLocked(Window* w) {
  DWORD h = w->handle;
  Wm& s = W();
  if (w->parent) {
    auto& sib = w->parent->children;
    sib.erase(std::remove(sib.begin(), sib.end(), w), sib.end());
  } else {
    table::Remove(h);
  }
  for (Window* c : w->children) c->parent = nullptr;  // already freed by then
  if (s.capture == h) {
    s.capture = 0;
    if (table::Capture().hwnd == h) table::SetCapture(0);
  }
  if (w->queue) {
    if (w->queue->focus == h) w->queue->focus = 0;
    if (w->queue->active == h) w->queue->active = 0;
  }
  DestroySurface(w);
  for (auto& [n, v] : w->props) (void)v;
  s.windows.erase(h);
}

// Procedures run on their own thread only: a child of another thread gets
// no messages while it is taken down with its parent.
void CallIfOwn(HWND hwnd, UINT msg) {
  bool own;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    own = w && w->queue == CurrentQueue();
  }
  if (own) CallProc(hwnd, msg, 0, 0);
}

void DestroyTree(HWND hwnd) {
  CallIfOwn(hwnd, WM_DESTROY);
  std::vector<DWORD> kids;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) return;
    for (Window* c : w->children) {
      c->destroying = true;
      kids.push_back(c->handle);
    }
  }
  for (DWORD k : kids) DestroyTree(ValueToHandle(k));
  CallIfOwn(hwnd, WM_NCDESTROY);
  RemoveTimersOf(HandleToValue(hwnd));
  FailPendingSends(HandleToValue(hwnd));
  std::lock_guard<std::recursive_mutex> g(W().lock);
  if (Window* w = Find(hwnd)) FreeWindowLocked(w);
}

void CopyTableText(char16_t* dst, int cap, const std::u16string& s) {
  std::size_t n = std::min<std::size_t>(s.size(), static_cast<std::size_t>(cap - 1));
  std::memset(dst, 0, sizeof(char16_t) * static_cast<std::size_t>(cap));
  std::memcpy(dst, s.data(), n * sizeof(char16_t));
}

}  // namespace

void ForgetThreadWindows(const std::shared_ptr<ThreadQueue>& q) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  std::vector<DWORD> mine;
  for (auto& [h, w] : W().windows)
    if (w->queue == q) mine.push_back(h);
  // Children first, so that parents are freed last.
  std::sort(mine.begin(), mine.end(), [](DWORD a, DWORD b) { return a > b; });
  for (DWORD h : mine) {
    Window* w = FindValue(h);
    if (!w) continue;
    for (Window* c : std::vector<Window*>(w->children)) {
      c->parent = nullptr;
      c->destroying = true;
    }
    w->children.clear();
    FreeWindowLocked(w);
  }
}

}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (!wc || !wc->lpszClassName || (!IS_INTRESOURCE(wc->lpszClassName) && !*wc->lpszClassName) ||
      IS_INTRESOURCE(wc->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  EnsureBuiltinClasses();
  std::lock_guard<std::recursive_mutex> g(W().lock);
  std::u16string name(wc->lpszClassName);
  for (auto& c : W().classes) {
    if (EqualsNoCase(c->name, name)) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  auto c = std::make_shared<ClassInfo>();
  c->name = name;
  c->atom = W().nextAtom++;
  c->wc = *wc;
  if (wc->lpszMenuName && !IS_INTRESOURCE(wc->lpszMenuName)) {
    c->menuName = wc->lpszMenuName;
    c->wc.lpszMenuName = c->menuName.c_str();
  }
  c->wc.lpszClassName = c->name.c_str();
  W().classes.push_back(c);
  return c->atom;
}

BOOL UnregisterClassW(const WCHAR* className, HINSTANCE) {
  auto c = FindClass(className);
  std::lock_guard<std::recursive_mutex> g(W().lock);
  if (!c || c->builtin) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (auto& [h, w] : W().windows) {
    if (w->cls == c) {
      SetLastError(ERROR_ACCESS_DENIED);  // windows of the class still live
      return FALSE;
    }
  }
  auto& cs = W().classes;
  cs.erase(std::remove(cs.begin(), cs.end(), c), cs.end());
  return TRUE;
}

BOOL GetClassInfoW(HINSTANCE, const WCHAR* className, WNDCLASSW* wc) {
  auto c = FindClass(className);
  if (!c || !wc) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  std::lock_guard<std::recursive_mutex> g(W().lock);
  *wc = c->wc;
  return TRUE;
}

int GetClassNameW(HWND hwnd, WCHAR* name, int cch) {
  if (!name || cch <= 0) return 0;
  std::u16string n;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(hwnd)) n = w->cls->name;
  }
  if (n.empty()) {
    auto e = table::Get(HandleToValue(hwnd));
    if (!e) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    n = e->cls;
  }
  int len = std::min<int>(static_cast<int>(n.size()), cch - 1);
  std::memcpy(name, n.data(), static_cast<std::size_t>(len) * sizeof(WCHAR));
  name[len] = 0;
  return len;
}

HWND CreateWindowExW(DWORD exStyle, const WCHAR* className, const WCHAR* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  auto cls = FindClass(className);
  if (!cls) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  InstallDcProvider();
  auto q = CurrentQueue();
  bool messageOnly = parent == HWND_MESSAGE;
  if (messageOnly) {
    parent = nullptr;
    style &= ~(WS_CHILD | WS_VISIBLE);
  }
  DWORD handle = table::NewHandle();
  if (!handle) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HWND hwnd = ValueToHandle(handle);
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* p = nullptr;
    DWORD owner = 0;
    if (style & WS_CHILD) {
      p = Find(parent);
      if (!p || p->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    } else if (parent) {
      Window* o = TopLevelOf(Find(parent));
      if (o) owner = o->handle;
      else if (!table::Get(HandleToValue(parent))) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      } else {
        owner = HandleToValue(parent);
      }
    }
    auto w = std::make_unique<Window>();
    w->handle = handle;
    w->cls = cls;
    w->proc = cls->wc.lpfnWndProc;
    w->style = style;
    w->exStyle = exStyle;
    w->instance = instance;
    w->parent = p;
    w->owner = owner;
    w->queue = q;
    w->messageOnly = messageOnly;
    if (p) w->id = static_cast<int>(reinterpret_cast<std::intptr_t>(menu));
    if (x == CW_USEDEFAULT) {
      x = 0;
      y = 0;
    }
    if (width == CW_USEDEFAULT) {
      width = p ? 0 : ScreenWidth() - x;
      height = p ? 0 : ScreenHeight() - y;
    }
    w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
    if (windowName) w->text = windowName;
    Window* raw = w.get();
    W().windows[handle] = std::move(w);
    if (p) {
      // Children go to the bottom of their siblings (creation order is tab order).
      p->children.push_back(raw);
    } else {
      if (!messageOnly && !CreateSurface(raw)) {
        W().windows.erase(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      }
      TableEntry e{};
      e.hwnd = handle;
      e.pid = getpid();
      e.startTime = table::ProcessStartTime(getpid());
      e.threadId = q->threadId;
      e.flags = (messageOnly ? kMessageOnly : 0) | ((exStyle & WS_EX_TOPMOST) ? kTopmost : 0);
      e.owner = owner;
      e.left = raw->rect.left;
      e.top = raw->rect.top;
      e.right = raw->rect.right;
      e.bottom = raw->rect.bottom;
      CopyTableText(e.cls, kTableClassChars, cls->name);
      CopyTableText(e.title, kTableTitleChars, raw->text);
      if (raw->surface) {
        e.surfaceGeneration = raw->surfaceGeneration;
        e.surfaceSession = raw->surface->session;
        e.surfaceWidth = raw->surface->width;
        e.surfaceHeight = raw->surface->height;
      }
      if (!table::Add(e)) {
        DestroySurface(raw);
        W().windows.erase(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      }
      EnsureServer();
    }
  }
  CREATESTRUCTW cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style), windowName,
                   className, exStyle};
  if (!CallProc(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    DestroyTree(hwnd);
    return nullptr;
  }
  if (CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyTree(hwnd);
    return nullptr;
  }
  RECT r{};
  GetClientRect(hwnd, &r);
  CallProc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(r.right), static_cast<WORD>(r.bottom)));
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) return nullptr;
  if (w->style & WS_VISIBLE) {
    if (!w->parent) table::SetFlag(handle, kVisible, true);
    InvalidateLocked(w, nullptr, true);
  }
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  std::vector<DWORD> owned;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w || w->destroying) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (w->queue != CurrentQueue()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    w->destroying = true;
    if (!w->parent) {
      for (auto& [h, o] : W().windows)
        if (!o->parent && o->owner == w->handle && !o->destroying && o->queue == w->queue) owned.push_back(h);
    }
    if (w->style & WS_VISIBLE) {
      w->style &= ~WS_VISIBLE;
      if (w->parent) {
        RECT r = w->rect;
        InvalidateLocked(w->parent, &r, true);
      } else {
        table::SetFlag(w->handle, kVisible, false);
      }
    }
  }
  for (DWORD o : owned) DestroyWindow(ValueToHandle(o));
  PassActivation(hwnd);
  DestroyTree(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Find(hwnd)) return TRUE;
  }
  auto e = table::Get(HandleToValue(hwnd));
  return e && e->pid != getpid() ? TRUE : FALSE;
}

BOOL IsChild(HWND parent, HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* p = Find(parent);
  Window* w = Find(hwnd);
  return p && w && IsAncestor(p, w) ? TRUE : FALSE;
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!proc) return 0;
  return proc(hwnd, msg, wParam, lParam);
}

LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) {
    SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR old = 0;
  SetLastError(ERROR_SUCCESS);
  switch (index) {
    case GWL_WNDPROC:
      old = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      break;
    case GWL_STYLE: {
      old = w->style;
      // Visibility changes through ShowWindow; keep the table in step anyway.
      w->style = static_cast<DWORD>(value);
      if (!w->parent) table::SetFlag(w->handle, kVisible, (w->style & WS_VISIBLE) != 0);
      break;
    }
    case GWL_EXSTYLE:
      old = w->exStyle;
      w->exStyle = static_cast<DWORD>(value);
      break;
    case GWL_ID:
      old = w->id;
      w->id = static_cast<int>(value);
      break;
    case GWL_USERDATA:
      old = w->userData;
      w->userData = value;
      break;
    case GWL_HINSTANCE:
      old = reinterpret_cast<LONG_PTR>(w->instance);
      w->instance = reinterpret_cast<HINSTANCE>(value);
      break;
    default:
      if (index < 0 || index + 4 > w->cls->wc.cbWndExtra) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      old = w->extra[index];
      w->extra[index] = value;
  }
  return old;
}

LONG_PTR GetWindowLongW(HWND hwnd, int index) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) {
    // Another process's top-level window: what the window table knows of its
    // styles; its procedure and its data are not this process's to read.
    if (auto e = table::Get(HandleToValue(hwnd))) {
      if (index == GWL_STYLE) return e->flags & kVisible ? WS_VISIBLE : 0;
      if (index == GWL_EXSTYLE) return e->flags & kTopmost ? WS_EX_TOPMOST : 0;
    }
    SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWL_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_STYLE:
      return w->style;
    case GWL_EXSTYLE:
      return w->exStyle;
    case GWL_ID:
      return w->id;
    case GWL_USERDATA:
      return w->userData;
    case GWL_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_HWNDPARENT:
      return static_cast<LONG_PTR>(w->parent ? w->parent->handle : w->owner);
    default: {
      if (index < 0 || index + 4 > w->cls->wc.cbWndExtra) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      auto it = w->extra.find(index);
      return it == w->extra.end() ? 0 : it->second;
    }
  }
}

BOOL SetWindowTextW(HWND hwnd, const WCHAR* text) {
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (!Find(hwnd)) {
      SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
  }
  return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) ? TRUE : FALSE;
}

int GetWindowTextW(HWND hwnd, WCHAR* text, int cch) {
  if (!text || cch <= 0) return 0;
  bool local;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    local = Find(hwnd) != nullptr;
  }
  if (local) return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(cch), reinterpret_cast<LPARAM>(text)));
  auto e = table::Get(HandleToValue(hwnd));
  text[0] = 0;
  if (!e) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::u16string t(e->title);
  int n = std::min<int>(static_cast<int>(t.size()), cch - 1);
  std::memcpy(text, t.data(), static_cast<std::size_t>(n) * sizeof(WCHAR));
  text[n] = 0;
  return n;
}

int GetWindowTextLengthW(HWND hwnd) {
  bool local;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    local = Find(hwnd) != nullptr;
  }
  if (local) return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
  auto e = table::Get(HandleToValue(hwnd));
  return e ? static_cast<int>(std::u16string(e->title).size()) : 0;
}

BOOL SetPropW(HWND hwnd, const WCHAR* name, HANDLE data) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w || !name) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::u16string n(name);
  for (auto& [k, v] : w->props) {
    if (EqualsNoCase(k, n)) {
      v = data;
      return TRUE;
    }
  }
  w->props.emplace_back(n, data);
  return TRUE;
}

HANDLE GetPropW(HWND hwnd, const WCHAR* name) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w || !name) return nullptr;
  std::u16string n(name);
  for (auto& [k, v] : w->props)
    if (EqualsNoCase(k, n)) return v;
  return nullptr;
}

HANDLE RemovePropW(HWND hwnd, const WCHAR* name) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w || !name) return nullptr;
  std::u16string n(name);
  for (auto it = w->props.begin(); it != w->props.end(); ++it) {
    if (EqualsNoCase(it->first, n)) {
      HANDLE v = it->second;
      w->props.erase(it);
      return v;
    }
  }
  return nullptr;
}

BOOL ShowWindow(HWND hwnd, int cmd) {
  bool was, now;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    was = (w->style & WS_VISIBLE) != 0;
    now = cmd != SW_HIDE && cmd != SW_MINIMIZE;
    if (was == now) return was ? TRUE : FALSE;
    if (now) w->style |= WS_VISIBLE;
    else w->style &= ~WS_VISIBLE;
    if (w->parent) {
      RECT r = w->rect;
      InvalidateLocked(w->parent, &r, true);
    } else {
      table::SetFlag(w->handle, kVisible, now);
    }
    if (now) InvalidateLocked(w, nullptr, true);
  }
  SendMessageW(hwnd, WM_SHOWWINDOW, now ? TRUE : FALSE, 0);
  if (!now) PassActivation(hwnd);
  bool activate = now && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE;
  if (activate) {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    activate = w && !w->parent && !(w->exStyle & WS_EX_NOACTIVATE) && w->queue == CurrentQueue();
  }
  if (activate) SetActiveWindow(hwnd);
  return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(hwnd)) return VisibleLocked(w) ? TRUE : FALSE;
  }
  auto e = table::Get(HandleToValue(hwnd));
  return e && (e->flags & kVisible) ? TRUE : FALSE;
}

namespace {
// The animations running in this process: the window each was begun on and
// the top-level window marked for it then.
std::mutex& AnimationLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::multimap<DWORD, DWORD>& Animations() {
  static auto* m = new std::multimap<DWORD, DWORD>;
  return *m;
}
// The top-level window of a window of this process; 0 for another's or none.
DWORD OwnTopLevel(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  return w ? TopLevelOf(w)->handle : 0;
}
}  // namespace

BOOL BeginWindowAnimation(HWND hwnd) {
  const DWORD top = OwnTopLevel(hwnd);
  if (!top) return FALSE;
  std::lock_guard<std::mutex> g(AnimationLock());
  Animations().emplace(HandleToValue(hwnd), top);
  table::SetFlag(top, kAnimating, true);
  return TRUE;
}

BOOL EndWindowAnimation(HWND hwnd) {
  // The window may be gone meanwhile: the mark is taken off the top-level
  // window it was put on.
  std::lock_guard<std::mutex> g(AnimationLock());
  auto& running = Animations();
  auto it = running.find(HandleToValue(hwnd));
  if (it == running.end()) return FALSE;
  const DWORD top = it->second;
  running.erase(it);
  if (std::none_of(running.begin(), running.end(), [top](const auto& a) { return a.second == top; }))
    table::SetFlag(top, kAnimating, false);
  return TRUE;
}

BOOL IsWindowAnimating(HWND hwnd) {
  DWORD top = OwnTopLevel(hwnd);
  if (!top) {
    // A window of another process: the table lists its top-level windows.
    top = HandleToValue(hwnd);
  }
  auto e = table::Get(top);
  return e && (e->flags & kAnimating) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  bool wasDisabled;
  bool dropFocus = false;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (wasDisabled == !enable) return wasDisabled ? TRUE : FALSE;
    if (enable) w->style &= ~WS_DISABLED;
    else w->style |= WS_DISABLED;
    if (!enable && w->queue == CurrentQueue()) {
      Window* f = FindValue(w->queue->focus);
      dropFocus = f && (f == w || IsAncestor(w, f));
    }
    InvalidateLocked(w, nullptr, true);
  }
  if (dropFocus) SetFocus(nullptr);
  SendMessageW(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

namespace wm {

WPARAM PackWindowPosW(HWND insertAfter, UINT flags) {
  const auto after = static_cast<std::uint32_t>(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(insertAfter)));
  return (static_cast<WPARAM>(after) << 32) | flags;
}
LPARAM PackWindowPosL(int x, int y, int cx, int cy) {
  auto part = [](int v, int shift) { return static_cast<std::uint64_t>(static_cast<std::uint16_t>(v)) << shift; };
  return static_cast<LPARAM>(part(x, 0) | part(y, 16) | part(cx, 32) | part(cy, 48));
}

LRESULT ApplyRemoteWindowPos(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  const auto after = static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam >> 32));
  const auto flags = static_cast<UINT>(wParam & 0xFFFFFFFFu);
  const auto bits = static_cast<std::uint64_t>(lParam);
  auto part = [&](int shift) { return static_cast<int>(static_cast<std::int16_t>((bits >> shift) & 0xFFFF)); };
  return SetWindowPos(hwnd, reinterpret_cast<HWND>(static_cast<std::intptr_t>(after)), part(0), part(16), part(32),
                      part(48), flags);
}

}  // namespace wm

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  bool local;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    local = Find(hwnd) != nullptr;
  }
  if (!local) {
    // A top-level window of another process: its own thread applies the
    // change (coordinates as 16-bit values), so its process keeps its state.
    auto e = table::Get(HandleToValue(hwnd));
    if (!e) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    LRESULT result = 0;
    const bool async = (flags & SWP_ASYNCWINDOWPOS) != 0;
    flags &= ~SWP_ASYNCWINDOWPOS;
    const int st = async ? RemoteCall(*e, WireKind::Notify, kRemoteWindowPosMessage, PackWindowPosW(insertAfter, flags),
                                      PackWindowPosL(x, y, cx, cy), 0, 5000, &result)
                         : RemoteCall(*e, WireKind::Send, kRemoteWindowPosMessage, PackWindowPosW(insertAfter, flags),
                                      PackWindowPosL(x, y, cx, cy), SMTO_ABORTIFHUNG, 5000, &result);
    if (st != kWireOk || (!async && !result)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    return TRUE;
  }
  bool moved = false, sized = false;
  RECT nr;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    RECT old = w->rect;
    nr = old;
    if (!(flags & SWP_NOMOVE)) OffsetRect(&nr, x - old.left, y - old.top);
    if (!(flags & SWP_NOSIZE)) {
      nr.right = nr.left + std::max(cx, 0);
      nr.bottom = nr.top + std::max(cy, 0);
    }
    moved = nr.left != old.left || nr.top != old.top;
    sized = (nr.right - nr.left) != (old.right - old.left) || (nr.bottom - nr.top) != (old.bottom - old.top);
    w->rect = nr;
    if (!(flags & SWP_NOZORDER)) {
      if (w->parent) {
        auto& sib = w->parent->children;
        sib.erase(std::remove(sib.begin(), sib.end(), w), sib.end());
        if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
          sib.insert(sib.begin(), w);
        } else if (insertAfter == HWND_BOTTOM) {
          sib.push_back(w);
        } else {
          Window* a = Find(insertAfter);
          auto it = std::find(sib.begin(), sib.end(), a);
          sib.insert(it == sib.end() ? sib.begin() : it + 1, w);
        }
        moved = true;  // a change of order shows other parts
      } else {
        if (insertAfter == HWND_TOPMOST) {
          w->exStyle |= WS_EX_TOPMOST;
          table::SetFlag(w->handle, kTopmost, true);
          table::PlaceTop(w->handle);
        } else if (insertAfter == HWND_NOTOPMOST) {
          w->exStyle &= ~WS_EX_TOPMOST;
          table::SetFlag(w->handle, kTopmost, false);
          table::PlaceTop(w->handle);
        } else if (insertAfter == HWND_TOP) {
          table::PlaceTop(w->handle);
        } else if (insertAfter == HWND_BOTTOM) {
          table::PlaceBottom(w->handle);
        } else {
          table::PlaceAfter(w->handle, HandleToValue(insertAfter));
        }
      }
    }
    if (!w->parent) {
      table::SetRect(w->handle, nr);
      if (sized) CreateSurface(w);
    }
    if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW) w->style &= ~WS_VISIBLE;
    if (!w->parent && (flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)))
      table::SetFlag(w->handle, kVisible, (w->style & WS_VISIBLE) != 0);
    if (!(flags & SWP_NOREDRAW) || sized) {
      if (w->parent && (moved || sized || (flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)))) {
        RECT u;
        UnionRect(&u, &old, &nr);
        InvalidateLocked(w->parent, &u, true);
      }
      if (moved || sized || (flags & SWP_SHOWWINDOW)) InvalidateLocked(w, nullptr, true);
    }
  }
  if (moved && !(flags & SWP_NOMOVE))
    SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(nr.left), static_cast<WORD>(nr.top)));
  if (sized)
    SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED,
                 MAKELPARAM(static_cast<WORD>(nr.right - nr.left), static_cast<WORD>(nr.bottom - nr.top)));
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL BringWindowToTop(HWND hwnd) { return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  if (!rect) return FALSE;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(hwnd)) {
      POINT off = OffsetInTopLevel(w);
      Window* t = TopLevelOf(w);
      RECT r{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
      OffsetRect(&r, off.x + t->rect.left, off.y + t->rect.top);
      *rect = r;
      return TRUE;
    }
  }
  auto e = table::Get(HandleToValue(hwnd));
  if (!e) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = RECT{e->left, e->top, e->right, e->bottom};
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  RECT r;
  if (!rect || !GetWindowRect(hwnd, &r)) return FALSE;
  *rect = RECT{0, 0, r.right - r.left, r.bottom - r.top};
  std::lock_guard<std::recursive_mutex> g(W().lock);
  if (Window* w = Find(hwnd)) *rect = ClientAreaLocked(w);  // less the standard scroll bars shown
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
  RECT r;
  if (!point || !GetWindowRect(hwnd, &r)) return FALSE;
  point->x += r.left;
  point->y += r.top;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
  RECT r;
  if (!point || !GetWindowRect(hwnd, &r)) return FALSE;
  point->x -= r.left;
  point->y -= r.top;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
  RECT a{0, 0, 0, 0}, b{0, 0, 0, 0};
  if (from && !GetWindowRect(from, &a)) return 0;
  if (to && !GetWindowRect(to, &b)) return 0;
  int dx = a.left - b.left, dy = a.top - b.top;
  for (UINT i = 0; i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  return static_cast<int>(MAKELPARAM(static_cast<WORD>(dx), static_cast<WORD>(dy)));
}

HWND GetWindow(HWND hwnd, UINT cmd) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) {
    // Top-level windows of other processes: their order among the others.
    if (!table::Get(HandleToValue(hwnd))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
  }
  if (cmd == GW_CHILD) return w && !w->children.empty() ? ValueToHandle(w->children.front()->handle) : nullptr;
  if (cmd == GW_OWNER) return w && !w->parent ? ValueToHandle(w->owner) : nullptr;
  std::vector<DWORD> order;
  if (w && w->parent) {
    for (Window* c : w->parent->children) order.push_back(c->handle);
  } else {
    for (const TableEntry& e : table::Snapshot())
      if (!(e.flags & kMessageOnly)) order.push_back(e.hwnd);
  }
  if (order.empty()) return nullptr;
  auto it = std::find(order.begin(), order.end(), HandleToValue(hwnd));
  switch (cmd) {
    case GW_HWNDFIRST:
      return ValueToHandle(order.front());
    case GW_HWNDLAST:
      return ValueToHandle(order.back());
    case GW_HWNDNEXT:
      return it == order.end() || it + 1 == order.end() ? nullptr : ValueToHandle(*(it + 1));
    case GW_HWNDPREV:
      return it == order.end() || it == order.begin() ? nullptr : ValueToHandle(*(it - 1));
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HWND GetParent(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) return nullptr;
  return ValueToHandle(w->parent ? w->parent->handle : ((w->style & WS_POPUP) ? w->owner : 0));
}

HWND SetParent(HWND child, HWND newParent) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(child);
  Window* p = Find(newParent);
  if (!w || !w->parent || !p || p == w || IsAncestor(w, p)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Window* old = w->parent;
  RECT r = w->rect;
  InvalidateLocked(old, &r, true);
  auto& sib = old->children;
  sib.erase(std::remove(sib.begin(), sib.end(), w), sib.end());
  p->children.insert(p->children.begin(), w);
  w->parent = p;
  InvalidateLocked(w, nullptr, true);
  return ValueToHandle(old->handle);
}

HWND GetAncestor(HWND hwnd, UINT flags) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) return nullptr;
  if (flags == GA_PARENT) return w->parent ? ValueToHandle(w->parent->handle) : nullptr;
  return ValueToHandle(TopLevelOf(w)->handle);
}

namespace {
void Collect(Window* w, std::vector<DWORD>& out) {
  for (Window* c : w->children) {
    out.push_back(c->handle);
    Collect(c, out);
  }
}
}  // namespace

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
  std::vector<DWORD> all;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* p = Find(parent);
    if (!p || !proc) return FALSE;
    Collect(p, all);
  }
  for (DWORD h : all) {
    if (!IsWindow(ValueToHandle(h))) continue;
    if (!proc(ValueToHandle(h), lParam)) break;
  }
  return TRUE;
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
  if (!proc) return FALSE;
  for (const TableEntry& e : table::Snapshot()) {
    if (e.flags & kMessageOnly) continue;
    if (!proc(ValueToHandle(e.hwnd), lParam)) break;
  }
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* d = Find(dialog);
  if (!d) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (Window* c : d->children)
    if (c->id == id) return ValueToHandle(c->handle);
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  return w && w->parent ? w->id : 0;
}

namespace {
Window* DeepestAt(Window* w, POINT client) {
  for (Window* c : w->children) {
    if (!(c->style & WS_VISIBLE)) continue;
    if (client.x >= c->rect.left && client.x < c->rect.right && client.y >= c->rect.top && client.y < c->rect.bottom) {
      if (c->style & WS_DISABLED) return w;
      POINT inner{client.x - c->rect.left, client.y - c->rect.top};
      return DeepestAt(c, inner);
    }
  }
  return w;
}
}  // namespace

HWND WindowFromPoint(POINT point) {
  for (const TableEntry& e : table::Snapshot()) {
    if (!(e.flags & kVisible) || (e.flags & kMessageOnly)) continue;
    if (point.x < e.left || point.x >= e.right || point.y < e.top || point.y >= e.bottom) continue;
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = FindValue(e.hwnd)) {
      // A tool window (a soft-key bar) of a window that a modal window has
      // disabled takes no stylus, even where it lies above the modal
      // window's own: the tap goes to what lies below it.
      if (!w->parent && (w->exStyle & WS_EX_NOACTIVATE)) {
        Window* owner = FindValue(w->owner);
        if (owner && !EnabledLocked(owner)) continue;
      }
      Window* d = DeepestAt(w, POINT{point.x - w->rect.left, point.y - w->rect.top});
      return ValueToHandle(d->handle);
    }
    return ValueToHandle(e.hwnd);
  }
  return nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT clientPoint) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* p = Find(parent);
  if (!p) return nullptr;
  RECT r{0, 0, p->rect.right - p->rect.left, p->rect.bottom - p->rect.top};
  if (!PtInRect(&r, clientPoint)) return nullptr;
  for (Window* c : p->children)
    if (PtInRect(&c->rect, clientPoint)) return ValueToHandle(c->handle);
  return parent;
}

HWND FindWindowW(const WCHAR* className, const WCHAR* windowName) {
  std::u16string cls;
  if (className) {
    if (IS_INTRESOURCE(className)) {
      auto c = FindClass(className);
      if (!c) return nullptr;
      cls = c->name;
    } else {
      cls = className;
    }
  }
  for (const TableEntry& e : table::Snapshot()) {
    if (e.flags & kMessageOnly) continue;
    if (className && !EqualsNoCase(std::u16string(e.cls), cls)) continue;
    if (windowName && std::u16string(e.title) != windowName) continue;
    return ValueToHandle(e.hwnd);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(hwnd)) {
      if (processId) *processId = static_cast<DWORD>(getpid());
      return w->queue->threadId;
    }
  }
  auto e = table::Get(HandleToValue(hwnd));
  if (!e) {
    if (processId) *processId = 0;
    return 0;
  }
  if (processId) *processId = static_cast<DWORD>(e->pid);
  return e->threadId;
}

}  // namespace plat
