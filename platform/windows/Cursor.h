// The cursor. The device shows no arrow; the wait cursor is the spinning ring
// the display draws in the middle of the screen while any program of the device
// has it set (SetCursor(LoadCursorW(nullptr, IDC_WAIT))), until that program
// sets another cursor (or null) or ends.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/resources/Resources.h"

namespace plat {

inline const WCHAR* const IDC_ARROW = MAKEINTRESOURCEW(32512);
inline const WCHAR* const IDC_WAIT = MAKEINTRESOURCEW(32514);

// The system's cursors (instance null): IDC_ARROW and IDC_WAIT, owned by the
// system. Null with ERROR_INVALID_PARAMETER for anything else.
HCURSOR LoadCursorW(HINSTANCE instance, const WCHAR* name);
// The cursor of this program; the previous one is returned.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

// True while a live program of the device shows the wait cursor.
bool WaitCursorShownOnDevice();
// Draws the wait ring in the middle of an RGB565 screen (rows top-down).
void DrawWaitCursor(std::uint16_t* pixels, int width, int height, std::size_t stride, int dpi);

}  // namespace plat
