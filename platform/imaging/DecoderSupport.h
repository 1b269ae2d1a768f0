// What the image decoders share: the checks every reader makes before it
// allocates, the pixel helpers, and the DIB reader that BMP files and ICO
// images have in common.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/imaging/Imaging.h"

namespace plat::imaging {

constexpr int kMaxSide = 16384;

inline bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

inline bool WithinBudget(std::uint64_t w, std::uint64_t h, std::uint64_t maxPixels) {
  return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= maxPixels;
}

inline std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetLe32(p)); }

inline std::uint32_t Argb(unsigned a, unsigned r, unsigned g, unsigned b) {
  return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(r) << 16) |
         (static_cast<std::uint32_t>(g) << 8) | b;
}

inline void NoteAlpha(DecodedImage& img) {
  img.hasAlpha = std::any_of(img.pixels.begin(), img.pixels.end(), [](std::uint32_t p) { return (p >> 24) != 0xFF; });
}

struct DibLayout {
  int width = 0, height = 0;  // height > 0
  bool topDown = false;
  int bpp = 0;
  int rle = 0;  // 8 or 4: run-length encoded rows
  std::uint32_t masks[4] = {0, 0, 0, 0};  // r, g, b, a
  std::vector<std::uint32_t> palette;     // 0xFFRRGGBB
};

// Reads the pixel rows (stride padded to 4 bytes) at `pixels`, which holds
// `avail` bytes; alpha from a mask or the 32-bit X byte when any is non-zero.
bool ReadDibPixels(const DibLayout& l, const std::uint8_t* pixels, std::size_t avail, DecodedImage& out,
                   bool alphaFromX);

// Reads a DIB header at `base`; `iconHeight` > 0: an icon image of that
// height, whose header counts the mask rows too.
bool ParseDibHeader(const std::uint8_t* base, std::size_t avail, DibLayout& l, std::size_t& headerEnd,
                    int iconHeight, std::uint64_t maxPixels, const char** why);

// Each format's reader; `data` starts with the format's signature.
bool DecodePng(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels);
bool DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
                std::uint64_t maxPixels);
bool DecodeGif(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels);
bool DecodeBmp(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels);
bool DecodeIco(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels);

}  // namespace plat::imaging
