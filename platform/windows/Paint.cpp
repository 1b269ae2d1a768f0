// Painting (surfaces, window DCs, invalidation, WM_PAINT), the default window
// procedure, focus, activation, capture and injected input.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "platform/base/Time.h"
#include "platform/windows/WindowsInternal.h"

namespace plat::wm {
namespace {

struct SurfaceInfo {
  BITMAPINFOHEADER h;
  DWORD masks[3];
};

SurfaceInfo InfoFor(int w, int h) {
  SurfaceInfo i{};
  i.h.biSize = sizeof(BITMAPINFOHEADER);
  i.h.biWidth = w;
  i.h.biHeight = -h;
  i.h.biPlanes = 1;
  i.h.biBitCount = 16;
  i.h.biCompression = BI_BITFIELDS;
  i.masks[0] = 0xF800;
  i.masks[1] = 0x07E0;
  i.masks[2] = 0x001F;
  return i;
}

std::mutex& DcMapLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::vector<std::pair<HDC, HBITMAP>>& DcMap() {
  static auto* v = new std::vector<std::pair<HDC, HBITMAP>>;
  return *v;
}

HDC WindowDc(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  Window* t = TopLevelOf(w);
  if (!t->surface) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  SurfaceInfo info = InfoFor(t->surface->width, t->surface->height);
  HBITMAP bmp = CreateDIBSectionOnMemory(reinterpret_cast<BITMAPINFO*>(&info), t->surface->mem);
  if (!bmp) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bmp);
  POINT off = OffsetInTopLevel(w);
  SetViewportOrgEx(dc, off.x, off.y, nullptr);
  RECT vis = VisibleClientRect(w);
  IntersectClipRect(dc, vis.left, vis.top, vis.right, vis.bottom);
  if (w->font) SelectObject(dc, w->font);
  std::lock_guard<std::mutex> m(DcMapLock());
  DcMap().emplace_back(dc, bmp);
  return dc;
}

int ReleaseWindowDc(HWND, HDC hdc) {
  HBITMAP bmp = nullptr;
  {
    std::lock_guard<std::mutex> m(DcMapLock());
    auto& v = DcMap();
    auto it = std::find_if(v.begin(), v.end(), [&](auto& p) { return p.first == hdc; });
    if (it == v.end()) return 0;
    bmp = it->second;
    v.erase(it);
  }
  DeleteDC(hdc);
  DeleteObject(bmp);
  return 1;
}

const WindowDcProvider kProvider{WindowDc, ReleaseWindowDc};

std::array<std::atomic<bool>, 256>& Keys() {
  static auto* k = new std::array<std::atomic<bool>, 256>();
  return *k;
}

}  // namespace

void InstallDcProvider() {
  static std::once_flag once;
  std::call_once(once, [] { SetWindowDcProvider(&kProvider); });
}

bool CreateSurface(Window* w) {
  int width = std::max<int>(1, w->rect.right - w->rect.left);
  int height = std::max<int>(1, w->rect.bottom - w->rect.top);
  if (w->surface && w->surface->width == width && w->surface->height == height) return true;
  int stride = (width * 2 + 3) & ~3;
  std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  auto s = std::make_unique<Surface>();
  s->shmName = table::SurfaceName(w->handle);
  s->fd = ::shm_open(s->shmName.c_str(), O_RDWR | O_CREAT, 0600);
  if (s->fd < 0) return false;
  if (::ftruncate(s->fd, static_cast<off_t>(size)) != 0) {
    ::close(s->fd);
    return false;
  }
  void* mem = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, s->fd, 0);
  if (mem == MAP_FAILED) {
    ::close(s->fd);
    return false;
  }
  s->mem = mem;
  s->size = size;
  s->width = width;
  s->height = height;
  s->stride = stride;
  std::memset(mem, 0, size);
  if (w->surface) {
    // Resized: the old mapping goes, the shared object stays under its name.
    ::munmap(w->surface->mem, w->surface->size);
    ::close(w->surface->fd);
  }
  w->surface = std::move(s);
  return true;
}

void DestroySurface(Window* w) {
  if (!w->surface) return;
  ::munmap(w->surface->mem, w->surface->size);
  ::close(w->surface->fd);
  ::shm_unlink(w->surface->shmName.c_str());
  w->surface.reset();
}

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

BOOL InjectKeyLocal(UINT vk, bool down) {
  Keys()[vk & 0xFF] = down;
  DWORD fg = table::Foreground();
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* top = FindValue(fg);
  if (!top) {
    for (const TableEntry& e : table::Snapshot()) {
      if (e.pid == getpid() && (e.flags & kVisible)) {
        top = FindValue(e.hwnd);
        if (top) break;
      }
    }
  }
  if (!top) return FALSE;
  Window* target = FindValue(top->queue->focus);
  if (!target) target = top;
  LPARAM lp = down ? 1 : static_cast<LPARAM>(0xC0000001u);
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
  HWND target = nullptr;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (W().capture && FindValue(W().capture)) target = ValueToHandle(W().capture);
  }
  if (!target) target = WindowFromPoint(POINT{x, y});
  if (!target) return FALSE;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(target);
    if (w) {
      if (!EnabledLocked(w) && HandleToValue(target) != W().capture) return FALSE;
      POINT p{x, y};
      Window* t = TopLevelOf(w);
      POINT off = OffsetInTopLevel(w);
      p.x -= t->rect.left + off.x;
      p.y -= t->rect.top + off.y;
      WPARAM keys = message == WM_LBUTTONUP ? 0 : (message == WM_MOUSEMOVE ? (Keys()[1] ? MK_LBUTTON : 0) : MK_LBUTTON);
      if (message == WM_LBUTTONDOWN) Keys()[1] = true;
      if (message == WM_LBUTTONUP) Keys()[1] = false;
      return PostToWindowLocal(w, message, keys, MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y))) ? TRUE
                                                                                                              : FALSE;
    }
  }
  if (!forwardRemote) return FALSE;
  auto e = table::Get(HandleToValue(target));
  if (!e) return FALSE;
  LRESULT ignored;
  return RemoteCall(*e, WireKind::Stylus, message, static_cast<WPARAM>(x), y, 0, 5000, &ignored) == kWireOk;
}

}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

short GetKeyState(int vk) { return Keys()[vk & 0xFF] ? static_cast<short>(0x8000) : 0; }
short GetAsyncKeyState(int vk) { return GetKeyState(vk); }

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
  return ReleaseDC(hwnd, ps->hdc) ? TRUE : FALSE;
}

HBITMAP GetWindowSurfaceForTesting(HWND topLevel) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* w = Find(topLevel);
  if (!w || !w->surface) return nullptr;
  if (!w->surface->bitmap) {
    SurfaceInfo info = InfoFor(w->surface->width, w->surface->height);
    w->surface->bitmap = CreateDIBSectionOnMemory(reinterpret_cast<BITMAPINFO*>(&info), w->surface->mem);
  }
  return w->surface->bitmap;
}

BOOL ComposeScreen() {
  HDC screen = GetDC(nullptr);
  if (!screen) return FALSE;
  RECT all{0, 0, ScreenWidth(), ScreenHeight()};
  FillRect(screen, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  auto entries = table::Snapshot();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const TableEntry& e = *it;
    if (!(e.flags & kVisible) || (e.flags & kMessageOnly)) continue;
    int w = std::max<int>(1, e.right - e.left), h = std::max<int>(1, e.bottom - e.top);
    std::size_t stride = static_cast<std::size_t>((w * 2 + 3) & ~3);
    std::size_t size = stride * static_cast<std::size_t>(h);
    int fd = ::shm_open(table::SurfaceName(e.hwnd).c_str(), O_RDONLY, 0);
    if (fd < 0) continue;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) < size) {
      ::close(fd);
      continue;  // being resized
    }
    void* mem = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mem == MAP_FAILED) continue;
    SurfaceInfo info = InfoFor(w, h);
    SetDIBitsToDevice(screen, e.left, e.top, static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0,
                      static_cast<UINT>(h), mem, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ::munmap(mem, size);
  }
  ReleaseDC(nullptr, screen);
  return TRUE;
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_SETTEXT: {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* w = Find(hwnd);
      if (!w) return FALSE;
      w->text = lParam ? std::u16string(reinterpret_cast<const WCHAR*>(lParam)) : std::u16string();
      if (!w->parent) table::SetTitle(w->handle, w->text);
      return TRUE;
    }
    case WM_GETTEXT: {
      auto* out = reinterpret_cast<WCHAR*>(lParam);
      int cch = static_cast<int>(wParam);
      if (!out || cch <= 0) return 0;
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* w = Find(hwnd);
      if (!w) return 0;
      int n = std::min<int>(static_cast<int>(w->text.size()), cch - 1);
      std::memcpy(out, w->text.data(), static_cast<std::size_t>(n) * sizeof(WCHAR));
      out[n] = 0;
      return n;
    }
    case WM_GETTEXTLENGTH: {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* w = Find(hwnd);
      return w ? static_cast<LRESULT>(w->text.size()) : 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush = nullptr;
      {
        std::lock_guard<std::recursive_mutex> g(W().lock);
        Window* w = Find(hwnd);
        if (w) brush = w->cls->wc.hbrBackground;
      }
      if (!brush) return 0;
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
      return 1;
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SETFONT: {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      if (Window* w = Find(hwnd)) w->font = reinterpret_cast<HFONT>(wParam);
      if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_GETFONT: {
      std::lock_guard<std::recursive_mutex> g(W().lock);
      Window* w = Find(hwnd);
      return w ? reinterpret_cast<LRESULT>(w->font) : 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    default:
      return 0;
  }
}

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

BOOL InjectKey(UINT vk, bool down) {
  DWORD fg = table::Foreground();
  auto e = table::Get(fg);
  if (e && e->pid != getpid()) {
    LRESULT ignored;
    return RemoteCall(*e, WireKind::Key, vk, down ? 1 : 0, 0, 0, 5000, &ignored) == kWireOk;
  }
  return InjectKeyLocal(vk, down);
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

}  // namespace plat
