// Bitmaps and DIB sections: pixel access in every format, creation, colour
// tables, reading the pixels back and PNG output.
#include <png.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace plat {

namespace gdi {

namespace {

constexpr int kMaxSide = 16384;
constexpr std::int64_t kMaxPixels = 64ll * 1024 * 1024;

int MaskShift(DWORD m) {
  if (m == 0) return 0;
  int s = 0;
  while (!(m & 1u)) {
    m >>= 1;
    ++s;
  }
  return s;
}
int MaskBits(DWORD m) {
  int n = 0;
  while (m) {
    n += m & 1u;
    m >>= 1;
  }
  return n;
}

}  // namespace

DWORD Bitmap::GetRaw(int x, int y) const {
  const std::uint8_t* row = Row(y);
  switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
    case 8: return row[x];
    case 16: return static_cast<DWORD>(row[2 * x]) | (static_cast<DWORD>(row[2 * x + 1]) << 8);
    case 24: return static_cast<DWORD>(row[3 * x]) | (static_cast<DWORD>(row[3 * x + 1]) << 8) |
                    (static_cast<DWORD>(row[3 * x + 2]) << 16);
    case 32: {
      DWORD v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
  }
  return 0;
}

void Bitmap::PutRaw(int x, int y, DWORD raw) {
  std::uint8_t* row = Row(y);
  switch (bpp) {
    case 1: {
      std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
      if (raw & 1u) row[x >> 3] |= bit; else row[x >> 3] &= static_cast<std::uint8_t>(~bit);
      break;
    }
    case 4:
      if (x & 1) row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0u) | (raw & 0x0Fu));
      else row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0Fu) | ((raw & 0x0Fu) << 4));
      break;
    case 8: row[x] = static_cast<std::uint8_t>(raw); break;
    case 16:
      row[2 * x] = static_cast<std::uint8_t>(raw);
      row[2 * x + 1] = static_cast<std::uint8_t>(raw >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<std::uint8_t>(raw);
      row[3 * x + 1] = static_cast<std::uint8_t>(raw >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(raw >> 16);
      break;
    case 32: std::memcpy(row + 4 * x, &raw, 4); break;
  }
}

DWORD Bitmap::RawToRgb(DWORD raw) const {
  if (bpp <= 8) {
    if (raw >= palette.size()) return 0;
    const RGBQUAD& q = palette[raw];
    return (static_cast<DWORD>(q.rgbRed) << 16) | (static_cast<DWORD>(q.rgbGreen) << 8) | q.rgbBlue;
  }
  if (bpp == 24) return raw & 0xFFFFFFu;
  DWORD out = 0;
  for (int c = 0; c < 3; ++c) {
    DWORD v = (raw & masks[c]) >> shift[c];
    int b = bitsOf[c];
    DWORD v8 = b >= 8 ? (v >> (b - 8)) : (v << (8 - b));
    out |= (v8 & 0xFFu) << (16 - 8 * c);
  }
  return out;
}

DWORD Bitmap::RgbToRaw(DWORD rgb) const {
  rgb &= 0xFFFFFFu;
  if (bpp <= 8) {
    std::uint64_t last = lastLookup.load(std::memory_order_relaxed);
    if (static_cast<DWORD>(last >> 32) == rgb) return static_cast<DWORD>(last & 0xFFFFFFFFu);
    int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    DWORD best = 0;
    long bestD = LONG_MAX;
    for (std::size_t i = 0; i < palette.size(); ++i) {
      long dr = r - palette[i].rgbRed, dg = g - palette[i].rgbGreen, db = b - palette[i].rgbBlue;
      long d = dr * dr + dg * dg + db * db;
      if (d < bestD) {
        bestD = d;
        best = static_cast<DWORD>(i);
        if (d == 0) break;
      }
    }
    lastLookup.store((static_cast<std::uint64_t>(rgb) << 32) | best, std::memory_order_relaxed);
    return best;
  }
  if (bpp == 24) return rgb;
  DWORD out = 0;
  for (int c = 0; c < 3; ++c) {
    DWORD v8 = (rgb >> (16 - 8 * c)) & 0xFFu;
    int b = bitsOf[c];
    DWORD v = b >= 8 ? (v8 << (b - 8)) : (v8 >> (8 - b));
    out |= (v << shift[c]) & masks[c];
  }
  return out;
}

bool Bitmap::SameFormat(const Bitmap& o) const {
  if (bpp != o.bpp) return false;
  if (bpp <= 8) {
    if (IsMonoDdb() != o.IsMonoDdb()) return false;
    if (palette.size() != o.palette.size()) return false;
    return std::memcmp(palette.data(), o.palette.data(), palette.size() * sizeof(RGBQUAD)) == 0;
  }
  return masks[0] == o.masks[0] && masks[1] == o.masks[1] && masks[2] == o.masks[2];
}

Bitmap* NewBitmap(int width, int height, int bpp, bool topDown, bool isDib, const BITMAPINFO* info, void* external) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<std::int64_t>(width) * height > kMaxPixels)
    return nullptr;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
  auto* b = new Bitmap();
  b->width = width;
  b->height = height;
  b->bpp = bpp;
  b->stride = static_cast<int>(DibStride(bpp, width));
  b->topDown = topDown;
  b->isDib = isDib;
  DWORD compression = info ? info->bmiHeader.biCompression : BI_RGB;
  if (bpp <= 8) {
    std::size_t n = std::size_t{1} << bpp;
    if (info && info->bmiHeader.biClrUsed != 0 && info->bmiHeader.biClrUsed < n) n = info->bmiHeader.biClrUsed;
    b->palette.resize(n);
    if (info) {
      std::memcpy(b->palette.data(), info->bmiColors, n * sizeof(RGBQUAD));
      for (auto& q : b->palette) q.rgbReserved = 0;
    } else if (bpp == 1) {
      b->palette[0] = RGBQUAD{0, 0, 0, 0};
      b->palette[1] = RGBQUAD{255, 255, 255, 0};
    }
  } else if (bpp == 16 || bpp == 32) {
    if (compression == BI_BITFIELDS && info) {
      std::memcpy(b->masks, info->bmiColors, sizeof(b->masks));
    } else if (bpp == 16) {
      b->masks[0] = 0x7C00;
      b->masks[1] = 0x03E0;
      b->masks[2] = 0x001F;
    } else {
      b->masks[0] = 0xFF0000;
      b->masks[1] = 0x00FF00;
      b->masks[2] = 0x0000FF;
    }
    for (int c = 0; c < 3; ++c) {
      b->shift[c] = MaskShift(b->masks[c]);
      b->bitsOf[c] = MaskBits(b->masks[c]);
    }
  }
  if (info) {
    b->header = info->bmiHeader;
  } else {
    b->header = DibHeader(width, topDown ? -height : height, bpp, (bpp == 16) ? BI_BITFIELDS : BI_RGB);
  }
  b->header.biSizeImage = static_cast<DWORD>(b->stride) * static_cast<DWORD>(height);
  if (external) {
    b->bits = static_cast<std::uint8_t*>(external);
  } else {
    b->storage.assign(static_cast<std::size_t>(b->stride) * height, 0);
    b->bits = b->storage.data();
  }
  RegisterLive(static_cast<GdiObject*>(b));
  return b;
}

Bitmap* StockMonoBitmap() {
  static Bitmap* stock = [] {
    Bitmap* b = NewBitmap(1, 1, 1, true, false, nullptr, nullptr);
    b->isStock = true;
    return b;
  }();
  return stock;
}

Bitmap* NewRgb565Bitmap(int w, int h, bool isDib) {
  const DibInfo bi = Rgb565DibInfo(w, h);
  return NewBitmap(w, h, 16, true, isDib, bi.get(), nullptr);
}

DWORD ConvertPixel(const Bitmap& src, DWORD srcRaw, const Dc* srcDc, const Bitmap& dst, const Dc* dstDc) {
  if (src.SameFormat(dst)) return srcRaw;
  if (src.IsMonoDdb()) {
    COLORREF c = srcRaw ? (dstDc ? dstDc->st.bkColour : RGB(255, 255, 255)) : (dstDc ? dstDc->st.textColour : 0);
    DWORD rgb = (static_cast<DWORD>(GetRValue(c)) << 16) | (static_cast<DWORD>(GetGValue(c)) << 8) | GetBValue(c);
    return dst.RgbToRaw(rgb);
  }
  DWORD rgb = src.RawToRgb(srcRaw);
  if (dst.IsMonoDdb()) {
    COLORREF bk = srcDc ? srcDc->st.bkColour : RGB(255, 255, 255);
    DWORD bkRgb = (static_cast<DWORD>(GetRValue(bk)) << 16) | (static_cast<DWORD>(GetGValue(bk)) << 8) | GetBValue(bk);
    // Compare in the source's own precision.
    return src.RawToRgb(src.RgbToRaw(bkRgb)) == rgb ? 1u : 0u;
  }
  return dst.RgbToRaw(rgb);
}

}  // namespace gdi

using namespace gdi;

static bool ValidHeader(const BITMAPINFO* info) {
  if (!info) return false;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
  if (h.biPlanes != 1) return false;
  switch (h.biBitCount) {
    case 1: case 4: case 8: case 24:
      return h.biCompression == BI_RGB;
    case 16: case 32:
      return h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS;
  }
  return false;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, void*, DWORD) {
  if (bits) *bits = nullptr;
  if (!ValidHeader(info) || usage != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  Bitmap* b = NewBitmap(h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight, h.biBitCount, h.biHeight < 0, true,
                        info, nullptr);
  if (!b) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bits) *bits = b->bits;
  return b;
}

HBITMAP CreateDIBSectionOnMemory(const BITMAPINFO* info, void* bits) {
  if (!ValidHeader(info) || !bits) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  return NewBitmap(h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight, h.biBitCount, h.biHeight < 0, true, info,
                   bits);
}

static Bitmap* NewScreenDdb(int w, int h) { return NewRgb565Bitmap(w, h, false); }

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  if (width <= 0 || height <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Dc* dc = AsDc(hdc);
  if (hdc && !dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (dc && !dc->isScreen && dc->st.bitmap && dc->st.bitmap->IsMonoDdb())
    return NewBitmap(width, height, 1, true, false, nullptr, nullptr);
  return NewScreenDdb(width, height);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Bitmap* b = nullptr;
  if (bitsPerPixel == 1) b = NewBitmap(width, height, 1, true, false, nullptr, nullptr);
  else if (bitsPerPixel == 16) b = NewScreenDdb(width, height);
  if (!b) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bits) {
    int srcStride = ((b->bpp * width + 15) / 16) * 2;
    const auto* p = static_cast<const std::uint8_t*>(bits);
    for (int y = 0; y < height; ++y) std::memcpy(b->Row(y), p + static_cast<std::ptrdiff_t>(y) * srcStride, std::min(srcStride, b->stride));
  }
  return b;
}

UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors) {
  Dc* dc = AsDc(hdc);
  Bitmap* b = dc ? dc->Target() : nullptr;
  if (!b || !b->isDib || b->bpp > 8 || !colors) return 0;
  UINT n = 0;
  for (UINT i = start; i < b->palette.size() && n < count; ++i, ++n) colors[n] = b->palette[i];
  return n;
}

UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors) {
  Dc* dc = AsDc(hdc);
  Bitmap* b = dc ? dc->Target() : nullptr;
  if (!b || !b->isDib || b->bpp > 8 || !colors) return 0;
  UINT n = 0;
  for (UINT i = start; i < b->palette.size() && n < count; ++i, ++n) {
    b->palette[i] = colors[n];
    b->palette[i].rgbReserved = 0;
  }
  b->ForgetLookups();
  return n;
}

PixelImage ReadBitmapPixels(HBITMAP bitmap) {
  PixelImage img;
  Bitmap* b = AsBitmap(bitmap);
  if (!b) return img;
  img.width = b->width;
  img.height = b->height;
  img.pixels.resize(static_cast<std::size_t>(b->width) * b->height);
  for (int y = 0; y < b->height; ++y)
    for (int x = 0; x < b->width; ++x) {
      DWORD raw = b->GetRaw(x, y);
      DWORD rgb = b->RawToRgb(raw);
      if (b->bpp == 32) rgb |= raw & 0xFF000000u;
      img.pixels[static_cast<std::size_t>(y) * b->width + x] = rgb;
    }
  return img;
}

static bool WritePng(const Bitmap& b, const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(b.width);
  image.height = static_cast<png_uint_32>(b.height);
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(b.width) * b.height * 3);
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      DWORD c = b.GetRgb(x, y);
      std::size_t o = (static_cast<std::size_t>(y) * b.width + x) * 3;
      rgb[o] = static_cast<std::uint8_t>(c >> 16);
      rgb[o + 1] = static_cast<std::uint8_t>(c >> 8);
      rgb[o + 2] = static_cast<std::uint8_t>(c);
    }
  // Written beside the file under a name of this writer's own, then renamed
  // over it: two processes saving the same picture never share a partial file.
  static std::atomic<unsigned> serial{0};
  const std::string tmp = path + "." + std::to_string(getpid()) + "." + std::to_string(serial++) + ".tmp";
  if (!png_image_write_to_file(&image, tmp.c_str(), 0, rgb.data(), 0, nullptr)) {
    std::remove(tmp.c_str());
    return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool SaveBitmapPng(HBITMAP bitmap, const std::string& hostPath) {
  Bitmap* b = AsBitmap(bitmap);
  return b && WritePng(*b, hostPath);
}

}  // namespace plat
