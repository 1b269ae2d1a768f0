// The Today options program's pages, made from their dialog resources and
// driven through their controls: the channels page writes the selection and
// reports exactly the changed channels to the item, the view-style page shows
// the controls of the chosen style and keeps values its combos cannot show,
// and the font page writes ClearType only when the user chose a mode.
#include <gtest/gtest.h>

#include "core/VORegistry.h"
#include "database/NotifyToday.h"
#include "database/TodayChannelFilter.h"
#include "database/TodayViewOptions.h"
#include "platform/controls/ComboBox.h"
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

}  // namespace
