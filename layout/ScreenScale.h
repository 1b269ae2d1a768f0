// The screen's DPI and size and the rule that turns 96-dpi design values
// into device pixels. The DPI values are cached for the device; everything
// else runs on the UI thread.
#pragma once

// Reads both DPI values of the screen (ReadScreenDpi) unless they are cached
// already. The values are kept until the process is given another device (or
// a test asks for a fresh read with ResetScreenDpiForTesting).
void InitScreenDpi();
int GetScreenDpiX();
int GetScreenDpiY();

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
void ResetScreenDpiForTesting();
