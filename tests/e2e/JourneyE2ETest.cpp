// A person's first session with the product, at each screen size: the first
// start with nothing to read, a channel added by its address through the
// wizard, updated, an article opened by a tap on its row, scrolled by the
// finger and left for the next one by a sideways swipe, Back twice to the
// channels, the options and back, then the Today screen whose item shows the
// channel's newest article and whose options change the view, saved with
// done. And a tap on an article row while the list still slides in.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "tools/device/DeviceInstall.h"
#include "core/VORegistry.h"
#include "database/Article.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/TodayViewOptions.h"
#include "database/ViewState.h"
#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"
#include "tests/support/DeviceUser.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/LiveArticles.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tests/support/TodayScreen.h"
#include "tests/support/UpdateLock.h"
#include "tests/support/Wait.h"

namespace {

using orvtest::DeviceUser;
using orvtest::ScreenDriver;
using orvtest::WindowLine;
using namespace plat;

constexpr const char* kChannel = "Loopback News";

// The feed of `items` stories, the newest first (an hour apart), each long
// enough to scroll.
std::string StoriesFeed(int items) {
  std::string xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + std::string(kChannel) + "</title>";
  for (int i = 0; i < items; ++i) {
    char date[64];
    std::snprintf(date, sizeof date, "Thu, 10 Dec 2026 %02d:30:00 GMT", 20 - i);
    std::string body;
    for (int p = 0; p < 30; ++p)
      body += "<p>Paragraph " + std::to_string(p) + " of story " + std::to_string(i) +
              ", with words enough to fill the width of the page.</p>";
    xml += "<item><title>Story " + std::to_string(i) + "</title><guid>story-" + std::to_string(i) + "</guid><pubDate>" +
           date + "</pubDate><description><![CDATA[" + body + "]]></description></item>";
  }
  return xml + "</channel></rss>";
}

// What the device stores of the channel, read as another program reads it.
int LiveCount() { return orvtest::StoredLiveArticles(Utf8ToUtf16(kChannel)); }
// The title of the article the view state names ("" when none).
std::string CurrentArticleTitle() {
  const std::u16string id = CDBViewState().GetCurrentArticleID();
  CChannelSet set;
  if (id.empty() || !set.Open()) return "";
  IChannel* c = set.FindByName(Utf8ToUtf16(kChannel));
  if (!c) return "";
  int user = 0;
  std::string title;
  c->Acquire(&user);
  IArticleSet* articles = c->GetArticleSet();
  for (int i = 0; articles && i < articles->GetCount(); ++i)
    if (articles->GetAt(i)->GetId() == id) title = Utf16ToUtf8(articles->GetAt(i)->GetTitle());
  c->Release(&user, false);
  return title;
}
// The titles of the stored articles marked read, in the feed's order.
std::vector<std::string> ReadTitles() {
  std::vector<std::string> read;
  CChannelSet set;
  if (!set.Open()) return read;
  IChannel* c = set.FindByName(Utf8ToUtf16(kChannel));
  if (!c) return read;
  int user = 0;
  c->Acquire(&user);
  IArticleSet* articles = c->GetArticleSet();
  for (int i = 0; articles && i < articles->GetCount(); ++i)
    if (c->IsArticleRead(articles->GetAt(i))) read.push_back(Utf16ToUtf8(articles->GetAt(i)->GetTitle()));
  c->Release(&user, false);
  std::sort(read.begin(), read.end());
  return read;
}
DWORD View() { return CDBViewState().GetCurrentView(); }

struct Screen {
  ScreenSettings settings;
  const char* name;
};

class JourneyE2E : public ::testing::TestWithParam<Screen> {
 protected:
  void Shot(ScreenDriver& device, int step, const std::string& what) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d-", step);
    EXPECT_FALSE(device.Screenshot(number + what).empty());
  }
  // The pixels of the window's middle band, to tell whether a page moved.
  static std::vector<DWORD> Band(ScreenDriver& device, const WindowLine& w) {
    const PixelImage screen = device.ComposedScreen();
    std::vector<DWORD> band;
    for (int y = w.top + (w.bottom - w.top) / 3; y < w.top + 2 * (w.bottom - w.top) / 3 && y < screen.height; ++y)
      for (int x = w.left; x < w.right && x < screen.width; ++x)
        band.push_back(screen.pixels[static_cast<std::size_t>(y) * screen.width + x]);
    return band;
  }
};

TEST_P(JourneyE2E, FirstStartToTodayOptions) {
  const Screen screen = GetParam();
  orvtest::HttpTestServer server;
  std::atomic<int> items{3};
  server.Route("/news.xml", [&](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = StoriesFeed(items.load());
    r.headers.push_back({"Content-Type", "text/xml"});
    return r;
  });
  ScreenDriver device(screen.settings);
  ASSERT_TRUE(device.Ready());
  DeviceUser user(device);
  orvtest::TodayScreen today(device);
  ASSERT_NO_FATAL_FAILURE(today.Install());
  ASSERT_GT(today.StartHost(), 0) << today.HostLog();

  // 1. The first start: nothing to read, the hint says how to begin.
  const pid_t program = user.StartMainProgram("Orv News");
  ASSERT_GT(program, 0);
  ASSERT_TRUE(user.Settled());
  Shot(device, 1, "first-start");
  EXPECT_EQ(LiveCount(), -1) << "no channel yet";

  // 2. A tap on the empty screen opens the wizard; the feed's address typed
  // after "http://", Enter adds it, named by its feed, and it is updated.
  WindowLine main = *user.MainWindow(program);
  ASSERT_TRUE(device.Tap((main.left + main.right) / 2, (main.top + main.bottom) / 2));
  ASSERT_TRUE(user.WaitForCaption(program, "New Channel")) << user.WindowList();
  ASSERT_TRUE(user.Settled());
  for (const char* key : {"tab", "0x20"}) ASSERT_TRUE(user.KeyAndSettle(key)) << key;
  ASSERT_TRUE(user.KeyAndSettle("enter"));
  const std::vector<DWORD> blankField = device.ComposedScreen().pixels;
  ASSERT_TRUE(device.Text(server.Url("/news.xml").substr(7)));
  ASSERT_TRUE(device.WaitForStillScreen(&blankField));
  Shot(device, 2, "wizard-address");
  ASSERT_TRUE(device.Key("enter"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !user.MainWindow(program, "New Channel").has_value(); }, 30000))
      << user.WindowList();
  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return LiveCount() == 3; }, 30000)) << LiveCount();
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
  ASSERT_TRUE(user.Settled());
  Shot(device, 3, "channel-added");

  // 3. The feed has two new stories: "Update" (the left soft key) fetches them.
  items = 5;
  const std::size_t asked = server.RequestCount("/news.xml");
  ASSERT_TRUE(device.Key("soft1"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/news.xml") > asked; }, 30000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return LiveCount() == 5; }, 30000)) << LiveCount();
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
  ASSERT_TRUE(user.Settled());
  Shot(device, 4, "updated");

  // 4. The channel's row opens its articles; the second row, its article.
  main = *user.MainWindow(program, "Orv News");
  ASSERT_EQ(user.ListRows(main).size(), 1u) << "one channel row";
  ASSERT_TRUE(user.TapRow(main, 0));
  ASSERT_TRUE(user.WaitForCaption(program, kChannel)) << user.WindowList();
  ASSERT_TRUE(user.Settled());
  Shot(device, 5, "articles");
  main = *user.MainWindow(program, kChannel);
  ASSERT_GE(user.ListRows(main).size(), 3u) << "the article rows the screen shows";
  ASSERT_TRUE(user.TapRow(main, 1));
  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return View() == DBV_ARTICLE; }, 10000)) << View();
  EXPECT_EQ(CurrentArticleTitle(), "Story 1");
  ASSERT_TRUE(user.Settled());
  Shot(device, 6, "article");

  // 5. A finger drawn up the page scrolls it; the article stays.
  const std::vector<DWORD> unscrolled = Band(device, main);
  const int x = (main.left + main.right) / 2, y = main.top + (main.bottom - main.top) * 3 / 4;
  ASSERT_TRUE(device.Drag(x, y, x, y - user.Px(80), 800));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Band(device, main) != unscrolled; }, 5000)) << "the page did not move";
  ASSERT_TRUE(user.Settled());
  EXPECT_EQ(CurrentArticleTitle(), "Story 1");
  Shot(device, 7, "article-scrolled");

  // 6. A swipe to the left: the next article.
  const int mid = main.top + (main.bottom - main.top) / 2;
  ASSERT_TRUE(device.Drag(main.right - user.Px(20), mid, main.right - user.Px(190), mid + 2, 150));
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return CurrentArticleTitle() == "Story 2"; }, 5000)) << CurrentArticleTitle();
  ASSERT_TRUE(user.Settled());
  Shot(device, 8, "next-article");

  // 7. Back twice: the article list, then the channels.
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return View() == DBV_ARTICLE_LIST; }, 10000)) << View();
  ASSERT_TRUE(user.Settled());
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(user.WaitForCaption(program, "Orv News")) << user.WindowList();
  EXPECT_EQ(View(), static_cast<DWORD>(DBV_CHANNEL_LIST));
  // The two articles opened are stored as read.
  const std::vector<std::string> opened{"Story 1", "Story 2"};
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return ReadTitles() == opened; }, 10000)) << ReadTitles().size();
  ASSERT_TRUE(user.Settled());
  Shot(device, 9, "channels-again");

  // 8. "Menu", "Options..."; the sheet's Done goes back to the channels.
  ASSERT_TRUE(device.Key("soft2"));
  auto menu = user.WaitForMenu();
  ASSERT_TRUE(menu.has_value()) << user.WindowList();
  ASSERT_TRUE(user.Settled());
  Shot(device, 10, "menu");
  const POINT options = user.MenuRow(*menu, 3);
  ASSERT_TRUE(device.Tap(options.x, options.y));
  ASSERT_TRUE(user.WaitForCaption(program, "Orv News Options")) << user.WindowList();
  ASSERT_TRUE(user.Settled());
  Shot(device, 11, "options");
  ASSERT_TRUE(device.Key("soft1"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !user.MainWindow(program, "Orv News Options").has_value(); }, 20000));
  ASSERT_TRUE(user.WaitForCaption(program, "Orv News"));
  EXPECT_EQ(View(), static_cast<DWORD>(DBV_CHANNEL_LIST));

  // 9. Home: the Today screen, whose item shows the channel's newest story.
  ASSERT_TRUE(device.Key("home"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return today.StartBarOnTop(); }, 20000)) << user.WindowList();
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return today.Shows(std::string("simple ") + kChannel + ": Story 0"); }, 30000));
  ASSERT_TRUE(user.Settled());
  Shot(device, 12, "today");

  // 10. The item's options: "List" on the view-style page, saved with done;
  // the list holds the three stories not read yet.
  ASSERT_NO_FATAL_FAILURE(today.OpenOptionsFromTheItem());
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return today.DoneShownNow(); })) << today.HostLog();
  ASSERT_NO_FATAL_FAILURE(today.ShowTab(2));
  {
    const auto sheet = today.Sheet();
    ASSERT_TRUE(sheet.has_value());
    ASSERT_NO_FATAL_FAILURE(today.Choose(sheet->right - user.Px(30), today.FirstRowY(*sheet), 1, 2));  // "List"
  }
  ASSERT_TRUE(user.Settled());
  Shot(device, 13, "today-options-list");
  const POINT done = today.DonePoint();
  ASSERT_TRUE(device.Tap(done.x, done.y));
  ASSERT_TRUE(today.SheetGone());
  EXPECT_EQ(orvtest::TodayScreen::TodayKey().GetDWORD(u"ViewStyle", 0), 1u);
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return today.Shows(std::string("list 3 ") + kChannel + ": Story 0"); }, 30000));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return today.StartBarOnTop(); }, 20000));
  ASSERT_TRUE(user.Settled());
  Shot(device, 14, "today-list");
  device.Stop(program);
}

// The device slows its animations down twentyfold ("AnimationDelay", a
// device setting, at its most), so the article list takes ten seconds to
// slide in over the channels, long enough to be seen mid-way on a busy
// machine. A tap on an article row of the part already in: the slide ends
// and that article opens, and nothing of the slide is drawn over it.
TEST(SlideInE2E, ATapOnAnArticleRowWhileTheListSlidesInOpensThatArticle) {
  orvtest::HttpTestServer server;
  server.Serve("/news.xml", StoriesFeed(5));
  ScreenDriver device(ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  DeviceUser user(device);
  ASSERT_TRUE(orvtest::InstallWithFeedChannels({{Utf8ToUtf16(kChannel), server.Url("/news.xml")}}));
  {
    CVORegistry shared(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Orv Software House\\Shared", true, true, KEY_ALL_ACCESS);
    ASSERT_TRUE(shared.SetDWORD(u"AnimationDelay", 20));
  }
  const pid_t program = user.StartMainProgram("Orv News");
  ASSERT_GT(program, 0);
  ASSERT_TRUE(device.Key("soft1"));  // "Update"
  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return LiveCount() == 5; }, 30000)) << LiveCount();
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
  ASSERT_TRUE(user.Settled());
  WindowLine main = *user.MainWindow(program, "Orv News");
  ASSERT_EQ(user.ListRows(main).size(), 1u);

  // The channel's row: the article list slides in from the right.
  ASSERT_TRUE(user.TapRow(main, 0));
  const int stripLeft = main.right - user.Px(90), stripRight = main.right - user.Px(4);
  // The slide under way: article rows have come in at the right while the
  // channel list still shows at the left.
  std::vector<std::pair<int, int>> incoming;
  ASSERT_TRUE(ScreenDriver::WaitUntil(
      [&] {
        return (incoming = user.ListRows(main, stripLeft, stripRight)).size() >= 3 &&
               user.ListRows(main, main.left + user.Px(2), main.left + user.Px(90)).size() == 1u;
      },
      10000))
      << "no screen showed the article rows coming in beside the channel list";
  EXPECT_FALSE(device.Screenshot("sliding-in").empty());
  // The window list says the main window's screen is not in place yet.
  const auto listed = [&] {
    const auto w = user.MainWindow(program);
    return w && w->animating;
  };
  EXPECT_TRUE(listed()) << "the slide under way is not listed";
  ASSERT_TRUE(device.Tap((stripLeft + stripRight) / 2, (incoming[1].first + incoming[1].second) / 2));

  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return View() == DBV_ARTICLE; }, 10000)) << View();
  EXPECT_EQ(CurrentArticleTitle(), "Story 1");
  // The article's light page shows, whole, at once and for good: nothing of
  // the slide's remaining seconds is drawn over it.
  const auto pageShown = [&] {
    const PixelImage screen = device.ComposedScreen();
    int light = 0, all = 0;
    for (int y = main.top + (main.bottom - main.top) / 3; y < main.bottom - user.Px(10); y += 7)
      for (int x = main.left + user.Px(2); x < main.right - user.Px(20); x += 5, ++all) {
        const DWORD p = screen.pixels[static_cast<std::size_t>(y) * screen.width + x];
        light += ((p >> 16) & 0xFF) > 200 && ((p >> 8) & 0xFF) > 200 && (p & 0xFF) > 200;
      }
    return light * 10 > all * 7;
  };
  ASSERT_TRUE(ScreenDriver::WaitUntil(pageShown, 3000)) << "the article did not show";
  EXPECT_FALSE(listed()) << "the slide the tap ended is still listed";
  EXPECT_TRUE(orvtest::StaysTrue(pageShown, 5000)) << "the slide drew over the article";
  EXPECT_FALSE(device.Screenshot("article-after-slide").empty());
  device.Stop(program);
}

INSTANTIATE_TEST_SUITE_P(Screens, JourneyE2E,
                         ::testing::Values(Screen{{240, 320, 96}, "240x320"}, Screen{{480, 640, 192}, "480x640"},
                                           Screen{{320, 240, 96}, "320x240"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
