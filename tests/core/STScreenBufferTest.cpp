// 24-bit screen buffers: creation, copies in and out, bitmap ownership, and
// the free functions that make and copy bitmaps.
#include <gtest/gtest.h>

#include "core/STScreenBuffer.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class STScreenBufferTest : public orvtest::DeviceTest {};

TEST_F(STScreenBufferTest, StrideAndLayout) {
  struct Case {
    int w, stride;
  } cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {7, 24}, {8, 24}};
  for (const Case& c : cases) {
    EXPECT_EQ(CSTScreenBuffer::StrideOf(c.w), c.stride) << c.w;
    CSTScreenBuffer b;
    ASSERT_TRUE(b.CreateBlank(c.w, 2));
    EXPECT_EQ(b.GetStride(), c.stride);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectW(b.GetBitmap(), sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBmih.biHeight, -2);  // top-down
    EXPECT_EQ(ds.dsBmih.biBitCount, 24);
    EXPECT_EQ(ds.dsBmih.biSizeImage, static_cast<DWORD>(2 * c.stride));
    EXPECT_EQ(ds.dsBmih.biXPelsPerMeter, 3780);
  }
}

TEST_F(STScreenBufferTest, RowsAreTopDownBlueGreenRed) {
  CSTScreenBuffer b;
  ASSERT_TRUE(b.CreateBlank(2, 2));
  for (int i = 0; i < 2 * b.GetStride(); ++i) ASSERT_EQ(b.GetBits()[i], 0) << i;
  b.Row(0)[3] = 0x30;  // pixel (1, 0): blue
  b.Row(0)[5] = 0xF0;  //               red
  PixelImage img = ReadBitmapPixels(b.GetBitmap());
  EXPECT_EQ(img.pixels[1], 0xF00030u);
  EXPECT_EQ(img.pixels[3], 0u);
}

// True while the handle names the 3 x 3 bitmap holding Mark's pattern. Once
// that bitmap is deleted the platform may hand its handle value out again for
// any new object, so a handle is judged by what it names, not by its value.
void Mark(CSTScreenBuffer& b) {
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 9; ++i) b.Row(y)[i] = static_cast<std::uint8_t>(0xA0 + 9 * y + i);
}
bool NamesTheMarkedBitmap(HBITMAP handle) {
  if (GetObjectType(handle) != OBJ_BITMAP) return false;
  DIBSECTION ds{};
  if (GetObjectW(handle, sizeof ds, &ds) != static_cast<int>(sizeof ds)) return false;
  if (ds.dsBmih.biWidth != 3 || ds.dsBmih.biHeight != -3 || ds.dsBmih.biBitCount != 24 || !ds.dsBm.bmBits)
    return false;
  const auto* bits = static_cast<const std::uint8_t*>(ds.dsBm.bmBits);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 9; ++i)
      if (bits[y * CSTScreenBuffer::StrideOf(3) + i] != 0xA0 + 9 * y + i) return false;
  return true;
}

TEST_F(STScreenBufferTest, FailedCreateKeepsTheOldBitmap) {
  CSTScreenBuffer b;
  ASSERT_TRUE(b.Create(3, 3));
  Mark(b);
  HBITMAP old = b.GetBitmap();
  ASSERT_TRUE(NamesTheMarkedBitmap(old));
  for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-1, 5}}) {
    EXPECT_FALSE(b.Create(w, h));
    EXPECT_EQ(b.GetBitmap(), old);
    EXPECT_EQ(b.GetWidth(), 3);
    EXPECT_TRUE(NamesTheMarkedBitmap(old));
  }
  ASSERT_TRUE(b.Create(4, 1));
  EXPECT_FALSE(NamesTheMarkedBitmap(old));  // replaced and deleted
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectW(b.GetBitmap(), sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBmih.biWidth, 4);
  EXPECT_EQ(ds.dsBmih.biHeight, -1);
}

TEST_F(STScreenBufferTest, CopiesFromBitmapsAndDcs) {
  gditest::MemDc src(gditest::MakeDib(6, 4, 16, false));
  gditest::Fill(src.dc(), 0, 0, 6, 4, RGB(0, 0, 0));
  gditest::Fill(src.dc(), 2, 1, 4, 3, RGB(0xF8, 0x80, 0x08));
  {
    CSTScreenBuffer b;
    ASSERT_TRUE(b.CreateFromDC(src.dc(), 1, 1, 3, 2));
    PixelImage img = ReadBitmapPixels(b.GetBitmap());
    ASSERT_EQ(img.width, 3);
    ASSERT_EQ(img.height, 2);
    EXPECT_EQ(img.pixels[0], 0u);
    EXPECT_EQ(img.pixels[1], 0xF88008u);
    EXPECT_EQ(img.pixels[5], 0xF88008u);
    EXPECT_FALSE(b.CreateFromDC(nullptr, 0, 0, 3, 2));
  }
  HBITMAP dib = gditest::MakeDib(2, 2, 32, true);
  {
    gditest::MemDc m(dib, false);
    SetPixel(m.dc(), 1, 1, RGB(10, 20, 30));
  }
  CSTScreenBuffer b;
  ASSERT_TRUE(b.CreateFromBitmap(dib));
  EXPECT_EQ(b.Row(1)[3], 30);
  EXPECT_EQ(b.Row(1)[4], 20);
  EXPECT_EQ(b.Row(1)[5], 10);
  EXPECT_FALSE(b.CreateFromBitmap(nullptr));
  DeleteObject(dib);
}

TEST_F(STScreenBufferTest, BlitToAndOwnership) {
  HBITMAP handedOut = nullptr;
  gditest::MemDc target(gditest::MakeDib(5, 5, 24));
  {
    CSTScreenBuffer b;
    EXPECT_FALSE(b.BlitTo(target.dc(), 0, 0));  // empty
    ASSERT_TRUE(b.CreateBlank(2, 2));
    b.Row(1)[0] = 0xFF;
    gditest::Fill(target.dc(), 0, 0, 5, 5, RGB(255, 255, 255));
    ASSERT_TRUE(b.BlitTo(target.dc(), 3, 3));
    EXPECT_EQ(GetPixel(target.dc(), 3, 3), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(target.dc(), 3, 4), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(target.dc(), 2, 2), RGB(255, 255, 255));
    EXPECT_TRUE(b.SetOwnsBitmap(false));
    EXPECT_FALSE(b.SetOwnsBitmap(false));
    handedOut = b.GetBitmap();
  }
  ASSERT_NE(GetObjectType(handedOut), 0u);  // taken away, not deleted
  // The destructor put the bitmap back out of its DC: it can be selected again.
  gditest::MemDc again(handedOut);
  EXPECT_EQ(GetPixel(again.dc(), 0, 1), RGB(0, 0, 255));
}

TEST_F(STScreenBufferTest, Create24BitDib) {
  HBITMAP b = Create24BitDib(3, 2);
  ASSERT_NE(b, nullptr);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectW(b, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBmih.biHeight, -2);
  EXPECT_EQ(ds.dsBmih.biBitCount, 24);
  EXPECT_NE(ds.dsBm.bmBits, nullptr);
  DeleteObject(b);
  EXPECT_EQ(Create24BitDib(0, 2), nullptr);
  EXPECT_EQ(Create24BitDib(2, 0), nullptr);
}

TEST_F(STScreenBufferTest, BlitBitmapReportsFailures) {
  HBITMAP source = gditest::MakeDib(4, 4, 24);
  HBITMAP target = gditest::MakeDib(4, 4, 24);
  {
    gditest::MemDc s(source, false);
    gditest::Fill(s.dc(), 0, 0, 4, 4, RGB(1, 2, 3));
  }
  EXPECT_TRUE(BlitBitmap(&target, 1, 1, 2, 2, source, 0, 0));
  PixelImage img = ReadBitmapPixels(target);
  EXPECT_EQ(img.pixels[5], 0x010203u);
  EXPECT_EQ(img.pixels[0], 0u);
  EXPECT_EQ(img.pixels[15], 0u);

  HBITMAP none = nullptr;
  EXPECT_FALSE(BlitBitmap(&none, 0, 0, 2, 2, source, 0, 0));
  EXPECT_FALSE(BlitBitmap(nullptr, 0, 0, 2, 2, source, 0, 0));
  EXPECT_FALSE(BlitBitmap(&target, 0, 0, 2, 2, nullptr, 0, 0));
  {
    // A bitmap held in another DC cannot be selected for the copy.
    gditest::MemDc holder(source, false);
    EXPECT_FALSE(BlitBitmap(&target, 0, 0, 2, 2, source, 0, 0));
  }
  DeleteObject(source);
  EXPECT_FALSE(BlitBitmap(&target, 0, 0, 2, 2, source, 0, 0));  // deleted handle
  DeleteObject(target);
}

}  // namespace
