// The auto-update service as the device runs it: the service host loads the
// library, the device is put into its cradle, and the main program is started
// behind a frozen copy of the screen for one update, then ends by itself; the
// user's screen is as it was. Until the main program runs, a small stand-in
// program (orv-fakemain) registers its hidden window class and logs what it
// receives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/VORegistry.h"
#include "platform/inet/DeviceNetwork.h"
#include "platform/ipc/Ipc.h"
#include "tests/support/ScreenDriver.h"

namespace {

using orvtest::ScreenDriver;

int CountLines(const std::string& path, const std::string& line) {
  std::ifstream in(path);
  std::string l;
  int n = 0;
  while (std::getline(in, l)) n += l == line;
  return n;
}

std::uint32_t UpdateLocked() {
  CVORegistry key = OpenSettingsKey();
  const std::uint32_t v = key.GetDWORD(u"UpdateLocked", CVORegistry::kNoDefault);
  return v == CVORegistry::kNoDefault ? 0 : v;
}

bool HasWindow(ScreenDriver& d, const std::string& cls) {
  for (const auto& w : d.Windows())
    if (w.cls == cls) return true;
  return false;
}

TEST(ServiceE2ETest, CradlingStartsOneUpdateBehindAFrozenScreen) {
  ScreenDriver device(plat::ScreenSettings{480, 640, 192});
  ASSERT_TRUE(device.Ready());
  const std::string scratch = device.Device().Scratch();

  // The user's screen: the desktop, the task bar, the input-panel button and
  // an open program.
  struct Shown {
    const char* cls;
    const char* rect;
    const char* colour;
  } const shown[] = {{"DesktopExplorerWindow", "0,0,480,640", "3060A0"},
                     {"OrvTestApp", "0,52,480,500", "F0E0C0"},
                     {"HHTaskBar", "0,0,480,52", "202020"},
                     {"MS_SIPBUTTON", "400,600,80,40", "00A000"}};
  for (const Shown& s : shown) {
    ASSERT_GT(device.Launch(orvtest::TestAppPath(), {"--log", scratch + "/" + s.cls + ".log", "--class", s.cls,
                                                     "--rect", s.rect, "--colour", s.colour}),
              0);
    ASSERT_TRUE(device.WaitForWindow(s.cls)) << s.cls;
  }

  // The product as installed: the main program (its stand-in) in the program
  // folder, updating when cradled.
  const std::string programs = scratch + "/programs";
  ASSERT_EQ(::mkdir(programs.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(ORV_FAKE_MAIN, (programs + "/Orv News.exe").c_str()), 0);
  {
    CVORegistry key = OpenSettingsKey();
    key.SetString(u"InstallFolder", u"\\Program Files\\Orv News");
    key.SetDWORD(u"AutoUpdateWhenCradled", 1);
  }
  ::setenv("ORVNEWS_SERVICE_IDLE_MS", "50", 1);
  const pid_t host = device.Launch(ORV_SERVICE_HOST, {"--program-folder", programs});
  ::unsetenv("ORVNEWS_SERVICE_IDLE_MS");
  ASSERT_GT(host, 0);
  // The service holds the platform's user-activity event once it runs.
  ASSERT_TRUE(ScreenDriver::WaitUntil([] {
    plat::HANDLE e = plat::OpenEventW(plat::SYNCHRONIZE, plat::FALSE, u"PowerManager/UserActivity_Active");
    if (e) plat::CloseHandle(e);
    return e != nullptr;
  }));
  device.Screenshot("before");
  const plat::PixelImage before = device.ComposedScreen();

  auto differing = [&before](const plat::PixelImage& now) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < before.pixels.size() && i < now.pixels.size(); ++i) n += before.pixels[i] != now.pixels[i];
    return n;
  };

  ASSERT_TRUE(plat::SetCradled(true));
  const std::string log = device.Device().Root() + "/fakemain.log";
  // Whenever the screen is looked at while the program starts, updates and
  // ends, it shows what the user left (the frozen copy, then the same screen).
  std::size_t worst = 0;
  ASSERT_TRUE(ScreenDriver::WaitUntil(
      [&] {
        const std::size_t now = differing(device.ComposedScreen());
        if (now > worst) device.Screenshot("differs-while-updating");  // for a person to look at
        worst = std::max(worst, now);
        return CountLines(log, "exit") == 1;
      },
      30000))
      << orvtest::ReadHostFile(log);
  EXPECT_EQ(worst, 0u);
  EXPECT_EQ(CountLines(log, "start autoupdate"), 1);
  EXPECT_EQ(CountLines(log, "update-now"), 1);
  EXPECT_GE(CountLines(log, "is-ui-open"), 1);
  // The update is over: the lock is gone, the program, the cover and its
  // windows are gone, and the screen is as the user left it.
  EXPECT_TRUE(ScreenDriver::WaitUntil([] { return UpdateLocked() == 0; }));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] {
    return !HasWindow(device, "OrvFakeMainWindow") &&
           !HasWindow(device, "CLS_FAKE_SCREEN{3A90C971-BF56-4ca5-A83E-977DD3599FF2}");
  }));
  device.Screenshot("after");
  const plat::PixelImage after = device.ComposedScreen();
  ASSERT_EQ(after.pixels.size(), before.pixels.size());
  EXPECT_EQ(differing(after), 0u);

  // Staying in the cradle starts nothing more; the host stops cleanly.
  EXPECT_EQ(CountLines(log, "start autoupdate"), 1);
  EXPECT_EQ(device.Stop(host), 0);
}

}  // namespace
