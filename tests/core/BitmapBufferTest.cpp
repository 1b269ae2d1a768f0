// Bitmap buffers: creation in each format, attaching, RGB565 fills, blends
// and copies pixel by pixel, and copies from other depths.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/BitmapBuffer.h"
#include "platform/imaging/Imaging.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class BitmapBufferTest : public orvtest::DeviceTest {};

std::uint16_t Px(const CBitmapBuffer& b, int x, int y) {
  return reinterpret_cast<const std::uint16_t*>(b.Row(y))[x];
}
void SetPx(CBitmapBuffer& b, int x, int y, std::uint16_t v) { reinterpret_cast<std::uint16_t*>(b.Row(y))[x] = v; }

// A 16-bit buffer whose every pixel is `value`.
void Flood(CBitmapBuffer& b, std::uint16_t value) {
  for (int y = 0; y < b.GetHeight(); ++y)
    for (int x = 0; x < b.GetWidth(); ++x) SetPx(b, x, y, value);
}

TEST_F(BitmapBufferTest, CreateInEachFormat) {
  struct Case {
    int format, w, h;
    bool ok;
    int bpp, stride;
  } cases[] = {
      {0, 10, 2, true, 1, 4},  {1, 9, 3, true, 4, 8},  {2, 5, 1, true, 8, 8},     {3, 3, 2, true, 16, 8},
      {4, 3, 2, true, 24, 12}, {4, 4, 1, true, 24, 12}, {3, 33, 1, true, 16, 68}, {5, 4, 4, false, 0, 0},
      {-1, 4, 4, false, 0, 0}, {3, 0, 5, false, 0, 0},  {3, 5, 0, false, 0, 0},   {3, -2, 5, false, 0, 0},
  };
  for (const Case& c : cases) {
    CBitmapBuffer b;
    ASSERT_TRUE(b.Create(2, 2, 3));  // something to release first
    EXPECT_EQ(b.Create(c.w, c.h, c.format), c.ok) << c.format << " " << c.w << "x" << c.h;
    EXPECT_EQ(b.GetBitsPerPixel(), c.bpp);
    EXPECT_EQ(b.GetStride(), c.stride);
    if (!c.ok) {
      EXPECT_EQ(b.GetBitmap(), nullptr);
      EXPECT_EQ(b.GetBits(), nullptr);
      EXPECT_EQ(b.GetWidth(), 0);
      continue;
    }
    EXPECT_TRUE(b.OwnsBitmap());
    EXPECT_FALSE(b.IsTopDown());
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectW(b.GetBitmap(), sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBmih.biHeight, c.h);  // bottom-up
    EXPECT_EQ(ds.dsBmih.biCompression, c.bpp == 16 ? BI_BITFIELDS : BI_RGB);
    EXPECT_EQ(ds.dsBmih.biSizeImage, static_cast<DWORD>(c.stride * c.h));
    EXPECT_EQ(ds.dsBmih.biXPelsPerMeter, 3780);
    if (c.bpp == 16) {
      EXPECT_EQ(ds.dsBitfields[0], 0xF800u);
      EXPECT_EQ(ds.dsBitfields[1], 0x07E0u);
      EXPECT_EQ(ds.dsBitfields[2], 0x001Fu);
    }
  }
}

TEST_F(BitmapBufferTest, GreyColourTables) {
  struct Case {
    int format;
    int entry;
    BYTE level;
  } cases[] = {{0, 0, 0}, {0, 1, 255}, {1, 0, 0}, {1, 5, 80}, {1, 15, 240}, {2, 7, 7}, {2, 255, 255}};
  for (const Case& c : cases) {
    CBitmapBuffer b;
    ASSERT_TRUE(b.Create(4, 4, c.format));
    RGBQUAD q{1, 2, 3, 4};
    ASSERT_EQ(GetDIBColorTable(b.GetDC(), static_cast<UINT>(c.entry), 1, &q), 1u);
    EXPECT_EQ(q.rgbRed, c.level) << c.format << " " << c.entry;
    EXPECT_EQ(q.rgbGreen, c.level);
    EXPECT_EQ(q.rgbBlue, c.level);
  }
}

TEST_F(BitmapBufferTest, ColourConversionAndBlendArithmetic) {
  struct Conv {
    COLORREF c;
    std::uint16_t rgb565;
  } conv[] = {{RGB(255, 255, 255), 0xFFFF}, {RGB(255, 0, 0), 0xF800}, {RGB(0, 255, 0), 0x07E0},
              {RGB(0, 0, 255), 0x001F},     {RGB(0x12, 0x34, 0x56), 0x11AA}, {RGB(7, 3, 7), 0x0000}};
  for (const Conv& c : conv) EXPECT_EQ(ColorToRgb565(c.c), c.rgb565) << std::hex << c.c;

  struct Blend {
    std::uint16_t pixel, colour;
    int alpha;
    std::uint16_t result;
  } blends[] = {
      {0xFFFF, 0x0000, 128, 0x7BEF}, {0xF800, 0x001F, 64, 0xB807}, {0x1234, 0xFFFF, 0, 0x1234},
      {0x1234, 0xABCD, 256, 0xABCD}, {0xFFFF, 0x8410, 192, 0x9CF3}, {0x0000, 0xFFFF, 1, 0x0000},
  };
  for (const Blend& b : blends) {
    std::uint16_t p = b.pixel;
    BlendPixel565(p, b.colour, b.alpha);
    EXPECT_EQ(p, b.result) << std::hex << b.pixel << " " << b.colour << " " << std::dec << b.alpha;
  }
}

TEST_F(BitmapBufferTest, FillRectAlphaClipsAndBlends) {
  struct Case {
    int x, y, w, h;
    std::uint8_t alpha;
    int left, top, right, bottom;  // pixels expected to change
    std::uint16_t value;
  } cases[] = {
      {-5, 0, 10, 4, 255, 0, 0, 5, 4, 0xF800},  // columns 0..4 only
      {6, 1, 10, 10, 255, 6, 1, 8, 4, 0xF800},  // clipped right and bottom
      {1, -3, 2, 5, 255, 1, 0, 3, 2, 0xF800},
      {2, 1, 3, 2, 128, 2, 1, 5, 3, 0x7BEF},    // white half-way to black... red
      {0, 0, 8, 4, 0, 0, 0, 0, 0, 0},           // alpha 0 changes nothing
      {9, 0, 3, 3, 255, 0, 0, 0, 0, 0},         // outside
      {-10, 0, 5, 3, 255, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CBitmapBuffer b;
    ASSERT_TRUE(b.Create(8, 4, CBitmapBuffer::kRgb565));
    Flood(b, 0xFFFF);
    COLORREF colour = c.alpha == 128 ? RGB(0, 0, 0) : RGB(255, 0, 0);
    EXPECT_TRUE(b.FillRectAlpha(c.x, c.y, c.w, c.h, colour, c.alpha));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) {
        bool inside = x >= c.left && x < c.right && y >= c.top && y < c.bottom;
        ASSERT_EQ(Px(b, x, y), inside ? c.value : 0xFFFF) << c.x << "," << c.y << " at " << x << "," << y;
      }
  }
}

TEST_F(BitmapBufferTest, RowsAreBottomUpInMemory) {
  CBitmapBuffer b;
  ASSERT_TRUE(b.Create(3, 3, CBitmapBuffer::kRgb565));
  ASSERT_TRUE(b.FillRectAlpha(0, 0, 3, 1, RGB(255, 0, 0), 255));
  // Image row 0 is the last memory row.
  EXPECT_EQ(reinterpret_cast<std::uint16_t*>(static_cast<std::uint8_t*>(b.GetBits()) + 2 * b.GetStride())[0],
            0xF800);
  PixelImage img = ReadBitmapPixels(b.GetBitmap());
  ASSERT_EQ(img.pixels.size(), 9u);
  EXPECT_EQ(img.pixels[0], 0xF80000u);
  EXPECT_EQ(img.pixels[3], 0u);
}

TEST_F(BitmapBufferTest, SixteenBitOperationsRefuseOtherDepths) {
  for (int format : {0, 1, 2, 4}) {
    CBitmapBuffer b, sixteen;
    ASSERT_TRUE(b.Create(4, 4, format));
    ASSERT_TRUE(sixteen.Create(4, 4, CBitmapBuffer::kRgb565));
    std::vector<std::uint8_t> before(static_cast<const std::uint8_t*>(b.GetBits()),
                                     static_cast<const std::uint8_t*>(b.GetBits()) + b.GetStride() * 4);
    EXPECT_FALSE(b.FillRectAlpha(0, 0, 4, 4, RGB(255, 255, 255), 255)) << format;
    EXPECT_FALSE(b.BlendFrom(0, 0, 4, 4, sixteen, 0, 0, -1)) << format;
    EXPECT_FALSE(sixteen.BlendFrom(0, 0, 4, 4, b, 0, 0, -1)) << format;
    EXPECT_EQ(std::memcmp(before.data(), b.GetBits(), before.size()), 0);
  }
}

TEST_F(BitmapBufferTest, ShadeRect) {
  CBitmapBuffer b;
  ASSERT_TRUE(b.Create(4, 4, CBitmapBuffer::kRgb565));
  Flood(b, 0xFFFF);
  RECT r{1, 1, 3, 3};
  b.ShadeRect(r, false);
  EXPECT_EQ(Px(b, 1, 1), 0xFFFF);
  b.ShadeRect(r, true);
  EXPECT_EQ(Px(b, 1, 1), 0x9CF3);
  EXPECT_EQ(Px(b, 2, 2), 0x9CF3);
  EXPECT_EQ(Px(b, 0, 0), 0xFFFF);
  EXPECT_EQ(Px(b, 3, 3), 0xFFFF);
}

std::uint16_t SrcValue(int x, int y) { return static_cast<std::uint16_t>(0x1000 + 16 * y + x); }

TEST_F(BitmapBufferTest, BlendFromClipsToBothBuffers) {
  struct Case {
    int x, y, w, h, srcX, srcY;
    bool ok;
    int dstLeft, dstTop, cols, rows, srcLeft, srcTop;
  } cases[] = {
      {1, 1, 2, 2, 0, 0, true, 1, 1, 2, 2, 0, 0},
      {-1, -2, 4, 4, 0, 0, true, 0, 0, 3, 2, 1, 2},
      {4, 4, 4, 4, 0, 0, true, 4, 4, 2, 2, 0, 0},
      {0, 0, 6, 6, 2, 1, true, 0, 0, 2, 3, 2, 1},
      {0, 0, 2, 2, -1, 0, false, 0, 0, 0, 0, 0, 0},
      {-1, 0, 2, 2, -2, 0, false, 0, 0, 0, 0, 0, 0},
      {0, 0, 2, 2, 0, -1, false, 0, 0, 0, 0, 0, 0},
      {-2, 0, 2, 2, -1, 0, true, 0, 0, 0, 0, 0, 0},  // clipped to nothing, origin moves to 1
      {0, 0, 2, 2, 5, 0, true, 0, 0, 0, 0, 0, 0},
      {7, 0, 2, 2, 0, 0, true, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CBitmapBuffer src, dst;
    ASSERT_TRUE(src.Create(4, 4, CBitmapBuffer::kRgb565));
    ASSERT_TRUE(dst.Create(6, 6, CBitmapBuffer::kRgb565));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) SetPx(src, x, y, SrcValue(x, y));
    EXPECT_EQ(dst.BlendFrom(c.x, c.y, c.w, c.h, src, c.srcX, c.srcY, -1), c.ok) << c.x << "," << c.y;
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) {
        bool inside = x >= c.dstLeft && x < c.dstLeft + c.cols && y >= c.dstTop && y < c.dstTop + c.rows;
        std::uint16_t want = inside ? SrcValue(c.srcLeft + x - c.dstLeft, c.srcTop + y - c.dstTop) : 0;
        ASSERT_EQ(Px(dst, x, y), want) << "case " << c.x << "," << c.y << "," << c.srcX << " at " << x << "," << y;
      }
  }
}

TEST_F(BitmapBufferTest, BlendFromAlphas) {
  struct Case {
    int alpha;
    std::uint16_t result;
  } cases[] = {{0, 0xFFFF}, {-1, 0x0000}, {128, 0x7BEF}, {192 - 256, 0x39E7}, {192, 0x39E7}, {64, 0xBDF7}};
  for (const Case& c : cases) {
    CBitmapBuffer src, dst;
    ASSERT_TRUE(src.Create(2, 2, CBitmapBuffer::kRgb565));  // black
    ASSERT_TRUE(dst.Create(2, 2, CBitmapBuffer::kRgb565));
    Flood(dst, 0xFFFF);
    EXPECT_TRUE(dst.BlendFrom(0, 0, 2, 2, src, 0, 0, c.alpha));
    EXPECT_EQ(Px(dst, 1, 1), c.result) << c.alpha;
  }
}

TEST_F(BitmapBufferTest, TopDownSectionsKeepTheirRows) {
  void* bits = nullptr;
  HBITMAP topDown = gditest::MakeDib(2, 3, 16, true, &bits);
  ASSERT_NE(topDown, nullptr);
  auto* p = static_cast<std::uint16_t*>(bits);  // first memory row is the top row
  p[0] = 0xF800;
  CBitmapBuffer src(topDown, nullptr);
  ASSERT_EQ(src.GetBitmap(), topDown);
  EXPECT_TRUE(src.IsTopDown());
  EXPECT_FALSE(src.OwnsBitmap());
  EXPECT_EQ(Px(src, 0, 0), 0xF800);
  CBitmapBuffer dst;
  ASSERT_TRUE(dst.Create(2, 3, CBitmapBuffer::kRgb565));
  ASSERT_TRUE(dst.BlendFrom(0, 0, 2, 3, src, 0, 0, -1));
  PixelImage img = ReadBitmapPixels(dst.GetBitmap());
  EXPECT_EQ(img.pixels[0], 0xF80000u);
  EXPECT_EQ(img.pixels[4], 0u);
  src.Destroy();
  EXPECT_NE(GetObjectType(topDown), 0u);  // not owned: still alive
  DeleteObject(topDown);
}

TEST_F(BitmapBufferTest, AttachAndOwnership) {
  HDC screen = GetDC(nullptr);
  HBITMAP ddb = CreateCompatibleBitmap(screen, 4, 4);
  ReleaseDC(nullptr, screen);
  CBitmapBuffer b;
  EXPECT_FALSE(b.Attach(nullptr, nullptr));
  EXPECT_FALSE(b.Attach(ddb, nullptr));
  EXPECT_FALSE(b.AttachBitmap(ddb, false));
  EXPECT_NE(GetObjectType(ddb), 0u);
  EXPECT_FALSE(b.AttachBitmap(ddb, true));
  EXPECT_EQ(GetObjectType(ddb), 0u);  // deleted as unusable
  EXPECT_FALSE(b.AttachBitmap(nullptr, true));

  HBITMAP dib = gditest::MakeDib(5, 2, 24, false);
  {
    CBitmapBuffer owner;
    ASSERT_TRUE(owner.AttachBitmap(dib, true));
    EXPECT_TRUE(owner.OwnsBitmap());
    EXPECT_EQ(owner.GetWidth(), 5);
    EXPECT_EQ(owner.GetStride(), 16);
    EXPECT_NE(owner.GetDC(), nullptr);  // an owner makes its DC
  }
  EXPECT_EQ(GetObjectType(dib), 0u);

  gditest::MemDc m(gditest::MakeDib(3, 3, 16, false));
  CBitmapBuffer attached(m.bitmap(), m.dc());
  EXPECT_EQ(attached.GetDC(), m.dc());
  CBitmapBuffer noDc(m.bitmap(), nullptr);
  EXPECT_EQ(noDc.GetDC(), nullptr);
}

TEST_F(BitmapBufferTest, DrawBitmapConvertsOtherDepths) {
  // One pixel written into a source of each depth, drawn into RGB565.
  struct Case {
    int format;
    int value;  // palette index, or 0xRRGGBB for 24 bits
    std::uint16_t result;
  } cases[] = {
      {CBitmapBuffer::kMono, 1, 0xFFFF},    {CBitmapBuffer::kGrey4, 5, 0x528A},
      {CBitmapBuffer::kGrey8, 200, 0xCE59}, {CBitmapBuffer::kRgb24, 0x123456, 0x11AA},
      {CBitmapBuffer::kRgb565, 0xABCD, 0xABCD},
  };
  for (const Case& c : cases) {
    CBitmapBuffer src, dst;
    ASSERT_TRUE(src.Create(3, 2, c.format));
    std::uint8_t* row = src.Row(1);
    switch (c.format) {
      case CBitmapBuffer::kMono: row[0] = static_cast<std::uint8_t>(c.value << 7); break;
      case CBitmapBuffer::kGrey4: row[0] = static_cast<std::uint8_t>(c.value << 4); break;
      case CBitmapBuffer::kGrey8: row[0] = static_cast<std::uint8_t>(c.value); break;
      case CBitmapBuffer::kRgb24:
        row[0] = static_cast<std::uint8_t>(c.value);
        row[1] = static_cast<std::uint8_t>(c.value >> 8);
        row[2] = static_cast<std::uint8_t>(c.value >> 16);
        break;
      default: SetPx(src, 0, 1, static_cast<std::uint16_t>(c.value));
    }
    ASSERT_TRUE(dst.Create(4, 4, CBitmapBuffer::kRgb565));
    Flood(dst, 0x0841);
    RECT r{1, 1, 3, 3};
    EXPECT_TRUE(dst.DrawBitmap(r, src, 0, 1, false)) << c.format;
    EXPECT_EQ(Px(dst, 1, 1), c.result) << c.format;
    EXPECT_EQ(Px(dst, 2, 1), 0x0000) << c.format;
    EXPECT_EQ(Px(dst, 0, 0), 0x0841);
    EXPECT_EQ(Px(dst, 1, 2), 0x0841);  // source row 2 does not exist
  }
}

TEST_F(BitmapBufferTest, DrawBitmapDimmed) {
  CBitmapBuffer src, dst;
  ASSERT_TRUE(src.Create(2, 2, CBitmapBuffer::kRgb24));  // black
  ASSERT_TRUE(dst.Create(2, 2, CBitmapBuffer::kRgb565));
  Flood(dst, 0xFFFF);
  RECT r{0, 0, 2, 2};
  EXPECT_TRUE(dst.DrawBitmap(r, src, 0, 0, true));
  EXPECT_EQ(Px(dst, 0, 0), 0xBDF7);  // a quarter of the way to black
}

TEST_F(BitmapBufferTest, DrawIconStretched) {
  DecodedImage red;
  red.width = red.height = 4;
  red.pixels.assign(16, 0xFFFF0000u);
  HICON icon = CreateIconFromImage(red);
  ASSERT_NE(icon, nullptr);
  CBitmapBuffer b;
  ASSERT_TRUE(b.Create(10, 10, CBitmapBuffer::kRgb565));
  RECT r{1, 1, 9, 9};
  EXPECT_TRUE(b.DrawIcon(icon, r));
  EXPECT_EQ(Px(b, 1, 1), 0xF800);
  EXPECT_EQ(Px(b, 8, 8), 0xF800);
  EXPECT_EQ(Px(b, 9, 9), 0x0000);
  EXPECT_EQ(Px(b, 0, 0), 0x0000);
  EXPECT_FALSE(b.DrawIcon(nullptr, r));
  DestroyIcon(icon);
}

}  // namespace
