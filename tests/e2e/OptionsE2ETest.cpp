// The options sheet and the channel-properties sheet of the running program,
// played through the device's keys: an age limit set in the options removes
// the old articles at the next update, and a rename applied together with a
// count limit leaves the renamed channel with that limit.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/RegisteredMessages.h"
#include "core/VORegistry.h"
#include "database/Article.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/windows/Windows.h"
#include "resources/app/resource.h"
#include "tests/support/DeviceUser.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/LiveArticles.h"
#include "tests/support/UpdateLock.h"

namespace {

using orvtest::ScreenDriver;
using orvtest::StoredLiveArticles;
using plat::display::WindowLine;

// A feed whose item i is hoursOld[i] hours old, by the real clock.
std::string AgedFeed(const std::string& tag, const std::vector<int>& hoursOld) {
  const std::time_t now = std::time(nullptr);
  return orvtest::RssFeed(
      tag, static_cast<int>(hoursOld.size()), tag, [&](int i) { return tag + " " + std::to_string(i); },
      [&](int i) {
        const std::time_t at = now - static_cast<std::time_t>(hoursOld[static_cast<std::size_t>(i)]) * 3600;
        std::tm utc{};
        gmtime_r(&at, &utc);
        char text[64] = {};
        std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
        return std::string(text);
      });
}

class OptionsE2E : public ::testing::Test {
 protected:
  bool Start(ScreenDriver& device, const std::u16string& name, const std::string& url) {
    if (!orvtest::InstallWithFeedChannels({{name, url}})) return false;
    program_ = orvtest::DeviceUser(device).StartMainProgram("Orv News");
    return program_ > 0;
  }
  // The program's window of that caption (not the hidden window or the
  // soft-key bars, which share it).
  std::optional<WindowLine> Window(ScreenDriver& device, const std::string& title) {
    return orvtest::DeviceUser(device).MainWindow(program_, title);
  }
  static plat::HWND Handle(const WindowLine& w) {
    return reinterpret_cast<plat::HWND>(static_cast<std::uintptr_t>(w.hwnd));
  }
  // A menu command of the main window, as its menu sends it.
  void MenuCommand(ScreenDriver& device, int id) {
    auto main = Window(device, "Orv News");
    if (!main) main = Window(device, "Alpha");
    ASSERT_TRUE(main.has_value());
    plat::PostMessageW(Handle(*main), plat::WM_COMMAND, static_cast<plat::WPARAM>(id), 0);
  }
  // A key that moves the focus: a key is delivered to the window that has
  // the focus when it is pressed, so the next keys wait until the screen
  // shows the move.
  static void MoveFocus(ScreenDriver& device, const std::string& key) {
    const auto before = device.ComposedScreen().pixels;
    EXPECT_TRUE(device.Key(key));
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return device.ComposedScreen().pixels != before; }, 10000)) << key;
  }
  // Replaces the text of the focused field: to its end, erased, typed. Every
  // step is a key press, so they reach the field in order (text is lower
  // case letters and digits).
  static void Retype(ScreenDriver& device, const std::string& text) {
    EXPECT_TRUE(device.Key("0x23"));  // End
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(device.Key("backspace"));
    for (char c : text) EXPECT_TRUE(device.Key(std::string(1, c)));
  }
  // Presses the sheet's "Done" and waits until it is gone.
  bool Done(ScreenDriver& device, const std::string& title) {
    EXPECT_TRUE(device.Key("soft1"));
    return ScreenDriver::WaitUntil([&] { return !Window(device, title).has_value(); }, 20000);
  }
  // Starts an update of every channel with the channel list's "Update" key
  // and waits for the feed's next request and the end of the run.
  void UpdateAll(ScreenDriver& device, orvtest::HttpTestServer& server, const std::string& path) {
    const std::size_t before = server.RequestCount(path);
    MenuCommand(device, ID_UPDATE_ALL);
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount(path) > before; }, 30000));
    ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::UpdateLockRemoved, 30000));
  }
  int Exit(ScreenDriver& device) { return orvtest::ExitMainProgram(device, program_); }

  pid_t program_ = -1;
};

TEST_F(OptionsE2E, AgeLimitSetInTheOptionsRemovesOldArticlesAtTheNextUpdate) {
  orvtest::HttpTestServer server;
  // Two articles of the last hours, two of last week.
  server.Serve("/alpha.xml", AgedFeed("alpha", {1, 2, 24 * 6, 24 * 7}));
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, u"Alpha", server.Url("/alpha.xml")));
  UpdateAll(device, server, "/alpha.xml");
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"Alpha") == 4; }, 20000)) << StoredLiveArticles(u"Alpha");

  MenuCommand(device, ID_OPTIONS);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Window(device, "Orv News Options").has_value(); }, 20000));
  const WindowLine sheet = *Window(device, "Orv News Options");
  // The Cleaning page (the fourth); its age check box has the focus.
  ASSERT_NE(plat::SendMessageW(Handle(sheet), plat::PSM_SETCURSEL, 3, 0), 0);
  device.Screenshot("options-cleaning-240x320");
  MoveFocus(device, "0x20");  // space: "Automatically delete articles older than set limit"
  MoveFocus(device, "tab");
  Retype(device, "3");
  device.Screenshot("options-age-limit-240x320");
  ASSERT_TRUE(Done(device, "Orv News Options"));
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"ArticlesAgeLimitEnabled", 0), 1u);
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"DefaultArticlesAgeLimit", 0), 3u);

  UpdateAll(device, server, "/alpha.xml");
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"Alpha") == 2; }, 20000)) << StoredLiveArticles(u"Alpha");
  ASSERT_EQ(Exit(device), 0);
  EXPECT_EQ(StoredLiveArticles(u"Alpha"), 2);
}

TEST_F(OptionsE2E, RenameAndCountLimitAppliedTogetherBothTakeEffect) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", AgedFeed("alpha", {1, 2, 3, 4, 5}));
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, u"Alpha", server.Url("/alpha.xml")));
  UpdateAll(device, server, "/alpha.xml");
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"Alpha") == 5; }, 20000)) << StoredLiveArticles(u"Alpha");

  // The channel's row makes it the current channel; its properties open.
  auto main = Window(device, "Orv News");
  ASSERT_TRUE(main.has_value());
  // Row 0's middle, 20 units below the list's top (the window's top while
  // nothing updates).
  ASSERT_TRUE(device.Tap((main->left + main->right) / 2, main->top + 2 * 20));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Window(device, "Alpha").has_value(); }, 20000));
  MenuCommand(device, ID_CHANNEL_PROPERTIES);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Window(device, "Channel Properties").has_value(); }, 20000));
  const WindowLine sheet = *Window(device, "Channel Properties");
  // General: the name field has the focus.
  Retype(device, "renamed");
  device.Screenshot("channel-rename-480x640");
  // Cleaning: "Use defaults" has the focus; the channel's own count limit
  // is two tabs further on (the age field is disabled).
  ASSERT_NE(plat::SendMessageW(Handle(sheet), plat::PSM_SETCURSEL, 2, 0), 0);
  device.Screenshot("channel-cleaning-480x640");
  MoveFocus(device, "0x20");
  for (int i = 0; i < 3; ++i) MoveFocus(device, "tab");
  Retype(device, "2");
  device.Screenshot("channel-count-limit-480x640");
  ASSERT_TRUE(Done(device, "Channel Properties"));

  UpdateAll(device, server, "/alpha.xml");
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"renamed") == 2; }, 20000)) << StoredLiveArticles(u"renamed");
  ASSERT_EQ(Exit(device), 0);

  CChannelSet set;
  ASSERT_TRUE(set.Open());
  EXPECT_EQ(set.FindByName(u"Alpha"), nullptr);
  IChannel* renamed = set.FindByName(u"renamed");
  ASSERT_NE(renamed, nullptr);
  IChannelOptions* options = renamed->GetOptions();
  EXPECT_EQ(options->GetUseDefaultLimits(), 0);
  EXPECT_EQ(options->GetArticlesCountLimitEnabled(), 1);
  EXPECT_EQ(options->GetArticlesCountLimit(), 2);
}

TEST_F(OptionsE2E, SwitchingTheScheduleOnShowsAPeriodThatDoneStores) {
  orvtest::HttpTestServer server;
  ScreenDriver device(plat::ScreenSettings{640, 480, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device, u"Alpha", server.Url("/alpha.xml")));
  ASSERT_EQ(OpenSettingsKey().GetDWORD(u"AutoUpdate", 0), 0u);
  MenuCommand(device, ID_OPTIONS);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Window(device, "Orv News Options").has_value(); }, 20000));
  const WindowLine sheet = *Window(device, "Orv News Options");
  ASSERT_NE(plat::SendMessageW(Handle(sheet), plat::PSM_SETCURSEL, 1, 0), 0);
  device.Screenshot("options-content-640x480");
  // Updating: "Manual articles updating" has the focus; two tabs on is the
  // schedule's check box, which the space ticks.
  ASSERT_NE(plat::SendMessageW(Handle(sheet), plat::PSM_SETCURSEL, 2, 0), 0);
  MoveFocus(device, "tab");
  MoveFocus(device, "tab");
  MoveFocus(device, "0x20");
  device.Screenshot("options-schedule-on-640x480");
  ASSERT_TRUE(Done(device, "Orv News Options"));
  // The period shown when the box was ticked is the one stored.
  EXPECT_EQ(OpenSettingsKey().GetDWORD(u"AutoUpdate", 0), 1u);
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(OptionsE2E, AMalformedAddressInThePropertiesIsRefusedWithAMessage) {
  orvtest::HttpTestServer server;
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  const std::string url = server.Url("/alpha.xml");
  ASSERT_TRUE(Start(device, u"Alpha", url));
  auto main = Window(device, "Orv News");
  ASSERT_TRUE(main.has_value());
  ASSERT_TRUE(device.Tap((main->left + main->right) / 2, main->top + 20));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Window(device, "Alpha").has_value(); }, 20000));
  MenuCommand(device, ID_CHANNEL_PROPERTIES);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Window(device, "Channel Properties").has_value(); }, 20000));
  auto box = [&]() -> std::optional<WindowLine> {
    for (const WindowLine& w : device.Windows())
      if (w.pid == program_ && w.visible && w.cls == "#32770" && w.title == "Orv News" && w.right - w.left < 240)
        return w;
    return std::nullopt;
  };
  // General: the name has the focus, the address is next; "a b" is no address.
  MoveFocus(device, "tab");
  EXPECT_TRUE(device.Key("0x23"));  // End
  for (int i = 0; i < 60; ++i) EXPECT_TRUE(device.Key("backspace"));
  for (const char* key : {"a", "0x20", "b"}) EXPECT_TRUE(device.Key(key));
  EXPECT_TRUE(device.Key("soft1"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return box().has_value(); }, 20000)) << "no word about the address";
  device.Screenshot("channel-bad-address-240x320");
  EXPECT_TRUE(Window(device, "Channel Properties").has_value()) << "the sheet stays open";
  const unsigned shown = box()->hwnd;
  ASSERT_TRUE(device.Key("return"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !box() || box()->hwnd != shown; }, 20000));
  EXPECT_TRUE(Window(device, "Channel Properties").has_value());
  // Cancel (the right soft key, tapped) leaves the channel as it was.
  std::optional<WindowLine> bar;
  for (const WindowLine& w : device.Windows())
    if (!bar && w.pid == program_ && w.visible && w.cls == plat::Utf16ToUtf8(plat::kMenuBarClassName)) bar = w;
  ASSERT_TRUE(bar.has_value());
  EXPECT_TRUE(device.Tap(bar->left + (bar->right - bar->left) * 3 / 4, (bar->top + bar->bottom) / 2));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return !Window(device, "Channel Properties").has_value(); }, 20000));
  ASSERT_EQ(Exit(device), 0);
  CChannelSet set;
  ASSERT_TRUE(set.Open());
  IChannel* alpha = set.FindByName(u"Alpha");
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(alpha->GetProperties().at(u"@url"), plat::Utf8ToUtf16(url));
}

}  // namespace
