// Fonts, text metrics and extents, DrawTextW layout, text drawing, and a
// drawn sample written as PNG.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/gdi/TextLayout.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;
using gditest::Fill;
using gditest::MakeDib;
using gditest::MemDc;

LOGFONTW Logfont(const char16_t* face, LONG height, LONG weight = FW_NORMAL, BYTE italic = 0,
                 BYTE quality = CLEARTYPE_QUALITY) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfItalic = italic;
  lf.lfQuality = quality;
  std::u16string f(face);
  std::memcpy(lf.lfFaceName, f.c_str(), (f.size() + 1) * sizeof(char16_t));
  return lf;
}

class GdiTextTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    LOGFONTW lf = Logfont(u"Tahoma", -24);
    font_ = CreateFontIndirectW(&lf);
    ASSERT_NE(font_, nullptr);
    old_ = SelectObject(mem_.dc(), font_);
  }
  void TearDown() override {
    SelectObject(mem_.dc(), old_);
    DeleteObject(font_);
  }
  int Extent(const std::u16string& s) {
    SIZE sz{};
    EXPECT_TRUE(GetTextExtentPoint32W(mem_.dc(), s.data(), static_cast<int>(s.size()), &sz));
    return sz.cx;
  }
  HDC dc() { return mem_.dc(); }

  MemDc mem_{MakeDib(200, 100, 16)};
  HFONT font_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

TEST_F(GdiTextTest, MetricsFollowTheAskedHeight) {
  struct Case {
    LONG height;
  } cases[] = {{-12}, {-24}, {-40}, {20}, {33}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    LOGFONTW lf = Logfont(u"Tahoma", c.height);
    HFONT f = CreateFontIndirectW(&lf);
    ASSERT_NE(f, nullptr);
    HGDIOBJ old = SelectObject(dc(), f);
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(dc(), &tm));
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    if (c.height < 0) {
      // Character height: the cell is the em plus the internal leading.
      EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, -c.height);
    } else {
      EXPECT_NEAR(tm.tmHeight, c.height, 1);  // cell height
    }
    EXPECT_GT(tm.tmAveCharWidth, 0);
    EXPECT_GE(tm.tmMaxCharWidth, tm.tmAveCharWidth);
    SIZE sz{};
    ASSERT_TRUE(GetTextExtentPoint32W(dc(), u"x", 1, &sz));
    EXPECT_EQ(sz.cy, tm.tmHeight);
    SelectObject(dc(), old);
    DeleteObject(f);
  }
}

TEST_F(GdiTextTest, LogfontIsKeptAndStockSystemFontReadable) {
  LOGFONTW back{};
  ASSERT_EQ(GetObjectW(font_, sizeof(back), &back), static_cast<int>(sizeof(LOGFONTW)));
  EXPECT_EQ(back.lfHeight, -24);
  EXPECT_EQ(std::u16string(back.lfFaceName), u"Tahoma");
  LOGFONTW sys{};
  ASSERT_EQ(GetObjectW(GetStockObject(SYSTEM_FONT), sizeof(sys), &sys), static_cast<int>(sizeof(LOGFONTW)));
  EXPECT_LT(sys.lfHeight, 0);
  sys.lfHeight = -12;
  HFONT f = CreateFontIndirectW(&sys);
  ASSERT_NE(f, nullptr);
  DeleteObject(f);
}

TEST_F(GdiTextTest, BoldAndItalicAreHonoured) {
  const std::u16string text = u"Headline news";
  int normal = Extent(text);
  LOGFONTW lf = Logfont(u"Tahoma", -24, FW_BOLD);
  HFONT bold = CreateFontIndirectW(&lf);
  ASSERT_NE(bold, nullptr);
  HGDIOBJ old = SelectObject(dc(), bold);
  EXPECT_GT(Extent(text), normal);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc(), &tm);
  EXPECT_EQ(tm.tmWeight, FW_BOLD);
  lf = Logfont(u"Tahoma", -24, FW_NORMAL, 1);
  HFONT italic = CreateFontIndirectW(&lf);
  ASSERT_NE(italic, nullptr);
  SelectObject(dc(), italic);
  GetTextMetricsW(dc(), &tm);
  EXPECT_EQ(tm.tmItalic, 1);
  SelectObject(dc(), old);
  DeleteObject(bold);
  DeleteObject(italic);
}

TEST_F(GdiTextTest, ExtentsAddUp) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"a", u"b"}, {u"AV", u"AV"}, {u"To", u"day"}, {u"Orv ", u"News"}, {u"\u00e9t\u00e9", u"\u4e2d"}, {u"", u"x"}};
  for (const auto& [a, b] : cases) {
    EXPECT_EQ(Extent(a + b), Extent(a) + Extent(b)) << std::string(a.begin(), a.end());
  }
  EXPECT_EQ(Extent(u""), 0);
  EXPECT_GT(Extent(u"W"), Extent(u"i"));
  SIZE sz{};
  EXPECT_FALSE(GetTextExtentPoint32W(dc(), u"x", -1, &sz));
}

// Text measured while the fonts' configuration is still being read beside
// it (the program's start) waits for it: every thread gets the extents of
// the real font, the same as measured once everything is read.
TEST(GdiTextPrepareTest, TextMeasuredWhileTheFontsArePreparedGetsTheRealFont) {
  PrepareFonts();
  auto measure = [] {
    MemDc mem{MakeDib(50, 20, 16)};
    LOGFONTW lf = Logfont(u"Tahoma", -24);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(mem.dc(), font);
    SIZE sz{};
    GetTextExtentPoint32W(mem.dc(), u"Orv News Wi", 11, &sz);
    SelectObject(mem.dc(), old);
    DeleteObject(font);
    return sz;
  };
  std::vector<SIZE> sizes(4);
  std::vector<std::thread> threads;
  for (SIZE& size : sizes) threads.emplace_back([&size, &measure] { size = measure(); });
  for (std::thread& t : threads) t.join();
  PrepareFonts();  // a second call changes nothing
  const SIZE later = measure();
  EXPECT_GT(later.cx, 11 * 5);
  EXPECT_GE(later.cy, 24);
  for (const SIZE& size : sizes) {
    EXPECT_EQ(size.cx, later.cx);
    EXPECT_EQ(size.cy, later.cy);
  }
}

TEST_F(GdiTextTest, ExtentExCountsWhatFits) {
  const std::u16string text = u"fitting text";
  std::vector<int> dx(text.size());
  int fit = -1;
  SIZE sz{};
  int limit = Extent(u"fitting t");
  ASSERT_TRUE(GetTextExtentExPointW(dc(), text.data(), static_cast<int>(text.size()), limit, &fit, dx.data(), &sz));
  EXPECT_EQ(fit, 9);
  EXPECT_EQ(sz.cx, Extent(text));
  for (std::size_t i = 0; i < text.size(); ++i) EXPECT_EQ(dx[i], Extent(text.substr(0, i + 1))) << i;
  ASSERT_TRUE(GetTextExtentExPointW(dc(), text.data(), static_cast<int>(text.size()), limit - 1, &fit, nullptr, nullptr));
  EXPECT_EQ(fit, 8);
  ASSERT_TRUE(GetTextExtentExPointW(dc(), text.data(), static_cast<int>(text.size()), 0, &fit, nullptr, nullptr));
  EXPECT_EQ(fit, 0);
}

TEST_F(GdiTextTest, DrawTextLayoutTable) {
  int w2 = Extent(u"alpha beta");
  int dots = Extent(u"...");
  struct Case {
    const char* name;
    std::u16string text;
    int width, lines;  // lines: rect height in lines
    UINT format;
    std::vector<std::u16string> expect;
  } cases[] = {
      {"single line keeps all", u"alpha beta gamma", 10, 1, DT_SINGLELINE, {u"alpha beta gamma"}},
      {"single line drops breaks", u"alpha\r\nbeta", 1000, 1, DT_SINGLELINE, {u"alphabeta"}},
      {"line feeds break", u"alpha\r\nbeta\ngamma", 1000, 5, 0, {u"alpha", u"beta", u"gamma"}},
      {"word break at space", u"alpha beta gamma", w2, 5, DT_WORDBREAK, {u"alpha beta", u"gamma"}},
      {"word break one pixel short", u"alpha beta ab", w2 - 1, 5, DT_WORDBREAK, {u"alpha", u"beta ab"}},
      {"long word stays whole", u"extraordinarily long", Extent(u"extra"), 5, DT_WORDBREAK,
       {u"extraordinarily", u"long"}},
      {"spaces at breaks dropped", u"alpha    beta", Extent(u"alpha "), 5, DT_WORDBREAK, {u"alpha", u"beta"}},
      {"empty paragraph kept", u"a\n\nb", 1000, 5, DT_WORDBREAK, {u"a", u"", u"b"}},
      {"end ellipsis", u"alpha beta gamma", Extent(u"alpha") + dots, 1, DT_SINGLELINE | DT_END_ELLIPSIS,
       {u"alpha..."}},
      {"ellipsis not needed", u"alpha", Extent(u"alpha"), 1, DT_SINGLELINE | DT_END_ELLIPSIS, {u"alpha"}},
      {"ellipsis per line", u"alpha beta\nok", Extent(u"alph") + dots, 5, DT_END_ELLIPSIS, {u"alph...", u"ok"}},
      {"last visible line ellipsized", u"alpha beta gamma delta", Extent(u"alpha") + dots, 1,
       DT_WORDBREAK | DT_END_ELLIPSIS, {u"alpha..."}},
      {"lines that fit keep no ellipsis", u"alpha beta gamma", w2, 2, DT_WORDBREAK | DT_END_ELLIPSIS,
       {u"alpha beta", u"gamma"}},
      {"prefix removed", u"&File && more", 1000, 1, DT_SINGLELINE, {u"File & more"}},
      {"prefix kept with noprefix", u"&File", 1000, 1, DT_SINGLELINE | DT_NOPREFIX, {u"&File"}},
  };
  TEXTMETRICW tm{};
  GetTextMetricsW(dc(), &tm);
  for (const Case& c : cases) {
    RECT r{0, 0, c.width, c.lines * tm.tmHeight};
    EXPECT_EQ(LayoutTextLines(dc(), c.text, r, c.format), c.expect) << c.name;
  }
}

TEST_F(GdiTextTest, DrawTextCalcRectAndReturnValue) {
  TEXTMETRICW tm{};
  GetTextMetricsW(dc(), &tm);
  RECT r{10, 5, 10, 5};
  EXPECT_EQ(DrawTextW(dc(), u"News", -1, &r, DT_CALCRECT | DT_SINGLELINE), tm.tmHeight);
  EXPECT_EQ(r.right - r.left, Extent(u"News"));
  EXPECT_EQ(r.bottom - r.top, tm.tmHeight);

  int w2 = Extent(u"alpha beta");
  RECT m{0, 0, w2, 0};
  EXPECT_EQ(DrawTextW(dc(), u"alpha beta gamma", -1, &m, DT_CALCRECT | DT_WORDBREAK), 2 * tm.tmHeight);
  EXPECT_EQ(m.right, w2);
  EXPECT_EQ(m.bottom, 2 * tm.tmHeight);

  // Measuring ignores the ellipsis: the whole text's extent.
  RECT e{0, 0, 5, 0};
  DrawTextW(dc(), u"Long headline", -1, &e, DT_CALCRECT | DT_SINGLELINE | DT_END_ELLIPSIS);
  EXPECT_EQ(e.right, Extent(u"Long headline"));

  RECT v{0, 0, 200, 100};
  int got = DrawTextW(dc(), u"x", 1, &v, DT_SINGLELINE | DT_VCENTER);
  EXPECT_EQ(got, (100 - tm.tmHeight) / 2 + tm.tmHeight);
}

// Which columns and rows hold pixels of the text colour.
RECT InkBox(HDC dc, int w, int h, COLORREF background) {
  RECT box{w, h, -1, -1};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (GetPixel(dc, x, y) != background) {
        box.left = std::min<LONG>(box.left, x);
        box.top = std::min<LONG>(box.top, y);
        box.right = std::max<LONG>(box.right, x + 1);
        box.bottom = std::max<LONG>(box.bottom, y + 1);
      }
  return box;
}

TEST_F(GdiTextTest, DrawTextAlignsAndClips) {
  struct Case {
    UINT format;
    bool right;  // ink in the right half
  } cases[] = {{DT_LEFT | DT_SINGLELINE, false}, {DT_RIGHT | DT_SINGLELINE, true}};
  for (const Case& c : cases) {
    Fill(dc(), 0, 0, 200, 100, RGB(255, 255, 255));
    SetTextColor(dc(), RGB(0, 0, 0));
    SetBkMode(dc(), TRANSPARENT);
    RECT r{0, 0, 200, 100};
    ASSERT_GT(DrawTextW(dc(), u"Ab", -1, &r, c.format), 0);
    RECT ink = InkBox(dc(), 200, 100, RGB(0xF8, 0xFC, 0xF8));
    ASSERT_LT(ink.left, ink.right);
    if (c.right) EXPECT_GT(ink.left, 100);
    else EXPECT_LT(ink.right, 100);
  }
  // A text cut by its rectangle leaves nothing outside it.
  Fill(dc(), 0, 0, 200, 100, RGB(255, 255, 255));
  RECT small{10, 10, 30, 20};
  DrawTextW(dc(), u"Wide text that does not fit", -1, &small, DT_SINGLELINE);
  RECT ink = InkBox(dc(), 200, 100, RGB(0xF8, 0xFC, 0xF8));
  EXPECT_GE(ink.left, 10);
  EXPECT_LE(ink.right, 30);
  EXPECT_GE(ink.top, 10);
  EXPECT_LE(ink.bottom, 20);
}

TEST_F(GdiTextTest, QualityChoosesAntialiasing) {
  struct Case {
    BYTE quality;
    bool greys;
  } cases[] = {{NONANTIALIASED_QUALITY, false}, {DEFAULT_QUALITY, false}, {ANTIALIASED_QUALITY, true},
               {CLEARTYPE_QUALITY, true}};
  for (const Case& c : cases) {
    MemDc m(MakeDib(120, 40, 24));
    LOGFONTW lf = Logfont(u"Tahoma", -20, FW_NORMAL, 0, c.quality);
    HFONT f = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(m.dc(), f);
    Fill(m.dc(), 0, 0, 120, 40, RGB(255, 255, 255));
    SetTextColor(m.dc(), RGB(0, 0, 0));
    SetBkMode(m.dc(), TRANSPARENT);
    ExtTextOutW(m.dc(), 2, 2, 0, nullptr, u"Sample", 6, nullptr);
    std::set<COLORREF> seen;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 120; ++x) seen.insert(GetPixel(m.dc(), x, y));
    EXPECT_TRUE(seen.count(RGB(0, 0, 0))) << int(c.quality);
    EXPECT_EQ(seen.size() > 2, c.greys) << int(c.quality);
    SelectObject(m.dc(), old);
    DeleteObject(f);
  }
}

TEST_F(GdiTextTest, OpaqueBackgroundFillsTheTextCell) {
  Fill(dc(), 0, 0, 200, 100, RGB(0, 0, 0));
  SetBkMode(dc(), OPAQUE);
  SetBkColor(dc(), RGB(255, 0, 0));
  SetTextColor(dc(), RGB(255, 255, 255));
  ASSERT_TRUE(ExtTextOutW(dc(), 5, 5, 0, nullptr, u"ii", 2, nullptr));
  TEXTMETRICW tm{};
  GetTextMetricsW(dc(), &tm);
  EXPECT_EQ(GetPixel(dc(), 5, 5), RGB(0xF8, 0, 0));
  EXPECT_EQ(GetPixel(dc(), 5, 5 + tm.tmHeight - 1), RGB(0xF8, 0, 0));
  EXPECT_EQ(GetPixel(dc(), 5, 5 + tm.tmHeight), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc(), 5 + Extent(u"ii"), 5), RGB(0, 0, 0));
  // ETO_OPAQUE fills the given rectangle instead.
  RECT r{100, 50, 150, 90};
  ASSERT_TRUE(ExtTextOutW(dc(), 100, 50, ETO_OPAQUE, &r, nullptr, 0, nullptr));
  EXPECT_EQ(GetPixel(dc(), 149, 89), RGB(0xF8, 0, 0));
}

TEST_F(GdiTextTest, SampleDrawingIsWrittenAsPng) {
  MemDc canvas(MakeDib(240, 160, 16));
  HDC c = canvas.dc();
  TRIVERTEX v[2] = {{0, 0, 0x2000, 0x4000, 0x8000, 0}, {240, 160, 0xFF00, 0xFF00, 0xFF00, 0}};
  GRADIENT_RECT gr{0, 1};
  GradientFill(c, v, 2, &gr, 1, GRADIENT_FILL_RECT_V);
  // A checker pattern, scaled up smoothly and blended half over the gradient.
  MemDc pattern(MakeDib(8, 8, 32));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) SetPixel(pattern.dc(), x, y, ((x + y) & 1) ? RGB(255, 128, 0) : RGB(0, 64, 160));
  MemDc scaled(MakeDib(64, 64, 32));
  SetStretchBltMode(scaled.dc(), HALFTONE);
  StretchBlt(scaled.dc(), 0, 0, 64, 64, pattern.dc(), 0, 0, 8, 8, SRCCOPY);
  AlphaBlend(c, 160, 80, 64, 64, scaled.dc(), 0, 0, 64, 64, BLENDFUNCTION{AC_SRC_OVER, 0, 128, 0});
  HFONT old = static_cast<HFONT>(SelectObject(c, font_));
  SetBkMode(c, TRANSPARENT);
  SetTextColor(c, RGB(0, 0, 0));
  RECT r{8, 8, 150, 150};
  DrawTextW(c, u"Orv News \u2014 headlines wrap over several lines and end with an ellipsis", -1, &r,
            DT_WORDBREAK | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(c, old);
  std::string path = device_.Scratch() + "/gdi-sample.png";
  ASSERT_TRUE(SaveBitmapPng(canvas.bitmap(), path));
  std::string png = orvtest::ReadHostFile(path);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  // ORV_GDI_SAMPLE names an extra copy to look at.
  if (const char* extra = std::getenv("ORV_GDI_SAMPLE")) SaveBitmapPng(canvas.bitmap(), extra);
  // The screen dumps too.
  ASSERT_TRUE(SaveScreenPng(device_.Scratch() + "/screen.png"));
}

// Characters the face lacks (Chinese and Japanese in a Latin face) are drawn
// from a font that has them: distinct characters give distinct pictures,
// where the face's missing-glyph box would give one and the same picture
// for all of them (as it does for characters no font has).
TEST_F(GdiTextTest, CharactersTheFaceLacksComeFromAFontThatHasThem) {
  auto picture = [&](const std::u16string& text) {
    MemDc m(MakeDib(60, 40, 24));
    HGDIOBJ old = SelectObject(m.dc(), font_);
    Fill(m.dc(), 0, 0, 60, 40, RGB(255, 255, 255));
    SetTextColor(m.dc(), RGB(0, 0, 0));
    SetBkMode(m.dc(), TRANSPARENT);
    ExtTextOutW(m.dc(), 2, 2, 0, nullptr, text.data(), static_cast<int>(text.size()), nullptr);
    std::vector<COLORREF> pixels;
    int inked = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) {
        pixels.push_back(GetPixel(m.dc(), x, y));
        inked += pixels.back() != RGB(255, 255, 255);
      }
    SelectObject(m.dc(), old);
    return std::make_pair(pixels, inked);
  };
  // Two private-use characters of plane 16 that no font draws: the box twice.
  const auto noneA = picture(u"\U0010FFF0");
  const auto noneB = picture(u"\U0010FFF1");
  ASSERT_EQ(noneA.first, noneB.first);
  const std::u16string texts[] = {u"\u4e2d", u"\u6587", u"\u65b0", u"\u3042", u"\u30ab"};  // 中 文 新 あ カ
  std::vector<std::vector<COLORREF>> seen;
  for (const std::u16string& t : texts) {
    const auto p = picture(t);
    EXPECT_GT(p.second, 10);
    EXPECT_NE(p.first, noneA.first);
    for (const auto& before : seen) EXPECT_NE(p.first, before);
    seen.push_back(p.first);
    // The advance is the fallback glyph's, not zero.
    EXPECT_GT(Extent(t), 8);
  }
}

}  // namespace
