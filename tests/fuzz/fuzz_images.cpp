// Fuzzes the image decoders (PNG, JPEG, GIF, BMP, ICO) with untrusted bytes:
// every decode must succeed or fail cleanly, and a decoded image must be
// whole: a size within the pixel budget, one pixel per cell, the sniffed
// format, an alpha flag that matches its pixels, the same pixels on every
// decode, and a refusal under a budget below its size. Icon entries likewise.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/imaging/Imaging.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using orvfuzz::Check;

// Small enough to keep each run fast, large enough for every seed.
constexpr std::uint64_t kBudget = 1u << 20;

void CheckWhole(const plat::DecodedImage& image, std::uint64_t budget) {
  Check(image.width > 0 && image.height > 0, "an empty image decoded");
  const std::uint64_t cells = static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height);
  Check(cells <= budget && image.width <= 16384 && image.height <= 16384, "an image over the budget decoded");
  Check(image.pixels.size() == cells, "pixels and size disagree");
  const bool translucent =
      std::any_of(image.pixels.begin(), image.pixels.end(), [](std::uint32_t p) { return (p >> 24) != 0xFF; });
  Check(image.hasAlpha == translucent, "the alpha flag does not match the pixels");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plat::DecodedImage image;
  std::string error;
  if (!plat::DecodeImage(data, size, image, &error, kBudget)) {
    Check(image.width == 0 && image.height == 0 && image.pixels.empty(), "a failed decode left an image");
    return 0;
  }
  CheckWhole(image, kBudget);
  Check(image.format == plat::SniffImageFormat(data, size), "decoded as another format than sniffed");

  const std::uint64_t cells = static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height);
  plat::DecodedImage again;
  Check(plat::DecodeImage(data, size, again, nullptr, kBudget), "a second decode failed");
  Check(again.width == image.width && again.height == image.height && again.pixels == image.pixels,
        "a second decode gave other pixels");
  // The budget counts what a decoder must hold (a GIF frame may be larger
  // than its screen), so only a smaller budget must refuse.
  Check(!plat::DecodeImage(data, size, again, nullptr, cells - 1), "decoded under a budget below its size");

  if (image.format == plat::ImageFormat::Ico) {
    const std::vector<plat::IcoEntry> entries = plat::ListIcoEntries(data, size);
    Check(!entries.empty(), "an icon decoded without entries");
    for (std::size_t i = 0; i < std::min<std::size_t>(entries.size(), 8); ++i) {
      plat::DecodedImage entry;
      if (plat::DecodeIcoEntry(data, size, i, entry, nullptr, kBudget)) CheckWhole(entry, kBudget);
    }
  }

  const plat::DecodedImage scaled = plat::ScaleImage(image, image.width / 2 + 1, image.height / 3 + 1);
  Check(scaled.width == image.width / 2 + 1 && scaled.height == image.height / 3 + 1 &&
            scaled.pixels.size() == static_cast<std::size_t>(scaled.width) * scaled.height,
        "a scaled image of another size");
  return 0;
}
