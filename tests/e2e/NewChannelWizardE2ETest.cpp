// Adding channels through the running program's add-channels wizard, played
// with the device's keys: a feed by its address, updated once added; an OPML
// file of three feeds of which two are checked; a search of the online
// catalogue (served by the loopback server) of which one result is added;
// and an address that answers 404, which shows the failure and adds nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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
#include "platform/base/Text.h"
#include "platform/controls/MenuBar.h"
#include "platform/files/Files.h"
#include "platform/windows/Windows.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/LiveArticles.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tools/device/DeviceInstall.h"

namespace {

using orvtest::ScreenDriver;
using orvtest::StoredLiveArticles;
using plat::display::WindowLine;

const std::string kProgram = orvtest::MainProgramPath();
constexpr const char* kWizardTitle = "New Channel";

std::string Opml(const std::vector<std::pair<std::string, std::string>>& feeds) {
  std::string xml = "<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>Feeds</title></head><body>";
  for (const auto& [title, url] : feeds) xml += "<outline text=\"" + title + "\" type=\"rss\" xmlUrl=\"" + url + "\"/>";
  return xml + "</body></opml>";
}

class NewChannelWizardE2E : public ::testing::Test {
 protected:
  // Installs the program into an empty device and starts it; false when its
  // interface did not open.
  bool Start(ScreenDriver& device) {
    if (!orvtest::InstallWithFeedChannels({})) return false;
    program_ = device.Launch(kProgram, {});
    return program_ > 0 && ScreenDriver::WaitUntil([&] { return Count(device, "Orv News") == 1; }, 30000);
  }
  // The program's visible windows of that title.
  int Count(ScreenDriver& device, const std::string& title) {
    int n = 0;
    for (const WindowLine& w : device.Windows())
      n += w.pid == program_ && w.visible && w.title == title && w.right - w.left >= 100 ? 1 : 0;
    return n;
  }
  // "New" (the left soft key of the empty main window) opens the wizard.
  bool OpenWizard(ScreenDriver& device) {
    return device.Key("soft1") && ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 1; }, 20000) &&
           Settle(device);
  }
  // The program has drawn its answer to the input.
  static bool Settle(ScreenDriver& device, const std::vector<plat::DWORD>* before = nullptr) {
    return device.WaitForStillScreen(before);
  }
  // A key (or text) and the program's answer on the screen.
  static bool Key(ScreenDriver& device, const std::string& key) {
    const std::vector<plat::DWORD> before = device.ComposedScreen().pixels;
    return device.Key(key) && Settle(device, &before);
  }
  static bool Type(ScreenDriver& device, const std::string& text) {
    const std::vector<plat::DWORD> before = device.ComposedScreen().pixels;
    return device.Text(text) && Settle(device, &before);
  }
  // On the start page: chooses the source (1..4) and goes next.
  bool ChooseSource(ScreenDriver& device, int choice) {
    for (int i = 0; i < choice; ++i)
      if (!Key(device, "tab")) return false;
    return Key(device, "0x20") && Key(device, "enter");
  }
  // Waits for the wizard to close, or fails with what is on the screen.
  bool WizardClosed(ScreenDriver& device, const std::string& shot) {
    if (ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 0; }, 30000)) return true;
    device.Screenshot(shot);
    return false;
  }
  // Name and "@url" of every channel of the device.
  static std::set<std::pair<std::u16string, std::u16string>> Channels() {
    std::set<std::pair<std::u16string, std::u16string>> out;
    CChannelSet set;
    if (!set.Open()) return out;
    for (int i = 0; i < set.GetCount(); ++i) {
      IChannel* c = set.GetAt(i);
      const auto& p = c->GetProperties();
      const auto url = p.find(kPropUrl);
      out.insert({c->GetName(), url == p.end() ? u"" : url->second});
    }
    return out;
  }
  int Exit(ScreenDriver& device) { return orvtest::ExitMainProgram(device, program_); }

  pid_t program_ = -1;
};

TEST_F(NewChannelWizardE2E, AChannelAddedByItsAddressIsNamedByItsFeedAndUpdated) {
  orvtest::HttpTestServer server;
  server.Serve("/news.xml", orvtest::RssFeed("Loopback News", 3, "news", [](int i) { return "Story " + std::to_string(i); }));
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device));
  ASSERT_TRUE(OpenWizard(device));
  device.Screenshot("wizard-start-240x320");
  ASSERT_TRUE(ChooseSource(device, 1));
  // The caret stands after "http://": the rest of the address is typed, Enter is Done.
  const std::string rest = server.Url("/news.xml").substr(7);
  ASSERT_TRUE(Type(device, rest));
  device.Screenshot("wizard-feed-address-240x320");
  ASSERT_TRUE(device.Key("enter"));
  ASSERT_TRUE(WizardClosed(device, "wizard-feed-address-stuck"));
  const auto channels = Channels();
  EXPECT_EQ(channels, (std::set<std::pair<std::u16string, std::u16string>>{
                          {u"Loopback News", plat::Utf8ToUtf16(server.Url("/news.xml"))}}));
  // Added channels are updated at once.
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"Loopback News") == 3; }, 30000))
      << StoredLiveArticles(u"Loopback News");
  device.Screenshot("wizard-feed-added-240x320");
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(NewChannelWizardE2E, AnOpmlFileOfThreeFeedsWithTwoCheckedAddsExactlyTwo) {
  orvtest::HttpTestServer server;
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(CreateFolderTree(u"\\My Documents"));
  const std::string opml = Opml({{"Alpha", server.Url("/alpha.xml")},
                                 {"Beta", server.Url("/beta.xml")},
                                 {"Gamma", server.Url("/gamma.xml")}});
  ASSERT_TRUE(plat::ReplaceFileContents(u"\\My Documents\\three.opml", opml.data(), opml.size()));
  // The OPML page offers the file last named there.
  ASSERT_TRUE(OpenSettingsKey().SetString(u"LastWebOpmlUrl", u"\\My Documents\\three.opml"));
  // Nothing is downloaded while adding: the channels wait for their update.
  OpenSettingsKey().SetDWORD(u"StartUpdateForAddedChannels", 0);
  ASSERT_TRUE(Start(device));
  ASSERT_TRUE(OpenWizard(device));
  ASSERT_TRUE(ChooseSource(device, 3));
  device.Screenshot("wizard-opml-480x640");
  ASSERT_TRUE(Key(device, "enter"));  // next: the catalogue page lists the file's feeds
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 1; }, 20000));
  ASSERT_TRUE(Settle(device));
  // The tree has the focus: the first and the third entries are checked.
  for (const char* key : {"down", "0x20", "down", "down", "0x20"}) ASSERT_TRUE(Key(device, key)) << key;
  device.Screenshot("wizard-opml-tree-480x640");
  ASSERT_TRUE(device.Key("enter"));  // done
  ASSERT_TRUE(WizardClosed(device, "wizard-opml-stuck"));
  EXPECT_EQ(Channels(), (std::set<std::pair<std::u16string, std::u16string>>{
                            {u"Alpha", plat::Utf8ToUtf16(server.Url("/alpha.xml"))},
                            {u"Gamma", plat::Utf8ToUtf16(server.Url("/gamma.xml"))}}));
  EXPECT_EQ(server.Requests().size(), 0u);
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(NewChannelWizardE2E, ACatalogueSearchAddsTheCheckedResult) {
  orvtest::HttpTestServer server;
  server.Route("/catalog", [&](const orvtest::HttpRequest&) {
    orvtest::HttpResponse response;
    response.body = Opml({{"Science Daily", server.Url("/science.xml")}, {"Space Weekly", server.Url("/space.xml")}});
    return response;
  });
  server.Serve("/science.xml", orvtest::RssFeed("Science Daily", 2, "sci", [](int i) { return "Finding " + std::to_string(i); }));
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(OpenSettingsKey().SetString(u"OnlineCatalogUrl", plat::Utf8ToUtf16(server.Url("/catalog")).c_str()));
  ASSERT_TRUE(OpenSettingsKey().SetString(u"LastSearch", u"science"));
  ASSERT_TRUE(Start(device));
  ASSERT_TRUE(OpenWizard(device));
  ASSERT_TRUE(ChooseSource(device, 2));
  device.Screenshot("wizard-search-240x320");
  ASSERT_TRUE(device.Key("enter"));  // next: the catalogue answers the search
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/catalog") == 1; }, 20000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 1; }, 20000));
  ASSERT_TRUE(Settle(device));
  // The stylus: the first result's check box (the tree starts below the
  // 23-pixel title, rows of 20, the box after the 16-pixel line indent),
  // then the right soft key, "Done".
  const std::vector<plat::DWORD> before = device.ComposedScreen().pixels;
  ASSERT_TRUE(device.Tap(24, 34));
  ASSERT_TRUE(Settle(device, &before));
  device.Screenshot("wizard-search-results-240x320");
  std::optional<WindowLine> bar;
  for (const WindowLine& w : device.Windows())
    if (!bar && w.pid == program_ && w.visible && w.cls == plat::Utf16ToUtf8(plat::kMenuBarClassName)) bar = w;
  ASSERT_TRUE(bar.has_value());
  ASSERT_TRUE(device.Tap(bar->left + (bar->right - bar->left) * 3 / 4, (bar->top + bar->bottom) / 2));
  ASSERT_TRUE(WizardClosed(device, "wizard-search-stuck"));
  EXPECT_EQ(Channels(), (std::set<std::pair<std::u16string, std::u16string>>{
                            {u"Science Daily", plat::Utf8ToUtf16(server.Url("/science.xml"))}}));
  const std::vector<orvtest::HttpRequest> requests = server.Requests();
  ASSERT_FALSE(requests.empty());
  // The search text goes as UTF-8, every byte percent-encoded.
  EXPECT_NE(requests[0].target.find("q=%73%63%69%65%6E%63%65"), std::string::npos) << requests[0].target;
  EXPECT_EQ(OpenSettingsKey().GetString(u"LastSearch", u""), u"science");
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(u"Science Daily") == 2; }, 30000));
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(NewChannelWizardE2E, AnAddressAnswering404ShowsTheFailureAndAddsNothing) {
  orvtest::HttpTestServer server;
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device));
  ASSERT_TRUE(OpenWizard(device));
  ASSERT_TRUE(ChooseSource(device, 1));
  ASSERT_TRUE(Type(device, server.Url("/missing.xml").substr(7)));
  ASSERT_TRUE(device.Key("enter"));
  // The download dialog opens over the wizard and stays, showing the failure.
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/missing.xml") == 1; }, 20000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 2; }, 20000));
  device.Screenshot("wizard-404-480x640");
  // Its left soft key, "Done" once the failure shows (the screen holds
  // still), closes it with one press; the wizard stays on its page.
  ASSERT_TRUE(Settle(device));
  ASSERT_TRUE(device.Key("soft1"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 1; }, 20000));
  EXPECT_EQ(server.RequestCount("/missing.xml"), 1u);
  EXPECT_TRUE(Channels().empty());
  // Back leads to the first page, and from there out of the wizard; still
  // nothing was added.
  ASSERT_TRUE(Settle(device));
  ASSERT_TRUE(Key(device, "back"));
  EXPECT_EQ(Count(device, kWizardTitle), 1) << "the first Back left the wizard";
  ASSERT_TRUE(device.Key("back"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 0; }, 20000));
  EXPECT_TRUE(Channels().empty());
  EXPECT_EQ(Count(device, "Orv News"), 1);
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(NewChannelWizardE2E, TypingOnTheOpmlPageGoesAfterTheOfferedHttp) {
  orvtest::HttpTestServer server;
  server.Serve("/list.opml", Opml({{"Alpha", server.Url("/alpha.xml")}}));
  ScreenDriver device(plat::ScreenSettings{640, 480, 192});
  ASSERT_TRUE(device.Ready());
  OpenSettingsKey().SetDWORD(u"StartUpdateForAddedChannels", 0);
  ASSERT_TRUE(Start(device));
  ASSERT_TRUE(OpenWizard(device));
  ASSERT_TRUE(ChooseSource(device, 3));
  // The page offers "http://"; what is typed follows it.
  ASSERT_TRUE(Type(device, server.Url("/list.opml").substr(7)));
  device.Screenshot("wizard-opml-typed-640x480");
  ASSERT_TRUE(device.Key("enter"));  // next: the catalogue page lists the document
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/list.opml") == 1; }, 20000))
      << "requested: " << (server.Requests().empty() ? std::string("nothing") : server.Requests()[0].target);
  EXPECT_EQ(OpenSettingsKey().GetString(u"LastWebOpmlUrl", u""), plat::Utf8ToUtf16(server.Url("/list.opml")));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 1; }, 20000));
  ASSERT_TRUE(Settle(device));
  device.Screenshot("wizard-opml-list-640x480");
  for (const char* key : {"down", "0x20"}) ASSERT_TRUE(Key(device, key)) << key;
  ASSERT_TRUE(device.Key("enter"));  // done
  ASSERT_TRUE(WizardClosed(device, "wizard-opml-typed-stuck"));
  EXPECT_EQ(Channels(), (std::set<std::pair<std::u16string, std::u16string>>{
                            {u"Alpha", plat::Utf8ToUtf16(server.Url("/alpha.xml"))}}));
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(NewChannelWizardE2E, AfterAFailedDownloadTheAddressTakesTheTypingAgain) {
  orvtest::HttpTestServer server;
  server.Serve("/news.xml", orvtest::RssFeed("Second Try", 2, "try", [](int i) { return "Item " + std::to_string(i); }));
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  OpenSettingsKey().SetDWORD(u"StartUpdateForAddedChannels", 0);
  ASSERT_TRUE(Start(device));
  ASSERT_TRUE(OpenWizard(device));
  ASSERT_TRUE(ChooseSource(device, 1));
  // "/news" is not there: the download fails and says so.
  ASSERT_TRUE(Type(device, server.Url("/news").substr(7)));
  ASSERT_TRUE(device.Key("enter"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/news") == 1; }, 20000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 2; }, 20000));
  ASSERT_TRUE(Settle(device));
  device.Screenshot("wizard-failed-download-480x640");
  // Done closes the failure; the typing goes on in the address box, no tap needed.
  ASSERT_TRUE(device.Key("soft1"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 1; }, 20000));
  ASSERT_TRUE(Settle(device));
  ASSERT_TRUE(Type(device, ".xml"));
  ASSERT_TRUE(device.Key("enter"));
  ASSERT_TRUE(WizardClosed(device, "wizard-second-try-stuck"));
  EXPECT_EQ(server.RequestCount("/news.xml"), 1u);
  EXPECT_EQ(Channels(), (std::set<std::pair<std::u16string, std::u16string>>{
                            {u"Second Try", plat::Utf8ToUtf16(server.Url("/news.xml"))}}));
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(NewChannelWizardE2E, CheckAndGetNameFitsALongTitleAndItsDownloadServesTheFirstUpdate) {
  orvtest::HttpTestServer server;
  // 300 characters of title, served slowly.
  std::string title;
  while (title.size() < 300) title += "Slow Long Title ";
  title.resize(300);
  const std::string feed = orvtest::RssFeed(title, 3, "slow", [](int i) { return "Slow " + std::to_string(i); });
  server.Route("/slow.xml", [feed](const orvtest::HttpRequest&) {
    orvtest::HttpResponse r;
    r.body = feed;
    r.trickleBytes = feed.size() / 8 + 1;
    r.trickleDelayMs = 60;
    r.headers.push_back({"Content-Type", "text/xml; charset=utf-8"});
    return r;
  });
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(Start(device));
  ASSERT_TRUE(OpenWizard(device));
  ASSERT_TRUE(ChooseSource(device, 1));
  ASSERT_TRUE(Type(device, server.Url("/slow.xml").substr(7)));
  // The stylus on "Check and Get Name", the row below the name box (the
  // 23-pixel title, then label, address, label and name rows of 20 to 24).
  device.Screenshot("wizard-check-button-240x320");
  ASSERT_TRUE(device.Tap(120, 130));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/slow.xml") == 1; }, 20000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, kWizardTitle) == 1; }, 20000));
  ASSERT_TRUE(Settle(device));
  device.Screenshot("wizard-long-name-240x320");
  // Done: the name shown is taken as it stands.
  ASSERT_TRUE(device.Key("soft2"));
  ASSERT_TRUE(WizardClosed(device, "wizard-long-name-stuck"));
  const auto channels = Channels();
  ASSERT_EQ(channels.size(), 1u);
  const std::u16string name = channels.begin()->first;
  EXPECT_TRUE(CChannel::IsValidName(name)) << plat::Utf16ToUtf8(name);
  EXPECT_GT(name.size(), 20u);
  EXPECT_EQ(plat::Utf16ToUtf8(name), title.substr(0, name.size())) << "the name is the start of the title";
  // The added channel is updated with what Check fetched.
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredLiveArticles(name) == 3; }, 30000)) << StoredLiveArticles(name);
  EXPECT_EQ(server.RequestCount("/slow.xml"), 1u);
  EXPECT_EQ(Exit(device), 0);
}

TEST_F(NewChannelWizardE2E, HelpWithoutADesktopOpenerShowsTheHelpFileOnTheDevice) {
  // No program opens documents on this desktop.
  ::setenv("ORVNEWS_OPENER", "/nonexistent/orv-opener", 1);
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  const bool started = Start(device);
  ::unsetenv("ORVNEWS_OPENER");
  ASSERT_TRUE(started);
  ASSERT_TRUE(OpenWizard(device));
  ASSERT_TRUE(ChooseSource(device, 1));
  ASSERT_TRUE(device.Key("help"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, "Help") == 1; }, 20000)) << "no help shown";
  ASSERT_TRUE(Settle(device));
  device.Screenshot("help-on-device-240x320");
  // "Done" closes it; the wizard is where it was.
  ASSERT_TRUE(device.Key("soft1"));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return Count(device, "Help") == 0; }, 20000));
  EXPECT_EQ(Count(device, kWizardTitle), 1);
  EXPECT_EQ(Exit(device), 0);
}

}  // namespace
