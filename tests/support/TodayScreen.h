// The device's Today screen for whole-program tests: the Today screen host
// with the Today item, what the item notes in the debug log about what it
// shows, and the item's options program as a person meets it (its menu,
// tabs, combo boxes and the done button on the top bar).
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/device/DeviceInstall.h"
#include "core/ProcessGlobals.h"
#include "core/VORegistry.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/windows/Windows.h"
#include "tests/support/FeedChannels.h"
#include "tests/support/MainProgramE2E.h"
#include "tests/support/ScreenDriver.h"

namespace orvtest {

class TodayScreen {
 public:
  explicit TodayScreen(ScreenDriver& device)
      : device_(device),
        log_(device.Device().FsRoot() + "/Windows/Orv News.exe_log.txt"),
        hostLog_(device.Device().Scratch() + "/host.log") {}

  static std::string HostProgram() { return std::string(ORV_PROGRAM_DIR) + "/orv-todayhost"; }

  // The product installed (no first-run channels) with the device settings
  // the item's notes need: the debug log on, the shown article held still.
  void Install() {
    ASSERT_TRUE(InstallMainProgram());
    ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", 1));
    ASSERT_TRUE(TodayKey().SetDWORD(u"ViewSimple.AutoScrollSpeed", 0));
  }
  // Starts the Today screen host; its pid once the item's window exists.
  pid_t StartHost() {
    const pid_t host = device_.Launch(HostProgram(), {"--log", hostLog_});
    if (!device_.WaitForWindow("DesktopExplorerWindow", 20000)) return -1;
    const bool made = ScreenDriver::WaitUntil([&] {
      for (const std::string& line : ReadLines(hostLog_))
        if (line.rfind("item ", 0) == 0 && line != "item 0") return true;
      return false;
    }, 20000);
    return made ? host : -1;
  }
  std::string HostLog() const {
    std::string text;
    for (const std::string& line : ReadLines(hostLog_)) text += "  host: " + line + "\n";
    return text;
  }
  // The item noted this line in the debug log.
  bool Shows(const std::string& what) const {
    for (const std::string& line : ReadLines(log_))
      if (line.find("** Today " + what) != std::string::npos) return true;
    return false;
  }
  static CVORegistry TodayKey() {
    const std::u16string today = GetTodayRegistryKey();
    return CVORegistry(GetSettingsRootKey(), today.c_str(), true, true, plat::KEY_ALL_ACCESS);
  }

  int Px(int v) const { return (v * device_.Screen().dpi + 48) / 96; }
  std::optional<plat::display::WindowLine> Visible(const std::string& cls, const std::string& title = "") {
    for (const auto& w : device_.Windows())
      if (w.visible && w.cls == cls && (title.empty() || w.title == title) && w.right > w.left) return w;
    return std::nullopt;
  }
  bool WaitVisible(const std::string& cls, bool shown) {
    return ScreenDriver::WaitUntil([&] { return Visible(cls).has_value() == shown; }, 20000);
  }
  // A point of the item: under the desktop's date line, screen wide (96-dpi units).
  plat::POINT ItemPoint(int x, int y) {
    auto desktop = device_.WaitForWindow("DesktopExplorerWindow");
    if (!desktop) return plat::POINT{-1, -1};
    const int dpi = device_.Screen().dpi;
    return plat::POINT{desktop->left + x * dpi / 96, desktop->top + (20 + y) * dpi / 96};
  }
  // The Today screen's Start bar is the topmost window at its place.
  bool StartBarOnTop() {
    const int x = Px(30), y = Px(10);
    for (const auto& w : device_.Windows())  // topmost first
      if (w.visible && x >= w.left && x < w.right && y >= w.top && y < w.bottom) return w.cls == "HHTaskBar";
    return false;
  }

  // ---- The options program --------------------------------------------------
  std::optional<plat::display::WindowLine> Sheet() { return Visible("#32770", "Orv Brevant Today"); }
  bool SheetGone() {
    return ScreenDriver::WaitUntil([&] { return !Sheet().has_value(); }, 20000);
  }
  // The sheet is up as a person meets it: shown below the top bar, with its
  // own menu bar, and then the screen is in place (nothing animates and it
  // holds still: its pages drawn). The options
  // program starts with the device's fonts and lays its pages out first,
  // which a busy machine makes slow: the bound is for the sheet to appear.
  bool SheetShown(int boundMs = 30000) {
    const bool up = ScreenDriver::WaitUntil([&] {
      const auto sheet = Sheet();
      const auto bar = Visible("HHTaskBar");
      if (!sheet || !bar || sheet->top < bar->bottom) return false;
      for (const auto& w : device_.Windows())
        if (w.visible && w.pid == sheet->pid && w.cls == plat::Utf16ToUtf8(plat::kMenuBarClassName)) return true;
      return false;
    }, boundMs);
    return up && device_.WaitForStillScreen();
  }
  // Tap and hold on the item, "Options..." of its menu.
  void OpenOptionsFromTheItem() {
    const plat::POINT at = ItemPoint(100, 8);
    ASSERT_TRUE(device_.Hold(at.x, at.y, 1200));
    ASSERT_TRUE(WaitVisible("#32768", true));
    const auto menu = Visible("#32768");
    ASSERT_TRUE(menu.has_value());
    ASSERT_TRUE(device_.Tap((menu->left + menu->right) / 2, menu->top + Px(1) + Px(24) + Px(12)));
    ASSERT_TRUE(SheetShown());
  }
  // "ok" at the right of the device's top bar.
  plat::POINT DonePoint() {
    auto bar = Visible("HHTaskBar");
    return bar ? plat::POINT{bar->right - Px(18), (bar->top + bar->bottom) / 2} : plat::POINT{-1, -1};
  }
  // The top bar offers "ok" for the sheet shown now.
  bool DoneShownNow() {
    const auto sheet = Sheet();
    if (!sheet) return false;
    std::string last;
    for (const std::string& line : ReadLines(hostLog_))
      if (line.rfind("done ", 0) == 0) last = line;
    return last == "done " + std::to_string(sheet->hwnd);
  }
  // The first row of a page: 6 px at 96 dpi below the sheet's top.
  int FirstRowY(const plat::display::WindowLine& sheet) const { return sheet.top + Px(6) + Px(8); }
  // The sheet's tabs along its foot: where this process's tab control puts
  // the same three tabs across the same width.
  plat::POINT Tab(const plat::display::WindowLine& sheet, int index) {
    using namespace plat;
    InitCommonControls();
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = u"TodayScreenTabsOwner";
    RegisterClassW(&wc);
    HWND owner = CreateWindowExW(0, wc.lpszClassName, u"", WS_CHILD, 0, 0, sheet.right - sheet.left, 100, HWND_MESSAGE,
                                 nullptr, nullptr, nullptr);
    HWND tabs = CreateWindowExW(0, WC_TABCONTROLW, u"", WS_CHILD | TCS_BOTTOM, 0, 0, sheet.right - sheet.left, Px(26),
                                owner, nullptr, nullptr, nullptr);
    const char16_t* names[] = {u"Channels", u"Font", u"View Style"};
    for (int i = 0; i < 3; ++i) {
      std::u16string text = names[i];
      TCITEMW item{TCIF_TEXT, 0, 0, text.data(), 0, -1, 0};
      SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
    RECT r{};
    SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
    DestroyWindow(owner);
    return POINT{sheet.left + (r.left + r.right) / 2, sheet.bottom - Px(8)};
  }
  // The page area of the sheet (above its tabs), as the screen shows it.
  std::vector<plat::DWORD> PageArea(const plat::display::WindowLine& sheet) {
    const plat::PixelImage screen = device_.ComposedScreen();
    std::vector<plat::DWORD> area;
    for (int y = std::max(0, static_cast<int>(sheet.top)); y < std::min(screen.height, static_cast<int>(sheet.bottom) - Px(40)); ++y)
      for (int x = std::max(0, static_cast<int>(sheet.left)); x < std::min(screen.width, static_cast<int>(sheet.right)); ++x)
        area.push_back(screen.pixels[static_cast<std::size_t>(y) * screen.width + x]);
    return area;
  }
  // A tab tapped: waits until its page shows, not only the tab's highlight.
  void ShowTab(int index) {
    const auto sheet = Sheet();
    ASSERT_TRUE(sheet.has_value());
    const plat::POINT tab = Tab(*sheet, index);
    const std::vector<plat::DWORD> before = PageArea(*sheet);
    ASSERT_TRUE(device_.Tap(tab.x, tab.y));
    ASSERT_TRUE(ScreenDriver::WaitUntil([&] { return PageArea(*sheet) != before; }, 10000)) << index;
  }
  // Picks row `row` of the combo whose field is at (x, y): the drop list opens, the row is tapped.
  void Choose(int x, int y, int row, int rows) {
    ASSERT_TRUE(device_.Tap(x, y));
    ASSERT_TRUE(WaitVisible("ComboLBox", true));
    const auto list = Visible("ComboLBox");
    ASSERT_TRUE(list.has_value());
    const int h = list->bottom - list->top;
    ASSERT_TRUE(device_.Tap((list->left + list->right) / 2, list->top + h * (2 * row + 1) / (2 * rows)));
    ASSERT_TRUE(WaitVisible("ComboLBox", false));
  }

 private:
  ScreenDriver& device_;
  std::string log_;
  std::string hostLog_;
};

}  // namespace orvtest
