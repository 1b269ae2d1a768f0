// The "static" class: text (left, centred, right, with or without word wrap
// and '&' prefixes) or an icon, on the background its parent chooses.
#include "platform/controls/ControlDrawing.h"
#include "platform/resources/Resources.h"

namespace plat {
namespace {

constexpr const WCHAR* kIconProp = u"StaticIcon";

HICON IconOf(HWND hwnd) { return reinterpret_cast<HICON>(GetPropW(hwnd, kIconProp)); }

LRESULT SetIcon(HWND hwnd, HICON icon) {
  HICON old = IconOf(hwnd);
  SetPropW(hwnd, kIconProp, reinterpret_cast<HANDLE>(icon));
  InvalidateRect(hwnd, nullptr, TRUE);
  return reinterpret_cast<LRESULT>(old);
}

void Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT r;
  GetClientRect(hwnd, &r);
  DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  FillRect(dc, &r, ctl::ColoursFromParent(hwnd, dc, WM_CTLCOLORSTATIC));
  DWORD type = style & SS_TYPEMASK;
  if (type == SS_ICON) {
    if (HICON icon = IconOf(hwnd)) {
      SIZE s = GetIconSize(icon);
      int x = 0, y = 0;
      if (style & SS_CENTERIMAGE) {
        x = (r.right - s.cx) / 2;
        y = (r.bottom - s.cy) / 2;
      }
      DrawIconEx(dc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL);
    }
  } else {
    HGDIOBJ old = ctl::SelectControlFont(hwnd, dc);
    std::u16string t = ctl::TextOf(hwnd);
    UINT fmt = type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT;
    fmt |= type == SS_LEFTNOWORDWRAP ? DT_SINGLELINE : DT_WORDBREAK;
    if (style & SS_NOPREFIX) fmt |= DT_NOPREFIX;
    if (style & SS_CENTERIMAGE) fmt |= DT_VCENTER | DT_SINGLELINE;
    DrawTextW(dc, t.c_str(), static_cast<int>(t.size()), &r, fmt);
    SelectObject(dc, old);
  }
  EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: {
      // An icon static names its icon by its text (a resource of the module).
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if ((static_cast<DWORD>(cs->style) & SS_TYPEMASK) == SS_ICON && cs->lpszName && cs->lpszName[0]) {
        const WCHAR* name = cs->lpszName;
        if (name[0] == u'#') {
          std::uintptr_t id = 0;
          for (const WCHAR* p = name + 1; *p >= u'0' && *p <= u'9'; ++p) id = id * 10 + static_cast<std::uintptr_t>(*p - u'0');
          name = MAKEINTRESOURCEW(id & 0xFFFF);
        }
        if (HICON icon = LoadIconW(cs->hInstance, name)) SetPropW(hwnd, kIconProp, reinterpret_cast<HANDLE>(icon));
      }
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case STM_SETICON:
      return SetIcon(hwnd, reinterpret_cast<HICON>(wParam));
    case STM_GETICON:
      return reinterpret_cast<LRESULT>(IconOf(hwnd));
    case STM_SETIMAGE:
      return wParam == IMAGE_ICON ? SetIcon(hwnd, reinterpret_cast<HICON>(lParam)) : 0;
    case STM_GETIMAGE:
      return wParam == IMAGE_ICON ? reinterpret_cast<LRESULT>(IconOf(hwnd)) : 0;
    case WM_LBUTTONUP:
      if (GetWindowLongW(hwnd, GWL_STYLE) & SS_NOTIFY) ctl::NotifyParent(hwnd, STN_CLICKED);
      return 0;
    case WM_SETTEXT:
    case WM_ENABLE: {
      LRESULT r = DefWindowProcW(hwnd, msg, wParam, lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return r;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd);
      return 0;
    case WM_NCDESTROY:
      RemovePropW(hwnd, kIconProp);
      return DefWindowProcW(hwnd, msg, wParam, lParam);
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
