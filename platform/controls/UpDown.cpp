// The up-down control: a position within a range stepped by its arrows (or
// the buddy's up and down keys), written into the buddy edit as a number.
#include <algorithm>
#include <climits>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"

namespace plat {
namespace {

using ctl::Px;

struct UpDownState {
  int low = 0;
  int high = 100;
  int pos = 0;
  HWND buddy = nullptr;
  int pressed = 0;  // -1 the decreasing arrow, 1 the increasing one
};

ControlStates<UpDownState>& All() {
  static auto* states = new ControlStates<UpDownState>;
  return *states;
}

// Buddies whose keys an up-down control takes: buddy -> (control, its old procedure).
struct Buddy {
  HWND upDown;
  WNDPROC old;
};
std::mutex g_buddyLock;
std::unordered_map<DWORD, Buddy>& Buddies() {
  static auto* map = new std::unordered_map<DWORD, Buddy>;
  return *map;
}

DWORD Style(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }

// The buddy's text as a number; false when it is none (or out of int).
bool ReadBuddy(const UpDownState& s, int* value) {
  if (!s.buddy) return false;
  std::u16string text = ctl::TextOf(s.buddy);
  long long v = 0;
  bool neg = false, any = false;
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) neg = text[i++] == u'-';
  for (; i < text.size(); ++i) {
    if (text[i] == u',' || text[i] == u'.') continue;  // thousands separators
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + (text[i] - u'0');
    if (v > INT_MAX) return false;
    any = true;
  }
  if (!any) return false;
  *value = static_cast<int>(neg ? -v : v);
  return true;
}

void WriteBuddy(HWND hwnd, const UpDownState& s) {
  if (!s.buddy || !(Style(hwnd) & UDS_SETBUDDYINT)) return;
  const std::string digits = std::to_string(s.pos);
  const std::u16string text(digits.begin(), digits.end());
  SetWindowTextW(s.buddy, text.c_str());
}

int Clamp(const UpDownState& s, long long v) {
  return static_cast<int>(std::clamp<long long>(v, std::min(s.low, s.high), std::max(s.low, s.high)));
}

// One step by the user: told to the parent first (UDN_DELTAPOS may refuse),
// then the position moves, the buddy shows it and the parent gets the scroll
// message.
void Step(HWND hwnd, UpDownState& s, int delta) {
  int current = s.pos;
  if (ReadBuddy(s, &current)) s.pos = Clamp(s, current);
  if (s.low > s.high) delta = -delta;  // a reversed range counts down
  NMUPDOWN nm{{hwnd, static_cast<UINT_PTR>(GetDlgCtrlID(hwnd)), UDN_DELTAPOS}, s.pos, delta};
  HWND parent = GetParent(hwnd);
  if (parent && SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm))) return;
  long long next = static_cast<long long>(s.pos) + nm.iDelta;
  const int lo = std::min(s.low, s.high), hi = std::max(s.low, s.high);
  if (Style(hwnd) & UDS_WRAP) {
    if (next > hi) next = lo;
    if (next < lo) next = hi;
  }
  s.pos = Clamp(s, next);
  WriteBuddy(hwnd, s);
  if (parent)
    SendMessageW(parent, (Style(hwnd) & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL,
                 MAKEWPARAM(SB_THUMBPOSITION, static_cast<WORD>(s.pos)), reinterpret_cast<LPARAM>(hwnd));
}

LRESULT BuddyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Buddy b{};
  {
    std::lock_guard<std::mutex> g(g_buddyLock);
    auto it = Buddies().find(HandleToValue(hwnd));
    if (it == Buddies().end()) return DefWindowProcW(hwnd, msg, wParam, lParam);
    b = it->second;
    if (msg == WM_NCDESTROY) Buddies().erase(it);
  }
  if (msg == WM_KEYDOWN && (wParam == VK_UP || wParam == VK_DOWN) && IsWindow(b.upDown)) {
    if (auto s = All().Get(b.upDown)) Step(b.upDown, *s, wParam == VK_UP ? 1 : -1);
    return 0;
  }
  if (msg == WM_GETDLGCODE) return CallWindowProcW(b.old, hwnd, msg, wParam, lParam) | DLGC_WANTARROWS;
  return CallWindowProcW(b.old, hwnd, msg, wParam, lParam);
}

void Release(HWND buddy) {
  std::lock_guard<std::mutex> g(g_buddyLock);
  auto it = Buddies().find(HandleToValue(buddy));
  if (it == Buddies().end()) return;
  if (IsWindow(buddy)) SetWindowLongW(buddy, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(it->second.old));
  Buddies().erase(it);
}

// Takes a buddy: its keys (UDS_ARROWKEYS), its place (aligned beside it) and its text.
void Attach(HWND hwnd, UpDownState& s, HWND buddy) {
  if (s.buddy) Release(s.buddy);
  s.buddy = buddy && IsWindow(buddy) ? buddy : nullptr;
  if (!s.buddy) return;
  const DWORD style = Style(hwnd);
  if (style & UDS_ARROWKEYS) {
    std::lock_guard<std::mutex> g(g_buddyLock);
    auto old = reinterpret_cast<WNDPROC>(GetWindowLongW(s.buddy, GWL_WNDPROC));
    Buddies()[HandleToValue(s.buddy)] = Buddy{hwnd, old};
    SetWindowLongW(s.buddy, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&BuddyProc));
  }
  if (style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT)) {
    RECT b{};
    GetWindowRect(s.buddy, &b);
    POINT tl{b.left, b.top};
    ScreenToClient(GetParent(s.buddy), &tl);
    RECT mine{};
    GetClientRect(hwnd, &mine);
    const int width = std::min<int>(mine.right > 0 ? mine.right : Px((style & UDS_HORZ) ? 32 : 16), b.right - b.left);
    const int bw = (b.right - b.left) - width;
    const int bh = b.bottom - b.top;
    if (style & UDS_ALIGNRIGHT) {
      MoveWindow(s.buddy, tl.x, tl.y, bw, bh, TRUE);
      MoveWindow(hwnd, tl.x + bw, tl.y, width, bh, TRUE);
    } else {
      MoveWindow(hwnd, tl.x, tl.y, width, bh, TRUE);
      MoveWindow(s.buddy, tl.x + width, tl.y, bw, bh, TRUE);
    }
  }
  int value = 0;
  if (ReadBuddy(s, &value)) s.pos = Clamp(s, value);
}

// The two arrows' rectangles: [0] decreases, [1] increases.
void Arrows(HWND hwnd, RECT out[2]) {
  RECT rc{};
  GetClientRect(hwnd, &rc);
  if (Style(hwnd) & UDS_HORZ) {
    out[0] = RECT{0, 0, rc.right / 2, rc.bottom};
    out[1] = RECT{rc.right / 2, 0, rc.right, rc.bottom};
  } else {
    out[1] = RECT{0, 0, rc.right, rc.bottom / 2};
    out[0] = RECT{0, rc.bottom / 2, rc.right, rc.bottom};
  }
}

void Paint(HWND hwnd, const UpDownState& s) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT arrows[2];
  Arrows(hwnd, arrows);
  const bool horz = Style(hwnd) & UDS_HORZ;
  const bool enabled = IsWindowEnabled(hwnd);
  for (int k = 0; k < 2; ++k) {
    const RECT& r = arrows[k];
    const bool down = s.pressed == (k == 0 ? -1 : 1);
    ctl::Fill(dc, r, down ? GetSysColor(COLOR_HIGHLIGHT) : GetSysColor(COLOR_BTNFACE));
    ctl::Frame(dc, r, std::max(1, Px(1)), GetSysColor(COLOR_WINDOWFRAME));
    // A triangle pointing the way the arrow moves.
    const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    const int a = std::max(2, std::min(r.right - r.left, r.bottom - r.top) / 4);
    POINT tri[3];
    if (horz) {
      const int d = k == 0 ? -1 : 1;
      tri[0] = {cx + d * a / 2 + (d > 0 ? 0 : 0), cy};
      tri[1] = {cx - d * a / 2, cy - a};
      tri[2] = {cx - d * a / 2, cy + a};
    } else {
      const int d = k == 0 ? 1 : -1;
      tri[0] = {cx, cy + d * a / 2};
      tri[1] = {cx - a, cy - d * a / 2};
      tri[2] = {cx + a, cy - d * a / 2};
    }
    ctl::Triangle(dc, tri, !enabled ? GetSysColor(COLOR_GRAYTEXT) : down ? RGB(255, 255, 255) : RGB(0, 0, 0));
  }
  EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT UpDownWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto state = All().ForMessage(hwnd, msg, [](UpDownState& s) {
    if (s.buddy) Release(s.buddy);
  });
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  UpDownState& s = *state;
  switch (msg) {
    case WM_CREATE:
      if (Style(hwnd) & UDS_AUTOBUDDY) Attach(hwnd, s, GetWindow(hwnd, GW_HWNDPREV));
      WriteBuddy(hwnd, s);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(hwnd, s);
      return 0;
    case WM_ENABLE:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN: {
      RECT arrows[2];
      Arrows(hwnd, arrows);
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      s.pressed = PtInRect(&arrows[1], pt) ? 1 : PtInRect(&arrows[0], pt) ? -1 : 0;
      if (s.pressed) {
        InvalidateRect(hwnd, nullptr, FALSE);
        Step(hwnd, s, s.pressed);
      }
      return 0;
    }
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (s.pressed) InvalidateRect(hwnd, nullptr, FALSE);
      s.pressed = 0;
      return 0;
    case UDM_SETRANGE:
      s.high = static_cast<short>(LOWORD(static_cast<std::uintptr_t>(lParam)));
      s.low = static_cast<short>(HIWORD(static_cast<std::uintptr_t>(lParam)));
      s.pos = Clamp(s, s.pos);
      return 0;
    case UDM_GETRANGE:
      return MAKELRESULT(static_cast<WORD>(s.high), static_cast<WORD>(s.low));
    case UDM_SETRANGE32:
      s.low = static_cast<int>(wParam);
      s.high = static_cast<int>(lParam);
      s.pos = Clamp(s, s.pos);
      return 0;
    case UDM_GETRANGE32:
      if (auto* lo = reinterpret_cast<int*>(wParam)) *lo = s.low;
      if (auto* hi = reinterpret_cast<int*>(lParam)) *hi = s.high;
      return 0;
    case UDM_SETPOS:
    case UDM_SETPOS32: {
      const int old = s.pos;
      s.pos = Clamp(s, msg == UDM_SETPOS ? static_cast<short>(LOWORD(static_cast<std::uintptr_t>(lParam)))
                                         : static_cast<int>(lParam));
      WriteBuddy(hwnd, s);
      return old;
    }
    case UDM_GETPOS:
    case UDM_GETPOS32: {
      int value = s.pos;
      const bool error = s.buddy && (Style(hwnd) & UDS_SETBUDDYINT) && !ReadBuddy(s, &value);
      if (!error) s.pos = Clamp(s, value);
      if (msg == UDM_GETPOS32) {
        if (auto* e = reinterpret_cast<BOOL*>(lParam)) *e = error ? TRUE : FALSE;
        return s.pos;
      }
      return MAKELRESULT(static_cast<WORD>(s.pos), error ? 1 : 0);
    }
    case UDM_SETBUDDY: {
      HWND old = s.buddy;
      Attach(hwnd, s, reinterpret_cast<HWND>(wParam));
      return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY:
      return reinterpret_cast<LRESULT>(s.buddy);
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace plat
