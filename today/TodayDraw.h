// Drawing helpers of the Today views: fitted and wrapped text, the theme
// colours, and the skins (24-bit pictures of two columns of cells, only the
// right one drawn: pure red is drawn in theme colour 6, pure white in a tone
// of the background, every other colour leaves the background visible).
#pragma once

#include <string>
#include <vector>

#include "core/STScreenBuffer.h"
#include "platform/gdi/Gdi.h"

// Theme colour index of the Today skins and its default.
constexpr int kSkinThemeIndex = 6;
constexpr plat::COLORREF kSkinThemeDefault = 0xCE8231;

// HKEY_LOCAL_MACHINE "SOFTWARE\Microsoft\Color": the value named by the index,
// else entry index of "SHColor" (up to 45 colours), else of "DefSHColor",
// else def.
plat::COLORREF GetThemeColor(int index, plat::COLORREF def);

// Draws text into rect when it fits, else the longest shortened form that
// fits its width: mode 1 keeps the head and appends "...", -1 keeps the tail
// behind "...", 0 keeps both ends around "...". The drawn width.
int DrawTextFitted(plat::HDC dc, const std::u16string& text, const plat::RECT& rect, int mode,
                   plat::UINT format = plat::DT_VCENTER | plat::DT_SINGLELINE | plat::DT_NOPREFIX);
// The shortened form DrawTextFitted would draw, and its width.
std::u16string FitText(plat::HDC dc, const std::u16string& text, int width, int mode, int* drawnWidth = nullptr);
// Fills each line but the last with as many characters as fit, broken back
// to the last blank inside the text, trimmed; the last line takes the rest
// (shortened with "..." when it does not fit). Unlike the core's text flow
// (core/TextFlow.h), which leaves the last line uncut, the last line here is
// fitted as DrawTextFitted fits it.
void DrawTextLinesFitted(plat::HDC dc, const std::u16string& text, const std::vector<plat::RECT>& lines,
                         plat::UINT format = plat::DT_VCENTER | plat::DT_SINGLELINE | plat::DT_NOPREFIX);
// The pieces DrawTextLinesFitted draws, one per line.
std::vector<std::u16string> BreakTextLines(plat::HDC dc, const std::u16string& text, const std::vector<int>& widths);

// ---- Skins (24-bit screen buffers, bytes blue, green, red) ----------------

struct SkinTone {
  std::uint8_t red = 0, green = 0, blue = 0;
  plat::COLORREF Colour() const { return plat::RGB(red, green, blue); }
};

// Each channel (3 x sum / count + 255) / 4: the average moved a quarter of
// the way towards white; black for a count of 0.
SkinTone MixAverageTone(std::uint64_t redSum, std::uint64_t greenSum, std::uint64_t blueSum, std::uint64_t count);
// Over every pixel of the rectangle (clipped to the buffer).
SkinTone GetAverageTone(const CSTScreenBuffer& buffer, const plat::RECT& rect);
// Over the target pixels whose skin pixel at the same place of the cell is
// the key colour.
SkinTone GetKeyedTone(const CSTScreenBuffer& target, const plat::RECT& rect, const CSTScreenBuffer& skin,
                      plat::POINT cell, plat::COLORREF key);
// Sets the target pixels whose skin pixel is the key colour to colour.
void ReplaceKeyColour(CSTScreenBuffer& target, const plat::RECT& rect, const CSTScreenBuffer& skin, plat::POINT cell,
                      plat::COLORREF key, plat::COLORREF colour);
// Red to theme colour 6, then white to the tone (none: the keyed tone of the
// target under the skin's white).
void DrawSkinCell(CSTScreenBuffer& target, const plat::RECT& rect, const CSTScreenBuffer& skin, plat::POINT cell,
                  const SkinTone* tone);
// Loads a bitmap resource of the library as a 24-bit buffer.
bool LoadSkin(CSTScreenBuffer& skin, int resourceId);
