// Drawing helpers shared by the standard controls, and the table of each
// control's state by window handle that standard and common controls keep.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/controls/StandardControls.h"

namespace plat {

// The state of each live control of one class, by window handle. Only the
// window's own thread changes a state (its procedure runs there); the lock
// guards the map itself.
template <class State>
class ControlStates {
 public:
  void Create(HWND hwnd) {
    std::lock_guard<std::mutex> g(lock_);
    states_[HandleToValue(hwnd)] = std::make_shared<State>();
  }
  std::shared_ptr<State> Get(HWND hwnd) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = states_.find(HandleToValue(hwnd));
    return it == states_.end() ? nullptr : it->second;
  }
  void Remove(HWND hwnd) {
    std::lock_guard<std::mutex> g(lock_);
    states_.erase(HandleToValue(hwnd));
  }
  // The state a window message works on: made on WM_NCCREATE, dropped on
  // WM_NCDESTROY once `release` has let go of what it holds. Null for those
  // two and for a window without state: the message goes to DefWindowProcW.
  template <class Release>
  std::shared_ptr<State> ForMessage(HWND hwnd, UINT msg, Release release) {
    if (msg == WM_NCCREATE) {
      Create(hwnd);
      return nullptr;
    }
    if (msg == WM_NCDESTROY) {
      if (std::shared_ptr<State> state = Get(hwnd)) release(*state);
      Remove(hwnd);
      return nullptr;
    }
    return Get(hwnd);
  }
  std::shared_ptr<State> ForMessage(HWND hwnd, UINT msg) {
    return ForMessage(hwnd, msg, [](State&) {});
  }

 private:
  std::mutex lock_;
  std::unordered_map<DWORD, std::shared_ptr<State>> states_;
};

}  // namespace plat

namespace plat::ctl {

// Pixels for a length given at 96 DPI, at the screen's DPI (at least 1).
inline int Px(int at96) { return std::max(1, at96 * ScreenDpi() / 96); }

// The control's font selected into dc (DEFAULT_GUI_FONT when it has none).
inline HGDIOBJ SelectControlFont(HWND hwnd, HDC dc) {
  auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  return SelectObject(dc, font);
}

// Sets the default colours on dc, asks the parent with ctlColorMsg and
// returns the brush of the background (the parent's or the default one).
inline HBRUSH ColoursFromParent(HWND hwnd, HDC dc, UINT ctlColorMsg, int backIndex = COLOR_WINDOW) {
  SetTextColor(dc, IsWindowEnabled(hwnd) ? GetSysColor(COLOR_WINDOWTEXT) : GetSysColor(COLOR_GRAYTEXT));
  SetBkColor(dc, GetSysColor(backIndex));
  SetBkMode(dc, TRANSPARENT);
  HBRUSH brush = nullptr;
  if (HWND parent = GetParent(hwnd))
    brush = reinterpret_cast<HBRUSH>(SendMessageW(parent, ctlColorMsg, reinterpret_cast<WPARAM>(dc),
                                                  reinterpret_cast<LPARAM>(hwnd)));
  if (!IsWindowEnabled(hwnd)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  return brush ? brush : GetSysColorBrush(backIndex);
}

// A frame of the given width inside r.
inline void Frame(HDC dc, RECT r, int width, COLORREF colour) {
  HBRUSH b = CreateSolidBrush(colour);
  for (int i = 0; i < width && r.right > r.left && r.bottom > r.top; ++i) {
    FrameRect(dc, &r, b);
    InflateRect(&r, -1, -1);
  }
  DeleteObject(b);
}

inline void Fill(HDC dc, const RECT& r, COLORREF colour) {
  HBRUSH b = CreateSolidBrush(colour);
  FillRect(dc, &r, b);
  DeleteObject(b);
}

// A filled triangle without outline.
inline void Triangle(HDC dc, const POINT (&points)[3], COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  HGDIOBJ oldBrush = SelectObject(dc, brush);
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  Polygon(dc, points, 3);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(brush);
}

// The window's text.
inline std::u16string TextOf(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::u16string t(static_cast<std::size_t>(std::max(0, n)) + 1, u'\0');
  int got = GetWindowTextW(hwnd, t.data(), static_cast<int>(t.size()));
  t.resize(static_cast<std::size_t>(std::max(0, got)));
  return t;
}

// WM_COMMAND with the control's id and code to its parent.
inline void NotifyParent(HWND hwnd, WORD code) {
  if (HWND parent = GetParent(hwnd))
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hwnd)), code),
                 reinterpret_cast<LPARAM>(hwnd));
}

}  // namespace plat::ctl
