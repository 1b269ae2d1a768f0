// Image decoding: the format told from the first bytes, then that format's
// reader (DecodePng, DecodeJpeg, DecodeGif, DecodeBmp, DecodeIco). Every size
// read from the input is checked against the input and the pixel budget
// before anything is allocated.
#include <cstring>
#include <vector>

#include "platform/files/Files.h"
#include "platform/imaging/DecoderSupport.h"

namespace plat {

using namespace imaging;

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

}  // namespace plat
