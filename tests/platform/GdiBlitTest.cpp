// DIB sections, pixel formats, fills, blits with raster operations,
// stretching, transparent and alpha blits, masks, icons, DC state.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/gdi/Gdi.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;
using gditest::Fill;
using gditest::MakeDib;
using gditest::MemDc;

class GdiTest : public orvtest::DeviceTest {};

TEST_F(GdiTest, DibSectionLayoutPerDepth) {
  struct Case {
    int bpp, width, stride;
  } cases[] = {{1, 9, 4}, {1, 33, 8}, {4, 9, 8}, {8, 5, 8}, {16, 3, 8}, {24, 5, 16}, {32, 3, 12}};
  for (const Case& c : cases) {
    for (bool topDown : {true, false}) {
      SCOPED_TRACE(testing::Message() << "bpp " << c.bpp << " width " << c.width << " topDown " << topDown);
      void* bits = nullptr;
      HBITMAP b = MakeDib(c.width, 3, c.bpp, topDown, &bits);
      ASSERT_NE(b, nullptr);
      ASSERT_NE(bits, nullptr);
      DIBSECTION ds{};
      ASSERT_EQ(GetObjectW(b, sizeof(ds), &ds), static_cast<int>(sizeof(DIBSECTION)));
      EXPECT_EQ(ds.dsBm.bmWidth, c.width);
      EXPECT_EQ(ds.dsBm.bmHeight, 3);
      EXPECT_EQ(ds.dsBm.bmWidthBytes, c.stride);
      EXPECT_EQ(ds.dsBm.bmBitsPixel, c.bpp);
      EXPECT_EQ(ds.dsBm.bmBits, bits);
      EXPECT_EQ(ds.dsBmih.biHeight, topDown ? -3 : 3);
      EXPECT_EQ(ds.dsBmih.biSizeImage, static_cast<DWORD>(c.stride * 3));
      // The top-left pixel lives in the first memory row of a top-down
      // section and in the last of a bottom-up one.
      MemDc m(b);
      SetPixel(m.dc(), 0, 0, RGB(255, 255, 255));
      const auto* p = static_cast<const unsigned char*>(bits);
      int row = topDown ? 0 : 2;
      EXPECT_NE(p[row * c.stride], 0);
      EXPECT_EQ(p[(2 - row) * c.stride], 0);
    }
  }
}

TEST_F(GdiTest, BadHeadersAreRefused) {
  struct Case {
    int w, h, bpp;
    DWORD compression;
  } cases[] = {{0, 4, 24, BI_RGB}, {4, 0, 24, BI_RGB}, {4, 4, 7, BI_RGB}, {4, 4, 24, BI_BITFIELDS},
               {4, 4, 8, BI_RLE8}, {20000, 4, 24, BI_RGB}, {9000, 9000, 32, BI_RGB}};
  for (const Case& c : cases) {
    BITMAPINFO bi{};
    bi.bmiHeader = DibHeader(c.w, c.h, c.bpp, c.compression);
    void* bits = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr) << c.w << "x" << c.h;
    EXPECT_EQ(bits, nullptr);
  }
}

TEST_F(GdiTest, ColoursRoundTripThroughEachFormat) {
  struct Case {
    int bpp;
    bool rgb555;
    COLORREF set, expect;
    DWORD raw;  // first pixel bytes as little-endian value (masked by the depth)
  } cases[] = {
      {32, false, RGB(0x12, 0x34, 0x56), RGB(0x12, 0x34, 0x56), 0x00123456},
      {24, false, RGB(0x12, 0x34, 0x56), RGB(0x12, 0x34, 0x56), 0x123456},
      {16, false, RGB(255, 0, 0), RGB(0xF8, 0, 0), 0xF800},
      {16, false, RGB(0, 255, 0), RGB(0, 0xFC, 0), 0x07E0},
      {16, false, RGB(0x12, 0x34, 0x56), RGB(0x10, 0x34, 0x50), 0x11AA},
      {16, true, RGB(255, 0, 0), RGB(0xF8, 0, 0), 0x7C00},
      {16, true, RGB(0, 255, 0), RGB(0, 0xF8, 0), 0x03E0},
      {8, false, RGB(0x80, 0x80, 0x80), RGB(0x80, 0x80, 0x80), 0x80},
      {8, false, RGB(200, 100, 0), RGB(100, 100, 100), 100},  // nearest grey
      {4, false, RGB(0xFF, 0xFF, 0xFF), RGB(0xFF, 0xFF, 0xFF), 0xF0},
      {1, false, RGB(200, 200, 200), RGB(255, 255, 255), 0x80},
      {1, false, RGB(50, 50, 50), RGB(0, 0, 0), 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bpp " << c.bpp << " colour " << std::hex << c.set);
    void* bits = nullptr;
    MemDc m(MakeDib(2, 1, c.bpp, true, &bits, c.rgb555));
    EXPECT_EQ(SetPixel(m.dc(), 0, 0, c.set), c.expect);
    EXPECT_EQ(GetPixel(m.dc(), 0, 0), c.expect);
    const auto* p = static_cast<const unsigned char*>(bits);
    DWORD v = 0;
    int bytes = c.bpp >= 8 ? c.bpp / 8 : 1;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    EXPECT_EQ(v, c.raw);
  }
}

TEST_F(GdiTest, FillRectClipsToBitmapClipAndOrigin) {
  MemDc m(MakeDib(8, 8, 24));
  Fill(m.dc(), -5, -5, 3, 2, RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(m.dc(), 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(m.dc(), 2, 1), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(m.dc(), 3, 1), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(m.dc(), 2, 2), RGB(0, 0, 0));

  int saved = SaveDC(m.dc());
  ASSERT_GT(saved, 0);
  EXPECT_EQ(IntersectClipRect(m.dc(), 4, 4, 6, 6), SIMPLEREGION);
  Fill(m.dc(), 0, 0, 8, 8, RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(m.dc(), 4, 4), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(m.dc(), 6, 6), CLR_INVALID);  // outside the clip
  RECT box{};
  EXPECT_EQ(GetClipBox(m.dc(), &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 4);
  EXPECT_EQ(box.right, 6);
  // The viewport moves drawing and the clip stays where it was on the device.
  SetViewportOrgEx(m.dc(), 1, 1, nullptr);
  Fill(m.dc(), 4, 4, 5, 5, RGB(0, 0, 255));
  SetViewportOrgEx(m.dc(), 0, 0, nullptr);
  EXPECT_EQ(GetPixel(m.dc(), 5, 5), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(m.dc(), 4, 4), RGB(0, 255, 0));
  ASSERT_TRUE(RestoreDC(m.dc(), -1));
  EXPECT_EQ(GetClipBox(m.dc(), &box), SIMPLEREGION);
  EXPECT_EQ(box.right, 8);
  EXPECT_EQ(GetPixel(m.dc(), 7, 7), RGB(0, 0, 0));
  EXPECT_FALSE(RestoreDC(m.dc(), -1));
}

TEST_F(GdiTest, RasterOperationsOnTrueColour) {
  const COLORREF S = RGB(0xF0, 0x0F, 0x55), D = RGB(0xCC, 0x33, 0xAA), P = RGB(0x0F, 0xF0, 0xFF);
  auto rgb = [](DWORD v) { return RGB(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); };
  DWORD s = S, d = D, p = P;
  struct Case {
    const char* name;
    DWORD rop;
    COLORREF expect;
  } cases[] = {
      {"SRCCOPY", SRCCOPY, S},
      {"SRCAND", SRCAND, rgb(s & d)},
      {"SRCPAINT", SRCPAINT, rgb(s | d)},
      {"SRCINVERT", SRCINVERT, rgb(s ^ d)},
      {"SRCERASE", SRCERASE, rgb(s & ~d)},
      {"NOTSRCCOPY", NOTSRCCOPY, rgb(~s)},
      {"NOTSRCERASE", NOTSRCERASE, rgb(~(s | d))},
      {"MERGECOPY", MERGECOPY, rgb(p & s)},
      {"MERGEPAINT", MERGEPAINT, rgb(~s | d)},
      {"PATCOPY", PATCOPY, P},
      {"PATPAINT", PATPAINT, rgb(p | ~s | d)},
      {"PATINVERT", PATINVERT, rgb(p ^ d)},
      {"DSTINVERT", DSTINVERT, rgb(~d)},
      {"BLACKNESS", BLACKNESS, RGB(0, 0, 0)},
      {"WHITENESS", WHITENESS, RGB(255, 255, 255)},
  };
  for (int bpp : {24, 32}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " at " << bpp << " bits");
      MemDc src(MakeDib(2, 2, bpp));
      MemDc dst(MakeDib(2, 2, bpp));
      Fill(src.dc(), 0, 0, 2, 2, S);
      Fill(dst.dc(), 0, 0, 2, 2, D);
      HBRUSH br = CreateSolidBrush(P);
      HGDIOBJ old = SelectObject(dst.dc(), br);
      ASSERT_TRUE(BitBlt(dst.dc(), 1, 0, 1, 2, src.dc(), 0, 0, c.rop));
      SelectObject(dst.dc(), old);
      DeleteObject(br);
      EXPECT_EQ(GetPixel(dst.dc(), 1, 1), c.expect);
      EXPECT_EQ(GetPixel(dst.dc(), 0, 0), D);  // outside the blit
    }
  }
}

TEST_F(GdiTest, RasterOperationsOnPaletteWorkOnIndices) {
  // 4-bit greys: index i is grey 17*i.
  MemDc src(MakeDib(1, 1, 4));
  MemDc dst(MakeDib(1, 1, 4));
  SetPixel(src.dc(), 0, 0, RGB(0x55, 0x55, 0x55));  // index 5
  SetPixel(dst.dc(), 0, 0, RGB(0xCC, 0xCC, 0xCC));  // index 12
  ASSERT_TRUE(BitBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, SRCINVERT));
  EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(0x99, 0x99, 0x99));  // index 5 ^ 12 = 9
  ASSERT_TRUE(BitBlt(dst.dc(), 0, 0, 1, 1, nullptr, 0, 0, DSTINVERT));
  EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(0x66, 0x66, 0x66));  // ~9 & 15 = 6
}

TEST_F(GdiTest, MonochromeConversionsUseDcColours) {
  // Monochrome to colour: 0 bits take the destination's text colour, 1 bits its background colour.
  MemDc mono(CreateBitmap(2, 1, 1, 1, nullptr));
  SetPixel(mono.dc(), 1, 0, RGB(255, 255, 255));
  MemDc colour(MakeDib(2, 1, 24));
  SetTextColor(colour.dc(), RGB(255, 0, 0));
  SetBkColor(colour.dc(), RGB(0, 0, 255));
  ASSERT_TRUE(BitBlt(colour.dc(), 0, 0, 2, 1, mono.dc(), 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(colour.dc(), 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(colour.dc(), 1, 0), RGB(0, 0, 255));

  // Colour to monochrome: pixels of the source's background colour become 1 (white).
  MemDc src(MakeDib(3, 1, 16));
  SetPixel(src.dc(), 0, 0, RGB(255, 0, 255));
  SetPixel(src.dc(), 1, 0, RGB(10, 200, 30));
  SetPixel(src.dc(), 2, 0, RGB(255, 0, 255));
  SetBkColor(src.dc(), RGB(255, 0, 255));
  MemDc mask(CreateBitmap(3, 1, 1, 1, nullptr));
  ASSERT_TRUE(BitBlt(mask.dc(), 0, 0, 3, 1, src.dc(), 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(mask.dc(), 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(mask.dc(), 1, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(mask.dc(), 2, 0), RGB(255, 255, 255));
}

TEST_F(GdiTest, BlitsConvertBetweenDepths) {
  const COLORREF colours[4] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0xF8, 0x00, 0x00), RGB(0x00, 0x80, 0x80)};
  MemDc src(MakeDib(4, 1, 24));
  for (int i = 0; i < 4; ++i) SetPixel(src.dc(), i, 0, colours[i]);
  struct Case {
    int bpp;
    COLORREF expect[4];
  } cases[] = {
      {32, {colours[0], colours[1], colours[2], colours[3]}},
      {16, {RGB(0, 0, 0), RGB(0xF8, 0xFC, 0xF8), RGB(0xF8, 0, 0), RGB(0, 0x80, 0x80)}},
      {8, {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0x53, 0x53, 0x53), RGB(0x55, 0x55, 0x55)}},  // nearest greys
      {1, {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0), RGB(0, 0, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bpp);
    for (bool topDown : {true, false}) {
      MemDc dst(MakeDib(4, 1, c.bpp, topDown));
      ASSERT_TRUE(BitBlt(dst.dc(), 0, 0, 4, 1, src.dc(), 0, 0, SRCCOPY));
      for (int i = 0; i < 4; ++i) EXPECT_EQ(GetPixel(dst.dc(), i, 0), c.expect[i]) << i;
    }
  }
}

// A copy between direct-colour formats gives every pixel the colour a single
// pixel of the destination's format takes when set to the source pixel's
// colour, lands where the offsets say, and leaves the pixels around alone
// (clipped at the destination's edges and at the source's).
TEST_F(GdiTest, CopiesBetweenDirectColourFormatsConvertEachPixelAsSetPixelDoes) {
  struct Format {
    const char* name;
    int bpp;  // 0: a bitmap compatible with the screen
    bool rgb555;
  };
  const Format formats[] = {{"565", 16, false}, {"555", 16, true}, {"24", 24, false}, {"32", 32, false},
                            {"screen", 0, false}};
  auto make = [](const Format& f, int w, int h, bool topDown) {
    return f.bpp ? MakeDib(w, h, f.bpp, topDown, nullptr, f.rgb555) : CreateCompatibleBitmap(nullptr, w, h);
  };
  constexpr int kW = 23, kH = 7;
  constexpr COLORREF kAround = RGB(0x11, 0x22, 0x33);
  for (const Format& from : formats) {
    for (const Format& to : formats) {
      if (from.bpp == to.bpp && from.rgb555 == to.rgb555) continue;
      for (const bool topDown : {true, false}) {
        SCOPED_TRACE(testing::Message() << from.name << " to " << to.name << (topDown ? " top-down" : " bottom-up"));
        MemDc src(make(from, kW, kH, topDown));
        for (int y = 0; y < kH; ++y)
          for (int x = 0; x < kW; ++x)
            SetPixel(src.dc(), x, y, RGB((x * 37 + y * 11) & 0xFF, (x * 11 + y * 53) & 0xFF, (x * 89 + y * 7) & 0xFF));
        MemDc dst(make(to, kW, kH, !topDown));
        for (int y = 0; y < kH; ++y)
          for (int x = 0; x < kW; ++x) SetPixel(dst.dc(), x, y, kAround);
        const COLORREF around = GetPixel(dst.dc(), 0, 0);
        MemDc one(make(to, 1, 1, true));
        // Starts left of the destination and runs past the source's bottom.
        const int dx = -3, dy = 2, sx = 4, sy = 1;
        ASSERT_TRUE(BitBlt(dst.dc(), dx, dy, 18, 9, src.dc(), sx, sy, SRCCOPY));
        for (int y = 0; y < kH; ++y) {
          for (int x = 0; x < kW; ++x) {
            const int fx = x - dx + sx, fy = y - dy + sy;
            const bool copied = x - dx < 18 && y >= dy && fx < kW && fy < kH;
            COLORREF expect = around;
            if (copied) {
              SetPixel(one.dc(), 0, 0, GetPixel(src.dc(), fx, fy));
              expect = GetPixel(one.dc(), 0, 0);
            }
            ASSERT_EQ(GetPixel(dst.dc(), x, y), expect) << "at " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST_F(GdiTest, SelfBlitWithOverlapCopiesTheOriginal) {
  MemDc m(MakeDib(4, 4, 16));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) SetPixel(m.dc(), x, y, RGB(x * 64, y * 64, 0));
  ASSERT_TRUE(BitBlt(m.dc(), 1, 1, 3, 3, m.dc(), 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(m.dc(), 3, 3), RGB(128, 128, 0));
  EXPECT_EQ(GetPixel(m.dc(), 1, 1), RGB(0, 0, 0));
}

TEST_F(GdiTest, StretchNearestMirrorAndHalftone) {
  MemDc src(MakeDib(2, 2, 24));
  SetPixel(src.dc(), 0, 0, RGB(10, 0, 0));
  SetPixel(src.dc(), 1, 0, RGB(20, 0, 0));
  SetPixel(src.dc(), 0, 1, RGB(30, 0, 0));
  SetPixel(src.dc(), 1, 1, RGB(40, 0, 0));

  MemDc big(MakeDib(4, 4, 24));
  ASSERT_TRUE(StretchBlt(big.dc(), 0, 0, 4, 4, src.dc(), 0, 0, 2, 2, SRCCOPY));
  const int expect[4][4] = {{10, 10, 20, 20}, {10, 10, 20, 20}, {30, 30, 40, 40}, {30, 30, 40, 40}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(GetPixel(big.dc(), x, y), RGB(expect[y][x], 0, 0)) << x << "," << y;

  MemDc mirrored(MakeDib(2, 2, 24));
  ASSERT_TRUE(StretchBlt(mirrored.dc(), 1, 0, -2, 2, src.dc(), 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(GetPixel(mirrored.dc(), 0, 0), RGB(20, 0, 0));
  EXPECT_EQ(GetPixel(mirrored.dc(), 1, 0), RGB(10, 0, 0));

  MemDc one(MakeDib(1, 1, 24));
  ASSERT_TRUE(StretchBlt(one.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(GetPixel(one.dc(), 0, 0), RGB(40, 0, 0));  // nearest: the centre sample
  EXPECT_EQ(SetStretchBltMode(one.dc(), HALFTONE), COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(one.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(GetPixel(one.dc(), 0, 0), RGB(25, 0, 0));  // the mean of the four
}

TEST_F(GdiTest, TransparentBltSkipsTheKeyColour) {
  MemDc src(MakeDib(2, 1, 16));
  SetPixel(src.dc(), 0, 0, RGB(255, 0, 255));
  SetPixel(src.dc(), 1, 0, RGB(0, 255, 0));
  for (bool viaBitmap : {false, true}) {
    MemDc dst(MakeDib(4, 2, 24));
    Fill(dst.dc(), 0, 0, 4, 2, RGB(1, 2, 3));
    BOOL ok = viaBitmap ? TransparentImage(dst.dc(), 0, 0, 4, 2, src.bitmap(), 0, 0, 2, 1, RGB(255, 0, 255))
                        : TransparentBlt(dst.dc(), 0, 0, 4, 2, src.dc(), 0, 0, 2, 1, RGB(255, 0, 255));
    ASSERT_TRUE(ok);
    EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(dst.dc(), 1, 1), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(dst.dc(), 2, 0), RGB(0, 0xFC, 0));
    EXPECT_EQ(GetPixel(dst.dc(), 3, 1), RGB(0, 0xFC, 0));
  }
}

TEST_F(GdiTest, AlphaBlendConstantAndPerPixel) {
  void* bits = nullptr;
  MemDc src(MakeDib(2, 1, 32, true, &bits));
  auto* px = static_cast<DWORD*>(bits);
  px[0] = 0x80800000;  // red, half transparent, premultiplied (128 of 255)
  px[1] = 0x00000000;  // fully transparent
  struct Case {
    BYTE constant, format;
    COLORREF expect0, expect1;
  } cases[] = {
      {255, AC_SRC_ALPHA, RGB(128, 0, 127), RGB(0, 0, 255)},
      {128, AC_SRC_ALPHA, RGB(64, 0, 191), RGB(0, 0, 255)},
      {128, 0, RGB(64, 0, 127), RGB(0, 0, 127)},
      {0, 0, RGB(0, 0, 255), RGB(0, 0, 255)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.constant) << " format " << int(c.format));
    MemDc dst(MakeDib(2, 1, 24));
    Fill(dst.dc(), 0, 0, 2, 1, RGB(0, 0, 255));
    BLENDFUNCTION bf{AC_SRC_OVER, 0, c.constant, c.format};
    ASSERT_TRUE(AlphaBlend(dst.dc(), 0, 0, 2, 1, src.dc(), 0, 0, 2, 1, bf));
    EXPECT_EQ(GetPixel(dst.dc(), 0, 0), c.expect0);
    EXPECT_EQ(GetPixel(dst.dc(), 1, 0), c.expect1);
  }
  // Per-pixel alpha needs a 32-bit source; a source rectangle outside the bitmap fails.
  MemDc src24(MakeDib(2, 1, 24));
  MemDc dst(MakeDib(2, 1, 24));
  EXPECT_FALSE(AlphaBlend(dst.dc(), 0, 0, 2, 1, src24.dc(), 0, 0, 2, 1, BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}));
  EXPECT_FALSE(AlphaBlend(dst.dc(), 0, 0, 2, 1, src.dc(), 1, 0, 2, 1, BLENDFUNCTION{AC_SRC_OVER, 0, 255, 0}));
}

TEST_F(GdiTest, MaskBltPicksOperationByMaskBit) {
  MemDc src(MakeDib(3, 1, 24));
  Fill(src.dc(), 0, 0, 3, 1, RGB(9, 8, 7));
  void* mbits = nullptr;
  HBITMAP mask = MakeDib(3, 1, 1, true, &mbits);
  static_cast<unsigned char*>(mbits)[0] = 0x40;  // pixel 1 set
  MemDc dst(MakeDib(3, 1, 24));
  Fill(dst.dc(), 0, 0, 3, 1, RGB(100, 100, 100));
  ASSERT_TRUE(MaskBlt(dst.dc(), 0, 0, 3, 1, src.dc(), 0, 0, mask, 0, 0, MAKEROP4(BLACKNESS, SRCCOPY)));
  EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(9, 8, 7));
  EXPECT_EQ(GetPixel(dst.dc(), 1, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dst.dc(), 2, 0), RGB(9, 8, 7));
  DeleteObject(mask);
}

TEST_F(GdiTest, IconsDrawThroughTheirMaskOrAlpha) {
  // 2x1 icon: pixel 0 opaque red, pixel 1 transparent.
  MemDc colour(MakeDib(2, 1, 24));
  SetPixel(colour.dc(), 0, 0, RGB(255, 0, 0));
  MemDc mask(MakeDib(2, 1, 1));
  SetPixel(mask.dc(), 1, 0, RGB(255, 255, 255));
  ICONINFO ii{TRUE, 0, 0, mask.bitmap(), colour.bitmap()};
  // The bitmaps are selected in DCs; CreateIconIndirect copies them anyway.
  HICON icon = CreateIconIndirect(&ii);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(GetIconSize(icon).cx, 2);
  MemDc dst(MakeDib(4, 2, 16));
  Fill(dst.dc(), 0, 0, 4, 2, RGB(0, 0, 255));
  ASSERT_TRUE(DrawIconEx(dst.dc(), 0, 0, icon, 4, 2, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(GetPixel(dst.dc(), 0, 0), RGB(0xF8, 0, 0));
  EXPECT_EQ(GetPixel(dst.dc(), 1, 1), RGB(0xF8, 0, 0));
  EXPECT_EQ(GetPixel(dst.dc(), 2, 0), RGB(0, 0, 0xF8));
  EXPECT_EQ(GetPixel(dst.dc(), 3, 1), RGB(0, 0, 0xF8));
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DestroyIcon(icon));

  void* bits = nullptr;
  MemDc argb(MakeDib(1, 1, 32, true, &bits));
  *static_cast<DWORD*>(bits) = 0x80FF0000;  // straight alpha 128, red
  MemDc mask1(MakeDib(1, 1, 1));
  ICONINFO ai{TRUE, 0, 0, mask1.bitmap(), argb.bitmap()};
  HICON alphaIcon = CreateIconIndirect(&ai);
  ASSERT_NE(alphaIcon, nullptr);
  MemDc dst2(MakeDib(1, 1, 24));
  ASSERT_TRUE(DrawIcon(dst2.dc(), 0, 0, alphaIcon));
  EXPECT_EQ(GetPixel(dst2.dc(), 0, 0), RGB(128, 0, 0));
  DestroyIcon(alphaIcon);
}

TEST_F(GdiTest, LinesAndRectanglesArePixelExact) {
  MemDc m(MakeDib(6, 6, 24));
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
  HBRUSH brush = CreateSolidBrush(RGB(0, 255, 0));
  HGDIOBJ oldPen = SelectObject(m.dc(), pen);
  HGDIOBJ oldBrush = SelectObject(m.dc(), brush);
  ASSERT_TRUE(Rectangle(m.dc(), 1, 1, 5, 5));
  EXPECT_EQ(GetPixel(m.dc(), 1, 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(m.dc(), 4, 4), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(m.dc(), 2, 2), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(m.dc(), 5, 5), RGB(0, 0, 0));
  Fill(m.dc(), 0, 0, 6, 6, RGB(0, 0, 0));
  MoveToEx(m.dc(), 0, 0, nullptr);
  ASSERT_TRUE(LineTo(m.dc(), 3, 3));
  EXPECT_EQ(GetPixel(m.dc(), 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(m.dc(), 2, 2), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(m.dc(), 3, 3), RGB(0, 0, 0));  // the end point is not drawn
  EXPECT_EQ(GetPixel(m.dc(), 1, 0), RGB(0, 0, 0));
  SelectObject(m.dc(), oldPen);
  SelectObject(m.dc(), oldBrush);
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_TRUE(DeleteObject(brush));
}

TEST_F(GdiTest, GradientFillInterpolatesAcross) {
  MemDc m(MakeDib(3, 1, 24));
  TRIVERTEX v[2] = {{0, 0, 0, 0, 0, 0}, {3, 1, 0xFF00, 0, 0, 0}};
  GRADIENT_RECT r{0, 1};
  ASSERT_TRUE(GradientFill(m.dc(), v, 2, &r, 1, GRADIENT_FILL_RECT_H));
  EXPECT_EQ(GetPixel(m.dc(), 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(m.dc(), 1, 0), RGB(85, 0, 0));
  EXPECT_EQ(GetPixel(m.dc(), 2, 0), RGB(170, 0, 0));
}

TEST_F(GdiTest, GetDIBitsConvertsToTheAskedFormat) {
  HBITMAP b = MakeDib(2, 2, 16, true);
  {
    MemDc m(b, false);
    SetPixel(m.dc(), 0, 0, RGB(255, 0, 0));
    SetPixel(m.dc(), 1, 1, RGB(0, 0, 255));
  }
  BITMAPINFO bi{};
  bi.bmiHeader = DibHeader(2, 2, 24);  // bottom-up
  unsigned char out[16] = {};
  ASSERT_EQ(GetDIBits(nullptr, b, 0, 2, out, &bi, DIB_RGB_COLORS), 2);
  // Bottom row first: (0,1) black, (1,1) blue; then (0,0) red.
  EXPECT_EQ(out[3], 0xF8);  // blue byte of pixel (1,1)
  EXPECT_EQ(out[8 + 2], 0xF8);  // red byte of pixel (0,0)
  EXPECT_EQ(out[8 + 0], 0);
  DeleteObject(b);
}

TEST_F(GdiTest, HandlesAreCheckedAndSelectedBitmapsStay) {
  HBITMAP b = MakeDib(2, 2, 24);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, b);
  ASSERT_NE(old, nullptr);
  EXPECT_FALSE(DeleteObject(b));  // selected into a DC
  HDC other = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(other, b), nullptr);  // one DC at a time
  SelectObject(dc, old);
  EXPECT_TRUE(DeleteObject(b));
  EXPECT_FALSE(DeleteObject(b));
  EXPECT_EQ(SelectObject(dc, b), nullptr);
  BITMAP bm{};
  EXPECT_EQ(GetObjectW(b, sizeof(bm), &bm), 0);
  EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));  // stock objects stay
  EXPECT_NE(GetObjectW(GetStockObject(WHITE_BRUSH), sizeof(LOGBRUSH), nullptr), 0);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(DeleteDC(dc));
  DeleteDC(other);
}

TEST_F(GdiTest, BrushAndPenDeletedWhileSelectedReadAsDefaults) {
  MemDc m(MakeDib(4, 1, 24));
  HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 255, 0));
  HGDIOBJ oldBrush = SelectObject(m.dc(), brush);
  HGDIOBJ oldPen = SelectObject(m.dc(), pen);
  ASSERT_TRUE(PatBlt(m.dc(), 0, 0, 1, 1, PATCOPY));
  EXPECT_EQ(GetPixel(m.dc(), 0, 0), RGB(255, 0, 0));
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_TRUE(DeleteObject(pen));
  ASSERT_TRUE(PatBlt(m.dc(), 1, 0, 1, 1, PATCOPY));
  EXPECT_EQ(GetPixel(m.dc(), 1, 0), RGB(255, 255, 255));  // the white stock brush
  Fill(m.dc(), 2, 0, 4, 1, RGB(9, 9, 9));
  MoveToEx(m.dc(), 2, 0, nullptr);
  ASSERT_TRUE(LineTo(m.dc(), 4, 0));
  EXPECT_EQ(GetPixel(m.dc(), 2, 0), RGB(0, 0, 0));  // the black stock pen
  SelectObject(m.dc(), oldBrush);
  SelectObject(m.dc(), oldPen);
}

TEST_F(GdiTest, CompatibleBitmapsAreScreenFormatWithoutBits) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  HBITMAP b = CreateCompatibleBitmap(screen, 3, 2);
  BITMAP bm{};
  ASSERT_EQ(GetObjectW(b, sizeof(bm), &bm), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(bm.bmBitsPixel, 16);
  EXPECT_EQ(bm.bmBits, nullptr);
  DIBSECTION ds{};
  EXPECT_EQ(GetObjectW(b, sizeof(ds), &ds), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 16);
  DeleteObject(b);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
}

TEST_F(GdiTest, ScreenSizeAndDpiCanBePosed) {
  struct Case {
    int w, h, dpi;
  } cases[] = {{480, 640, 192}, {240, 320, 96}, {320, 240, 96}};
  for (const Case& c : cases) {
    SetScreenForTesting(c.w, c.h, c.dpi);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, HORZRES), c.w);
    EXPECT_EQ(GetDeviceCaps(screen, VERTRES), c.h);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), c.dpi);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), c.dpi);
    Fill(screen, c.w - 1, c.h - 1, c.w + 5, c.h + 5, RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(screen, c.w - 1, c.h - 1), RGB(0xF8, 0xFC, 0xF8));
    EXPECT_EQ(GetPixel(screen, c.w, c.h - 1), CLR_INVALID);
    ReleaseDC(nullptr, screen);
  }
  ResetScreenForTesting();
  EXPECT_EQ(ScreenWidth(), 480);
  EXPECT_EQ(ScreenDpi(), 192);
}

}  // namespace
