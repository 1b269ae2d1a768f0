// The gradient background plug-in over a skin package built by the packer.
#include "core/VORegistry.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/GradBackgroundPlugin.h"
#include "layout/LayoutDocument.h"
#include "layout/PluginFactory.h"
#include "tests/layout/LayoutFixture.h"

namespace layouttest {
namespace {

class GradientTest : public LayoutTest {
 protected:
  void SetUp() override {
    LayoutTest::SetUp();
    SetLayoutFolder(u"\\Layouts");
    Files skin{{"Background_m.bmp", MakeBmp(4, 2, 8, {255, 255, 0, 0, 255, 255, 0, 0})},
               {"Separator.bmp", MakeBmp(2, 1, 16, {0xF800, 0xF800})},
               {"Separator_m.bmp", MakeBmp(2, 1, 8, {255, 255})}};
    ASSERT_EQ(Pack(skin, "480_skin.dat"), "");
    ASSERT_EQ(Pack(skin, "240_skin.dat"), "");
    InstallLayoutServices();
  }
  void TearDown() override {
    SetLayoutFolder(u"");
    LayoutTest::TearDown();
  }
  CComRef<ILayoutPlugin> Make(const std::u16string& extra, plat::HRESULT* result = nullptr) {
    CRefPtr<LayoutDocument> doc = ParseLayoutText(
        u"<Layouts><Layout Name=\"L\" DontScale=\"1\"><Plugins><Plugin Name=\"bg\" Class=\"Orv.LSP.GradBackground\" " +
        extra + u"</Plugins></Layout></Layouts>");
    item_ = CComRef<PlacedLayoutItem>(new PlacedLayoutItem(doc->GetSet().GetLayouts()[0]->GetEntries()[0]->GetProperties()));
    CComRef<ILayoutPlugin> plugin;
    plugin.Attach(CreatePlugin(u"Orv.LSP.GradBackground"));
    const plat::HRESULT hr = plugin->SetProperties(item_.Get());
    if (result) *result = hr;
    return plugin;
  }
  void SetHue(std::uint32_t value) {
    CVORegistry key(plat::HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Color", true, false, plat::KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"BaseHue", value));
  }
  CComRef<PlacedLayoutItem> item_;
};

TEST_F(GradientTest, ColoursOfTheTheme) {
  const GradientColours flat = ThemeGradientColours(-1);
  EXPECT_EQ(flat.top, 0x262626u);
  EXPECT_EQ(flat.bottom, 0x262626u);
  const GradientColours red = ThemeGradientColours(0);
  // Hue 0 is red: value 69 at the top, 177 at the bottom, both scaled by 255/240.
  EXPECT_EQ(red.top & 0xFF, 69u * 255 / 240);
  EXPECT_EQ(red.bottom & 0xFF, 177u * 255 / 240);
  EXPECT_LT((red.bottom >> 16) & 0xFF, red.bottom & 0xFF);
}

TEST_F(GradientTest, FlatBackdropWithoutATheme) {
  CComRef<ILayoutPlugin> plugin = Make(u"Skin=\"skin\"><Point Name=\"PictOffset\" X=\"100\" Y=\"100\"/></Plugin>");
  auto target = MakeTarget(240, 320, 0x1234);
  LayoutPaintRecord record;
  record.dc = target->dc;
  ASSERT_EQ(plugin->Paint(record), plat::S_OK);
  const std::uint16_t grey = ColorToRgb565(0x262626);
  for (int y : {0, 160, 319})
    for (int x : {0, 7, 8, 239}) EXPECT_EQ(target->At(x, y), grey) << x << "," << y;
  // The mask paints white at the offset.
  EXPECT_EQ(target->At(100, 100), 0xFFFF);
  EXPECT_EQ(target->At(102, 100), grey);
  EXPECT_EQ(static_cast<GradBackgroundPlugin*>(plugin.Get())->GetLastTileCount(), 30);
  auto wider = MakeTarget(244, 320, 0x1234);
  record.dc = wider->dc;
  ASSERT_EQ(plugin->Paint(record), plat::S_OK);
  EXPECT_EQ(static_cast<GradBackgroundPlugin*>(plugin.Get())->GetLastTileCount(), 31);
  EXPECT_EQ(wider->At(243, 5), grey);
}

TEST_F(GradientTest, StripIsRefilledOnAHueChangeAndRemadeOnAHeightChange) {
  CComRef<ILayoutPlugin> plugin = Make(u"Skin=\"skin\"><Int Name=\"NoBackgrd\" Value=\"1\"/><Point Name=\"SeparatorY\" X=\"10\" Y=\"20\"/></Plugin>");
  auto* gradient = static_cast<GradBackgroundPlugin*>(plugin.Get());
  SetHue(0x0180);
  auto target = MakeTarget(16, 100);
  LayoutPaintRecord record;
  record.dc = target->dc;
  ASSERT_EQ(plugin->Paint(record), plat::S_OK);
  EXPECT_EQ(gradient->GetStripCreations(), 1);
  EXPECT_EQ(gradient->GetStripFills(), 1);
  const GradientColours colours = ThemeGradientColours(128);
  EXPECT_EQ(target->At(3, 0), ColorToRgb565(colours.top));
  EXPECT_EQ(target->At(12, 0), ColorToRgb565(colours.top));
  EXPECT_NE(target->At(3, 99), target->At(3, 0));
  // No background picture, but the separator at its point.
  EXPECT_EQ(target->At(0, 0), target->At(4, 0));
  EXPECT_EQ(target->At(10, 20), 0xF800);
  EXPECT_EQ(target->At(11, 20), 0xF800);
  ASSERT_EQ(plugin->Paint(record), plat::S_OK);
  EXPECT_EQ(gradient->GetStripFills(), 1);  // nothing changed
  SetHue(0x0140);
  ASSERT_EQ(plugin->Paint(record), plat::S_OK);
  EXPECT_EQ(gradient->GetStripFills(), 2);
  EXPECT_EQ(gradient->GetStripCreations(), 1);
  auto rotated = MakeTarget(16, 60);
  record.dc = rotated->dc;
  ASSERT_EQ(plugin->Paint(record), plat::S_OK);
  EXPECT_EQ(gradient->GetStripCreations(), 2);
  EXPECT_EQ(plugin->Paint(LayoutPaintRecord{}), plat::E_FAIL);
}

TEST_F(GradientTest, MissingBackgroundMaskFailsSetProperties) {
  plat::HRESULT result = 0;
  Make(u"Skin=\"skin\"/>", &result);
  EXPECT_EQ(result, plat::S_OK);
  ASSERT_EQ(Pack({{"Other.bmp", MakeBmp(1, 1, 8, {0})}}, "480_bare.dat"), "");
  Make(u"Skin=\"bare\"/>", &result);
  EXPECT_EQ(result, plat::E_FAIL);
}

}  // namespace
}  // namespace layouttest
