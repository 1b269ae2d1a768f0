// The default window procedure: text, painting, background, close, fonts and
// control colours.
#include <algorithm>
#include <cstring>

#include "platform/windows/WindowsInternal.h"

namespace plat {
using namespace plat::wm;

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

}  // namespace plat
