// DIB pixels, of BMP files and of ICO images, read by our own code.
#include <cstring>

#include "platform/imaging/DecoderSupport.h"

namespace plat::imaging {

namespace {

int ShiftOf(std::uint32_t m) {
  int s = 0;
  if (!m) return 0;
  while (!(m & 1u)) {
    m >>= 1;
    ++s;
  }
  return s;
}
int BitsOf(std::uint32_t m) {
  int n = 0;
  while (m) {
    n += static_cast<int>(m & 1u);
    m >>= 1;
  }
  return n;
}
unsigned Channel(std::uint32_t v, std::uint32_t mask) {
  if (!mask) return 0;
  std::uint32_t c = (v & mask) >> ShiftOf(mask);
  int bits = BitsOf(mask);
  if (bits >= 8) return c >> (bits - 8);
  // Widen with the top bits repeated, so full scale stays 255.
  std::uint32_t out = 0;
  int have = 0;
  while (have < 8) {
    out = (out << bits) | c;
    have += bits;
  }
  return out >> (have - 8);
}

// Run-length encoded rows (8 or 4 bits): runs, line ends, deltas and
// literal runs; pixels never written take colour 0. The data must end with
// its end-of-bitmap mark.
bool ReadRlePixels(const DibLayout& l, const std::uint8_t* p, std::size_t avail, DecodedImage& out) {
  out.width = l.width;
  out.height = l.height;
  std::uint32_t background = l.palette.empty() ? 0xFF000000u : l.palette[0];
  out.pixels.assign(static_cast<std::size_t>(l.width) * l.height, background);
  auto put = [&](int x, int row, unsigned idx) {
    if (x < 0 || x >= l.width || row < 0 || row >= l.height) return;
    out.pixels[static_cast<std::size_t>(l.height - 1 - row) * l.width + x] = idx < l.palette.size() ? l.palette[idx] : 0xFF000000u;
  };
  int x = 0, row = 0;  // row counts from the bottom
  std::size_t i = 0;
  while (i + 2 <= avail) {
    unsigned count = p[i], value = p[i + 1];
    i += 2;
    if (count > 0) {
      for (unsigned k = 0; k < count; ++k, ++x)
        put(x, row, l.rle == 8 ? value : ((k & 1) ? (value & 0x0F) : (value >> 4)));
      continue;
    }
    if (value == 0) {
      x = 0;
      ++row;
    } else if (value == 1) {
      return true;
    } else if (value == 2) {
      if (i + 2 > avail) return false;
      x += p[i];
      row += p[i + 1];
      i += 2;
    } else {
      std::size_t bytes = l.rle == 8 ? value : (value + 1) / 2;
      std::size_t padded = (bytes + 1) & ~std::size_t{1};
      if (i + padded > avail) return false;
      for (unsigned k = 0; k < value; ++k, ++x)
        put(x, row, l.rle == 8 ? p[i + k] : ((k & 1) ? (p[i + k / 2] & 0x0F) : (p[i + k / 2] >> 4)));
      i += padded;
    }
    if (row > l.height) return false;
  }
  return false;  // no end-of-bitmap mark: truncated
}

}  // namespace

// Reads the pixel rows (stride padded to 4 bytes) at `pixels`, which holds
// `avail` bytes; alpha from a mask or the 32-bit X byte when any is non-zero.
bool ReadDibPixels(const DibLayout& l, const std::uint8_t* pixels, std::size_t avail, DecodedImage& out,
                   bool alphaFromX) {
  std::uint64_t stride = DibStride(static_cast<std::uint64_t>(l.bpp), static_cast<std::uint64_t>(l.width));
  if (stride * l.height > avail) return false;
  out.width = l.width;
  out.height = l.height;
  out.pixels.assign(static_cast<std::size_t>(l.width) * l.height, 0);
  bool anyX = false;
  for (int y = 0; y < l.height; ++y) {
    const std::uint8_t* row = pixels + (l.topDown ? y : l.height - 1 - y) * stride;
    std::uint32_t* dst = out.pixels.data() + static_cast<std::size_t>(y) * l.width;
    for (int x = 0; x < l.width; ++x) {
      std::uint32_t px;
      switch (l.bpp) {
        case 1:
        case 4:
        case 8: {
          unsigned idx;
          if (l.bpp == 1) idx = (row[x >> 3] >> (7 - (x & 7))) & 1u;
          else if (l.bpp == 4) idx = (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
          else idx = row[x];
          px = idx < l.palette.size() ? l.palette[idx] : 0xFF000000u;
          break;
        }
        case 16: {
          std::uint32_t v = GetLe16(row + 2 * x);
          px = Argb(255, Channel(v, l.masks[0]), Channel(v, l.masks[1]), Channel(v, l.masks[2]));
          break;
        }
        case 24: px = Argb(255, row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
        default: {
          std::uint32_t v = GetLe32(row + 4 * x);
          unsigned a = 255;
          if (l.masks[3]) a = Channel(v, l.masks[3]);
          else if (alphaFromX) {
            a = v >> 24;
            if (a) anyX = true;
          }
          px = Argb(a, Channel(v, l.masks[0]), Channel(v, l.masks[1]), Channel(v, l.masks[2]));
        }
      }
      dst[x] = px;
    }
  }
  // A 32-bit image whose spare bytes are all zero is opaque.
  if (l.bpp == 32 && alphaFromX && !l.masks[3] && !anyX)
    for (auto& p : out.pixels) p |= 0xFF000000u;
  return true;
}

// Parses an info header (40 bytes or more, or the 12-byte core header) with its
// masks and palette; `base` is where the header starts, `end` the data's end.
// `iconHeight` > 0: an icon image of that height, whose header counts the
// mask rows too (a header that gives the height alone is taken as it is).
bool ParseDibHeader(const std::uint8_t* base, std::size_t avail, DibLayout& l, std::size_t& headerEnd,
                    int iconHeight, std::uint64_t maxPixels, const char** why) {
  if (avail < 12) return false;
  std::uint32_t hs = GetLe32(base);
  std::int64_t w, h;
  int planes, bpp;
  std::uint32_t compression = 0, clrUsed = 0;
  int paletteEntrySize = 4;
  if (hs == 12) {
    w = GetLe16(base + 4);
    h = static_cast<std::int16_t>(GetLe16(base + 6));
    planes = GetLe16(base + 8);
    bpp = GetLe16(base + 10);
    paletteEntrySize = 3;
  } else {
    if (hs < 40 || hs > avail) return false;
    w = I32(base + 4);
    h = I32(base + 8);
    planes = GetLe16(base + 12);
    bpp = GetLe16(base + 14);
    compression = GetLe32(base + 16);
    clrUsed = GetLe32(base + 32);
  }
  (void)planes;
  if (iconHeight > 0 && h != iconHeight) h /= 2;  // colour rows, then mask rows
  if (w <= 0 || h == 0) return false;
  l.topDown = h < 0;
  if (h < 0) h = -h;
  if (!WithinBudget(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h), maxPixels)) {
    *why = "image too large";
    return false;
  }
  l.width = static_cast<int>(w);
  l.height = static_cast<int>(h);
  l.bpp = bpp;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  std::size_t pos = hs;
  if (compression == 3 /* BI_BITFIELDS */) {
    if (bpp != 16 && bpp != 32) return false;
    if (hs >= 52) {
      l.masks[0] = GetLe32(base + 40);
      l.masks[1] = GetLe32(base + 44);
      l.masks[2] = GetLe32(base + 48);
      if (hs >= 56) l.masks[3] = GetLe32(base + 52);
    } else {
      if (avail < pos + 12) return false;
      l.masks[0] = GetLe32(base + pos);
      l.masks[1] = GetLe32(base + pos + 4);
      l.masks[2] = GetLe32(base + pos + 8);
      pos += 12;
    }
  } else if (compression == 0 /* BI_RGB */) {
    if (bpp == 16) {
      l.masks[0] = 0x7C00;
      l.masks[1] = 0x03E0;
      l.masks[2] = 0x001F;
    } else if (bpp == 32) {
      l.masks[0] = 0xFF0000;
      l.masks[1] = 0x00FF00;
      l.masks[2] = 0x0000FF;
    }
  } else if ((compression == 1 && bpp == 8) || (compression == 2 && bpp == 4)) {
    if (h < 0 || iconHeight > 0) return false;  // run-length rows are bottom-up files only
    l.rle = bpp;
  } else {
    *why = "compressed bitmaps are not supported";
    return false;
  }
  if (bpp <= 8) {
    std::uint32_t n = clrUsed ? clrUsed : (1u << bpp);
    if (n > 256) return false;
    if (pos + static_cast<std::uint64_t>(n) * paletteEntrySize > avail) return false;
    l.palette.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t* q = base + pos + i * paletteEntrySize;
      l.palette[i] = Argb(255, q[2], q[1], q[0]);
    }
    pos += static_cast<std::size_t>(n) * paletteEntrySize;
  }
  headerEnd = pos;
  return true;
}

bool DecodeBmp(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels) {
  if (size < 14 + 12 || data[0] != 'B' || data[1] != 'M') return Fail(error, "bmp: bad header");
  std::uint32_t offBits = GetLe32(data + 10);
  DibLayout l;
  std::size_t headerEnd = 0;
  const char* why = "bmp: bad header";
  if (!ParseDibHeader(data + 14, size - 14, l, headerEnd, 0, maxPixels, &why)) return Fail(error, why);
  if (offBits < 14 + headerEnd || offBits >= size) return Fail(error, "bmp: truncated data");
  bool read = l.rle ? ReadRlePixels(l, data + offBits, size - offBits, out)
                    : ReadDibPixels(l, data + offBits, size - offBits, out, true);
  if (!read) {
    out.pixels.clear();
    return Fail(error, "bmp: truncated data");
  }
  out.format = ImageFormat::Bmp;
  NoteAlpha(out);
  return true;
}

}  // namespace plat::imaging
