// What the common controls share besides the standard controls' drawing
// helpers: their state kept per window handle, the list font, the check box.
#pragma once

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

 private:
  std::mutex lock_;
  std::unordered_map<DWORD, std::shared_ptr<State>> states_;
};

// DejaVu Sans at the device's control size for the screen's DPI (made once).
HFONT ControlFont();
int ControlFontHeight();  // its line height in pixels

// A check box of size × size pixels at (x, y), ticked or not.
void DrawCheckBox(HDC dc, int x, int y, int size, bool checked);

}  // namespace plat
