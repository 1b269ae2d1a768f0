// The controls as a whole program uses them: a dialog with a menu bar on the
// device's screen (the display program, headless), driven by taps, keys and
// typed text through the display's control interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/ScreenDriver.h"

#ifndef ORV_MENU_APP
#define ORV_MENU_APP "orv-menuapp"
#endif

namespace {

using orvtest::HasLine;
using orvtest::ScreenDriver;

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  int X() const { return (left + right) / 2; }
  int Y() const { return (top + bottom) / 2; }
};

class ControlsScreenTest : public ::testing::TestWithParam<plat::ScreenSettings> {
 protected:
  ControlsScreenTest() : device_(GetParam()) {}
  void SetUp() override {
    ASSERT_TRUE(device_.Ready());
    log_ = device_.Device().Scratch() + "/menuapp.log";
    ASSERT_GT(device_.Launch(ORV_MENU_APP, {"--log", log_}), 0);
    ASSERT_TRUE(Logged("ready")) << "the program did not start";
    for (const std::string& line : orvtest::ReadLines(log_)) {
      std::istringstream in(line);
      std::string word, name;
      Box b;
      if (in >> word >> name >> b.left >> b.top >> b.right >> b.bottom && word == "rect") rects_[name] = b;
    }
    ASSERT_EQ(rects_.size(), 6u);
    scale_ = GetParam().dpi / 96;
  }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& line : orvtest::ReadLines(log_)) std::fprintf(stderr, "  log: %s\n", line.c_str());
  }
  bool Logged(const std::string& line, bool prefix = false) {
    return ScreenDriver::WaitUntil([&] { return HasLine(log_, line, prefix); });
  }
  // The visible windows of a class (menus "#32768", drop lists "ComboLBox").
  std::vector<plat::display::WindowLine> Popups(const std::string& cls) {
    std::vector<plat::display::WindowLine> out;
    for (const auto& w : device_.Windows())
      if (w.visible && w.cls == cls) out.push_back(w);
    return out;
  }
  bool PopupCount(const std::string& cls, std::size_t n) {
    return ScreenDriver::WaitUntil([&] { return Popups(cls).size() == n; });
  }
  // The middle of a menu's row (24 px a row at 96 DPI, a 1-px frame).
  std::pair<int, int> Row(const plat::display::WindowLine& menu, int row) const {
    return {(menu.left + menu.right) / 2, menu.top + scale_ + row * 24 * scale_ + 12 * scale_};
  }
  std::string Name(const std::string& what) const { return what + "-" + std::to_string(GetParam().dpi); }

  ScreenDriver device_;
  std::string log_;
  std::map<std::string, Box> rects_;
  int scale_ = 1;
};

TEST_P(ControlsScreenTest, DialogDrivenByTapsAndKeys) {
  // Typing into the edit that has the focus.
  ASSERT_TRUE(device_.Text("news"));
  EXPECT_TRUE(Logged("text news"));
  // A tap on a button clicks it (and gives it the focus: enter clicks it again).
  ASSERT_TRUE(device_.Tap(rects_["press"].X(), rects_["press"].Y()));
  EXPECT_TRUE(Logged("command 110 0"));
  // Back in the edit, enter presses the default button.
  ASSERT_TRUE(device_.Tap(rects_["name"].X(), rects_["name"].Y()));
  ASSERT_TRUE(device_.Key("enter"));
  EXPECT_TRUE(Logged("command 1 0"));
  // The drop-down list: tapped open, its third item tapped.
  const Box& combo = rects_["schedule"];
  ASSERT_TRUE(device_.Tap(combo.X(), combo.Y()));
  ASSERT_TRUE(PopupCount("ComboLBox", 1));
  EXPECT_FALSE(device_.Screenshot(Name("dialog-droplist")).empty());
  auto list = Popups("ComboLBox")[0];
  int rowHeight = (list.bottom - list.top - 2 * scale_) / 4;
  ASSERT_TRUE(device_.Tap((list.left + list.right) / 2, list.top + scale_ + 2 * rowHeight + rowHeight / 2));
  EXPECT_TRUE(Logged("combo 2"));
  EXPECT_TRUE(PopupCount("ComboLBox", 0));
  // Keys on the focused list: down selects the next item.
  ASSERT_TRUE(device_.Key("down"));
  EXPECT_TRUE(Logged("combo 3"));
}

TEST_P(ControlsScreenTest, PopUpMenuReturnsTheTappedCommand) {
  const Box& here = rects_["menuhere"];
  ASSERT_TRUE(device_.Tap(here.X(), here.Y()));
  ASSERT_TRUE(PopupCount("#32768", 1));
  EXPECT_FALSE(device_.Screenshot(Name("popup-menu")).empty());
  auto menu = Popups("#32768")[0];
  auto disabled = Row(menu, 2);
  ASSERT_TRUE(device_.Tap(disabled.first, disabled.second));  // greyed: nothing happens
  auto del = Row(menu, 1);
  ASSERT_TRUE(device_.Tap(del.first, del.second));
  EXPECT_TRUE(Logged("popup 12"));
  EXPECT_TRUE(PopupCount("#32768", 0));
  // A tap outside ends it with nothing chosen.
  ASSERT_TRUE(device_.Tap(here.X(), here.Y()));
  ASSERT_TRUE(PopupCount("#32768", 1));
  ASSERT_TRUE(device_.Tap(rects_["press"].X(), rects_["press"].Y()));
  EXPECT_TRUE(Logged("popup 0"));
  EXPECT_FALSE(HasLine(log_, "command 110 0"));  // the tap that closed the menu pressed nothing
}

TEST_P(ControlsScreenTest, SoftKeysOpenTheirMenusAndCommandsArrive) {
  ASSERT_TRUE(device_.Key("soft1"));
  EXPECT_TRUE(Logged("command 1001 0"));
  ASSERT_TRUE(device_.Key("soft2"));
  ASSERT_TRUE(PopupCount("#32768", 1));
  EXPECT_TRUE(Logged("initmenu"));
  EXPECT_FALSE(device_.Screenshot(Name("softkey-menu")).empty());
  // The cascade by a tap, its item by a tap.
  auto menu = Popups("#32768")[0];
  int moreY = menu.top + scale_ + 2 * 24 * scale_ + 7 * scale_ + 12 * scale_;
  ASSERT_TRUE(device_.Tap((menu.left + menu.right) / 2, moreY));
  ASSERT_TRUE(PopupCount("#32768", 2));
  auto cascade = Popups("#32768")[0];
  auto gamma = Row(cascade, 0);
  ASSERT_TRUE(device_.Tap(gamma.first, gamma.second));
  EXPECT_TRUE(Logged("command 2003 0"));
  EXPECT_TRUE(PopupCount("#32768", 0));
  // Back closes an open menu; with none open it reaches the dialog as its hot key.
  ASSERT_TRUE(device_.Key("soft2"));
  ASSERT_TRUE(PopupCount("#32768", 1));
  ASSERT_TRUE(device_.Key("back"));
  EXPECT_TRUE(PopupCount("#32768", 0));
  EXPECT_FALSE(HasLine(log_, "hotkey", true));
  ASSERT_TRUE(device_.Key("back"));
  EXPECT_TRUE(Logged("hotkey 0 27"));
  // The right soft key's menu by a tap on the bar, "Alpha" by keys.
  const Box& bar = rects_["bar"];
  ASSERT_TRUE(device_.Tap(bar.right - 10 * scale_, bar.Y()));
  ASSERT_TRUE(PopupCount("#32768", 1));
  ASSERT_TRUE(device_.Key("down"));
  ASSERT_TRUE(device_.Key("enter"));
  EXPECT_TRUE(Logged("command 2001 0"));
}

INSTANTIATE_TEST_SUITE_P(Screens, ControlsScreenTest,
                         ::testing::Values(plat::ScreenSettings{240, 320, 96}, plat::ScreenSettings{480, 640, 192}),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "dpi"; });

}  // namespace
