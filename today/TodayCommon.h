// What the Today item's parts share: the library's module, its texts, the
// screen scaling of 96-dpi lengths and the item's fixed names.
#pragma once

#include <string>

#include "platform/base/Module.h"
#include "platform/gdi/Gdi.h"

// The item window's class and the key of the item under the Today items.
inline constexpr const char16_t* kTodayItemClass = u"131264C3-2954-4423-B3B8-E4808E941C52";
// The options program's hidden owner window class.
inline constexpr const char16_t* kTodayOptionsClass = u"052DF53E-3074-4d3d-85BF-94F1D21E010C";
// The main program's hidden window class.
inline constexpr const char16_t* kMainProgramClass = u"A377667C-B302-4767-B9C5-EC5210805251";

// The library's module: the loaded "OrvNewsToday" when it is one, else the
// program it is linked into (tests, benchmarks).
plat::HINSTANCE GetTodayModule();

// String resource id of this library through the localizer (a 2048-character
// buffer); the resource text when the localizer has no translation.
std::u16string LoadLocalizedString(plat::UINT id);

// "Orv News Today Plug-In", "Orv News Today Options.exe", "\"Orv News\"".
std::u16string GetTodayItemTitle();
std::u16string GetOptionsProgramFile();
std::u16string GetTodayItemKeyName();

// The screen's DPI, read once.
int TodayDpiX();
int TodayDpiY();
// Tests paint at other DPIs: 0 reads the screen again.
void SetTodayDpiForTesting(int dpiX, int dpiY);
// A 96-dpi length on the screen: (n x dpi + 48) / 96.
inline int Dx(int n) { return (n * TodayDpiX() + 48) / 96; }
inline int Dy(int n) { return (n * TodayDpiY() + 48) / 96; }
