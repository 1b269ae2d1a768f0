// The Today item on the device's home screen: the Today screen host loads it
// beside the main program, on a device installed by the main program's own
// install step, with feeds from the loopback test server. What the item shows
// is read from the device's debug log (switched on by "DeveloperMode"), where
// the item notes each article or list it shows, and from screenshots.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/RegisteredMessages.h"
#include "core/ProcessGlobals.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/NotifyToday.h"
#include "database/TodayChannelFilter.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/windows/Windows.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/ImagingTestFiles.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tests/support/TodayScreen.h"
#include "tools/device/DeviceInstall.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/UpdateLock.h"

namespace {

using orvtest::ScreenDriver;
using plat::display::WindowLine;
using namespace plat;

using orvtest::kHiddenClass;
constexpr const char* kDesktopClass = "DesktopExplorerWindow";
const std::string kProgram = orvtest::MainProgramPath();

// A feed whose first item is the newest.
std::string Feed(const std::string& title, int items, const std::string& tag, int hour = 10) {
  return orvtest::RssFeed(
      title, items, tag, [&](int i) { return tag + " headline " + std::to_string(i); },
      [hour](int i) {
        char date[64];
        std::snprintf(date, sizeof date, "Mon, 07 Dec 2026 %02d:%02d:00 GMT", hour, 50 - i);
        return std::string(date);
      });
}

class TodayE2E : public ::testing::Test {
 protected:

  // The product installed as the Today screen's tests need it (the debug
  // log on, the shown article held still), with the item's view style.
  void Start(ScreenDriver& device, DWORD viewStyle) {
    ASSERT_NO_FATAL_FAILURE(orvtest::TodayScreen(device).Install());
    ASSERT_TRUE(TodayKey().SetDWORD(u"ViewStyle", viewStyle));
    hostLog_ = device.Device().Scratch() + "/host.log";
    today_.emplace(device);
  }
  // The Today screen host, once its item's window exists.
  pid_t StartHost(ScreenDriver&) {
    const pid_t host = today_->StartHost();
    EXPECT_GT(host, 0) << "the host or its item did not start\n" << HostLog();
    return host;
  }
  std::string HostLog() const { return today_->HostLog(); }
  // The item noted this line in the debug log.
  bool Shows(const std::string& what) const { return today_->Shows(what); }
  // Where the host puts the item: under the desktop's date line, screen wide.
  static POINT ItemPoint(ScreenDriver& device, int x, int y) { return orvtest::TodayScreen(device).ItemPoint(x, y); }

  // The item's band of the composed screen.
  static std::vector<DWORD> ItemBand(ScreenDriver& device) {
    const PixelImage screen = device.ComposedScreen();
    const POINT top = ItemPoint(device, 0, 0);
    const int rows = 30 * device.Screen().dpi / 96;
    std::vector<DWORD> band;
    for (int y = top.y; y < std::min(screen.height, static_cast<int>(top.y) + rows); ++y)
      for (int x = 0; x < screen.width; ++x) band.push_back(screen.pixels[static_cast<std::size_t>(y) * screen.width + x]);
    return band;
  }
  // The item noted what it painted; the screenshot waits until the screen
  // shows something else than before.
  static void ShotAfterChange(ScreenDriver& device, const std::vector<DWORD>& before, const std::string& name) {
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return ItemBand(device) != before; }, 10000)) << name;
    device.Screenshot(name);
  }

  // Programs the item started are not the driver's: they are ended here.
  static void EndProgramsOf(ScreenDriver& device, const std::string& cls) {
    for (const auto& w : device.Windows())
      if (w.cls == cls && w.pid > 0) ::kill(w.pid, SIGTERM);
  }

  // ---- The options program, as the user meets it --------------------------------
  static int Px(ScreenDriver& device, int v) { return (v * device.Screen().dpi + 48) / 96; }
  static std::optional<WindowLine> Visible(ScreenDriver& device, const std::string& cls,
                                           const std::string& title = "") {
    for (const WindowLine& w : device.Windows())
      if (w.visible && w.cls == cls && (title.empty() || w.title == title) && w.right > w.left) return w;
    return std::nullopt;
  }
  static std::string WindowList(ScreenDriver& device) {
    std::string text;
    for (const WindowLine& w : device.Windows())
      text += "  " + w.cls + " \"" + w.title + "\" " + std::to_string(w.left) + "," + std::to_string(w.top) + "-" +
              std::to_string(w.right) + "," + std::to_string(w.bottom) + (w.visible ? " shown" : "") + "\n";
    return text;
  }
  static std::optional<WindowLine> Sheet(ScreenDriver& device) { return Visible(device, "#32770", "Orv Brevant Today"); }
  static bool WaitVisible(ScreenDriver& device, const std::string& cls, bool shown) {
    return ScreenDriver::WaitUntil([&] { return Visible(device, cls).has_value() == shown; }, 20000);
  }
  // Waits until the composed screen differs from before.
  static bool Changed(ScreenDriver& device, const std::vector<DWORD>& before) {
    return ScreenDriver::WaitUntil([&] { return device.ComposedScreen().pixels != before; }, 10000);
  }
  static bool TapAndSee(ScreenDriver& device, int x, int y) {
    const std::vector<DWORD> before = device.ComposedScreen().pixels;
    return device.Tap(x, y) && Changed(device, before);
  }
  // Row i of a pop-up menu (24 px a row at 96 dpi inside a 1-px frame).
  static POINT MenuRow(ScreenDriver& device, const WindowLine& menu, int row) {
    return POINT{(menu.left + menu.right) / 2, menu.top + Px(device, 1) + row * Px(device, 24) + Px(device, 12)};
  }
  // The sheet's tabs along its foot: where this process's tab control puts
  // the same three tabs across the same width.
  static POINT Tab(ScreenDriver& device, const WindowLine& sheet, int index) {
    return orvtest::TodayScreen(device).Tab(sheet, index);
  }
  // The first row of a page: 6 px at 96 dpi below the sheet's top.
  static int FirstRowY(ScreenDriver& device, const WindowLine& sheet) { return sheet.top + Px(device, 6) + Px(device, 8); }
  // "ok" at the right of the device's top bar.
  static POINT DonePoint(ScreenDriver& device) { return orvtest::TodayScreen(device).DonePoint(); }
  // The top bar offers "ok" for the sheet shown now.
  bool DoneShownNow(ScreenDriver& device) const { return orvtest::TodayScreen(device).DoneShownNow(); }
  // The Today screen's Start bar is the topmost window at its place.
  static bool StartBarOnTop(ScreenDriver& device) { return orvtest::TodayScreen(device).StartBarOnTop(); }
  // Picks row `row` of the combo whose field is at (x, y): the drop list opens, the row is tapped.
  static void Choose(ScreenDriver& device, int x, int y, int row, int rows) {
    ASSERT_TRUE(device.Tap(x, y));
    ASSERT_TRUE(WaitVisible(device, "ComboLBox", true)) << WindowList(device);
    const auto list = Visible(device, "ComboLBox");
    ASSERT_TRUE(list.has_value());
    const int h = list->bottom - list->top;
    ASSERT_TRUE(device.Tap((list->left + list->right) / 2, list->top + h * (2 * row + 1) / (2 * rows)));
    ASSERT_TRUE(WaitVisible(device, "ComboLBox", false));
  }
  // Opens the options program from the item: tap and hold, "Options...".
  void OpenOptionsFromTheItem(ScreenDriver& device, const std::string& shot) {
    const POINT at = ItemPoint(device, 100, 8);
    ASSERT_TRUE(device.Hold(at.x, at.y, 1200));
    ASSERT_TRUE(WaitVisible(device, "#32768", true));
    if (!shot.empty()) device.Screenshot(shot);
    const auto menu = Visible(device, "#32768");
    ASSERT_TRUE(menu.has_value());
    const POINT options = MenuRow(device, *menu, 1);
    ASSERT_TRUE(device.Tap(options.x, options.y));
    ASSERT_TRUE(orvtest::TodayScreen(device).SheetShown()) << WindowList(device);
  }
  void OpenOptionsFromTheHost(ScreenDriver& device) {
    auto desktop = device.WaitForWindow(kDesktopClass);
    ASSERT_TRUE(desktop.has_value());
    ASSERT_TRUE(device.Tap(desktop->right - Px(device, 20), desktop->bottom - Px(device, 10)));
    ASSERT_TRUE(orvtest::TodayScreen(device).SheetShown()) << WindowList(device);
  }
  // The page area of the sheet (above its tabs), as the screen shows it.
  static std::vector<DWORD> PageArea(ScreenDriver& device, const WindowLine& sheet) {
    return orvtest::TodayScreen(device).PageArea(sheet);
  }
  // A tab tapped: the next taps wait until its page shows (made and laid
  // out), not only the tab's own highlight.
  static void ShowTab(ScreenDriver& device, int index) { orvtest::TodayScreen(device).ShowTab(index); }
  // The font page's check box "Use standard Today items font".
  static void ToggleStandardFont(ScreenDriver& device) {
    const auto sheet = Sheet(device);
    ASSERT_TRUE(sheet.has_value()) << WindowList(device);
    ASSERT_TRUE(TapAndSee(device, sheet->left + Px(device, 14), FirstRowY(device, *sheet)));
  }
  // The options program's own menu bar (the main program has one too).
  static std::optional<WindowLine> SheetMenuBar(ScreenDriver& device) {
    std::optional<WindowLine> found;
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] {
      const auto sheet = Sheet(device);
      if (!sheet) return false;
      for (const WindowLine& w : device.Windows())
        if (w.visible && w.pid == sheet->pid && w.cls == Utf16ToUtf8(kMenuBarClassName)) found = w;
      return found.has_value();
    }));
    return found;
  }
  static bool SheetGone(ScreenDriver& device) { return orvtest::TodayScreen(device).SheetGone(); }
  // The main program started and updating, the host started: once the item
  // shows `what`, Home brings the Today screen in front of the program.
  void ShowUpdatedItem(ScreenDriver& device, const std::string& what, pid_t& program) {
    program = device.Launch(kProgram, {});
    ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000));
    StartHost(device);
    ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows(what); }, 30000));
    ASSERT_TRUE(device.Key("home"));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return StartBarOnTop(device); }, 20000));
  }
  static CVORegistry TodayKey() { return orvtest::TodayScreen::TodayKey(); }

  // The rows of a page whose left edge shows something (a label's first
  // letter, a check box's square), top first, as y ranges on the screen:
  // what a person sees down the left margin of the page.
  static std::vector<std::pair<int, int>> LeftEdgeRows(ScreenDriver& device, const WindowLine& sheet) {
    const PixelImage screen = device.ComposedScreen();
    const int x0 = sheet.left + Px(device, 7), x1 = sheet.left + Px(device, 17), margin = sheet.left + Px(device, 2);
    std::vector<std::pair<int, int>> rows;
    bool inRow = false;
    for (int y = std::max(0, sheet.top); y < std::min(screen.height, sheet.bottom - Px(device, 40)); ++y) {
      const DWORD* line = &screen.pixels[static_cast<std::size_t>(y) * screen.width];
      bool ink = false;
      for (int x = x0; x < x1 && !ink; ++x) ink = line[x] != line[margin];
      if (ink && !inRow) rows.emplace_back(y, y);
      if (ink) rows.back().second = y;
      inRow = ink;
    }
    return rows;
  }
  // Pixels of the screen within a few steps of the colour (0xRRGGBB), with
  // the box that holds them.
  struct ColourPatch {
    int count = 0;
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  };
  static ColourPatch FindColour(const PixelImage& screen, DWORD colour) {
    ColourPatch patch{0, screen.width, screen.height, 0, 0};
    auto near = [](DWORD a, DWORD b, int shift) {
      return std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) <= 8;
    };
    for (int y = 0; y < screen.height; ++y)
      for (int x = 0; x < screen.width; ++x) {
        const DWORD p = screen.pixels[static_cast<std::size_t>(y) * screen.width + x];
        if (!near(p, colour, 0) || !near(p, colour, 8) || !near(p, colour, 16)) continue;
        ++patch.count;
        patch.left = std::min(patch.left, x);
        patch.top = std::min(patch.top, y);
        patch.right = std::max(patch.right, x + 1);
        patch.bottom = std::max(patch.bottom, y + 1);
      }
    return patch;
  }

  std::string hostLog_;
  std::optional<orvtest::TodayScreen> today_;
};

TEST_F(TodayE2E, UpdateInTheMainProgramShowsItsNewestArticle) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed("Alpha", 4, "alpha"));
  ScreenDriver device(ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Alpha", server.Url("/alpha.xml")}}));
  StartHost(device);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple status 4"); }, 20000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !ItemBand(device).empty(); }));
  device.Screenshot("simple-empty-240x320");
  const std::vector<DWORD> empty = ItemBand(device);

  const pid_t program = device.Launch(kProgram, {});
  ASSERT_GT(program, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000));
  ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
  // The headers' save notifies the item, which reads the channel again (at
  // most a second later) and shows the newest article.
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple Alpha: alpha headline 0"); }, 30000));
  ShotAfterChange(device, empty, "simple-240x320");
}

// The main program started before the Today screen: its window fills the
// screen down to its menu bar. The Start bar that comes with the Today
// screen takes the top of the screen, and the window moves below it.
TEST_F(TodayE2E, MainWindowMovesBelowTheStartBarThatComesLater) {
  ScreenDriver device(ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  const pid_t program = device.Launch(kProgram, {});
  ASSERT_GT(program, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000));
  auto mainWindow = [&]() -> std::optional<WindowLine> {
    for (const WindowLine& w : device.Windows())
      if (w.pid == program && w.visible && w.cls == "#32770" && w.title == "Orv News") return w;
    return std::nullopt;
  };
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return mainWindow().has_value(); }, 20000)) << WindowList(device);
  const WindowLine before = *mainWindow();
  EXPECT_EQ(before.top, 0) << WindowList(device);
  device.Screenshot("main-before-start-bar");

  StartHost(device);
  const auto bar = Visible(device, "HHTaskBar");
  ASSERT_TRUE(bar.has_value()) << WindowList(device);
  ASSERT_GT(bar->bottom, 0);
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] {
    const auto w = mainWindow();
    return w && w->top == bar->bottom;
  })) << WindowList(device);
  const auto after = mainWindow();
  ASSERT_TRUE(after.has_value());
  // Still as wide as the screen, and its foot stays above the menu bar.
  EXPECT_EQ(after->left, before.left);
  EXPECT_EQ(after->right, before.right);
  EXPECT_EQ(after->bottom, before.bottom);
  device.Screenshot("main-below-start-bar");
}

TEST_F(TodayE2E, TapOnTheArticleStartsTheMainProgramOnIt) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed("Alpha", 3, "alpha"));
  ScreenDriver device(ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Alpha", server.Url("/alpha.xml")}}));
  // The articles are stored by an update of a first run of the main program.
  {
    const pid_t program = device.Launch(kProgram, {});
    ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000));
    ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/alpha.xml") > 0; }, 20000));
    ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
    device.Stop(program);
    ASSERT_TRUE(ScreenDriver::WaitUntil([] { return orvtest::MainHiddenWindow() == nullptr; }, 20000));
  }
  StartHost(device);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple status 2"); }, 30000));
  const std::vector<DWORD> loading = ItemBand(device);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple Alpha: alpha headline 0"); }, 30000));
  ShotAfterChange(device, loading, "simple-480x640");
  OpenSettingsKey().SetDWORD(u"DBViewState.CurrentView", 0);

  // A tap in the middle of the article: the starter starts the main program
  // and sends it to that article.
  const POINT tap = ItemPoint(device, 100, 8);
  ASSERT_TRUE(device.Tap(tap.x, tap.y));
  ASSERT_TRUE(device.WaitForWindow(kHiddenClass, 30000).has_value());
  EXPECT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000));
  CVORegistry key = OpenSettingsKey();
  EXPECT_EQ(key.GetDWORD(u"DBViewState.CurrentView", 0), 2u);
  EXPECT_EQ(key.GetString(u"DBViewState.CurrentChannelName", u""), u"Alpha");
  EXPECT_FALSE(key.GetString(u"DBViewState.CurrentArticleID", u"").empty());
  // The main program is brought forward: its main window (not only its
  // soft-key bar) lies above the Today screen.
  const auto mainAboveToday = [&] {
    const auto windows = device.Windows();
    pid_t mainPid = -1;
    for (const auto& w : windows)
      if (w.cls == kHiddenClass) mainPid = w.pid;
    for (const auto& w : windows) {  // topmost first
      if (!w.visible) continue;
      if (w.pid == mainPid && w.cls == "#32770") return true;
      if (w.cls == "DesktopExplorerWindow") return false;
    }
    return false;
  };
  EXPECT_TRUE(ScreenDriver::WaitUntil(mainAboveToday, 20000));
  device.Screenshot("main-program-on-article");
  // Home brings the Today screen over the running program; a tap on the
  // item brings the program's window forward again.
  ASSERT_TRUE(device.Key("home"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !mainAboveToday(); }, 20000));
  ASSERT_TRUE(device.Tap(tap.x, tap.y));
  EXPECT_TRUE(ScreenDriver::WaitUntil(mainAboveToday, 20000));
  EndProgramsOf(device, kHiddenClass);
}

TEST_F(TodayE2E, ListFollowsTheStyleAndTheChannelSelection) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed("Alpha", 5, "alpha", 9));
  server.Serve("/beta.xml", Feed("Beta", 5, "beta", 11));
  ScreenDriver device(ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Alpha", server.Url("/alpha.xml")}, {u"Beta", server.Url("/beta.xml")}}));
  const pid_t program = device.Launch(kProgram, {});
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 30000));
  StartHost(device);
  ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple Beta: beta headline 0"); }, 30000));
  const std::vector<DWORD> simple = ItemBand(device);

  // The options program's view-style page: "List" chosen, saved with done;
  // the item follows.
  OpenOptionsFromTheHost(device);
  ShowTab(device, 2);
  {
    const auto sheet = Sheet(device);
    ASSERT_TRUE(sheet.has_value());
    Choose(device, sheet->right - Px(device, 30), FirstRowY(device, *sheet), 1, 2);
  }
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return DoneShownNow(device); }));
  const POINT done = DonePoint(device);
  ASSERT_TRUE(device.Tap(done.x, done.y));
  ASSERT_TRUE(SheetGone(device));
  EXPECT_EQ(TodayKey().GetDWORD(u"ViewStyle", 0), 1u);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("list 10 Beta: beta headline 0"); }, 30000));
  ShotAfterChange(device, simple, "list-240x320");
  const std::vector<DWORD> both = ItemBand(device);

  // The channels page deselects Beta: the selection, then the notice.
  CTodayChannelFilter::GetInstance()->Load();
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{u"Beta", u"0"}}));
  CNotifyToday::GetInstance()->NotifyItemChanged(u"Beta");
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("list 5 Alpha: alpha headline 0"); }, 30000));
  ShotAfterChange(device, both, "list-without-beta-240x320");
  device.Stop(program);
}

TEST_F(TodayE2E, OptionsCommandStartsTheOptionsProgram) {
  ScreenDriver device(ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  Start(device, 1);
  StartHost(device);
  // The host's "Options" soft key calls the item's options entry point.
  auto desktop = device.WaitForWindow(kDesktopClass);
  ASSERT_TRUE(desktop.has_value());
  ASSERT_TRUE(device.Tap(desktop->right - 20, desktop->bottom - 10));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return orvtest::HasLine(hostLog_, "options"); }, 20000));
  EXPECT_TRUE(device.WaitForWindow("052DF53E-3074-4d3d-85BF-94F1D21E010C", 30000).has_value());
  device.Screenshot("options-480x640");
  EndProgramsOf(device, "052DF53E-3074-4d3d-85BF-94F1D21E010C");
}

// The journey of a person at each screen: the item shows the articles, a
// tap and hold opens its menu, "Options..." the options program; the view
// style and the font are changed by taps and saved with done on the top
// bar; the item shows the new view and the Start bar is on top again.
class TodayJourneyE2E : public TodayE2E, public ::testing::WithParamInterface<ScreenSettings> {};

TEST_P(TodayJourneyE2E, ChangedStyleAndFontSavedWithDoneShowInTheItem) {
  const ScreenSettings screen = GetParam();
  const std::string size = std::to_string(screen.width) + "x" + std::to_string(screen.height);
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed("Alpha", 3, "alpha"));
  ScreenDriver device(screen);
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Alpha", server.Url("/alpha.xml")}}));
  pid_t program = 0;
  ShowUpdatedItem(device, "simple Alpha: alpha headline 0", program);
  device.Screenshot("journey-simple-" + size);

  OpenOptionsFromTheItem(device, "journey-menu-" + size);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return DoneShownNow(device); }));
  EXPECT_TRUE(StartBarOnTop(device));  // the top bar with its "ok" stays above the sheet
  device.Screenshot("journey-options-channels-" + size);
  ShowTab(device, 2);
  {
    const auto sheet = Sheet(device);
    ASSERT_TRUE(sheet.has_value());
    Choose(device, sheet->right - Px(device, 30), FirstRowY(device, *sheet), 1, 2);  // "List"
  }
  device.Screenshot("journey-options-style-" + size);
  ShowTab(device, 1);
  ToggleStandardFont(device);  // off: the font's own name and size
  device.Screenshot("journey-options-font-" + size);
  const std::vector<DWORD> before = ItemBand(device);
  const POINT done = DonePoint(device);
  ASSERT_TRUE(device.Tap(done.x, done.y));
  ASSERT_TRUE(SheetGone(device));
  CVORegistry key = TodayKey();
  EXPECT_EQ(key.GetDWORD(u"ViewStyle", 0), 1u);
  EXPECT_EQ(key.GetDWORD(u"Font.UseSystem", 1), 0u);
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("list 3 Alpha: alpha headline 0"); }, 30000));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StartBarOnTop(device); }, 20000));
  ShotAfterChange(device, before, "journey-list-" + size);
  device.Stop(program);
}

INSTANTIATE_TEST_SUITE_P(Screens, TodayJourneyE2E,
                         ::testing::Values(ScreenSettings{480, 640, 192}, ScreenSettings{240, 320, 96}),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

// Cancel of the menu bar ends without writing; Back and done keep what was
// chosen; "Select None" of the menu unticks every channel, which done saves.
TEST_F(TodayE2E, OptionsCancelDropsBackAndDoneSave) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed("Alpha", 2, "alpha"));
  ScreenDriver device(ScreenSettings{640, 480, 192});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Alpha", server.Url("/alpha.xml")}}));
  pid_t program = 0;
  ShowUpdatedItem(device, "simple Alpha: alpha headline 0", program);
  CVORegistry key = TodayKey();
  struct Case {
    const char* how;
    DWORD useSystem;  // what "Font.UseSystem" is after the sheet closed
  } cases[] = {{"cancel", 1}, {"back", 0}, {"done", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    OpenOptionsFromTheHost(device);
    ShowTab(device, 1);
    ToggleStandardFont(device);
    if (std::string(c.how) == "cancel") {
      auto bar = SheetMenuBar(device);
      ASSERT_TRUE(bar.has_value());
      ASSERT_TRUE(device.Tap(bar->left + (bar->right - bar->left) / 4, (bar->top + bar->bottom) / 2));
    } else if (std::string(c.how) == "back") {
      ASSERT_TRUE(device.Key("back"));
    } else {
      ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return DoneShownNow(device); }));
      const POINT done = DonePoint(device);
      ASSERT_TRUE(device.Tap(done.x, done.y));
    }
    ASSERT_TRUE(SheetGone(device));
    EXPECT_EQ(key.GetDWORD(u"Font.UseSystem", 1), c.useSystem);
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StartBarOnTop(device); }, 20000));
  }
  device.Screenshot("options-closed-640x480");

  // The channels page: "Menu", "Select None", done.
  OpenOptionsFromTheHost(device);
  auto bar = SheetMenuBar(device);
  ASSERT_TRUE(bar.has_value());
  ASSERT_TRUE(device.Tap(bar->right - (bar->right - bar->left) / 4, (bar->top + bar->bottom) / 2));
  ASSERT_TRUE(WaitVisible(device, "#32768", true));
  const auto menu = Visible(device, "#32768");
  ASSERT_TRUE(menu.has_value());
  const POINT none = MenuRow(device, *menu, 1);
  ASSERT_TRUE(device.Tap(none.x, none.y));
  ASSERT_TRUE(WaitVisible(device, "#32768", false));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return DoneShownNow(device); }));
  device.Screenshot("options-channels-none-640x480");
  const POINT done = DonePoint(device);
  ASSERT_TRUE(device.Tap(done.x, done.y));
  ASSERT_TRUE(SheetGone(device));
  CTodayChannelFilter reader;
  reader.Load();
  CStringToStringMap entries;
  reader.GetEntries(entries);
  EXPECT_EQ(entries, (CStringToStringMap{{u"Alpha", u"0"}}));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple status 4"); }, 30000));
  device.Stop(program);
}

// The simple view's thumbnail follows "Show thumbnail": the feed's article
// carries a green picture; once the channel is updated the item shows a
// green square beside the text; the check box switched off on the View
// Style page and saved with done leaves no green on the screen, switched on
// again the square comes back.
TEST_F(TodayE2E, ShowThumbnailSwitchedOffAndOnInTheOptions) {
  constexpr DWORD kGreen = 0x00FF00;
  orvtest::HttpTestServer server;
  // An uncompressed picture, large enough to count as the article's picture.
  server.Serve("/green.bmp", imgtest::Bmp(96, 96, 24, imgtest::Pixels(96 * 96, 0xFF000000u | kGreen), false),
               "image/bmp");
  server.Serve("/pics.xml", "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Pics</title>"
                            "<item><title>Green field</title><guid>pics-0</guid>"
                            "<pubDate>Mon, 07 Dec 2026 10:50:00 GMT</pubDate><description>&lt;p&gt;A field."
                            "&lt;img src=\"" + server.Url("/green.bmp") + "\"&gt;&lt;/p&gt;</description>"
                            "</item></channel></rss>");
  ScreenDriver device(ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Pics", server.Url("/pics.xml")}}));
  pid_t program = 0;
  ShowUpdatedItem(device, "simple Pics: Green field", program);
  // The picture is fetched after the feed.
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/green.bmp") > 0; }, 30000));

  // A square of green at the item's left, as tall as two of its lines
  // (the thumbnail's corners may be cut off).
  const POINT item = ItemPoint(device, 0, 0);
  auto thumbnailShown = [&](ColourPatch& patch) {
    return ScreenDriver::WaitUntil([&] {
      patch = FindColour(device.ComposedScreen(), kGreen);
      const int side = patch.right - patch.left;
      return patch.count > 0 && side == patch.bottom - patch.top && side >= Px(device, 16) &&
             patch.count >= side * side * 95 / 100;
    }, 30000);
  };
  ColourPatch shown;
  EXPECT_TRUE(thumbnailShown(shown)) << shown.count << " green pixels in " << shown.left << "," << shown.top << "-"
                                     << shown.right << "," << shown.bottom;
  device.Screenshot("thumbnail-on-480x640");
  EXPECT_GE(shown.top, item.y);
  EXPECT_LT(shown.left, Px(device, 80));

  // "Show thumbnail" switched on the View Style page, saved with done.
  const auto switchThumbnail = [&](const std::string& shot) {
    OpenOptionsFromTheHost(device);
    ShowTab(device, 2);
    const auto sheet = Sheet(device);
    ASSERT_TRUE(sheet.has_value());
    // Down the page's left edge: the "View style:" label, then the check
    // boxes, "Show thumbnail" first.
    const auto rows = LeftEdgeRows(device, *sheet);
    ASSERT_GE(rows.size(), 4u);
    const int y = (rows[1].first + rows[1].second) / 2;
    ASSERT_TRUE(TapAndSee(device, sheet->left + Px(device, 12), y));
    device.Screenshot(shot);
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return DoneShownNow(device); }));
    const POINT done = DonePoint(device);
    ASSERT_TRUE(device.Tap(done.x, done.y));
    ASSERT_TRUE(SheetGone(device));
  };
  switchThumbnail("options-thumbnail-off-480x640");
  EXPECT_EQ(TodayKey().GetDWORD(u"ViewSimple.Show.Thumbnail", 1), 0u);
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return FindColour(device.ComposedScreen(), kGreen).count == 0; }, 20000))
      << "the thumbnail stayed on the screen";
  device.Screenshot("thumbnail-off-480x640");
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StartBarOnTop(device); }, 20000));

  switchThumbnail("options-thumbnail-on-480x640");
  EXPECT_EQ(TodayKey().GetDWORD(u"ViewSimple.Show.Thumbnail", 0), 1u);
  ColourPatch again;
  EXPECT_TRUE(thumbnailShown(again)) << again.count << " green pixels";
  EXPECT_EQ(again.count, shown.count);
  device.Screenshot("thumbnail-on-again-480x640");
  device.Stop(program);
}

// The device's text size changes while the options program shows its Font
// page with the standard font: the shell's notice reaches the page, which
// shows the new size; set back, the page looks exactly as before.
TEST_F(TodayE2E, TextSizeNoticeReachesTheOpenFontPage) {
  ScreenDriver device(ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  StartHost(device);
  OpenOptionsFromTheHost(device);
  ShowTab(device, 1);
  const auto sheet = Sheet(device);
  ASSERT_TRUE(sheet.has_value());
  // The page in place (ShowTab saw it replace the first page): nothing
  // animates and it holds still.
  ASSERT_TRUE(device.WaitForStillPart([&] { return PageArea(device, *sheet); }));
  const std::vector<DWORD> before = PageArea(device, *sheet);
  device.Screenshot("font-page-text-100");
  // The device's settings: text at 150 % (9 points become 18 pixels at 96 dpi).
  ASSERT_TRUE(SetUITextSizePercent(150));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return PageArea(device, *sheet) != before; }, 10000))
      << "the font page did not follow the text size";
  device.Screenshot("font-page-text-150");
  ASSERT_TRUE(SetUITextSizePercent(100));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return PageArea(device, *sheet) == before; }, 10000))
      << "the font page did not come back to the standard size";
  EndProgramsOf(device, "052DF53E-3074-4d3d-85BF-94F1D21E010C");
}

// Chinese and Japanese titles are drawn with their own glyphs: two rows of
// the list whose titles differ only in their characters show different ink,
// where missing-glyph boxes would show the same.
TEST_F(TodayE2E, ChineseAndJapaneseTitlesShowTheirCharacters) {
  orvtest::HttpTestServer server;
  const std::vector<std::string> titles = {"\xe4\xb8\xad\xe6\x96\x87\xe6\x96\xb0\xe9\x97\xbb",   // 中文新闻
                                           "\xe6\x97\xa5\xe6\x9c\xac\xe3\x83\x8b\xe3\x83\xa5"};  // 日本ニュ
  server.Serve("/cjk.xml", orvtest::RssFeed(
                               "Cjk", 2, "cjk", [&](int i) { return titles[static_cast<std::size_t>(i)]; },
                               [](int i) { return std::string(i == 0 ? "Mon, 07 Dec 2026 10:50:00 GMT"
                                                                     : "Mon, 07 Dec 2026 10:49:00 GMT"); }));
  ScreenDriver device(ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  Start(device, 1);
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.RowsCount", 3));
  ASSERT_TRUE(TodayKey().SetDWORD(u"ViewList.Show.ArticleTime", 0));
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Cjk", server.Url("/cjk.xml")}}));
  pid_t program = 0;
  ShowUpdatedItem(device, "list 2 Cjk: " + titles[0], program);
  // The item's height, as the host last placed it: three rows.
  int height = 0;
  for (const std::string& line : orvtest::ReadLines(hostLog_))
    if (line.rfind("height ", 0) == 0) height = std::stoi(line.substr(7));
  ASSERT_GT(height, 0);
  const int row = height / 3;
  device.Screenshot("cjk-list-480x640");
  const PixelImage image = device.ComposedScreen();
  const POINT top = ItemPoint(device, 0, 0);
  // Dark pixels (the text) of a row's title part.
  auto ink = [&](int r) {
    std::vector<bool> mask;
    int count = 0;
    for (int y = top.y + r * row; y < top.y + (r + 1) * row; ++y)
      for (int x = Px(device, 26); x < image.width / 2; ++x) {
        const DWORD p = image.pixels[static_cast<std::size_t>(y) * image.width + x];
        const int lum = (static_cast<int>(p & 0xFF) + static_cast<int>((p >> 8) & 0xFF) + static_cast<int>((p >> 16) & 0xFF)) / 3;
        mask.push_back(lum < 128);
        count += lum < 128;
      }
    return std::make_pair(mask, count);
  };
  const auto first = ink(0), second = ink(1);
  EXPECT_GT(first.second, 50);
  EXPECT_GT(second.second, 50);
  EXPECT_NE(first.first, second.first);
  device.Stop(program);
}

}  // namespace
