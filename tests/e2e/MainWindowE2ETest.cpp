// The main window of the running program, played through the device screen:
// the channel list at both screen sizes, an update started from the menu bar
// whose articles appear in the article list, and the row pop-up's marking
// and deleting acting on the row that was held.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/RegisteredMessages.h"
#include "core/VORegistry.h"
#include "database/Article.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/ViewState.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/controls/MenuBar.h"
#include "platform/windows/Windows.h"
#include "resources/app/resource.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DeviceUser.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tools/device/DeviceInstall.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/LiveArticles.h"
#include "tests/support/UpdateLock.h"

namespace {

using orvtest::ScreenDriver;
using plat::display::WindowLine;

using orvtest::kHiddenClass;
using orvtest::StoredLiveArticles;
const std::string kProgram = orvtest::MainProgramPath();

// A feed of items dated an hour apart, the newest first, so the article list
// shows item i in row i.
std::string DatedFeed(const std::string& title, int items, const std::string& tag) {
  static const char* const kDates[] = {"Thu, 10 Dec 2026 09:00:00 GMT", "Thu, 10 Dec 2026 08:00:00 GMT",
                                       "Thu, 10 Dec 2026 07:00:00 GMT", "Thu, 10 Dec 2026 06:00:00 GMT",
                                       "Thu, 10 Dec 2026 05:00:00 GMT", "Thu, 10 Dec 2026 04:00:00 GMT"};
  return orvtest::RssFeed(
      title, std::min(items, 6), tag, [&](int i) { return tag + " " + std::to_string(i); },
      [](int i) { return std::string(kDates[i]); });
}

// What the device stores of one article, read as another program reads it.
struct StoredArticle {
  std::u16string title;
  bool read = false;
  bool deleted = false;
};

class MainWindowE2E : public ::testing::Test {
 protected:
  // The screen's pixels from row `top` to the window's foot.
  static std::vector<std::uint32_t> PixelsBelow(ScreenDriver& device, const WindowLine& window, int top) {
    const plat::PixelImage screen = device.ComposedScreen();
    std::vector<std::uint32_t> rows;
    for (int y = top; y < window.bottom && y < screen.height; ++y)
      for (int x = window.left; x < window.right && x < screen.width; ++x)
        rows.push_back(screen.pixels[static_cast<std::size_t>(y) * screen.width + x]);
    return rows;
  }
  // Waits until the screen below `top` is in place (a screen that slides in
  // has arrived: no transition runs and the pixels hold still), which are
  // left in *seen. The caller has first seen the window's caption name the
  // screen: the program names it once its transition has started.
  static bool Settled(ScreenDriver& device, const WindowLine& window, int top, std::vector<std::uint32_t>* seen) {
    if (!device.WaitForStillPart([&] { return PixelsBelow(device, window, top); })) return false;
    *seen = PixelsBelow(device, window, top);
    return true;
  }
  // Installs the program, makes the feed channels and starts the program;
  // false when its interface did not open.
  bool Start(ScreenDriver& device, const std::vector<std::pair<std::u16string, std::string>>& channels) {
    if (!orvtest::InstallWithFeedChannels(channels)) return false;
    program_ = orvtest::DeviceUser(device).StartMainProgram();
    return program_ > 0;
  }
  // The program's interface window (with that caption when given).
  std::optional<WindowLine> MainWindow(ScreenDriver& device, const std::string& title = "") {
    return orvtest::DeviceUser(device).MainWindow(program_, title);
  }
  // The program's window of that title across the screen's width: the main
  // window, also while a message box of the same title is over it.
  std::optional<WindowLine> FullWidthWindow(ScreenDriver& device, const std::string& title) {
    for (const WindowLine& w : device.Windows())
      if (w.pid == program_ && w.visible && w.title == title && w.left == 0 && w.right == device.Screen().width)
        return w;
    return std::nullopt;
  }
  std::optional<WindowLine> Find(ScreenDriver& device, const std::string& cls) {
    for (const WindowLine& w : device.Windows())
      if (w.pid == program_ && w.visible && w.cls == cls) return w;
    return std::nullopt;
  }
  // Ends the program through its exit request; its exit status.
  int Exit(ScreenDriver& device) { return orvtest::ExitMainProgram(device, program_); }
  static std::vector<StoredArticle> Stored(const std::u16string& channel) {
    std::vector<StoredArticle> out;
    CChannelSet set;
    if (!set.Open()) return out;
    IChannel* c = set.FindByName(channel);
    if (!c) return out;
    int user = 0;
    c->Acquire(&user);
    if (IArticleSet* articles = c->GetArticleSet()) {
      for (int i = 0; i < articles->GetCount(); ++i) {
        IArticle* a = articles->GetAt(i);
        out.push_back({a->GetTitle(), c->IsArticleRead(a), a->IsDeleted()});
      }
    }
    c->Release(&user, false);
    return out;
  }
  // The centre of list row i in the layout while nothing updates (96-dpi
  // units: the list starts at the window's top, where the progress form
  // shows during an update; rows are 40 (channels) or 48 (articles) high
  // plus a separator of 2).
  static plat::POINT RowCentre(const WindowLine& w, int scale, int rowHeight, int row) {
    return plat::POINT{(w.left + w.right) / 2, w.top + scale * (row * (rowHeight + 2) + rowHeight / 2)};
  }

  void ShowChannelList(const plat::ScreenSettings& screen, const std::string& shot);
  void ShowUnreadableChannel(const plat::ScreenSettings& screen, const std::string& shot);

  static plat::HWND Handle(const WindowLine& w) {
    return reinterpret_cast<plat::HWND>(static_cast<std::uintptr_t>(w.hwnd));
  }
  // A window of the program over the main window: a dialog or message box
  // (anything but the main window, its bars, menus and hidden window).
  std::optional<WindowLine> Over(ScreenDriver& device, const WindowLine& main) {
    for (const WindowLine& w : device.Windows()) {
      if (w.pid != program_ || !w.visible || w.hwnd == main.hwnd || w.cls == kHiddenClass ||
          w.cls == plat::Utf16ToUtf8(plat::kMenuBarClassName) || w.cls == "#32768" || w.right - w.left < 100)
        continue;
      return w;
    }
    return std::nullopt;
  }
  static plat::DWORD View() { return CDBViewState().GetCurrentView(); }
  // The screen named by the caption is in place: the main window shows the
  // caption (set once the screen and its slide have started), then no
  // transition runs and the screen holds still.
  bool Settled(ScreenDriver& device, const std::string& caption) {
    return ScreenDriver::WaitUntil([&] { return MainWindow(device, caption).has_value(); }, 20000) &&
           device.WaitForStillScreen();
  }
  // Starts an update of every channel with the channel list's left soft key
  // and waits until the channel holds its articles and the run has ended.
  void UpdateAllByKey(ScreenDriver& device, orvtest::HttpTestServer& server, const std::u16string& channel,
                      int articles) {
    ASSERT_TRUE(device.Key("soft1"));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(channel) == articles; }, 30000)) << StoredLiveArticles(channel);
    ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
  }

  pid_t program_ = -1;
};

// Two channels of a loopback server in the channel list, on one screen.
void MainWindowE2E::ShowChannelList(const plat::ScreenSettings& screenSettings, const std::string& shot) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", DatedFeed("Alpha", 4, "alpha"));
  server.Serve("/beta.xml", DatedFeed("Beta", 2, "beta"));
  ScreenDriver device(screenSettings);
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", server.Url("/alpha.xml")}, {u"Beta", server.Url("/beta.xml")}}));
  auto window = MainWindow(device, "Orv News");
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->left, 0);
  EXPECT_EQ(window->right, screenSettings.width);
  auto bar = Find(device, plat::Utf16ToUtf8(plat::kMenuBarClassName));
  ASSERT_TRUE(bar.has_value()) << "the soft-key bar";
  EXPECT_EQ(bar->bottom, screenSettings.height);
  EXPECT_EQ(bar->top, window->bottom) << "the window ends where the bar begins";
  // Each row is drawn: across its middle, its picture and title give more
  // colours than the backdrop between the rows.
  const int scale = screenSettings.dpi / 96;
  auto rowColours = [&](int row) {
    const plat::PixelImage screen = device.ComposedScreen();
    const plat::POINT centre = RowCentre(*window, scale, 40, row);
    std::set<std::uint32_t> colours;
    if (screen.width != screenSettings.width || centre.y >= screen.height) return colours;
    for (int x = window->left; x < window->right; ++x)
      colours.insert(screen.pixels[static_cast<std::size_t>(centre.y) * screen.width + x]);
    return colours;
  };
  for (int row = 0; row < 2; ++row) {
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return rowColours(row).size() > 3; }, 20000))
        << "row " << row << ": " << rowColours(row).size() << " colours";
  }
  EXPECT_FALSE(device.Screenshot(shot).empty());
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(MainWindowE2E, TheChannelListAt240x320) { ShowChannelList({240, 320, 96}, "channels-240x320"); }
TEST_F(MainWindowE2E, TheChannelListAt480x640) { ShowChannelList({480, 640, 192}, "channels-480x640"); }

// A finger dragged up a list longer than the screen scrolls it; the row it
// was pressed on does not open.
// A channel whose file cannot be read: once the channel list shows, a
// message names it; its default answer (Yes) sets the file aside, kept.
void MainWindowE2E::ShowUnreadableChannel(const plat::ScreenSettings& screenSettings, const std::string& shot) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", DatedFeed("Alpha", 2, "alpha"));
  ScreenDriver device(screenSettings);
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(orvtest::InstallWithFeedChannels({{u"Alpha", server.Url("/alpha.xml")}}));
  std::u16string lost;
  {
    CChannelSet set;
    ASSERT_TRUE(set.Open());
    lost = CombinePath(GetGlobalOptions().GetContentFolder(), u"Lost.cnl");
  }
  orvtest::WriteHostFile(plat::HostPathFromDevicePath(lost), "XXXX not a channel");
  program_ = orvtest::DeviceUser(device).StartMainProgram();
  ASSERT_GT(program_, 0);
  // The message may show before the main window is looked for: it is on top
  // and has the program's title too.
  std::optional<WindowLine> window;
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return (window = FullWidthWindow(device, "Orv News")).has_value(); }, 20000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Over(device, *window).has_value(); }, 30000))
      << "no message about the channel that cannot be read";
  const WindowLine box = *Over(device, *window);
  EXPECT_EQ(box.title, "Orv News");
  ASSERT_TRUE(Settled(device, "Orv News"));
  EXPECT_FALSE(device.Screenshot(shot).empty());
  ASSERT_TRUE(device.Key("return"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !Over(device, *window).has_value(); }, 10000));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return FileExists(lost + u".damaged"); }, 10000));
  EXPECT_FALSE(FileExists(lost));
  EXPECT_EQ(orvtest::ReadHostFile(plat::HostPathFromDevicePath(lost + u".damaged")), "XXXX not a channel");
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(MainWindowE2E, AChannelThatCannotBeReadIsNamedAt240x320) {
  ShowUnreadableChannel({240, 320, 96}, "unreadable-channel-240x320");
}
TEST_F(MainWindowE2E, AChannelThatCannotBeReadIsNamedAt480x640) {
  ShowUnreadableChannel({480, 640, 192}, "unreadable-channel-480x640");
}

TEST_F(MainWindowE2E, AFingerDraggedUpTheChannelListScrollsItAndOpensNothing) {
  orvtest::HttpTestServer server;
  std::vector<std::pair<std::u16string, std::string>> channels;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "Channel " + std::string(i < 10 ? "0" : "") + std::to_string(i);
    channels.push_back({plat::Utf8ToUtf16(name), server.Url("/" + std::to_string(i) + ".xml")});
  }
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, channels));
  auto window = MainWindow(device, "Orv News");
  ASSERT_TRUE(window.has_value());
  // The list's pixels between the top of the first row and the window's foot.
  const int listTop = window->top;
  auto listPixels = [&] { return PixelsBelow(device, *window, listTop); };
  std::vector<std::uint32_t> before;
  ASSERT_TRUE(Settled(device, *window, listTop, &before));

  const plat::POINT from = RowCentre(*window, 1, 40, 4);
  ASSERT_TRUE(device.Drag(from.x, from.y, from.x, from.y - 4 * 42, 400));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return listPixels() != before; }, 5000)) << "the list did not move";
  device.Screenshot("channels-dragged");
  // Nothing opened: the window keeps the program's title.
  EXPECT_FALSE(ScreenDriver::WaitUntil([&] { return !MainWindow(device, "Orv News").has_value(); }, 1500));
  EXPECT_EQ(CDBViewState().GetCurrentView(), static_cast<plat::DWORD>(DBV_CHANNEL_LIST));
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(MainWindowE2E, UpdatedFromTheMenuItsArticlesAppearAndThePopUpActsOnTheHeldRow) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", DatedFeed("Alpha", 5, "alpha"));
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", server.Url("/alpha.xml")}}));
  auto window = MainWindow(device, "Orv News");
  ASSERT_TRUE(window.has_value());
  auto bar = Find(device, plat::Utf16ToUtf8(plat::kMenuBarClassName));
  ASSERT_TRUE(bar.has_value());

  // The left soft key of the channel list: "Update".
  ASSERT_TRUE(device.Tap(bar->left + (bar->right - bar->left) / 4, (bar->top + bar->bottom) / 2));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/alpha.xml") > 0; }, 30000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"Alpha") == 5; }, 30000)) << StoredLiveArticles(u"Alpha");
  // The end of the run takes its update lock away.
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
  device.Screenshot("channels-updated");

  // The channel's row opens its article list, captioned with its name.
  const plat::POINT channelRow = RowCentre(*window, 1, 40, 0);
  ASSERT_TRUE(device.Tap(channelRow.x, channelRow.y));
  const bool opened = ScreenDriver::WaitUntil([&] { return MainWindow(device, "Alpha").has_value(); }, 20000);
  device.Screenshot("articles");
  if (!opened) {
    for (const WindowLine& w : device.Windows()) ADD_FAILURE() << w.cls << " '" << w.title << "'";
  }
  ASSERT_TRUE(opened);

  // Hold row 1: its pop-up's first item marks it read ("Mark as Read"). The
  // hold comes once the list has settled: the screen that slides in from the
  // channel list has arrived, as a person sees it before holding a row.
  auto holdAndChoose = [&](int row, int item) {
    const plat::POINT p = RowCentre(*window, 1, 48, row);
    std::vector<std::uint32_t> settled;
    ASSERT_TRUE(Settled(device, *window, window->top, &settled)) << "the article list did not settle";
    EXPECT_TRUE(device.Hold(p.x, p.y, 1200));
    std::optional<WindowLine> menu;
    if (!ScreenDriver::WaitUntil([&] { return (menu = Find(device, "#32768")).has_value(); }, 10000)) {
      ADD_FAILURE() << "no pop-up menu for row " << row;
      return;
    }
    device.Screenshot("popup-row-" + std::to_string(row));
    EXPECT_TRUE(device.Tap((menu->left + menu->right) / 2, menu->top + 1 + item * 24 + 12));
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return !Find(device, "#32768").has_value(); }, 10000));
  };
  holdAndChoose(1, 0);
  // Hold row 3: "Delete" is the second item.
  holdAndChoose(3, 1);
  device.Screenshot("articles-after-popups");

  // What the program stored once it ended.
  ASSERT_EQ(Exit(device), 0);
  // A deleted article stays as a tombstone without its text.
  const std::vector<StoredArticle> stored = Stored(u"Alpha");
  ASSERT_EQ(stored.size(), 5u);
  std::vector<std::string> live, read;
  int deleted = 0;
  for (const StoredArticle& a : stored) {
    if (a.deleted) {
      ++deleted;
      continue;
    }
    live.push_back(plat::Utf16ToUtf8(a.title));
    if (a.read) read.push_back(live.back());
  }
  std::sort(live.begin(), live.end());
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(live, (std::vector<std::string>{"alpha 0", "alpha 1", "alpha 2", "alpha 4"}));
  EXPECT_EQ(read, (std::vector<std::string>{"alpha 1"}));
}

// The Back key is one step back for each press (the bar reports its press
// and its release), also when it is held: from an article to its list, from
// the list to the channels, and from the channels it closes the program.
TEST_F(MainWindowE2E, EachPressOfBackGoesBackOneScreenAndFromTheChannelsEndsTheProgram) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", DatedFeed("Alpha", 3, "alpha"));
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", server.Url("/alpha.xml")}}));
  auto window = MainWindow(device, "Orv News");
  ASSERT_TRUE(window.has_value());
  UpdateAllByKey(device, server, u"Alpha", 3);

  const plat::POINT channelRow = RowCentre(*window, 1, 40, 0);
  ASSERT_TRUE(device.Tap(channelRow.x, channelRow.y));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Alpha").has_value(); }, 20000));
  const plat::POINT articleRow0 = RowCentre(*window, 1, 48, 0), articleRow1 = RowCentre(*window, 1, 48, 1);
  // Which screen shows: the lists lie on a dark backdrop, the article on a
  // light page (looked at beside the rows' pictures, at the left edge).
  auto dark = [&] {
    const plat::PixelImage screen = device.ComposedScreen();
    const int y = RowCentre(*window, 1, 48, 3).y;  // below the three rows
    if (screen.width <= window->left + 2 || y >= screen.height) return false;
    const std::uint32_t p = screen.pixels[static_cast<std::size_t>(y) * screen.width + window->left + 2];
    return ((p >> 16) & 0xFF) < 100 && ((p >> 8) & 0xFF) < 100 && (p & 0xFF) < 100;
  };
  auto listShown = [&](plat::DWORD view) { return View() == view && dark(); };
  auto articleShown = [&] { return View() == DBV_ARTICLE && !dark(); };
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return listShown(DBV_ARTICLE_LIST); }, 10000));
  ASSERT_TRUE(Settled(device, "Alpha"));
  ASSERT_TRUE(device.Tap(articleRow0.x, articleRow0.y));
  ASSERT_TRUE(ScreenDriver::WaitUntil(articleShown, 10000)) << "view " << View();

  // From the article: its list, and there it stays. A tap on the list's
  // second row opens that article, which it would not from the channels
  // (the list holds one channel).
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return listShown(DBV_ARTICLE_LIST); }, 10000));
  ASSERT_TRUE(Settled(device, "Alpha"));
  ASSERT_TRUE(device.Tap(articleRow1.x, articleRow1.y));
  EXPECT_TRUE(ScreenDriver::WaitUntil(articleShown, 10000)) << "view " << View();
  device.Screenshot("back-article-again");

  // Back held down (the desktop repeats the key) is one step back: the list,
  // where a tap on the first row opens that article.
  ASSERT_TRUE(device.Ok("key back down"));
  for (int repeat = 0; repeat < 5; ++repeat) ASSERT_TRUE(device.Ok("key back down"));
  ASSERT_TRUE(device.Ok("key back up"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return listShown(DBV_ARTICLE_LIST); }, 10000));
  ASSERT_TRUE(Settled(device, "Alpha"));
  ASSERT_TRUE(device.Tap(articleRow0.x, articleRow0.y));
  EXPECT_TRUE(ScreenDriver::WaitUntil(articleShown, 10000)) << "view " << View();
  device.Screenshot("held-back-article-again");

  // From the article, twice: the channels, and the program runs on (a tap
  // on the channel opens it again).
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return listShown(DBV_ARTICLE_LIST); }, 10000));
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Orv News").has_value(); }, 10000));
  EXPECT_EQ(View(), static_cast<plat::DWORD>(DBV_CHANNEL_LIST));
  ASSERT_TRUE(Settled(device, "Orv News"));
  ASSERT_TRUE(device.Tap(channelRow.x, channelRow.y));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Alpha").has_value(); }, 10000))
      << "the program ended or missed the tap";
  device.Screenshot("back-articles-again");

  // From the channels, Back closes the interface and so the program.
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Orv News").has_value(); }, 10000));
  ASSERT_TRUE(device.Key("back"));
  EXPECT_EQ(device.WaitExit(program_, 30000), 0);
}

// The row a person holds in the channel list becomes the chosen one and
// stays so: after the held row's own update (its progress band coming and
// going shows the list again) the highlight is on that row, not on the
// channel opened before, and the list starts at the window's top again.
TEST_F(MainWindowE2E, TheHeldChannelStaysChosenThroughItsOwnUpdate) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", DatedFeed("Alpha", 2, "alpha"));
  server.Serve("/beta.xml", DatedFeed("Beta", 2, "beta"));
  server.Serve("/gamma.xml", DatedFeed("Gamma", 3, "gamma"));
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", server.Url("/alpha.xml")},
                             {u"Beta", server.Url("/beta.xml")},
                             {u"Gamma", server.Url("/gamma.xml")}}));
  auto window = MainWindow(device, "Orv News");
  ASSERT_TRUE(window.has_value());
  // Alpha opened and left with Back: the channel opened last is Alpha.
  const plat::POINT alpha = RowCentre(*window, 1, 40, 0);
  ASSERT_TRUE(Settled(device, "Orv News"));
  ASSERT_TRUE(device.Tap(alpha.x, alpha.y));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Alpha").has_value(); }, 20000));
  ASSERT_TRUE(Settled(device, "Alpha"));
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Orv News").has_value(); }, 10000));
  ASSERT_TRUE(Settled(device, "Orv News"));

  // The mean brightness across the middle of row i: the chosen row is
  // drawn light on the dark list.
  auto brightness = [&](int row) {
    const plat::PixelImage screen = device.ComposedScreen();
    const int y = RowCentre(*window, 1, 40, row).y;
    long sum = 0, n = 0;
    for (int x = window->left; x < window->right && y < screen.height; ++x, ++n) {
      const std::uint32_t p = screen.pixels[static_cast<std::size_t>(y) * screen.width + x];
      sum += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
    }
    return n ? static_cast<int>(sum / (3 * n)) : 0;
  };
  auto chosen = [&](int row) {
    for (int other = 0; other < 3; ++other)
      if (other != row && brightness(row) < brightness(other) + 30) return false;
    return true;
  };
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return chosen(0); }, 10000))
      << brightness(0) << " " << brightness(1) << " " << brightness(2);

  // Gamma held; its pop-up's first item: "Update".
  const plat::POINT gamma = RowCentre(*window, 1, 40, 2);
  ASSERT_TRUE(device.Hold(gamma.x, gamma.y, 1200));
  std::optional<WindowLine> menu;
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return (menu = Find(device, "#32768")).has_value(); }, 10000));
  ASSERT_TRUE(device.Tap((menu->left + menu->right) / 2, menu->top + 1 + 12));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"Gamma") == 3; }, 30000)) << StoredLiveArticles(u"Gamma");
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
  ASSERT_TRUE(Settled(device, "Orv News"));
  device.Screenshot("held-row-after-its-update");
  EXPECT_TRUE(chosen(2)) << brightness(0) << " " << brightness(1) << " " << brightness(2);
  EXPECT_EQ(CDBViewState().GetCurrentChannelName(), u"Gamma");
  EXPECT_EQ(server.RequestCount("/alpha.xml"), 0) << "only the held channel was updated";
  EXPECT_EQ(Exit(device), 0);
}

// After a dialog or a message box closes, the keys reach the main window
// again: the arrows move in the list, Enter opens, the soft keys act.
TEST_F(MainWindowE2E, KeysReachTheMainWindowAfterADialogOrAMessageBoxCloses) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", DatedFeed("Alpha", 2, "alpha"));
  server.Serve("/beta.xml", DatedFeed("Beta", 2, "beta"));
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Alpha", server.Url("/alpha.xml")}, {u"Beta", server.Url("/beta.xml")}}));
  auto window = MainWindow(device, "Orv News");
  ASSERT_TRUE(window.has_value());
  const plat::HWND main = Handle(*window);

  // The About box, ended with its Done soft key.
  plat::PostMessageW(main, plat::WM_COMMAND, ID_ABOUT, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Over(device, *window).has_value(); }, 20000));
  device.Screenshot("keys-about");
  ASSERT_TRUE(device.Key("soft1"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !Over(device, *window).has_value(); }, 20000));
  // Down to the second channel, Enter opens it.
  ASSERT_TRUE(device.Key("down"));
  ASSERT_TRUE(device.Key("enter"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Beta").has_value(); }, 10000))
      << "the keys did not reach the list after the About box";
  // The left soft key of the article list is Back.
  ASSERT_TRUE(Settled(device, "Beta"));
  ASSERT_TRUE(device.Key("soft1"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Orv News").has_value(); }, 10000));

  // A question, answered No with a tap on its button.
  plat::PostMessageW(main, plat::WM_COMMAND, ID_MARK_ALL_READ, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Over(device, *window).has_value(); }, 20000));
  const WindowLine box = *Over(device, *window);
  ASSERT_TRUE(Settled(device, "Orv News"));
  device.Screenshot("keys-messagebox");
  const plat::MessageBoxGeometry geo = plat::LayOutMessageBox(u"", plat::MB_YESNO | plat::MB_ICONQUESTION);
  const int buttonWidth = (box.right - box.left - 3 * geo.pad) / 2;
  ASSERT_TRUE(device.Tap(box.left + 2 * geo.pad + buttonWidth + buttonWidth / 2,
                         box.bottom - geo.pad - geo.buttonHeight / 2));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !Over(device, *window).has_value(); }, 20000));
  // Up to the first channel (Beta was current), Enter opens it.
  ASSERT_TRUE(device.Key("up"));
  ASSERT_TRUE(device.Key("enter"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Alpha").has_value(); }, 10000))
      << "the keys did not reach the list after the message box";
  EXPECT_EQ(Exit(device), 0);
}

// A channel the user updates by itself whose feed is missing: a message
// names the channel and says why, and its row shows the failure (its title
// in red) once the message is gone.
TEST_F(MainWindowE2E, AChannelUpdatedByHandThatFailsSaysWhyAndItsRowShowsIt) {
  orvtest::HttpTestServer server;  // serves nothing: every feed is 404
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, {{u"Gone", server.Url("/gone.xml")}}));
  auto window = MainWindow(device, "Orv News");
  ASSERT_TRUE(window.has_value());
  // The red pixels of row 0's title (right of its picture: the feed icon is
  // orange).
  auto redPixels = [&] {
    const plat::PixelImage screen = device.ComposedScreen();
    const plat::POINT centre = RowCentre(*window, 1, 40, 0);
    int red = 0;
    for (int y = centre.y - 8; y <= centre.y + 8 && y < screen.height; ++y)
      for (int x = window->left + 40; x < window->right - 40 && x < screen.width; ++x) {
        const std::uint32_t p = screen.pixels[static_cast<std::size_t>(y) * screen.width + x];
        const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        red += r > 200 && r - g > 70 && r - b > 70;
      }
    return red;
  };
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return MainWindow(device, "Orv News").has_value(); }, 10000));
  EXPECT_EQ(redPixels(), 0) << "no failure before the update";

  // Its row's pop-up: "Update" is the first item.
  const plat::POINT row = RowCentre(*window, 1, 40, 0);
  ASSERT_TRUE(device.Hold(row.x, row.y, 1200));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Find(device, "#32768").has_value(); }, 10000));
  const WindowLine menu = *Find(device, "#32768");
  ASSERT_TRUE(device.Tap((menu.left + menu.right) / 2, menu.top + 1 + 12));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/gone.xml") > 0; }, 30000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Over(device, *window).has_value(); }, 30000))
      << "no message about the failed update";
  const WindowLine box = *Over(device, *window);
  EXPECT_EQ(box.title, "Orv News");
  ASSERT_TRUE(Settled(device, "Orv News"));
  device.Screenshot("failed-update-message");
  // Its one button: OK.
  const plat::MessageBoxGeometry geo = plat::LayOutMessageBox(u"", plat::MB_OK | plat::MB_ICONEXCLAMATION);
  ASSERT_TRUE(device.Tap((box.left + box.right) / 2, box.bottom - geo.pad - geo.buttonHeight / 2));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !Over(device, *window).has_value(); }, 10000));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return redPixels() > 20; }, 10000)) << redPixels();
  device.Screenshot("failed-update-row");
  EXPECT_EQ(Exit(device), 0);
}

}  // namespace
