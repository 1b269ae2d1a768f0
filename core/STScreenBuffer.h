// A 24-bit top-down DIB section (bytes blue, green, red): the source and
// target of thumbnail scaling and an off-screen copy of screen areas.
#pragma once

#include <cstdint>

#include "platform/gdi/Gdi.h"

class CSTScreenBuffer {
 public:
  CSTScreenBuffer() = default;
  virtual ~CSTScreenBuffer();
  CSTScreenBuffer(const CSTScreenBuffer&) = delete;
  CSTScreenBuffer& operator=(const CSTScreenBuffer&) = delete;

  // A new section of the size (both at least 1, else false and the old
  // bitmap stays); the buffer owns it.
  bool Create(int width, int height);
  // Create, then every byte zero (black).
  bool CreateBlank(int width, int height);
  // A copy of a whole bitmap.
  bool CreateFromBitmap(plat::HBITMAP source);
  // A copy of the area (x, y, width, height) of a DC.
  bool CreateFromDC(plat::HDC source, int x, int y, int width, int height);

  // A memory DC holding the bitmap, made on first use; null when empty.
  plat::HDC GetDC();
  // Copies the whole image to (x, y) of a DC; false when empty or the copy fails.
  bool BlitTo(plat::HDC target, int x, int y);

  // Sets whether the buffer deletes its bitmap; returns the previous value.
  bool SetOwnsBitmap(bool owns);
  // Takes the bitmap out of the memory DC and deletes the DC.
  void DeleteDC();

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetStride() const { return stride_; }
  std::uint8_t* GetBits() const { return bits_; }
  std::uint8_t* Row(int y) const { return bits_ + static_cast<std::ptrdiff_t>(y) * stride_; }
  plat::HBITMAP GetBitmap() const { return bitmap_; }

  // ((width + 1) * 3 / 4) * 4: three bytes a pixel, rounded up to 4.
  static int StrideOf(int width);

 private:
  void Release();

  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  std::uint8_t* bits_ = nullptr;
  plat::HBITMAP bitmap_ = nullptr;
  bool ownsBitmap_ = true;
  plat::HDC dc_ = nullptr;
  plat::HGDIOBJ previous_ = nullptr;
};

// A 24-bit top-down DIB section; null on failure.
plat::HBITMAP Create24BitDib(int width, int height);

// Copies the area (srcX, srcY, w, h) of source to (x, y) of *target through
// two memory DCs; false when a handle is unusable or the copy fails.
bool BlitBitmap(plat::HBITMAP* target, int x, int y, int w, int h, plat::HBITMAP source, int srcX, int srcY);
