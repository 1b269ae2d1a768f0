// Decoding speed of the image decoders on generated pictures of about 1 MB:
// a JPEG and a PNG (and, for scale, the BMP and GIF readers). Prints MB/s of
// compressed input and megapixels per second.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "platform/imaging/Imaging.h"
#include "tests/support/ImagingTestFiles.h"

namespace {

// A photo-like picture: smooth gradients with grain, so it compresses like one.
imgtest::Pixels Picture(int w, int h, unsigned grain) {
  std::mt19937 rng(7);
  imgtest::Pixels px(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned n = grain ? rng() % grain : 0;
      unsigned r = (x * 255 / w + n) & 0xFF, g = (y * 255 / h + n) & 0xFF, b = ((x + y) * 127 / (w + h) + n) & 0xFF;
      px[static_cast<std::size_t>(y) * w + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
  return px;
}

void Measure(const char* name, const std::string& bytes, int width, int height) {
  plat::DecodedImage img;
  std::string error;
  if (!plat::DecodeImage(bytes.data(), bytes.size(), img, &error)) {
    std::printf("%-5s decode failed: %s\n", name, error.c_str());
    return;
  }
  int rounds = 0;
  auto start = std::chrono::steady_clock::now();
  double seconds = 0;
  do {
    plat::DecodeImage(bytes.data(), bytes.size(), img);
    ++rounds;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (seconds < 1.0 && rounds < 200);
  double mb = static_cast<double>(bytes.size()) * rounds / (1024.0 * 1024.0);
  double mpix = static_cast<double>(width) * height * rounds / 1e6;
  std::printf("%-5s %5dx%-5d %8.2f MB file  %8.2f MB/s  %8.2f Mpixel/s  (%d decodes)\n", name, width, height,
              static_cast<double>(bytes.size()) / (1024.0 * 1024.0), mb / seconds, mpix / seconds, rounds);
}

}  // namespace

int main() {
  // Sizes chosen so that each file is about 1 MB.
  const int jw = 1600, jh = 1200;
  std::string jpeg = imgtest::Jpeg(jw, jh, Picture(jw, jh, 48), 90);
  const int pw = 900, ph = 640;
  std::string png = imgtest::Png(pw, ph, Picture(pw, ph, 40));
  const int bw = 600, bh = 580;
  std::string bmp = imgtest::Bmp(bw, bh, 24, Picture(bw, bh, 0), false);
  const int gw = 1000, gh = 1000;
  std::vector<std::uint8_t> idx(static_cast<std::size_t>(gw) * gh);
  std::mt19937 rng(3);
  for (auto& i : idx) i = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() % 256 : 0);
  std::vector<std::uint32_t> palette(256);
  for (unsigned i = 0; i < 256; ++i) palette[i] = i * 0x010101u;
  std::string gif = imgtest::Gif(gw, gh, palette, {idx});
  Measure("jpeg", jpeg, jw, jh);
  Measure("png", png, pw, ph);
  Measure("bmp", bmp, bw, bh);
  Measure("gif", gif, gw, gh);
  return 0;
}
