// The title header of the dialogs and screens: its height, the separator
// line under it and its painting.
#pragma once

#include <string>

#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

// The height of every title header: 23 px at 96 dpi, its bottom pixel row(s)
// the separator line.
int GetDialogHeaderHeight();
// Fills { 0, y, width, y + 1 px at 96 dpi } black.
void DrawSeparatorLine(plat::HDC dc, int y, int width);
// Paints a title header of headerHeight at y (when any of it is visible):
// window colour, the title in the highlight colour (or colour), single line,
// vertically centred from (dpiX + 6) * 8 / 96, the separator as its bottom
// row(s). font null: the bold dialog font. Drawn off-screen, then copied.
void DrawDialogTitle(plat::HDC dc, const std::u16string& title, int headerHeight, int y, plat::HFONT font,
                     plat::COLORREF colour = plat::CLR_INVALID);
// Invalidates the part of the header that a scroll to newPos uncovers.
void InvalidateHeaderOnScroll(plat::HWND dialog, int oldPos, int newPos);
// Moves every child window dy pixels down.
void MoveChildrenBy(plat::HWND window, int dy);
