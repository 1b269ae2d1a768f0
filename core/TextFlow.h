// Plain text put into a column of single-line rectangles, broken between words.
#pragma once

#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"

// The pieces of text for each line rectangle, in order, as measured with the
// DC's font: every line but the last takes what fits up to the last space
// (a word longer than the line is cut), trimmed at both ends; what is left
// goes unbroken into the next line. Empty pieces mark lines left empty.
std::vector<std::u16string> FlowTextIntoLines(plat::HDC dc, const std::u16string& text,
                                              const std::vector<plat::RECT>& lines);

// Draws the pieces into their rectangles with DrawTextW; format 0 means
// DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX.
void DrawTextInLineRects(plat::HDC dc, const std::u16string& text, const std::vector<plat::RECT>& lines,
                         plat::UINT format);

// The line rectangles of an area: lineHeight high, each the next starting
// lineHeight + (dpi + 48) / 96 below the last, while its bottom lies above
// the area's bottom.
std::vector<plat::RECT> MakeLineRects(const plat::RECT& area, int lineHeight, int dpi);

// Cuts the area into lines (at the screen's DPI) and draws the text centred.
void DrawTextLines(plat::HDC dc, const std::u16string& text, const plat::RECT& area, int lineHeight);
