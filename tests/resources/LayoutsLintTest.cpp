// Every shipped layout document loads through the program's own reader on
// every supported screen, its rules select a layout, and every class, entry,
// picture and value its plug-ins name exists in the packages the build made.
#include <map>
#include <set>
#include <string>

#include "core/FrameworkProperties.h"
#include "core/OrvException.h"
#include "layout/LayoutDocumentReader.h"
#include "layout/LayoutPackage.h"
#include "layout/MaskedImage.h"
#include "layout/ResourceValues.h"
#include "platform/base/Text.h"
#include "tests/resources/LayoutsFixture.h"

namespace {

using layoutlint::LayoutNames;
using layoutlint::Screens;
using layoutlint::ShippedLayoutsTest;

std::string Narrow(const std::u16string& s) { return plat::Utf16ToUtf8(s); }

std::u16string StringOf(const PluginEntry& entry, const CPropertyName& key) {
  CPropertyList v = FindProperty(entry.GetProperties(), key);
  return v ? v->GetString() : std::u16string();
}

// The built-in plug-in classes the factory knows.
const std::set<std::u16string> kClasses = {u"GradBackground", u"VirtualList",   u"ScrollList", u"ScrollBar",
                                           u"Progress",       u"TopPartImageRect", u"Image",   u"SingleLineText",
                                           u"Text",           u"ZeroBackground",  u"Form"};

// The entries whose names the code gives meaning to, with their classes.
const std::map<std::u16string, std::map<std::u16string, std::u16string>> kEntries = {
    {u"news_blank", {{u"List", u"Text"}}},
    {u"news_channels", {{u"List", u"VirtualList"}, {u"EmptyList", u"Text"}, {u"ProgressForm", u"Form"}}},
    {u"news_articles", {{u"List", u"VirtualList"}, {u"EmptyList", u"Text"}, {u"ProgressForm", u"Form"}}},
    {u"progress", {{u"status", u"SingleLineText"}, {u"message", u"SingleLineText"}, {u"progress", u"Progress"}}},
    {u"new_channel_general", {{u"Title", u"SingleLineText"}}},
    {u"new_channel_rss_atom", {{u"Title", u"SingleLineText"}}},
    {u"new_channel_catalog", {{u"Title", u"SingleLineText"}}},
    {u"new_channel_search", {{u"Title", u"SingleLineText"}}},
    {u"new_channel_opml", {{u"Title", u"SingleLineText"}}},
    {u"new_channel_template", {{u"Title", u"SingleLineText"}}},
};

// The masked pictures (entry names of the skin's index) a plug-in draws.
std::vector<std::u16string> MaskedPicturesOf(const PluginEntry& entry, const std::u16string& cls) {
  std::u16string imageName = StringOf(entry, u"ImageName");
  if (cls == u"Image") return {imageName.empty() ? entry.GetName() : imageName};
  if (cls == u"TopPartImageRect") return {imageName.empty() ? u"LeftTop" : imageName};
  if (cls == u"Progress") return {entry.GetName(), entry.GetName() + u"_filled"};
  if (cls == u"ScrollBar")
    return {u"scroll_top", u"scroll_middle", u"scroll_bottom", u"scroll_selected_top", u"scroll_selected_middle",
            u"scroll_selected_bottom"};
  if (cls == u"VirtualList" && !StringOf(entry, u"IconImage").empty()) return {StringOf(entry, u"IconImage")};
  return {};
}

TEST_F(ShippedLayoutsTest, EveryLayoutLoadsSelectsAndFindsItsPluginsAndPictures) {
  for (const auto& screen : Screens()) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height) + " at " +
                 std::to_string(screen.dpi));
    UseScreen(screen);
    for (const std::u16string& name : LayoutNames()) {
      SCOPED_TRACE(Narrow(name));
      CRefPtr<LayoutDocument> doc;
      try {
        doc = GetLayoutProvider()->GetLayout(name);
      } catch (const COrvException& e) {
        FAIL() << "the document does not load: " << std::hex << e.GetCode();
      }
      ASSERT_TRUE(doc);
      CRefPtr<LayoutDefinition> layout = SelectLayout(*doc);
      ASSERT_TRUE(layout) << "the rules select no layout";
      EXPECT_EQ(layout->GetName(), screen.landscape ? name + u"_landscape" : name);

      std::set<std::u16string> seen;
      for (const auto& entry : layout->GetEntries()) {
        SCOPED_TRACE(Narrow(entry->GetName()));
        seen.insert(entry->GetName());
        std::u16string cls = StringOf(*entry, kKeyClass);
        ASSERT_EQ(cls.rfind(u"Orv.LSP.", 0), 0u) << Narrow(cls);
        cls = cls.substr(8);
        EXPECT_TRUE(kClasses.count(cls)) << "unknown class " << Narrow(cls);
        auto required = kEntries.find(name);
        if (required != kEntries.end()) {
          auto wanted = required->second.find(entry->GetName());
          if (wanted != required->second.end()) {
            EXPECT_EQ(cls, wanted->second);
          }
        }

        // The skin package of every drawing plug-in, with its pictures.
        std::u16string skin = StringOf(*entry, kKeySkin);
        if (cls == u"Text" || cls == u"SingleLineText" || cls == u"Form" || cls == u"ZeroBackground") continue;
        ASSERT_FALSE(skin.empty()) << "no skin";
        CRefPtr<PackageResources> package = GetResourcePackageProvider()->GetPackage(skin);
        ResourceLock use(package.Get(), true, true);
        for (const std::u16string& picture : MaskedPicturesOf(*entry, cls)) {
          MaskedImage image;
          EXPECT_TRUE(package->GetMaskedImage(picture, image, true, 3)) << "missing picture " << Narrow(picture);
        }
        if (cls == u"GradBackground") {
          std::shared_ptr<CBitmapBuffer> mask;
          EXPECT_TRUE(package->GetImage(u"Background_m.bmp", mask, true));
          for (const char16_t* sep : {u"Separator", u"Separator1", u"Separator2"}) {
            std::shared_ptr<CBitmapBuffer> picture, sepMask;
            EXPECT_TRUE(package->GetImage(std::u16string(sep) + u".bmp", picture, true)) << Narrow(sep);
            EXPECT_TRUE(package->GetImage(std::u16string(sep) + u"_m.bmp", sepMask, true)) << Narrow(sep);
          }
        }
        if (cls == u"ScrollBar") {
          std::int32_t space = -1;
          EXPECT_TRUE(GetIntProperty(package->GetValues(), u"scroll_horizontal_space", space));
          EXPECT_TRUE(GetIntProperty(package->GetValues(), u"scroll_vertical_space", space));
        }
      }
      auto required = kEntries.find(name);
      if (required != kEntries.end()) {
        for (const auto& [entryName, cls] : required->second) {
          EXPECT_TRUE(seen.count(entryName)) << "no entry " << Narrow(entryName);
        }
      }
    }
  }
}

TEST_F(ShippedLayoutsTest, SkinPicturesFollowTheScreenDensity) {
  // The 480 package holds pictures twice as large as the 240 one, and its
  // scroll-bar spacing in pixels doubles with them; a screen whose short side
  // is neither takes the size-less package, which holds the 240 pictures.
  struct Case {
    layoutlint::Screen screen;
    int progressHeight, space;
  } cases[] = {{{240, 320, 96, false}, 10, 3}, {{640, 480, 192, true}, 20, 6}, {{480, 800, 192, false}, 20, 6}, {{320, 320, 96, false}, 10, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.screen.width) + "x" + std::to_string(c.screen.height));
    UseScreen(c.screen);
    CRefPtr<PackageResources> package = GetResourcePackageProvider()->GetPackage(u"news_skin");
    ResourceLock use(package.Get(), true, true);
    MaskedImage bar;
    ASSERT_TRUE(package->GetMaskedImage(u"progress", bar, true, 3));
    EXPECT_EQ(bar.GetHeight(), c.progressHeight);
    // Mirroring the bar's end needs an 8- or 16-bit picture with an 8-bit mask.
    EXPECT_EQ(bar.picture->GetBitsPerPixel(), 16);
    EXPECT_EQ(bar.mask->GetBitsPerPixel(), 8);
    std::int32_t space = 0;
    ASSERT_TRUE(GetIntProperty(package->GetValues(), u"scroll_vertical_space", space));
    EXPECT_EQ(space, c.space);
  }
}

}  // namespace
