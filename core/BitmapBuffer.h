// Off-screen images whose pixels the program reads and writes directly: DIB
// sections of 1, 4, 8, 16 or 24 bits per pixel, with fills, blends and copies
// of 16-bit (RGB565) images done on the raw rows.
#pragma once

#include <cstdint>

#include "platform/gdi/Gdi.h"

// COLORREF (0x00BBGGRR) to RGB565.
constexpr std::uint16_t ColorToRgb565(plat::COLORREF c) {
  return static_cast<std::uint16_t>(((c & 0xF8) << 8) | (((c >> 8) & 0xFC) << 3) | (((c >> 16) & 0xFF) >> 3));
}

// Blends colour into pixel (both RGB565) at alpha 0..256 of the colour:
// per channel new = (old * (256 - alpha) + colour * alpha) >> 8.
void BlendPixel565(std::uint16_t& pixel, std::uint16_t colour, int alpha);

class CBitmapBuffer {
 public:
  // Formats of Create.
  enum Format { kMono = 0, kGrey4 = 1, kGrey8 = 2, kRgb565 = 3, kRgb24 = 4 };

  CBitmapBuffer() = default;
  // Describes a DIB section (and the DC it is selected in, may be null)
  // without owning either.
  CBitmapBuffer(plat::HBITMAP bitmap, plat::HDC dc);
  virtual ~CBitmapBuffer();
  CBitmapBuffer(const CBitmapBuffer&) = delete;
  CBitmapBuffer& operator=(const CBitmapBuffer&) = delete;

  // A new bottom-up DIB section of the format, owned by the buffer. False
  // (and an empty buffer) for a size below 1 or an unknown format.
  bool Create(int width, int height, int format);
  // Describes a DIB section without owning it; false for anything else.
  bool Attach(plat::HBITMAP bitmap, plat::HDC dc);
  // Takes ownership of a DIB section; a bitmap that is no DIB section is
  // refused (and deleted when deleteIfUnusable).
  bool AttachBitmap(plat::HBITMAP bitmap, bool deleteIfUnusable);
  // Releases what the buffer owns and empties it.
  void Destroy();

  // The memory DC holding the bitmap; an owning buffer makes one on first
  // use, an attached one returns the DC it was given.
  plat::HDC GetDC();

  // Fills the rectangle (clipped to the buffer) with the colour: alpha 255
  // writes it, 1..254 blends it, 0 leaves the pixels. 16 bits only.
  bool FillRectAlpha(int x, int y, int w, int h, plat::COLORREF colour, std::uint8_t alpha);
  // Greys the rectangle (0x808080 at alpha 192) when shade is set.
  void ShadeRect(const plat::RECT& r, bool shade);
  // Draws the icon stretched to the rectangle.
  bool DrawIcon(plat::HICON icon, const plat::RECT& r);
  // Copies (alpha -1) or blends (alpha 1..255; other values are taken
  // modulo 256) a source area into the buffer; both 16 bits. Alpha 0 does
  // nothing. False when a depth differs or the clipped source origin is
  // negative.
  bool BlendFrom(int x, int y, int w, int h, const CBitmapBuffer& src, int srcX, int srcY, int alpha);
  // Copies the source area at (srcX, srcY) into the rectangle, converting a
  // source of another depth to RGB565 first; dimmed blends it at alpha 64.
  bool DrawBitmap(const plat::RECT& r, CBitmapBuffer& src, int srcX, int srcY, bool dimmed);

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetStride() const { return stride_; }
  int GetBitsPerPixel() const { return bitsPerPixel_; }
  bool IsTopDown() const { return topDown_; }
  bool OwnsBitmap() const { return owns_; }
  void* GetBits() const { return bits_; }
  plat::HBITMAP GetBitmap() const { return bitmap_; }
  // Memory of image row y (0 the top row).
  std::uint8_t* Row(int y) const;

  // Bytes per row of a DIB of the depth: rounded up to 4 bytes.
  static int StrideOf(int bitsPerPixel, int width);

 private:
  void Zero();

  bool owns_ = false;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  bool topDown_ = false;
  int bitsPerPixel_ = 0;
  std::uint8_t* bits_ = nullptr;
  plat::HBITMAP bitmap_ = nullptr;
  plat::HDC dc_ = nullptr;
  int savedDc_ = 0;
};
