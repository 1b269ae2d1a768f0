// The article view inside the running main program: an article opened from
// the article list shows its text and picture, a tapped web link reaches the
// desktop's opener and a "file:" one does not, the arrow keys move through
// the list and mark what they show read, and copy fills the clipboard.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/ViewState.h"
#include "platform/base/LocalMemory.h"
#include "platform/base/Text.h"
#include "platform/controls/Clipboard.h"
#include "platform/windows/Windows.h"
#include "tests/support/DeviceUser.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/NewsArticlesE2E.h"
#include "tests/support/ScreenDriver.h"

namespace {

using orvtest::ScreenDriver;
using namespace plat;

using orvtest::kHiddenClass;
using orvtest::kInstanceName;
const std::string kProgram = orvtest::MainProgramPath();
constexpr const char16_t* kPicture = u"http://img.example.com/story.bmp";
// The picture's colour (0x00RRGGBB) and size.
constexpr std::uint32_t kPictureRgb = 0x2040C0;
constexpr int kPictureW = 160, kPictureH = 60;

class ArticleViewE2E : public ::testing::Test {
 protected:
  // Installs the program, makes the channel "News" with three articles
  // (newest first: one, two, three) and opens its article list.
  void Prepare(ScreenDriver& device) {
    ASSERT_TRUE(orvtest::InstallMainProgram());
    const char16_t* names[] = {u"one", u"two", u"three"};
    ASSERT_TRUE(orvtest::MakeNewsArticles({u"one", u"two", u"three"}, [&](int i, IArticle* a) -> std::u16string {
      if (i > 0) return u"<p>Text of story " + std::u16string(names[i]) + u".</p>";
      // Big links, easy to hit, below the heading and the date.
      const std::string bmp =
          imgtest::Bmp(kPictureW, kPictureH, 24, imgtest::Solid(kPictureW, kPictureH, 0xFF000000u | kPictureRgb), false);
      if (!orvtest::StoreArticlePicture(a, kPicture, bmp)) return u"";
      return u"<div style=\"font-size:250%\"><a href=\"http://example.com/web\">WEBLINK</a></div>"
             u"<div style=\"font-size:250%\"><a href=\"file:///etc/passwd\">FILELINK</a></div>"
             u"<p>Text of story one.</p><img src=\"" + std::u16string(kPicture) + u"\">";
    }));

    // The desktop's opener writes what it was given into a file.
    openerLog_ = device.Device().Scratch() + "/opened.txt";
    const std::string script = device.Device().Scratch() + "/opener.sh";
    orvtest::WriteHostFile(script, "#!/bin/sh\necho \"$1\" >> '" + openerLog_ + "'\n");
    ::chmod(script.c_str(), 0755);
    ::setenv("ORVNEWS_OPENER", script.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("ORVNEWS_OPENER"); }

  static std::optional<plat::display::WindowLine> MainWindowOf(ScreenDriver& device, pid_t pid) {
    for (const auto& w : device.Windows())
      if (w.pid == pid && w.visible && w.cls != kHiddenClass && w.title != "") return w;
    return std::nullopt;
  }
  static std::u16string CurrentArticle() { return CDBViewState().GetCurrentArticleID(); }
  static DWORD CurrentView() { return CDBViewState().GetCurrentView(); }
  static bool IsRead(const std::u16string& name) {
    CChannelSet set;
    if (!set.Open()) return false;
    IChannel* channel = set.FindByName(u"News");
    if (!channel) return false;
    int user = 0;
    channel->Acquire(&user);
    IArticle* a = channel->GetArticleSet()->FindById(orvtest::NewsArticleId(name));
    const bool read = a && channel->IsArticleRead(a);
    channel->Release(&user, false);
    return read;
  }
  static int PicturePixels(ScreenDriver& device) {
    const PixelImage img = device.ComposedScreen();
    int n = 0;
    for (DWORD p : img.pixels) {
      const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      if (std::abs(r - 0x20) < 16 && std::abs(g - 0x40) < 16 && std::abs(b - 0xC0) < 16) ++n;
    }
    return n;
  }
  static std::u16string Clipboard() { return orvtest::ClipboardText(); }

  // Starts the program and opens the first article by tapping its row.
  pid_t OpenFirstArticle(ScreenDriver& device) {
    const pid_t program = device.Launch(kProgram, {});
    EXPECT_GT(program, 0);
    EXPECT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 20000));
    std::optional<plat::display::WindowLine> main;
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return (main = MainWindowOf(device, program)).has_value(); }, 20000));
    if (!main) return program;
    // The list has painted (more than a plain background) before it is tapped.
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] {
      const PixelImage img = device.ComposedScreen();
      return std::set<DWORD>(img.pixels.begin(), img.pixels.end()).size() > 16;
    }, 20000));
    orvtest::DeviceUser user(device);
    EXPECT_TRUE(user.Settled());
    device.Screenshot("list");
    // The list's first row, tapped: its article opens.
    EXPECT_TRUE(user.TapRow(*main, 0)) << "no row on the screen";
    EXPECT_TRUE(ScreenDriver::WaitUntil([] { return CurrentView() == DBV_ARTICLE; }, 10000)) << CurrentView();
    EXPECT_EQ(CurrentArticle(), orvtest::NewsArticleId(u"one"));
    // The page and its picture are on the screen.
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return PicturePixels(device) >= kPictureW * kPictureH * 9 / 10; }, 10000))
        << PicturePixels(device);
    // The slide that brought the article in has ended: the page is in place.
    EXPECT_TRUE(user.Settled());
    return program;
  }

  // A device with the prepared program showing the first article, kept in
  // a screenshot of that name.
  void Start(ScreenDriver& device, const std::string& shot, pid_t* program) {
    ASSERT_TRUE(device.Ready());
    Prepare(device);
    *program = OpenFirstArticle(device);
    ASSERT_GT(*program, 0);
    EXPECT_FALSE(device.Screenshot(shot).empty());
  }

  std::string openerLog_;
};

TEST_F(ArticleViewE2E, OpenedArticleShowsTextPictureAndFollowsOnlyWebLinks) {
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  pid_t program = -1;
  ASSERT_NO_FATAL_FAILURE(Start(device, "article-240x320", &program));
  const auto main = MainWindowOf(device, program);
  ASSERT_TRUE(main.has_value());

  // Find the rows of the two links on the screen: the link colour.
  const PixelImage img = device.ComposedScreen();
  std::vector<int> linkRows;
  for (int y = main->top; y < main->bottom && y < img.height; ++y) {
    int blue = 0;
    for (int x = main->left; x < main->right && x < img.width; ++x) {
      const DWORD p = img.pixels[static_cast<std::size_t>(y) * img.width + x];
      const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      blue += b > 0xA0 && r < 0x60 && g < 0x80 && !(std::abs(r - 0x20) < 16 && std::abs(g - 0x40) < 16);
    }
    if (blue > 4) linkRows.push_back(y);
  }
  ASSERT_FALSE(linkRows.empty());
  // Two bands of link-coloured rows: the first is the web link, the second the file link.
  std::vector<std::pair<int, int>> bands;
  for (int y : linkRows) {
    if (bands.empty() || y > bands.back().second + 3) bands.push_back({y, y});
    else bands.back().second = y;
  }
  ASSERT_GE(bands.size(), 2u);
  const int x = main->left + 20 * device.Screen().dpi / 96;
  ASSERT_TRUE(device.Tap(x, (bands[1].first + bands[1].second) / 2));  // "file:" first
  ASSERT_TRUE(device.Tap(x, (bands[0].first + bands[0].second) / 2));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return orvtest::HasLine(openerLog_, "http://example.com/web"); }, 10000));
  // The "file:" tap came first and reached nothing.
  EXPECT_EQ(orvtest::ReadLines(openerLog_), std::vector<std::string>{"http://example.com/web"});
}

TEST_F(ArticleViewE2E, ArrowsMoveThroughTheListMarkingReadAndCopyFillsTheClipboard) {
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  pid_t program = -1;
  ASSERT_NO_FATAL_FAILURE(Start(device, "article-480x640", &program));
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return IsRead(u"one"); }, 10000));

  // An arrow at the page's edge steps to the adjacent article: one press,
  // once the view shows its page (the screen holds still), as a person
  // presses when the article is on the screen.
  const auto step = [&](const char* key, const char16_t* expected) {
    return device.WaitForStillScreen() && device.Key(key) &&
           ScreenDriver::WaitUntil([&] { return CurrentArticle() == orvtest::NewsArticleId(expected); }, 10000);
  };
  ASSERT_TRUE(step("right", u"two"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return IsRead(u"two"); }, 10000));
  EXPECT_FALSE(IsRead(u"three"));
  EXPECT_FALSE(device.Screenshot("article-two").empty());
  ASSERT_TRUE(step("left", u"one"));
  ASSERT_TRUE(device.WaitForStillScreen());
  ASSERT_TRUE(device.Key("left"));  // the first article: nothing before it
  ASSERT_TRUE(step("right", u"two"));
  ASSERT_TRUE(step("right", u"three"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return IsRead(u"three"); }, 10000));
  ASSERT_TRUE(device.WaitForStillScreen());
  ASSERT_TRUE(device.Key("right"));  // the last article: nothing after it
  EXPECT_FALSE(ScreenDriver::WaitUntil([] { return CurrentArticle() != orvtest::NewsArticleId(u"three"); }, 1000));

  // The action key opens the menu: "Select All Text", then again "Copy".
  const auto menuShown = [&](bool shown) {
    return ScreenDriver::WaitUntil([&] {
      bool open = false;
      for (const auto& w : device.Windows()) open |= w.visible && w.cls == "#32768";
      return open == shown;
    });
  };
  ASSERT_TRUE(device.Key("action"));
  ASSERT_TRUE(menuShown(true));
  ASSERT_TRUE(device.Key("down"));
  ASSERT_TRUE(device.Key("return"));
  ASSERT_TRUE(menuShown(false));
  ASSERT_TRUE(device.Key("action"));
  ASSERT_TRUE(menuShown(true));
  EXPECT_FALSE(device.Screenshot("menu-with-selection").empty());
  ASSERT_TRUE(device.Key("down"));
  ASSERT_TRUE(device.Key("down"));
  ASSERT_TRUE(device.Key("return"));
  ASSERT_TRUE(menuShown(false));
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return Clipboard().find(u"Text of story three.") != std::u16string::npos; },
                                      10000))
      << Utf16ToUtf8(Clipboard());
}

}  // namespace
