// The main program "Orv News" as a process of a device: the first run's
// default channels, the hand-over of a second start, the exit request, the
// update lock left by an update, and a restart after the program was killed
// in the middle of an update.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/RegisteredMessages.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "platform/base/Text.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/Windows.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FeedChannels.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tests/support/UpdateLock.h"
#include "tests/support/Wait.h"
#include "tools/device/DeviceInstall.h"

namespace {

using orvtest::ScreenDriver;
using orvtest::StoredUpdateLock;
using namespace plat;

using orvtest::kHiddenClass;
using orvtest::kInstanceName;
const std::string kProgram = orvtest::MainProgramPath();

// The default channels' names the program's language file defines
// ("DEFCHANNEL_<n>_NAME|<name>" lines), in their order.
std::vector<std::u16string> DefaultChannelNames() {
  std::ifstream file(std::string(ORV_PROGRAM_DIR) + "/localization_en.txt");
  std::vector<std::u16string> names;
  std::string line;
  for (int n = 1; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string key = "DEFCHANNEL_" + std::to_string(n) + "_NAME|";
    if (line.rfind(key, 0) == 0) {
      names.push_back(Utf8ToUtf16(line.substr(key.size())));
      ++n;
    }
  }
  return names;
}

class MainProgramE2E : public ::testing::Test {
 protected:
  // The hidden window's timers tick every 200 ms instead of every 10 s, so
  // what they do is seen without waiting for them.
  void SetUp() override { ::setenv("ORVNEWS_HIDDEN_TIMER_MS", "200", 1); }
  void TearDown() override { ::unsetenv("ORVNEWS_HIDDEN_TIMER_MS"); }
  // The stored articles of a channel, read as the Today item reads them.
  static int StoredArticles(const std::u16string& name) {
    CChannelSet set;
    if (!set.Open()) return -1;
    IChannel* c = set.FindByName(name);
    if (!c) return -1;
    int tag = 0;
    c->Acquire(&tag);
    const int count = c->GetArticleSet() ? c->GetArticleSet()->GetCount() : -1;
    c->Release(&tag, false);
    return count;
  }
  static std::vector<plat::display::WindowLine> WindowsOf(ScreenDriver& device, pid_t pid) {
    std::vector<plat::display::WindowLine> out;
    for (const auto& w : device.Windows())
      if (w.pid == pid) out.push_back(w);
    return out;
  }
  // Waits (bounded) until the main window shows and has painted more than a
  // plain background, then keeps a screenshot to look at.
  static void ShotOfMainWindow(ScreenDriver& device, pid_t pid, const std::string& name) {
    EXPECT_TRUE(ScreenDriver::WaitUntil([&] {
      bool shown = false;
      for (const auto& w : WindowsOf(device, pid)) shown |= w.visible && w.cls != kHiddenClass && w.title == "Orv News";
      if (!shown) return false;
      const plat::PixelImage img = device.ComposedScreen();
      std::set<plat::DWORD> colours(img.pixels.begin(), img.pixels.end());
      return colours.size() > 16;
    })) << "the main window did not show or paint before " << name;
    EXPECT_FALSE(device.Screenshot(name).empty());
  }
  static bool InstanceMutexFree() {
    HANDLE m = CreateMutexW(nullptr, FALSE, kInstanceName);
    const bool free = m && GetLastError() != ERROR_ALREADY_EXISTS;
    if (m) CloseHandle(m);
    return free;
  }
};

TEST_F(MainProgramE2E, CreateChannelsMakesTheDefaultChannelsOnceWithoutAWindow) {
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(orvtest::InstallMainProgram(true));  // runs "createchannels" once
  // Every channel the language file names, each once.
  const std::vector<std::u16string> names = DefaultChannelNames();
  ASSERT_EQ(names.size(), 6u) << "the program's language file names six default channels";
  const int created = CountChannelFiles();
  EXPECT_EQ(created, static_cast<int>(names.size()));
  {
    CChannelSet set;
    ASSERT_TRUE(set.Open());
    EXPECT_EQ(set.GetCount(), static_cast<int>(names.size()));
    for (const std::u16string& name : names) EXPECT_NE(set.FindByName(name), nullptr) << Utf16ToUtf8(name);
  }

  const pid_t again = device.Launch(kProgram, {"createchannels"});
  ASSERT_GT(again, 0);
  EXPECT_EQ(device.WaitExit(again, 30000), 0);
  EXPECT_EQ(CountChannelFiles(), created);
  EXPECT_TRUE(WindowsOf(device, again).empty());
  EXPECT_EQ(orvtest::MainHiddenWindow(), nullptr);
  EXPECT_TRUE(InstanceMutexFree());
}

TEST_F(MainProgramE2E, SecondStartHandsOverAndExitEndsTheProgram) {
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(orvtest::InstallMainProgram());
  const pid_t first = device.Launch(kProgram, {});
  ASSERT_GT(first, 0);
  ASSERT_TRUE(device.WaitForWindow(kHiddenClass, 20000).has_value());
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 20000));
  EXPECT_FALSE(InstanceMutexFree());

  // A plain second start, then one naming no owner (0) and one naming a
  // window that is gone: each ends at once, the first runs on.
  for (std::string args : {std::string(), std::string("-hwnd:0"), std::string("-hwnd:2147480000")}) {
    SCOPED_TRACE(args);
    const pid_t second = device.Launch(kProgram, args.empty() ? std::vector<std::string>{} : std::vector{args});
    ASSERT_GT(second, 0);
    EXPECT_EQ(device.WaitExit(second, 20000), 0);
    EXPECT_TRUE(WindowsOf(device, second).empty());
  }
  EXPECT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 5000));
  // The plain second start brought the main window forward, not the hidden one.
  const HWND front = GetForegroundWindow();
  DWORD frontProcess = 0;
  GetWindowThreadProcessId(front, &frontProcess);
  EXPECT_EQ(static_cast<pid_t>(frontProcess), first);
  EXPECT_NE(front, orvtest::MainHiddenWindow());
  int hidden = 0;
  for (const auto& w : device.Windows()) hidden += w.cls == kHiddenClass;
  EXPECT_EQ(hidden, 1);
  EXPECT_EQ(device.WaitExit(first, 500), orvtest::ChildProcess::kTimedOut);  // still running
  ShotOfMainWindow(device, first, "after-second-start");

  ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().orvNewsExit, 0, 0));
  EXPECT_EQ(device.WaitExit(first, 20000), 0);
  EXPECT_TRUE(WindowsOf(device, first).empty());
  EXPECT_TRUE(InstanceMutexFree());
}

TEST_F(MainProgramE2E, UpdateLockOfTwoGoesAfterTheUpdateEnds) {
  orvtest::HttpTestServer server;
  // The feed is answered once the test has seen the lock the update set, so
  // the update is surely running meanwhile.
  std::atomic<bool> answer{false};
  server.Route("/alpha.xml", [&](const orvtest::HttpRequest&) {
    ScreenDriver::WaitUntil([&] { return answer.load(); }, 30000);
    orvtest::HttpResponse r;
    r.body = orvtest::RssFeed("Alpha", 5, "alpha");
    return r;
  });
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(orvtest::InstallMainProgram());
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Alpha", server.Url("/alpha.xml")}}));
  const pid_t program = device.Launch(kProgram, {});
  ASSERT_GT(program, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 20000));

  // The service's update-now request: the main window sets the lock to 2
  // and updates every channel.
  ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return server.RequestCount("/alpha.xml") > 0; }, 20000));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredUpdateLock() == 2; }, 10000)) << StoredUpdateLock();
  // Timer 777 leaves the lock alone while the update runs (several ticks).
  EXPECT_TRUE(orvtest::StaysTrue([&] { return StoredUpdateLock() == 2; }, 1000)) << StoredUpdateLock();
  answer = true;
  // The end of the run takes its lock away.
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredUpdateLock() == CVORegistry::kNoDefault; }, 30000))
      << StoredUpdateLock();
  EXPECT_EQ(StoredArticles(u"Alpha"), 5);
  // A lock of 2 left behind while nothing updates: timer 777 takes it away.
  ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"UpdateLocked", 2));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return StoredUpdateLock() == CVORegistry::kNoDefault; }, 10000))
      << StoredUpdateLock();
  // A lock of another value is the service's own: it stays.
  ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"UpdateLocked", 1));
  EXPECT_TRUE(orvtest::StaysTrue([&] { return StoredUpdateLock() == 1; }, 1000)) << StoredUpdateLock();
}

TEST_F(MainProgramE2E, KilledInTheMiddleOfAnUpdateStartsAgainWithEveryStoredArticle) {
  orvtest::HttpTestServer server;
  server.Serve("/alpha.xml", orvtest::RssFeed("Alpha", 12, "alpha"));
  // The second channel's feed trickles for minutes: the update is still
  // running when the program is killed.
  std::atomic<bool> zuluAsked{false};
  server.Route("/zulu.xml", [&](const orvtest::HttpRequest&) {
    zuluAsked = true;
    orvtest::HttpResponse r;
    r.body = orvtest::RssFeed("Zulu", 200, "zulu");
    r.trickleBytes = 8;
    r.trickleDelayMs = 100;
    r.headers.push_back({"Content-Type", "text/xml"});
    return r;
  });
  ScreenDriver device(plat::ScreenSettings{240, 320, 96});
  ASSERT_TRUE(device.Ready());
  ASSERT_TRUE(orvtest::InstallMainProgram());
  ASSERT_TRUE(orvtest::AddFeedChannels({{u"Alpha", server.Url("/alpha.xml")}, {u"Zulu", server.Url("/zulu.xml")}}));

  const pid_t program = device.Launch(kProgram, {});
  ASSERT_GT(program, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 20000));
  ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().updateNow, 0, 0));
  // The worker stores one channel at a time, in name order, while the feeds
  // after it download ahead: the kill comes once the second feed is being
  // received and the first one's articles are stored.
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return zuluAsked.load(); }, 30000));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return StoredArticles(u"Alpha") == 12; }, 30000));
  device.Stop(program, true);  // SIGKILL

  const pid_t again = device.Launch(kProgram, {});
  ASSERT_GT(again, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil(orvtest::MainInterfaceOpen, 20000)) << "the program did not start again";
  ShotOfMainWindow(device, again, "restarted-after-kill");
  ASSERT_TRUE(PostMessageW(orvtest::MainHiddenWindow(), GetRegisteredMessages().orvNewsExit, 0, 0));
  EXPECT_EQ(device.WaitExit(again, 20000), 0);
  EXPECT_EQ(StoredArticles(u"Alpha"), 12);
  // The channel whose feed was cut off is still there (-1: lost), and holds
  // nothing: a feed is read only once it has arrived whole.
  EXPECT_EQ(StoredArticles(u"Zulu"), 0);
}

}  // namespace
