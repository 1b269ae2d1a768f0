// Text flowed over line rectangles: the line rectangles of an area, the
// breaking between words, and what is drawn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/TextFlow.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class TextFlowTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    LOGFONTW lf{};
    lf.lfHeight = -14;
    font_ = CreateFontIndirectW(&lf);
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, font_);
  }
  void TearDown() override {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(font_);
    ResetScreenForTesting();
  }
  int Width(const std::u16string& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc_, reinterpret_cast<const WCHAR*>(s.data()), static_cast<int>(s.size()), &size);
    return size.cx;
  }
  HFONT font_ = nullptr;
  HDC dc_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

TEST_F(TextFlowTest, LineRectanglesOfAnArea) {
  struct Case {
    RECT area;
    int lineHeight, dpi;
    std::vector<int> tops;
  } cases[] = {
      {{0, 0, 100, 50}, 10, 96, {0, 11, 22, 33}},
      {{0, 0, 100, 50}, 10, 192, {0, 12, 24, 36}},
      {{0, 0, 100, 50}, 10, 131, {0, 11, 22, 33}},
      {{5, 20, 60, 30}, 10, 96, {}},  // exactly one line high: none
      {{5, 20, 60, 31}, 10, 96, {20}},
      {{0, 0, 100, 5}, 10, 96, {}},
      {{0, 0, 100, 50}, 0, 96, {}},
  };
  for (const Case& c : cases) {
    std::vector<RECT> lines = MakeLineRects(c.area, c.lineHeight, c.dpi);
    ASSERT_EQ(lines.size(), c.tops.size()) << c.area.bottom << " " << c.dpi;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].top, c.tops[i]);
      EXPECT_EQ(lines[i].bottom, c.tops[i] + c.lineHeight);
      EXPECT_EQ(lines[i].left, c.area.left);
      EXPECT_EQ(lines[i].right, c.area.right);
    }
  }
}

TEST_F(TextFlowTest, BreaksBetweenWords) {
  auto line = [](int w) { return RECT{0, 0, w, 16}; };
  const int big = 10000;
  struct Case {
    std::u16string text;
    std::vector<int> widths;
    std::vector<std::u16string> pieces;
  } cases[] = {
      {u"hello world", {Width(u"hello world") + 2, big}, {u"hello world", u""}},
      {u"hello world again", {Width(u"hello world") + 1, big}, {u"hello world", u"again"}},
      // A word wider than every line is cut where it stops fitting.
      {u"abcdefghij", {Width(u"abcd"), Width(u"efgh"), big}, {u"abcd", u"efgh", u"ij"}},
      // White space at both ends of a piece is dropped.
      {u"hello    world", {Width(u"hello  "), big}, {u"hello", u"world"}},
      {u"one two three four", {Width(u"one two") + 1, Width(u"one") + 1}, {u"one two", u"three four"}},
      {u"one two three", {Width(u"one ") + 1, Width(u"one ") + 1, big}, {u"one", u"two", u"three"}},
      // Not one character fits: the whole text goes to that line.
      {u"hello world", {1, big}, {u"hello world", u""}},
      {u"abc def", {Width(u"ab")}, {u"abc def"}},
      {u"", {big, big}, {u"", u""}},
      {u"text", {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<RECT> lines;
    for (int w : c.widths) lines.push_back(line(w));
    EXPECT_EQ(FlowTextIntoLines(dc_, c.text, lines), c.pieces)
        << std::string(c.text.begin(), c.text.end());
  }
}

TEST_F(TextFlowTest, DrawsEachPieceIntoItsLine) {
  const std::u16string text = u"&first line then more";
  std::vector<RECT> lines = {{0, 0, Width(u"&first line") + 2, 16}, {0, 18, 200, 34}};
  gditest::MemDc flowed(gditest::MakeDib(200, 40, 24));
  gditest::MemDc expected(gditest::MakeDib(200, 40, 24));
  for (HDC dc : {flowed.dc(), expected.dc()}) {
    gditest::Fill(dc, 0, 0, 200, 40, RGB(255, 255, 255));
    SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
  }
  DrawTextInLineRects(flowed.dc(), text, lines, 0);
  RECT a = lines[0], b = lines[1];
  DrawTextW(expected.dc(), reinterpret_cast<const WCHAR*>(u"&first line"), -1, &a, 0x824);
  DrawTextW(expected.dc(), reinterpret_cast<const WCHAR*>(u"then more"), -1, &b, 0x824);
  PixelImage x = ReadBitmapPixels(flowed.bitmap()), y = ReadBitmapPixels(expected.bitmap());
  EXPECT_EQ(x.pixels, y.pixels);
  int ink = 0;
  for (DWORD p : x.pixels) ink += p != 0xFFFFFF;
  EXPECT_GT(ink, 50);
  SelectObject(flowed.dc(), GetStockObject(SYSTEM_FONT));
  SelectObject(expected.dc(), GetStockObject(SYSTEM_FONT));
}

TEST_F(TextFlowTest, DrawTextLinesCentresAndNeedsAWholeLine) {
  SetScreenForTesting(240, 320, 96);
  gditest::MemDc flowed(gditest::MakeDib(100, 40, 24));
  gditest::MemDc expected(gditest::MakeDib(100, 40, 24));
  for (HDC dc : {flowed.dc(), expected.dc()}) {
    gditest::Fill(dc, 0, 0, 100, 40, RGB(255, 255, 255));
    SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
  }
  // Too low for one whole line: nothing.
  DrawTextLines(flowed.dc(), u"hi", RECT{0, 0, 100, 16}, 16);
  EXPECT_EQ(ReadBitmapPixels(flowed.bitmap()).pixels, ReadBitmapPixels(expected.bitmap()).pixels);
  DrawTextLines(flowed.dc(), u"hi there", RECT{0, 0, 100, 40}, 16);
  RECT first{0, 0, 100, 16};
  DrawTextW(expected.dc(), reinterpret_cast<const WCHAR*>(u"hi there"), -1, &first, 0x825);
  EXPECT_EQ(ReadBitmapPixels(flowed.bitmap()).pixels, ReadBitmapPixels(expected.bitmap()).pixels);
  SelectObject(flowed.dc(), GetStockObject(SYSTEM_FONT));
  SelectObject(expected.dc(), GetStockObject(SYSTEM_FONT));
}

}  // namespace
