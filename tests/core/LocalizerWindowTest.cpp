// The localizer on live windows: dialogs and their children, combo boxes,
// menus with sub-menus and the shell's menu bar, on a Pocket PC and on a
// Smartphone. IsSmartphonePlatform is worked out once per process, so each
// case relies on running in a process of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/FrameworkServices.h"
#include "core/Localizer.h"
#include "platform/base/Module.h"
#include "platform/base/SysInfo.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/files/Files.h"
#include "platform/resources/Resources.h"
#include "platform/windows/Menus.h"
#include "platform/windows/Windows.h"
#include "tests/support/DeviceFiles.h"
#include "tests/support/TempDevice.h"
#include "tools/rc/ResourceCompiler.h"

namespace {

using namespace plat;

// "Rot|Falsch" catches a text translated twice (Red, then Rot).
const char kLanguageFile[] =
    "Options|Optionen\n"
    "Name|Vorname\n"
    "Cancel|Abbrechen\n"
    "Red|Rot\n"
    "Rot|Falsch\n"
    "Green|Gr\xC3\xBCn\n"
    "File|Datei\n"
    "Open|\xC3\x96" "ffnen\n"
    "Recent|Zuletzt\n"
    "First|Erste\n"
    "Done|Fertig\n"
    "Edit|Bearbeiten\n"
    "Empty|\n";

const char kResources[] = R"(
#define IDCANCEL 2
#define IDM_BAR 500
OPTIONS DIALOG 0, 0, 140, 100
STYLE WS_POPUP | WS_CAPTION
CAPTION "Options"
BEGIN
    LTEXT "Name", 200, 4, 4, 60, 10
    LTEXT "Untranslated", 201, 4, 16, 60, 10
    LTEXT "Empty", 202, 4, 28, 60, 10
    PUSHBUTTON "Cancel", IDCANCEL, 70, 4, 40, 12
    COMBOBOX 300, 4, 40, 80, 40, CBS_DROPDOWNLIST
    CONTROL "Panel", 400, "static", 0, 4, 60, 100, 30
END
IDM_BAR MENU
BEGIN
    POPUP "File"
    BEGIN
        MENUITEM "Open", 101
        POPUP "Recent"
        BEGIN
            MENUITEM "First", 111
        END
    END
    MENUITEM "Done", 200
    POPUP "Edit"
    BEGIN
        MENUITEM "Red", 301
    END
END
)";
constexpr UINT kBarMenuId = 500;

INT_PTR CALLBACK_Dialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
LRESULT CALLBACK_Plain(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::u16string TextOf(HWND hwnd) {
  WCHAR buf[256] = {};
  GetWindowTextW(hwnd, buf, 256);
  return buf;
}

std::u16string ItemText(HMENU menu, UINT position) {
  WCHAR buf[128] = {};
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof mii;
  mii.fMask = MIIM_TYPE;
  mii.dwTypeData = buf;
  mii.cch = 128;
  if (!GetMenuItemInfoW(menu, position, TRUE, &mii)) return u"<none>";
  return buf;
}

std::u16string ButtonText(HWND bar, int index) {
  WCHAR buf[256] = {};
  TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT | TBIF_BYINDEX;
  info.pszText = buf;
  info.cchText = 256;
  if (SendMessageW(bar, TB_GETBUTTONINFOW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info)) < 0)
    return u"<none>";
  return buf;
}

HMENU ButtonMenu(HWND bar, int index) {
  TBBUTTON b{};
  if (!SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&b))) return nullptr;
  return reinterpret_cast<HMENU>(b.dwData);
}

class LocalizerWindowTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(orvtest::WriteDeviceFile(u"\\localization_de.txt", kLanguageFile));
    ASSERT_TRUE(GetLocalizer().LoadFile(u"\\localization_de.txt"));
    auto r = CompileResourceScript(kResources, device_.Scratch(), "localizer.rc");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(BindModuleResources(Module(), std::move(r.image)));
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, u"LocalizerTestWindow", &wc)) {
      wc.lpfnWndProc = CALLBACK_Plain;
      wc.lpszClassName = u"LocalizerTestWindow";
      RegisterClassW(&wc);
    }
  }
  void TearDown() override {
    for (HWND w : windows_)
      if (IsWindow(w)) DestroyWindow(w);
    BindModuleResources(Module(), nullptr, 0);
    GetLocalizer().Unload();
  }
  static HINSTANCE Module() { return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x10C50}); }
  const COrvLocalizerWTL& L() { return GetLocalizer(); }

  HWND Window(const char16_t* text = u"Owner") {
    HWND w = CreateWindowExW(0, u"LocalizerTestWindow", text, WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                             nullptr);
    windows_.push_back(w);
    return w;
  }
  HWND Combo(HWND parent = nullptr) {
    HWND c = CreateWindowExW(0, WC_COMBOBOXW, u"", parent ? WS_CHILD | CBS_DROPDOWNLIST : CBS_DROPDOWNLIST, 0, 0,
                             80, 20, parent, nullptr, nullptr, nullptr);
    if (!parent) windows_.push_back(c);
    return c;
  }
  static void AddItem(HWND combo, const char16_t* text, LPARAM data) {
    LRESULT i = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(i), data);
  }
  struct ComboItem {
    std::u16string text;
    LPARAM data;
    bool operator==(const ComboItem& o) const { return text == o.text && data == o.data; }
  };
  static std::vector<ComboItem> Items(HWND combo) {
    std::vector<ComboItem> out;
    LRESULT n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
      std::u16string t(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0)) + 1,
                       u'\0');
      SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(t.data()));
      t.pop_back();
      out.push_back({t, SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)});
    }
    return out;
  }
  HWND MenuBar(HWND owner) {
    SHMENUBARINFO mbi{};
    mbi.cbSize = sizeof mbi;
    mbi.hwndParent = owner;
    mbi.dwFlags = SHCMBF_HMENU;
    mbi.nToolBarId = kBarMenuId;
    mbi.hInstRes = Module();
    EXPECT_TRUE(SHCreateMenuBar(&mbi));
    return mbi.hwndMB;
  }

  std::vector<HWND> windows_;
};

TEST_F(LocalizerWindowTest, WindowTextIsReplacedOnlyByARealTranslation) {
  HWND translated = Window(u"Options");
  HWND kept = Window(u"Untranslated");
  HWND empty = Window(u"Empty");  // the file's entry has no text
  HWND bel = Window(u"Key\u0007Shown");
  for (HWND w : {translated, kept, empty, bel}) L().LocalizeWindowText(w);
  EXPECT_EQ(TextOf(translated), u"Optionen");
  EXPECT_EQ(TextOf(kept), u"Untranslated");
  EXPECT_EQ(TextOf(empty), u"Empty");
  EXPECT_EQ(TextOf(bel), u"Key\u0007Shown") << "no BEL fallback for windows";
  DestroyWindow(translated);
  L().LocalizeWindowText(translated);  // a dead window is left alone
  L().LocalizeWindowText(nullptr);
}

TEST_F(LocalizerWindowTest, DialogAndItsDirectChildrenWithTheirComboBoxes) {
  HWND dialog = CreateDialogParamW(Module(), u"OPTIONS", nullptr, CALLBACK_Dialog, 0);
  ASSERT_NE(dialog, nullptr);
  windows_.push_back(dialog);
  HWND combo = GetDlgItem(dialog, 300);
  ASSERT_NE(combo, nullptr);
  AddItem(combo, u"Red", 1);
  AddItem(combo, u"Blue", 2);
  AddItem(combo, u"Green", 3);
  SendMessageW(combo, CB_SETCURSEL, 2, 0);
  HWND panel = GetDlgItem(dialog, 400);
  ASSERT_NE(panel, nullptr);
  HWND grandchild = CreateWindowExW(0, u"static", u"Cancel", WS_CHILD, 0, 0, 40, 10, panel, nullptr, nullptr, nullptr);
  ASSERT_NE(grandchild, nullptr);
  HWND innerCombo = Combo(panel);
  AddItem(innerCombo, u"Red", 9);

  L().LocalizeDialog(dialog);

  EXPECT_EQ(TextOf(dialog), u"Optionen");
  EXPECT_EQ(TextOf(GetDlgItem(dialog, 200)), u"Vorname");
  EXPECT_EQ(TextOf(GetDlgItem(dialog, 201)), u"Untranslated");
  EXPECT_EQ(TextOf(GetDlgItem(dialog, 202)), u"Empty");
  EXPECT_EQ(TextOf(GetDlgItem(dialog, IDCANCEL)), u"Abbrechen");
  EXPECT_EQ(Items(combo), (std::vector<ComboItem>{{u"Rot", 1}, {u"Blue", 2}, {u"Gr\u00FCn", 3}}));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(TextOf(combo), u"Gr\u00FCn");
  // Grandchildren are not visited.
  EXPECT_EQ(TextOf(grandchild), u"Cancel");
  EXPECT_EQ(Items(innerCombo), (std::vector<ComboItem>{{u"Red", 9}}));
}

TEST_F(LocalizerWindowTest, ComboBoxKeepsOrderDataAndSelection) {
  HWND combo = Combo();
  ASSERT_NE(combo, nullptr);
  AddItem(combo, u"Green", 30);
  AddItem(combo, u"Red", 10);
  AddItem(combo, u"Blue", 20);
  AddItem(combo, u"Red", 40);
  SendMessageW(combo, CB_SETCURSEL, 1, 0);
  L().LocalizeComboBox(combo);
  EXPECT_EQ(Items(combo),
            (std::vector<ComboItem>{{u"Gr\u00FCn", 30}, {u"Rot", 10}, {u"Blue", 20}, {u"Rot", 40}}))
      << "each item once: Rot is not translated again";
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);

  HWND unselected = Combo();
  AddItem(unselected, u"Red", 5);
  L().LocalizeComboBox(unselected);
  EXPECT_EQ(SendMessageW(unselected, CB_GETCURSEL, 0, 0), CB_ERR) << "no selection is made";
  L().LocalizeComboBox(Combo());  // empty
}

WNDPROC g_comboProc = nullptr;
LRESULT CALLBACK_FullCombo(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == CB_INSERTSTRING) return CB_ERRSPACE;
  return CallWindowProcW(g_comboProc, hwnd, msg, wParam, lParam);
}

TEST_F(LocalizerWindowTest, ComboBoxThatTakesNoMoreTextKeepsItsItems) {
  HWND combo = Combo();
  AddItem(combo, u"Red", 10);
  AddItem(combo, u"Green", 30);
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
  g_comboProc = reinterpret_cast<WNDPROC>(
      SetWindowLongW(combo, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&CALLBACK_FullCombo)));
  L().LocalizeComboBox(combo);
  EXPECT_EQ(Items(combo), (std::vector<ComboItem>{{u"Red", 10}, {u"Green", 30}}));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
}

TEST_F(LocalizerWindowTest, MenuItemsAndSubMenusRecursively) {
  HMENU colors = CreatePopupMenu();
  AppendMenuW(colors, MF_STRING, 301, u"Red");
  HMENU recent = CreatePopupMenu();
  AppendMenuW(recent, MF_STRING, 111, u"First");
  AppendMenuW(recent, MF_POPUP, reinterpret_cast<UINT_PTR>(colors), u"Colors");
  HMENU file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING | MF_GRAYED, 101, u"Open");
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  auto bitmap = reinterpret_cast<const WCHAR*>(std::uintptr_t{0x4242});
  AppendMenuW(file, MF_BITMAP, 102, bitmap);
  AppendMenuW(file, MF_POPUP, reinterpret_cast<UINT_PTR>(recent), u"Recent");
  AppendMenuW(file, MF_STRING, 103, u"Untranslated");
  HMENU menu = CreateMenu();
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), u"File");
  AppendMenuW(menu, MF_STRING, 200, u"Done");
  // The same sub-menu opened from a second place is localized once.
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(colors), u"Edit");

  L().LocalizeMenu(menu);

  EXPECT_EQ(ItemText(menu, 0), u"Datei");
  EXPECT_EQ(ItemText(menu, 1), u"Fertig");
  EXPECT_EQ(ItemText(menu, 2), u"Bearbeiten");
  EXPECT_EQ(ItemText(file, 0), u"\u00D6ffnen");
  EXPECT_EQ(ItemText(file, 3), u"Zuletzt");
  EXPECT_EQ(ItemText(file, 4), u"Untranslated");
  EXPECT_EQ(ItemText(recent, 0), u"Erste");
  EXPECT_EQ(ItemText(recent, 1), u"Colors");
  EXPECT_EQ(ItemText(colors, 0), u"Rot");
  EXPECT_EQ(GetMenuItemCount(file), 5);

  // Ids, states, separators and the bitmap item are as they were.
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof mii;
  mii.fMask = MIIM_TYPE | MIIM_STATE | MIIM_ID;
  WCHAR buf[16];
  mii.dwTypeData = buf;
  mii.cch = 16;
  ASSERT_TRUE(GetMenuItemInfoW(file, 0, TRUE, &mii));
  EXPECT_EQ(mii.wID, 101u);
  EXPECT_EQ(mii.fState & MFS_GRAYED, MF_GRAYED);
  mii.dwTypeData = buf;
  ASSERT_TRUE(GetMenuItemInfoW(file, 1, TRUE, &mii));
  EXPECT_EQ(mii.fType, MFT_SEPARATOR);
  mii.dwTypeData = buf;
  ASSERT_TRUE(GetMenuItemInfoW(file, 2, TRUE, &mii));
  EXPECT_EQ(mii.fType, MFT_BITMAP);
  EXPECT_EQ(mii.dwTypeData, bitmap);
  DestroyMenu(menu);
  L().LocalizeMenu(menu);  // a destroyed menu is left alone
}

TEST_F(LocalizerWindowTest, PocketPcMenuBarEveryButtonAndItsMenu) {
  ASSERT_FALSE(IsSmartphonePlatform());
  HWND owner = Window();
  HWND bar = MenuBar(owner);
  ASSERT_NE(bar, nullptr);
  // A button whose data is no menu only has its text translated.
  TBBUTTON extra{};
  extra.idCommand = 77;
  extra.fsState = TBSTATE_ENABLED;
  extra.dwData = 0x777;
  extra.iString = reinterpret_cast<INT_PTR>(u"Cancel");
  ASSERT_TRUE(SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&extra)));

  L().LocalizeMenuBar(owner, false);

  EXPECT_EQ(ButtonText(bar, 0), u"Datei");
  EXPECT_EQ(ButtonText(bar, 1), u"Fertig");
  EXPECT_EQ(ButtonText(bar, 2), u"Bearbeiten");
  EXPECT_EQ(ButtonText(bar, 3), u"Abbrechen");
  HMENU file = ButtonMenu(bar, 0);
  EXPECT_EQ(ItemText(file, 0), u"\u00D6ffnen");
  EXPECT_EQ(ItemText(GetSubMenu(file, 1), 0), u"Erste");
  EXPECT_EQ(ItemText(ButtonMenu(bar, 2), 0), u"Rot");
  EXPECT_EQ(TextOf(owner), u"Owner") << "the window itself is not touched";
}

TEST_F(LocalizerWindowTest, MenuBarGivenDirectlyOrMissing) {
  ASSERT_FALSE(IsSmartphonePlatform());
  HWND owner = Window();
  HWND bar = MenuBar(owner);
  ASSERT_NE(bar, nullptr);
  // The window is taken as the bar itself only when told so.
  L().LocalizeMenuBar(owner, true);
  EXPECT_EQ(ButtonText(bar, 0), u"File");
  L().LocalizeMenuBar(Window(), false);  // a window without a bar
  EXPECT_EQ(ButtonText(bar, 0), u"File");

  // Without the shell library no bar is found.
  UnregisterBuiltInModule(u"aygshell.dll");
  L().LocalizeMenuBar(owner, false);
  EXPECT_EQ(ButtonText(bar, 0), u"File");
  RegisterShellModule();

  L().LocalizeMenuBar(bar, true);
  EXPECT_EQ(ButtonText(bar, 0), u"Datei");
  EXPECT_EQ(ButtonText(bar, 1), u"Fertig");
  EXPECT_EQ(ItemText(ButtonMenu(bar, 2), 0), u"Rot");
}

TEST_F(LocalizerWindowTest, SmartphoneMenuBarOnlyTheTwoSoftKeys) {
  SystemInfoSettings phone;
  phone.platformType = u"SmartPhone";  // compared ignoring case
  SetSystemInfoForTesting(phone);
  ASSERT_TRUE(IsSmartphonePlatform());
  HWND owner = Window();
  HWND bar = MenuBar(owner);
  ASSERT_NE(bar, nullptr);

  L().LocalizeMenuBar(owner, false);

  EXPECT_EQ(ButtonText(bar, 0), u"Datei");
  EXPECT_EQ(ItemText(ButtonMenu(bar, 0), 0), u"\u00D6ffnen");
  EXPECT_EQ(ItemText(GetSubMenu(ButtonMenu(bar, 0), 1), 0), u"Erste");
  EXPECT_EQ(ButtonText(bar, 1), u"Fertig");
  EXPECT_EQ(ButtonText(bar, 2), u"Edit");
  EXPECT_EQ(ItemText(ButtonMenu(bar, 2), 0), u"Red");
  ResetSystemInfoForTesting();
}

}  // namespace
