// Writers of small image files for the imaging tests and benchmarks: PNG,
// JPEG and GIF through their libraries, BMP and ICO by hand. Pixels are
// 0xAARRGGBB, top row first.
#pragma once

#include <gif_lib.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#undef TRUE
#undef FALSE

#include "platform/base/Endian.h"
#include "platform/gdi/Gdi.h"

namespace imgtest {

using plat::PutLe16;
using plat::PutLe32;

using Pixels = std::vector<std::uint32_t>;


inline std::string Png(int w, int h, const Pixels& px) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_BGRA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, px.data(), 0, nullptr)) return {};
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, px.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

inline std::string Jpeg(int w, int h, const Pixels& px, int quality = 95) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, 1);
  jpeg_start_compress(&c, 1);
  std::vector<unsigned char> row(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint32_t p = px[static_cast<std::size_t>(y) * w + x];
      row[3 * x] = static_cast<unsigned char>(p >> 16);
      row[3 * x + 1] = static_cast<unsigned char>(p >> 8);
      row[3 * x + 2] = static_cast<unsigned char>(p);
    }
    JSAMPROW r[1] = {row.data()};
    jpeg_write_scanlines(&c, r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string out(reinterpret_cast<char*>(mem), size);
  std::free(mem);
  return out;
}

// A GIF of one or more frames over a palette of up to 256 colours (0xRRGGBB);
// frames are palette indices; `transparent` (or -1) marks an index.
inline std::string Gif(int w, int h, const std::vector<std::uint32_t>& palette,
                       const std::vector<std::vector<std::uint8_t>>& frames, int transparent = -1) {
  std::string out;
  auto write = [](GifFileType* g, const GifByteType* b, int n) -> int {
    static_cast<std::string*>(g->UserData)->append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
    return n;
  };
  int err = 0;
  GifFileType* g = EGifOpen(&out, write, &err);
  if (!g) return {};
  int n = 2;
  while (n < static_cast<int>(palette.size())) n *= 2;
  ColorMapObject* map = GifMakeMapObject(n, nullptr);
  for (std::size_t i = 0; i < palette.size(); ++i) {
    map->Colors[i].Red = static_cast<GifByteType>(palette[i] >> 16);
    map->Colors[i].Green = static_cast<GifByteType>(palette[i] >> 8);
    map->Colors[i].Blue = static_cast<GifByteType>(palette[i]);
  }
  EGifSetGifVersion(g, true);
  EGifPutScreenDesc(g, w, h, 8, 0, map);
  for (const auto& frame : frames) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.DelayTime = 10;
    gcb.TransparentColor = transparent;
    GifByteType ext[4];
    std::size_t len = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext);
    EGifPutImageDesc(g, 0, 0, w, h, false, nullptr);
    for (int y = 0; y < h; ++y)
      EGifPutLine(g, const_cast<GifPixelType*>(frame.data() + static_cast<std::size_t>(y) * w), w);
  }
  EGifCloseFile(g, &err);
  GifFreeMapObject(map);
  return out;
}

// DIB rows (no file header) of 1, 4, 8 (grey palette of 2^bpp entries: the
// pixel's blue byte picks the nearest), 24 or 32 bits.
inline std::string DibBits(int w, int h, int bpp, const Pixels& px, bool topDown) {
  int stride = static_cast<int>(plat::DibStride(bpp, w));
  std::string bits(static_cast<std::size_t>(stride) * h, '\0');
  for (int y = 0; y < h; ++y) {
    char* row = bits.data() + static_cast<std::size_t>(topDown ? y : h - 1 - y) * stride;
    for (int x = 0; x < w; ++x) {
      std::uint32_t p = px[static_cast<std::size_t>(y) * w + x];
      if (bpp <= 8) {
        int levels = (1 << bpp) - 1;
        unsigned idx = ((p & 0xFF) * levels + 127) / 255;
        if (bpp == 1) row[x >> 3] = static_cast<char>(row[x >> 3] | (idx << (7 - (x & 7))));
        else if (bpp == 4) row[x >> 1] = static_cast<char>(row[x >> 1] | (idx << ((x & 1) ? 0 : 4)));
        else row[x] = static_cast<char>(idx);
      } else {
        int n = bpp / 8;
        for (int k = 0; k < n; ++k) row[x * n + k] = static_cast<char>((p >> (8 * k)) & 0xFF);
      }
    }
  }
  return bits;
}

inline std::string GreyPalette(int bpp) {
  std::string pal;
  if (bpp > 8) return pal;
  int n = 1 << bpp;
  for (int i = 0; i < n; ++i) {
    char v = static_cast<char>(i * 255 / (n - 1));
    pal += std::string{v, v, v, '\0'};
  }
  return pal;
}

inline std::string InfoHeader(int w, int h, int bpp, std::uint32_t imageSize) {
  std::string s;
  PutLe32(s, 40);
  PutLe32(s, static_cast<std::uint32_t>(w));
  PutLe32(s, static_cast<std::uint32_t>(h));
  PutLe16(s, 1);
  PutLe16(s, static_cast<unsigned>(bpp));
  PutLe32(s, 0);  // BI_RGB
  PutLe32(s, imageSize);
  PutLe32(s, 3780);
  PutLe32(s, 3780);
  PutLe32(s, 0);
  PutLe32(s, 0);
  return s;
}

inline std::string Bmp(int w, int h, int bpp, const Pixels& px, bool topDown) {
  std::string bits = DibBits(w, h, bpp, px, topDown);
  std::string pal = GreyPalette(bpp);
  std::string info = InfoHeader(w, topDown ? -h : h, bpp, static_cast<std::uint32_t>(bits.size()));
  std::string file = "BM";
  std::uint32_t off = static_cast<std::uint32_t>(14 + info.size() + pal.size());
  PutLe32(file, off + static_cast<std::uint32_t>(bits.size()));
  PutLe32(file, 0);
  PutLe32(file, off);
  return file + info + pal + bits;
}

struct IcoImage {
  int size;  // square
  int bpp;   // 4, 8 (grey palettes), 24 or 32
  Pixels px; // alpha 0 pixels are transparent (AND mask set); 32 bits keep alpha
};

inline std::string Ico(const std::vector<IcoImage>& images) {
  std::string dir, data;
  PutLe16(dir, 0);
  PutLe16(dir, 1);
  PutLe16(dir, static_cast<unsigned>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const IcoImage& im : images) {
    int s = im.size;
    std::string bits = DibBits(s, s, im.bpp, im.px, false);
    int maskStride = static_cast<int>(plat::DibStride(1, s));
    std::string mask(static_cast<std::size_t>(maskStride) * s, '\0');
    for (int y = 0; y < s; ++y)
      for (int x = 0; x < s; ++x)
        if ((im.px[static_cast<std::size_t>(y) * s + x] >> 24) == 0)
          mask[static_cast<std::size_t>(s - 1 - y) * maskStride + (x >> 3)] |= static_cast<char>(0x80 >> (x & 7));
    std::string img = InfoHeader(s, 2 * s, im.bpp, 0) + GreyPalette(im.bpp) + bits + mask;
    dir.push_back(static_cast<char>(s >= 256 ? 0 : s));
    dir.push_back(static_cast<char>(s >= 256 ? 0 : s));
    dir.push_back(0);
    dir.push_back(0);
    PutLe16(dir, 1);
    PutLe16(dir, static_cast<unsigned>(im.bpp));
    PutLe32(dir, static_cast<std::uint32_t>(img.size()));
    PutLe32(dir, offset);
    offset += static_cast<std::uint32_t>(img.size());
    data += img;
  }
  return dir + data;
}

inline Pixels Solid(int w, int h, std::uint32_t p) { return Pixels(static_cast<std::size_t>(w) * h, p); }

// A picture with some structure: quadrants of four colours.
inline Pixels Quadrants(int w, int h, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  Pixels px(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[static_cast<std::size_t>(y) * w + x] = (y < h / 2) ? (x < w / 2 ? a : b) : (x < w / 2 ? c : d);
  return px;
}

}  // namespace imgtest
