// Pop-ups of the controls: the modal loop that a pop-up menu or a combo box's
// drop list runs while it is open, and the window that shows it.
//
// The loop holds the stylus capture on the pop-up's window and takes the
// thread's keys for itself, so whichever window has the focus, arrows, return
// and escape reach the pop-up. It ends when the pop-up says it is done, and
// also, cleanly, when the owner or the pop-up's window is destroyed, when
// another window takes the stylus, or on WM_QUIT (which is posted again for
// the outer loop).
#pragma once

#include "platform/windows/Windows.h"

namespace plat::ctl {

class PopupInput {
 public:
  virtual ~PopupInput() = default;
  // A stylus message at a point of the screen.
  virtual void Stylus(UINT message, POINT screen) = 0;
  virtual void KeyDown(UINT vk) = 0;
  virtual void Char(WCHAR) {}
  // The wheel over the pop-up's window: WM_VSCROLL's code (SB_LINEUP, ...).
  virtual void Scroll(UINT) {}
  virtual bool Done() const = 0;
};

// True when the pop-up ended by itself (Done), false when it was ended from
// outside.
bool RunPopupLoop(HWND capture, HWND owner, PopupInput& input);

// A top-level window of the class over the screen rectangle, above every
// other window, never activated, owned by the top-level window of owner;
// state goes to GWL_USERDATA. Registers the class on first use with proc.
HWND CreatePopupWindow(const WCHAR* className, WNDPROC proc, HWND owner, const RECT& screenRect, void* state);

// What every pop-up window procedure does first: a pop-up that loses the
// stylus or is destroyed wakes the loop. True when the message was handled.
bool PopupWindowCommon(HWND hwnd, UINT msg);

// The pop-up windows' look.
COLORREF PopupFrameColour();
// Text in r with the prefix rule of menus: the part after a tab is
// right-aligned (accelerator texts).
void DrawItemText(HDC dc, const std::u16string& text, RECT r, UINT align = DT_LEFT);
// Width of a menu or list text as DrawItemText draws it.
int ItemTextWidth(HDC dc, const std::u16string& text);
// A small filled triangle pointing right (cascade) or down (drop button) or up.
enum class Pointing { Right, Down, Up };
void DrawTriangle(HDC dc, POINT centre, int size, Pointing way, COLORREF colour);
// A tick mark in the square r.
void DrawTick(HDC dc, RECT r, COLORREF colour);

}  // namespace plat::ctl
