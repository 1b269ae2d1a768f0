// The article page under the finger, in the running main program: a drag
// scrolls it and a fling keeps it going, the wheel scrolls it, sideways
// flings step through the list by their travel, the text and pictures stay
// beside the scroll bar, the hold that opens the menu keeps what Select All
// selected so that Copy fills the clipboard, and a link to an article that
// does not exist leaves the page as it is.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "database/ViewState.h"
#include "platform/base/Text.h"
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

const std::string kProgram = orvtest::MainProgramPath();
constexpr const char16_t* kWide = u"http://img.example.com/wide.bmp";
constexpr const char16_t* kRuler = u"http://img.example.com/ruler.bmp";
// The wide picture: as wide as the small screen, one colour.
constexpr int kWideW = 240, kWideH = 30;
constexpr std::uint32_t kWideRgb = 0x2040C0;
// The ruler: a tall picture whose every row has its own colour, so the row
// seen at a point of the screen tells how far the page has scrolled.
constexpr int kRulerW = 100, kRulerH = 4000, kRulerBase = 1024;

// Row r's colour, exact on the 5-6-5 screen: the value r + kRulerBase in
// 5 bits of red, 6 of green and 5 of blue.
std::uint32_t RulerColour(int row) {
  const int v = row + kRulerBase;
  return 0xFF000000u | static_cast<std::uint32_t>(((v & 31) << 3) << 16) |
         static_cast<std::uint32_t>((((v >> 5) & 63) << 2) << 8) | static_cast<std::uint32_t>(((v >> 11) & 31) << 3);
}
// The ruler row of a screen pixel, or -1 when it is none.
int RulerRow(DWORD p) {
  const int v = static_cast<int>(((p >> 16) & 0xFF) >> 3) | (static_cast<int>(((p >> 8) & 0xFF) >> 2) << 5) |
                (static_cast<int>((p & 0xFF) >> 3) << 11);
  const int row = v - kRulerBase;
  return row >= 0 && row < kRulerH ? row : -1;
}

bool NearRgb(DWORD p, std::uint32_t rgb, int tolerance = 16) {
  return std::abs(static_cast<int>((p >> 16) & 0xFF) - static_cast<int>((rgb >> 16) & 0xFF)) < tolerance &&
         std::abs(static_cast<int>((p >> 8) & 0xFF) - static_cast<int>((rgb >> 8) & 0xFF)) < tolerance &&
         std::abs(static_cast<int>(p & 0xFF) - static_cast<int>(rgb & 0xFF)) < tolerance;
}

class ArticleGesturesE2E : public ::testing::Test {
 protected:
  // Installs the program and makes the channel "News" with the articles
  // "long" (newest: a link to a missing article, the wide picture, the ruler
  // and many lines of text), "two" and "three"; shows the article list.
  void Prepare() {
    ASSERT_TRUE(orvtest::InstallMainProgram());
    ASSERT_TRUE(orvtest::MakeNewsArticles({u"long", u"two", u"three"}, [](int i, IArticle* a) -> std::u16string {
      if (i > 0) return u"<p>Text of story " + a->GetTitle() + u".</p>";
      std::u16string body = u"<div style=\"font-size:250%\"><a href=\"article://" + orvtest::NewsArticleId(u"missing") +
                            u"\">MISSING</a></div><img src=\"" + kWide + u"\"><br><img src=\"" + kRuler + u"\">";
      for (int line = 0; line < 40; ++line)
        body += u"<p>Line " + Utf8ToUtf16(std::to_string(line)) +
                u" of the long story, with words enough to reach the right edge of the page.</p>";
      imgtest::Pixels ruler(static_cast<std::size_t>(kRulerW) * kRulerH);
      for (int y = 0; y < kRulerH; ++y)
        for (int x = 0; x < kRulerW; ++x) ruler[static_cast<std::size_t>(y) * kRulerW + x] = RulerColour(y);
      const bool stored =
          orvtest::StoreArticlePicture(a, kRuler, imgtest::Bmp(kRulerW, kRulerH, 24, ruler, true)) &&
          orvtest::StoreArticlePicture(
              a, kWide, imgtest::Bmp(kWideW, kWideH, 24, imgtest::Solid(kWideW, kWideH, 0xFF000000u | kWideRgb), false));
      return stored ? body : std::u16string();
    }));
  }

  static std::u16string CurrentArticle() { return CDBViewState().GetCurrentArticleID(); }
  static std::u16string Clipboard() { return orvtest::ClipboardText(); }
  int WidePixels() {
    const PixelImage img = device_->ComposedScreen();
    int n = 0;
    for (DWORD p : img.pixels) n += NearRgb(p, kWideRgb);
    return n;
  }
  int Scale(int v) const { return (v * device_->Screen().dpi + 48) / 96; }

  // Starts the program on a device of that screen and opens "long"; the
  // main window's rectangle is kept.
  void Start(const ScreenSettings& screen) {
    device_.emplace(screen);
    ASSERT_TRUE(device_->Ready());
    ASSERT_NO_FATAL_FAILURE(Prepare());
    const pid_t program = device_->Launch(kProgram, {});
    ASSERT_GT(program, 0);
    ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 20000));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] {
      for (const auto& w : device_->Windows())
        if (w.pid == program && w.visible && w.cls != orvtest::kHiddenClass && w.title != "") main_ = w;
      return main_.has_value();
    }, 20000));
    // The article list's first row, tapped: "long" opens. (On a landscape
    // screen at 96 dpi the list is 240 wide at the window's left: its rows
    // are looked for and tapped within its width.)
    orvtest::DeviceUser user(*device_);
    ASSERT_TRUE(user.Settled());
    device_->Screenshot("list-" + std::to_string(screen.width) + "x" + std::to_string(screen.height));
    ASSERT_TRUE(user.TapRow(*main_, 0, main_->left + user.Px(2), main_->left + user.Px(200))) << "no row on the screen";
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return WidePixels() >= kWideW * kWideH / 2; }, 10000))
        << WidePixels();
    ASSERT_EQ(CurrentArticle(), orvtest::NewsArticleId(u"long"));
  }

  // The ruler row shown at the point, -1 when the ruler is not there.
  int RulerAt(int x, int y) {
    const PixelImage img = device_->ComposedScreen();
    if (x < 0 || y < 0 || x + 4 >= img.width || y >= img.height) return -1;
    const DWORD p = img.pixels[static_cast<std::size_t>(y) * img.width + x];
    // Inside the picture its neighbours across the row have the same colour.
    if (p != img.pixels[static_cast<std::size_t>(y) * img.width + x + 4]) return -1;
    return RulerRow(p);
  }
  // The ruler row once the page has stopped moving (the same for 400 ms).
  int SettledRulerAt(int x, int y) {
    int last = RulerAt(x, y), settled = -2;
    ScreenDriver::WaitUntil([&] {
      const auto until = GetTickCount() + 400;
      while (GetTickCount() < until) {
        const int now = RulerAt(x, y);
        if (now != last) {
          last = now;
          return false;
        }
      }
      settled = last;
      return true;
    }, 15000);
    return settled;
  }

  std::optional<ScreenDriver> device_;
  std::optional<plat::display::WindowLine> main_;
};

TEST_F(ArticleGesturesE2E, ThePageFollowsTheFingerKeepsGoingAfterAFlingAndScrollsByTheWheel) {
  ASSERT_NO_FATAL_FAILURE(Start(ScreenSettings{480, 640, 192}));
  EXPECT_FALSE(device_->Screenshot("gestures-480x640").empty());
  const int x = main_->left + Scale(40);
  const int y = main_->top + (main_->bottom - main_->top) * 3 / 4;
  const int top = SettledRulerAt(x, y);
  ASSERT_GE(top, 0) << "the ruler is under the sample point";

  // A slow drag up: the page moves with the finger and stops with it.
  const int travel = Scale(75);
  ASSERT_TRUE(device_->Drag(x, y, x, y - travel, 1000));
  const int dragged = SettledRulerAt(x, y);
  EXPECT_NEAR(dragged - top, travel, 2);
  EXPECT_FALSE(device_->Screenshot("gestures-dragged").empty());

  // The wheel: a line a click, down and back up.
  const int line = Scale(20);
  ASSERT_TRUE(device_->Wheel(x, y, 2));
  EXPECT_EQ(SettledRulerAt(x, y) - dragged, 2 * line);
  ASSERT_TRUE(device_->Wheel(x, y, -2));
  EXPECT_EQ(SettledRulerAt(x, y), dragged);

  // A fling: the page goes on after the finger has left, then stops.
  const int flung = Scale(100);
  ASSERT_TRUE(device_->Drag(x, y, x, y - flung, 200));
  const int released = RulerAt(x, y);
  const int after = SettledRulerAt(x, y);
  ASSERT_GE(after, 0);
  EXPECT_GT(after - dragged, flung + Scale(100)) << "released at " << released;
  EXPECT_EQ(CurrentArticle(), orvtest::NewsArticleId(u"long")) << "an upward fling is no step to another article";
}

TEST_F(ArticleGesturesE2E, TextAndPicturesStayBesideTheBarAndSidewaysFlingsStepByTheirTravel) {
  ASSERT_NO_FATAL_FAILURE(Start(ScreenSettings{240, 320, 96}));
  EXPECT_FALSE(device_->Screenshot("gestures-240x320").empty());
  // Nothing of the page is drawn in the columns just left of the bar, and
  // the picture as wide as the screen is narrowed to the page.
  const int bar = main_->right - Scale(13);
  {
    const PixelImage img = device_->ComposedScreen();
    int inked = 0, wideRight = 0;
    for (int y = main_->top + Scale(4); y < main_->bottom - Scale(4) && y < img.height; ++y) {
      for (int x = bar - Scale(3); x < bar; ++x) {
        const DWORD p = img.pixels[static_cast<std::size_t>(y) * img.width + x];
        inked += ((p >> 16) & 0xFF) < 0xE0 || ((p >> 8) & 0xFF) < 0xE0 || (p & 0xFF) < 0xE0;
      }
      for (int x = main_->left; x < main_->right; ++x)
        if (NearRgb(img.pixels[static_cast<std::size_t>(y) * img.width + x], kWideRgb)) wideRight = std::max(wideRight, x);
    }
    EXPECT_EQ(inked, 0);
    EXPECT_GT(wideRight, main_->left);
    EXPECT_LT(wideRight, bar);
  }

  // A sideways fling of 150 px steps to the next article, one of 80 px
  // (less than 100 px) does nothing, and one to the right steps back.
  const int y = main_->top + (main_->bottom - main_->top) / 2;
  ASSERT_TRUE(device_->Drag(main_->left + 200, y, main_->left + 50, y + 3, 150));
  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return CurrentArticle() == orvtest::NewsArticleId(u"two"); }, 5000));
  ASSERT_TRUE(device_->Drag(main_->left + 160, y, main_->left + 80, y, 100));
  EXPECT_FALSE(ScreenDriver::WaitUntil([] { return CurrentArticle() != orvtest::NewsArticleId(u"two"); }, 1000));
  ASSERT_TRUE(device_->Drag(main_->left + 50, y, main_->left + 200, y - 3, 150));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return CurrentArticle() == orvtest::NewsArticleId(u"long") && WidePixels() > 0; }, 5000));

  // The link to an article that does not exist leaves the page as it is:
  // still shown, and the flings still step.
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return WidePixels() >= kWideW * kWideH / 2; }, 5000));
  const PixelImage img = device_->ComposedScreen();
  int linkY = -1;
  for (int yy = main_->top; yy < main_->bottom && linkY < 0; ++yy) {
    int blue = 0;
    for (int x = main_->left; x < bar; ++x) {
      const DWORD p = img.pixels[static_cast<std::size_t>(yy) * img.width + x];
      blue += (p & 0xFF) > 0xA0 && ((p >> 16) & 0xFF) < 0x60 && !NearRgb(p, kWideRgb);
    }
    if (blue > 4) linkY = yy + Scale(4);
  }
  ASSERT_GT(linkY, 0) << "the link is on the screen";
  ASSERT_TRUE(device_->Tap(main_->left + Scale(20), linkY));
  EXPECT_FALSE(ScreenDriver::WaitUntil([] { return CurrentArticle() != orvtest::NewsArticleId(u"long"); }, 1500));
  EXPECT_GE(WidePixels(), kWideW * kWideH / 2);
  EXPECT_FALSE(device_->Screenshot("gestures-after-missing-link").empty());
  ASSERT_TRUE(device_->Drag(main_->left + 200, y, main_->left + 50, y, 150));
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return CurrentArticle() == orvtest::NewsArticleId(u"two"); }, 5000));
}

TEST_F(ArticleGesturesE2E, TheHoldThatOpensTheMenuKeepsTheSelectionSoCopyFillsTheClipboard) {
  ASSERT_NO_FATAL_FAILURE(Start(ScreenSettings{640, 480, 96}));
  EXPECT_FALSE(device_->Screenshot("gestures-640x480").empty());
  const auto menuShown = [&](bool shown) {
    return ScreenDriver::WaitUntil([&] {
      bool open = false;
      for (const auto& w : device_->Windows()) open |= w.visible && w.cls == "#32768";
      return open == shown;
    });
  };
  const int x = main_->left + (main_->right - main_->left) / 2;
  const int y = main_->top + (main_->bottom - main_->top) * 3 / 4;
  // Hold: the menu; its first item selects the whole text.
  ASSERT_TRUE(device_->Hold(x, y));
  ASSERT_TRUE(menuShown(true));
  ASSERT_TRUE(device_->Key("down"));
  ASSERT_TRUE(device_->Key("return"));
  ASSERT_TRUE(menuShown(false));
  // Hold again: "Copy" (the second item) is there to choose.
  ASSERT_TRUE(device_->Hold(x, y));
  ASSERT_TRUE(menuShown(true));
  EXPECT_FALSE(device_->Screenshot("gestures-menu-after-select-all").empty());
  ASSERT_TRUE(device_->Key("down"));
  ASSERT_TRUE(device_->Key("down"));
  ASSERT_TRUE(device_->Key("return"));
  ASSERT_TRUE(menuShown(false));
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return Clipboard().find(u"Line 39 of the long story") != std::u16string::npos; },
                                      10000))
      << Utf16ToUtf8(Clipboard());
}

}  // namespace
