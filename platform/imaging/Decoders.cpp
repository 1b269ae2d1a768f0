// Image decoders: PNG (libpng), JPEG (libjpeg), GIF (giflib), and our own BMP
// and ICO readers. Every size read from the input is checked against the
// input and the pixel budget before anything is allocated.
#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "platform/base/Endian.h"
#include "platform/files/Files.h"
#include "platform/imaging/Imaging.h"

// After our headers: jpeglib.h defines TRUE and FALSE as macros.
#include <jerror.h>
#include <jpeglib.h>
#undef TRUE
#undef FALSE

namespace plat {

namespace {

constexpr int kMaxSide = 16384;

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

bool WithinBudget(std::uint64_t w, std::uint64_t h, std::uint64_t maxPixels) {
  return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && w * h <= maxPixels;
}

std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetLe32(p)); }

std::uint32_t Argb(unsigned a, unsigned r, unsigned g, unsigned b) {
  return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(r) << 16) |
         (static_cast<std::uint32_t>(g) << 8) | b;
}

void NoteAlpha(DecodedImage& img) {
  img.hasAlpha = std::any_of(img.pixels.begin(), img.pixels.end(), [](std::uint32_t p) { return (p >> 24) != 0xFF; });
}

// ---------------------------------------------------------------------------
// PNG

bool DecodePng(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return Fail(error, "png: bad header");
  if (!WithinBudget(image.width, image.height, maxPixels)) {
    png_image_free(&image);
    return Fail(error, "png: image too large");
  }
  image.format = PNG_FORMAT_BGRA;  // little-endian 0xAARRGGBB
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.pixels.assign(static_cast<std::size_t>(image.width) * image.height, 0);
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    out.pixels.clear();
    return Fail(error, "png: corrupt or truncated data");
  }
  png_image_free(&image);
  out.format = ImageFormat::Png;
  NoteAlpha(out);
  return true;
}

// ---------------------------------------------------------------------------
// JPEG

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool truncated;
};

void JpegExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  std::longjmp(e->jump, 1);
}

void JpegMessage(j_common_ptr cinfo, int level) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  // A premature end of the data is a truncated download, not a picture.
  if (level < 0 && e->mgr.msg_code == JWRN_JPEG_EOF) e->truncated = true;
}

// No C++ object with a destructor lives between setjmp and a longjmp here.
bool DecodeJpegInner(const std::uint8_t* data, std::size_t size, DecodedImage& out, const char** why,
                     std::uint64_t maxPixels, std::vector<std::uint8_t>& row) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  err.mgr.emit_message = JpegMessage;
  err.truncated = false;
  *why = "jpeg: corrupt data";
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, 1) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (!WithinBudget(cinfo.image_width, cinfo.image_height, maxPixels)) {
    *why = "jpeg: image too large";
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  int comps = cinfo.output_components;
  if ((cmyk && comps != 4) || (!cmyk && comps != 3)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height);
  row.resize(static_cast<std::size_t>(out.width) * comps);
  bool inverted = cmyk && cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row.data()};
    int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    std::uint32_t* dst = out.pixels.data() + static_cast<std::size_t>(y) * out.width;
    for (int x = 0; x < out.width; ++x) {
      const std::uint8_t* p = row.data() + static_cast<std::size_t>(x) * comps;
      if (cmyk) {
        unsigned c = p[0], m = p[1], yy = p[2], k = p[3];
        if (!inverted) {
          c = 255 - c;
          m = 255 - m;
          yy = 255 - yy;
          k = 255 - k;
        }
        dst[x] = Argb(255, c * k / 255, m * k / 255, yy * k / 255);
      } else {
        dst[x] = Argb(255, p[0], p[1], p[2]);
      }
    }
    if (err.truncated) break;
  }
  if (err.truncated || cinfo.output_scanline < cinfo.output_height) {
    *why = "jpeg: truncated data";
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return !err.truncated;
}

bool DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
                std::uint64_t maxPixels) {
  std::vector<std::uint8_t> row;
  const char* why = nullptr;
  if (!DecodeJpegInner(data, size, out, &why, maxPixels, row)) {
    out.pixels.clear();
    return Fail(error, why);
  }
  out.format = ImageFormat::Jpeg;
  out.hasAlpha = false;
  return true;
}

// ---------------------------------------------------------------------------
// GIF (the first frame, over the logical screen)

struct GifInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
};

int GifRead(GifFileType* gif, GifByteType* buf, int len) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  if (len <= 0) return 0;
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), in->size - in->pos);
  std::memcpy(buf, in->data + in->pos, n);
  in->pos += n;
  return static_cast<int>(n);
}

bool DecodeGif(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels) {
  GifInput in{data, size, 0};
  int err = 0;
  GifFileType* gif = DGifOpen(&in, GifRead, &err);
  if (!gif) return Fail(error, "gif: bad header");
  struct Closer {
    GifFileType* g;
    ~Closer() {
      int e = 0;
      DGifCloseFile(g, &e);
    }
  } closer{gif};
  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return Fail(error, "gif: truncated data");
    if (type == TERMINATE_RECORD_TYPE) return Fail(error, "gif: no image");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return Fail(error, "gif: truncated data");
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return Fail(error, "gif: truncated data");
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return Fail(error, "gif: truncated data");
    const GifImageDesc& d = gif->Image;
    int sw = gif->SWidth > 0 ? gif->SWidth : d.Left + d.Width;
    int sh = gif->SHeight > 0 ? gif->SHeight : d.Top + d.Height;
    if (!WithinBudget(static_cast<std::uint64_t>(sw), static_cast<std::uint64_t>(sh), maxPixels) || d.Width <= 0 ||
        d.Height <= 0 || !WithinBudget(static_cast<std::uint64_t>(d.Width), static_cast<std::uint64_t>(d.Height), maxPixels))
      return Fail(error, "gif: image too large");
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map) return Fail(error, "gif: no colour table");
    std::vector<GifPixelType> line(static_cast<std::size_t>(d.Width));
    out.width = sw;
    out.height = sh;
    out.pixels.assign(static_cast<std::size_t>(sw) * sh, 0);  // transparent where no frame pixel lands
    auto putRow = [&](int y) {
      int ty = d.Top + y;
      if (ty < 0 || ty >= sh) return;
      for (int x = 0; x < d.Width; ++x) {
        int tx = d.Left + x;
        if (tx < 0 || tx >= sw) continue;
        int idx = line[static_cast<std::size_t>(x)];
        if (idx == transparent) continue;
        std::uint32_t px = 0xFF000000u;
        if (idx < map->ColorCount) {
          const GifColorType& c = map->Colors[idx];
          px = Argb(255, c.Red, c.Green, c.Blue);
        }
        out.pixels[static_cast<std::size_t>(ty) * sw + tx] = px;
      }
    };
    if (d.Interlace) {
      static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < d.Height; y += step[pass]) {
          if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
            out.pixels.clear();
            return Fail(error, "gif: truncated data");
          }
          putRow(y);
        }
    } else {
      for (int y = 0; y < d.Height; ++y) {
        if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
          out.pixels.clear();
          return Fail(error, "gif: truncated data");
        }
        putRow(y);
      }
    }
    out.format = ImageFormat::Gif;
    NoteAlpha(out);
    return true;
  }
}

// ---------------------------------------------------------------------------
// DIB pixels (BMP files and ICO images)

struct DibLayout {
  int width = 0, height = 0;  // height > 0
  bool topDown = false;
  int bpp = 0;
  int rle = 0;  // 8 or 4: run-length encoded rows
  std::uint32_t masks[4] = {0, 0, 0, 0};  // r, g, b, a
  std::vector<std::uint32_t> palette;     // 0xFFRRGGBB
};

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

}  // namespace

// ---------------------------------------------------------------------------
// ICO

std::vector<IcoEntry> ListIcoEntries(const void* p, std::size_t size) {
  std::vector<IcoEntry> out;
  const auto* data = static_cast<const std::uint8_t*>(p);
  if (!data || size < 6 || GetLe16(data) != 0 || (GetLe16(data + 2) != 1 && GetLe16(data + 2) != 2)) return out;
  std::size_t count = GetLe16(data + 4);
  if (count == 0 || 6 + count * 16 > size) return out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* e = data + 6 + i * 16;
    IcoEntry entry;
    entry.width = e[0] ? e[0] : 256;
    entry.height = e[1] ? e[1] : 256;
    entry.bitCount = GetLe16(e + 6);
    entry.size = GetLe32(e + 8);
    entry.offset = GetLe32(e + 12);
    if (entry.size == 0 || entry.offset > size || entry.size > size - entry.offset) return {};
    // The image's own header knows the depth better than the directory.
    const std::uint8_t* img = data + entry.offset;
    if (entry.size >= 16 && img[0] != 0x89 && GetLe32(img) >= 40) entry.bitCount = GetLe16(img + 14);
    out.push_back(entry);
  }
  return out;
}

bool DecodeIcoEntry(const void* p, std::size_t size, std::size_t index, DecodedImage& out, std::string* error,
                    std::uint64_t maxPixels) {
  std::vector<IcoEntry> entries = ListIcoEntries(p, size);
  if (index >= entries.size()) return Fail(error, "ico: bad directory");
  const auto* data = static_cast<const std::uint8_t*>(p);
  const IcoEntry& e = entries[index];
  const std::uint8_t* img = data + e.offset;
  if (e.size >= 8 && std::memcmp(img, "\x89PNG\r\n\x1a\n", 8) == 0) {
    if (!DecodePng(img, e.size, out, error, maxPixels)) return false;
    out.format = ImageFormat::Ico;
    return true;
  }
  DibLayout l;
  std::size_t headerEnd = 0;
  const char* why = "ico: bad image header";
  if (!ParseDibHeader(img, e.size, l, headerEnd, e.height, maxPixels, &why)) return Fail(error, why);
  if (!ReadDibPixels(l, img + headerEnd, e.size - headerEnd, out, true)) {
    out.pixels.clear();
    return Fail(error, "ico: truncated image");
  }
  std::uint64_t xorStride = DibStride(static_cast<std::uint64_t>(l.bpp), static_cast<std::uint64_t>(l.width));
  std::uint64_t maskStride = DibStride(1, static_cast<std::uint64_t>(l.width));
  std::uint64_t maskPos = headerEnd + xorStride * l.height;
  bool ownAlpha = l.bpp == 32 && std::any_of(out.pixels.begin(), out.pixels.end(),
                                             [](std::uint32_t px) { return (px >> 24) != 0xFF; });
  if (!ownAlpha) {
    // The AND mask marks transparent pixels; a missing mask leaves the image opaque.
    if (maskPos + maskStride * l.height <= e.size) {
      for (int y = 0; y < l.height; ++y) {
        const std::uint8_t* row = img + maskPos + (l.height - 1 - y) * maskStride;
        for (int x = 0; x < l.width; ++x)
          if ((row[x >> 3] >> (7 - (x & 7))) & 1u) out.pixels[static_cast<std::size_t>(y) * l.width + x] = 0;
      }
    }
  }
  out.format = ImageFormat::Ico;
  NoteAlpha(out);
  return true;
}

namespace {

bool DecodeIco(const std::uint8_t* data, std::size_t size, DecodedImage& out, std::string* error,
               std::uint64_t maxPixels) {
  std::vector<IcoEntry> entries = ListIcoEntries(data, size);
  if (entries.empty()) return Fail(error, "ico: bad directory");
  // The largest image, then the deepest.
  std::size_t best = 0;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const IcoEntry& a = entries[i];
    const IcoEntry& b = entries[best];
    long long areaA = static_cast<long long>(a.width) * a.height, areaB = static_cast<long long>(b.width) * b.height;
    if (areaA > areaB || (areaA == areaB && a.bitCount > b.bitCount)) best = i;
  }
  return DecodeIcoEntry(data, size, best, out, error, maxPixels);
}

}  // namespace

ImageFormat SniffImageFormat(const void* p, std::size_t size) {
  const auto* d = static_cast<const std::uint8_t*>(p);
  if (!d) return ImageFormat::Unknown;
  if (size >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) return ImageFormat::Png;
  if (size >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return ImageFormat::Jpeg;
  if (size >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) return ImageFormat::Gif;
  if (size >= 2 && d[0] == 'B' && d[1] == 'M') return ImageFormat::Bmp;
  if (size >= 6 && GetLe16(d) == 0 && (GetLe16(d + 2) == 1 || GetLe16(d + 2) == 2) && GetLe16(d + 4) > 0) return ImageFormat::Ico;
  return ImageFormat::Unknown;
}

bool DecodeImage(const void* p, std::size_t size, DecodedImage& out, std::string* error, std::uint64_t maxPixels) {
  out = DecodedImage();
  const auto* d = static_cast<const std::uint8_t*>(p);
  bool ok = false;
  switch (SniffImageFormat(p, size)) {
    case ImageFormat::Png: ok = DecodePng(d, size, out, error, maxPixels); break;
    case ImageFormat::Jpeg: ok = DecodeJpeg(d, size, out, error, maxPixels); break;
    case ImageFormat::Gif: ok = DecodeGif(d, size, out, error, maxPixels); break;
    case ImageFormat::Bmp: ok = DecodeBmp(d, size, out, error, maxPixels); break;
    case ImageFormat::Ico: ok = DecodeIco(d, size, out, error, maxPixels); break;
    case ImageFormat::Unknown: ok = Fail(error, "unknown image format"); break;
  }
  if (!ok) out = DecodedImage();
  return ok;
}

bool ReadDeviceFile(const WCHAR* devicePath, std::vector<std::uint8_t>& bytes, std::size_t maxBytes) {
  bytes.clear();
  if (!devicePath) return false;
  HANDLE f = CreateFileW(devicePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE || !f) return false;
  DWORD high = 0;
  DWORD low = GetFileSize(f, &high);
  if (high != 0 || low > maxBytes) {
    CloseHandle(f);
    return false;
  }
  bytes.resize(low);
  DWORD got = 0;
  bool ok = low == 0 || (ReadFile(f, bytes.data(), low, &got, nullptr) && got == low);
  CloseHandle(f);
  if (!ok) bytes.clear();
  return ok;
}

bool DecodeImageFile(const WCHAR* devicePath, DecodedImage& out, std::string* error, std::uint64_t maxPixels) {
  std::vector<std::uint8_t> bytes;
  if (!ReadDeviceFile(devicePath, bytes, kMaxImageFileBytes)) return Fail(error, "cannot read the file");
  return DecodeImage(bytes.data(), bytes.size(), out, error, maxPixels);
}

// ---------------------------------------------------------------------------
// Bitmaps of decoded images

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
