// Inside of the graphics library: the objects behind the handles, pixel
// access for every bitmap format, the DC state and the live-handle registry.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace plat::gdi {

enum class Kind { Bitmap, Font, Brush, Pen, Region, Palette };

// Every GDI object, DC and icon is registered while alive so that a stale or
// foreign handle is refused instead of followed.
enum class LiveKind { Object, Dc, Icon };
void RegisterLive(const GdiObject* p);
void RegisterLive(const GdiDc* p);
void RegisterLive(const GdiIcon* p);
void UnregisterLive(const void* p);
bool IsLive(const GdiObject* p);
bool IsLive(const GdiDc* p);
bool IsLive(const GdiIcon* p);
// A handle of either kind (TransparentImage takes a DC or a bitmap).
bool IsLiveAs(const void* p, LiveKind kind);

// COLORREF (0x00BBGGRR) to and from the library's 0x00RRGGBB.
inline DWORD RgbOf(COLORREF c) { return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu); }
inline COLORREF ColorrefOf(DWORD rgb) { return RgbOf(rgb); }
std::recursive_mutex& GdiLock();

struct FaceData;  // a sized FreeType face (Text.cpp)

struct Font final : GdiFont {
  LOGFONTW lf{};
  std::shared_ptr<FaceData> face;
  bool isStock = false;
};

struct Bitmap final : GdiBitmap {
  int width = 0;
  int height = 0;
  int bpp = 0;
  int stride = 0;
  bool topDown = false;
  bool isDib = false;           // DIB section (bits visible to the caller)
  bool isStock = false;
  BITMAPINFOHEADER header{};    // as given at creation (DIB sections)
  DWORD masks[3] = {0, 0, 0};   // 16 and 32 bits
  int shift[3] = {0, 0, 0};
  int bitsOf[3] = {0, 0, 0};
  std::vector<RGBQUAD> palette;  // 1, 4 and 8 bits
  std::vector<std::uint8_t> storage;
  std::uint8_t* bits = nullptr;
  GdiDc* selectedIn = nullptr;
  // Nearest-palette lookup cache: the last colour (high half) and its index,
  // in one word so that threads sharing a source bitmap never see a torn pair.
  mutable std::atomic<std::uint64_t> lastLookup{0xFFFFFFFF00000000ull};
  void ForgetLookups() const { lastLookup.store(0xFFFFFFFF00000000ull, std::memory_order_relaxed); }

  std::uint8_t* Row(int y) const { return bits + static_cast<std::ptrdiff_t>(topDown ? y : height - 1 - y) * stride; }
  DWORD GetRaw(int x, int y) const;
  void PutRaw(int x, int y, DWORD raw);
  DWORD RawToRgb(DWORD raw) const;  // 0x00RRGGBB
  DWORD RgbToRaw(DWORD rgb) const;
  DWORD GetRgb(int x, int y) const { return RawToRgb(GetRaw(x, y)); }
  void PutRgb(int x, int y, DWORD rgb) { PutRaw(x, y, RgbToRaw(rgb)); }
  DWORD AllOnes() const { return bpp >= 32 ? 0xFFFFFFFFu : ((1u << bpp) - 1u); }
  bool SameFormat(const Bitmap& o) const;
  bool IsMonoDdb() const { return !isDib && bpp == 1; }
  // Alpha of a 32-bit pixel (the top byte), 255 for other formats.
  bool HasAlphaChannel() const { return bpp == 32; }
};

struct Brush final : GdiBrush {
  UINT style = BS_SOLID;
  COLORREF colour = 0;
  bool isStock = false;
};

struct Pen final : GdiPen {
  int style = PS_SOLID;
  int width = 1;
  COLORREF colour = 0;
  bool isStock = false;
};

struct Region final : GdiRegion {
  RECT box{0, 0, 0, 0};  // empty when left >= right or top >= bottom
};

struct DcState {
  Bitmap* bitmap = nullptr;
  Font* font = nullptr;
  Brush* brush = nullptr;
  Pen* pen = nullptr;
  COLORREF textColour = RGB(0, 0, 0);
  COLORREF bkColour = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int stretchMode = COLORONCOLOR;
  UINT textAlign = TA_LEFT | TA_TOP;
  POINT position{0, 0};
  POINT origin{0, 0};
  bool hasClip = false;
  RECT clip{0, 0, 0, 0};  // device coordinates
};

struct Dc final : GdiDc {
  bool isScreen = false;
  DcState st;
  std::vector<DcState> saved;
  Bitmap* Target() const;
  // The drawable area in device coordinates: bitmap bounds within the clip.
  RECT DeviceClip() const;
};

// Checked handle casts (null when not live or of another kind).
Bitmap* AsBitmap(HGDIOBJ o);
Brush* AsBrush(HGDIOBJ o);
Pen* AsPen(HGDIOBJ o);
Region* AsRegion(HGDIOBJ o);
Font* AsFont(HGDIOBJ o);
Dc* AsDc(HDC dc);

// New bitmaps. `external` bits are used in place (the caller keeps them).
Bitmap* NewBitmap(int width, int height, int bpp, bool topDown, bool isDib, const BITMAPINFO* info,
                  void* external);
Bitmap* StockMonoBitmap();
// A top-down RGB565 bitmap in the screen's format: a DIB section (the
// screen) or a device-dependent bitmap.
Bitmap* NewRgb565Bitmap(int width, int height, bool isDib);
Bitmap* Screen();
void ReplaceScreen(int width, int height);
// Composes the device's windows into the screen bitmap (the window layer's
// provider), before a blit reads the screen DC. Nothing without windows.
void RefreshScreenFromWindows();
int& ScreenDpiRef();

// Stock objects of text.
Font* StockFont(int index);
Font* DefaultFont();

// Colour of a pixel of `src` as the destination sees it (mono conversions).
DWORD ConvertPixel(const Bitmap& src, DWORD srcRaw, const Dc* srcDc, const Bitmap& dst, const Dc* dstDc);

// Applies a ternary raster operation (its index byte) bitwise.
DWORD ApplyRop3(BYTE index, DWORD pattern, DWORD source, DWORD dest);

// Glyph drawing into a DC (Text.cpp) and icons (Icon.cpp).
void BlendCoverage(Dc* dc, Bitmap* target, int x, int y, BYTE coverage, COLORREF colour);

}  // namespace plat::gdi
