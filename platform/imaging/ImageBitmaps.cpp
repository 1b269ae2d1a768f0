// Bitmaps and icons made of decoded images, and their scaling.
#include <algorithm>
#include <cstring>

#include "platform/imaging/DecoderSupport.h"

namespace plat {

using namespace imaging;

HBITMAP CreateDibFromImage(const DecodedImage& image, int bitsPerPixel) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height ||
      (bitsPerPixel != 24 && bitsPerPixel != 32))
    return nullptr;
  BITMAPINFO bi{};
  bi.bmiHeader = DibHeader(image.width, image.height, bitsPerPixel);  // bottom-up
  void* bits = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!b) return nullptr;
  std::size_t stride = static_cast<std::size_t>(DibStride(bitsPerPixel, image.width));
  auto* base = static_cast<std::uint8_t*>(bits);
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = base + (image.height - 1 - y) * stride;
    const std::uint32_t* src = image.pixels.data() + static_cast<std::size_t>(y) * image.width;
    for (int x = 0; x < image.width; ++x) {
      std::uint32_t p = src[x];
      unsigned a = p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, bl = p & 0xFF;
      if (bitsPerPixel == 24) {
        row[3 * x] = static_cast<std::uint8_t>(bl);
        row[3 * x + 1] = static_cast<std::uint8_t>(g);
        row[3 * x + 2] = static_cast<std::uint8_t>(r);
      } else {
        row[4 * x] = static_cast<std::uint8_t>((bl * a + 127) / 255);
        row[4 * x + 1] = static_cast<std::uint8_t>((g * a + 127) / 255);
        row[4 * x + 2] = static_cast<std::uint8_t>((r * a + 127) / 255);
        row[4 * x + 3] = static_cast<std::uint8_t>(a);
      }
    }
  }
  return b;
}

DecodedImage ScaleImage(const DecodedImage& src, int width, int height) {
  DecodedImage out;
  if (src.width <= 0 || src.height <= 0 || width <= 0 || height <= 0 ||
      src.pixels.size() != static_cast<std::size_t>(src.width) * src.height)
    return out;
  out.width = width;
  out.height = height;
  out.format = src.format;
  out.pixels.resize(static_cast<std::size_t>(width) * height);
  // Box filter when shrinking, nearest pixel when growing; colours weighted by alpha.
  for (int y = 0; y < height; ++y) {
    int y0 = static_cast<int>(static_cast<long long>(y) * src.height / height);
    int y1 = std::max(y0 + 1, static_cast<int>((static_cast<long long>(y) + 1) * src.height / height));
    for (int x = 0; x < width; ++x) {
      int x0 = static_cast<int>(static_cast<long long>(x) * src.width / width);
      int x1 = std::max(x0 + 1, static_cast<int>((static_cast<long long>(x) + 1) * src.width / width));
      unsigned long long sa = 0, sr = 0, sg = 0, sb = 0, n = 0;
      for (int yy = y0; yy < y1; ++yy)
        for (int xx = x0; xx < x1; ++xx) {
          std::uint32_t p = src.pixels[static_cast<std::size_t>(yy) * src.width + xx];
          unsigned a = p >> 24;
          sa += a;
          sr += ((p >> 16) & 0xFF) * a;
          sg += ((p >> 8) & 0xFF) * a;
          sb += (p & 0xFF) * a;
          ++n;
        }
      std::uint32_t px = 0;
      if (sa > 0)
        px = Argb(static_cast<unsigned>((sa + n / 2) / n), static_cast<unsigned>((sr + sa / 2) / sa),
                  static_cast<unsigned>((sg + sa / 2) / sa), static_cast<unsigned>((sb + sa / 2) / sa));
      out.pixels[static_cast<std::size_t>(y) * width + x] = px;
    }
  }
  NoteAlpha(out);
  return out;
}

HICON CreateIconFromImage(const DecodedImage& image) {
  HBITMAP colour = CreateDibFromImage(image, 32);
  if (!colour) return nullptr;
  // Undo the premultiplication: icons carry straight alpha.
  DIBSECTION ds{};
  GetObjectW(colour, sizeof(ds), &ds);
  auto* px = static_cast<std::uint8_t*>(ds.dsBm.bmBits);
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = px + static_cast<std::size_t>(image.height - 1 - y) * ds.dsBm.bmWidthBytes;
    for (int x = 0; x < image.width; ++x) {
      std::uint32_t p = image.pixels[static_cast<std::size_t>(y) * image.width + x];
      row[4 * x] = static_cast<std::uint8_t>(p);
      row[4 * x + 1] = static_cast<std::uint8_t>(p >> 8);
      row[4 * x + 2] = static_cast<std::uint8_t>(p >> 16);
      row[4 * x + 3] = static_cast<std::uint8_t>(p >> 24);
    }
  }
  DibInfo mi(image.width, image.height, 1);
  mi.bmiColors[1] = RGBQUAD{255, 255, 255, 0};
  void* maskBits = nullptr;
  HBITMAP mask = CreateDIBSection(nullptr, mi.get(), DIB_RGB_COLORS, &maskBits, nullptr, 0);
  if (!mask) {
    DeleteObject(colour);
    return nullptr;
  }
  std::size_t maskStride = static_cast<std::size_t>(DibStride(1, image.width));
  auto* mb = static_cast<std::uint8_t*>(maskBits);
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = mb + static_cast<std::size_t>(image.height - 1 - y) * maskStride;
    for (int x = 0; x < image.width; ++x)
      if ((image.pixels[static_cast<std::size_t>(y) * image.width + x] >> 24) == 0)
        row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80u >> (x & 7)));
  }
  ICONINFO ii{plat::TRUE, 0, 0, mask, colour};
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(mask);
  DeleteObject(colour);
  return icon;
}

HICON CreateIconFromIcoData(const void* data, std::size_t size, int cx, int cy) {
  std::vector<IcoEntry> entries = ListIcoEntries(data, size);
  if (entries.empty()) return nullptr;
  if (cx <= 0 || cy <= 0) {
    cx = entries[0].width;
    cy = entries[0].height;
  }
  // Exact size (deepest first), else the nearest larger, else the largest.
  long long bestScore = -1;
  std::size_t best = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const IcoEntry& e = entries[i];
    long long score;
    if (e.width == cx && e.height == cy) score = 3'000'000'000LL + e.bitCount;
    else if (e.width >= cx && e.height >= cy) score = 2'000'000'000LL - static_cast<long long>(e.width) * e.height * 64 + e.bitCount;
    else score = 1'000'000'000LL + static_cast<long long>(e.width) * e.height * 64 + e.bitCount;
    if (score > bestScore) {
      bestScore = score;
      best = i;
    }
  }
  DecodedImage img;
  if (!DecodeIcoEntry(data, size, best, img, nullptr)) return nullptr;
  if (img.width != cx || img.height != cy) img = ScaleImage(img, cx, cy);
  return CreateIconFromImage(img);
}

}  // namespace plat
