#include "core/BitmapBuffer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/DeviceInfo.h"

using namespace plat;

namespace {

constexpr LONG kPixelsPerMetre = 3780;

inline void Widen565(std::uint16_t p, int& r, int& g, int& b) {
  r = (p >> 8) & 0xF8;
  g = (p >> 3) & 0xFC;
  b = (p << 3) & 0xFF;
}

}  // namespace

void BlendPixel565(std::uint16_t& pixel, std::uint16_t colour, int alpha) {
  int r0, g0, b0, r1, g1, b1;
  Widen565(pixel, r0, g0, b0);
  Widen565(colour, r1, g1, b1);
  int keep = 256 - alpha;
  int r = (r0 * keep + r1 * alpha) >> 8;
  int g = (g0 * keep + g1 * alpha) >> 8;
  int b = (b0 * keep + b1 * alpha) >> 8;
  pixel = static_cast<std::uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

int CBitmapBuffer::StrideOf(int bitsPerPixel, int width) {
  return bitsPerPixel > 0 && width > 0 ? static_cast<int>(DibStride(bitsPerPixel, width)) : 0;
}

CBitmapBuffer::CBitmapBuffer(HBITMAP bitmap, HDC dc) { Attach(bitmap, dc); }

CBitmapBuffer::~CBitmapBuffer() { Destroy(); }

void CBitmapBuffer::Zero() {
  owns_ = false;
  width_ = height_ = stride_ = 0;
  topDown_ = false;
  bitsPerPixel_ = 0;
  bits_ = nullptr;
  bitmap_ = nullptr;
  dc_ = nullptr;
  savedDc_ = 0;
}

void CBitmapBuffer::Destroy() {
  if (owns_) {
    if (dc_) {
      if (savedDc_) RestoreDC(dc_, savedDc_);
      DeleteDC(dc_);
    }
    if (bitmap_) DeleteObject(bitmap_);
  }
  Zero();
}

bool CBitmapBuffer::Create(int width, int height, int format) {
  Destroy();
  if (width < 1 || height < 1) return false;
  static const int kDepths[] = {1, 4, 8, 16, 24};
  if (format < 0 || format > 4) return false;
  int bpp = kDepths[format];

  std::vector<unsigned char> storage(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  auto* info = reinterpret_cast<BITMAPINFO*>(storage.data());
  BITMAPINFOHEADER& h = info->bmiHeader;
  int stride = StrideOf(bpp, width);
  h = DibHeader(width, height, bpp, bpp == 16 ? BI_BITFIELDS : BI_RGB);
  h.biXPelsPerMeter = kPixelsPerMetre;
  h.biYPelsPerMeter = kPixelsPerMetre;
  RGBQUAD* table = info->bmiColors;
  switch (format) {
    case kMono:
      table[0] = RGBQUAD{0, 0, 0, 0};
      table[1] = RGBQUAD{255, 255, 255, 0};
      break;
    case kGrey4:
      for (int i = 0; i < 16; ++i) {
        auto v = static_cast<BYTE>(16 * i);
        table[i] = RGBQUAD{v, v, v, 0};
      }
      break;
    case kGrey8:
      for (int i = 0; i < 256; ++i) {
        auto v = static_cast<BYTE>(i);
        table[i] = RGBQUAD{v, v, v, 0};
      }
      break;
    case kRgb565: {
      const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
      std::memcpy(table, masks, sizeof masks);
      break;
    }
    default: break;
  }

  HDC screen = plat::GetDC(nullptr);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (screen) ReleaseDC(nullptr, screen);
  if (!bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    Zero();
    return false;
  }
  owns_ = true;
  width_ = width;
  height_ = height;
  stride_ = stride;
  topDown_ = false;
  bitsPerPixel_ = bpp;
  bits_ = static_cast<std::uint8_t*>(bits);
  bitmap_ = bitmap;
  return true;
}

namespace {

// The DIB section behind a handle; false for null handles and
// device-dependent bitmaps.
bool ReadSection(HBITMAP bitmap, DIBSECTION& ds) {
  if (!bitmap) return false;
  std::memset(&ds, 0, sizeof ds);
  if (GetObjectW(bitmap, sizeof ds, &ds) < static_cast<int>(sizeof(BITMAP))) return false;
  return ds.dsBm.bmBits != nullptr;
}

}  // namespace

bool CBitmapBuffer::Attach(HBITMAP bitmap, HDC dc) {
  Destroy();
  DIBSECTION ds;
  if (!ReadSection(bitmap, ds)) return false;
  width_ = ds.dsBm.bmWidth;
  height_ = ds.dsBm.bmHeight;
  bitsPerPixel_ = ds.dsBm.bmBitsPixel;
  stride_ = StrideOf(bitsPerPixel_, width_);
  // A top-down section keeps its rows in display order.
  topDown_ = ds.dsBmih.biHeight < 0;
  bits_ = static_cast<std::uint8_t*>(ds.dsBm.bmBits);
  bitmap_ = bitmap;
  dc_ = dc;
  owns_ = false;
  return true;
}

bool CBitmapBuffer::AttachBitmap(HBITMAP bitmap, bool deleteIfUnusable) {
  Destroy();
  if (!bitmap) return false;
  DIBSECTION ds;
  if (!ReadSection(bitmap, ds)) {
    if (deleteIfUnusable) DeleteObject(bitmap);
    return false;
  }
  width_ = ds.dsBm.bmWidth;
  height_ = ds.dsBm.bmHeight;
  bitsPerPixel_ = ds.dsBm.bmBitsPixel;
  stride_ = StrideOf(bitsPerPixel_, width_);
  topDown_ = ds.dsBmih.biHeight < 0;
  bits_ = static_cast<std::uint8_t*>(ds.dsBm.bmBits);
  bitmap_ = bitmap;
  owns_ = true;
  return true;
}

HDC CBitmapBuffer::GetDC() {
  if (dc_ || !owns_ || !bitmap_) return dc_;
  HDC screen = plat::GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  if (screen) ReleaseDC(nullptr, screen);
  if (!dc) return nullptr;
  savedDc_ = SaveDC(dc);
  SelectObject(dc, bitmap_);
  dc_ = dc;
  return dc_;
}

std::uint8_t* CBitmapBuffer::Row(int y) const {
  int memoryRow = topDown_ ? y : height_ - 1 - y;
  return bits_ + static_cast<std::ptrdiff_t>(memoryRow) * stride_;
}

bool CBitmapBuffer::FillRectAlpha(int x, int y, int w, int h, COLORREF colour, std::uint8_t alpha) {
  if (bitsPerPixel_ != 16 || !bits_) return false;
  if (x < 0) {
    w += x;
    x = 0;
  }
  if (y < 0) {
    h += y;
    y = 0;
  }
  w = std::min(w, width_ - x);
  h = std::min(h, height_ - y);
  if (w <= 0 || h <= 0 || alpha == 0) return true;
  std::uint16_t c = ColorToRgb565(colour);
  for (int row = y; row < y + h; ++row) {
    auto* p = reinterpret_cast<std::uint16_t*>(Row(row)) + x;
    if (alpha == 255) {
      std::fill(p, p + w, c);
    } else {
      for (int i = 0; i < w; ++i) BlendPixel565(p[i], c, alpha);
    }
  }
  return true;
}

void CBitmapBuffer::ShadeRect(const RECT& r, bool shade) {
  if (shade) FillRectAlpha(r.left, r.top, r.right - r.left, r.bottom - r.top, 0x808080, 192);
}

bool CBitmapBuffer::DrawIcon(HICON icon, const RECT& r) {
  HDC dc = GetDC();
  if (!dc || !icon) return false;
  return DrawIconEx(dc, r.left, r.top, icon, r.right - r.left, r.bottom - r.top, 0, nullptr, DI_NORMAL) != FALSE;
}

bool CBitmapBuffer::BlendFrom(int x, int y, int w, int h, const CBitmapBuffer& src, int srcX, int srcY, int alpha) {
  if (bitsPerPixel_ != 16 || src.bitsPerPixel_ != 16 || !bits_ || !src.bits_) return false;
  if (alpha == 0) return true;
  int dx = std::max(x, 0);
  int dy = std::max(y, 0);
  int sx = srcX - std::min(x, 0);
  int sy = srcY - std::min(y, 0);
  if (sx < 0 || sy < 0) return false;
  int rows = std::min({h + std::min(y, 0), src.height_ - sy, height_ - dy});
  int cols = std::min({w + std::min(x, 0), src.width_ - sx, width_ - dx});
  if (rows <= 0 || cols <= 0) return true;
  bool copy = alpha == -1;
  int a = alpha & 0xFF;
  for (int r = 0; r < rows; ++r) {
    auto* d = reinterpret_cast<std::uint16_t*>(Row(dy + r)) + dx;
    const auto* s = reinterpret_cast<const std::uint16_t*>(src.Row(sy + r)) + sx;
    if (copy) {
      std::memmove(d, s, static_cast<std::size_t>(cols) * 2);
    } else {
      for (int i = 0; i < cols; ++i) BlendPixel565(d[i], s[i], a);
    }
  }
  return true;
}

bool CBitmapBuffer::DrawBitmap(const RECT& r, CBitmapBuffer& src, int srcX, int srcY, bool dimmed) {
  int w = r.right - r.left;
  int h = r.bottom - r.top;
  int alpha = dimmed ? 64 : -1;
  if (src.bitsPerPixel_ == 16) return BlendFrom(r.left, r.top, w, h, src, srcX, srcY, alpha);
  // The converted copy covers only what the source holds, as a 16-bit
  // source would be clipped.
  if (srcX < 0 || srcY < 0) return false;
  w = std::min(w, src.width_ - srcX);
  h = std::min(h, src.height_ - srcY);
  if (w <= 0 || h <= 0) return true;
  CBitmapBuffer converted;
  if (!converted.Create(w, h, kRgb565)) return false;
  HDC from = src.GetDC();
  HDC to = converted.GetDC();
  if (!from || !to) return false;
  if (!DeviceBitBlt(to, 0, 0, w, h, from, srcX, srcY, SRCCOPY)) return false;
  return BlendFrom(r.left, r.top, w, h, converted, 0, 0, alpha);
}
