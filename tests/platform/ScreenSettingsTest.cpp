// The device's screen settings and the screen's change notice.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/base/ScreenSettings.h"
#include "platform/gdi/Gdi.h"
#include "platform/ipc/ScreenNotice.h"
#include "platform/windows/SystemMetrics.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDevice.h"

namespace {

using namespace plat;

class ScreenSettingsTest : public orvtest::DeviceTest {};

TEST(ScreenSpecTest, ParsesSizesDpisAndOrientation) {
  struct Case {
    const char* text;
    std::optional<ScreenSettings> want;
  } cases[] = {
      {"480x640@192", ScreenSettings{480, 640, 192}},
      {"240x320@96", ScreenSettings{240, 320, 96}},
      {"640x480", ScreenSettings{640, 480, 192}},
      {"480x640@192,landscape", ScreenSettings{640, 480, 192}},
      {"640x480@192,landscape", ScreenSettings{640, 480, 192}},
      {"640x480@192,portrait", ScreenSettings{480, 640, 192}},
      {"480x640@", std::nullopt},
      {"480x@192", std::nullopt},
      {"480*640", std::nullopt},
      {"480x640@192,sideways", std::nullopt},
      {"10x640@192", std::nullopt},
      {"480x640@5000", std::nullopt},
      {"480x640@192 ", std::nullopt},
      {"-480x640", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseScreenSpec(c.text), c.want);
  }
  EXPECT_EQ(FormatScreenSpec(ScreenSettings{240, 320, 96}), "240x320@96");
  EXPECT_TRUE((ScreenSettings{640, 480, 192}.Landscape()));
}

TEST_F(ScreenSettingsTest, DeviceFileRoundTripsAndDamageMeansDefaults) {
  EXPECT_EQ(ReadDeviceScreen(), ScreenSettings{});  // no file yet
  ASSERT_TRUE(WriteDeviceScreen(ScreenSettings{240, 320, 96}));
  EXPECT_EQ(ReadDeviceScreen(), (ScreenSettings{240, 320, 96}));
  EXPECT_FALSE(WriteDeviceScreen(ScreenSettings{0, 320, 96}));
  EXPECT_EQ(ReadDeviceScreen(), (ScreenSettings{240, 320, 96}));  // a refused write changes nothing

  orvtest::WriteHostFile(device_.Root() + "/screen", "width=240\nheight=lots\ndpi=96\n");
  EXPECT_EQ(ReadDeviceScreen(), ScreenSettings{});
  orvtest::WriteHostFile(device_.Root() + "/screen", "width=99999\nheight=320\ndpi=96\n");
  EXPECT_EQ(ReadDeviceScreen(), ScreenSettings{});
}

TEST_F(ScreenSettingsTest, SystemMetricsFollowTheScreen) {
  struct Case {
    int w, h, dpi, scroll, icon;
  } cases[] = {{480, 640, 192, 26, 64}, {240, 320, 96, 13, 32}, {640, 480, 192, 26, 64}};
  for (const Case& c : cases) {
    SetScreenForTesting(c.w, c.h, c.dpi);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), c.w);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), c.h);
    EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), c.scroll);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), c.icon);
  }
  EXPECT_EQ(GetSystemMetrics(9999), 0);
  ResetScreenForTesting();
}

TEST_F(ScreenSettingsTest, ChangeNoticeWakesAWaiterOfAnotherProcess) {
  std::uint32_t before = ScreenChangeSerial();
  EXPECT_EQ(WaitScreenChange(before, 0), before);  // nothing changed: at once
  orvtest::ChildProcess child([before](orvtest::ChildContext& ctx) {
    ctx.Ready();
    std::uint32_t now = WaitScreenChange(before, 20000);
    return now != before ? 0 : 1;
  });
  ASSERT_TRUE(child.WaitReady());
  NotifyScreenChanged();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_NE(ScreenChangeSerial(), before);

  // A waiting thread of this process is woken too.
  std::uint32_t seen = ScreenChangeSerial();
  std::atomic<std::uint32_t> got{seen};
  std::thread waiter([&] { got = WaitScreenChange(seen, INFINITE); });
  NotifyScreenChanged();
  waiter.join();
  EXPECT_NE(got.load(), seen);
}

}  // namespace
