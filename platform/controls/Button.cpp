// The "button" class: push and default push buttons, check boxes (two and
// three states, automatic or not), radio buttons (automatic ones uncheck the
// others of their group), group boxes. Drawn flat: white face, 1-px black
// frame (2 px for the default button), inverted while pressed.
#include "platform/controls/ControlDrawing.h"
#include "platform/windows/WindowsInternal.h"

namespace plat {
namespace {

DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }
DWORD TypeOf(HWND hwnd) { return StyleOf(hwnd) & BS_TYPEMASK; }
bool IsPush(DWORD type) { return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON; }
bool IsRadio(DWORD type) { return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON; }
bool IsCheck(DWORD type) {
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
}

WPARAM CheckOf(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(wm::W().lock);
  wm::Window* w = wm::Find(hwnd);
  return w ? w->check : 0;
}

void SetCheck(HWND hwnd, WPARAM check) {
  {
    std::lock_guard<std::recursive_mutex> g(wm::W().lock);
    wm::Window* w = wm::Find(hwnd);
    if (!w || w->check == check) return;
    w->check = check;
  }
  InvalidateRect(hwnd, nullptr, TRUE);
}

bool Pushed(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> g(wm::W().lock);
  wm::Window* w = wm::Find(hwnd);
  return w && w->pushed;
}

void SetPushed(HWND hwnd, bool pushed) {
  {
    std::lock_guard<std::recursive_mutex> g(wm::W().lock);
    wm::Window* w = wm::Find(hwnd);
    if (!w || w->pushed == pushed) return;
    w->pushed = pushed;
  }
  InvalidateRect(hwnd, nullptr, TRUE);
}

// The automatic radio buttons of hwnd's group: the siblings from the last
// WS_GROUP item before it up to the next WS_GROUP item.
std::vector<HWND> RadioGroup(HWND hwnd) {
  std::vector<HWND> group;
  std::lock_guard<std::recursive_mutex> g(wm::W().lock);
  wm::Window* w = wm::Find(hwnd);
  if (!w || !w->parent) return {hwnd};
  const auto& kids = w->parent->children;
  std::size_t at = 0;
  while (at < kids.size() && kids[at] != w) ++at;
  std::size_t first = at;
  while (first > 0 && !(kids[first]->style & WS_GROUP)) --first;
  for (std::size_t i = first; i < kids.size(); ++i) {
    if (i > first && (kids[i]->style & WS_GROUP)) break;
    if ((kids[i]->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON && kids[i]->cls == w->cls)
      group.push_back(ValueToHandle(kids[i]->handle));
  }
  return group;
}

void Click(HWND hwnd) {
  switch (TypeOf(hwnd)) {
    case BS_AUTOCHECKBOX:
      SetCheck(hwnd, CheckOf(hwnd) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
      break;
    case BS_AUTO3STATE:
      SetCheck(hwnd, (CheckOf(hwnd) + 1) % 3);
      break;
    case BS_AUTORADIOBUTTON:
      for (HWND b : RadioGroup(hwnd)) SetCheck(b, b == hwnd ? BST_CHECKED : BST_UNCHECKED);
      break;
    default:
      break;
  }
  ctl::NotifyParent(hwnd, BN_CLICKED);
}

// The square of a check box or the circle of a radio button, left of the text.
void PaintMark(HDC dc, const RECT& box, DWORD type, WPARAM check, bool enabled, bool pushed) {
  COLORREF ink = enabled ? GetSysColor(COLOR_WINDOWTEXT) : GetSysColor(COLOR_GRAYTEXT);
  HPEN pen = CreatePen(PS_SOLID, 1, ink);
  HBRUSH face = CreateSolidBrush(pushed ? GetSysColor(COLOR_3DLIGHT) : GetSysColor(COLOR_WINDOW));
  HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, face);
  int size = box.right - box.left;
  if (IsRadio(type)) {
    Ellipse(dc, box.left, box.top, box.right, box.bottom);
    if (check == BST_CHECKED) {
      HBRUSH dot = CreateSolidBrush(ink);
      SelectObject(dc, dot);
      int in = size * 3 / 10;
      Ellipse(dc, box.left + in, box.top + in, box.right - in, box.bottom - in);
      SelectObject(dc, face);
      DeleteObject(dot);
    }
  } else {
    Rectangle(dc, box.left, box.top, box.right, box.bottom);
    if (check == BST_INDETERMINATE) {
      RECT in = box;
      InflateRect(&in, -size / 4, -size / 4);
      ctl::Fill(dc, in, GetSysColor(COLOR_GRAYTEXT));
    } else if (check == BST_CHECKED) {
      HPEN tick = CreatePen(PS_SOLID, std::max(1, size / 7), ink);
      SelectObject(dc, tick);
      POINT pts[3] = {{box.left + size * 2 / 9, box.top + size / 2},
                      {box.left + size * 4 / 10, box.top + size * 7 / 10},
                      {box.left + size * 7 / 9, box.top + size * 3 / 10}};
      Polyline(dc, pts, 3);
      SelectObject(dc, pen);
      DeleteObject(tick);
    }
  }
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(pen);
  DeleteObject(face);
}

void Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT r;
  GetClientRect(hwnd, &r);
  DWORD style = StyleOf(hwnd), type = style & BS_TYPEMASK;
  bool enabled = IsWindowEnabled(hwnd), pushed = Pushed(hwnd), focused = GetFocus() == hwnd;
  HGDIOBJ oldFont = ctl::SelectControlFont(hwnd, dc);
  std::u16string text = ctl::TextOf(hwnd);
  COLORREF ink = enabled ? GetSysColor(COLOR_WINDOWTEXT) : GetSysColor(COLOR_GRAYTEXT);
  UINT multi = (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
  if (IsPush(type)) {
    HBRUSH back = ctl::ColoursFromParent(hwnd, dc, WM_CTLCOLORBTN, COLOR_BTNFACE);
    if (pushed) {
      ctl::Fill(dc, r, GetSysColor(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    } else {
      FillRect(dc, &r, back);
    }
    int frame = ctl::Px(1) * ((type == BS_DEFPUSHBUTTON || focused) ? 2 : 1);
    ctl::Frame(dc, r, frame, ink);
    RECT tr = r;
    InflateRect(&tr, -ctl::Px(3), -ctl::Px(2));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_CENTER | DT_VCENTER | multi);
  } else if (type == BS_GROUPBOX) {
    // Only the frame and the caption: the controls inside show through.
    HBRUSH back = ctl::ColoursFromParent(hwnd, dc, WM_CTLCOLORSTATIC);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    RECT frame = r;
    frame.top += tm.tmHeight / 2;
    ctl::Frame(dc, frame, ctl::Px(1), GetSysColor(COLOR_BTNSHADOW));
    if (!text.empty()) {
      RECT tr{r.left + ctl::Px(6), r.top, r.right - ctl::Px(6), r.top + tm.tmHeight};
      RECT calc = tr;
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &calc, DT_SINGLELINE | DT_CALCRECT);
      RECT gap{tr.left - ctl::Px(2), tr.top, std::min(tr.right, calc.right + ctl::Px(2)), tr.bottom};
      FillRect(dc, &gap, back);
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_SINGLELINE | DT_LEFT);
    }
  } else {
    FillRect(dc, &r, ctl::ColoursFromParent(hwnd, dc, WM_CTLCOLORSTATIC));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    int size = std::min<int>(r.bottom - r.top, std::max<int>(ctl::Px(12), tm.tmHeight * 3 / 4));
    bool left = (style & BS_LEFTTEXT) != 0;
    int y = (r.top + r.bottom - size) / 2;
    RECT box = left ? RECT{r.right - size, y, r.right, y + size} : RECT{r.left, y, r.left + size, y + size};
    PaintMark(dc, box, type, CheckOf(hwnd), enabled, pushed);
    RECT tr = r;
    if (left) tr.right = box.left - ctl::Px(5);
    else tr.left = box.right + ctl::Px(5);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_LEFT | DT_VCENTER | multi);
    if (focused) {
      RECT calc = tr;
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &calc, DT_LEFT | DT_CALCRECT | multi);
      int h = calc.bottom - calc.top;
      RECT under{tr.left, (r.top + r.bottom + h) / 2, std::min(tr.right, calc.right), (r.top + r.bottom + h) / 2 + ctl::Px(1)};
      if (under.bottom <= r.bottom) ctl::Fill(dc, under, GetSysColor(COLOR_HIGHLIGHT));
    }
  }
  SelectObject(dc, oldFont);
  EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_GETDLGCODE: {
      DWORD type = TypeOf(hwnd);
      if (type == BS_GROUPBOX) return DLGC_STATIC;
      if (IsRadio(type)) return DLGC_BUTTON | DLGC_RADIOBUTTON;
      if (!IsPush(type)) return DLGC_BUTTON;
      return DLGC_BUTTON | (type == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
    case BM_CLICK:
      if (IsWindowEnabled(hwnd)) Click(hwnd);
      return 0;
    case BM_GETCHECK:
      return static_cast<LRESULT>(CheckOf(hwnd));
    case BM_SETCHECK: {
      DWORD type = TypeOf(hwnd);
      if (IsCheck(type) || IsRadio(type))
        SetCheck(hwnd, (type == BS_3STATE || type == BS_AUTO3STATE) ? wParam % 3 : (wParam ? BST_CHECKED : BST_UNCHECKED));
      return 0;
    }
    case BM_GETSTATE:
      return static_cast<LRESULT>(CheckOf(hwnd) | (Pushed(hwnd) ? BST_PUSHED : 0) | (GetFocus() == hwnd ? BST_FOCUS : 0));
    case BM_SETSTATE:
      SetPushed(hwnd, wParam != 0);
      return 0;
    case BM_SETSTYLE: {
      DWORD s = StyleOf(hwnd);
      SetWindowLongW(hwnd, GWL_STYLE, (s & ~BS_TYPEMASK) | (static_cast<DWORD>(wParam) & BS_TYPEMASK));
      if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_LBUTTONDOWN:
      if (TypeOf(hwnd) == BS_GROUPBOX) return 0;
      SetPushed(hwnd, true);
      SetCapture(hwnd);
      SetFocus(hwnd);
      return 0;
    case WM_MOUSEMOVE:
      if (GetCapture() == hwnd) {
        RECT r;
        GetClientRect(hwnd, &r);
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        SetPushed(hwnd, PtInRect(&r, p) != 0);
      }
      return 0;
    case WM_LBUTTONUP: {
      bool was = Pushed(hwnd) && GetCapture() == hwnd;
      SetPushed(hwnd, false);
      if (GetCapture() == hwnd) ReleaseCapture();
      RECT r;
      GetClientRect(hwnd, &r);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (was && PtInRect(&r, p)) Click(hwnd);
      return 0;
    }
    case WM_CAPTURECHANGED:
    case WM_CANCELMODE:
      SetPushed(hwnd, false);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE && TypeOf(hwnd) != BS_GROUPBOX) SetPushed(hwnd, true);
      return 0;
    case WM_KEYUP:
      if (wParam == VK_SPACE) SetPushed(hwnd, false);
      return 0;
    case WM_CHAR:  // the space typed clicks (key-down shows the button pressed)
      if (wParam == u' ' && TypeOf(hwnd) != BS_GROUPBOX) {
        SetPushed(hwnd, false);
        Click(hwnd);
      }
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      if (msg == WM_KILLFOCUS) SetPushed(hwnd, false);
      if (StyleOf(hwnd) & BS_NOTIFY) ctl::NotifyParent(hwnd, msg == WM_SETFOCUS ? BN_SETFOCUS : BN_KILLFOCUS);
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
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
