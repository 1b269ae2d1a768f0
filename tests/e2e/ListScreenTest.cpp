// A list of 10,000 rows in the layout view of a real program on the device:
// flicked far down with the finger, it glides on and comes to rest; a tap
// opens the row drawn under the finger, the arrow key moves the selection and
// Enter opens the selected row; a sideways swipe to the right is "Back"; a
// finger held still is the hold gesture on its row.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ScreenDriver.h"

#ifndef ORV_LIST_APP
#define ORV_LIST_APP "orv-listapp"
#endif

namespace {

using orvtest::HasLine;
using orvtest::ScreenDriver;

// The words of the last log line that starts with the words of prefix.
std::optional<std::vector<std::string>> LastLine(const std::string& log, const std::string& prefix) {
  std::optional<std::vector<std::string>> found;
  for (const std::string& line : orvtest::ReadLines(log)) {
    if (line.rfind(prefix + " ", 0) != 0) continue;
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    found = words;
  }
  return found;
}

int Int(const std::string& word) { return std::atoi(word.c_str()); }

// Where the list stands once a press has been handled to its end.
struct Settled {
  int presses = -1, scroll = 0, first = -1, top = 0;
};

// An "open" line: the row and where it was drawn.
struct Opened {
  int row = -1, top = 0, bottom = 0;
  std::string how;
};

class ListScreenTest : public ::testing::TestWithParam<plat::ScreenSettings> {
 protected:
  ListScreenTest() : device_(GetParam()) {}
  void SetUp() override {
    ASSERT_TRUE(device_.Ready());
    log_ = device_.Device().Scratch() + "/listapp.log";
    ASSERT_GT(device_.Launch(ORV_LIST_APP, {"--log", log_}), 0);
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log_, "ready", true); }, 20000));
    const auto ready = LastLine(log_, "ready");
    ASSERT_TRUE(ready && ready->size() == 5);
    width_ = Int((*ready)[1]);
    height_ = Int((*ready)[2]);
    pitch_ = Int((*ready)[3]);
    ASSERT_TRUE(device_.WaitForWindow("OrvListApp").has_value());
  }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& line : orvtest::ReadLines(log_)) std::fprintf(stderr, "  log: %s\n", line.c_str());
  }
  std::string Name(const std::string& what) const {
    return what + "_" + std::to_string(width_) + "x" + std::to_string(height_);
  }

  // Waits until the program has handled the given number of presses.
  std::optional<Settled> SettledAfter(int presses) {
    std::optional<Settled> s;
    ScreenDriver::WaitUntil(
        [&] {
          const auto w = LastLine(log_, "settled");
          if (!w || w->size() != 5 || Int((*w)[1]) < presses) return false;
          s = Settled{Int((*w)[1]), Int((*w)[2]), Int((*w)[3]), Int((*w)[4])};
          return true;
        },
        30000);
    return s;
  }
  std::optional<Opened> WaitOpened(int count) {
    std::optional<Opened> o;
    ScreenDriver::WaitUntil([&] {
      int n = 0;
      for (const std::string& line : orvtest::ReadLines(log_)) n += line.rfind("open ", 0) == 0;
      if (n < count) return false;
      const auto w = LastLine(log_, "open");
      if (!w || w->size() != 5) return false;
      o = Opened{Int((*w)[1]), Int((*w)[2]), Int((*w)[3]), (*w)[4]};
      return true;
    });
    return o;
  }
  // Presses the key until the program has taken it (its "key <vk>" line grew in number).
  bool PressKey(const std::string& name, int vk) {
    auto handled = [&] {
      int n = 0;
      for (const std::string& line : orvtest::ReadLines(log_)) n += line.rfind("key " + std::to_string(vk) + " ", 0) == 0;
      return n;
    };
    const int before = handled();
    return ScreenDriver::WaitUntil([&] { return handled() > before || device_.Key(name); }) &&
           ScreenDriver::WaitUntil([&] { return handled() > before; });
  }
  // The rows drawn on the screen while the list stands as s.
  void ExpectConsistent(const Settled& s) {
    EXPECT_EQ(s.first, s.scroll / pitch_) << "the first row drawn is the one at the scroll position";
    EXPECT_EQ(s.top, s.first * pitch_ - s.scroll);
  }
  // A row drawn selected (orange under the content's white selection veil)
  // against the blue-grey rows.
  static bool Orange(plat::DWORD rgb) {
    const int r = (rgb >> 16) & 0xFF, b = rgb & 0xFF;
    return r > 200 && r - b > 60;
  }
  plat::DWORD At(const plat::PixelImage& img, int x, int y) {
    return img.pixels[static_cast<std::size_t>(y) * img.width + x];
  }

  ScreenDriver device_;
  std::string log_;
  int width_ = 0, height_ = 0, pitch_ = 0;
};

TEST_P(ListScreenTest, FlingsGlideFarAndTheTappedRowIsTheOneUnderTheFinger) {
  const plat::ScreenSettings screen = GetParam();
  EXPECT_EQ(width_, screen.width);
  EXPECT_EQ(height_, screen.height);
  // 20 points a row and the engraved separator, 2 points.
  EXPECT_EQ(pitch_, 20 * screen.dpi / 96 + 2 * ((screen.dpi + 48) / 96));
  EXPECT_TRUE(HasLine(log_, "ready " + std::to_string(width_) + " " + std::to_string(height_) + " " +
                                std::to_string(pitch_) + " 10000"));
  const std::optional<Settled> start = SettledAfter(0);
  ASSERT_TRUE(start);
  EXPECT_EQ(start->scroll, 0);
  EXPECT_EQ(start->first, 0);
  EXPECT_FALSE(device_.Screenshot(Name("top")).empty());

  // Four quick flicks upwards: the finger travels 60% of the screen each time.
  const int x = width_ / 2;
  const int from = height_ * 85 / 100, to = height_ * 25 / 100;
  constexpr int kFlicks = 4;
  for (int i = 0; i < kFlicks; ++i) ASSERT_TRUE(device_.Drag(x, from, x, to, 120));
  const std::optional<Settled> flung = SettledAfter(kFlicks);
  ASSERT_TRUE(flung) << "the list did not come to rest";
  ExpectConsistent(*flung);
  const int fingerTravel = kFlicks * (from - to);
  std::printf("flung: scroll %d, first row %d, finger %d\n", flung->scroll, flung->first, fingerTravel);
  EXPECT_GT(flung->scroll, 2 * fingerTravel) << "the list glides on well past the finger's way";
  EXPECT_GT(flung->first, 60) << "many rows down the list";
  EXPECT_LT(flung->first, 10000);
  EXPECT_FALSE(device_.Screenshot(Name("flung")).empty());

  // A tap in the middle of a row in the middle of the screen.
  const int middle = height_ / 2;
  const int row = flung->first + (middle - flung->top) / pitch_;
  const int rowTop = flung->top + (row - flung->first) * pitch_;
  const int tapY = rowTop + pitch_ / 2 - 1;
  ASSERT_TRUE(device_.Tap(x, tapY));
  const std::optional<Opened> tapped = WaitOpened(1);
  ASSERT_TRUE(tapped) << "the tap opened nothing";
  EXPECT_EQ(tapped->row, row);
  EXPECT_EQ(tapped->how, "tap");
  EXPECT_LE(tapped->top, tapY);
  EXPECT_GT(tapped->bottom, tapY) << "the row opened is the one drawn under the finger";
  EXPECT_TRUE(HasLine(log_, "select " + std::to_string(row)));
  EXPECT_FALSE(HasLine(log_, "context", true)) << "a tap is no hold";
  const std::optional<Settled> afterTap = SettledAfter(kFlicks + 1);
  ASSERT_TRUE(afterTap);
  EXPECT_EQ(afterTap->scroll, flung->scroll) << "a tap does not scroll";
  EXPECT_FALSE(device_.Screenshot(Name("tapped")).empty());

  // The opened row let the screen's selection go: the first arrow key brings
  // it back to the list at that row, the next one moves it a row down.
  ASSERT_TRUE(PressKey("down", 0x28));
  auto keyed = LastLine(log_, "key 40");
  ASSERT_TRUE(keyed && keyed->size() == 4);
  EXPECT_EQ(Int((*keyed)[2]), row);
  ASSERT_TRUE(PressKey("down", 0x28));
  keyed = LastLine(log_, "key 40");
  ASSERT_TRUE(keyed && keyed->size() == 4);
  EXPECT_EQ(Int((*keyed)[2]), row + 1);
  EXPECT_EQ(Int((*keyed)[3]), flung->scroll) << "the next row was on the screen already";
  EXPECT_FALSE(device_.Screenshot(Name("keyed")).empty());
  plat::PixelImage shot = device_.ComposedScreen();
  ASSERT_EQ(shot.width, width_);
  EXPECT_TRUE(Orange(At(shot, width_ - 4, tapY + pitch_))) << std::hex << At(shot, width_ - 4, tapY + pitch_);
  EXPECT_FALSE(Orange(At(shot, width_ - 4, tapY))) << "only the selected row is drawn selected";
  ASSERT_TRUE(PressKey("enter", 0x0D));
  const std::optional<Opened> entered = WaitOpened(2);
  ASSERT_TRUE(entered);
  EXPECT_EQ(entered->row, row + 1);
  EXPECT_EQ(entered->how, "key");
  EXPECT_EQ(entered->top, rowTop + pitch_);
  EXPECT_FALSE(HasLine(log_, "context", true)) << "Enter opens the row, it shows no menu";

  // A swipe to the right is "Back" for the window holding the view.
  ASSERT_TRUE(device_.Drag(width_ / 8, middle, width_ * 7 / 8, middle, 150));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log_, "back"); }));
  const std::optional<Settled> swiped = SettledAfter(kFlicks + 2);
  ASSERT_TRUE(swiped);
  EXPECT_EQ(swiped->scroll, flung->scroll) << "a sideways swipe does not scroll";

  // A finger held still on a row is the hold gesture on that row (held far
  // longer than the hold time, so a busy machine still sees a hold).
  EXPECT_FALSE(HasLine(log_, "context", true));
  ASSERT_TRUE(device_.Hold(x, tapY - pitch_, 2500));
  EXPECT_TRUE(ScreenDriver::WaitUntil([&] { return HasLine(log_, "context " + std::to_string(row - 1)); }));
}

INSTANTIATE_TEST_SUITE_P(Screens, ListScreenTest,
                         ::testing::Values(plat::ScreenSettings{240, 320, 96}, plat::ScreenSettings{480, 640, 192}),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

}  // namespace
