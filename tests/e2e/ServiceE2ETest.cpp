// The auto-update service and the uninstaller as the device runs them. The
// service host loads the library, the device is put into its cradle, and the
// main program is started behind a frozen copy of the screen for one update,
// then ends by itself; the user's screen never changes. The uninstaller
// removes what the install step installed and leaves the user's articles.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "hosts/HostRequests.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/files/DeviceMounts.h"
#include "platform/files/Files.h"
#include "platform/files/InstallManifest.h"
#include "platform/inet/DeviceNetwork.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/Windows.h"
#include "tests/support/RunProgram.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"
#include "tests/support/UpdateLock.h"

namespace {

using orvtest::ScreenDriver;

using orvtest::kHiddenClass;
constexpr const char* kCoverClass = "CLS_FAKE_SCREEN{3A90C971-BF56-4ca5-A83E-977DD3599FF2}";

int CountLines(const std::string& path, const std::string& line) {
  std::ifstream in(path);
  std::string l;
  int n = 0;
  while (std::getline(in, l)) n += l == line;
  return n;
}

bool HasWindow(ScreenDriver& d, const std::string& cls) {
  for (const auto& w : d.Windows())
    if (w.cls == cls) return true;
  return false;
}

class ServiceE2E : public ::testing::Test {
 protected:
  ServiceE2E() : device_(plat::ScreenSettings{480, 640, 192}) {}

  // The user's screen: the desktop, an open program, the task bar and the
  // input-panel button, each a program of its own.
  void ShowUsersScreen() {
    ASSERT_TRUE(device_.Ready());
    struct Shown {
      const char* cls;
      const char* rect;
      const char* colour;
    } const shown[] = {{"DesktopExplorerWindow", "0,0,480,640", "3060A0"},
                       {"OrvTestApp", "0,52,480,500", "F0E0C0"},
                       {"HHTaskBar", "0,0,480,52", "202020"},
                       {"MS_SIPBUTTON", "400,600,80,40", "00A000"}};
    const std::string scratch = device_.Device().Scratch();
    for (const Shown& s : shown) {
      ASSERT_GT(device_.Launch(orvtest::TestAppPath(), {"--log", scratch + "/" + s.cls + ".log", "--class", s.cls,
                                                        "--rect", s.rect, "--colour", s.colour}),
                0);
      ASSERT_TRUE(device_.WaitForWindow(s.cls)) << s.cls;
    }
  }

  // Starts the service host (with short waits) and waits until the service
  // runs: the host shows its request window once NEW_Init has returned.
  void StartService(const std::vector<std::string>& args) {
    OpenSettingsKey().SetDWORD(u"AutoUpdateWhenCradled", 1);
    const char* const shortened[] = {"ORVNEWS_SERVICE_IDLE_MS", "ORVNEWS_SERVICE_ACTIVITY_PAUSE_MS",
                                     "ORVNEWS_SERVICE_LAUNCH_PAUSE_MS"};
    for (const char* name : shortened) ::setenv(name, "50", 1);
    host_ = device_.Launch(ORV_SERVICE_HOST, args);
    for (const char* name : shortened) ::unsetenv(name);
    ASSERT_GT(host_, 0);
    ASSERT_TRUE(ScreenDriver::WaitUntil([] { return plat::FindWindowW(u"plat.hosts.ServiceHost", nullptr) != nullptr; }));
  }

  // Pixels that differ from the screen before; the wait cursor a starting
  // program shows over the middle of the screen may be left out.
  std::size_t Differing(const plat::PixelImage& now, bool besideWaitCursor = false) const {
    std::size_t n = 0;
    const double radius = 14.0 * 192 / 96 + 1;
    for (std::size_t i = 0; i < before_.pixels.size() && i < now.pixels.size(); ++i) {
      if (besideWaitCursor) {
        const double dx = static_cast<double>(i % 480) + 0.5 - 240, dy = static_cast<double>(i / 480) + 0.5 - 320;
        if (dx * dx + dy * dy <= radius * radius) continue;
      }
      n += before_.pixels[i] != now.pixels[i];
    }
    return n + (before_.pixels.size() != now.pixels.size());
  }

  // Cradles the device and waits (bounded) for `done`, looking at the screen
  // all the while; the most pixels ever seen changed.
  std::size_t CradleAndWatchUntil(const std::function<bool()>& done, int boundMs, bool besideWaitCursor = false) {
    device_.Screenshot("before");
    before_ = device_.ComposedScreen();
    EXPECT_TRUE(plat::SetCradled(true));
    std::size_t worst = 0;
    EXPECT_TRUE(ScreenDriver::WaitUntil(
        [&] {
          const std::size_t now = Differing(device_.ComposedScreen(), besideWaitCursor);
          if (now > worst) device_.Screenshot("differs-while-updating");  // for a person to look at
          worst = std::max(worst, now);
          return done();
        },
        boundMs));
    return worst;
  }

  ScreenDriver device_;
  pid_t host_ = -1;
  plat::PixelImage before_;
};

// With a stand-in that registers the main program's hidden window class and
// logs what it receives.
TEST_F(ServiceE2E, CradlingStartsOneUpdateOfTheStandInBehindAFrozenScreen) {
  ShowUsersScreen();
  const std::string programs = device_.Device().Scratch() + "/programs";
  ASSERT_EQ(::mkdir(programs.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(ORV_FAKE_MAIN, (programs + "/Orv News.exe").c_str()), 0);
  OpenSettingsKey().SetString(u"InstallFolder", u"\\Program Files\\Orv News");
  StartService({"--program-folder", programs});

  const std::string log = device_.Device().Root() + "/fakemain.log";
  EXPECT_EQ(CradleAndWatchUntil([&] { return CountLines(log, "exit") == 1; }, 30000), 0u);
  EXPECT_EQ(CountLines(log, "start autoupdate"), 1) << orvtest::ReadHostFile(log);
  EXPECT_EQ(CountLines(log, "update-now"), 1);
  EXPECT_GE(CountLines(log, "is-ui-open"), 1);
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return orvtest::UpdateLockHolder() == 0; }));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return !HasWindow(device_, "OrvFakeMainWindow") && !HasWindow(device_, kCoverClass); }));
  device_.Screenshot("after");
  EXPECT_EQ(Differing(device_.ComposedScreen()), 0u);
  EXPECT_EQ(CountLines(log, "start autoupdate"), 1);
  EXPECT_EQ(device_.Stop(host_), 0);
}

// With the main program as installed, its channels served on the loopback
// over a paid connection. Nobody is asked: with "UseFreeConnectionsOnly" off
// the paid connection serves one update of every channel; with it on nothing
// is fetched. Either way no message box shows, the program ends by itself and
// the lock goes.
class ServiceMainProgramE2E : public ServiceE2E, public ::testing::WithParamInterface<bool> {};

TEST_P(ServiceMainProgramE2E, CradlingRunsOneUpdateOfEveryChannelOfTheMainProgram) {
  const bool freeOnly = GetParam();
  orvtest::HttpTestServer server;
  const std::string alpha =
      "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Alpha</title>"
      "<item><title>A one</title><guid>a1</guid></item><item><title>A two</title><guid>a2</guid></item>"
      "</channel></rss>";
  const std::string beta =
      "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Beta</title>"
      "<item><title>B one</title><guid>b1</guid></item><item><title>B two</title><guid>b2</guid></item>"
      "<item><title>B three</title><guid>b3</guid></item></channel></rss>";
  server.Serve("/alpha.xml", alpha);
  server.Serve("/beta.xml", beta);
  ShowUsersScreen();
  ASSERT_TRUE(orvtest::InstallWithFeedChannels(
      {{u"Alpha", server.Url("/alpha.xml")}, {u"Beta", server.Url("/beta.xml")}}));
  OpenSettingsKey().SetDWORD(u"UseFreeConnectionsOnly", freeOnly ? 1 : 0);
  ASSERT_TRUE(plat::SetConnectionMode(plat::ConnectionMode::Paid));
  StartService({});

  // Started (its hidden window seen), then ended.
  bool started = false;
  auto ended = [&] {
    const bool running = plat::FindWindowW(u"A377667C-B302-4767-B9C5-EC5210805251", nullptr) != nullptr;
    started = started || running;
    return started && !running;
  };
  // The main program shows the wait cursor while it starts, over every window
  // as on the device; everything else stays as the user left it.
  EXPECT_EQ(CradleAndWatchUntil(ended, 90000, true), 0u);
  const std::size_t fetches = freeOnly ? 0 : 1;
  EXPECT_EQ(server.RequestCount("/alpha.xml"), fetches);
  EXPECT_EQ(server.RequestCount("/beta.xml"), fetches);
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return orvtest::UpdateLockHolder() == 0; }));
  EXPECT_FALSE(HasWindow(device_, kHiddenClass));
  EXPECT_FALSE(HasWindow(device_, kCoverClass));
  device_.Screenshot("after");
  EXPECT_EQ(Differing(device_.ComposedScreen()), 0u);
  {
    CChannelSet set;
    ASSERT_TRUE(set.Open());
    for (const auto& [name, count] : {std::pair{u"Alpha", 2}, std::pair{u"Beta", 3}}) {
      IChannel* c = set.FindByName(name);
      ASSERT_NE(c, nullptr);
      int tag = 0;
      c->Acquire(&tag);
      EXPECT_EQ(c->GetArticleSet() ? c->GetArticleSet()->GetCount() : -1, freeOnly ? 0 : count);
      c->Release(&tag, false);
    }
  }
  EXPECT_EQ(device_.Stop(host_), 0);
}

INSTANTIATE_TEST_SUITE_P(PaidConnection, ServiceMainProgramE2E, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "FreeOnly" : "PaidAllowed"; });

// The uninstaller after the install step: the program folder is the build's
// and stays whole; the device forgets it; the user's articles stay.
TEST(RemoverE2E, RemovesWhatTheInstallStepInstalledAndKeepsTheArticles) {
  orvtest::ScopedTempDevice device;
  ASSERT_TRUE(orvtest::InstallMainProgram());
  ASSERT_TRUE(plat::GetFileAttributesW(u"\\Program Files\\Orv News\\Orv News.exe") != plat::INVALID_FILE_ATTRIBUTES ||
              plat::GetFileAttributesW(u"\\Program Files\\Orv News\\Orv News") != plat::INVALID_FILE_ATTRIBUTES);
  const std::string article = device.Root() + "/programdata/Content/Alpha.article";
  orvtest::WriteHostFile(article, "the user's article");
  std::size_t programFiles = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(ORV_PROGRAM_DIR)) programFiles += e.is_regular_file();

  EXPECT_EQ(orvtest::RunProgram(ORV_REMOVER), 0) << orvtest::ReadHostFile(device.FsRoot() + "/OrvNewsRemover_log.txt");

  const std::string mounts = orvtest::ReadHostFile(plat::DeviceMountsFile());
  EXPECT_EQ(mounts.find("\\Program Files\\Orv News\t"), std::string::npos) << mounts;
  EXPECT_EQ(mounts.find("Templates"), std::string::npos) << mounts;
  EXPECT_NE(mounts.find("\\Program Files\\Orv News\\Content\t"), std::string::npos) << mounts;
  EXPECT_EQ(orvtest::ReadHostFile(article), "the user's article");
  EXPECT_FALSE(plat::ReadInstallManifest(u"Orv Brevant").has_value());
  plat::HKEY key = nullptr;
  EXPECT_NE(plat::RegOpenKeyExW(plat::HKEY_CURRENT_USER, u"SOFTWARE\\Orv Software House\\Orv News", 0,
                                plat::KEY_READ, &key),
            plat::ERROR_SUCCESS);
  std::size_t after = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(ORV_PROGRAM_DIR)) after += e.is_regular_file();
  EXPECT_EQ(after, programFiles);
}


// The display program reports the user's taps, keys and wheel as the user's
// activity, the event the service waits on for an idle device.
TEST_F(ServiceE2E, TheDisplaysInputIsTheUsersActivity) {
  ASSERT_TRUE(device_.Ready());
  plat::HANDLE activity =
      plat::OpenEventW(plat::SYNCHRONIZE | plat::EVENT_MODIFY_STATE, plat::FALSE, u"PowerManager/UserActivity_Active");
  ASSERT_NE(activity, nullptr);  // the display keeps it
  EXPECT_EQ(plat::WaitForSingleObject(activity, 0), static_cast<plat::DWORD>(plat::WAIT_TIMEOUT));
  for (const auto& act : std::vector<std::function<void()>>{[&] { device_.Tap(100, 100); },
                                                             [&] { device_.Key("down"); },
                                                             [&] { device_.Wheel(100, 100, 1); }}) {
    plat::ResetEvent(activity);  // as the power manager does once the user is idle
    act();
    EXPECT_EQ(plat::WaitForSingleObject(activity, 0), plat::WAIT_OBJECT_0);
  }
  plat::CloseHandle(activity);
}

bool KeyThere(plat::HKEY root, const char16_t* path) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExW(root, path, 0, plat::KEY_READ, &key) != plat::ERROR_SUCCESS) return false;
  plat::RegCloseKey(key);
  return true;
}

plat::DWORD ValueCount(plat::HKEY root, const char16_t* path) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExW(root, path, 0, plat::KEY_READ, &key) != plat::ERROR_SUCCESS) return 0;
  plat::DWORD values = 0;
  plat::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
  plat::RegCloseKey(key);
  return values;
}

constexpr const char16_t* kProductKey = u"SOFTWARE\\Orv Software House\\Orv News";
constexpr const char16_t* kTodayValuesKey = u"SOFTWARE\\Orv Software House\\Orv News\\Today";
constexpr const char16_t* kTodayItemKey = u"Software\\Microsoft\\Today\\Items\\\"Orv News\"";

// Anything of the product in the registry, named; empty when nothing is.
std::string ProductLeftInRegistry() {
  std::string left;
  if (KeyThere(plat::HKEY_CURRENT_USER, kProductKey)) left += " product key";
  if (KeyThere(plat::HKEY_LOCAL_MACHINE, kProductKey)) left += " machine product key";
  if (ValueCount(plat::HKEY_CURRENT_USER, kTodayValuesKey) > 0) left += " Today values";
  if (KeyThere(plat::HKEY_LOCAL_MACHINE, kTodayItemKey)) left += " Today item";
  return left;
}

// The uninstaller beside running programs: the service host and the Today
// host hold the product's libraries and the main program runs. The removal
// has them let go first, so nothing writes the product key or the Today
// item's values again afterwards; a second run finds nothing installed and
// says so in words and in its exit code.
TEST_F(ServiceE2E, RemovalBesideRunningProgramsLeavesNothingBehind) {
  ASSERT_TRUE(device_.Ready());
  ASSERT_TRUE(orvtest::InstallMainProgram());
  StartService({});
  const std::string todayLog = device_.Device().Scratch() + "/todayhost.log";
  const pid_t today = device_.Launch(std::string(ORV_PROGRAM_DIR) + "/orv-todayhost", {"--log", todayLog});
  ASSERT_GT(today, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] {
    for (const std::string& line : orvtest::ReadLines(todayLog))
      if (line.rfind("item ", 0) == 0 && line != "item 0") return true;
    return false;
  }, 20000));
  const pid_t program = device_.Launch(orvtest::MainProgramPath(), {});
  ASSERT_GT(program, 0);
  ASSERT_TRUE(device_.WaitForWindow(kHiddenClass, 30000).has_value());
  // The item has read its settings (and so written their defaults).
  ASSERT_TRUE(ScreenDriver::WaitUntil([] { return ValueCount(plat::HKEY_CURRENT_USER, kTodayValuesKey) >= 13; }, 20000));
  device_.Screenshot("before-removal");

  const std::string removerLog = device_.Device().FsRoot() + "/OrvNewsRemover_log.txt";
  EXPECT_EQ(orvtest::RunProgram(ORV_REMOVER), 0) << orvtest::ReadHostFile(removerLog);
  EXPECT_EQ(ProductLeftInRegistry(), "");
  // The main program has ended; the hosts run on without the product.
  EXPECT_EQ(plat::FindWindowW(u"A377667C-B302-4767-B9C5-EC5210805251", nullptr), nullptr);
  EXPECT_NE(orvtest::ReadHostFile(todayLog).find("unloaded"), std::string::npos) << orvtest::ReadHostFile(todayLog);
  EXPECT_NE(plat::FindWindowW(u"DesktopExplorerWindow", nullptr), nullptr);
  // Nothing writes it back: the item would within its 2-second refresh.
  EXPECT_FALSE(ScreenDriver::WaitUntil([] { return !ProductLeftInRegistry().empty(); }, 5000))
      << ProductLeftInRegistry();
  // Neither host holds the product's library any more: asked once more to
  // let it go, each answers that it held none.
  const plat::UINT unload = plat::RegisterWindowMessageW(plat::hosts::kUnloadProductMessage);
  for (const char16_t* cls : {plat::hosts::kServiceHostWindowClass, plat::hosts::kTodayHostWindowClass}) {
    SCOPED_TRACE(plat::Utf16ToUtf8(cls));
    const plat::HWND hostWindow = plat::FindWindowW(cls, nullptr);
    ASSERT_NE(hostWindow, nullptr);
    plat::DWORD_PTR held = 2;
    EXPECT_NE(plat::SendMessageTimeoutW(hostWindow, unload, 0, 0, plat::SMTO_NORMAL, 10000, &held), 0);
    EXPECT_EQ(held, 0u) << "the host still held the product's library";
  }
  device_.Screenshot("after-removal");

  EXPECT_EQ(orvtest::RunProgram(ORV_REMOVER), 2);
  const std::string log = orvtest::ReadHostFile(removerLog);
  EXPECT_NE(log.find("Orv Brevant is not installed; nothing was removed"), std::string::npos) << log;
  EXPECT_EQ(log.find("wap-provisioningdoc"), std::string::npos) << log;
  EXPECT_EQ(ProductLeftInRegistry(), "");
  EXPECT_EQ(device_.Stop(host_), 0);
  device_.Stop(today);
}

}  // namespace
