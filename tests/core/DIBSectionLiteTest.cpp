// DIB-section copies of bitmaps of every depth: header, colour table, pixels.
#include <gtest/gtest.h>

#include <vector>

#include "core/DIBSectionLite.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class DIBSectionLiteTest : public orvtest::DeviceTest {};

TEST_F(DIBSectionLiteTest, CopiesOfEachDepth) {
  const std::vector<RGBQUAD> table = {{0, 0, 255, 0}, {255, 0, 0, 0}, {0, 128, 0, 0}};
  struct Case {
    int bpp;
    bool topDown;
    DWORD compression;
    int entries;
  } cases[] = {
      {1, true, BI_RGB, 2},       {4, false, BI_RGB, 16}, {8, true, BI_RGB, 256},
      {16, false, BI_BITFIELDS, 3}, {24, true, BI_RGB, 0}, {32, false, BI_BITFIELDS, 3},
  };
  for (const Case& c : cases) {
    HBITMAP src = gditest::MakeDib(5, 3, c.bpp, c.topDown, nullptr, false, &table);
    ASSERT_NE(src, nullptr);
    {
      gditest::MemDc m(src, false);
      // Colours every depth holds exactly (palette entries for the small ones).
      gditest::Fill(m.dc(), 0, 0, 5, 3, RGB(255, 0, 0));
      SetPixel(m.dc(), 4, 2, RGB(0, 0, 255));
    }
    CDIBSectionLite lite;
    ASSERT_TRUE(lite.SetBitmap(src)) << c.bpp;
    const BITMAPINFOHEADER& h = lite.GetHeader();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);  // bottom-up
    EXPECT_EQ(h.biBitCount, c.bpp);
    EXPECT_EQ(h.biCompression, c.compression) << c.bpp;
    EXPECT_EQ(h.biSizeImage, static_cast<DWORD>(((c.bpp * 5 + 31) / 32) * 4 * 3));
    EXPECT_EQ(lite.GetColorTableEntries(), c.entries);
    if (c.bpp <= 8) {
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(lite.GetColorTable()[i].rgbRed, table[i].rgbRed) << c.bpp << " entry " << i;
        EXPECT_EQ(lite.GetColorTable()[i].rgbBlue, table[i].rgbBlue);
      }
    }
    if (c.bpp == 16) {
      const auto* masks = reinterpret_cast<const DWORD*>(lite.GetColorTable());
      EXPECT_EQ(masks[0], 0x7C00u);
      EXPECT_EQ(masks[1], 0x03E0u);
      EXPECT_EQ(masks[2], 0x001Fu);
    }
    PixelImage a = ReadBitmapPixels(src), b = ReadBitmapPixels(lite.GetBitmap());
    ASSERT_EQ(b.width, 5);
    ASSERT_EQ(b.height, 3);
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
      ASSERT_EQ(b.pixels[i] & 0xFFFFFF, a.pixels[i] & 0xFFFFFF) << c.bpp << " pixel " << i;
    EXPECT_EQ(b.pixels[14] & 0xFFFF00, 0u) << c.bpp;  // blue (0xF8 and up in 16 bits)
    EXPECT_GE(b.pixels[14] & 0xFF, 0xF8u) << c.bpp;
    EXPECT_EQ(b.pixels[0] & 0xFFFFFF, c.bpp == 16 ? 0xF80000u : 0xFF0000u) << c.bpp;
    DeleteObject(src);
  }
}

TEST_F(DIBSectionLiteTest, MonochromeDeviceBitmapIsBlackAndWhite) {
  const BYTE rows[2] = {0x80, 0x00};  // top-left pixel white
  HBITMAP mono = CreateBitmap(2, 1, 1, 1, rows);
  ASSERT_NE(mono, nullptr);
  CDIBSectionLite lite;
  ASSERT_TRUE(lite.SetBitmap(mono));
  EXPECT_EQ(lite.GetColorTableEntries(), 2);
  EXPECT_EQ(lite.GetColorTable()[0].rgbRed, 0);
  EXPECT_EQ(lite.GetColorTable()[1].rgbRed, 255);
  EXPECT_EQ(lite.GetColorTable()[1].rgbGreen, 255);
  PixelImage img = ReadBitmapPixels(lite.GetBitmap());
  EXPECT_EQ(img.pixels[0], 0xFFFFFFu);
  EXPECT_EQ(img.pixels[1], 0u);
  DeleteObject(mono);
}

TEST_F(DIBSectionLiteTest, FailuresLeaveAnEmptyObject) {
  CDIBSectionLite lite;
  HBITMAP src = gditest::MakeDib(2, 2, 24);
  ASSERT_TRUE(lite.SetBitmap(src));
  HBITMAP copy = lite.GetBitmap();
  EXPECT_FALSE(lite.SetBitmap(nullptr));
  EXPECT_EQ(lite.GetBitmap(), nullptr);
  EXPECT_EQ(lite.GetHeader().biSize, 0u);
  EXPECT_EQ(GetObjectType(copy), 0u);  // the old copy was deleted
  DeleteObject(src);
  EXPECT_FALSE(lite.SetBitmap(src));  // no longer a bitmap
}

TEST_F(DIBSectionLiteTest, DefaultPaletteIsTheHalftonePalette) {
  const RGBQUAD* p = CDIBSectionLite::DefaultPalette();
  EXPECT_EQ(p[0].rgbRed + p[0].rgbGreen + p[0].rgbBlue, 0);
  EXPECT_EQ(p[255].rgbRed & p[255].rgbGreen & p[255].rgbBlue, 255);
  // The cube: entry 10 + 36r + 6g + b holds levels r, g, b.
  const BYTE levels[6] = {0x00, 0x2C, 0x56, 0x87, 0xC0, 0xFF};
  const RGBQUAD& q = p[10 + 36 * 3 + 6 * 1 + 4];
  EXPECT_EQ(q.rgbRed, levels[3]);
  EXPECT_EQ(q.rgbGreen, levels[1]);
  EXPECT_EQ(q.rgbBlue, levels[4]);
}

}  // namespace
