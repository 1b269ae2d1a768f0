// The viewer control's windows ("DISPLAYCLASS" and its inner "PIEHTML"), its
// messages and notifications, and the built-in "htmlview.dll".
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/htmlview/HtmlPage.h"
#include "platform/htmlview/HtmlView.h"

namespace plat {
namespace {

using htmlview::HtmlPage;

constexpr UINT_PTR kHoldTimer = 1;
constexpr UINT kHoldMs = 500;
constexpr std::size_t kMaxSourceBytes = 32u * 1024u * 1024u;

// A stream over a copy of some bytes.
class MemoryStream final : public IStream {
 public:
  explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IStream) {
      AddRef();
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Read(void* buffer, ULONG cb, ULONG* read) override {
    if (!buffer && cb) return E_POINTER;
    const std::size_t n = std::min<std::size_t>(cb, bytes_.size() - pos_);
    if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n < cb ? S_FALSE : S_OK;
  }
  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (!stat) return E_POINTER;
    stat->cbSize = bytes_.size();
    return S_OK;
  }

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
  std::atomic<ULONG> refs_{1};
};

// The state of one control, shared by its two windows.
struct Viewer {
  HWND outer = nullptr;
  HWND inner = nullptr;
  int dpi = 96;
  std::unique_ptr<HtmlPage> page;
  std::string source;    // UTF-8 of DTM_ADDTEXTW
  std::string rawBytes;  // bytes of DTM_ADDTEXT, decoded at the end
  bool ended = false;
  int textSize = 2;
  DWORD nextCookie = 1;
  unsigned generation = 0;
  LPARAM contextMenu = 1;
  LPARAM scripting = 0;
  // Stylus.
  bool down = false;
  bool moved = false;
  bool held = false;
  POINT downAt{};
  // Back buffer of the inner window: what it shows at (backX, backY).
  HDC backDc = nullptr;
  HBITMAP backBitmap = nullptr;
  HGDIOBJ backOld = nullptr;
  int backWidth = 0;
  int backHeight = 0;
  int backX = 0;
  int backY = 0;
  bool backValid = false;
  // Page rectangles of the back buffer to draw again at the next paint.
  std::vector<RECT> backDirty;
  // Set when the control is destroyed, for code that sends a notification and
  // then goes on (the parent may destroy the control meanwhile).
  std::shared_ptr<bool> gone = std::make_shared<bool>(false);

  ~Viewer() {
    *gone = true;
    DropBackBuffer();
  }
  void DropBackBuffer() {
    if (backDc) {
      SelectObject(backDc, backOld);
      DeleteDC(backDc);
    }
    if (backBitmap) DeleteObject(backBitmap);
    backDc = nullptr;
    backBitmap = nullptr;
    backValid = false;
  }
};

Viewer* ViewerOf(HWND hwnd) { return reinterpret_cast<Viewer*>(GetWindowLongW(hwnd, 0)); }

int Scaled(int v, int dpi) { return (v * dpi + 48) / 96; }

SIZE ClientSize(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// ---------------------------------------------------------------------------
// Scrolling and layout

int ScrollPos(HWND hwnd, int bar) { return GetScrollPos(hwnd, bar); }

void Invalidate(Viewer& v) {
  v.backValid = false;
  v.backDirty.clear();
  if (v.inner) InvalidateRect(v.inner, nullptr, FALSE);
}

// Asks for the page rectangles to be drawn again (in the back buffer and on
// the screen) at the next paint.
void InvalidatePage(Viewer& v, const std::vector<RECT>& rects) {
  if (!v.inner || !v.backValid) {
    Invalidate(v);
    return;
  }
  const int x = ScrollPos(v.inner, SB_HORZ);
  const int y = ScrollPos(v.inner, SB_VERT);
  for (const RECT& r : rects) {
    if (r.right <= r.left || r.bottom <= r.top) continue;
    v.backDirty.push_back(r);
    const RECT client{r.left - x, r.top - y, r.right - x, r.bottom - y};
    InvalidateRect(v.inner, &client, FALSE);
  }
}

// Sets the scroll bars from the laid-out page, keeping the positions.
void UpdateScrollBars(Viewer& v) {
  if (!v.inner) return;
  const SIZE client = ClientSize(v.inner);
  const int height = v.page ? v.page->ContentHeight() : 0;
  const int width = v.page ? v.page->ContentWidth() : 0;
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE, 0, std::max(0, height - 1),
                static_cast<UINT>(std::max<LONG>(0, client.cy)), 0, 0};
  SetScrollInfo(v.inner, SB_VERT, &si, TRUE);
  SCROLLINFO sh{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE, 0, std::max(0, width - 1),
                static_cast<UINT>(std::max<LONG>(0, client.cx)), 0, 0};
  SetScrollInfo(v.inner, SB_HORZ, &sh, TRUE);
  // The horizontal bar exists only while the page is wider than the window.
  LONG_PTR style = GetWindowLongW(v.inner, GWL_STYLE);
  const LONG_PTR wanted = width > client.cx ? (style | WS_HSCROLL) : (style & ~static_cast<LONG_PTR>(WS_HSCROLL));
  if (wanted != style) SetWindowLongW(v.inner, GWL_STYLE, wanted);
}

// Lays the page out for the width beside the vertical scroll bar: a page
// that grows taller than the window gets the bar, which narrows the client
// area, so the page is laid out again for the narrower width (and once more
// should that change the bars again).
void Relayout(Viewer& v) {
  if (!v.page || !v.inner) return;
  LONG width = std::max<LONG>(1, ClientSize(v.inner).cx);
  for (int pass = 0; pass < 3; ++pass) {
    v.page->Layout(width);
    UpdateScrollBars(v);
    const LONG now = std::max<LONG>(1, ClientSize(v.inner).cx);
    if (now == width) break;
    width = now;
  }
  Invalidate(v);
}

// Moves the bar and repaints when the page shown is not at its position (a
// caller that set the bar itself, as finger scrolling does, and then sends
// SB_THUMBPOSITION also gets the page moved).
void ScrollTo(Viewer& v, int bar, int pos) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, pos, 0};
  SetScrollInfo(v.inner, bar, &si, TRUE);
  const int shown = bar == SB_VERT ? v.backY : v.backX;
  if (!v.backValid || ScrollPos(v.inner, bar) != shown) InvalidateRect(v.inner, nullptr, FALSE);
}

void OnScroll(Viewer& v, int bar, WPARAM wParam) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(v.inner, bar, &si)) return;
  const int line = Scaled(20, v.dpi);
  const int page = std::max<int>(1, static_cast<int>(si.nPage) - line / 2);
  int pos = si.nPos;
  switch (LOWORD(wParam)) {
    case SB_LINEUP: pos -= line; break;
    case SB_LINEDOWN: pos += line; break;
    case SB_PAGEUP: pos -= page; break;
    case SB_PAGEDOWN: pos += page; break;
    // The 32-bit position is the one in the scroll information.
    case SB_THUMBPOSITION: pos = si.nPos; break;
    case SB_THUMBTRACK: pos = si.nTrackPos; break;
    case SB_TOP: pos = si.nMin; break;
    case SB_BOTTOM: pos = si.nMax; break;
    default: return;
  }
  ScrollTo(v, bar, pos);
}

// ---------------------------------------------------------------------------
// Painting (through the back buffer: a scroll shifts what is there and draws
// only the strip that comes into view)

void DrawInto(Viewer& v, const RECT& r) {
  const HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  FillRect(v.backDc, &r, white);
  if (!v.page) return;
  const int saved = SaveDC(v.backDc);
  IntersectClipRect(v.backDc, r.left, r.top, r.right, r.bottom);
  v.page->Draw(v.backDc, -v.backX, -v.backY, r);
  RestoreDC(v.backDc, saved);
}

void PaintInner(Viewer& v, HWND hwnd) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  const SIZE client = ClientSize(hwnd);
  if (client.cx > 0 && client.cy > 0) {
    if (!v.backDc || v.backWidth != client.cx || v.backHeight != client.cy) {
      v.DropBackBuffer();
      v.backBitmap = CreateCompatibleBitmap(nullptr, client.cx, client.cy);
      v.backDc = CreateCompatibleDC(nullptr);
      v.backOld = SelectObject(v.backDc, v.backBitmap);
      v.backWidth = client.cx;
      v.backHeight = client.cy;
    }
    if (v.page && v.page->NeedsLayout()) Relayout(v);
    const int x = ScrollPos(hwnd, SB_HORZ);
    const int y = ScrollPos(hwnd, SB_VERT);
    const int dx = x - v.backX;
    const int dy = y - v.backY;
    const RECT all{0, 0, client.cx, client.cy};
    if (!v.backValid || std::abs(dx) >= client.cx || std::abs(dy) >= client.cy || (dx && dy)) {
      v.backX = x;
      v.backY = y;
      DrawInto(v, all);
    } else if (dx || dy) {
      // Shift what is shown, then draw what comes into view.
      BitBlt(v.backDc, std::max(0, -dx), std::max(0, -dy), client.cx - std::abs(dx), client.cy - std::abs(dy), v.backDc,
             std::max(0, dx), std::max(0, dy), SRCCOPY);
      v.backX = x;
      v.backY = y;
      RECT strip = all;
      if (dy > 0) strip.top = client.cy - dy;
      else if (dy < 0) strip.bottom = -dy;
      if (dx > 0) strip.left = client.cx - dx;
      else if (dx < 0) strip.right = -dx;
      DrawInto(v, strip);
    }
    // Parts of the page that changed in place (a picture that came).
    for (const RECT& page : v.backDirty) {
      RECT r{page.left - v.backX, page.top - v.backY, page.right - v.backX, page.bottom - v.backY};
      if (IntersectRect(&r, &r, &all)) DrawInto(v, r);
    }
    v.backDirty.clear();
    v.backValid = true;
    BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left, ps.rcPaint.bottom - ps.rcPaint.top,
           v.backDc, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
  }
  EndPaint(hwnd, &ps);
}

// ---------------------------------------------------------------------------
// Notifications

// The page's notifications name the inner window as their sender: a parent
// that hands them on to "the parent of the sender" reaches the control (and
// whatever subclasses it) once, never itself again.
LRESULT NotifyParent(Viewer& v, UINT code, const std::u16string& target, DWORD cookie) {
  HWND parent = GetParent(v.outer);
  if (!parent || !v.inner) return 0;
  NM_HTMLVIEWW nm{};
  nm.hdr.hwndFrom = v.inner;
  nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(v.outer));
  nm.hdr.code = code;
  nm.szTarget = target.c_str();
  nm.szData = nullptr;
  nm.dwCookie = cookie;
  nm.szExInfo = nullptr;
  return SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
}

// Lays out and shows the source received so far: NM_TITLE, the image
// requests, NM_DOCUMENTCOMPLETE (always as a pair).
void ShowSource(Viewer& v) {
  const unsigned generation = ++v.generation;
  if (!v.rawBytes.empty()) {
    v.source += htmlview::DecodePageBytes(v.rawBytes);
    v.rawBytes.clear();
  }
  v.ended = true;
  auto page = std::make_unique<HtmlPage>(v.dpi);
  page->SetTextSize(v.textSize);
  page->Load(v.source, &v.nextCookie);
  const std::u16string title = page->Title();
  const std::vector<htmlview::PageImageRequest> requests = page->ImageRequests();
  v.page = std::move(page);
  SCROLLINFO top{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, 0, 0};
  SetScrollInfo(v.inner, SB_VERT, &top, FALSE);
  SetScrollInfo(v.inner, SB_HORZ, &top, FALSE);
  Relayout(v);
  const std::shared_ptr<bool> gone = v.gone;
  NotifyParent(v, NM_TITLE, title, 0);
  for (const auto& request : requests) {
    if (*gone || generation != v.generation) break;  // destroyed, or the page replaced meanwhile
    NotifyParent(v, NM_INLINE_IMAGE, request.address, request.cookie);
  }
  if (!*gone) NotifyParent(v, NM_DOCUMENTCOMPLETE, std::u16string(), 0);
}

void Clear(Viewer& v) {
  ++v.generation;
  v.page.reset();
  v.source.clear();
  v.rawBytes.clear();
  v.ended = false;
  SCROLLINFO none{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
  if (v.inner) {
    SetScrollInfo(v.inner, SB_VERT, &none, TRUE);
    SetScrollInfo(v.inner, SB_HORZ, &none, TRUE);
  }
  Invalidate(v);
}

void AddSource(Viewer& v, std::string utf8, bool bytes) {
  if (v.ended) {  // text after the end of a page starts a new one
    v.source.clear();
    v.rawBytes.clear();
    v.ended = false;
  }
  std::string& into = bytes ? v.rawBytes : v.source;
  const std::size_t room = kMaxSourceBytes > into.size() ? kMaxSourceBytes - into.size() : 0;
  into.append(utf8, 0, std::min(room, utf8.size()));
}

// Reports a tap and hold at a client point of the inner window: first to the
// inner window itself (so a subclass sees it), which passes it on.
void ContextMenuAt(Viewer& v, POINT client) {
  NM_HTMLCONTEXTW nm{};
  nm.hdr.hwndFrom = v.inner;
  nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(v.inner));
  nm.hdr.code = NM_CONTEXTMENU;
  nm.pt = client;
  ClientToScreen(v.inner, &nm.pt);
  htmlview::HitInfo hit;
  if (v.page) hit = v.page->HitTest(client.x + ScrollPos(v.inner, SB_HORZ), client.y + ScrollPos(v.inner, SB_VERT));
  nm.uTypeFlags = hit.flags;
  nm.szLinkHREF = (hit.flags & HTMLCONTEXT_LINK) ? hit.href.c_str() : nullptr;
  nm.szLinkName = (hit.flags & HTMLCONTEXT_LINK) ? hit.linkText.c_str() : nullptr;
  nm.dwImageCookie = hit.cookie;
  SendMessageW(v.inner, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
}

// ---------------------------------------------------------------------------
// The inner window

LRESULT CALLBACK_Inner(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongW(hwnd, 0, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  Viewer* v = ViewerOf(hwnd);
  if (!v) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_PAINT:
      PaintInner(*v, hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      Relayout(*v);
      return 0;
    case WM_VSCROLL:
      OnScroll(*v, SB_VERT, wParam);
      return 0;
    case WM_HSCROLL:
      OnScroll(*v, SB_HORZ, wParam);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_UP: OnScroll(*v, SB_VERT, SB_LINEUP); return 0;
        case VK_DOWN: OnScroll(*v, SB_VERT, SB_LINEDOWN); return 0;
        case VK_PRIOR: OnScroll(*v, SB_VERT, SB_PAGEUP); return 0;
        case VK_NEXT: case VK_SPACE: OnScroll(*v, SB_VERT, SB_PAGEDOWN); return 0;
        case VK_HOME: OnScroll(*v, SB_VERT, SB_TOP); return 0;
        case VK_END: OnScroll(*v, SB_VERT, SB_BOTTOM); return 0;
        case VK_LEFT: OnScroll(*v, SB_HORZ, SB_LINELEFT); return 0;
        case VK_RIGHT: OnScroll(*v, SB_HORZ, SB_LINERIGHT); return 0;
        default: break;
      }
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      SetCapture(hwnd);
      v->down = true;
      v->moved = false;
      v->held = false;
      v->downAt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      // The selection stays until a tap: a tap and hold opens the menu that
      // copies it.
      SetTimer(hwnd, kHoldTimer, kHoldMs, nullptr);
      return 0;
    case WM_MOUSEMOVE:
      if (v->down && !v->moved) {
        const int slop = Scaled(10, v->dpi);
        if (std::abs(GET_X_LPARAM(lParam) - v->downAt.x) >= slop || std::abs(GET_Y_LPARAM(lParam) - v->downAt.y) >= slop) {
          v->moved = true;
          KillTimer(hwnd, kHoldTimer);
        }
      }
      return 0;
    case WM_TIMER:
      if (wParam == kHoldTimer) {
        KillTimer(hwnd, kHoldTimer);
        if (v->down && !v->moved && !v->held) {
          v->held = true;
          ContextMenuAt(*v, v->downAt);
        }
        return 0;
      }
      break;
    case WM_LBUTTONUP: {
      KillTimer(hwnd, kHoldTimer);
      const bool tap = v->down && !v->moved && !v->held;
      v->down = false;
      if (GetCapture() == hwnd) ReleaseCapture();
      if (tap && v->page && v->page->HasSelection()) {
        v->page->ClearSelection();
        Invalidate(*v);
      }
      if (tap && v->page) {
        const std::u16string target =
            v->page->TapLink(v->downAt.x + ScrollPos(hwnd, SB_HORZ), v->downAt.y + ScrollPos(hwnd, SB_VERT));
        if (!target.empty()) NotifyParent(*v, NM_HOTSPOT, target, 0);
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      v->down = false;
      KillTimer(hwnd, kHoldTimer);
      return 0;
    case WM_NOTIFY: {
      // The context menu goes on to the control, and from there to its parent.
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr && hdr->hwndFrom == hwnd && v->outer) return SendMessageW(v->outer, WM_NOTIFY, wParam, lParam);
      return 0;
    }
    case WM_NCDESTROY:
      SetWindowLongW(hwnd, 0, 0);
      if (v->inner == hwnd) {
        v->inner = nullptr;
        v->DropBackBuffer();
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// The control

LRESULT CALLBACK_Outer(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* v = new Viewer;
    v->outer = hwnd;
    v->dpi = ScreenDpi();
    SetWindowLongW(hwnd, 0, reinterpret_cast<LONG_PTR>(v));
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  Viewer* v = ViewerOf(hwnd);
  if (!v) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_CREATE: {
      const SIZE size = ClientSize(hwnd);
      const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongW(hwnd, GWL_HINSTANCE));
      v->inner = CreateWindowExW(0, kHtmlViewInnerClassName, u"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP, 0, 0,
                                 size.cx, size.cy, hwnd, nullptr, instance, v);
      return v->inner ? 0 : -1;
    }
    case WM_SIZE: {
      if (v->inner) MoveWindow(v->inner, 0, 0, LOWORD(static_cast<std::uintptr_t>(lParam)),
                               HIWORD(static_cast<std::uintptr_t>(lParam)), TRUE);
      return 0;
    }
    case WM_SETFOCUS:
      if (v->inner) SetFocus(v->inner);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NOTIFY: {
      // From the inner window: passed to the parent as the control's own.
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      HWND parent = GetParent(hwnd);
      if (!hdr || hdr->hwndFrom != v->inner || !parent) return 0;
      hdr->hwndFrom = hwnd;
      hdr->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd));
      const LRESULT answer = SendMessageW(parent, WM_NOTIFY, hdr->idFrom, lParam);
      return answer;
    }
    case WM_HELP:
      return TRUE;
    case WM_CONTEXTMENU:
      return 0;
    case DTM_CLEAR:
      Clear(*v);
      return 0;
    case DTM_ADDTEXTW: {
      const auto* text = reinterpret_cast<const WCHAR*>(lParam);
      if (!text) return FALSE;
      AddSource(*v, Utf16ToUtf8(std::u16string_view(text, StrLen(text))), false);
      return TRUE;
    }
    case DTM_ADDTEXT: {
      const auto* text = reinterpret_cast<const char*>(lParam);
      if (!text) return FALSE;
      AddSource(*v, std::string(text), true);
      return TRUE;
    }
    case DTM_ENDOFSOURCE:
      ShowSource(*v);
      return TRUE;
    case DTM_SETIMAGE: {
      const auto* info = reinterpret_cast<const INLINEIMAGEINFO*>(lParam);
      // A cookie of no current page leaves the bitmap to its giver: it may
      // still be given for a cookie that is current.
      std::vector<RECT> repaint;
      if (!info || !v->page || !v->page->SetImage(info->dwCookie, info->hbm, info->bOwnBitmap != FALSE, &repaint))
        return FALSE;
      if (!v->page->NeedsLayout()) InvalidatePage(*v, repaint);  // the layout stays: draw the picture's boxes
      else if (wParam == kSetImageLayoutLater) Invalidate(*v);   // the paint lays the page out
      else Relayout(*v);
      return TRUE;
    }
    case DTM_IMAGEFAIL:
      if (v->page && v->page->FailImage(static_cast<DWORD>(lParam))) Invalidate(*v);
      return 0;
    case DTM_SELECTALL:
      if (v->page) {
        v->page->SelectAll();
        Invalidate(*v);
      }
      return 0;
    case DTM_ISSELECTION:
      return v->page && v->page->HasSelection() ? TRUE : FALSE;
    case DTM_COPYSELECTIONTONEWISTREAM: {
      auto** out = reinterpret_cast<IStream**>(lParam);
      if (!out) return FALSE;
      const std::u16string text = v->page ? v->page->SelectedText() : std::u16string();
      *out = new MemoryStream(std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t)));
      return TRUE;
    }
    case DTM_ENABLECONTEXTMENU:
      v->contextMenu = lParam;
      return TRUE;
    case DTM_ENABLESCRIPTING:
      v->scripting = lParam;
      return TRUE;
    case DTM_TEXTSIZE: {
      const int previous = v->textSize;
      v->textSize = static_cast<int>(std::min<WPARAM>(wParam, 4));
      if (v->page && v->textSize != previous) {
        // Keep the same part of the page in view.
        const int oldHeight = std::max(1, v->page->ContentHeight());
        const long long oldPos = ScrollPos(v->inner, SB_VERT);
        v->page->SetTextSize(v->textSize);
        Relayout(*v);
        ScrollTo(*v, SB_VERT, static_cast<int>(oldPos * v->page->ContentHeight() / oldHeight));
      }
      return previous;
    }
    case WM_NCDESTROY: {
      SetWindowLongW(hwnd, 0, 0);
      if (v->inner) SetWindowLongW(v->inner, 0, 0);
      delete v;
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

FARPROC ResolveHtmlView(const char* name) {
  if (!name) return nullptr;
  if (std::strcmp(name, "#1") == 0 || std::strcmp(name, "InitHTMLControl") == 0)
    return reinterpret_cast<FARPROC>(&InitHTMLControl);
  return nullptr;
}

// The viewer is part of the device from the start.
const bool g_htmlViewRegistered = (RegisterHtmlViewModule(), true);

}  // namespace

BOOL InitHTMLControl(HINSTANCE instance) {
  static std::mutex lock;
  std::lock_guard<std::mutex> g(lock);
  WNDCLASSW existing{};
  if (GetClassInfoW(instance, kHtmlViewClassName, &existing) && GetClassInfoW(instance, kHtmlViewInnerClassName, &existing))
    return TRUE;
  WNDCLASSW outer{};
  outer.style = CS_GLOBALCLASS;
  outer.lpfnWndProc = &CALLBACK_Outer;
  outer.cbWndExtra = sizeof(void*);
  outer.hInstance = instance;
  outer.lpszClassName = kHtmlViewClassName;
  WNDCLASSW inner = outer;
  inner.style = CS_GLOBALCLASS | CS_DBLCLKS;
  inner.lpfnWndProc = &CALLBACK_Inner;
  inner.lpszClassName = kHtmlViewInnerClassName;
  const bool okOuter = RegisterClassW(&outer) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  const bool okInner = RegisterClassW(&inner) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return okOuter && okInner ? TRUE : FALSE;
}

void RegisterHtmlViewModule() { RegisterBuiltInModule(u"htmlview.dll", &ResolveHtmlView); }

}  // namespace plat
