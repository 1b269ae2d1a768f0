// The Today options program's pages, made from their dialog resources and
// driven through their controls: the channels page writes the selection and
// reports exactly the changed channels to the item, the view-style page shows
// the controls of the chosen style and keeps values its combos cannot show,
// and the font page writes ClearType only when the user chose a mode.
#include <gtest/gtest.h>

#include "core/Localizer.h"
#include "core/VORegistry.h"
#include "database/NotifyToday.h"
#include "database/TodayChannelFilter.h"
#include "database/TodayViewOptions.h"
#include "layout/DialogFontCache.h"
#include "layout/ScreenScale.h"
#include "platform/base/ScreenSettings.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/Shell.h"
#include "platform/controls/ShellExecute.h"
#include "platform/files/Files.h"
#include "platform/gdi/Gdi.h"
#include "platform/resources/Resources.h"
#include "platform/windows/Windows.h"
#include "resources/todayoptions/resource.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempDevice.h"
#include "todayoptions/OptionsPages.h"

namespace {

using namespace plat;

CVORegistry TodayKey() {
  const std::u16string path = GetTodayRegistryKey();
  return CVORegistry(GetSettingsRootKey(), path.c_str(), true, true, KEY_ALL_ACCESS);
}

class OptionsPagesTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSettingsKey().SetString(u"ContentFolder", u"\\Content"));
    InitCommonControls();
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = u"OptionsTestOwner";
    RegisterClassW(&wc);
    owner_ = CreateWindowExW(0, u"OptionsTestOwner", u"", WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    for (HWND page : pages_) DestroyWindow(page);
    DestroyWindow(owner_);
    ResetScreenForTesting();
    ResetUiToolkitForTesting();
  }
  // A page as the sheet shows it: the width of the screen.
  HWND MakeSized(COptionsPage& page, int width, int height) {
    HWND hwnd = Make(page);
    if (hwnd) MoveWindow(hwnd, 0, 0, width, height, TRUE);  // WM_SIZE lays the rows out again
    return hwnd;
  }
  static RECT RectIn(HWND page, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(page, id), &r);
    POINT origin{0, 0};
    ClientToScreen(page, &origin);
    OffsetRect(&r, -origin.x, -origin.y);
    return r;
  }
  static int TextWidth(HWND control) {
    char16_t text[128] = {};
    const int n = GetWindowTextW(control, text, 128);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text, n, &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size.cx;
  }
  HWND Make(COptionsPage& page) {
    // As the sheet hands it: WM_INITDIALOG's lParam is the page's structure.
    PROPSHEETPAGEW sheetPage{};
    sheetPage.lParam = reinterpret_cast<LPARAM>(&page);
    HWND hwnd = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(static_cast<std::uintptr_t>(page.TemplateId())), owner_,
                                   &COptionsPage::DialogProc, reinterpret_cast<LPARAM>(&sheetPage));
    if (hwnd) pages_.push_back(hwnd);
    return hwnd;
  }
  // A user's choice in a combo: the selection and its notification.
  static void Choose(HWND page, int id, int row) {
    SendDlgItemMessageW(page, id, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
  }
  static bool Shown(HWND control) { return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0; }
  static std::u16string Record() {
    return OpenSettingsKey().GetString(kChangedItemsValue, kNoItemsChanged);
  }

  HWND owner_ = nullptr;
  std::vector<HWND> pages_;
};

TEST_F(OptionsPagesTest, ChannelsPageWritesFlagsAndReportsOnlyChangedChannels) {
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{u"Alpha", u"1"}, {u"Beta", u"1"}, {u"Gamma", u"0"}}));
  CTabChannels channels;
  ASSERT_NE(Make(channels), nullptr);
  auto rows = channels.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], std::make_pair(std::u16string(u"Alpha"), true));
  EXPECT_EQ(rows[2], std::make_pair(std::u16string(u"Gamma"), false));

  OpenSettingsKey().SetString(kChangedItemsValue, kNoItemsChanged);
  channels.SetRow(1, false);  // Beta off
  ASSERT_TRUE(channels.OnApply());
  EXPECT_EQ(channels.Reported(), std::vector<std::u16string>{u"Beta"});
  CStringToIntMap names;
  CNotifyToday::DecodeNames(Record(), names);
  EXPECT_EQ(names.size(), 1u);
  EXPECT_EQ(names.count(u"Beta"), 1u);
  CTodayChannelFilter reader;
  CStringToStringMap entries;
  reader.GetEntries(entries);
  EXPECT_EQ(entries, (CStringToStringMap{{u"Alpha", u"1"}, {u"Beta", u"0"}, {u"Gamma", u"0"}}));

  // "Select None" reports every channel that was shown.
  OpenSettingsKey().SetString(kChangedItemsValue, kNoItemsChanged);
  SendMessageW(GetDlgItem(channels.Page(), IDC_AUTO_INCLUDE), BM_SETCHECK, BST_UNCHECKED, 0);
  channels.CheckAll(false);
  ASSERT_TRUE(channels.OnApply());
  EXPECT_EQ(channels.Reported(), std::vector<std::u16string>{u"Alpha"});
  EXPECT_EQ(TodayKey().GetDWORD(u"AutoIncludeNewChannels", 1), 0u);
}

// Channels removed or renamed by another program while the page is open stay
// gone: the page writes the rows the user changed into the stored selection.
TEST_F(OptionsPagesTest, ChannelsPageWritesOnlyTheUsersChangesIntoTheStoredSelection) {
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{u"Alpha", u"1"}, {u"Beta", u"1"}, {u"Gamma", u"0"}}));
  CTabChannels channels;
  ASSERT_NE(Make(channels), nullptr);
  ASSERT_EQ(channels.Rows().size(), 3u);
  {
    // The main program meanwhile: Gamma deleted, Beta renamed to Delta.
    CTodayChannelFilter other;
    other.Remove(u"Gamma");
    other.Remove(u"Beta");
    ASSERT_TRUE(other.SetEntries({{u"Delta", u"1"}}));
  }
  OpenSettingsKey().SetString(kChangedItemsValue, kNoItemsChanged);
  channels.SetRow(0, false);  // Alpha off
  channels.SetRow(1, false);  // Beta off: it is gone
  ASSERT_TRUE(channels.OnApply());
  EXPECT_EQ(channels.Reported(), std::vector<std::u16string>{u"Alpha"});
  CStringToIntMap names;
  CNotifyToday::DecodeNames(Record(), names);
  EXPECT_EQ(names.size(), 1u);
  EXPECT_EQ(names.count(u"Alpha"), 1u);
  CTodayChannelFilter reader;
  CStringToStringMap entries;
  reader.GetEntries(entries);
  EXPECT_EQ(entries, (CStringToStringMap{{u"Alpha", u"0"}, {u"Delta", u"1"}}));

  // A later channel named like the deleted one starts as a new channel.
  ASSERT_TRUE(TodayKey().SetDWORD(u"AutoIncludeNewChannels", 1));
  CTodayChannelFilter later;
  EXPECT_TRUE(later.IsIncluded(u"Gamma", true));
}

// The sheet over the three pages, run modally as the program runs it: its
// "Select None" reaches the channels page, done applies it, and the run
// answers 1; a second sheet on the same thread runs as the first did.
COptionsSheet* g_runningSheet = nullptr;
void DriveSheet(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND sheet = g_runningSheet ? g_runningSheet->GetHwnd() : nullptr;
  if (!sheet) return;
  PostMessageW(sheet, WM_COMMAND, ID_SELECT_NONE, 0);
  PostMessageW(sheet, WM_COMMAND, IDOK, 0);
}

TEST_F(OptionsPagesTest, TheSheetsSelectNoneReachesTheChannelsPageAndDoneWritesIt) {
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{u"Alpha", u"1"}, {u"Beta", u"1"}}));
    CTabChannels channels;
    CTabFont font;
    CTabViewStyle style;
    COptionsSheet sheet(channels, font, style);
    g_runningSheet = &sheet;
    ASSERT_NE(SetTimer(nullptr, 0, 0, &DriveSheet), 0u);
    EXPECT_EQ(sheet.DoModal(owner_), 1);
    g_runningSheet = nullptr;
    EXPECT_EQ(sheet.GetHwnd(), nullptr) << "the run is over";
    EXPECT_EQ(channels.Reported(), (std::vector<std::u16string>{u"Alpha", u"Beta"}));
    CTodayChannelFilter reader;
    CStringToStringMap entries;
    reader.GetEntries(entries);
    EXPECT_EQ(entries, (CStringToStringMap{{u"Alpha", u"0"}, {u"Beta", u"0"}}));
  }
}

TEST_F(OptionsPagesTest, ViewStylePageShowsTheStylesControlsAndWritesShownNumbers) {
  CTabViewStyle style;
  HWND page = Make(style);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(SendDlgItemMessageW(page, IDC_LINES, CB_GETCOUNT, 0, 0), 3);   // 2 to 4
  EXPECT_EQ(SendDlgItemMessageW(page, IDC_ROWS, CB_GETCOUNT, 0, 0), 14);   // 3 to 16
  Choose(page, IDC_VIEW_STYLE, 1);
  for (int id : {IDC_SHOW_THUMBNAIL, IDC_SIMPLE_SHOW_TIME, IDC_SHOW_CHANNEL, IDC_AUTO_SCROLL, IDC_LINES})
    EXPECT_FALSE(Shown(GetDlgItem(page, id))) << id;
  for (int id : {IDC_LIST_SHOW_ICON, IDC_LIST_SHOW_TIME, IDC_ROWS}) EXPECT_TRUE(Shown(GetDlgItem(page, id))) << id;
  Choose(page, IDC_ROWS, 13);
  Choose(page, IDC_LINES, 2);
  ASSERT_TRUE(style.OnApply());
  CVORegistry key = TodayKey();
  EXPECT_EQ(key.GetDWORD(u"ViewStyle", 0), 1u);
  EXPECT_EQ(key.GetDWORD(u"ViewList.RowsCount", 0), 16u);
  EXPECT_EQ(key.GetDWORD(u"ViewSimple.LinesCount", 0), 4u);
}

TEST_F(OptionsPagesTest, ValuesOutsideTheCombosAreKept) {
  CVORegistry key = TodayKey();
  ASSERT_TRUE(key.SetDWORD(u"ViewList.RowsCount", 40));
  ASSERT_TRUE(key.SetDWORD(u"ViewSimple.AutoScrollSpeed", 9));
  CTabViewStyle style;
  HWND page = Make(style);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(SendDlgItemMessageW(page, IDC_ROWS, CB_GETCURSEL, 0, 0), CB_ERR);
  ASSERT_TRUE(style.OnApply());
  EXPECT_EQ(key.GetDWORD(u"ViewList.RowsCount", 0), 40u);
  EXPECT_EQ(key.GetDWORD(u"ViewSimple.AutoScrollSpeed", 0), 9u);
}

TEST_F(OptionsPagesTest, FontPageWritesClearTypeOnlyWhenChosen) {
  CVORegistry key = TodayKey();
  ASSERT_TRUE(key.SetDWORD(u"Font.ClearType", 7));  // a mode the combo does not know
  ASSERT_TRUE(key.SetDWORD(u"Font.UseSystem", 0));
  ASSERT_TRUE(key.SetDWORD(u"Font.Height", 14));
  {
    CTabFont font;
    HWND page = Make(font);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(SendDlgItemMessageW(page, IDC_FONT_SIZE, CB_GETCOUNT, 0, 0), 9);
    EXPECT_EQ(SendDlgItemMessageW(page, IDC_CLEARTYPE, CB_GETCOUNT, 0, 0), 3);
    Choose(page, IDC_FONT_SIZE, 8);  // 18
    ASSERT_TRUE(font.OnApply());
    EXPECT_EQ(key.GetDWORD(u"Font.Height", 0), 18u);
    EXPECT_EQ(key.GetDWORD(u"Font.ClearType", 0), 7u);
  }
  CTabFont font;
  HWND page = Make(font);
  Choose(page, IDC_CLEARTYPE, 2);  // always off
  ASSERT_TRUE(font.OnApply());
  EXPECT_EQ(key.GetDWORD(u"Font.ClearType", 9), 0u);
  // The standard font: the custom choice is kept aside and comes back.
  SendDlgItemMessageW(page, IDC_USE_SYSTEM_FONT, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_USE_SYSTEM_FONT, BN_CLICKED), 0);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_FONT_SIZE)));
  SendDlgItemMessageW(page, IDC_USE_SYSTEM_FONT, BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_USE_SYSTEM_FONT, BN_CLICKED), 0);
  EXPECT_EQ(SendDlgItemMessageW(page, IDC_FONT_SIZE, CB_GETCURSEL, 0, 0), 8);
}

TEST_F(OptionsPagesTest, FontPageWritesTheShownFontAlsoWithTheStandardFont) {
  CVORegistry key = TodayKey();
  ASSERT_TRUE(key.SetDWORD(u"Font.UseSystem", 1));
  ASSERT_TRUE(key.SetDWORD(u"Font.Height", 16));
  ASSERT_TRUE(key.SetString(u"Font.Name", u"DejaVu Serif"));
  CTabFont font;
  HWND page = Make(font);
  ASSERT_NE(page, nullptr);
  // The standard font's size shows among the sizes, in their unit.
  DWORD pixels = 0, required = 0;
  ASSERT_EQ(SHGetUIMetrics(SHUIM_FONTSIZE_PIXEL, &pixels, sizeof pixels, &required), 0);
  const int standard = static_cast<int>((pixels * 96 + ScreenDpi() / 2) / ScreenDpi());
  const int row = static_cast<int>(SendDlgItemMessageW(page, IDC_FONT_SIZE, CB_GETCURSEL, 0, 0));
  ASSERT_GE(row, 0);
  EXPECT_EQ(CTabFont::Sizes()[static_cast<std::size_t>(row)], standard);
  ASSERT_TRUE(font.OnApply());
  EXPECT_EQ(key.GetDWORD(u"Font.UseSystem", 0), 1u);
  EXPECT_EQ(key.GetString(u"Font.Name", u""), u"Tahoma");
  EXPECT_EQ(key.GetDWORD(u"Font.Height", 0), static_cast<DWORD>(standard));
}

// The pages' rows fit the width of each screen: every label shows its whole
// text beside its combo, nothing reaches past the page's right edge, and the
// rows follow one another from the top.
TEST_F(OptionsPagesTest, PagesFitEveryScreen) {
  const ScreenSettings screens[] = {{240, 320, 96}, {480, 640, 192}, {640, 480, 192}, {320, 240, 96}};
  for (const ScreenSettings& screen : screens) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
    SetScreenForTesting(screen.width, screen.height, screen.dpi);
    ResetUiToolkitForTesting();
    const int margin = (6 * screen.dpi + 48) / 96;
    CTabFont font;
    CTabViewStyle style;
    CTabChannels channels;
    HWND fontPage = MakeSized(font, screen.width, screen.height / 2);
    HWND stylePage = MakeSized(style, screen.width, screen.height / 2);
    HWND channelsPage = MakeSized(channels, screen.width, screen.height / 2);
    ASSERT_TRUE(fontPage && stylePage && channelsPage);
    struct Labelled {
      HWND page;
      int label, combo;
    };
    const Labelled rows[] = {{fontPage, IDC_FONT_NAME_LABEL, IDC_FONT_NAME},
                             {fontPage, IDC_FONT_SIZE_LABEL, IDC_FONT_SIZE},
                             {fontPage, IDC_CLEARTYPE_LABEL, IDC_CLEARTYPE},
                             {stylePage, IDC_VIEW_STYLE_LABEL, IDC_VIEW_STYLE},
                             {stylePage, IDC_AUTO_SCROLL_LABEL, IDC_AUTO_SCROLL},
                             {stylePage, IDC_LINES_LABEL, IDC_LINES}};
    int previousBottom = 0;
    HWND previousPage = nullptr;
    for (const Labelled& r : rows) {
      SCOPED_TRACE(r.label);
      const RECT label = RectIn(r.page, r.label), combo = RectIn(r.page, r.combo);
      EXPECT_GE(label.right - label.left, TextWidth(GetDlgItem(r.page, r.label)));
      EXPECT_EQ(label.left, margin);
      EXPECT_LE(label.right, combo.left);
      EXPECT_EQ(combo.right, screen.width - margin);
      EXPECT_EQ(label.top, combo.top);
      if (r.page == previousPage) {
        EXPECT_GE(combo.top, previousBottom);
      }
      previousPage = r.page;
      previousBottom = combo.bottom;
    }
    const RECT check = RectIn(fontPage, IDC_USE_SYSTEM_FONT);
    EXPECT_EQ(check.top, margin);
    EXPECT_EQ(check.right, screen.width - margin);
    EXPECT_GE(RectIn(fontPage, IDC_FONT_NAME).top, check.bottom);
    // The channel list fills the page between its label and the check box.
    const RECT list = RectIn(channelsPage, IDC_CHANNEL_LIST), autoInclude = RectIn(channelsPage, IDC_AUTO_INCLUDE);
    EXPECT_GE(list.top, RectIn(channelsPage, IDC_CHANNELS_LABEL).bottom);
    EXPECT_LE(list.bottom, autoInclude.top);
    EXPECT_LE(autoInclude.bottom, screen.height / 2);
    EXPECT_GT(list.bottom - list.top, screen.height / 8);
    for (HWND page : pages_) DestroyWindow(page);
    pages_.clear();
  }
}

// "List" closes the list's rows up under the style combo, "Single article"
// the simple view's.
TEST_F(OptionsPagesTest, StyleRowsCloseUpUnderTheStyleCombo) {
  CTabViewStyle style;
  HWND page = MakeSized(style, 240, 200);
  ASSERT_NE(page, nullptr);
  Choose(page, IDC_VIEW_STYLE, 0);
  const int simpleTop = RectIn(page, IDC_SHOW_THUMBNAIL).top;
  Choose(page, IDC_VIEW_STYLE, 1);
  EXPECT_EQ(RectIn(page, IDC_LIST_SHOW_ICON).top, simpleTop);
  EXPECT_FALSE(Shown(GetDlgItem(page, IDC_AUTO_SCROLL)));
  EXPECT_TRUE(Shown(GetDlgItem(page, IDC_ROWS)));
  EXPECT_GE(RectIn(page, IDC_ROWS).top, RectIn(page, IDC_LIST_SHOW_TIME).bottom);
}

// A quick second tap on a channel's check box is a second tap, not a
// double tap: the box is ticked again.
TEST_F(OptionsPagesTest, DoubleTapOnAChannelTogglesItTwice) {
  ASSERT_TRUE(CTodayChannelFilter::GetInstance()->SetEntries({{u"Alpha", u"1"}}));
  CTabChannels channels;
  HWND page = MakeSized(channels, 240, 200);
  ASSERT_NE(page, nullptr);
  HWND list = GetDlgItem(page, IDC_CHANNEL_LIST);
  RECT box{};
  box.left = LVIR_BOUNDS;
  ASSERT_TRUE(SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&box)));
  const LPARAM at = MAKELPARAM(box.left + (box.bottom - box.top) / 2, (box.top + box.bottom) / 2);
  auto pump = [] {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  };
  SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(list, WM_LBUTTONUP, 0, at);
  pump();
  ASSERT_FALSE(channels.Rows()[0].second);
  SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  SendMessageW(list, WM_LBUTTONUP, 0, at);
  pump();
  EXPECT_TRUE(channels.Rows()[0].second);
}

// Help on each page opens that page's topic of the help file, asked by the
// help key (WM_HELP) or by the sheet's help notice.
TEST_F(OptionsPagesTest, HelpOnEveryPageOpensItsTopic) {
  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Help"));
  CreateDirectoryW(u"\\Help", nullptr);
  orvtest::WriteHostFile(device_.FsRoot() + "/Help/OrvNews.htm", "<html></html>");
  std::vector<std::string> opened;
  SetDesktopOpenerForTesting([&](const std::string& target) {
    opened.push_back(target);
    return true;
  });
  CTabChannels channels;
  CTabFont font;
  CTabViewStyle style;
  struct Case {
    COptionsPage* page;
    const char* topic;
  } cases[] = {{&channels, "today_channels"}, {&font, "today_font"}, {&style, "today_style"}};
  const std::string file = "file://" + device_.FsRoot() + "/Help/OrvNews.htm#";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topic);
    HWND page = MakeSized(*c.page, 240, 200);
    ASSERT_NE(page, nullptr);
    opened.clear();
    SendMessageW(page, WM_HELP, 0, 0);
    NMHDR notice{GetParent(page), 0, PSN_HELP};
    SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notice));
    EXPECT_EQ(opened, (std::vector<std::string>{file + c.topic, file + c.topic}));
  }
  SetDesktopOpenerForTesting({});
}

// With the user's language file the pages show its texts: labels, check
// boxes and the entries of the combos.
TEST_F(OptionsPagesTest, PagesShowTheUsersLanguage) {
  ASSERT_TRUE(OpenSettingsKey().SetString(u"InstallFolder", u"\\Lang"));
  CreateDirectoryW(u"\\Lang", nullptr);
  orvtest::WriteHostFile(device_.FsRoot() + "/Lang/localization_xx.txt",
                         "Font:|Schrift:\nClearType is always on|ClearType immer an\n"
                         "Use standard Today items font|Standardschrift verwenden\n");
  ASSERT_TRUE(LoadLanguage(u"xx"));
  CTabFont font;
  HWND page = MakeSized(font, 240, 200);
  ASSERT_NE(page, nullptr);
  char16_t text[128] = {};
  GetDlgItemTextW(page, IDC_FONT_NAME_LABEL, text, 128);
  EXPECT_EQ(std::u16string(text), u"Schrift:");
  GetDlgItemTextW(page, IDC_USE_SYSTEM_FONT, text, 128);
  EXPECT_EQ(std::u16string(text), u"Standardschrift verwenden");
  GetDlgItemTextW(page, IDC_FONT_SIZE_LABEL, text, 128);
  EXPECT_EQ(std::u16string(text), u"Size:");  // no translation
  SendDlgItemMessageW(page, IDC_CLEARTYPE, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(std::u16string(text), u"ClearType immer an");
  GetLocalizer().Unload();
}

}  // namespace
