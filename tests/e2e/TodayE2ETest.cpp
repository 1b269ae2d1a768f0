// The Today item on the device's home screen: the Today screen host loads it
// beside the main program, on a device installed by the main program's own
// install step, with feeds from the loopback test server. What the item shows
// is read from the device's debug log (switched on by "DeveloperMode"), where
// the item notes each article or list it shows, and from screenshots.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

#include "app/DeviceInstall.h"
#include "core/ProcessGlobals.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/NotifyToday.h"
#include "database/TodayChannelFilter.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Text.h"
#include "platform/windows/Windows.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"

namespace {

using orvtest::ScreenDriver;
using namespace plat;

using orvtest::kHiddenClass;
constexpr const char* kDesktopClass = "DesktopExplorerWindow";
const std::string kProgram = orvtest::MainProgramPath();
const std::string kHost = std::string(ORV_PROGRAM_DIR) + "/orv-todayhost";

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
  void Start(ScreenDriver& device, DWORD viewStyle) {
    InstallReport report;
    ASSERT_TRUE(InstallIntoDevice(ORV_PROGRAM_DIR, false, &report)) << report.error;
    ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", 1));
    const std::u16string today = GetTodayRegistryKey();
    CVORegistry key(GetSettingsRootKey(), today.c_str(), true, true, KEY_ALL_ACCESS);
    ASSERT_TRUE(key.SetDWORD(u"ViewStyle", viewStyle));
    ASSERT_TRUE(key.SetDWORD(u"ViewSimple.AutoScrollSpeed", 0));  // the article stays put
    log_ = device.Device().FsRoot() + "/Windows/Orv News.exe_log.txt";
    hostLog_ = device.Device().Scratch() + "/host.log";
  }
  void AddChannels(const std::vector<std::pair<std::u16string, std::string>>& channels) {
    CChannelSet set;
    ASSERT_TRUE(set.Open());
    for (const auto& [name, url] : channels) {
      IChannel* c = set.Add(name);
      ASSERT_NE(c, nullptr);
      c->SetProperties(CStringToStringMap{{kPropUrl, Utf8ToUtf16(url)}, {kPropType, kChannelTypeRss}});
    }
  }
  pid_t StartHost(ScreenDriver& device) {
    const pid_t host = device.Launch(kHost, {"--log", hostLog_});
    EXPECT_TRUE(device.WaitForWindow(kDesktopClass, 20000).has_value());
    // The host's log names the item's window once the library made it.
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] {
      for (const std::string& line : orvtest::ReadLines(hostLog_))
        if (line.rfind("item ", 0) == 0 && line != "item 0") return true;
      return false;
    }, 20000));
    return host;
  }
  // The item noted this line in the debug log.
  bool Shows(const std::string& what) const {
    for (const std::string& line : orvtest::ReadLines(log_))
      if (line.find("** Today " + what) != std::string::npos) return true;
    return false;
  }
  static HWND HiddenWindow() { return FindWindowW(u"A377667C-B302-4767-B9C5-EC5210805251", nullptr); }
  static bool InterfaceOpen() {
    HWND hidden = HiddenWindow();
    return hidden && SendMessageW(hidden, GetRegisteredMessages().isInterfaceOpen, 0, 0) == 1;
  }
  // Where the host puts the item: under the desktop's date line, screen wide.
  static POINT ItemPoint(ScreenDriver& device, int x, int y) {
    auto desktop = device.WaitForWindow(kDesktopClass);
    const int dpi = device.Screen().dpi;
    return POINT{desktop->left + x * dpi / 96, desktop->top + (20 + y) * dpi / 96};
  }

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

  std::string log_;
  std::string hostLog_;
};

TEST_F(TodayE2E, UpdateInTheMainProgramShowsItsNewestArticle) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed("Alpha", 4, "alpha"));
  ScreenDriver device(ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  AddChannels({{u"Alpha", server.Url("/alpha.xml")}});
  StartHost(device);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple status 4"); }, 20000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !ItemBand(device).empty(); }));
  device.Screenshot("simple-empty-240x320");
  const std::vector<DWORD> empty = ItemBand(device);

  const pid_t program = device.Launch(kProgram, {});
  ASSERT_GT(program, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil(InterfaceOpen, 30000));
  ASSERT_TRUE(PostMessageW(HiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
  // The headers' save notifies the item, which reads the channel again (at
  // most a second later) and shows the newest article.
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple Alpha: alpha headline 0"); }, 30000));
  ShotAfterChange(device, empty, "simple-240x320");
}

TEST_F(TodayE2E, TapOnTheArticleStartsTheMainProgramOnIt) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", Feed("Alpha", 3, "alpha"));
  ScreenDriver device(ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  Start(device, 0);
  AddChannels({{u"Alpha", server.Url("/alpha.xml")}});
  // The articles are stored by an update of a first run of the main program.
  {
    const pid_t program = device.Launch(kProgram, {});
    ASSERT_TRUE(ScreenDriver::WaitUntil(InterfaceOpen, 30000));
    ASSERT_TRUE(PostMessageW(HiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/alpha.xml") > 0; }, 20000));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] {
      return OpenSettingsKey().GetDWORD(u"UpdateLocked", CVORegistry::kNoDefault) == CVORegistry::kNoDefault;
    }, 30000));
    device.Stop(program);
    ASSERT_TRUE(ScreenDriver::WaitUntil([] { return HiddenWindow() == nullptr; }, 20000));
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
  EXPECT_TRUE(ScreenDriver::WaitUntil(InterfaceOpen, 30000));
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
  AddChannels({{u"Alpha", server.Url("/alpha.xml")}, {u"Beta", server.Url("/beta.xml")}});
  const pid_t program = device.Launch(kProgram, {});
  ASSERT_TRUE(ScreenDriver::WaitUntil(InterfaceOpen, 30000));
  StartHost(device);
  ASSERT_TRUE(PostMessageW(HiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Shows("simple Beta: beta headline 0"); }, 30000));
  const std::vector<DWORD> simple = ItemBand(device);

  // The options program's view-style page writes the style; the item follows.
  const std::u16string today = GetTodayRegistryKey();
  CVORegistry key(GetSettingsRootKey(), today.c_str(), true, true, KEY_ALL_ACCESS);
  ASSERT_TRUE(key.SetDWORD(u"ViewStyle", 1));
  ASSERT_TRUE(key.SetDWORD(u"ViewList.RowsCount", 6));
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

}  // namespace
