// Image files made at test time decoded into bitmaps: each format through
// each decoder, the choice of decoder, and damaged or oversized files.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "core/ImageDecoder.h"
#include "platform/base/Device.h"
#include "platform/base/Module.h"
#include "platform/base/SysInfo.h"
#include "platform/imaging/Imaging.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

constexpr std::uint32_t kA = 0xFFFF0000, kB = 0xFF00FF00, kC = 0xFF0000FF, kD = 0xFFFFFFFF;

class ImageDecoderTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override { ResetSystemInfoForTesting(); }
  // Writes a device file "\name" and returns its device path.
  std::u16string Put(const std::string& name, const std::string& bytes) {
    orvtest::WriteHostFile(device_.FsRoot() + "/" + name, bytes);
    return u"\\" + std::u16string(name.begin(), name.end());
  }
  void Pose(const SystemInfoSettings& s) {
    SetSystemInfoForTesting(s);
    SetDeviceRoot(device_.Root());  // probes start afresh
  }
  // 16 x 16 pixels, four quadrants of 8 x 8 (whole JPEG blocks).
  static std::string File(const std::string& ext) {
    imgtest::Pixels px = imgtest::Quadrants(16, 16, kA, kB, kC, kD);
    if (ext == "png") return imgtest::Png(16, 16, px);
    if (ext == "jpg") return imgtest::Jpeg(16, 16, px, 100);
    if (ext == "bmp") return imgtest::Bmp(16, 16, 24, px, false);
    std::vector<std::uint8_t> indices;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) indices.push_back(static_cast<std::uint8_t>((y < 8 ? 0 : 2) + (x < 8 ? 0 : 1)));
    return imgtest::Gif(16, 16, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {indices});
  }
};

// Pixel (x, y) of a bitmap as 0xRRGGBB.
DWORD At(const PixelImage& img, int x, int y) { return img.pixels[static_cast<std::size_t>(y) * img.width + x] & 0xFFFFFF; }

int Distance(DWORD a, DWORD b) {
  int d = 0;
  for (int s = 0; s < 24; s += 8) d = std::max(d, std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)));
  return d;
}

TEST_F(ImageDecoderTest, EachFormatThroughEachDecoder) {
  struct Case {
    const char* ext;
    bool force;
    int tolerance;  // JPEG is lossy; 16-bit screen bitmaps keep 5-6 bits
  } cases[] = {
      {"png", true, 0}, {"jpg", true, 24}, {"gif", true, 0}, {"bmp", true, 0},
      {"png", false, 8}, {"jpg", false, 24}, {"gif", false, 0}, {"bmp", false, 8},
  };
  for (const Case& c : cases) {
    std::u16string path = Put(std::string("pic.") + c.ext, File(c.ext));
    HBITMAP b = LoadImageFromFile(path, c.force);
    ASSERT_NE(b, nullptr) << c.ext << " " << c.force;
    DIBSECTION ds{};
    int got = GetObjectW(b, sizeof ds, &ds);
    ASSERT_GT(got, 0);
    EXPECT_EQ(ds.dsBm.bmWidth, 16);
    EXPECT_EQ(ds.dsBm.bmHeight, 16);
    if (c.force) {
      EXPECT_EQ(got, static_cast<int>(sizeof ds)) << c.ext;
      EXPECT_NE(ds.dsBm.bmBits, nullptr) << c.ext;
      EXPECT_EQ(ds.dsBm.bmBitsPixel, 24) << c.ext;
    }
    PixelImage img = ReadBitmapPixels(b);
    const DWORD want[4] = {kA & 0xFFFFFF, kB & 0xFFFFFF, kC & 0xFFFFFF, kD & 0xFFFFFF};
    const int at[4][2] = {{3, 3}, {12, 3}, {3, 12}, {12, 12}};
    for (int q = 0; q < 4; ++q)
      EXPECT_LE(Distance(At(img, at[q][0], at[q][1]), want[q]), c.tolerance) << c.ext << " " << c.force << " " << q;
    DeleteObject(b);
  }
}

TEST_F(ImageDecoderTest, ChoiceOfDecoder) {
  struct Case {
    std::u16string path;
    bool force;
    std::u16string platform;
    DWORD major, minor;
    bool factory;
  } cases[] = {
      {u"\\a.jpg", false, u"PocketPC", 5, 2, true},  {u"\\a.jpg", true, u"PocketPC", 5, 2, false},
      {u"\\a.GIF", false, u"PocketPC", 5, 2, false}, {u"\\a.gif", false, u"PocketPC", 5, 0, false},
      {u"\\a.png", false, u"PocketPC", 5, 0, true},  {u"\\a.png", false, u"PocketPC", 4, 20, false},
      {u"\\a.png", false, u"Smartphone", 5, 2, false}, {u"gif", false, u"PocketPC", 5, 2, true},
      {u".gif", false, u"PocketPC", 5, 2, false},    {u"\\a.gif.png", false, u"PocketPC", 5, 2, true},
  };
  for (const Case& c : cases) {
    SystemInfoSettings s;
    s.platformType = c.platform;
    s.majorVersion = c.major;
    s.minorVersion = c.minor;
    Pose(s);
    EXPECT_EQ(PrefersImagingFactory(c.path, c.force), c.factory);
  }
}

// Takes the decompressor away for a scope.
struct WithoutImgdecmp {
  WithoutImgdecmp() { UnregisterBuiltInModule(u"imgdecmp.dll"); }
  ~WithoutImgdecmp() { RegisterImagingModule(); }
};

TEST_F(ImageDecoderTest, WithoutTheDecompressorOnlyTheFactoryDecodes) {
  std::u16string gif = Put("pic.gif", File("gif"));
  std::u16string jpg = Put("pic.jpg", File("jpg"));
  WithoutImgdecmp gone;
  EXPECT_EQ(LoadImageFromFile(gif, false), nullptr);
  EXPECT_EQ(LoadImageFromFile(jpg, true), nullptr);
  HBITMAP b = LoadImageFromFile(jpg, false);
  ASSERT_NE(b, nullptr);
  BITMAP bm{};
  GetObjectW(b, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 16);
  DeleteObject(b);
}

TEST_F(ImageDecoderTest, DamagedFilesFailCleanly) {
  for (const char* ext : {"png", "jpg", "gif", "bmp"}) {
    std::string whole = File(ext);
    for (std::size_t keep : {std::size_t{0}, std::size_t{10}, whole.size() / 2}) {
      std::u16string path = Put(std::string("cut.") + ext, whole.substr(0, keep));
      for (bool force : {true, false}) {
        HBITMAP b = LoadImageFromFile(path, force);
        EXPECT_EQ(b, nullptr) << ext << " cut to " << keep << " force " << force;
        if (b) DeleteObject(b);
      }
    }
  }
  EXPECT_EQ(LoadImageFromFile(u"\\missing.png", true), nullptr);
  EXPECT_EQ(LoadImageFromFile(u"\\missing.png", false), nullptr);
  EXPECT_EQ(LoadImageFromFile(Put("text.png", "not an image at all"), false), nullptr);
}

// A PNG whose header claims width x height (the data is a small image's).
std::string PngClaiming(std::uint32_t width, std::uint32_t height) {
  std::string png = imgtest::Png(2, 2, imgtest::Solid(2, 2, 0xFF808080));
  auto put32be = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) png[at + i] = static_cast<char>(v >> (24 - 8 * i));
  };
  put32be(16, width);  // IHDR data starts after signature, length and type
  put32be(20, height);
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
  put32be(29, static_cast<std::uint32_t>(crc));
  return png;
}

TEST_F(ImageDecoderTest, OversizedImagesAreRefused) {
  struct Case {
    std::uint32_t w, h;
  } cases[] = {{100000, 100000}, {5000, 4000}, {16385, 1}, {70000, 2}};
  for (const Case& c : cases) {
    std::u16string path = Put("big.png", PngClaiming(c.w, c.h));
    for (bool force : {true, false}) {
      HBITMAP b = LoadImageFromFile(path, force);
      EXPECT_EQ(b, nullptr) << c.w << "x" << c.h << " force " << force;
      if (b) DeleteObject(b);
    }
  }
}

}  // namespace
