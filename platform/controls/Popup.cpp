// The modal loop and windows of pop-ups (menus, drop lists).
#include "platform/controls/Popup.h"

#include <algorithm>
#include <string>

#include "platform/controls/ControlDrawing.h"

namespace plat::ctl {

bool RunPopupLoop(HWND capture, HWND owner, PopupInput& input) {
  SetCapture(capture);
  bool byItself = true;
  while (!input.Done()) {
    if (!IsWindow(capture) || !IsWindow(owner) || GetCapture() != capture) {
      byItself = false;
      break;
    }
    MSG m;
    BOOL r = GetMessageW(&m, nullptr, 0, 0);
    if (r <= 0) {
      if (r == 0) PostQuitMessage(static_cast<int>(m.wParam));  // the outer loop sees it too
      byItself = false;
      break;
    }
    switch (m.message) {
      case WM_KEYDOWN:
      case WM_SYSKEYDOWN:
        // A held Back (escape) closes one level, once.
        if (m.wParam == VK_ESCAPE && IsRepeatedKeyDown(m.lParam)) continue;
        input.KeyDown(static_cast<UINT>(m.wParam));
        continue;
      case WM_CHAR:
        input.Char(static_cast<WCHAR>(m.wParam));
        continue;
      case WM_KEYUP:
      case WM_SYSKEYUP:
      case WM_SYSCHAR:
        continue;
      case WM_VSCROLL:
        if (m.hwnd == capture) {
          input.Scroll(LOWORD(m.wParam));
          continue;
        }
        break;
      default:
        break;
    }
    if (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST) {
      // Stylus messages queued before the capture was taken carry the
      // coordinates of their own window.
      POINT p{GET_X_LPARAM(m.lParam), GET_Y_LPARAM(m.lParam)};
      if (!IsWindow(m.hwnd) || !ClientToScreen(m.hwnd, &p)) continue;
      input.Stylus(m.message, p);
      continue;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  if (IsWindow(capture) && GetCapture() == capture) ReleaseCapture();
  return byItself;
}

HWND CreatePopupWindow(const WCHAR* className, WNDPROC proc, HWND owner, const RECT& r, void* state) {
  WNDCLASSW wc{};
  if (!GetClassInfoW(nullptr, className, &wc)) {
    wc.lpfnWndProc = proc;
    wc.lpszClassName = className;
    RegisterClassW(&wc);  // another thread may have been first: then that one stays
  }
  HWND top = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
  HWND w = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, className, u"", WS_POPUP, r.left, r.top,
                           r.right - r.left, r.bottom - r.top, top, nullptr, nullptr, nullptr);
  if (!w) return nullptr;
  SetWindowLongW(w, GWL_USERDATA, reinterpret_cast<LONG_PTR>(state));
  SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  UpdateWindow(w);
  return w;
}

bool PopupWindowCommon(HWND hwnd, UINT msg) {
  if (msg == WM_CAPTURECHANGED || msg == WM_DESTROY) {
    // The loop waits in GetMessageW: give it something to look at.
    PostMessageW(nullptr, WM_NULL, 0, 0);
    (void)hwnd;
    return msg == WM_CAPTURECHANGED;
  }
  if (msg == WM_ERASEBKGND) return true;
  return false;
}

COLORREF PopupFrameColour() { return RGB(0, 0, 0); }

namespace {
std::pair<std::u16string, std::u16string> SplitAtTab(const std::u16string& text) {
  auto tab = text.find(u'\t');
  if (tab == std::u16string::npos) return {text, u""};
  return {text.substr(0, tab), text.substr(tab + 1)};
}
}  // namespace

void DrawItemText(HDC dc, const std::u16string& text, RECT r, UINT align) {
  auto [main, accel] = SplitAtTab(text);
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, main.c_str(), static_cast<int>(main.size()), &r,
            align | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
  if (!accel.empty())
    DrawTextW(dc, accel.c_str(), static_cast<int>(accel.size()), &r, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
}

int ItemTextWidth(HDC dc, const std::u16string& text) {
  auto [main, accel] = SplitAtTab(text);
  int width = 0;
  for (const std::u16string* part : {&main, &accel}) {
    if (part->empty()) continue;
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, part->c_str(), static_cast<int>(part->size()), &r, DT_SINGLELINE | DT_CALCRECT);
    width += r.right - r.left;
  }
  if (!accel.empty()) width += Px(16);
  return width;
}

void DrawTriangle(HDC dc, POINT c, int s, Pointing way, COLORREF colour) {
  POINT p[3];
  switch (way) {
    case Pointing::Right:
      p[0] = {c.x - s / 2, c.y - s};
      p[1] = {c.x + s / 2, c.y};
      p[2] = {c.x - s / 2, c.y + s};
      break;
    case Pointing::Down:
      p[0] = {c.x - s, c.y - s / 2};
      p[1] = {c.x + s, c.y - s / 2};
      p[2] = {c.x, c.y + s / 2};
      break;
    case Pointing::Up:
      p[0] = {c.x - s, c.y + s / 2};
      p[1] = {c.x + s, c.y + s / 2};
      p[2] = {c.x, c.y - s / 2};
      break;
  }
  HBRUSH b = CreateSolidBrush(colour);
  HPEN pen = CreatePen(PS_SOLID, 1, colour);
  HGDIOBJ ob = SelectObject(dc, b), op = SelectObject(dc, pen);
  Polygon(dc, p, 3);
  SelectObject(dc, ob);
  SelectObject(dc, op);
  DeleteObject(b);
  DeleteObject(pen);
}

void DrawTick(HDC dc, RECT r, COLORREF colour) {
  int w = r.right - r.left, h = r.bottom - r.top;
  int thick = std::max(1, w / 6);
  HPEN pen = CreatePen(PS_SOLID, 1, colour);
  HGDIOBJ op = SelectObject(dc, pen);
  for (int t = 0; t < thick; ++t) {
    POINT p[3] = {{r.left + w / 6, r.top + h / 2 + t}, {r.left + w * 2 / 5, r.top + h * 3 / 4 + t},
                  {r.left + w * 5 / 6, r.top + h / 4 + t}};
    Polyline(dc, p, 3);
  }
  SelectObject(dc, op);
  DeleteObject(pen);
}

}  // namespace plat::ctl
