// ICO files, read by our own code: the directory, and each image as PNG or
// DIB pixels with their mask.
#include <cstring>

#include "platform/imaging/DecoderSupport.h"

namespace plat {

using namespace imaging;

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

}  // namespace plat

namespace plat::imaging {

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

}  // namespace plat::imaging
