// PNG files, through libpng.
#include <png.h>

#include "platform/imaging/DecoderSupport.h"

namespace plat::imaging {

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

}  // namespace plat::imaging
