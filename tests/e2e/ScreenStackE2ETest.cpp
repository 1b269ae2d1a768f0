// Layout screens in a real program on the device: the first screen shows,
// return pushes the second with the push transition, escape pops back to the
// first with the push from the other side, and escape on the first ends the
// program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/ScreenDriver.h"

#ifndef ORV_SCREENS_APP
#define ORV_SCREENS_APP "orv-screensapp"
#endif

namespace {

using orvtest::HasLine;
using orvtest::ScreenDriver;

std::string Whole(const std::string& path) {
  std::ifstream f(path);
  std::stringstream b;
  b << f.rdbuf();
  return b.str();
}

// The colour of a screen pixel as 0xRRGGBB, within RGB565's loss.
plat::DWORD At(const plat::PixelImage& img, int x, int y) {
  return img.pixels[static_cast<std::size_t>(y) * img.width + x];
}
bool Near(plat::DWORD got, plat::DWORD want) {
  for (int shift : {0, 8, 16}) {
    const int a = static_cast<int>((got >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
    if (std::abs(a - b) > 8) return false;
  }
  return true;
}

// The frames the transition of the last "shown <screen>" line drew.
int FramesOf(const std::string& log, const std::string& screen) {
  int frames = -1;
  for (const std::string& line : orvtest::ReadLines(log)) {
    if (line.rfind("shown " + screen + " ", 0) == 0) frames = std::atoi(line.c_str() + 7 + screen.size());
  }
  return frames;
}

class ScreenStackE2E : public ::testing::TestWithParam<plat::ScreenSettings> {
 protected:
  // The screen as the display composes it: the first screen (red, a white
  // square in the upper middle) or the second (blue, a green panel below).
  void ExpectScreen(ScreenDriver& device, bool second, const std::string& shot) {
    const plat::ScreenSettings s = GetParam();
    EXPECT_FALSE(device.Screenshot(shot).empty());
    const plat::PixelImage img = device.ComposedScreen();
    ASSERT_EQ(img.width, s.width);
    ASSERT_EQ(img.height, s.height);
    const plat::DWORD back = second ? 0x0000FF : 0xFF0000;
    for (auto [x, y] : {std::pair{2, 2}, {s.width - 3, s.height - 3}, {2, s.height / 2}}) {
      EXPECT_TRUE(Near(At(img, x, y), back)) << shot << " " << x << "," << y << " " << std::hex << At(img, x, y);
    }
    const int squareY = s.height / 4 + s.height / 8, panelY = s.height / 2 + s.height / 8;
    const plat::DWORD square = At(img, s.width / 2, squareY), panel = At(img, s.width / 2, panelY);
    EXPECT_TRUE(Near(square, second ? 0x0000FF : 0xFFFFFF)) << shot << " square " << std::hex << square;
    EXPECT_TRUE(Near(panel, second ? 0x00FF00 : 0xFF0000)) << shot << " panel " << std::hex << panel;
  }
};

TEST_P(ScreenStackE2E, ReturnPushesTheSecondScreenAndEscapePopsBack) {
  const plat::ScreenSettings screen = GetParam();
  const std::string tag = std::to_string(screen.width) + "x" + std::to_string(screen.height);
  ScreenDriver device(screen);
  ASSERT_TRUE(device.Ready());
  const std::string log = device.Device().Scratch() + "/screens.log";
  const pid_t app = device.Launch(ORV_SCREENS_APP, {"--log", log});
  ASSERT_GT(app, 0);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "ready", true); })) << Whole(log);
  EXPECT_TRUE(HasLine(log, "ready " + std::to_string(screen.width) + " " + std::to_string(screen.height)))
      << Whole(log);
  ASSERT_TRUE(device.WaitForWindow("OrvScreensApp").has_value());
  ExpectScreen(device, false, "first_" + tag);

  // A press is pressed again only while the program has not begun the step.
  auto press = [&](const std::string& key, const std::string& began) {
    return ScreenDriver::WaitUntil([&] { return HasLine(log, began, true) || device.Key(key); });
  };
  ASSERT_TRUE(press("return", "push")) << Whole(log);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "shown second", true); })) << Whole(log);
  EXPECT_TRUE(HasLine(log, "push 1")) << "the push transition ran\n" << Whole(log);
  EXPECT_GT(FramesOf(log, "second"), 0) << Whole(log);
  ExpectScreen(device, true, "second_" + tag);

  ASSERT_TRUE(press("escape", "pop")) << Whole(log);
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log, "shown first", true); })) << Whole(log);
  EXPECT_TRUE(HasLine(log, "pop 1")) << Whole(log);
  EXPECT_GT(FramesOf(log, "first"), 0) << Whole(log);
  ExpectScreen(device, false, "popped_" + tag);

  // Escape on the first screen ends the program: one press. The key goes
  // down once a window takes it; its release may find no window when the
  // press has already ended the program.
  auto ended = [&] { return HasLine(log, "end 0"); };
  ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return device.Key("escape down"); })) << Whole(log);
  device.Key("escape up");
  ASSERT_TRUE(ScreenDriver::WaitUntil(ended, 20000)) << Whole(log);
  EXPECT_EQ(device.WaitExit(app), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenStackE2E,
                         ::testing::Values(plat::ScreenSettings{240, 320, 96}, plat::ScreenSettings{480, 640, 192}));

}  // namespace
