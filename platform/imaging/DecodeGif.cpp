// GIF files, through giflib: the first frame, over the logical screen.
#include <gif_lib.h>

#include <cstring>

#include "platform/imaging/DecoderSupport.h"

namespace plat::imaging {

namespace {

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

}  // namespace

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

}  // namespace plat::imaging
