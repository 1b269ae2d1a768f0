// The small toolkit under the layout screens: the screen's DPI and size, the
// rule that turns 96-dpi design values into device pixels, the two
// screen-resolution tests, and painting a colour through a mask into a
// 16-bit bitmap.
#pragma once

#include <cstdint>

#include "core/BitmapBuffer.h"
#include "core/FrameworkServices.h"  // MulDivRound
#include "platform/gdi/Gdi.h"

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
