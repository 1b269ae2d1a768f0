// A dialog of the program's own dialog base in a real program on the device:
// its rows laid out by the auto-fit below the title header, a check box
// ticked by a tap, and Enter ending the dialog with OK.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ScreenDriver.h"

#ifndef ORV_DIALOG_APP
#define ORV_DIALOG_APP "orv-dialogapp"
#endif

namespace {

using orvtest::HasLine;
using orvtest::ReadLines;
using orvtest::ScreenDriver;

std::vector<int> Numbers(const std::string& log, const std::string& prefix) {
  for (const std::string& line : ReadLines(log)) {
    if (line.rfind(prefix + " ", 0) != 0) continue;
    std::vector<int> out;
    std::istringstream in(line.substr(prefix.size()));
    for (int v; in >> v;) out.push_back(v);
    return out;
  }
  return {};
}

std::string Whole(const std::string& path) {
  std::ifstream f(path);
  std::stringstream b;
  b << f.rdbuf();
  return b.str();
}

class DialogE2E : public ::testing::TestWithParam<plat::ScreenSettings> {};

TEST_P(DialogE2E, RowsFitTheScreenATapTicksAndEnterEndsWithOk) {
  const plat::ScreenSettings screen = GetParam();
  ScreenDriver device(screen);
  ASSERT_TRUE(device.Ready());
  const std::string log = device.Device().Scratch() + "/dialog.log";
  const pid_t app = device.Launch(ORV_DIALOG_APP, {"--log", log});
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "ready"); })) << Whole(log);
  ASSERT_TRUE(device.WaitForWindow("#32770").has_value());
  // Every row lies inside the screen, below the header (23 px at 96 dpi), in order.
  const int header = (23 * screen.dpi + 48) / 96;
  int previousBottom = header;
  for (int id : {300, 301, 302, 303, 304, 306}) {
    const std::vector<int> r = Numbers(log, "row " + std::to_string(id));
    ASSERT_EQ(r.size(), 4u) << id;  // left, top, right, bottom
    EXPECT_GE(r[1], previousBottom) << id;
    EXPECT_GT(r[3], r[1]) << id;
    EXPECT_GE(r[0], 0) << id;
    EXPECT_LE(r[2], screen.width) << id;
    previousBottom = r[3];
  }
  const std::vector<int> button = Numbers(log, "row 307");
  ASSERT_EQ(button.size(), 4u);
  EXPECT_GE(button[1], previousBottom);
  EXPECT_LE(button[3], screen.height);

  const std::vector<int> wifi = Numbers(log, "row 301");
  ASSERT_TRUE(device.Tap((wifi[0] + wifi[2]) / 2, (wifi[1] + wifi[3]) / 2));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "check 301 1"); })) << Whole(log);
  EXPECT_FALSE(device.Screenshot("dialog").empty());
  // Enter is OK: one press, once the dialog has drawn its answer to the tap.
  // The key goes down once a window takes it; its release may find no window
  // when the press has already ended the program.
  auto ended = [&] { return HasLine(log, "result 1"); };
  ASSERT_TRUE(device.WaitForStillScreen());
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return device.Key("return down"); })) << Whole(log);
  device.Key("return up");
  ASSERT_TRUE(ScreenDriver::WaitUntil(ended, 20000)) << Whole(log);
  EXPECT_TRUE(HasLine(log, "ok"));
  EXPECT_EQ(device.WaitExit(app), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, DialogE2E,
                         ::testing::Values(plat::ScreenSettings{240, 320, 96}, plat::ScreenSettings{480, 640, 192},
                                           plat::ScreenSettings{320, 240, 96}));

}  // namespace
