// The small toolkit under the layout screens and dialogs: the screen's DPI
// and size, the rule that turns 96-dpi design values into device pixels, the
// input panel, the menu bar, image lists, fonts, the dialog title header,
// painting a colour through a mask into a 16-bit bitmap and thin window
// helpers. Everything but the DPI cache runs on the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "core/FrameworkServices.h"  // MulDivRound
#include "platform/controls/CommCtrl.h"
#include "platform/gdi/Gdi.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"

// Reads both DPI values of the screen unless they are cached already. The
// values are kept until the process is given another device (or a test asks
// for a fresh read with ResetUiToolkitForTesting).
void InitScreenDpi();
int GetScreenDpiX();
int GetScreenDpiY();
// GetDeviceCaps of the screen DC; -1 when no DC can be had.
int GetScreenDeviceCaps(int index);

// A 96-dpi design value in device pixels: MulDivRound(v, dpi, 96).
int ScaleX(int value);
int ScaleY(int value);

// The screen size in pixels (SM_CXSCREEN, SM_CYSCREEN).
int GetScreenWidthPixels();
int GetScreenHeightPixels();

// (dpiY + 4) * 3 / 96 equals 6 (188..219 dpi) / equals 4 (124..155 dpi).
bool IsDoubleResolutionScreen();
bool IsMiddleResolutionScreen();

// Forgets the cached DPI values and resolution tests.
void ResetUiToolkitForTesting();

// Paints colour (0x00BBGGRR) into a 16-bit bitmap through a 1- or 8-bit mask:
// the destination rectangle (x, y, width, height) takes the mask from
// (maskX, maskY); both are clipped to each other's bounds, a negative
// destination offset moving the mask start. 1-bit masks paint where a bit is
// set (a plain store at alpha 255, a blend of weight alpha otherwise, nothing
// at alpha 0); 8-bit masks use the mask value as weight at alpha 255 (255 a
// plain store, 0 nothing) and mask * alpha / 256 below. False for other
// depths or a target that is not 16 bits.
bool BlendColorThroughMask(CBitmapBuffer& target, int x, int y, int width, int height, plat::COLORREF colour,
                           int maskX, int maskY, const CBitmapBuffer& mask, int alpha);

// ---------------------------------------------------------------------------
// Input panel

// Whether the input panel is up; false when the shell cannot tell.
bool GetSipVisible(bool& visible);
void SetSipVisible(bool visible);
// An invisible "SIPPREF" child of parent (the shell's extra controls are
// registered first when needed), which raises and lowers the input panel
// with the focus of edit controls.
plat::HWND CreateSipPrefWindow(plat::HWND parent);

// ---------------------------------------------------------------------------
// Module, menu bar

// The default menu bar: its menu resource and soft-key commands.
constexpr plat::UINT kDefaultMenuBarId = 173;
constexpr int kDefaultLeftSoftKey = 2040;
constexpr int kDefaultRightSoftKey = 2042;

// Stores the module whose resources the toolkit loads, registers the shell's
// extra controls and sets the default menu bar. True.
bool InitUiKit(plat::HINSTANCE module);
plat::HINSTANCE GetUiKitModule();
plat::UINT GetDefaultMenuBarId();
int GetDefaultLeftSoftKey();
int GetDefaultRightSoftKey();

// The shell's menu bar of owner from a menu resource of the toolkit's module;
// null when it cannot be made.
plat::HWND CreateMenuBar(plat::HWND owner, plat::DWORD flags, plat::UINT menuId, int bitmapId, int bitmapCount,
                         plat::COLORREF background);
// The command id of the bar's button at index; -1 when there is none.
int GetToolbarButtonCommand(plat::HWND bar, int index);

// ---------------------------------------------------------------------------
// Image lists

bool LoadImageList(plat::HIMAGELIST& list, plat::UINT bitmapId, int imageWidth, int growth, plat::COLORREF mask);
// The catalogue icon strip that suits the system's small-icon width.
bool LoadSmallIconImageList(plat::HIMAGELIST& list);
// Releases every list in index order and empties the array.
void DestroyImageLists(std::vector<plat::HIMAGELIST>& lists);

// ---------------------------------------------------------------------------
// Fonts

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

// ---------------------------------------------------------------------------
// Drawing

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

// ---------------------------------------------------------------------------
// Windows

int GetScrollPosition(plat::HWND window, int bar);
void InvalidateWithChildren(plat::HWND window);
void ModifyStyle(plat::HWND window, plat::DWORD remove, plat::DWORD add, plat::UINT positionFlags);
// Runs a nested modal dialog (run) and puts the focus and the input panel's
// state back as they were before it.
plat::INT_PTR RunKeepingFocusAndInputPanel(const std::function<plat::INT_PTR()>& run);
// Runs the sheet modally, keeping the focus and the input panel state.
plat::INT_PTR DoModalPropertySheet(plat::PROPSHEETHEADERW& sheet, plat::HWND parent);
// MessageBoxW with the localized string and the product name as caption.
int ShowMessageBox(plat::HWND owner, plat::UINT stringId, plat::UINT flags);
plat::HWND CreateEditChild(plat::HWND parent, const std::u16string& text);
plat::HWND CreateComboChild(plat::HWND parent, int controlId, const std::vector<std::u16string>& items);
void FillComboBox(plat::HWND comboBox, const std::vector<std::u16string>& items);
bool RegistryReadDword(plat::HKEY key, const char16_t* name, plat::DWORD& value);

// Whether the platform is a Pocket PC of generation 4 or later.
bool IsModernPocketPC();
