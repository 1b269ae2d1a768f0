// The common controls in a real program on the device, driven through the
// display program: a check-box list toggled by taps and keys, a tree filled
// when its groups are expanded by taps, and a property sheet whose second page
// refuses the first Done.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <cstdio>
#include <string>

#include "tests/support/ScreenDriver.h"

#ifndef ORV_CONTROLS_APP
#define ORV_CONTROLS_APP "orv-controlsapp"
#endif

namespace {

using orvtest::HasLine;
using orvtest::ReadLines;
using orvtest::ScreenDriver;

std::string LogPath(const ScreenDriver& d, const std::string& name) { return d.Device().Scratch() + "/" + name + ".log"; }

// The numbers after prefix on the first line that starts with it.
std::vector<int> Numbers(const std::string& log, const std::string& prefix) {
  for (const std::string& line : ReadLines(log)) {
    if (line.rfind(prefix + " ", 0) != 0) continue;
    std::vector<int> out;
    std::size_t at = prefix.size();
    while (at < line.size()) {
      std::size_t used = 0;
      out.push_back(std::stoi(line.substr(at), &used));
      at += used;
    }
    return out;
  }
  return {};
}

class CommonControlsE2E : public ::testing::TestWithParam<int> {
 protected:
  plat::ScreenSettings Screen() const { return plat::ScreenSettings{240 * GetParam() / 96, 320 * GetParam() / 96, GetParam()}; }
};

TEST_P(CommonControlsE2E, CheckListTogglesByTapsOnTheBoxAndByTheActionKey) {
  ScreenDriver device(Screen());
  ASSERT_TRUE(device.Ready());
  const std::string log = LogPath(device, "checklist");
  device.Launch(ORV_CONTROLS_APP, {"--log", log, "--show", "checklist"});
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "ready"); }));
  const std::vector<int> row1 = Numbers(log, "row 1");
  const std::vector<int> row3 = Numbers(log, "row 3");
  ASSERT_EQ(row1.size(), 4u);
  ASSERT_EQ(row3.size(), 4u);
  const int box = 8 * GetParam() / 96;  // inside the check box at the row's left
  ASSERT_TRUE(device.Tap(box, (row1[1] + row1[3]) / 2));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "check 1 2"); }));
  // A tap on a label selects without ticking; the action key ticks it.
  ASSERT_TRUE(device.Tap(row3[2] / 2, (row3[1] + row3[3]) / 2));
  ASSERT_TRUE(device.Key("action"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "check 3 2"); }));
  ASSERT_TRUE(device.Key("down"));
  ASSERT_TRUE(device.Key("0x20"));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "check 4 2"); }));
  ASSERT_TRUE(device.Tap(box, (row1[1] + row1[3]) / 2));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "check 1 1"); }));
  EXPECT_FALSE(HasLine(log, "check 0 2"));
  EXPECT_FALSE(device.Screenshot("checklist").empty());
}

TEST_P(CommonControlsE2E, TreeLoadsAGroupsFeedsWhenItsButtonIsTapped) {
  ScreenDriver device(Screen());
  ASSERT_TRUE(device.Ready());
  const std::string log = LogPath(device, "tree");
  device.Launch(ORV_CONTROLS_APP, {"--log", log, "--show", "tree"});
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "ready"); }));
  const std::vector<int> second = Numbers(log, "button 1");
  ASSERT_EQ(second.size(), 2u);
  ASSERT_TRUE(device.Tap(second[0], second[1]));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "load 1") && HasLine(log, "expanded 1"); }));
  // The first group's button has not moved; its feeds come when it is tapped.
  const std::vector<int> first = Numbers(log, "button 0");
  ASSERT_EQ(first.size(), 2u);
  ASSERT_TRUE(device.Tap(first[0], first[1]));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "load 0"); }));
  EXPECT_FALSE(device.Screenshot("tree").empty());
  ASSERT_TRUE(device.Tap(first[0], first[1]));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "collapsed 0"); }));
  EXPECT_FALSE(HasLine(log, "load 2"));
}

TEST_P(CommonControlsE2E, SheetStaysOnThePageThatRefusedApplyUntilItAgrees) {
  ScreenDriver device(Screen());
  ASSERT_TRUE(device.Ready());
  const std::string log = LogPath(device, "sheet");
  const pid_t app = device.Launch(ORV_CONTROLS_APP, {"--log", log, "--show", "sheet"});
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "setactive 0"); }));
  auto sheet = device.WaitForWindow("#32770");
  ASSERT_TRUE(sheet.has_value());
  // The tabs are along the bottom: the second tab sits a little right of the first.
  const int tabY = Screen().height - 8 * GetParam() / 96;
  ASSERT_TRUE(device.Tap(100 * GetParam() / 96, tabY));
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "setactive 1"); }));
  EXPECT_FALSE(device.Screenshot("sheet").empty());
  auto logText = [&] { std::ifstream f(log); std::stringstream b; b << f.rdbuf(); return b.str(); };
  ASSERT_TRUE(device.Key("return")) << logText();  // Done
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "refused 1"); })) << logText();
  EXPECT_FALSE(HasLine(log, "result 1"));
  // Done again: the sheet closes on the key's down and the program ends.
  ASSERT_TRUE(device.Key("return")) << logText();
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "result 1"); })) << logText();
  EXPECT_TRUE(HasLine(log, "apply 1"));
  EXPECT_EQ(device.WaitExit(app), 0);
}

INSTANTIATE_TEST_SUITE_P(Dpi, CommonControlsE2E, ::testing::Values(96, 192));

}  // namespace
