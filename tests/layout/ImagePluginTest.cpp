// The scroll bar, progress, image and rounded-panel plug-ins painted into
// 16-bit bitmaps and checked at chosen pixels.
#include "core/FrameworkProperties.h"
#include "layout/DataSources.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/ImagePlugins.h"
#include "layout/LayoutDocument.h"
#include "layout/PluginFactory.h"
#include "tests/layout/LayoutFixture.h"
#include "tests/layout/PluginFixture.h"

namespace layouttest {
namespace {

int Green(std::uint16_t p) { return (p >> 5) & 63; }

// A data source with one integer value.
class IntSource : public CDataSource {
 public:
  IntSource(std::u16string name, std::int32_t value) : name_(std::move(name)), value_(value) {}
  plat::HRESULT GetIntValue(const char16_t* name, std::int32_t* value) override {
    if (!value) return plat::E_POINTER;
    if (name_ != name) return plat::S_FALSE;
    *value = value_;
    return plat::S_OK;
  }

 private:
  std::u16string name_;
  std::int32_t value_;
};

class ImagePluginTest : public LayoutTest {
 protected:
  template <class T>
  T* Make(const char16_t* name) {
    plugin_.Attach(CreatePlugin(name));
    return static_cast<T*>(plugin_.Get());
  }
  LayoutPaintRecord Record(const Target& target) {
    LayoutPaintRecord record;
    record.dc = target.dc;
    return record;
  }
  // A 100x250 view of content of the given height, scrolled to scrollY.
  LayoutPaintRecord BarRecord(const Target& target, int contentHeight, int scrollY = 0) {
    LayoutPaintRecord record = Record(target);
    record.visibleWidth = 100;
    record.visibleHeight = 250;
    record.content = {0, 0, 100, contentHeight};
    record.scrollY = scrollY;
    return record;
  }
  CComRef<ILayoutPlugin> plugin_;
};

TEST_F(ImagePluginTest, ThumbSpanFollowsTheScrollAndStaysOnTheTrack) {
  struct Case {
    int scroll, y1, y2;
  } cases[] = {{0, 0, 50}, {750, 150, 200}, {375, 75, 125}, {900, 180, 200}, {5000, 200, 200}, {-100, 0, 30}};
  for (const Case& c : cases) {
    int y1 = -1, y2 = -1;
    ScrollThumbSpan(0, 200, c.scroll, 250, 1000, y1, y2);
    EXPECT_EQ(y1, c.y1) << c.scroll;
    EXPECT_EQ(y2, c.y2) << c.scroll;
  }
  // A track moved down keeps the proportions.
  int y1 = 0, y2 = 0;
  ScrollThumbSpan(10, 210, 750, 250, 1000, y1, y2);
  EXPECT_EQ(y1, 160);
  EXPECT_EQ(y2, 210);
}

TEST_F(ImagePluginTest, ScrollBarWithoutPicturesIsATranslucentWhiteBar) {
  SetScreen(480, 640, 96);
  auto* bar = Make<ScrollBarPlugin>(u"Orv.LSP.ScrollBar");
  ASSERT_NE(bar, nullptr);
  CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"bar\" BoundRect=\"0,0,10,10\"/>");
  ASSERT_EQ(bar->SetProperties(item.Get()), plat::S_OK);
  EXPECT_TRUE(bar->IsShown());
  auto target = MakeTarget(100, 260);
  ASSERT_EQ(bar->Paint(BarRecord(*target, 1000)), plat::S_OK);
  ShootBitmap(target->buffer, "scrollbar_plain");
  // 7 pixels wide, 3 from the right edge: columns 90..96; the track inset 3.
  const std::uint16_t track = target->At(93, 200);
  const std::uint16_t thumb = target->At(93, 10);
  EXPECT_GT(Green(track), 0);
  EXPECT_GT(Green(thumb), Green(track));
  EXPECT_EQ(target->At(90, 200), track);
  EXPECT_EQ(target->At(96, 200), track);
  EXPECT_EQ(target->At(89, 200), 0);
  EXPECT_EQ(target->At(97, 200), 0);
  EXPECT_EQ(target->At(93, 2), 0);
  EXPECT_EQ(target->At(93, 3), thumb);
  EXPECT_EQ(target->At(93, 247), 0);
  EXPECT_EQ(target->At(93, 246), track);
  // The thumb spans 250 / 1000 of the 244-pixel track: rows 3..63.
  EXPECT_EQ(target->At(93, 63), thumb);
  EXPECT_EQ(target->At(93, 64), track);

  // Scrolled to the end the thumb sits at the bottom of the track.
  auto end = MakeTarget(100, 260);
  ASSERT_EQ(bar->Paint(BarRecord(*end, 1000, 750)), plat::S_OK);
  EXPECT_EQ(end->At(93, 246), thumb);
  EXPECT_EQ(end->At(93, 10), track);

  // Content that fits shows no bar.
  auto fits = MakeTarget(100, 260);
  ASSERT_EQ(bar->Paint(BarRecord(*fits, 250)), plat::S_OK);
  for (int y = 0; y < 250; y += 10) ASSERT_EQ(fits->At(93, y), 0) << y;
}

TEST_F(ImagePluginTest, ScrollBarHiddenWhenTheScreenSaysSo) {
  SetScreen(480, 640, 96);
  FakeHost host;
  FakeContent content;
  CComRef<PluginSite> site(new PluginSite(&host));
  CComRef<DialogContentView> view(new DialogContentView(&content));
  for (int value : {0, 1}) {
    CComRef<IntSource> source(new IntSource(u"ScrollBarOnOpen", value));
    content.owner = static_cast<IDataSource*>(source.Get());
    auto* bar = Make<ScrollBarPlugin>(u"Orv.LSP.ScrollBar");
    ASSERT_EQ(bar->Init(site.Get(), view.Get()), plat::S_OK);
    CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"bar\" BoundRect=\"0,0,10,10\"/>");
    ASSERT_EQ(bar->SetProperties(item.Get()), plat::S_OK);
    EXPECT_EQ(bar->IsShown(), value != 0);
    auto target = MakeTarget(100, 260);
    ASSERT_EQ(bar->Paint(BarRecord(*target, 1000)), plat::S_OK);
    EXPECT_EQ(target->At(93, 10) != 0, value != 0);
    plugin_ = CComRef<ILayoutPlugin>();
    content.owner = nullptr;
  }
}

// A bar end 4 wide and 6 high: white picture, mask opaque except the outer
// column, which is transparent.
MaskedImage BarEnd(std::uint32_t grey) {
  std::vector<std::uint32_t> picture(24, grey), mask(24, 255);
  for (int y = 0; y < 6; ++y) mask[static_cast<std::size_t>(y) * 4] = 0;
  return MaskedImage{Bitmap(4, 6, 8, picture), Bitmap(4, 6, 8, mask)};
}

TEST_F(ImagePluginTest, ProgressFillsItsShareOfTheBar) {
  auto* progress = Make<ProgressPlugin>(u"Orv.LSP.Progress");
  ASSERT_NE(progress, nullptr);
  CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"progress\" BoundRect=\"10,4,100,10\"/>");
  progress->SetProperties(item.Get());  // no package: the bars come from the test
  LayoutPaintRecord none;
  EXPECT_EQ(progress->Paint(none), plat::E_FAIL);
  ASSERT_EQ(progress->SetBars(BarEnd(100), BarEnd(250)), plat::S_OK);
  // At a layout pass the percent is the screen's integer of the plug-in's name.
  FakeHost host;
  FakeContent content;
  CComRef<PluginSite> site(new PluginSite(&host));
  CComRef<DialogContentView> view(new DialogContentView(&content));
  CComRef<IntSource> source(new IntSource(u"progress", 50));
  content.owner = static_cast<IDataSource*>(source.Get());
  ASSERT_EQ(progress->Init(site.Get(), view.Get()), plat::S_OK);
  LayoutViewRecord pass;
  EXPECT_EQ(progress->OnCommand(reinterpret_cast<std::intptr_t>(&pass), 0), plat::S_OK);
  EXPECT_EQ(progress->GetPercent(), 50);
  CComRef<IntSource> other(new IntSource(u"other", 70));
  content.owner = static_cast<IDataSource*>(other.Get());
  EXPECT_EQ(progress->OnCommand(reinterpret_cast<std::intptr_t>(&pass), 0), plat::S_FALSE);  // the source's code
  EXPECT_EQ(progress->GetPercent(), 50);
  content.owner = nullptr;
  EXPECT_NE(progress->OnCommand(reinterpret_cast<std::intptr_t>(&pass), 0), plat::S_OK);
  EXPECT_EQ(progress->DoCommand(0, 0), plat::E_NOINTERFACE) << "the owner query's own code";
  EXPECT_EQ(progress->ReadPercent(nullptr), plat::E_FAIL);
  // A plug-in without a name reads no percent, not the integer of the empty name.
  CComRef<ILayoutPlugin> unnamedRef;
  unnamedRef.Attach(CreatePlugin(u"Orv.LSP.Progress"));
  auto* unnamed = static_cast<ProgressPlugin*>(unnamedRef.Get());
  CComRef<PlacedLayoutItem> nameless(new PlacedLayoutItem(CPropertyList()));
  unnamed->SetProperties(nameless.Get());
  CComRef<IntSource> empty(new IntSource(u"", 30));
  IPropertySource* emptyProperties = nullptr;
  ASSERT_EQ(empty->QueryInterface(IID_IPropertySource, reinterpret_cast<void**>(&emptyProperties)), plat::S_OK);
  CComRef<IPropertySource> emptyHold;
  emptyHold.Attach(emptyProperties);
  EXPECT_NE(unnamed->ReadPercent(emptyProperties), plat::S_OK);
  EXPECT_EQ(unnamed->GetPercent(), 0);

  struct Case {
    int percent;
    int filledTo;  // first column past the filled part
  } cases[] = {{0, 0}, {50, 60}, {100, 110}, {150, 110}};
  const int emptyGreen = Green(ColorToRgb565(100 * 0x010101u));
  const int filledGreen = Green(ColorToRgb565(250 * 0x010101u));
  for (const Case& c : cases) {
    progress->SetPercent(c.percent);
    auto target = MakeTarget(120, 20);
    ASSERT_EQ(progress->Paint(Record(*target)), plat::S_OK);
    if (c.percent == 50) ShootBitmap(target->buffer, "progress_half");
    const int y = 4 + (14 - 6 - 4) / 2 + 3;  // a row inside the bar
    EXPECT_EQ(target->At(10, y), 0) << c.percent;   // the ends' transparent outer columns
    EXPECT_EQ(target->At(109, y), 0) << c.percent;
    EXPECT_EQ(target->At(110, y), 0) << c.percent;
    EXPECT_EQ(target->At(3, 3), 0) << c.percent;   // above and beside the bar
    for (int x = 12; x < 108; x += 6) {
      const int expected = c.filledTo && x < c.filledTo ? filledGreen : emptyGreen;
      ASSERT_NEAR(Green(target->At(x, y)), expected, 1) << c.percent << " x " << x;
    }
  }
}

TEST_F(ImagePluginTest, ImageDrawsOnlyInTheNormalState) {
  auto* image = Make<ImagePlugin>(u"Orv.LSP.Image");
  ASSERT_NE(image, nullptr);
  CComRef<PlacedLayoutItem> item = ItemFor(u"<Plugin Name=\"pic\" Skin=\"none\"><LeftTop X=\"20\" Y=\"30\"/></Plugin>");
  EXPECT_EQ(image->SetProperties(item.Get()), plat::E_FAIL);  // no package holds "pic"
  image->SetImage(BarEnd(200));
  plat::RECT r{};
  std::intptr_t out1 = 5, out2 = 5;
  EXPECT_EQ(image->GetRect(0, 0, nullptr, nullptr, nullptr), plat::E_POINTER);
  ASSERT_EQ(image->GetRect(0, 0, &r, &out1, &out2), plat::S_OK);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.top, 30);
  EXPECT_EQ(r.right, 24);
  EXPECT_EQ(r.bottom, 36);
  EXPECT_EQ(out1, 0);
  EXPECT_EQ(out2, 0);
  // Without a position there is no rectangle: the item's code is answered.
  CComRef<ILayoutPlugin> unplacedRef;
  unplacedRef.Attach(CreatePlugin(u"Orv.LSP.Image"));
  auto* unplaced = static_cast<ImagePlugin*>(unplacedRef.Get());
  CComRef<PlacedLayoutItem> nowhere(new PlacedLayoutItem(CPropertyList()));
  unplaced->SetProperties(nowhere.Get());
  unplaced->SetImage(BarEnd(200));
  EXPECT_NE(unplaced->GetRect(0, 0, &r, nullptr, nullptr), plat::S_OK);
  for (int state : {0, 1, 2, 3}) {
    auto target = MakeTarget(60, 60);
    LayoutPaintRecord record = Record(*target);
    record.focus = state;
    record.originX = 5;
    record.originY = 2;
    record.scrollX = 1;
    record.scrollY = 10;
    ASSERT_EQ(image->Paint(record), plat::S_OK);
    // Drawn at (20 + 5 - 1, 30 + 2 - 10) = (24, 22); its column 0 is transparent.
    EXPECT_EQ(target->At(25, 22) != 0, state == 0) << state;
    EXPECT_EQ(target->At(24, 22), 0);
    EXPECT_EQ(target->At(26, 21), 0);
  }
}

TEST_F(ImagePluginTest, CornersOfTheWrongDepthFailCleanly) {
  struct Case {
    int pictureBpp, maskBpp;
    plat::HRESULT expected;
  } cases[] = {{8, 8, plat::S_OK},   {16, 8, plat::S_OK},  {8, 1, plat::E_FAIL},
               {8, 4, plat::E_FAIL}, {24, 8, plat::E_FAIL}, {1, 8, plat::E_FAIL}};
  for (int style : {0, 1, 2}) {
    for (const Case& c : cases) {
      CornerPainter painter(style);
      MaskedImage image{Bitmap(3, 3, c.pictureBpp, {}), Bitmap(3, 3, c.maskBpp, {})};
      EXPECT_EQ(painter.LoadCorners(image), c.expected) << style << " " << c.pictureBpp << "/" << c.maskBpp;
      auto target = MakeTarget(20, 20);
      // A painter without corners draws nothing and says so.
      if (c.expected != plat::S_OK) {
        EXPECT_EQ(painter.DrawPanel(target->buffer, {0, 0, 20, 20}), plat::E_FAIL);
      }
    }
    CornerPainter painter(style);
    EXPECT_EQ(painter.LoadCorners(MaskedImage{}), plat::E_FAIL);
  }
}

TEST_F(ImagePluginTest, PanelsAreRoundedAtTheirCorners) {
  // A 4x4 corner: transparent at its outer corner pixel, grey 200 elsewhere,
  // as an 8-bit grey picture or a 16-bit one; the panel looks the same.
  std::vector<std::uint32_t> mask(16, 255);
  mask[0] = 0;
  const std::uint16_t grey = ColorToRgb565(200 * 0x010101u);
  auto picture16 = std::make_shared<CBitmapBuffer>();
  ASSERT_TRUE(picture16->Create(4, 4, CBitmapBuffer::kRgb565));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) reinterpret_cast<std::uint16_t*>(picture16->Row(y))[x] = grey;
  const MaskedImage corner8{Bitmap(4, 4, 8, std::vector<std::uint32_t>(16, 200)), Bitmap(4, 4, 8, mask)};
  const MaskedImage corner16{picture16, Bitmap(4, 4, 8, mask)};
  struct Case {
    int style;
    bool roundTop, roundBottom;
  } cases[] = {{0, true, true}, {1, true, false}, {2, false, true}};
  for (const auto& [c, corner] : {std::pair{cases[0], corner8}, {cases[1], corner8}, {cases[2], corner8},
                                  {cases[0], corner16}, {cases[1], corner16}, {cases[2], corner16}}) {
    const int bpp = corner.picture->GetBitsPerPixel();
    SCOPED_TRACE(bpp);
    CornerPainter painter(c.style);
    ASSERT_EQ(painter.LoadCorners(corner), plat::S_OK);
    auto target = MakeTarget(40, 30);
    ASSERT_EQ(painter.DrawPanel(target->buffer, {5, 5, 35, 25}), plat::S_OK);
    ShootBitmap(target->buffer, "panel_style" + std::to_string(c.style) + "_" + std::to_string(bpp));
    EXPECT_EQ(target->At(5, 5) == 0, c.roundTop) << c.style;
    EXPECT_EQ(target->At(34, 5) == 0, c.roundTop) << c.style;
    EXPECT_EQ(target->At(5, 24) == 0, c.roundBottom) << c.style;
    EXPECT_EQ(target->At(34, 24) == 0, c.roundBottom) << c.style;
    for (const plat::POINT p : {plat::POINT{20, 15}, plat::POINT{6, 5}, plat::POINT{5, 6}, plat::POINT{20, 5},
                                plat::POINT{20, 24}, plat::POINT{34, 15}}) {
      EXPECT_EQ(target->At(p.x, p.y), grey) << c.style << " at " << p.x << "," << p.y;
    }
    EXPECT_EQ(target->At(4, 15), 0);
    EXPECT_EQ(target->At(35, 15), 0);
    EXPECT_EQ(target->At(20, 4), 0);
    EXPECT_EQ(target->At(20, 25), 0);
  }
}


// Pictures and values taken from a skin package built with the packer.
class PackagedPluginTest : public ImagePluginTest {
 protected:
  void SetUp() override {
    ImagePluginTest::SetUp();
    SetScreen(480, 640, 96);
    SetLayoutFolder(u"\\Layouts");
    const std::string index = R"(<Index><item>
  <Int Name="scroll_horizontal_space" Value="2"/>
  <Int Name="scroll_vertical_space" Value="3"/>
  <Bitmap Name="scroll_top" Image="track.bmp" Mask="track_m.bmp"/>
  <Bitmap Name="scroll_middle" Image="track.bmp" Mask="track_m.bmp"/>
  <Bitmap Name="scroll_bottom" Image="track.bmp" Mask="track_m.bmp"/>
  <Bitmap Name="scroll_selected_top" Image="thumb.bmp" Mask="thumb_m.bmp"/>
  <Bitmap Name="scroll_selected_middle" Image="thumb.bmp" Mask="thumb_m.bmp"/>
  <Bitmap Name="scroll_selected_bottom" Image="thumb.bmp" Mask="thumb_m.bmp"/>
  <Bitmap Name="progress" Image="end.bmp" Mask="end_m.bmp"/>
  <Bitmap Name="progress_filled" Image="end.bmp" Mask="end_m.bmp"/>
  <Bitmap Name="thin" Image="end.bmp" Mask="mono_m.bmp"/>
  <Bitmap Name="thin_filled" Image="end.bmp" Mask="mono_m.bmp"/>
  <Bitmap Name="dot" Image="end.bmp" Mask="end_m.bmp"/>
  <Bitmap Name="LeftTop" Image="end.bmp" Mask="end_m.bmp"/>
</item></Index>)";
    Files skin{{"Index.xml", index},
               {"track.bmp", MakeBmp(4, 2, 8, std::vector<std::uint32_t>(8, 100))},
               {"track_m.bmp", MakeBmp(4, 2, 8, std::vector<std::uint32_t>(8, 255))},
               {"thumb.bmp", MakeBmp(6, 2, 8, std::vector<std::uint32_t>(12, 250))},
               {"thumb_m.bmp", MakeBmp(6, 2, 8, std::vector<std::uint32_t>(12, 255))},
               {"end.bmp", MakeBmp(4, 4, 8, std::vector<std::uint32_t>(16, 200))},
               {"end_m.bmp", MakeBmp(4, 4, 8, std::vector<std::uint32_t>(16, 255))},
               {"mono_m.bmp", MakeBmp(4, 4, 1, std::vector<std::uint32_t>(16, 1))}};
    ASSERT_EQ(Pack(skin, "480_skin.dat"), "");
    // The same pictures without the spacing values.
    std::string bare = index;
    bare.erase(bare.find("  <Int"), bare.find("  <Bitmap") - bare.find("  <Int"));
    skin["Index.xml"] = bare;
    ASSERT_EQ(Pack(skin, "480_bare.dat"), "");
    InstallLayoutServices();
  }
  void TearDown() override {
    plugin_ = CComRef<ILayoutPlugin>();
    SetLayoutFolder(u"");
    ImagePluginTest::TearDown();
  }
  plat::HRESULT Configure(const std::u16string& xml) {
    item_ = ItemFor(xml);
    return plugin_->SetProperties(item_.Get());
  }
  CComRef<PlacedLayoutItem> item_;
};

TEST_F(PackagedPluginTest, ScrollBarDrawsItsTrackAndThumbFromTheSkin) {
  auto* bar = Make<ScrollBarPlugin>(u"Orv.LSP.ScrollBar");
  EXPECT_EQ(Configure(u"<Plugin Name=\"bar\" Skin=\"bare\"/>"), plat::E_FAIL);  // no spacing values
  ASSERT_EQ(Configure(u"<Plugin Name=\"bar\" Skin=\"skin\"/>"), plat::S_OK);
  auto target = MakeTarget(100, 260);
  ASSERT_EQ(bar->Paint(BarRecord(*target, 1000)), plat::S_OK);
  ShootBitmap(target->buffer, "scrollbar_skin");
  // Column 98 (2 from the right); the thumb 6 wide at 92, the 4-wide track
  // centred on it at 93; the track from 3 + 2 = 5 to 250 - 3 - 2 = 245, the
  // thumb over its first 250 / 1000: rows 5..64, its ends above and below.
  const int thumb = Green(ColorToRgb565(250 * 0x010101u));
  const int track = Green(ColorToRgb565(100 * 0x010101u));
  EXPECT_NEAR(Green(target->At(92, 30)), thumb, 1);
  EXPECT_NEAR(Green(target->At(97, 30)), thumb, 1);
  EXPECT_NEAR(Green(target->At(94, 3)), thumb, 1);
  EXPECT_NEAR(Green(target->At(94, 66)), thumb, 1);
  EXPECT_NEAR(Green(target->At(94, 67)), track, 1);
  EXPECT_NEAR(Green(target->At(93, 100)), track, 1);
  EXPECT_NEAR(Green(target->At(96, 246)), track, 1);
  for (const plat::POINT p : {plat::POINT{92, 100}, plat::POINT{97, 100}, plat::POINT{91, 30}, plat::POINT{98, 30},
                              plat::POINT{94, 2}, plat::POINT{94, 247}})
    EXPECT_EQ(target->At(p.x, p.y), 0) << p.x << "," << p.y;
}

TEST_F(PackagedPluginTest, ProgressImageAndPanelLoadTheirPictures) {
  Make<ProgressPlugin>(u"Orv.LSP.Progress");
  EXPECT_EQ(Configure(u"<Plugin Name=\"progress\" Skin=\"skin\" BoundRect=\"0,0,50,8\"/>"), plat::S_OK);
  EXPECT_EQ(plugin_->OnCommand(0, 0), plat::E_FAIL);  // no property source
  auto target = MakeTarget(60, 10);
  EXPECT_EQ(plugin_->Paint(Record(*target)), plat::S_OK);
  EXPECT_NE(target->At(25, 4), 0);
  // A 1-bit mask cannot be mirrored into the right end.
  Make<ProgressPlugin>(u"Orv.LSP.Progress");
  EXPECT_EQ(Configure(u"<Plugin Name=\"thin\" Skin=\"skin\" BoundRect=\"0,0,50,8\"/>"), plat::E_FAIL);
  EXPECT_EQ(plugin_->Paint(Record(*target)), plat::E_FAIL);

  auto* image = Make<ImagePlugin>(u"Orv.LSP.Image");
  EXPECT_EQ(Configure(u"<Plugin Name=\"dot\" Skin=\"skin\"><LeftTop X=\"3\" Y=\"2\"/></Plugin>"), plat::S_OK);
  plat::RECT r{};
  ASSERT_EQ(image->GetRect(0, 0, &r, nullptr, nullptr), plat::S_OK);
  EXPECT_EQ(r.right - r.left, 4);
  Make<ImagePlugin>(u"Orv.LSP.Image");
  EXPECT_EQ(Configure(u"<Plugin Name=\"missing\" Skin=\"skin\"/>"), plat::E_FAIL);

  Make<TopPartImageRectPlugin>(u"Orv.LSP.TopPartImageRect");
  ASSERT_EQ(Configure(u"<Plugin Name=\"panel\" Skin=\"skin\" BoundRect=\"10,0,30,10\"/>"), plat::S_OK);
  auto panel = MakeTarget(60, 20);
  LayoutPaintRecord record = Record(*panel);
  record.scrollX = 5;
  ASSERT_EQ(plugin_->Paint(record), plat::S_OK);
  EXPECT_EQ(panel->At(4, 5), 0);  // moved left by the scroll
  EXPECT_EQ(panel->At(5, 5), ColorToRgb565(200 * 0x010101u));
  EXPECT_EQ(panel->At(34, 9), ColorToRgb565(200 * 0x010101u));
  EXPECT_EQ(panel->At(35, 5), 0);
  EXPECT_EQ(panel->At(20, 10), 0);
}

}  // namespace
}  // namespace layouttest
