// A person at the device, for whole-program journeys: finds the main
// program's windows, the list rows and menu rows the screen shows, and waits
// until the screen has drawn its answer to what was done.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/controls/MenuBar.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"

namespace orvtest {

using plat::display::WindowLine;

class DeviceUser {
 public:
  explicit DeviceUser(ScreenDriver& device) : device_(device) {}

  ScreenDriver& Device() { return device_; }
  // A length of 96-dpi units on this screen.
  int Px(int v) const { return (v * device_.Screen().dpi + 48) / 96; }

  // The first visible window of a process (any when pid is 0) of the class
  // and, when given, the title.
  std::optional<WindowLine> Visible(const std::string& cls, const std::string& title = "", pid_t pid = 0) {
    for (const WindowLine& w : device_.Windows())
      if (w.visible && w.cls == cls && (title.empty() || w.title == title) && (pid == 0 || w.pid == pid) &&
          w.right > w.left)
        return w;
    return std::nullopt;
  }
  // The program's interface window (not its hidden window, bars or menus),
  // with that caption when one is given.
  std::optional<WindowLine> MainWindow(pid_t program, const std::string& title = "") {
    for (const WindowLine& w : device_.Windows()) {
      if (w.pid != program || !w.visible || w.cls == kHiddenClass ||
          w.cls == plat::Utf16ToUtf8(plat::kMenuBarClassName) || w.cls == "#32768" || w.right - w.left < 100)
        continue;
      if (!title.empty() && w.title != title) continue;
      return w;
    }
    return std::nullopt;
  }
  // The program's soft-key bar.
  std::optional<WindowLine> MenuBar(pid_t program) {
    return Visible(plat::Utf16ToUtf8(plat::kMenuBarClassName), "", program);
  }
  // Waits until the program's interface window shows that caption (any when "").
  bool WaitForCaption(pid_t program, const std::string& title, int boundMs = 20000) {
    return ScreenDriver::WaitUntil([&] { return MainWindow(program, title).has_value(); }, boundMs);
  }
  // Starts the installed main program as a person does; its pid once its
  // interface window shows that caption (any when ""), else -1 with the
  // window list reported.
  pid_t StartMainProgram(const std::string& caption = "", int boundMs = 30000) {
    const pid_t program = device_.Launch(MainProgramPath(), {});
    if (program <= 0) return -1;
    if (WaitForCaption(program, caption, boundMs)) return program;
    ADD_FAILURE() << "the main program's window " << (caption.empty() ? "" : "\"" + caption + "\" ")
                  << "did not show:\n" << WindowList();
    return -1;
  }

  // The screen is in place: no transition runs and three looks in a row see
  // the same picture. The caller has first waited for what the new screen
  // shows (its caption, its window), so the old screen cannot pass for it.
  bool Settled() { return device_.WaitForStillScreen(); }
  // A key pressed and released, and the screen's answer drawn: a picture
  // other than the one before the key, in place.
  bool KeyAndSettle(const std::string& key) {
    const std::vector<plat::DWORD> before = device_.ComposedScreen().pixels;
    return device_.Key(key) && device_.WaitForStillScreen(&before);
  }

  // The list rows the screen shows inside the window, between its columns
  // left and right (the window less its scroll bar when not given): bands
  // between the thin separator lines the lists draw across each row's foot.
  // A separator line differs from what lies a few pixels above and below it
  // almost all the way across. Each row as its top and bottom screen rows.
  std::vector<std::pair<int, int>> ListRows(const WindowLine& w, int left = -1, int right = -1) {
    const plat::PixelImage screen = device_.ComposedScreen();
    if (left < 0) left = w.left + Px(2);
    if (right < 0) right = w.right - Px(16);
    left = std::max(0, left);
    right = std::min(screen.width, right);
    const auto at = [&](int x, int y) { return screen.pixels[static_cast<std::size_t>(y) * screen.width + x]; };
    const int reach = Px(3);
    std::vector<int> lines;
    for (int y = std::max(0, static_cast<int>(w.top)) + reach; y + reach < std::min(screen.height, static_cast<int>(w.bottom)); ++y) {
      int differs = 0;
      for (int x = left; x < right; ++x)
        differs += Differ(at(x, y), at(x, y - reach)) && Differ(at(x, y), at(x, y + reach));
      if (right - left > Px(40) && differs * 10 >= (right - left) * 9) lines.push_back(y);
    }
    std::vector<std::pair<int, int>> rows;
    int top = w.top, last = -10;
    for (int line : lines) {
      if (line - last > 1 && line - top >= Px(20)) rows.push_back({top, line});
      top = line + 1;
      last = line;
    }
    return rows;
  }
  // Taps the middle of list row i as the screen shows it (between the
  // columns left and right when given, else across the window); false when
  // the screen shows no such row.
  bool TapRow(const WindowLine& w, int i, int left = -1, int right = -1) {
    const auto rows = ListRows(w, left, right);
    if (i < 0 || i >= static_cast<int>(rows.size())) return false;
    const int x = left >= 0 && right > left ? (left + right) / 2 : (w.left + w.right) / 2;
    return device_.Tap(x, (rows[static_cast<std::size_t>(i)].first + rows[static_cast<std::size_t>(i)].second) / 2);
  }

  // Row i of an open pop-up menu (24 units a row inside a 1-unit frame).
  plat::POINT MenuRow(const WindowLine& menu, int row) const {
    return plat::POINT{(menu.left + menu.right) / 2, menu.top + Px(1) + row * Px(24) + Px(12)};
  }
  std::optional<WindowLine> WaitForMenu(bool shown = true) {
    std::optional<WindowLine> menu;
    ScreenDriver::WaitUntil([&] { return (menu = Visible("#32768")).has_value() == shown; }, 10000);
    return menu;
  }

  // Everything on the window list, for a failure's message.
  std::string WindowList() {
    std::string text;
    for (const WindowLine& w : device_.Windows())
      text += "  " + w.cls + " \"" + w.title + "\" pid " + std::to_string(w.pid) + " " + std::to_string(w.left) + "," +
              std::to_string(w.top) + "-" + std::to_string(w.right) + "," + std::to_string(w.bottom) +
              (w.visible ? " shown" : "") + "\n";
    return text;
  }

 private:
  static bool Differ(plat::DWORD a, plat::DWORD b) {
    const int d = std::abs(static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF)) +
                  std::abs(static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF)) +
                  std::abs(static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF));
    return d > 24;
  }

  ScreenDriver& device_;
};

}  // namespace orvtest
