// Decoding PNG, JPEG, GIF, BMP and ICO files made at test time; truncated,
// oversized and damaged input fails cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/imaging/Imaging.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;
using imgtest::Pixels;

constexpr std::uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;

class ImagingDecodeTest : public orvtest::DeviceTest {};

bool Decode(const std::string& bytes, DecodedImage& img, std::string* error = nullptr,
            std::uint64_t budget = kDefaultImagePixelBudget) {
  return DecodeImage(bytes.data(), bytes.size(), img, error, budget);
}

std::uint32_t At(const DecodedImage& img, int x, int y) { return img.pixels[static_cast<std::size_t>(y) * img.width + x]; }

// Channels within `tol` (lossy formats).
bool Near(std::uint32_t a, std::uint32_t b, int tol) {
  for (int sh = 0; sh < 32; sh += 8)
    if (std::abs(static_cast<int>((a >> sh) & 0xFF) - static_cast<int>((b >> sh) & 0xFF)) > tol) return false;
  return true;
}

TEST_F(ImagingDecodeTest, EachFormatGivesItsPixels) {
  Pixels quad = imgtest::Quadrants(16, 8, kRed, kGreen, kBlue, kWhite);
  std::vector<std::uint8_t> idx(16 * 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) idx[static_cast<std::size_t>(y) * 16 + x] = static_cast<std::uint8_t>((y < 4 ? 0 : 2) + (x < 8 ? 0 : 1));
  struct Case {
    const char* name;
    std::string bytes;
    ImageFormat format;
    int tolerance;
  } cases[] = {
      {"png", imgtest::Png(16, 8, quad), ImageFormat::Png, 0},
      {"jpeg", imgtest::Jpeg(16, 8, quad), ImageFormat::Jpeg, 40},
      {"gif", imgtest::Gif(16, 8, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {idx}), ImageFormat::Gif, 0},
      {"bmp24", imgtest::Bmp(16, 8, 24, quad, false), ImageFormat::Bmp, 0},
      {"bmp32", imgtest::Bmp(16, 8, 32, quad, true), ImageFormat::Bmp, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.bytes.empty());
    EXPECT_EQ(SniffImageFormat(c.bytes.data(), c.bytes.size()), c.format);
    DecodedImage img;
    std::string error;
    ASSERT_TRUE(Decode(c.bytes, img, &error)) << error;
    EXPECT_EQ(img.format, c.format);
    ASSERT_EQ(img.width, 16);
    ASSERT_EQ(img.height, 8);
    EXPECT_FALSE(img.hasAlpha);
    // Sample the inner pixel of each quadrant (away from lossy edges).
    EXPECT_TRUE(Near(At(img, 2, 1), kRed, c.tolerance)) << std::hex << At(img, 2, 1);
    EXPECT_TRUE(Near(At(img, 13, 1), kGreen, c.tolerance)) << std::hex << At(img, 13, 1);
    EXPECT_TRUE(Near(At(img, 2, 6), kBlue, c.tolerance)) << std::hex << At(img, 2, 6);
    EXPECT_TRUE(Near(At(img, 13, 6), kWhite, c.tolerance)) << std::hex << At(img, 13, 6);
  }
}

TEST_F(ImagingDecodeTest, PngKeepsStraightAlpha) {
  Pixels px = {0x80FF0000, 0x00000000, 0xFF00FF00, 0x40FFFFFF};
  DecodedImage img;
  ASSERT_TRUE(Decode(imgtest::Png(2, 2, px), img));
  EXPECT_TRUE(img.hasAlpha);
  EXPECT_EQ(img.pixels, px);
}

TEST_F(ImagingDecodeTest, BmpDepthsAndRowOrders) {
  // Greys chosen on every palette's levels: 0 and 255 exist at all depths;
  // 0x55 and 0xAA at 4 and 8 bits.
  auto grey = [](unsigned v) { return 0xFF000000u | (v << 16) | (v << 8) | v; };
  struct Case {
    int bpp;
    std::vector<unsigned> levels;
  } cases[] = {{1, {0, 255, 255, 0}}, {4, {0, 0x55, 0xAA, 255}}, {8, {0, 0x55, 0xAA, 255}},
               {24, {0x12, 0x34, 0x56, 0x78}}, {32, {0x12, 0x34, 0x56, 0x78}}};
  for (const Case& c : cases) {
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.bpp << " bits, top-down " << topDown);
      // 9 pixels wide so rows need padding; 3 rows so the order matters.
      Pixels px(9 * 3);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 9; ++x) px[static_cast<std::size_t>(y) * 9 + x] = grey(c.levels[static_cast<std::size_t>((x + y) % 4)]);
      DecodedImage img;
      std::string error;
      ASSERT_TRUE(Decode(imgtest::Bmp(9, 3, c.bpp, px, topDown), img, &error)) << error;
      ASSERT_EQ(img.width, 9);
      ASSERT_EQ(img.height, 3);
      EXPECT_EQ(img.pixels, px);
    }
  }
}

// A run-length encoded BMP (bottom-up rows) over a grey palette.
std::string RleBmp(int w, int h, int bpp, const std::string& rle) {
  std::string info = imgtest::InfoHeader(w, h, bpp, static_cast<std::uint32_t>(rle.size()));
  info[16] = static_cast<char>(bpp == 8 ? 1 : 2);  // BI_RLE8 / BI_RLE4
  std::string pal = imgtest::GreyPalette(bpp);
  std::string file = "BM";
  std::uint32_t off = static_cast<std::uint32_t>(14 + info.size() + pal.size());
  imgtest::PutLe32(file, off + static_cast<std::uint32_t>(rle.size()));
  imgtest::PutLe32(file, 0);
  imgtest::PutLe32(file, off);
  return file + info + pal + rle;
}

TEST_F(ImagingDecodeTest, RunLengthBmps) {
  auto grey = [](unsigned v) { return 0xFF000000u | (v << 16) | (v << 8) | v; };
  // Bottom row: a run of four 10s; top row: literal 1, 2, 3 (padded), then a run of one 4.
  std::string rle8("\x04\x0A\x00\x00\x00\x03\x01\x02\x03\x00\x01\x04\x00\x01", 14);
  DecodedImage img;
  std::string error;
  ASSERT_TRUE(Decode(RleBmp(4, 2, 8, rle8), img, &error)) << error;
  EXPECT_EQ(img.pixels, (Pixels{grey(1), grey(2), grey(3), grey(4), grey(10), grey(10), grey(10), grey(10)}));
  // 4 bits: a run alternates the two nibbles; a delta skips pixels (colour 0).
  std::string rle4("\x03\x5F\x00\x02\x01\x00\x00\x01", 8);
  ASSERT_TRUE(Decode(RleBmp(5, 1, 4, rle4), img, &error)) << error;
  EXPECT_EQ(img.pixels, (Pixels{grey(0x55), grey(0xFF), grey(0x55), grey(0), grey(0)}));
  // Without the end-of-bitmap mark, or cut inside a literal run, the file is truncated.
  EXPECT_FALSE(Decode(RleBmp(4, 2, 8, rle8.substr(0, 12)), img, &error));
  EXPECT_FALSE(Decode(RleBmp(4, 2, 8, rle8.substr(0, 7)), img, &error));
  // Runs past the edges are clipped, not written out of the picture.
  std::string wide("\xFF\x07\x05\x08\x00\x00\x00\x01", 8);
  ASSERT_TRUE(Decode(RleBmp(2, 2, 8, wide), img, &error)) << error;
  EXPECT_EQ(img.pixels[2], grey(7));
  EXPECT_EQ(img.pixels[3], grey(7));
  EXPECT_EQ(img.pixels[0], grey(0));
  // A delta far below the picture is damage.
  EXPECT_FALSE(Decode(RleBmp(2, 2, 8, std::string("\x00\x02\x01\xFF\x00\x01", 6)), img, &error));
}

TEST_F(ImagingDecodeTest, AnimatedGifGivesTheFirstFrameWithTransparency) {
  std::vector<std::uint8_t> first = {0, 1, 2, 3}, second = {3, 3, 3, 3};
  std::string gif = imgtest::Gif(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x123456}, {first, second}, 2);
  DecodedImage img;
  ASSERT_TRUE(Decode(gif, img));
  ASSERT_EQ(img.width, 2);
  EXPECT_EQ(At(img, 0, 0), kRed);
  EXPECT_EQ(At(img, 1, 0), kGreen);
  EXPECT_EQ(At(img, 0, 1) >> 24, 0u);  // the transparent index
  EXPECT_EQ(At(img, 1, 1), 0xFF123456u);
  EXPECT_TRUE(img.hasAlpha);
}

TEST_F(ImagingDecodeTest, IcoPicksTheLargestAndUsesItsMask) {
  Pixels small = imgtest::Solid(16, 16, kWhite);
  Pixels big = imgtest::Solid(32, 32, 0xFF555555);
  big[0] = 0;  // transparent corner (AND mask)
  Pixels argb = imgtest::Solid(32, 32, 0x80FF0000);
  std::string ico = imgtest::Ico({{16, 4, small}, {32, 8, big}, {32, 32, argb}});
  std::vector<IcoEntry> entries = ListIcoEntries(ico.data(), ico.size());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].width, 32);
  EXPECT_EQ(entries[1].bitCount, 8);
  DecodedImage img;
  ASSERT_TRUE(Decode(ico, img));
  EXPECT_EQ(img.format, ImageFormat::Ico);
  EXPECT_EQ(img.width, 32);
  EXPECT_EQ(At(img, 5, 5), 0x80FF0000u);  // the 32-bit image with its own alpha
  ASSERT_TRUE(DecodeIcoEntry(ico.data(), ico.size(), 1, img));
  EXPECT_EQ(At(img, 0, 0) >> 24, 0u);
  EXPECT_EQ(At(img, 1, 0), 0xFF555555u);
  ASSERT_TRUE(DecodeIcoEntry(ico.data(), ico.size(), 0, img));
  EXPECT_EQ(img.width, 16);
  EXPECT_EQ(At(img, 3, 3), kWhite);
}

TEST_F(ImagingDecodeTest, TruncatedFilesFail) {
  Pixels quad = imgtest::Quadrants(32, 32, kRed, kGreen, kBlue, kWhite);
  std::vector<std::uint8_t> idx(32 * 32, 1);
  const std::pair<const char*, std::string> files[] = {
      {"png", imgtest::Png(32, 32, quad)},
      {"jpeg", imgtest::Jpeg(32, 32, quad)},
      {"gif", imgtest::Gif(32, 32, {0, 0xFFFFFF}, {idx})},
      {"bmp", imgtest::Bmp(32, 32, 24, quad, false)},
      {"ico", imgtest::Ico({{32, 32, quad}})},
  };
  for (const auto& [name, bytes] : files) {
    DecodedImage whole;
    ASSERT_TRUE(Decode(bytes, whole)) << name;
    for (double part : {0.0, 0.1, 0.5, 0.9}) {
      std::size_t n = static_cast<std::size_t>(static_cast<double>(bytes.size()) * part);
      if (std::string(name) == "jpeg" || std::string(name) == "gif" || std::string(name) == "png") {
        // Keep the trailer out: these formats end with a few bytes a decoder may not need.
        n = std::min(n, bytes.size() - 16);
      } else {
        n = std::min(n, bytes.size() - 1);
      }
      DecodedImage img;
      std::string error;
      EXPECT_FALSE(Decode(bytes.substr(0, n), img, &error)) << name << " cut at " << n;
      EXPECT_TRUE(img.pixels.empty());
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST_F(ImagingDecodeTest, ImagesAboveThePixelBudgetAreRefused) {
  Pixels px = imgtest::Solid(64, 64, kRed);
  std::vector<std::uint8_t> idx(64 * 64, 0);
  const std::pair<const char*, std::string> files[] = {
      {"png", imgtest::Png(64, 64, px)},
      {"jpeg", imgtest::Jpeg(64, 64, px)},
      {"gif", imgtest::Gif(64, 64, {0xFF0000, 0}, {idx})},
      {"bmp", imgtest::Bmp(64, 64, 24, px, false)},
      {"ico", imgtest::Ico({{64, 32, px}})},
  };
  for (const auto& [name, bytes] : files) {
    DecodedImage img;
    std::string error;
    EXPECT_FALSE(Decode(bytes, img, &error, 64 * 63)) << name;
    EXPECT_NE(error.find("too large"), std::string::npos) << name << ": " << error;
    EXPECT_TRUE(Decode(bytes, img, &error, 64 * 64)) << name << ": " << error;
  }
  // A header that claims a huge picture over a few bytes of data.
  std::string bmp = imgtest::Bmp(2, 2, 24, imgtest::Solid(2, 2, kRed), false);
  std::string huge = bmp;
  huge[18] = 0x00;
  huge[19] = 0x00;
  huge[20] = 0x01;  // width 65536
  DecodedImage img;
  std::string error;
  EXPECT_FALSE(Decode(huge, img, &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  std::string tall = bmp;
  tall[22] = 0x00;
  tall[23] = 0x10;  // height 4096: more rows than the data holds
  EXPECT_FALSE(Decode(tall, img, &error));
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST_F(ImagingDecodeTest, DamagedFilesNeverCrash) {
  Pixels quad = imgtest::Quadrants(12, 12, kRed, kGreen, kBlue, kWhite);
  std::vector<std::uint8_t> idx(144, 1);
  const std::string files[] = {imgtest::Png(12, 12, quad), imgtest::Jpeg(12, 12, quad),
                               imgtest::Gif(12, 12, {0, 0xFFFFFF}, {idx}), imgtest::Bmp(12, 12, 8, quad, false),
                               imgtest::Ico({{12, 4, quad}})};
  // Whole, each file decodes to its picture; without its signature it is
  // refused. So the damaged files below test a decoder that decodes.
  for (const std::string& f : files) {
    DecodedImage whole;
    ASSERT_TRUE(Decode(f, whole)) << static_cast<int>(static_cast<std::uint8_t>(f[0]));
    EXPECT_EQ(whole.width, 12);
    EXPECT_EQ(whole.height, 12);
    EXPECT_EQ(whole.pixels.size(), 144u);
    std::string unsigned_ = f;
    unsigned_[0] = 'X';
    DecodedImage none;
    EXPECT_FALSE(Decode(unsigned_, none)) << static_cast<int>(static_cast<std::uint8_t>(f[0]));
  }
  // Damage to the pixels alone leaves a picture of the same size.
  std::string bmp = files[3];
  bmp.back() = static_cast<char>(bmp.back() ^ 0x5A);
  DecodedImage damaged;
  ASSERT_TRUE(Decode(bmp, damaged));
  EXPECT_EQ(damaged.width, 12);
  EXPECT_EQ(damaged.height, 12);

  std::mt19937 rng(1234);
  int decoded = 0;
  for (const std::string& f : files) {
    for (int round = 0; round < 150; ++round) {
      std::string bad = f;
      int flips = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] = static_cast<char>(rng());
      DecodedImage img;
      if (Decode(bad, img)) {
        ++decoded;
        EXPECT_EQ(img.pixels.size(), static_cast<std::size_t>(img.width) * img.height);
      } else {
        EXPECT_TRUE(img.pixels.empty());
      }
    }
  }
  EXPECT_LT(decoded, 750);  // most damage is noticed
  EXPECT_GT(decoded, 0);    // and damage the formats cannot notice still decodes
  DecodedImage img;
  EXPECT_FALSE(DecodeImage(nullptr, 0, img));
  EXPECT_FALSE(Decode("not an image at all", img));
}

TEST_F(ImagingDecodeTest, DibsOfDecodedImages) {
  DecodedImage img;
  img.width = 2;
  img.height = 1;
  img.pixels = {0x80FF0000, 0xFF00FF00};
  img.hasAlpha = true;
  HBITMAP b32 = CreateDibFromImage(img, 32);
  ASSERT_NE(b32, nullptr);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectW(b32, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
  EXPECT_EQ(ds.dsBmih.biHeight, 1);  // bottom-up
  const auto* p = static_cast<const std::uint8_t*>(ds.dsBm.bmBits);
  EXPECT_EQ(p[2], 128);  // premultiplied red
  EXPECT_EQ(p[3], 128);
  HBITMAP b24 = CreateDibFromImage(img, 24);
  ASSERT_NE(b24, nullptr);
  PixelImage back = ReadBitmapPixels(b24);
  EXPECT_EQ(back.pixels[0], 0xFF0000u);
  EXPECT_EQ(CreateDibFromImage(img, 16), nullptr);
  DeleteObject(b32);
  DeleteObject(b24);
}

TEST_F(ImagingDecodeTest, ScalingAveragesBoxes) {
  DecodedImage img;
  img.width = 2;
  img.height = 2;
  img.pixels = {0xFF0A0000, 0xFF140000, 0xFF1E0000, 0xFF280000};
  DecodedImage one = ScaleImage(img, 1, 1);
  ASSERT_EQ(one.pixels.size(), 1u);
  EXPECT_EQ(one.pixels[0], 0xFF190000u);  // mean of 10, 20, 30, 40 is 25
  DecodedImage big = ScaleImage(img, 4, 4);
  EXPECT_EQ(big.pixels[0], 0xFF0A0000u);
  EXPECT_EQ(big.pixels[15], 0xFF280000u);
  // Transparent pixels do not darken the colour of the mean.
  img.pixels = {0xFFFF0000, 0x00000000, 0x00000000, 0x00000000};
  one = ScaleImage(img, 1, 1);
  EXPECT_EQ(one.pixels[0] & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(one.pixels[0] >> 24, 64u);
}

}  // namespace

namespace {

// Image jobs decode on job threads while the UI thread draws: decoders, DIB
// creation and GDI objects are used from several threads at once.
TEST_F(ImagingDecodeTest, DecodingAndBitmapsOnSeveralThreads) {
  std::string png = imgtest::Png(40, 30, imgtest::Quadrants(40, 30, kRed, kGreen, kBlue, kWhite));
  std::string jpeg = imgtest::Jpeg(40, 30, imgtest::Solid(40, 30, kGreen));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        DecodedImage img;
        const std::string& bytes = (t + i) % 2 ? png : jpeg;
        if (!DecodeImage(bytes.data(), bytes.size(), img)) continue;
        HBITMAP b = CreateDibFromImage(img, 24);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, b);
        bool ok = GetPixel(dc, 1, 1) != CLR_INVALID;
        SelectObject(dc, old);
        DeleteDC(dc);
        if (ok && DeleteObject(b)) ++good;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 80);
}

}  // namespace
