// Pop-up menus, the shell's menu bar and the combo box's drop list: drawn at
// 96 and 192 DPI (kept as PNG files), driven by the stylus and the keys from
// a second thread while the window's thread runs the pop-up's modal loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/StandardControls.h"
#include "platform/display/DeviceInput.h"
#include "platform/windows/Menus.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/Pump.h"
#include "tests/support/Wait.h"
#include "tests/support/TempDevice.h"

#ifndef ORV_TEST_OUTPUT_DIR
#define ORV_TEST_OUTPUT_DIR "."
#endif

namespace {

using namespace plat;

struct Heard {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Heard>* g_heard = nullptr;
std::function<void(HWND, UINT, WPARAM, LPARAM)>* g_hook = nullptr;

LRESULT CALLBACK_Owner(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (g_heard && (m == WM_COMMAND || m == WM_INITMENUPOPUP || m == WM_HOTKEY || m == WM_KEYDOWN))
    g_heard->push_back({m, w, l});
  if (g_hook && *g_hook) (*g_hook)(h, m, w, l);
  if (wmtest::PaintWhite(h, m)) return 0;
  return DefWindowProcW(h, m, w, l);
}

// Runs on the window's thread inside a modal loop: composes the screen.
PixelImage* g_shot = nullptr;
LRESULT CALLBACK_Shooter(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_APP) {
    ComposeScreen();
    auto* path = reinterpret_cast<const std::string*>(l);
    if (path) SaveBitmapPng(ScreenBitmap(), *path);
    if (g_shot) *g_shot = ReadBitmapPixels(ScreenBitmap());
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

// The visible top-level windows of a class, top first.
std::vector<HWND> WindowsOf(const char16_t* cls) {
  struct Search {
    const char16_t* cls;
    std::vector<HWND> found;
  } s{cls, {}};
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        WCHAR name[64] = {};
        GetClassNameW(w, name, 64);
        if (std::u16string(name) == s->cls && IsWindowVisible(w)) s->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

void TapAt(int x, int y) {
  InjectStylus(WM_LBUTTONDOWN, x, y);
  InjectStylus(WM_LBUTTONUP, x, y);
}
void Press(UINT vk) {
  InjectKey(vk, true);
  InjectKey(vk, false);
}
// A driver that lost its way ends whatever pop-up is open (a tap outside),
// so the window's thread leaves its loop and the test fails instead of hanging.
void Abandon() {
  ADD_FAILURE() << "the pop-up did not show as expected";
  InjectStylus(WM_LBUTTONDOWN, ScreenWidth() - 1, 0);
  InjectStylus(WM_LBUTTONUP, ScreenWidth() - 1, 0);
}
RECT RectOf(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r;
}

DWORD At(const PixelImage& img, int x, int y) { return img.pixels[static_cast<std::size_t>(y * img.width + x)] & 0xFFFFFF; }
bool Blue(DWORD c) { return (c & 0xFF) > 120 && ((c >> 16) & 0xFF) < 60; }
bool Dark(DWORD c) { return ((c >> 16) & 0xFF) < 80 && ((c >> 8) & 0xFF) < 80 && (c & 0xFF) < 80; }
template <class Pred>
int CountIn(const PixelImage& img, RECT r, Pred pred) {
  int n = 0;
  for (int y = std::max<int>(0, r.top); y < std::min<int>(img.height, r.bottom); ++y)
    for (int x = std::max<int>(0, r.left); x < std::min<int>(img.width, r.right); ++x) n += pred(At(img, x, y));
  return n;
}

class PopupControlsTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    g_heard = &heard_;
    g_hook = &hook_;
    wmtest::EnsureClass(u"PopupTestOwner", CALLBACK_Owner);
    wmtest::EnsureClass(u"PopupTestShooter", CALLBACK_Shooter);
    owner_ = CreateWindowExW(0, u"PopupTestOwner", u"owner", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(),
                             ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner_);
    shooter_ = CreateWindowExW(0, u"PopupTestShooter", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(owner_);
    SetFocus(owner_);
    orvtest::PumpMessages();
  }
  void TearDown() override {
    if (driver_.joinable()) driver_.join();
    if (IsWindow(owner_)) DestroyWindow(owner_);
    DestroyWindow(shooter_);
    g_heard = nullptr;
    g_hook = nullptr;
    ResetScreenForTesting();
  }
  // Composes the screen on the window's thread (inside whatever loop runs there).
  PixelImage Shot(const std::string& name) {
    PixelImage img;
    g_shot = &img;
    std::string path = std::string(ORV_TEST_OUTPUT_DIR) + "/" + name + ".png";
    SendMessageW(shooter_, WM_APP, 0, name.empty() ? 0 : reinterpret_cast<LPARAM>(&path));
    g_shot = nullptr;
    return img;
  }
  // Runs steps on a second thread (the user) while this thread runs a modal loop.
  void Drive(std::function<void()> steps) {
    driver_ = std::thread([this, steps = std::move(steps)] {
      steps();
      (void)this;
    });
  }
  int Count(UINT msg) {
    int n = 0;
    for (const Heard& h : heard_) n += h.msg == msg;
    return n;
  }
  std::vector<WORD> Commands() {
    std::vector<WORD> out;
    for (const Heard& h : heard_)
      if (h.msg == WM_COMMAND) out.push_back(LOWORD(h.wParam));
    return out;
  }

  HWND owner_ = nullptr;
  HWND shooter_ = nullptr;
  std::vector<Heard> heard_;
  std::function<void(HWND, UINT, WPARAM, LPARAM)> hook_;
  std::thread driver_;
};

// The test menu: Refresh, Greyed (grey), -, Checked (ticked), More > (Deep, Deeper).
HMENU TestMenu() {
  HMENU sub = CreatePopupMenu();
  AppendMenuW(sub, MF_STRING, 20, u"Deep");
  AppendMenuW(sub, MF_STRING, 21, u"Deeper");
  HMENU m = CreatePopupMenu();
  AppendMenuW(m, MF_STRING, 10, u"Refresh");
  AppendMenuW(m, MF_STRING | MF_GRAYED, 11, u"Greyed");
  AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(m, MF_STRING | MF_CHECKED, 12, u"Checked");
  AppendMenuW(m, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"More");
  return m;
}

// The middle of the item at a position of the menu window (24 px rows at 96
// DPI, separators 7, a frame of 1).
POINT ItemCentre(HWND menuWindow, int position, const std::vector<bool>& separators) {
  const int s = ScreenDpi() / 96;
  RECT r = RectOf(menuWindow);
  int y = r.top + s;
  for (int i = 0; i < position; ++i) y += separators[static_cast<std::size_t>(i)] ? 7 * s : 24 * s;
  return POINT{(r.left + r.right) / 2, y + 12 * s};
}
const std::vector<bool> kSeparators{false, false, true, false, false};

class PopupControlsDrawTest : public PopupControlsTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    int dpi = GetParam();
    SetScreenForTesting(dpi == 96 ? 240 : 480, dpi == 96 ? 320 : 640, dpi);
    PopupControlsTest::SetUp();
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Pop-up menus

TEST_P(PopupControlsDrawTest, MenuDrawnAndItsCascadeTapped) {
  const int s = GetParam() / 96;
  HMENU menu = TestMenu();
  std::string name = "menu-" + std::to_string(GetParam()) + "dpi";
  PixelImage img;
  Drive([&] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    HWND level = WindowsOf(u"#32768")[0];
    POINT more = ItemCentre(level, 4, kSeparators);
    TapAt(more.x, more.y);  // opens the cascade
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 2; })) return Abandon();
    img = Shot(name);
    RECT cascade = RectOf(WindowsOf(u"#32768")[0]);
    TapAt((cascade.left + cascade.right) / 2, cascade.top + s + 12 * s);
  });
  int chosen = TrackPopupMenuEx(menu, TPM_RETURNCMD, 20 * s, 40 * s, owner_, nullptr);
  driver_.join();
  EXPECT_EQ(chosen, 20);
  EXPECT_TRUE(WindowsOf(u"#32768").empty());
  EXPECT_EQ(GetCapture(), nullptr);
  ASSERT_GT(img.width, 0);
  // The menu's frame at its corner, its text dark on white, the opened item in the selection blue.
  EXPECT_TRUE(Dark(At(img, 20 * s, 40 * s)));
  EXPECT_GT(CountIn(img, RECT{40 * s, 41 * s, 100 * s, 64 * s}, Dark), 10 * s * s);  // "Refresh"
  int moreTop = 41 * s + 3 * 24 * s + 7 * s;
  EXPECT_GT(CountIn(img, RECT{22 * s, moreTop + 2 * s, 60 * s, moreTop + 22 * s}, Blue), 100 * s * s);
  // The greyed item has no black ink.
  EXPECT_EQ(CountIn(img, RECT{40 * s, 65 * s + 2, 100 * s, 88 * s}, Dark), 0);
  DestroyMenu(menu);
}

TEST_P(PopupControlsDrawTest, ComboBoxDrawnWithItsDropList) {
  const int s = GetParam() / 96;
  HWND combo = CreateWindowExW(0, WC_COMBOBOXW, u"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, 10 * s,
                               10 * s, 160 * s, 120 * s, owner_, reinterpret_cast<HMENU>(std::uintptr_t{50}), nullptr,
                               nullptr);
  ASSERT_TRUE(combo);
  for (const char16_t* t : {u"Every hour", u"Every 3 hours", u"Every 6 hours", u"Every 12 hours", u"Daily",
                            u"Weekly", u"Monthly", u"Never"})
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  SendMessageW(combo, CB_SETCURSEL, 1, 0);
  HWND editable = CreateWindowExW(0, WC_COMBOBOXW, u"news.opml", WS_CHILD | WS_VISIBLE | CBS_DROPDOWN, 10 * s,
                                  200 * s, 160 * s, 80 * s, owner_, reinterpret_cast<HMENU>(std::uintptr_t{51}),
                                  nullptr, nullptr);
  ASSERT_TRUE(editable);
  // The window is as tall as its field; the field's height is asked with -1.
  RECT field = RectOf(combo);
  LRESULT fieldHeight = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
  EXPECT_EQ(field.bottom - field.top, fieldHeight + 6 * s);
  EXPECT_GE(fieldHeight, 12 * s);
  EXPECT_LE(fieldHeight, 22 * s);
  orvtest::PumpMessages();
  PixelImage closed = Shot("combo-closed-" + std::to_string(GetParam()) + "dpi");
  EXPECT_GT(CountIn(closed, field, Dark), 40 * s * s);  // frame, text and arrow
  PixelImage img;
  std::string name = "combo-" + std::to_string(GetParam()) + "dpi";
  Drive([&] {
    if (!orvtest::Eventually([] { return WindowsOf(u"ComboLBox").size() == 1; })) return Abandon();
    img = Shot(name);
    RECT list = RectOf(WindowsOf(u"ComboLBox")[0]);
    int ih = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
    TapAt((list.left + list.right) / 2, list.top + s + 3 * ih + ih / 2);  // "Every 12 hours"
  });
  TapAt((field.left + field.right) / 2, (field.top + field.bottom) / 2);
  orvtest::PumpUntil([&] { return !driver_.joinable() || Count(WM_COMMAND) >= 5; });
  driver_.join();
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 3);
  std::vector<WORD> codes;
  for (const Heard& h : heard_)
    if (h.msg == WM_COMMAND && LOWORD(h.wParam) == 50) codes.push_back(HIWORD(h.wParam));
  EXPECT_EQ(codes, (std::vector<WORD>{CBN_SETFOCUS, CBN_DROPDOWN, CBN_SELCHANGE, CBN_SELENDOK, CBN_CLOSEUP}));
  ASSERT_GT(img.width, 0);
  // The list opens below the field: framed, the selection highlighted.
  RECT below{field.left, field.bottom, field.right, field.bottom + 4 * 20 * s};
  EXPECT_GT(CountIn(img, below, Blue), 100 * s * s);
  EXPECT_TRUE(Dark(At(img, field.left, field.bottom + 10 * s)));
  DestroyWindow(combo);
  DestroyWindow(editable);
}

INSTANTIATE_TEST_SUITE_P(Dpi, PopupControlsDrawTest, ::testing::Values(96, 192));

TEST_F(PopupControlsTest, MenuKeysSkipSeparatorsAndGreyedItemsCannotBeChosen) {
  HMENU menu = TestMenu();
  Drive([&] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    Press(VK_DOWN);    // Refresh
    Press(VK_DOWN);    // Greyed
    Press(VK_RETURN);  // refused
    Press(VK_DOWN);    // past the separator: Checked
    Press(VK_RETURN);
  });
  int chosen = TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY, 10, 10, owner_, nullptr);
  driver_.join();
  EXPECT_EQ(chosen, 12);
  EXPECT_EQ(Count(WM_INITMENUPOPUP), 0);  // TPM_NONOTIFY

  // Right opens the cascade with its first item, return chooses it; WM_COMMAND goes to the owner.
  heard_.clear();
  Drive([&] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    Press(VK_UP);  // from nothing to the last item: More
    Press(VK_RIGHT);
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 2; })) return Abandon();
    Press(VK_DOWN);
    Press(VK_RETURN);
  });
  EXPECT_TRUE(TrackPopupMenuEx(menu, 0, 10, 10, owner_, nullptr));
  driver_.join();
  orvtest::PumpMessages();
  EXPECT_EQ(Commands(), (std::vector<WORD>{21}));
  EXPECT_EQ(Count(WM_INITMENUPOPUP), 2);  // the menu, then its cascade

  // Escape closes a level at a time; a tap outside ends the menu with nothing.
  heard_.clear();
  Drive([&] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    Press(VK_UP);
    Press(VK_RIGHT);
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 2; })) return Abandon();
    Press(VK_ESCAPE);
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    TapAt(ScreenWidth() - 2, ScreenHeight() - 2);
  });
  EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, 10, 10, owner_, nullptr), 0);
  driver_.join();
  orvtest::PumpMessages();
  EXPECT_TRUE(Commands().empty());
  DestroyMenu(menu);
}

TEST_F(PopupControlsTest, MenuEndsCleanlyWhenItsOwnerGoesOrTheStylusIsTaken) {
  HMENU menu = TestMenu();
  // The owner destroyed by a message handled inside the menu's loop.
  hook_ = [](HWND h, UINT m, WPARAM, LPARAM) {
    if (m == WM_APP + 7) DestroyWindow(h);
  };
  Drive([&] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    PostMessageW(owner_, WM_APP + 7, 0, 0);
  });
  EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, 10, 10, owner_, nullptr), 0);
  driver_.join();
  EXPECT_FALSE(IsWindow(owner_));
  EXPECT_TRUE(WindowsOf(u"#32768").empty());
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_TRUE(IsMenu(menu));

  // Another window taking the stylus ends it too; so does EndMenu.
  owner_ = CreateWindowExW(0, u"PopupTestOwner", u"owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                           nullptr, nullptr);
  hook_ = [this](HWND, UINT m, WPARAM, LPARAM) {
    if (m == WM_APP + 8) SetCapture(shooter_);
    if (m == WM_APP + 9) EndMenu();
  };
  for (UINT msg : {WM_APP + 8, WM_APP + 9}) {
    Drive([&, msg] {
      if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
      PostMessageW(owner_, msg, 0, 0);
    });
    EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, 10, 10, owner_, nullptr), 0) << msg;
    driver_.join();
    ReleaseCapture();
    EXPECT_TRUE(WindowsOf(u"#32768").empty());
  }
  // Refused: a destroyed menu, no owner, a menu while one is open.
  HMENU gone = CreatePopupMenu();
  DestroyMenu(gone);
  SetLastError(0);
  EXPECT_FALSE(TrackPopupMenuEx(gone, TPM_RETURNCMD, 0, 0, owner_, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
  EXPECT_FALSE(TrackPopupMenuEx(menu, TPM_RETURNCMD, 0, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  DestroyMenu(menu);
}

// ---------------------------------------------------------------------------
// The shell's menu bar

TEST_P(PopupControlsDrawTest, MenuBarSoftKeysTheirMenusAndButtonChanges) {
  const int s = GetParam() / 96;
  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, 300, u"Mark All as Read");
  AppendMenuW(popup, MF_STRING, 301, u"Options...");
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = owner_;
  info.dwFlags = SHCMBF_EMPTYBAR;
  ASSERT_TRUE(SHCreateMenuBar(&info));
  HWND bar = info.hwndMB;
  ASSERT_EQ(SHFindMenuBar(owner_), bar);
  TBBUTTON buttons[2] = {};
  buttons[0] = TBBUTTON{I_IMAGENONE, 200, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0,
                        reinterpret_cast<INT_PTR>(u"Update")};
  buttons[1] = TBBUTTON{I_IMAGENONE, 201, TBSTATE_ENABLED, TBSTYLE_DROPDOWN, {}, reinterpret_cast<DWORD_PTR>(popup),
                        reinterpret_cast<INT_PTR>(u"Menu")};
  ASSERT_TRUE(SendMessageW(bar, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons)));
  RECT br = RectOf(bar);
  EXPECT_EQ(br.bottom, ScreenHeight());
  EXPECT_EQ(br.right - br.left, ScreenWidth());

  // The left soft key sends its command; the right one opens its menu above the bar.
  std::string name = "menubar-" + std::to_string(GetParam()) + "dpi";
  PixelImage img;
  Drive([&] {
    Press(VK_TSOFT1);
    Press(VK_TSOFT2);
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    img = Shot(name);
    HWND level = WindowsOf(u"#32768")[0];
    RECT r = RectOf(level);
    TapAt((r.left + r.right) / 2, r.top + s + 24 * s + 12 * s);  // "Options..."
  });
  orvtest::PumpUntil([&] { return Count(WM_COMMAND) >= 2; });
  driver_.join();
  EXPECT_EQ(Commands(), (std::vector<WORD>{200, 301}));
  EXPECT_EQ(Count(WM_INITMENUPOPUP), 1);
  ASSERT_GT(img.width, 0);
  RECT menuRect{};
  // The menu sits on the bar's right side, its bottom on the bar's top; the bar's button is lit.
  EXPECT_GT(CountIn(img, RECT{br.right - 40 * s, br.top + 4 * s, br.right - 4 * s, br.bottom - 4 * s}, Blue), 50 * s * s);
  EXPECT_TRUE(Dark(At(img, br.right - 1, br.top - 2)));
  (void)menuRect;

  // A button's text change shows at once, without pumping.
  PixelImage before = ReadBitmapPixels(GetWindowSurfaceForTesting(bar));
  TBBUTTONINFOW tbi{};
  tbi.cbSize = sizeof tbi;
  tbi.dwMask = TBIF_TEXT | TBIF_STATE;
  tbi.fsState = TBSTATE_ENABLED;
  WCHAR stop[] = u"Stop";
  tbi.pszText = stop;
  ASSERT_TRUE(SendMessageW(bar, TB_SETBUTTONINFOW, 200, reinterpret_cast<LPARAM>(&tbi)));
  PixelImage after = ReadBitmapPixels(GetWindowSurfaceForTesting(bar));
  EXPECT_NE(before.pixels, after.pixels);
  // A disabled button ignores its soft key; a hidden one is not drawn.
  heard_.clear();
  SendMessageW(bar, TB_ENABLEBUTTON, 200, FALSE);
  Press(VK_TSOFT1);
  orvtest::PumpMessages();
  EXPECT_TRUE(Commands().empty());
  SendMessageW(bar, TB_HIDEBUTTON, 200, TRUE);
  PixelImage hidden = ReadBitmapPixels(GetWindowSurfaceForTesting(bar));
  const int barH = static_cast<int>(br.bottom - br.top);
  EXPECT_EQ(CountIn(hidden, RECT{4 * s, 4 * s, hidden.width / 2 - 4 * s, barH - 4 * s}, Dark), 0);
  DestroyWindow(bar);
  DestroyMenu(popup);
}

TEST_F(PopupControlsTest, BackKeyOverriddenReachesTheOwnerAsHotKey) {
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = owner_;
  info.dwFlags = SHCMBF_EMPTYBAR;
  ASSERT_TRUE(SHCreateMenuBar(&info));
  // Without an override the Back key is an ordinary key of the focus window.
  Press(VK_TBACK);
  orvtest::PumpMessages();
  EXPECT_EQ(Count(WM_KEYDOWN), 1);
  EXPECT_EQ(Count(WM_HOTKEY), 0);
  heard_.clear();
  const WORD both = SHMBOF_NODEFAULT | SHMBOF_NOTIFY;
  EXPECT_TRUE(SendMessageW(info.hwndMB, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(both, both)));
  Press(VK_TBACK);
  orvtest::PumpMessages();
  EXPECT_EQ(Count(WM_KEYDOWN), 0);
  ASSERT_EQ(Count(WM_HOTKEY), 2);
  EXPECT_EQ(HIWORD(static_cast<std::uintptr_t>(heard_[0].lParam)), VK_TBACK);
  EXPECT_EQ(LOWORD(static_cast<std::uintptr_t>(heard_[0].lParam)), 0);
  EXPECT_EQ(LOWORD(static_cast<std::uintptr_t>(heard_[1].lParam)), MOD_KEYUP);
  // While a pop-up menu is open, Back closes it and the owner hears nothing.
  heard_.clear();
  HMENU menu = TestMenu();
  Drive([] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    Press(VK_TBACK);
  });
  EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, 10, 10, owner_, nullptr), 0);
  driver_.join();
  orvtest::PumpMessages();
  EXPECT_EQ(Count(WM_HOTKEY), 0);
  // The bar destroyed while its soft key's menu is open: the menu ends with it.
  HMENU popup = TestMenu();
  TBBUTTON button{I_IMAGENONE, 5, TBSTATE_ENABLED, TBSTYLE_DROPDOWN, {}, reinterpret_cast<DWORD_PTR>(popup),
                  reinterpret_cast<INT_PTR>(u"Menu")};
  SendMessageW(info.hwndMB, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
  HWND bar = info.hwndMB;
  hook_ = [bar](HWND, UINT m, WPARAM, LPARAM) {
    if (m == WM_APP + 4) DestroyWindow(bar);
  };
  Drive([this] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    PostMessageW(owner_, WM_APP + 4, 0, 0);
  });
  Press(VK_TSOFT1);
  ASSERT_TRUE(orvtest::PumpUntil([&] { return !IsWindow(bar); }));
  driver_.join();
  orvtest::PumpMessages();
  EXPECT_TRUE(WindowsOf(u"#32768").empty());
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_TRUE(IsWindow(owner_));
  hook_ = nullptr;
  DestroyMenu(popup);
  DestroyMenu(menu);
}

// Back held down on the desktop: the display sends the key's auto-repeat as
// further downs. They carry the previous key state, and Back acts on the
// first down only: the owner hears one press and one release, and a plain
// window sees the repeats marked as repeats.
TEST_F(PopupControlsTest, HeldBackActsOnceOnItsFirstDown) {
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = owner_;
  info.dwFlags = SHCMBF_EMPTYBAR;
  ASSERT_TRUE(SHCreateMenuBar(&info));
  display::DeviceInput input([](DWORD) {});
  const display::DeviceKey back = *display::KeyByName("back");
  auto holdBack = [&] {
    heard_.clear();
    for (int i = 0; i < 4; ++i) input.Key(back, true);  // the first down and three repeats
    input.Key(back, false);
    orvtest::PumpMessages();
  };
  // Without an override: a plain key of the focus window, its repeats marked.
  holdBack();
  std::vector<LPARAM> downs;
  for (const Heard& h : heard_)
    if (h.msg == WM_KEYDOWN) downs.push_back(h.lParam);
  ASSERT_EQ(downs.size(), 4u);
  EXPECT_FALSE(IsRepeatedKeyDown(downs[0]));
  for (std::size_t i = 1; i < downs.size(); ++i) EXPECT_TRUE(IsRepeatedKeyDown(downs[i])) << i;
  // The window's Back: one press, one release.
  const WORD both = SHMBOF_NODEFAULT | SHMBOF_NOTIFY;
  ASSERT_TRUE(SendMessageW(info.hwndMB, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(both, both)));
  holdBack();
  EXPECT_EQ(Count(WM_KEYDOWN), 0);
  ASSERT_EQ(Count(WM_HOTKEY), 2);
  EXPECT_EQ(LOWORD(static_cast<std::uintptr_t>(heard_[0].lParam)), 0);
  EXPECT_EQ(LOWORD(static_cast<std::uintptr_t>(heard_[1].lParam)), MOD_KEYUP);
  // A second hold is a new press.
  holdBack();
  EXPECT_EQ(Count(WM_HOTKEY), 2);
  DestroyWindow(info.hwndMB);
}

// ---------------------------------------------------------------------------
// The combo box

TEST_F(PopupControlsTest, AHoldMenuOpensWithNothingMarkedUnderTheLiftedFinger) {
  SetScreenForTesting(240, 320, 96);
  HMENU menu = TestMenu();
  // The finger is down where the menu opens (a tap and hold) and lifts there.
  const POINT finger{30, 50};
  InjectStylus(WM_LBUTTONDOWN, finger.x, finger.y);
  orvtest::PumpMessages();  // the owner has the press; the menu opens after it
  PixelImage lifted;
  RECT first{};
  Drive([&] {
    if (!orvtest::Eventually([] { return WindowsOf(u"#32768").size() == 1; })) return Abandon();
    const RECT r = RectOf(WindowsOf(u"#32768")[0]);
    first = RECT{r.left + 1, r.top + 1, r.right - 1, r.top + 25};
    InjectStylus(WM_LBUTTONUP, finger.x + 10, finger.y + 6);
    if (!orvtest::Eventually([] { return !WindowsOf(u"#32768").empty(); })) return Abandon();
    lifted = Shot("");
    Press(VK_ESCAPE);
  });
  const int chosen = TrackPopupMenuEx(menu, TPM_RETURNCMD, finger.x, finger.y, owner_, nullptr);
  driver_.join();
  EXPECT_EQ(chosen, 0) << "the lift chooses nothing";
  ASSERT_GT(lifted.width, 0);
  EXPECT_GT(CountIn(lifted, first, Dark), 20) << "the first item is drawn";
  EXPECT_EQ(CountIn(lifted, first, Blue), 0) << "and not marked";
  DestroyMenu(menu);
  ResetScreenForTesting();
}

TEST_F(PopupControlsTest, ADragInADropListScrollsItAndChoosesNothing) {
  SetScreenForTesting(240, 320, 96);
  HWND combo = CreateWindowExW(0, WC_COMBOBOXW, u"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, 10, 10,
                               160, 200, owner_, reinterpret_cast<HMENU>(std::uintptr_t{61}), nullptr, nullptr);
  ASSERT_TRUE(combo);
  for (int i = 0; i < 12; ++i) {
    const std::u16string text = u"Item " + plat::Utf8ToUtf16(std::to_string(i));
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
  const RECT field = RectOf(combo);
  const int ih = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
  bool openAfterDrag = false;
  RECT listRect{};
  std::atomic<bool> finished{false};
  Drive([&] {
    struct Finish {
      std::atomic<bool>& f;
      ~Finish() { f = true; }
    } finish{finished};
    if (!orvtest::Eventually([] { return WindowsOf(u"ComboLBox").size() == 1; })) return Abandon();
    const RECT list = RectOf(WindowsOf(u"ComboLBox")[0]);
    const int x = (list.left + list.right) / 2;
    // Down on the last row shown, up by two rows, lifted.
    const int y = list.bottom - 1 - ih / 2;
    listRect = list;
    InjectStylus(WM_LBUTTONDOWN, x, y);
    for (int step = 1; step <= 4; ++step) InjectStylus(WM_MOUSEMOVE, x, y - step * ih / 2);
    InjectStylus(WM_LBUTTONUP, x, y - 2 * ih);
    // Still open: a tap on its first row now chooses the item two further on.
    openAfterDrag = orvtest::Eventually([] { return WindowsOf(u"ComboLBox").size() == 1; }, 500);
    if (!openAfterDrag) return;
    TapAt(x, list.top + 1 + ih / 2);
  });
  TapAt((field.left + field.right) / 2, (field.top + field.bottom) / 2);
  orvtest::PumpUntil([&] { return finished.load() && WindowsOf(u"ComboLBox").empty(); });
  driver_.join();
  orvtest::PumpMessages();
  EXPECT_TRUE(openAfterDrag) << "the drag closed the list";
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  DestroyWindow(combo);
  ResetScreenForTesting();
}

// The rows a drop list does not show come into view by the wheel over the
// list, by dragging the strip's thumb, and by a tap on the strip's track
// below the thumb; each leaves the list open, and a tap on its first row
// then chooses the item scrolled to the top.
TEST_F(PopupControlsTest, TheWheelTheThumbAndTheTrackScrollADropList) {
  SetScreenForTesting(240, 320, 96);
  HWND combo = CreateWindowExW(0, WC_COMBOBOXW, u"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, 10, 10,
                               160, 200, owner_, reinterpret_cast<HMENU>(std::uintptr_t{62}), nullptr, nullptr);
  ASSERT_TRUE(combo);
  constexpr int kItems = 12;
  for (int i = 0; i < kItems; ++i) {
    const std::u16string text = u"Item " + plat::Utf8ToUtf16(std::to_string(i));
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  const RECT field = RectOf(combo);
  const int ih = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
  const int strip = 6;  // the strip's width at 96 dpi
  struct Case {
    const char* name;
    std::function<void(const RECT& list)> scroll;
    int chosen;  // the item at the top afterwards
  };
  const Case cases[] = {
      {"wheel", [](const RECT& list) { InjectWheel((list.left + list.right) / 2, (list.top + list.bottom) / 2, 3); }, 3},
      {"thumb",
       [&](const RECT& list) {
         // The thumb starts at the track's top; two rows' share of the track down.
         const int x = list.right - 1 - strip / 2, h = list.bottom - list.top - 2, y = list.top + 1 + ih / 4;
         InjectStylus(WM_LBUTTONDOWN, x, y);
         for (int step = 1; step <= 4; ++step) InjectStylus(WM_MOUSEMOVE, x, y + step * h * 2 / kItems / 4);
         InjectStylus(WM_LBUTTONUP, x, y + h * 2 / kItems);
       },
       2},
      {"track below the thumb",
       [&](const RECT& list) { TapAt(list.right - 1 - strip / 2, list.bottom - 3); },
       -1},  // a page on: the last rows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    bool openAfter = false;
    int rows = 0;
    std::atomic<bool> finished{false};
    Drive([&] {
      struct Finish {
        std::atomic<bool>& f;
        ~Finish() { f = true; }
      } finish{finished};
      if (!orvtest::Eventually([] { return WindowsOf(u"ComboLBox").size() == 1; })) return Abandon();
      const RECT list = RectOf(WindowsOf(u"ComboLBox")[0]);
      rows = (list.bottom - list.top - 2) / ih;
      c.scroll(list);
      openAfter = orvtest::Eventually([] { return WindowsOf(u"ComboLBox").size() == 1; }, 500);
      if (!openAfter) return;
      TapAt((list.left + list.right) / 2 - strip, list.top + 1 + ih / 2);
    });
    TapAt((field.left + field.right) / 2, (field.top + field.bottom) / 2);
    orvtest::PumpUntil([&] { return finished.load() && WindowsOf(u"ComboLBox").empty(); });
    driver_.join();
    orvtest::PumpMessages();
    ASSERT_GT(rows, 0);
    ASSERT_LT(rows, kItems) << "every row shows: nothing to scroll";
    EXPECT_TRUE(openAfter) << "the scroll closed the list";
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), c.chosen >= 0 ? c.chosen : std::min(rows, kItems - rows));
  }
  DestroyWindow(combo);
  ResetScreenForTesting();
}

TEST_F(PopupControlsTest, ComboBoxKeysEditableKindAndClosingFromOutside) {
  HWND combo = CreateWindowExW(0, WC_COMBOBOXW, u"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, 10, 10, 150, 100, owner_,
                               reinterpret_cast<HMENU>(std::uintptr_t{60}), nullptr, nullptr);
  for (const char16_t* t : {u"Alpha", u"Beta", u"Gamma"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  SetFocus(combo);
  heard_.clear();
  Press(VK_DOWN);
  Press(VK_DOWN);
  orvtest::PumpMessages();
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  WCHAR text[32] = {};
  GetWindowTextW(combo, text, 32);
  EXPECT_EQ(std::u16string(text), u"Beta");
  int changes = 0;
  for (const Heard& h : heard_) changes += h.msg == WM_COMMAND && HIWORD(h.wParam) == CBN_SELCHANGE;
  EXPECT_EQ(changes, 2);

  // CB_SHOWDROPDOWN FALSE from CBN_DROPDOWN keeps the list closed (the save dialog's folder box).
  hook_ = [combo](HWND, UINT m, WPARAM w, LPARAM) {
    if (m == WM_COMMAND && HIWORD(w) == CBN_DROPDOWN) SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  };
  EXPECT_TRUE(SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0));
  EXPECT_TRUE(WindowsOf(u"ComboLBox").empty());
  EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));

  // Escape closes the list without a change; the combo destroyed while open closes it too.
  hook_ = nullptr;
  heard_.clear();
  Drive([] {
    if (!orvtest::Eventually([] { return WindowsOf(u"ComboLBox").size() == 1; })) return Abandon();
    Press(VK_DOWN);
    Press(VK_ESCAPE);
  });
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  driver_.join();
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  std::vector<WORD> codes;
  for (const Heard& h : heard_)
    if (h.msg == WM_COMMAND) codes.push_back(HIWORD(h.wParam));
  EXPECT_EQ(codes, (std::vector<WORD>{CBN_DROPDOWN, CBN_SELENDCANCEL, CBN_CLOSEUP}));
  hook_ = [combo](HWND, UINT m, WPARAM, LPARAM) {
    if (m == WM_APP + 3) DestroyWindow(combo);
  };
  Drive([this] {
    if (!orvtest::Eventually([] { return WindowsOf(u"ComboLBox").size() == 1; })) return Abandon();
    PostMessageW(owner_, WM_APP + 3, 0, 0);
  });
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  driver_.join();
  EXPECT_FALSE(IsWindow(combo));
  EXPECT_TRUE(WindowsOf(u"ComboLBox").empty());
  EXPECT_EQ(GetCapture(), nullptr);
  hook_ = nullptr;

  // The editable kind: typing in its edit is the combo box's edit change; a
  // chosen item fills the edit; the field height can be set.
  HWND editable = CreateWindowExW(0, WC_COMBOBOXW, u"", WS_CHILD | WS_VISIBLE | 0x0080, 10, 60, 150, 80, owner_,
                                  reinterpret_cast<HMENU>(std::uintptr_t{61}), nullptr, nullptr);
  ASSERT_TRUE(editable);
  HWND edit = GetDlgItem(editable, kComboEditId);
  ASSERT_TRUE(edit);
  SendMessageW(editable, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"feeds.opml"));
  SetFocus(editable);
  EXPECT_EQ(GetFocus(), edit);
  heard_.clear();
  InjectChar(u'a');
  InjectChar(u'b');
  orvtest::PumpMessages();
  GetWindowTextW(editable, text, 32);
  EXPECT_EQ(std::u16string(text), u"ab");
  int edits = 0;
  for (const Heard& h : heard_) edits += h.msg == WM_COMMAND && LOWORD(h.wParam) == 61 && HIWORD(h.wParam) == CBN_EDITCHANGE;
  EXPECT_EQ(edits, 2);
  SendMessageW(editable, CB_SETCURSEL, 0, 0);
  GetWindowTextW(edit, text, 32);
  EXPECT_EQ(std::u16string(text), u"feeds.opml");
  EXPECT_NE(SendMessageW(editable, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 30), CB_ERR);
  EXPECT_EQ(SendMessageW(editable, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0), 30);
  RECT r = RectOf(editable);
  EXPECT_EQ(r.bottom - r.top, 30 + 6 * (ScreenDpi() / 96));
  EXPECT_EQ(SendMessageW(editable, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 0), CB_ERR);
  DestroyWindow(editable);
}
