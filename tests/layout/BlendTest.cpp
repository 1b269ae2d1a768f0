// The 16-bit kernels: single-pixel and 4-bit blends, masked blends through
// 1-, 4- and 8-bit masks, gray dithering, copies, stretching and the colour
// fill through a mask.
#include <numeric>

#include "core/FrameworkServices.h"
#include "layout/MaskBlend.h"
#include "layout/MaskedImage.h"
#include "layout/ResourceValues.h"
#include "layout/ScreenScale.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

std::uint16_t Px(const CBitmapBuffer& b, int x, int y) { return reinterpret_cast<const std::uint16_t*>(b.Row(y))[x]; }

class BlendTest : public LayoutTest {};

TEST_F(BlendTest, BlendPixel565AndBlend4ByteForByte) {
  struct Case {
    std::uint16_t d, s;
    int a;
    std::uint16_t expected;
  } pixels[] = {{0x0000, 0xFFFF, 128, 0x7BEF}, {0xFFFF, 0x0000, 128, 0x7BEF}, {0x0000, 0xFFFF, 256, 0xFFFF},
                {0x1234, 0xABCD, 0, 0x1234},   {0xF800, 0x001F, 64, 0xB807},  {0x07E0, 0xF81F, 200, 0xC1B8}};
  for (const Case& c : pixels) {
    std::uint16_t p = c.d;
    BlendPixel565(p, c.s, c.a);
    EXPECT_EQ(p, c.expected) << std::hex << c.d << " " << c.s << " " << std::dec << c.a;
  }
  EXPECT_EQ(Blend4(0x0000, 0xFFFF, 8), 0x7BEF);
  EXPECT_EQ(Blend4(0x0000, 0xFFFF, 15), 0xEF7D);
  EXPECT_EQ(Blend4(0x1234, 0xFFFF, 0), 0x1234);
  EXPECT_EQ(Blend4(0xF800, 0x07FF, 4), 0xB9E7);
}

TEST_F(BlendTest, MaskedBlendThroughEachMaskDepth) {
  auto target = MakeTarget(4, 1, 0x0000);
  auto picture = Bitmap(4, 1, 16, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
  // 4-bit mask: 15 copies, 0 keeps, 8 is the spread mean, 1 a small step.
  auto mask4 = Bitmap(4, 1, 4, {15, 0, 8, 1});
  ASSERT_TRUE(BlendMasked(target->buffer, 0, 0, 4, 1, *picture, 0, 0, *mask4, 255));
  EXPECT_EQ(Px(target->buffer, 0, 0), 0xFFFF);
  EXPECT_EQ(Px(target->buffer, 1, 0), 0x0000);
  EXPECT_EQ(Px(target->buffer, 2, 0), 0x7BEF);
  EXPECT_EQ(Px(target->buffer, 3, 0), Blend4(0, 0xFFFF, 1));
  // 8-bit mask at opacity 255 and 128.
  auto mask8 = Bitmap(4, 1, 8, {255, 0, 128, 64});
  auto t8 = MakeTarget(4, 1, 0x0000);
  ASSERT_TRUE(BlendMasked(t8->buffer, 0, 0, 4, 1, *picture, 0, 0, *mask8, 255));
  std::uint16_t mid = 0;
  BlendPixel565(mid, 0xFFFF, 128);
  EXPECT_EQ(Px(t8->buffer, 0, 0), 0xFFFF);
  EXPECT_EQ(Px(t8->buffer, 1, 0), 0x0000);
  EXPECT_EQ(Px(t8->buffer, 2, 0), mid);
  auto half = MakeTarget(4, 1, 0x0000);
  ASSERT_TRUE(BlendMasked(half->buffer, 0, 0, 4, 1, *picture, 0, 0, *mask8, 128));
  std::uint16_t expected = 0;
  BlendPixel565(expected, 0xFFFF, 255 * 128 / 256);
  EXPECT_EQ(Px(half->buffer, 0, 0), expected);
  // 1-bit mask, opaque and at opacity 100.
  auto mask1 = Bitmap(4, 1, 1, {1, 0, 1, 0});
  auto t1 = MakeTarget(4, 1, 0x0000);
  ASSERT_TRUE(BlendMasked(t1->buffer, 0, 0, 4, 1, *picture, 0, 0, *mask1, 100));
  std::uint16_t weak = 0;
  BlendPixel565(weak, 0xFFFF, 100);
  EXPECT_EQ(Px(t1->buffer, 0, 0), weak);
  EXPECT_EQ(Px(t1->buffer, 1, 0), 0x0000);
  // Opacity 0 draws nothing.
  auto t0 = MakeTarget(4, 1, 0x1111);
  EXPECT_TRUE(BlendMasked(t0->buffer, 0, 0, 4, 1, *picture, 0, 0, *mask8, 0));
  EXPECT_EQ(Px(t0->buffer, 0, 0), 0x1111);
}

TEST_F(BlendTest, OddSourceColumnUsesTheLowNibbleFirst) {
  auto picture = Bitmap(4, 1, 16, {0x0001, 0x0002, 0x0003, 0x0004});
  auto mask = Bitmap(4, 1, 4, {0, 15, 0, 15});
  auto target = MakeTarget(3, 1, 0x5555);
  ASSERT_TRUE(BlendMasked(target->buffer, 0, 0, 3, 1, *picture, 1, 0, *mask, 255));
  EXPECT_EQ(Px(target->buffer, 0, 0), 0x0002);
  EXPECT_EQ(Px(target->buffer, 1, 0), 0x5555);
  EXPECT_EQ(Px(target->buffer, 2, 0), 0x0004);
}

TEST_F(BlendTest, ClippingAndMaskCoverage) {
  std::vector<std::uint32_t> values(8);
  std::iota(values.begin(), values.end(), 1u);
  auto picture = Bitmap(8, 1, 16, values);
  auto mask = Bitmap(8, 1, 8, std::vector<std::uint32_t>(8, 255));
  auto target = MakeTarget(8, 1, 0);
  // Drawing at x = -5 skips the first five source columns.
  ASSERT_TRUE(BlendMasked(target->buffer, -5, 0, 8, 1, *picture, 0, 0, *mask, 255));
  EXPECT_EQ(Px(target->buffer, 0, 0), 6);
  EXPECT_EQ(Px(target->buffer, 2, 0), 8);
  EXPECT_EQ(Px(target->buffer, 3, 0), 0);
  // A mask smaller than the picture rectangle draws nothing.
  auto small = Bitmap(4, 1, 8, std::vector<std::uint32_t>(4, 255));
  auto untouched = MakeTarget(8, 1, 0x0F0F);
  EXPECT_FALSE(BlendMasked(untouched->buffer, 0, 0, 8, 1, *picture, 0, 0, *small, 255));
  EXPECT_EQ(Px(untouched->buffer, 0, 0), 0x0F0F);
  // A negative source origin fails.
  EXPECT_FALSE(BlendMasked(untouched->buffer, 0, 0, 2, 1, *picture, -1, 0, *mask, 255));
}

TEST_F(BlendTest, BottomUpAndTopDownGiveTheSamePicture) {
  const std::vector<std::uint32_t> pixels{0xF800, 0x07E0, 0x001F, 0xFFFF};
  const std::vector<std::uint32_t> alpha{255, 128, 0, 255};
  std::vector<std::uint16_t> results[8];
  for (int combo = 0; combo < 8; ++combo) {
    auto picture = Bitmap(2, 2, 16, pixels, combo & 1);
    auto mask = Bitmap(2, 2, 8, alpha, (combo & 2) != 0);
    auto target = MakeTarget(2, 2, 0x1234);
    if (combo & 4) {
      // A top-down target: describe the picture-sized bitmap as one.
      auto td = Bitmap(2, 2, 16, {0x1234, 0x1234, 0x1234, 0x1234}, true);
      ASSERT_TRUE(td->IsTopDown());
      ASSERT_TRUE(BlendMasked(*td, 0, 0, 2, 2, *picture, 0, 0, *mask, 255));
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) results[combo].push_back(Px(*td, x, y));
    } else {
      ASSERT_TRUE(BlendMasked(target->buffer, 0, 0, 2, 2, *picture, 0, 0, *mask, 255));
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) results[combo].push_back(Px(target->buffer, x, y));
    }
  }
  EXPECT_EQ(results[0][0], 0xF800);
  EXPECT_EQ(results[0][2], 0x1234);
  for (int combo = 1; combo < 8; ++combo) EXPECT_EQ(results[combo], results[0]) << combo;
}

TEST_F(BlendTest, GrayDitherAveragesTheLevel) {
  const int w = 16, h = 16;
  auto gray = Bitmap(w, h, 8, std::vector<std::uint32_t>(w * h, 100));
  auto mask = Bitmap(w, h, 8, std::vector<std::uint32_t>(w * h, 255));
  auto target = MakeTarget(w, h, 0);
  ASSERT_TRUE(BlendGrayMasked(target->buffer, 0, 0, w, h, *gray, 0, 0, *mask, -1));
  long red = 0;
  int distinct = 0;
  std::uint16_t first = Px(target->buffer, 0, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint16_t p = Px(target->buffer, x, y);
      red += (p >> 8) & 0xF8;
      if (p != first) ++distinct;
    }
  EXPECT_GT(distinct, 0);  // a pattern, not a flat truncated colour
  EXPECT_NEAR(static_cast<double>(red) / (w * h), 100.0, 1.0);
  // Serpentine order with the error carried: the first row's pixels.
  EXPECT_EQ(Px(target->buffer, 0, 0), 0x632C);  // 100 each, stored 96,100,96 (error 4 red, 4 blue)
  EXPECT_EQ(Px(target->buffer, 1, 0), 0x6B2D);  // 104,100,104: red and blue carry over 8
  // A colour base instead of the target.
  auto coloured = MakeTarget(1, 1, 0);
  auto g1 = Bitmap(1, 1, 8, {0});
  auto m1 = Bitmap(1, 1, 8, {0});
  ASSERT_TRUE(BlendGrayMasked(coloured->buffer, 0, 0, 1, 1, *g1, 0, 0, *m1, 0x0000F8));
  EXPECT_EQ(Px(coloured->buffer, 0, 0), 0xF800);
}

TEST_F(BlendTest, CopiesAndTheirDepths) {
  auto picture = Bitmap(3, 2, 16, {1, 2, 3, 4, 5, 6});
  auto target = MakeTarget(3, 2, 0);
  ASSERT_TRUE(CopyBitmapRect(target->buffer, 0, 0, 3, 2, *picture, 0, 0));
  EXPECT_EQ(Px(target->buffer, 2, 1), 6);
  auto mirrored = MakeTarget(3, 2, 0);
  ASSERT_TRUE(CopyMirrored(mirrored->buffer, *picture));
  EXPECT_EQ(Px(mirrored->buffer, 0, 0), 3);
  EXPECT_EQ(Px(mirrored->buffer, 2, 1), 4);
  auto flipped = MakeTarget(3, 2, 0);
  ASSERT_TRUE(CopyFlipped(flipped->buffer, *picture));
  EXPECT_EQ(Px(flipped->buffer, 0, 0), 4);
  // Sub-byte pictures mirror by pixel.
  auto bits = Bitmap(10, 1, 1, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0});
  auto bitsOut = Bitmap(10, 1, 1, {});
  ASSERT_TRUE(CopyMirrored(*bitsOut, *bits));
  EXPECT_EQ(bitsOut->Row(0)[0], 0x00);
  EXPECT_EQ(bitsOut->Row(0)[1], 0xC0);  // pixels 8 and 9
  auto nibbles = Bitmap(3, 1, 4, {1, 2, 3});
  auto nibblesOut = Bitmap(3, 1, 4, {});
  ASSERT_TRUE(CopyMirrored(*nibblesOut, *nibbles));
  EXPECT_EQ(nibblesOut->Row(0)[0], 0x32);
  EXPECT_EQ(nibblesOut->Row(0)[1], 0x10);
  // CopyBitmapRect takes 8 and 16 bits of the same depth only.
  auto mono = Bitmap(8, 1, 1, {});
  auto monoTarget = Bitmap(8, 1, 1, {});
  EXPECT_FALSE(CopyBitmapRect(*monoTarget, 0, 0, 8, 1, *mono, 0, 0));
  auto grey = Bitmap(3, 2, 8, {});
  EXPECT_FALSE(CopyBitmapRect(target->buffer, 0, 0, 3, 2, *grey, 0, 0));
}

TEST_F(BlendTest, StretchedRowsAndColumnsCheckTheirRows) {
  MaskedImage image{Bitmap(2, 2, 8, {10, 20, 30, 40}), Bitmap(2, 2, 8, {255, 255, 255, 0})};
  auto target = MakeTarget(4, 4, 0);
  EXPECT_EQ(StretchRowDown(image, target->buffer, 1, 0, 3, 1), plat::S_OK);
  EXPECT_EQ(Px(target->buffer, 1, 2), ColorToRgb565(0x1E1E1E));
  EXPECT_EQ(Px(target->buffer, 2, 2), 0);  // mask 0
  EXPECT_EQ(Px(target->buffer, 1, 3), 0);
  EXPECT_EQ(StretchRowDown(image, target->buffer, 0, 0, 2, 2), plat::E_FAIL);
  EXPECT_EQ(StretchRowDown(image, target->buffer, 0, 0, 2, -1), plat::E_FAIL);
  auto across = MakeTarget(4, 2, 0);
  EXPECT_EQ(StretchColumnAcross(image, across->buffer, 0, 0, 4), plat::S_OK);
  EXPECT_EQ(Px(across->buffer, 3, 0), ColorToRgb565(0x0A0A0A));
  MaskedImage mono{Bitmap(2, 2, 8, {}), Bitmap(2, 2, 1, {})};
  EXPECT_EQ(StretchColumnAcross(mono, across->buffer, 0, 0, 4), plat::E_FAIL);
}

TEST_F(BlendTest, ColourThroughMaskClipsBothWays) {
  auto mask1 = Bitmap(8, 1, 1, {1, 0, 1, 1, 0, 0, 0, 1});
  auto target = MakeTarget(4, 1, 0);
  // Destination x = -2 starts at mask column 2.
  ASSERT_TRUE(BlendColorThroughMask(target->buffer, -2, 0, 8, 1, 0xFFFFFF, 0, 0, *mask1, 255));
  EXPECT_EQ(Px(target->buffer, 0, 0), 0xFFFF);
  EXPECT_EQ(Px(target->buffer, 1, 0), 0xFFFF);
  EXPECT_EQ(Px(target->buffer, 2, 0), 0);
  auto mask8 = Bitmap(2, 1, 8, {255, 100});
  auto t8 = MakeTarget(2, 1, 0);
  ASSERT_TRUE(BlendColorThroughMask(t8->buffer, 0, 0, 2, 1, 0xFFFFFF, 0, 0, *mask8, 128));
  std::uint16_t a = 0, b = 0;
  BlendPixel565(a, 0xFFFF, 255 * 128 / 256);
  BlendPixel565(b, 0xFFFF, 100 * 128 / 256);
  EXPECT_EQ(Px(t8->buffer, 0, 0), a);
  EXPECT_EQ(Px(t8->buffer, 1, 0), b);
  auto mask4 = Bitmap(2, 1, 4, {15, 15});
  EXPECT_FALSE(BlendColorThroughMask(t8->buffer, 0, 0, 2, 1, 0xFFFFFF, 0, 0, *mask4, 255));
}

TEST_F(BlendTest, MulDivRoundRounding) {
  EXPECT_EQ(MulDivRound(-13, 192, 96), -26);
  EXPECT_EQ(MulDivRound(13, 131, 96), 18);
  EXPECT_EQ(MulDivRound(48, 131, 96), 66);
  SetScreen(240, 320, 131);
  EXPECT_EQ(ScaleY(20), 27);
  EXPECT_TRUE(IsMiddleResolutionScreen());
  EXPECT_FALSE(IsDoubleResolutionScreen());
}

}  // namespace
}  // namespace layouttest
