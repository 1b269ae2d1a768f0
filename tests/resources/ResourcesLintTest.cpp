// Every name the code uses exists in the shipped resources: the string ids of
// each deliverable (with the printf conversions the callers pass), the menus
// with their commands, the dialog templates with their controls, the icons,
// the bitmaps with the sizes their painters cut them by, the help topics and
// the language-file keys. Each deliverable's script is compiled from its
// source with the generated art, exactly as the build does.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/Localizer.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/gdi/Gdi.h"
#include "platform/resources/Resources.h"
#include "platform/windows/Menus.h"
#include "platform/windows/Windows.h"
#include "tools/rc/ResourceCompiler.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

struct Deliverable {
  const char* script;  // below the resources folder
  std::vector<unsigned> strings;
  std::map<unsigned, std::set<unsigned>> menus;         // menu id: its command ids
  std::map<unsigned, std::set<int>> dialogs;            // dialog id: its control ids
  std::vector<unsigned> icons;
  std::map<unsigned, std::pair<int, int>> bitmaps;      // bitmap id: width (0: a multiple of height), height
};

// The core's strings, in every deliverable that links the core.
const std::vector<unsigned> kCoreStrings = {195, 233, 234, 235, 236, 237, 238, 239, 240};

std::vector<unsigned> With(std::vector<unsigned> own, const std::vector<unsigned>& more) {
  own.insert(own.end(), more.begin(), more.end());
  return own;
}

const std::vector<Deliverable>& Deliverables() {
  static const std::vector<Deliverable> all = {
      {"app/app.rc",
       With({134, 135, 138, 139, 141, 145, 146, 147, 148, 149, 150, 154, 156, 161, 163, 164, 166, 167, 168,
             169, 170, 171, 172, 182, 183, 185, 186, 188, 192, 193, 194, 196, 200, 202, 203, 204, 206, 207, 208,
             209, 210, 211, 212, 213, 214, 220, 221, 222, 223, 224, 225, 226, 227, 228, 229, 230, 231, 232,
             241, 243, 244, 245, 246, 250, 252, 254, 255, 256, 258, 259, 260, 261, 262, 263, 264, 265, 266,
             267, 274, 276, 277, 279, 282, 283, 285, 286, 287, 288, 290, 291, 292, 293, 294, 295, 298, 299,
             300, 302, 303, 304, 305, 306, 308, 309, 310, 312, 313, 314, 316, 317, 318, 319},
            kCoreStrings),
       {
           {173, {2040, 2042}},
           {1100, {2055, 2051, 2053, 2084}},
           {1101, {2043, 2044, 2045, 2046, 2047, 2048, 2049, 2055, 2073, 2050, 2051, 2053, 2084}},
           {1102, {2064, 2043, 2058, 2046, 2048, 2051}},
           {1103, {2064, 2066, 2067, 2068, 2069, 2070, 2051}},
           {1104, {2007, 2009}},
           {1105, {1, 2}},
           {1106, {1, 2}},
           {1110, {5008, 5001, 5002, 5003, 5004, 5006, 5007}},
           {1111, {5001, 5002, 5003, 5004, 5006, 5050}},
           {1112, {5001, 5002, 5003}},
           {65528, {1}},
           {65529, {7, 2}},
           {65530, {1, 2}},
           {65531, {7, 1}},
           {65532, {7, 1}},
           {65533, {1}},
           {65534, {1, 2}},
       },
       {{172, {}}, {1200, {1201, 1202}}},
       {128, 156, 157, 158, 159},
       {{166, {0, 16}}, {181, {0, 21}}, {179, {0, 22}}, {167, {0, 32}}}},
      {"today/today.rc",
       With({102, 103, 104, 105, 106}, kCoreStrings),
       {{300, {1, 2}}},
       {},
       {201, 204},
       {{202, {26, 26}}, {203, {52, 48}}, {207, {26, 44}}, {206, {52, 82}}, {208, {0, 14}}, {209, {0, 28}}}},
      {"todayoptions/todayoptions.rc",
       With({101, 103, 105, 106, 107, 108, 109, 110, 111, 112}, kCoreStrings),
       {{204, {2, 32770, 32771}}},
       {{203, {210, 201, 202}},
        {206, {211, 212, 213, 214, 215, 216, 217}},
        {202, {203, 205, 206, 207, 218, 219, 220, 223, 225}}},
       {100},
       {}},
      {"service/service.rc", With({1}, kCoreStrings), {}, {}, {100}, {}},
      {"remover/remover.rc", {1}, {}, {}, {100}, {}},
  };
  return all;
}

// The printf conversions of the strings that the code formats, in order.
const std::map<unsigned, std::string> kFormats = {
    {141, "s"}, {166, "s"}, {200, "s"}, {235, "sd"}, {236, "s"}, {238, "d"},
    {244, "dd"}, {300, "dd"}, {316, "s"},
};

std::string Conversions(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'%') continue;
    if (text[i + 1] == u'%') {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(text[i + 1]));
  }
  return out;
}

std::set<unsigned> MenuCommands(HMENU menu) {
  std::set<unsigned> ids;
  int n = GetMenuItemCount(menu);
  for (int i = 0; i < n; ++i) {
    if (HMENU sub = GetSubMenu(menu, i)) {
      std::set<unsigned> more = MenuCommands(sub);
      ids.insert(more.begin(), more.end());
      continue;
    }
    UINT id = GetMenuItemID(menu, i);
    if (id != 0 && id != 0xFFFFFFFFu) ids.insert(id);
  }
  return ids;
}

// The control ids of a DLGTEMPLATE resource.
struct TemplateReader {
  const unsigned char* p;
  std::size_t size, pos = 0;
  bool ok = true;
  unsigned Word() {
    if (pos + 2 > size) {
      ok = false;
      return 0;
    }
    unsigned v = p[pos] | (p[pos + 1] << 8);
    pos += 2;
    return v;
  }
  std::uint32_t Dword() { return Word() | (static_cast<std::uint32_t>(Word()) << 16); }
  void Align4() { pos = (pos + 3) & ~std::size_t{3}; }
  void SkipText() {
    while (ok && Word() != 0) {
    }
  }
  void SkipNameOrOrdinal() {
    unsigned first = Word();
    if (first == 0xFFFF) Word();
    else if (first != 0) SkipText();
  }
};

std::set<int> DialogControls(const void* data, std::size_t size, bool* ok) {
  TemplateReader in{static_cast<const unsigned char*>(data), size};
  std::set<int> ids;
  std::uint32_t style = in.Dword();
  in.Dword();
  unsigned count = in.Word();
  for (int i = 0; i < 4; ++i) in.Word();
  in.SkipNameOrOrdinal();  // menu
  in.SkipNameOrOrdinal();  // class
  in.SkipText();           // title
  if (style & DS_SETFONT) {
    in.Word();
    in.SkipText();
  }
  for (unsigned i = 0; i < count && in.ok; ++i) {
    in.Align4();
    in.Dword();
    in.Dword();
    for (int k = 0; k < 4; ++k) in.Word();
    ids.insert(static_cast<short>(in.Word()));
    in.SkipNameOrOrdinal();  // class
    in.SkipNameOrOrdinal();  // text
    unsigned extra = in.Word();
    in.pos += extra;
  }
  *ok = in.ok;
  return ids;
}

class ResourcesLintTest : public orvtest::DeviceTest {
 protected:
  static HINSTANCE Fake() { return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x6A70)); }
  void TearDown() override { BindModuleResources(Fake(), nullptr, 0); }

  // Compiles the deliverable's script from its source and binds it to Fake().
  void Bind(const Deliverable& d) {
    std::string path = std::string(ORV_RESOURCES_DIR) + "/" + d.script;
    std::string text = orvtest::ReadHostFile(path);
    ASSERT_FALSE(text.empty()) << path;
    std::size_t slash = path.rfind('/');
    ResourceCompileResult r =
        CompileResourceScript(text, path.substr(0, slash), path.substr(slash + 1), {ORV_ART_DIR});
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(BindModuleResources(Fake(), std::move(r.image)));
  }
};

TEST_F(ResourcesLintTest, EveryDeliverableHasItsStringsMenusDialogsAndPictures) {
  for (const Deliverable& d : Deliverables()) {
    SCOPED_TRACE(d.script);
    Bind(d);
    if (HasFatalFailure()) return;

    for (unsigned id : d.strings) {
      WCHAR buf[2048];
      int n = LoadStringW(Fake(), id, buf, 2048);
      EXPECT_GT(n, 0) << "string " << id;
      std::u16string text(buf, static_cast<std::size_t>(n > 0 ? n : 0));
      auto f = kFormats.find(id);
      EXPECT_EQ(Conversions(text), f == kFormats.end() ? "" : f->second) << "string " << id << ": " << Utf16ToUtf8(text);
    }

    for (const auto& [id, commands] : d.menus) {
      HMENU menu = LoadMenuW(Fake(), MAKEINTRESOURCEW(id));
      ASSERT_NE(menu, nullptr) << "menu " << id;
      EXPECT_EQ(MenuCommands(menu), commands) << "menu " << id;
      DestroyMenu(menu);
    }

    for (const auto& [id, controls] : d.dialogs) {
      HRSRC r = FindResourceW(Fake(), MAKEINTRESOURCEW(id), RT_DIALOG);
      ASSERT_NE(r, nullptr) << "dialog " << id;
      bool ok = false;
      std::set<int> found = DialogControls(LockResource(LoadResource(Fake(), r)), SizeofResource(Fake(), r), &ok);
      EXPECT_TRUE(ok) << "dialog " << id;
      for (int c : controls) EXPECT_TRUE(found.count(c)) << "dialog " << id << " control " << c;
    }

    for (unsigned id : d.icons) {
      for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(LoadImageW(Fake(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
        EXPECT_NE(icon, nullptr) << "icon " << id << " at " << size;
        if (icon) DestroyIcon(icon);
      }
    }

    for (const auto& [id, size] : d.bitmaps) {
      HBITMAP b = LoadBitmapW(Fake(), MAKEINTRESOURCEW(id));
      ASSERT_NE(b, nullptr) << "bitmap " << id;
      BITMAP bm{};
      ASSERT_EQ(GetObjectW(b, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
      EXPECT_EQ(bm.bmHeight, size.second) << "bitmap " << id;
      if (size.first) EXPECT_EQ(bm.bmWidth, size.first) << "bitmap " << id;
      else EXPECT_TRUE(bm.bmWidth > 0 && bm.bmWidth % size.second == 0) << "bitmap " << id << " width " << bm.bmWidth;
      DeleteObject(b);
    }
    BindModuleResources(Fake(), nullptr, 0);
  }
}

TEST_F(ResourcesLintTest, TodaySkinsHoldOnlyTheirThreeColours) {
  // Red is painted in the theme colour, white in a tone of the background and
  // every other colour is transparent: anti-aliased edges would show as holes.
  const Deliverable& today = Deliverables()[1];
  Bind(today);
  for (unsigned id : {202u, 203u, 206u, 207u}) {
    HBITMAP b = LoadBitmapW(Fake(), MAKEINTRESOURCEW(id));
    ASSERT_NE(b, nullptr);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectW(b, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    ASSERT_EQ(ds.dsBm.bmBitsPixel, 24);
    int red = 0, white = 0, other = 0;
    const auto* bits = static_cast<const unsigned char*>(ds.dsBm.bmBits);
    for (int y = 0; y < ds.dsBm.bmHeight; ++y)
      for (int x = ds.dsBm.bmWidth / 2; x < ds.dsBm.bmWidth; ++x) {
        const unsigned char* px = bits + y * ds.dsBm.bmWidthBytes + x * 3;  // blue, green, red
        if (px[2] == 255 && px[1] == 0 && px[0] == 0) ++red;
        else if (px[2] == 255 && px[1] == 255 && px[0] == 255) ++white;
        else if (px[2] == 255 && px[1] == 0 && px[0] == 255) ++other;
        else ADD_FAILURE() << "bitmap " << id << " has a colour of its own at " << x << "," << y;
      }
    EXPECT_GT(red, 0) << id;
    EXPECT_GT(white, 0) << id;
    DeleteObject(b);
  }
}

TEST_F(ResourcesLintTest, HelpFileHasEveryTopic) {
  std::string html = orvtest::ReadHostFile(std::string(ORV_PROGRAM_DIR) + "/OrvNews.htm");
  ASSERT_FALSE(html.empty());
  const char* topics[] = {
      "Main_contents", "Main_Contents", "channels", "articles", "article", "options_general", "options_content",
      "options_default_channel_update", "options_default_channel_cleaning", "channel_properties_update",
      "channel_properties_cleaning", "channel_properties_general", "browse_folder", "new_channel_general",
      "new_channel_rss_atom", "new_channel_catalog", "new_channel_search", "new_channel_opml",
      "new_channel_template", "today_channels", "today_font", "today_style"};
  for (const char* t : topics) {
    // Both the id and the older name anchor, so any help viewer finds it.
    EXPECT_NE(html.find(std::string("id=\"") + t + "\""), std::string::npos) << t;
    EXPECT_NE(html.find(std::string("name=\"") + t + "\""), std::string::npos) << t;
  }
  // Every link inside the file leads to an anchor of it.
  for (std::size_t at = html.find("href=\"#"); at != std::string::npos; at = html.find("href=\"#", at + 1)) {
    std::size_t end = html.find('"', at + 7);
    std::string target = html.substr(at + 7, end - at - 7);
    EXPECT_NE(html.find("id=\"" + target + "\""), std::string::npos) << "link to " << target;
  }
}

TEST_F(ResourcesLintTest, EnglishLanguageFileGivesTheFirstRunChannelsAndFontChoice) {
  std::string bytes = orvtest::ReadHostFile(std::string(ORV_PROGRAM_DIR) + "/localization_en.txt");
  ASSERT_FALSE(bytes.empty());
  orvtest::WriteHostFile(device_.FsRoot() + "/localization_en.txt", bytes);
  COrvLocalizerAPI loc;
  ASSERT_TRUE(loc.LoadFile(u"\\localization_en.txt"));
  EXPECT_EQ(loc.TranslateToString(u"_LARGE_SMALL_FONTS"), u"0");
  std::set<std::u16string> urls;
  for (int i = 1; i <= 6; ++i) {
    std::u16string n = Utf8ToUtf16(std::to_string(i));
    std::u16string urlKey = u"DEFCHANNEL_" + n + u"_URL", nameKey = u"DEFCHANNEL_" + n + u"_NAME";
    std::u16string url = loc.TranslateToString(urlKey.c_str()), name = loc.TranslateToString(nameKey.c_str());
    EXPECT_NE(url, urlKey);
    EXPECT_NE(name, nameKey);
    EXPECT_TRUE(url.rfind(u"http://", 0) == 0 || url.rfind(u"https://", 0) == 0) << Utf16ToUtf8(url);
    urls.insert(url);
  }
  EXPECT_EQ(urls.size(), 6u);
  // Nothing but the settings: an English text must not be "translated".
  EXPECT_EQ(loc.GetEntryCount(), 13u);
}

}  // namespace
