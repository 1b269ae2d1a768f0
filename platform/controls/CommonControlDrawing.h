// What the common controls share besides the standard controls' drawing
// helpers: their state kept per window handle, the list font, the check box.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/controls/ControlDrawing.h"

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

// WM_NOTIFY to the control's parent with the header filled in; its answer.
LRESULT NotifyParent(HWND hwnd, NMHDR* hdr, UINT code);

// The first row to show after a WM_VSCROLL code (the thumb read back from
// the window's vertical bar), for rows of one height; not yet clamped.
int ScrolledTop(HWND hwnd, WORD code, int top, int perPage, int count);

// Row scrolling by the stylus: a press, then moves beyond a few pixels make a
// drag that carries the rows with the stylus; a release without a drag is a tap.
struct RowDrag {
  bool pressed = false;
  bool dragging = false;
  POINT at{};
  int top = 0;
  void Press(POINT p, int currentTop) {
    pressed = true;
    dragging = false;
    at = p;
    top = currentTop;
  }
  // The top row the stylus asks for; it counts only while dragging.
  int Move(int y, int rowHeight, int threshold) {
    if (pressed && (y - at.y > threshold || at.y - y > threshold)) dragging = true;
    return top - (y - at.y) / std::max(1, rowHeight);
  }
  // True when the press ends as a tap.
  bool Release() {
    const bool tap = pressed && !dragging;
    pressed = false;
    return tap;
  }
};

// DejaVu Sans at the device's control size for the screen's DPI (made once).
HFONT ControlFont();
int ControlFontHeight();  // its line height in pixels

// A check box of size × size pixels at (x, y), ticked or not.
void DrawCheckBox(HDC dc, int x, int y, int size, bool checked);

}  // namespace plat
