// Menus, the combo box and the shell's menu bar of the window manager.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/resources/Resources.h"
#include "platform/windows/Menus.h"
#include "platform/windows/Windows.h"
#include "tests/platform/WindowsTestSupport.h"
#include "tests/support/TempDevice.h"
#include "tools/rc/ResourceCompiler.h"

namespace {

using namespace plat;

// The text of a menu item read through GetMenuItemInfoW with a buffer of cch.
std::u16string ItemText(HMENU menu, UINT item, BOOL byPosition, UINT cch = 64) {
  std::vector<WCHAR> buf(cch + 1, u'#');
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof mii;
  mii.fMask = MIIM_TYPE;
  mii.dwTypeData = buf.data();
  mii.cch = cch;
  if (!GetMenuItemInfoW(menu, item, byPosition, &mii)) return u"<fail>";
  EXPECT_EQ(buf[mii.cch], u'\0');
  return std::u16string(buf.data(), mii.cch);
}

MENUITEMINFOW Info(UINT mask) {
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof mii;
  mii.fMask = mask;
  return mii;
}

class MenuTest : public orvtest::DeviceTest {};

TEST_F(MenuTest, ItemsByPositionAndByCommandThroughSubMenus) {
  HMENU sub = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(sub, MF_STRING, 201, u"Copy"));
  ASSERT_TRUE(AppendMenuW(sub, MF_STRING | MF_GRAYED, 202, u"Paste"));
  HMENU menu = CreateMenu();
  ASSERT_TRUE(AppendMenuW(menu, MF_STRING, 101, u"Open"));
  ASSERT_TRUE(AppendMenuW(menu, MF_SEPARATOR, 0, nullptr));
  ASSERT_TRUE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Edit"));
  ASSERT_TRUE(InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, 100, u"New"));
  ASSERT_TRUE(InsertMenuW(menu, 202, MF_BYCOMMAND | MF_STRING, 199, u"Cut"));  // before Paste, in the sub-menu

  EXPECT_EQ(GetMenuItemCount(menu), 4);
  EXPECT_EQ(GetMenuItemCount(sub), 3);
  EXPECT_EQ(GetMenuItemID(menu, 0), 100u);
  EXPECT_EQ(GetMenuItemID(menu, 1), 101u);
  EXPECT_EQ(GetMenuItemID(menu, 3), 0xFFFFFFFFu) << "a sub-menu item has no command";
  EXPECT_EQ(GetMenuItemID(menu, 4), 0xFFFFFFFFu);
  EXPECT_EQ(GetSubMenu(menu, 3), sub);
  EXPECT_EQ(GetSubMenu(menu, 1), nullptr);
  EXPECT_EQ(ItemText(menu, 0, TRUE), u"New");
  EXPECT_EQ(ItemText(sub, 1, TRUE), u"Cut");
  EXPECT_EQ(ItemText(menu, 202, FALSE), u"Paste") << "by command, found in the sub-menu";
  EXPECT_EQ(ItemText(menu, 3, TRUE), u"Edit");

  MENUITEMINFOW mii = Info(MIIM_TYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU);
  ASSERT_TRUE(GetMenuItemInfoW(menu, 2, TRUE, &mii));
  EXPECT_TRUE(mii.fType & MFT_SEPARATOR);
  EXPECT_EQ(mii.cch, 0u);
  mii = Info(MIIM_STATE);
  ASSERT_TRUE(GetMenuItemInfoW(menu, 202, FALSE, &mii));
  EXPECT_EQ(mii.fState & MFS_GRAYED, MF_GRAYED);

  // Missing items.
  SetLastError(0);
  EXPECT_FALSE(GetMenuItemInfoW(menu, 999, FALSE, &mii));
  EXPECT_EQ(GetLastError(), ERROR_MENU_ITEM_NOT_FOUND);
  EXPECT_FALSE(GetMenuItemInfoW(menu, 4, TRUE, &mii));
  MENUITEMINFOW wrongSize = Info(MIIM_ID);
  wrongSize.cbSize = 12;
  EXPECT_FALSE(GetMenuItemInfoW(menu, 0, TRUE, &wrongSize));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(DestroyMenu(menu));
}

TEST_F(MenuTest, TextIsCutToTheBufferAndMeasuredWithoutOne) {
  HMENU menu = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(menu, MF_STRING, 1, u"Preferences"));
  EXPECT_EQ(ItemText(menu, 0, TRUE, 5), u"Pref");
  EXPECT_EQ(ItemText(menu, 0, TRUE, 12), u"Preferences");
  MENUITEMINFOW mii = Info(MIIM_STRING);
  ASSERT_TRUE(GetMenuItemInfoW(menu, 0, TRUE, &mii));
  EXPECT_EQ(mii.cch, 11u) << "without a buffer: the length";
  DestroyMenu(menu);
}

TEST_F(MenuTest, SetModifyInsertRemoveAndDelete) {
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  HMENU other = CreatePopupMenu();
  AppendMenuW(sub, MF_STRING, 10, u"Inner");
  AppendMenuW(menu, MF_STRING, 1, u"One");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(other), u"Other");

  MENUITEMINFOW set = Info(MIIM_TYPE | MIIM_DATA);
  set.fType = MFT_STRING;
  set.dwTypeData = const_cast<WCHAR*>(u"Uno");
  set.dwItemData = 0xABCD;
  ASSERT_TRUE(SetMenuItemInfoW(menu, 1, FALSE, &set));
  EXPECT_EQ(ItemText(menu, 0, TRUE), u"Uno");
  MENUITEMINFOW got = Info(MIIM_DATA | MIIM_ID);
  ASSERT_TRUE(GetMenuItemInfoW(menu, 0, TRUE, &got));
  EXPECT_EQ(got.dwItemData, 0xABCDu);
  EXPECT_EQ(got.wID, 1u) << "fields outside the mask stay";

  MENUITEMINFOW add = Info(MIIM_TYPE | MIIM_ID);
  add.dwTypeData = const_cast<WCHAR*>(u"Zero");
  add.wID = 7;
  ASSERT_TRUE(InsertMenuItemW(menu, 0, TRUE, &add));
  ASSERT_TRUE(InsertMenuItemW(menu, 99, TRUE, &add)) << "a position past the end appends";
  EXPECT_EQ(GetMenuItemCount(menu), 5);
  EXPECT_EQ(ItemText(menu, 0, TRUE), u"Zero");
  EXPECT_EQ(ItemText(menu, 4, TRUE), u"Zero");

  ASSERT_TRUE(ModifyMenuW(menu, 1, MF_BYPOSITION | MF_STRING | MF_CHECKED, 11, u"Eleven"));
  EXPECT_EQ(GetMenuItemID(menu, 1), 11u);
  EXPECT_EQ(CheckMenuItem(menu, 11, MF_UNCHECKED), MF_CHECKED);
  EXPECT_EQ(CheckMenuItem(menu, 11, MF_UNCHECKED), MF_UNCHECKED);
  EXPECT_EQ(EnableMenuItem(menu, 11, MF_GRAYED), MF_ENABLED);
  EXPECT_EQ(EnableMenuItem(menu, 11, MF_ENABLED), MF_GRAYED);
  EXPECT_EQ(EnableMenuItem(menu, 555, MF_ENABLED), 0xFFFFFFFFu);

  // A sub-menu taken out with RemoveMenu lives on; DeleteMenu destroys it,
  // and so does ModifyMenuW of the item that opened it.
  ASSERT_TRUE(RemoveMenu(menu, 2, MF_BYPOSITION));
  EXPECT_TRUE(IsMenu(sub));
  EXPECT_EQ(ItemText(menu, 2, TRUE), u"Other");
  ASSERT_TRUE(ModifyMenuW(menu, 2, MF_BYPOSITION | MF_STRING, 12, u"Plain"));
  EXPECT_FALSE(IsMenu(other));
  ASSERT_TRUE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Again"));
  ASSERT_TRUE(DeleteMenu(menu, 4, MF_BYPOSITION));
  EXPECT_FALSE(IsMenu(sub));
  EXPECT_EQ(GetMenuItemCount(menu), 4);
  DestroyMenu(menu);
}

TEST_F(MenuTest, DeadAndForeignHandlesAndCyclesAreRefused) {
  HMENU top = CreateMenu();
  HMENU mid = CreatePopupMenu();
  HMENU leaf = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(mid, MF_POPUP, reinterpret_cast<UINT_PTR>(leaf), u"Leaf"));
  ASSERT_TRUE(AppendMenuW(top, MF_POPUP, reinterpret_cast<UINT_PTR>(mid), u"Mid"));

  // A menu cannot open itself or one of its ancestors.
  SetLastError(0);
  EXPECT_FALSE(AppendMenuW(top, MF_POPUP, reinterpret_cast<UINT_PTR>(top), u"Self"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(AppendMenuW(leaf, MF_POPUP, reinterpret_cast<UINT_PTR>(top), u"Loop"));
  MENUITEMINFOW loop = Info(MIIM_SUBMENU);
  loop.hSubMenu = mid;
  EXPECT_FALSE(SetMenuItemInfoW(mid, 0, TRUE, &loop));
  EXPECT_EQ(GetSubMenu(mid, 0), leaf) << "a refused change changes nothing";
  EXPECT_EQ(GetMenuItemCount(leaf), 0);

  // Destroying a menu destroys its sub-menus; their handles then fail.
  ASSERT_TRUE(DestroyMenu(top));
  for (HMENU gone : {top, mid, leaf}) {
    EXPECT_FALSE(IsMenu(gone));
    SetLastError(0);
    EXPECT_EQ(GetMenuItemCount(gone), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
    EXPECT_FALSE(AppendMenuW(gone, MF_STRING, 1, u"x"));
    EXPECT_FALSE(DestroyMenu(gone));
  }
  HMENU bogus = reinterpret_cast<HMENU>(std::uintptr_t{0x1234});
  MENUITEMINFOW mii = Info(MIIM_TYPE);
  EXPECT_FALSE(GetMenuItemInfoW(bogus, 0, TRUE, &mii));
  EXPECT_FALSE(GetMenuItemInfoW(nullptr, 0, TRUE, &mii));
  EXPECT_EQ(GetSubMenu(bogus, 0), nullptr);
  HMENU parent = CreateMenu();
  EXPECT_FALSE(AppendMenuW(parent, MF_POPUP, reinterpret_cast<UINT_PTR>(bogus), u"Bogus"));
  EXPECT_EQ(GetMenuItemCount(parent), 0);
  EXPECT_NE(CreateMenu(), top) << "handles are not used again";
}

#define MENU_BODY \
  "BEGIN\n" \
  "    POPUP \"File\"\n" \
  "    BEGIN\n" \
  "        MENUITEM \"Open\", 101\n" \
  "        MENUITEM SEPARATOR\n" \
  "        POPUP \"Recent\"\n" \
  "        BEGIN\n" \
  "            MENUITEM \"First\", 111\n" \
  "        END\n" \
  "        MENUITEM \"Exit\", 102, GRAYED\n" \
  "    END\n" \
  "    MENUITEM \"Done\", 200, CHECKED\n" \
  "END\n"
// The same menu by name and by number (a bar names its menu by number), and
// bar resources: one with a plain button and one opening the menu's first
// pop-up, and one cut short.
const char kMenuScript[] =
    "#define IDM_BAR 500\nMAINMENU MENU\n" MENU_BODY "IDM_BAR MENU\n" MENU_BODY
    "STRINGTABLE\nBEGIN\n  700 \"Accept\"\n  701 \"Actions\"\nEND\n"
    "600 RCDATA\nBEGIN\n  500, 2,\n"
    "  -2, 1, 4, 0x10, 700, 0, 0xFFFF,\n"
    "  -2, 300, 4, 0x18, 701, 0, 0\nEND\n"
    "601 RCDATA\nBEGIN\n  500, 2,\n  -2, 1, 4, 0x10, 700, 0, 0xFFFF\nEND\n"
    // Bars naming what is not there: a string, a menu, a pop-up of the menu.
    "602 RCDATA\nBEGIN\n  500, 1,\n  -2, 1, 4, 0x10, 799, 0, 0xFFFF\nEND\n"
    "603 RCDATA\nBEGIN\n  599, 1,\n  -2, 1, 4, 0x10, 700, 0, 0xFFFF\nEND\n"
    "604 RCDATA\nBEGIN\n  500, 1,\n  -2, 1, 4, 0x18, 700, 0, 7\nEND\n";
constexpr UINT kBarMenuId = 500;
constexpr UINT kBarResourceId = 600;
constexpr UINT kShortBarResourceId = 601;

class MenuResourceTest : public MenuTest {
 protected:
  void SetUp() override {
    auto r = CompileResourceScript(kMenuScript, device_.Scratch(), "menu.rc");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(BindModuleResources(Module(), std::move(r.image)));
  }
  void TearDown() override { BindModuleResources(Module(), nullptr, 0); }
  static HINSTANCE Module() { return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x4D450}); }
};

TEST_F(MenuResourceTest, LoadsNestedPopupsSeparatorsAndStates) {
  HMENU menu = LoadMenuW(Module(), u"MAINMENU");
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 2);
  EXPECT_EQ(ItemText(menu, 0, TRUE), u"File");
  EXPECT_EQ(GetMenuItemID(menu, 1), 200u);
  MENUITEMINFOW mii = Info(MIIM_STATE);
  ASSERT_TRUE(GetMenuItemInfoW(menu, 200, FALSE, &mii));
  EXPECT_EQ(mii.fState & MFS_CHECKED, MFS_CHECKED);

  HMENU file = GetSubMenu(menu, 0);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(GetMenuItemCount(file), 4);
  EXPECT_EQ(ItemText(file, 0, TRUE), u"Open");
  mii = Info(MIIM_TYPE);
  ASSERT_TRUE(GetMenuItemInfoW(file, 1, TRUE, &mii));
  EXPECT_TRUE(mii.fType & MFT_SEPARATOR);
  HMENU recent = GetSubMenu(file, 2);
  ASSERT_NE(recent, nullptr);
  EXPECT_EQ(ItemText(recent, 0, TRUE), u"First");
  EXPECT_EQ(ItemText(menu, 111, FALSE), u"First");
  mii = Info(MIIM_STATE);
  ASSERT_TRUE(GetMenuItemInfoW(file, 102, FALSE, &mii));
  EXPECT_EQ(mii.fState & MFS_GRAYED, MF_GRAYED);

  DestroyMenu(menu);
  EXPECT_FALSE(IsMenu(recent));
}

TEST_F(MenuResourceTest, MissingAndMalformedTemplatesLoadNothing) {
  EXPECT_EQ(LoadMenuW(Module(), u"NOSUCHMENU"), nullptr);
  const WORD extended[] = {1, 4, 0, 0, 0, 0};  // an extended template: not understood
  EXPECT_EQ(LoadMenuIndirectW(extended), nullptr);
  EXPECT_EQ(LoadMenuIndirectW(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Combo box

class ComboBoxTest : public orvtest::DeviceTest {
 protected:
  void TearDown() override {
    if (combo_) DestroyWindow(combo_);
  }
  HWND Make(DWORD style = CBS_DROPDOWNLIST) {
    combo_ = CreateWindowExW(0, WC_COMBOBOXW, u"", style, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    return combo_;
  }
  LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) { return SendMessageW(combo_, msg, w, l); }
  LRESULT Add(const char16_t* text) { return Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }
  std::u16string Text(WPARAM i) {
    LRESULT n = Send(CB_GETLBTEXTLEN, i);
    if (n < 0) return u"<err>";
    std::u16string s(static_cast<std::size_t>(n) + 1, u'#');
    EXPECT_EQ(Send(CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(s.data())), n);
    EXPECT_EQ(s.back(), u'\0');
    s.pop_back();
    return s;
  }
  std::u16string WindowText() {
    WCHAR buf[64] = {};
    GetWindowTextW(combo_, buf, 64);
    return buf;
  }
  HWND combo_ = nullptr;
};

TEST_F(ComboBoxTest, ItemsDataAndSelection) {
  ASSERT_NE(Make(), nullptr);
  WCHAR cls[32] = {};
  GetClassNameW(combo_, cls, 32);
  EXPECT_EQ(std::u16string(cls), u"combobox");
  EXPECT_EQ(Send(CB_GETCOUNT), 0);
  EXPECT_EQ(Send(CB_GETCURSEL), CB_ERR);
  EXPECT_EQ(Add(u"Red"), 0);
  EXPECT_EQ(Add(u"Green"), 1);
  EXPECT_EQ(Send(CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"Blue")), 0);
  EXPECT_EQ(Send(CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"White")), 3);
  EXPECT_EQ(Send(CB_INSERTSTRING, 9, reinterpret_cast<LPARAM>(u"Far")), CB_ERR);
  ASSERT_EQ(Send(CB_GETCOUNT), 4);
  EXPECT_EQ(Text(0), u"Blue");
  EXPECT_EQ(Text(1), u"Red");
  EXPECT_EQ(Text(3), u"White");
  EXPECT_EQ(Send(CB_GETLBTEXTLEN, 4), CB_ERR);
  WCHAR buf[8];
  EXPECT_EQ(Send(CB_GETLBTEXT, 4, reinterpret_cast<LPARAM>(buf)), CB_ERR);

  EXPECT_EQ(Send(CB_SETITEMDATA, 1, 0x5151), CB_OKAY);
  EXPECT_EQ(Send(CB_GETITEMDATA, 1), 0x5151);
  EXPECT_EQ(Send(CB_GETITEMDATA, 0), 0);
  EXPECT_EQ(Send(CB_SETITEMDATA, 7, 1), CB_ERR);
  EXPECT_EQ(Send(CB_GETITEMDATA, 7), CB_ERR);

  // The selection follows the item through inserts and deletes, and the
  // window text shows it.
  EXPECT_EQ(Send(CB_SETCURSEL, 2), 2);
  EXPECT_EQ(WindowText(), u"Green");
  Send(CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"Black"));
  EXPECT_EQ(Send(CB_GETCURSEL), 3);
  EXPECT_EQ(Send(CB_DELETESTRING, 1), 4) << "the count left";
  EXPECT_EQ(Send(CB_GETCURSEL), 2);
  EXPECT_EQ(Text(2), u"Green");
  EXPECT_EQ(Send(CB_GETITEMDATA, 1), 0x5151) << "data moves with its item";
  EXPECT_EQ(Send(CB_DELETESTRING, 2), 3);
  EXPECT_EQ(Send(CB_GETCURSEL), CB_ERR) << "deleting the selected item clears the selection";
  EXPECT_EQ(WindowText(), u"");
  EXPECT_EQ(Send(CB_DELETESTRING, 3), CB_ERR);
  EXPECT_EQ(Send(CB_SETCURSEL, 1), 1);
  EXPECT_EQ(Send(CB_SETCURSEL, 10), CB_ERR);
  EXPECT_EQ(Send(CB_GETCURSEL), CB_ERR) << "a bad index clears the selection";

  EXPECT_EQ(Send(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"WHITE")), 2);
  EXPECT_EQ(Send(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"Whit")), CB_ERR);
  EXPECT_EQ(Send(CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"re")), 1);
  EXPECT_EQ(WindowText(), u"Red");
  EXPECT_EQ(Send(CB_RESETCONTENT), CB_OKAY);
  EXPECT_EQ(Send(CB_GETCOUNT), 0);
  EXPECT_EQ(Send(CB_GETCURSEL), CB_ERR);
}

TEST_F(ComboBoxTest, SortedBoxAddsInOrderButInsertsWhereTold) {
  ASSERT_NE(Make(CBS_DROPDOWNLIST | CBS_SORT), nullptr);
  Add(u"pear");
  Add(u"Apple");
  EXPECT_EQ(Add(u"banana"), 1);
  Send(CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"zucchini"));
  std::vector<std::u16string> texts;
  for (WPARAM i = 0; i < 4; ++i) texts.push_back(Text(i));
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"zucchini", u"Apple", u"banana", u"pear"}));
}

// ---------------------------------------------------------------------------
// Menu bar

LRESULT CALLBACK_Plain(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class MenuBarTest : public MenuResourceTest {
 protected:
  void SetUp() override {
    MenuResourceTest::SetUp();
    wmtest::EnsureClass(u"MenuBarTestOwner", CALLBACK_Plain);
    owner_ = CreateWindowExW(0, u"MenuBarTestOwner", u"Owner", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(owner_)) DestroyWindow(owner_);
    MenuResourceTest::TearDown();
  }
  HWND MakeBar(DWORD flags, UINT id = 0) {
    SHMENUBARINFO mbi{};
    mbi.cbSize = sizeof mbi;
    mbi.hwndParent = owner_;
    mbi.dwFlags = flags;
    mbi.nToolBarId = id;
    mbi.hInstRes = Module();
    // Null when no bar was made.
    return SHCreateMenuBar(&mbi) ? mbi.hwndMB : nullptr;
  }
  static std::u16string ButtonText(HWND bar, WPARAM button, DWORD byIndex, int cch = 256) {
    std::vector<WCHAR> buf(static_cast<std::size_t>(cch) + 1, u'#');
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT | byIndex;
    info.pszText = buf.data();
    info.cchText = cch;
    if (SendMessageW(bar, TB_GETBUTTONINFOW, button, reinterpret_cast<LPARAM>(&info)) < 0) return u"<none>";
    return buf.data();
  }
  HWND owner_ = nullptr;
};

TEST_F(MenuBarTest, BarFromAMenuResourceIsFoundThroughTheShellLibrary) {
  EXPECT_EQ(MakeBar(SHCMBF_HMENU, 9), nullptr) << "menu 9 does not exist";
  HWND bar = MakeBar(SHCMBF_HMENU, kBarMenuId);
  ASSERT_NE(bar, nullptr);
  WCHAR cls[32] = {};
  GetClassNameW(bar, cls, 32);
  EXPECT_EQ(std::u16string(cls), kMenuBarClassName);
  EXPECT_EQ(GetWindow(bar, GW_OWNER), owner_);
  EXPECT_TRUE(IsWindowVisible(bar));

  ASSERT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 2);
  TBBUTTON first{}, second{};
  ASSERT_TRUE(SendMessageW(bar, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&first)));
  ASSERT_TRUE(SendMessageW(bar, TB_GETBUTTON, 1, reinterpret_cast<LPARAM>(&second)));
  EXPECT_FALSE(SendMessageW(bar, TB_GETBUTTON, 2, reinterpret_cast<LPARAM>(&second)));
  EXPECT_EQ(first.idCommand, kMenuBarFirstPopupId);
  EXPECT_TRUE(first.fsStyle & TBSTYLE_DROPDOWN);
  EXPECT_EQ(second.idCommand, 200);
  EXPECT_EQ(ButtonText(bar, 0, TBIF_BYINDEX), u"File");
  EXPECT_EQ(ButtonText(bar, 200, 0), u"Done");

  auto menu = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETMENU, 0, 0));
  ASSERT_TRUE(IsMenu(menu));
  auto file = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, kMenuBarFirstPopupId));
  EXPECT_EQ(file, GetSubMenu(menu, 0));
  EXPECT_EQ(reinterpret_cast<HMENU>(first.dwData), file);
  EXPECT_EQ(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, 200), 0);

  EXPECT_EQ(SHFindMenuBar(owner_), bar);
  EXPECT_EQ(SHFindMenuBar(bar), nullptr);
  HMODULE shell = LoadLibraryW(u"aygshell.dll");
  ASSERT_NE(shell, nullptr);
  using FindProc = HWND (*)(HWND);
  auto find = reinterpret_cast<FindProc>(GetProcAddress(shell, reinterpret_cast<const char*>(std::uintptr_t{188})));
  ASSERT_NE(find, nullptr);
  EXPECT_EQ(find(owner_), bar);
  FreeLibrary(shell);

  // The bar goes with its owner, and the menu it loaded with the bar.
  DestroyWindow(owner_);
  EXPECT_FALSE(IsWindow(bar));
  EXPECT_FALSE(IsMenu(menu));
  EXPECT_FALSE(IsMenu(file));
}

TEST_F(MenuBarTest, ButtonsAddedReadAndChangedByIndexOrCommand) {
  HWND bar = MakeBar(SHCMBF_EMPTYBAR);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageW(bar, SHCMBM_GETMENU, 0, 0), 0);
  HMENU popup = CreatePopupMenu();
  TBBUTTON buttons[2] = {};
  buttons[0].idCommand = 40;
  buttons[0].fsState = TBSTATE_ENABLED;
  buttons[0].iString = reinterpret_cast<INT_PTR>(u"Left");
  buttons[1].idCommand = 41;
  buttons[1].fsState = TBSTATE_ENABLED;
  buttons[1].fsStyle = TBSTYLE_DROPDOWN;
  buttons[1].dwData = reinterpret_cast<DWORD_PTR>(popup);
  buttons[1].iString = reinterpret_cast<INT_PTR>(u"Menu");
  ASSERT_TRUE(SendMessageW(bar, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons)));
  ASSERT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 2);

  TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_LPARAM | TBIF_COMMAND | TBIF_BYINDEX;
  EXPECT_EQ(SendMessageW(bar, TB_GETBUTTONINFOW, 1, reinterpret_cast<LPARAM>(&info)), 1);
  EXPECT_EQ(info.idCommand, 41);
  EXPECT_EQ(reinterpret_cast<HMENU>(info.lParam), popup);
  EXPECT_EQ(SendMessageW(bar, TB_GETBUTTONINFOW, 2, reinterpret_cast<LPARAM>(&info)), -1);
  info.dwMask = TBIF_LPARAM;
  EXPECT_EQ(SendMessageW(bar, TB_GETBUTTONINFOW, 40, reinterpret_cast<LPARAM>(&info)), 0) << "by command id";
  EXPECT_EQ(SendMessageW(bar, TB_GETBUTTONINFOW, 99, reinterpret_cast<LPARAM>(&info)), -1);
  info.cbSize = 8;
  EXPECT_EQ(SendMessageW(bar, TB_GETBUTTONINFOW, 40, reinterpret_cast<LPARAM>(&info)), -1) << "wrong size";
  EXPECT_EQ(ButtonText(bar, 41, 0, 3), u"Me") << "cut to the buffer";
  EXPECT_EQ(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, 41), reinterpret_cast<LRESULT>(popup));

  TBBUTTONINFOW change{};
  change.cbSize = sizeof change;
  change.dwMask = TBIF_TEXT | TBIF_BYINDEX;
  change.pszText = const_cast<WCHAR*>(u"Gauche");
  ASSERT_TRUE(SendMessageW(bar, TB_SETBUTTONINFOW, 0, reinterpret_cast<LPARAM>(&change)));
  change.dwMask = TBIF_TEXT;
  change.pszText = const_cast<WCHAR*>(u"Menü");
  ASSERT_TRUE(SendMessageW(bar, TB_SETBUTTONINFOW, 41, reinterpret_cast<LPARAM>(&change)));
  EXPECT_FALSE(SendMessageW(bar, TB_SETBUTTONINFOW, 77, reinterpret_cast<LPARAM>(&change)));
  EXPECT_EQ(ButtonText(bar, 40, 0), u"Gauche");
  EXPECT_EQ(ButtonText(bar, 1, TBIF_BYINDEX), u"Menü");
  WCHAR text[16] = {};
  EXPECT_EQ(SendMessageW(bar, TB_GETBUTTONTEXTW, 41, reinterpret_cast<LPARAM>(text)), 4);
  EXPECT_EQ(std::u16string(text), u"Menü");

  EXPECT_TRUE(SendMessageW(bar, TB_ENABLEBUTTON, 40, FALSE) != 0);
  EXPECT_FALSE(SendMessageW(bar, TB_ISBUTTONENABLED, 40, 0));
  EXPECT_TRUE(SendMessageW(bar, TB_ISBUTTONENABLED, 41, 0));

  // Menus a program gave the bar stay the program's.
  DestroyWindow(bar);
  EXPECT_TRUE(IsMenu(popup));
  DestroyMenu(popup);
}

TEST_F(MenuBarTest, BarResourceNamesTextsAndThePopupsItsButtonsOpen) {
  HWND bar = MakeBar(0, kBarResourceId);
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 2);
  EXPECT_EQ(ButtonText(bar, 1, 0), u"Accept");
  EXPECT_EQ(ButtonText(bar, 300, 0), u"Actions");
  TBBUTTON plain{}, popup{};
  ASSERT_TRUE(SendMessageW(bar, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&plain)));
  ASSERT_TRUE(SendMessageW(bar, TB_GETBUTTON, 1, reinterpret_cast<LPARAM>(&popup)));
  EXPECT_EQ(plain.iBitmap, I_IMAGENONE);
  EXPECT_EQ(plain.fsState, TBSTATE_ENABLED);
  EXPECT_EQ(popup.fsStyle, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE);
  EXPECT_EQ(plain.dwData, 0u);
  auto menu = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETMENU, 0, 0));
  ASSERT_TRUE(IsMenu(menu));
  EXPECT_EQ(reinterpret_cast<HMENU>(popup.dwData), GetSubMenu(menu, 0));
  EXPECT_EQ(ItemText(reinterpret_cast<HMENU>(popup.dwData), 0, TRUE), u"Open");
  DestroyWindow(bar);
  EXPECT_FALSE(IsMenu(menu));
}

TEST_F(MenuBarTest, BadRequestsMakeNoBar) {
  SHMENUBARINFO mbi{};
  mbi.cbSize = sizeof mbi - 4;
  mbi.hwndParent = owner_;
  mbi.dwFlags = SHCMBF_EMPTYBAR;
  SetLastError(0);
  EXPECT_FALSE(SHCreateMenuBar(&mbi));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  mbi.cbSize = sizeof mbi;
  mbi.hwndParent = nullptr;
  EXPECT_FALSE(SHCreateMenuBar(&mbi));
  mbi.hwndParent = owner_;
  mbi.dwFlags = 0;  // bar resources
  mbi.hInstRes = Module();
  mbi.nToolBarId = 9;
  EXPECT_FALSE(SHCreateMenuBar(&mbi)) << "no such resource";
  mbi.nToolBarId = kShortBarResourceId;
  SetLastError(0);
  EXPECT_FALSE(SHCreateMenuBar(&mbi));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "fewer buttons than it counts";
  EXPECT_EQ(mbi.hwndMB, nullptr);
  // A bar or menu naming a missing resource fails the call (and says why on the log).
  for (UINT id : {602u, 603u, 604u}) {
    mbi.nToolBarId = id;
    EXPECT_FALSE(SHCreateMenuBar(&mbi)) << id;
    EXPECT_EQ(mbi.hwndMB, nullptr) << id;
  }
  mbi.dwFlags = SHCMBF_HMENU;
  mbi.nToolBarId = 599;
  EXPECT_FALSE(SHCreateMenuBar(&mbi)) << "no such menu";
  EXPECT_EQ(SHFindMenuBar(owner_), nullptr);
  EXPECT_EQ(SHFindMenuBar(nullptr), nullptr);
}

}  // namespace
