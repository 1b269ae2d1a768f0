// Fonts of the screens and dialogs and the heights of controls that follow
// their font.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

// A font of the face with all other fields 0. With large fonts the weight
// becomes normal and a height grows by 1 px at 96 dpi (away from zero, so a
// negative character height grows as a positive cell height does).
plat::HFONT CreateFontSimple(const char16_t* face, int height, int weight, bool italic, plat::BYTE quality);
// A bold copy of font (the stock system font when null); null when it cannot be read.
plat::HFONT CreateBoldFont(plat::HFONT font);
// The bold system font of the process (made once, deleted at exit).
plat::HFONT GetBoldSystemFont();
// WM_SETFONT; with deletePrevious the window's previous font is deleted first
// when it differs from font.
void SetWindowFont(plat::HWND window, plat::HFONT font, bool deletePrevious);
// Keeps a combo box's selection field between the scaled minimum (when > 0)
// and the scaled maximum (when >= 1).
void ClampComboBoxHeight(plat::HWND comboBox, int minimum, int maximum);
// Shrinks the window to the scaled maximum height when it is taller.
void LimitControlHeight(plat::HWND window, int maximum);
// The text height of the window's font; 0 when it has none or it cannot be measured.
int GetWindowFontHeight(plat::HWND window);
