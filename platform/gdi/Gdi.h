// The graphics device interface of the handheld: device contexts, bitmaps and
// DIB sections, blits, stretching, masks, alpha, pens, brushes, regions, fonts
// and text, icons, and the device screen.
//
// Handles are pointers to objects of this library; a handle that is not (or no
// longer) a live object is refused with FALSE / null and ERROR_INVALID_HANDLE,
// never dereferenced. Objects may be created and used on any thread; one DC is
// used by one thread at a time (as on the device). Stock objects are never
// deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Types.h"

namespace plat {

// ---------------------------------------------------------------------------
// Colours and geometry

using COLORREF = DWORD;  // 0x00BBGGRR
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

struct POINT {
  LONG x;
  LONG y;
};
struct SIZE {
  LONG cx;
  LONG cy;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

BOOL SetRect(RECT* r, int left, int top, int right, int bottom);
BOOL SetRectEmpty(RECT* r);
BOOL CopyRect(RECT* dst, const RECT* src);
BOOL IsRectEmpty(const RECT* r);
BOOL EqualRect(const RECT* a, const RECT* b);
BOOL PtInRect(const RECT* r, POINT p);
BOOL OffsetRect(RECT* r, int dx, int dy);
BOOL InflateRect(RECT* r, int dx, int dy);
// FALSE (and an empty result) when the two do not overlap.
BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b);
BOOL UnionRect(RECT* dst, const RECT* a, const RECT* b);

// ---------------------------------------------------------------------------
// Handles

struct GdiObject {
  virtual ~GdiObject();

 protected:
  GdiObject() = default;
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
};
struct GdiBitmap : GdiObject {};
struct GdiFont : GdiObject {};
struct GdiBrush : GdiObject {};
struct GdiPen : GdiObject {};
struct GdiRegion : GdiObject {};
struct GdiPalette : GdiObject {};

struct GdiDc {
  virtual ~GdiDc();

 protected:
  GdiDc() = default;
  GdiDc(const GdiDc&) = delete;
  GdiDc& operator=(const GdiDc&) = delete;
};
struct GdiIcon {
  virtual ~GdiIcon();

 protected:
  GdiIcon() = default;
  GdiIcon(const GdiIcon&) = delete;
  GdiIcon& operator=(const GdiIcon&) = delete;
};

using HGDIOBJ = GdiObject*;
using HBITMAP = GdiBitmap*;
using HFONT = GdiFont*;
using HBRUSH = GdiBrush*;
using HPEN = GdiPen*;
using HRGN = GdiRegion*;
using HPALETTE = GdiPalette*;
using HDC = GdiDc*;
using HICON = GdiIcon*;
using HCURSOR = HICON;

// Window handles: the windowing layer gives them meaning; GDI only needs the
// type so that GetDC / ReleaseDC of a window can be routed to it.
struct HWND__;
using HWND = HWND__*;

// ---------------------------------------------------------------------------
// Bitmaps and DIB sections

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

struct BITMAP {
  LONG bmType;        // 0
  LONG bmWidth;
  LONG bmHeight;      // always positive
  LONG bmWidthBytes;  // bytes per row (rows of DIB sections are padded to 4 bytes)
  WORD bmPlanes;      // 1
  WORD bmBitsPixel;
  void* bmBits;       // the pixels of a DIB section; null for a device-dependent bitmap
};

// The 40-byte header of DIBs and BMP files (layout as stored on disk).
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: rows top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

// A header followed by its colour table (or the three BI_BITFIELDS masks).
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// Bytes of one row of a DIB `width` pixels wide at `bitsPerPixel`: rows are
// padded to whole 32-bit words. 64-bit, so sizes read from files cannot wrap.
constexpr std::uint64_t DibStride(std::uint64_t bitsPerPixel, std::uint64_t width) {
  return (bitsPerPixel * width + 31) / 32 * 4;
}

// The header of a DIB `width` x `height` (negative height: rows top-down) at
// `bitsPerPixel`: one plane, the given compression and the image size.
inline BITMAPINFOHEADER DibHeader(int width, int height, int bitsPerPixel, DWORD compression = BI_RGB) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bitsPerPixel);
  h.biCompression = compression;
  const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
  if (width > 0 && bitsPerPixel > 0)
    h.biSizeImage = static_cast<DWORD>(DibStride(static_cast<std::uint64_t>(bitsPerPixel), static_cast<std::uint64_t>(width)) * rows);
  return h;
}

// A BITMAPINFO with room for any colour table (256 entries) or the three
// BI_BITFIELDS masks; get() is what the DIB functions take.
struct DibInfo {
  BITMAPINFOHEADER bmiHeader{};
  RGBQUAD bmiColors[256]{};

  DibInfo() = default;
  DibInfo(int width, int height, int bitsPerPixel, DWORD compression = BI_RGB)
      : bmiHeader(DibHeader(width, height, bitsPerPixel, compression)) {}
  // Red, green and blue masks of a BI_BITFIELDS DIB.
  void SetMasks(DWORD red, DWORD green, DWORD blue) {
    const DWORD masks[3] = {red, green, blue};
    static_assert(sizeof(masks) <= sizeof(bmiColors));
    std::memcpy(bmiColors, masks, sizeof(masks));
  }
  BITMAPINFO* get() { return reinterpret_cast<BITMAPINFO*>(this); }
  const BITMAPINFO* get() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

// A top-down RGB565 DIB: the screen's format.
inline DibInfo Rgb565DibInfo(int width, int height) {
  DibInfo info(width, -height, 16, BI_BITFIELDS);
  info.SetMasks(0xF800, 0x07E0, 0x001F);
  return info;
}

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  WORD bfType;  // "BM"
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;  // biHeight keeps the sign given at creation
  DWORD dsBitfields[3];     // red, green, blue masks of 16 and 32-bit sections
  void* dshSection;         // always null
  DWORD dsOffset;
};

// Creates a DIB section of 1, 4, 8 (colour table of biClrUsed entries, or all
// 2^n when 0), 16 (BI_RGB: 555; BI_BITFIELDS: the masks after the header, 565
// or 555), 24 or 32 bits (BI_RGB: BGRX; BI_BITFIELDS with 0xFF0000, 0xFF00,
// 0xFF masks). Rows are padded to 4 bytes; *bits receives the first memory row
// (the bottom row of a bottom-up section). The pixels start zeroed. hdc may be
// null. Sections above 16384 pixels a side or 64 Mpixels fail.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, void* section, DWORD offset);

// A DIB section over memory that the caller owns and keeps alive until the
// bitmap is deleted (window surfaces in shared memory). Rows must be padded as
// CreateDIBSection pads them.
HBITMAP CreateDIBSectionOnMemory(const BITMAPINFO* info, void* bits);

// A device-dependent bitmap in the screen's format (16 bits, RGB565), or a
// monochrome one when the DC holds a monochrome bitmap; starts black. Its
// BITMAP has no bits pointer.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);

// A device-dependent bitmap: 1 bit per pixel (monochrome, 0 black, 1 white)
// or the screen's depth; bits (rows padded to 2 bytes, top row first) may be null.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);

// Colour tables of DIB sections of at most 8 bits selected into hdc.
UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors);
UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors);

// Draws DIB bits into a DC, scaled (StretchDIBits) or at their size. The
// source rectangle is in DIB coordinates (y from the top of the image).
// Returns the number of rows drawn, 0 on failure.
int StretchDIBits(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc, int hSrc,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT usage);

// Reads rows of a bitmap (not selected in a DC) as DIB bits in the format the
// header asks (1, 4, 8, 16, 24 or 32 bits). With bits null, fills the header
// (and colour table) only. Returns the rows copied (or TRUE with bits null).
int GetDIBits(HDC hdc, HBITMAP bitmap, UINT startScan, UINT lines, void* bits, BITMAPINFO* info, UINT usage);

// ---------------------------------------------------------------------------
// Device contexts

// The screen DC (window null). DCs of windows are handed out by the windowing
// layer through SetWindowDcProvider.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
struct WindowDcProvider {
  HDC (*getDc)(HWND hwnd);
  int (*releaseDc)(HWND hwnd, HDC hdc);
  // Composes the device's screen from every window: a blit that reads from
  // the screen DC (GetDC(NULL)) asks first, so it copies what is on the
  // screen now. May be null.
  BOOL (*composeScreen)();
};
void SetWindowDcProvider(const WindowDcProvider* provider);

// A memory DC with a 1x1 monochrome bitmap selected. hdc may be null.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);

// Selects a bitmap, font, brush or pen and returns the previous one (a region
// is copied into the clip; the result is then the region type). A bitmap can
// be selected into one memory DC at a time.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
// FALSE for a handle that is selected into a DC; stock objects stay.
BOOL DeleteObject(HGDIOBJ object);

constexpr UINT OBJ_PEN = 1;
constexpr UINT OBJ_BRUSH = 2;
constexpr UINT OBJ_DC = 3;
constexpr UINT OBJ_PAL = 5;
constexpr UINT OBJ_FONT = 6;
constexpr UINT OBJ_BITMAP = 7;
constexpr UINT OBJ_REGION = 8;
constexpr UINT OBJ_MEMDC = 10;
HGDIOBJ GetCurrentObject(HDC hdc, UINT type);
DWORD GetObjectType(HGDIOBJ object);

// Bitmaps: BITMAP, or DIBSECTION for a DIB section (cb >= sizeof(DIBSECTION));
// fonts: LOGFONTW; brushes: LOGBRUSH; pens: LOGPEN. Returns the bytes written;
// with out null, the size needed. 0 on failure.
int GetObjectW(HGDIOBJ object, int cb, void* out);
inline int GetObject(HGDIOBJ object, int cb, void* out) { return GetObjectW(object, cb, out); }

int SaveDC(HDC hdc);
// level > 0: restores that saved state (and drops the later ones); level < 0:
// relative to the current one (-1 the last saved).
BOOL RestoreDC(HDC hdc, int level);

constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int RC_BITBLT = 1;
constexpr int RC_STRETCHBLT = 0x0800;
constexpr int RC_DI_BITMAP = 0x0080;
// HORZRES/VERTRES: the screen (or the selected bitmap of a memory DC);
// BITSPIXEL: the screen's 16 or the selected bitmap's depth; LOGPIXELSX/Y the
// screen's DPI.
int GetDeviceCaps(HDC hdc, int index);

BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* previous);
BOOL GetViewportOrgEx(HDC hdc, POINT* origin);
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, POINT* previous);

// ---------------------------------------------------------------------------
// Clipping (rectangular regions)

constexpr int ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;

HRGN CreateRectRgn(int left, int top, int right, int bottom);
HRGN CreateRectRgnIndirect(const RECT* r);
int GetRgnBox(HRGN region, RECT* box);
BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom);
// Combinations whose result is a rectangle (AND, COPY, OR of overlapping or
// touching rectangles, DIFF that cuts a whole side); otherwise ERROR.
int CombineRgn(HRGN dst, HRGN a, HRGN b, int mode);
BOOL PtInRegion(HRGN region, int x, int y);

// Clip rectangles are in logical coordinates (moved by the viewport origin).
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
// A null region removes the clip.
int SelectClipRgn(HDC hdc, HRGN region);
int GetClipBox(HDC hdc, RECT* box);
// 1 and the clip in *region (device coordinates), 0 when the DC has no clip.
int GetClipRgn(HDC hdc, HRGN region);

// ---------------------------------------------------------------------------
// Raster operations, blits

constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD SRCERASE = 0x00440328;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD NOTSRCERASE = 0x001100A6;
constexpr DWORD MERGECOPY = 0x00C000CA;
constexpr DWORD MERGEPAINT = 0x00BB0226;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD PATPAINT = 0x00FB0A09;
constexpr DWORD PATINVERT = 0x005A0049;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;
// MaskBlt: mask bit 1 uses the foreground operation, 0 the background one.
constexpr DWORD MAKEROP4(DWORD fore, DWORD back) { return ((back << 8) & 0xFF000000u) | fore; }

// Colour conversions: a monochrome source becomes the destination DC's text
// colour (bits 0) and background colour (bits 1); a colour source becomes
// monochrome as 1 where it equals the source DC's background colour. Every
// other source is converted through RGB; the raster operation then works on
// the destination's pixel values (as the device does).
BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int xSrc, int ySrc, DWORD rop);
BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);
BOOL MaskBlt(HDC dst, int x, int y, int w, int h, HDC src, int xSrc, int ySrc, HBITMAP mask, int xMask,
             int yMask, DWORD rop4);

constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr int STRETCH_ANDSCANS = BLACKONWHITE;
constexpr int STRETCH_ORSCANS = WHITEONBLACK;
constexpr int STRETCH_DELETESCANS = COLORONCOLOR;
constexpr int STRETCH_HALFTONE = HALFTONE;
// Returns the previous mode (0 on failure). COLORONCOLOR (default) picks the
// nearest pixel; HALFTONE averages the source pixels under each target pixel.
int SetStretchBltMode(HDC hdc, int mode);
int GetStretchBltMode(HDC hdc);
// Negative widths or heights mirror.
BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop);

// Copies (and stretches) every source pixel except those of the transparent colour.
BOOL TransparentBlt(HDC dst, int x, int y, int w, int h, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                    UINT transparent);
// src: a DC or a bitmap.
BOOL TransparentImage(HDC dst, int x, int y, int w, int h, void* src, int xSrc, int ySrc, int wSrc, int hSrc,
                      COLORREF transparent);

constexpr BYTE AC_SRC_OVER = 0x00;
constexpr BYTE AC_SRC_ALPHA = 0x01;
struct BLENDFUNCTION {
  BYTE BlendOp;              // AC_SRC_OVER
  BYTE BlendFlags;           // 0
  BYTE SourceConstantAlpha;  // 0..255
  BYTE AlphaFormat;          // 0 or AC_SRC_ALPHA (32-bit source, premultiplied)
};
BOOL AlphaBlend(HDC dst, int x, int y, int w, int h, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                BLENDFUNCTION blend);

struct TRIVERTEX {
  LONG x;
  LONG y;
  WORD Red;  // 0..0xFF00
  WORD Green;
  WORD Blue;
  WORD Alpha;
};
struct GRADIENT_RECT {
  DWORD UpperLeft;   // index of a vertex
  DWORD LowerRight;  // index of a vertex
};
constexpr DWORD GRADIENT_FILL_RECT_H = 0;
constexpr DWORD GRADIENT_FILL_RECT_V = 1;
// Rectangles only (mesh of GRADIENT_RECT); colours interpolated per column or row.
BOOL GradientFill(HDC hdc, const TRIVERTEX* vertices, DWORD vertexCount, const void* mesh, DWORD meshCount,
                  DWORD mode);

COLORREF GetPixel(HDC hdc, int x, int y);  // CLR_INVALID outside the bitmap or the clip
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF colour);  // the colour set, or CLR_INVALID

// ---------------------------------------------------------------------------
// Brushes, pens, shapes

constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;
constexpr UINT BS_HOLLOW = BS_NULL;
struct LOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  std::uintptr_t lbHatch;
};

constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_NULL = 5;
struct LOGPEN {
  UINT lopnStyle;
  POINT lopnWidth;  // x is the width
  COLORREF lopnColor;
};

constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;
HGDIOBJ GetStockObject(int index);

HBRUSH CreateSolidBrush(COLORREF colour);
HBRUSH CreateBrushIndirect(const LOGBRUSH* brush);
HPEN CreatePen(int style, int width, COLORREF colour);
HPEN CreatePenIndirect(const LOGPEN* pen);

int FillRect(HDC hdc, const RECT* r, HBRUSH brush);
BOOL FrameRect(HDC hdc, const RECT* r, HBRUSH brush);  // a one-pixel frame
// Outline with the pen (inside the rectangle), interior with the brush; right
// and bottom edges excluded as on the device.
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom);
BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous);
// Draws with the pen from the current position up to, not including, (x, y).
BOOL LineTo(HDC hdc, int x, int y);
BOOL Polyline(HDC hdc, const POINT* points, int count);
BOOL Polygon(HDC hdc, const POINT* points, int count);
BOOL InvertRect(HDC hdc, const RECT* r);

// ---------------------------------------------------------------------------
// Text

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
COLORREF SetTextColor(HDC hdc, COLORREF colour);  // previous, CLR_INVALID on failure
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF colour);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);  // previous, 0 on failure
int GetBkMode(HDC hdc);

constexpr UINT TA_LEFT = 0;
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_TOP = 0;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;
UINT SetTextAlign(HDC hdc, UINT align);
UINT GetTextAlign(HDC hdc);

constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_THIN = 100;
constexpr LONG FW_LIGHT = 300;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_MEDIUM = 500;
constexpr LONG FW_SEMIBOLD = 600;
constexpr LONG FW_BOLD = 700;
constexpr LONG FW_HEAVY = 900;

constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DRAFT_QUALITY = 1;
constexpr BYTE PROOF_QUALITY = 2;
constexpr BYTE NONANTIALIASED_QUALITY = 3;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE CLEARTYPE_QUALITY = 5;
constexpr BYTE CLEARTYPE_COMPAT_QUALITY = 6;

constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;

constexpr int LF_FACESIZE = 32;
struct LOGFONTW {
  LONG lfHeight;  // < 0: character height in pixels; > 0: cell height; 0: default (12)
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};

struct TEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

// Fonts are the host's, found through fontconfig: "Tahoma", "System" and an
// empty face name become DejaVu Sans; weight >= 600 asks for bold, lfItalic for
// italic. CLEARTYPE/ANTIALIASED quality draws antialiased glyphs, anything
// else monochrome ones.
HFONT CreateFontIndirectW(const LOGFONTW* font);
BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics);
// Starts reading the host's font configuration on a thread of its own, so
// that a program that draws text later finds it read (or waits less for it).
void PrepareFonts();

// The device's font families: "Courier New", "Tahoma" and "Times New Roman"
// (each drawn with a DejaVu family of the host). The callback gets each family
// (or only the one named, compared ignoring case) with its logical font at the
// standard size, the metrics of that font and TRUETYPE_FONTTYPE; a 0 answer
// stops. The last answer; 1 when nothing was enumerated.
constexpr DWORD TRUETYPE_FONTTYPE = 0x0004;
using FONTENUMPROCW = int (*)(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD fontType, LPARAM lParam);
int EnumFontFamiliesW(HDC hdc, const WCHAR* family, FONTENUMPROCW proc, LPARAM lParam);
int GetTextFaceW(HDC hdc, int count, WCHAR* face);
// Widths are the sum of the glyph advances (no kerning), so the extent of a
// text is the sum of the extents of its pieces. count < 0 is refused.
BOOL GetTextExtentPoint32W(HDC hdc, const WCHAR* text, int count, SIZE* size);
inline BOOL GetTextExtentPointW(HDC hdc, const WCHAR* text, int count, SIZE* size) {
  return GetTextExtentPoint32W(hdc, text, count, size);
}
// fit: how many characters fit into maxExtent (when fit is not null);
// dx[i]: the extent of the first i + 1 characters (for at least those that fit).
BOOL GetTextExtentExPointW(HDC hdc, const WCHAR* text, int count, int maxExtent, int* fit, int* dx, SIZE* size);

constexpr UINT ETO_OPAQUE = 0x0002;
constexpr UINT ETO_CLIPPED = 0x0004;
// dx (optional): the advance after each character.
BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, const WCHAR* text, UINT count,
                 const int* dx);
BOOL TextOutW(HDC hdc, int x, int y, const WCHAR* text, int count);

constexpr UINT DT_TOP = 0x00000000;
constexpr UINT DT_LEFT = 0x00000000;
constexpr UINT DT_CENTER = 0x00000001;
constexpr UINT DT_RIGHT = 0x00000002;
constexpr UINT DT_VCENTER = 0x00000004;
constexpr UINT DT_BOTTOM = 0x00000008;
constexpr UINT DT_WORDBREAK = 0x00000010;
constexpr UINT DT_SINGLELINE = 0x00000020;
constexpr UINT DT_EXPANDTABS = 0x00000040;
constexpr UINT DT_NOCLIP = 0x00000100;
constexpr UINT DT_CALCRECT = 0x00000400;
constexpr UINT DT_NOPREFIX = 0x00000800;
constexpr UINT DT_END_ELLIPSIS = 0x00008000;
constexpr UINT DT_WORD_ELLIPSIS = 0x00040000;
// Draws text into a rectangle; count -1: null-terminated. Returns the height
// of the text drawn (0 on failure). DT_CALCRECT draws nothing and sets the
// rectangle's right and bottom to the text's extent (right kept for word
// breaking). Without DT_NOPREFIX, "&x" underlines nothing and drops the "&"
// ("&&" gives "&").
int DrawTextW(HDC hdc, const WCHAR* text, int count, RECT* rect, UINT format);

// ---------------------------------------------------------------------------
// Icons

struct ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;   // 1 = transparent; twice the height when hbmColor is null
  HBITMAP hbmColor;  // may carry per-pixel alpha (32 bits)
};
// Copies both bitmaps; the caller keeps (and deletes) its own.
HICON CreateIconIndirect(const ICONINFO* info);
// Copies of the icon's bitmaps, which the caller deletes.
BOOL GetIconInfo(HICON icon, ICONINFO* info);
BOOL DestroyIcon(HICON icon);
// Width and height of an icon (not a platform call; the icon readers need it).
SIZE GetIconSize(HICON icon);

constexpr UINT DI_MASK = 0x0001;
constexpr UINT DI_IMAGE = 0x0002;
constexpr UINT DI_NORMAL = 0x0003;
// cx or cy 0: the icon's own size. A 32-bit icon image with alpha is blended.
BOOL DrawIconEx(HDC hdc, int x, int y, HICON icon, int cx, int cy, UINT step, HBRUSH flicker, UINT flags);
BOOL DrawIcon(HDC hdc, int x, int y, HICON icon);

// ---------------------------------------------------------------------------
// The device screen (headless surface of this process)

// Resizes the screen (default 480x640 at 192 DPI) and clears it to black.
// Tests pose 240x320 at 96 DPI, landscape and so on.
void SetScreenForTesting(int width, int height, int dpi);
void ResetScreenForTesting();
int ScreenWidth();
int ScreenHeight();
int ScreenDpi();
// The screen's bitmap (16 bits, RGB565, top-down DIB section owned by GDI).
HBITMAP ScreenBitmap();

// PNG files (host paths) of the screen or of any bitmap; false on failure.
bool SaveScreenPng(const std::string& hostPath);
bool SaveBitmapPng(HBITMAP bitmap, const std::string& hostPath);

// Pixels of any bitmap as 0x00RRGGBB (alpha in the top byte for 32-bit
// sections), top row first; empty for an invalid handle. For tests and tools.
struct PixelImage {
  int width = 0;
  int height = 0;
  std::vector<DWORD> pixels;
};
PixelImage ReadBitmapPixels(HBITMAP bitmap);

}  // namespace plat
