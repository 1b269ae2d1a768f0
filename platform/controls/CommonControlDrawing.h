// What the common controls share besides the standard controls' drawing
// helpers and state tables: the list font, the check box.
#pragma once

#include <algorithm>

#include "platform/controls/ControlDrawing.h"

namespace plat {

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
