// The toolkit: the scaling rule, the dialog fonts and their per-class rules,
// the soft-key bar, the input panel and the title header.
#include "core/FrameworkServices.h"
#include "layout/DialogTitle.h"
#include "layout/Fonts.h"
#include "layout/ImageLists.h"
#include "layout/InputPanel.h"
#include "layout/SoftKeyBar.h"
#include "layout/UiKitModule.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "tests/layout/ToolkitFixture.h"

namespace layouttest {
namespace {

TEST(MulDivRoundTest, RoundsHalfAwayFromZeroWithTheSignOfTheValue) {
  struct Case {
    int a, b, c, expected;
  } cases[] = {
      {-13, 192, 96, -26}, {13, 131, 96, 18}, {13, 192, 96, 26}, {0, 192, 96, 0},     {1, 144, 96, 2},
      {-1, 144, 96, -2},   {1, 143, 96, 1},   {3, 1, 2, 2},      {-3, 1, 2, -2},      {23, 96, 96, 23},
      {23, 131, 96, 31},   {7, 0, 96, 0},     {5, 192, 0, -1},   {0x7FFFFFFF, 2, 1, -1}, {20, 192, 96, 40},
  };
  for (const Case& c : cases) EXPECT_EQ(MulDivRound(c.a, c.b, c.c), c.expected) << c.a << " " << c.b << " " << c.c;
}

class UIToolkitTest : public ToolkitTest {};

TEST_F(UIToolkitTest, DialogFontsFollowDpiPlatformAndLargeFonts) {
  struct Case {
    const char16_t* platform;
    int dpi;
    bool large;
    int height, boldWeight;
  } cases[] = {
      {u"PocketPC", 192, false, 26, 700}, {u"PocketPC", 96, false, 13, 700},   {u"PocketPC", 131, false, 18, 700},
      {u"PocketPC", 192, true, 28, 400},  {u"Smartphone", 192, false, -17, 700}, {u"Smartphone", 96, false, -13, 700},
  };
  for (const Case& c : cases) {
    SetPlatform(c.platform);
    SetScreen(240 * c.dpi / 96, 320 * c.dpi / 96, c.dpi);
    if (c.large) UseLargeFontsLanguage();
    const plat::LOGFONTW normal = FontOf(GetDialogFontCache().GetFont(false));
    const plat::LOGFONTW bold = FontOf(GetDialogFontCache().GetFont(true));
    EXPECT_EQ(normal.lfHeight, c.height) << c.dpi;
    EXPECT_EQ(normal.lfWeight, 400);
    EXPECT_EQ(bold.lfWeight, c.boldWeight);
    EXPECT_EQ(std::u16string(normal.lfFaceName), u"Tahoma");
    // The same font until something changes.
    EXPECT_EQ(GetDialogFontCache().GetFont(false), GetDialogFontCache().GetFont(false));
    GetLocalizer().Unload();
  }
}

TEST_F(UIToolkitTest, CreateFontSimpleGrowsLargeFontsAwayFromZeroOnce) {
  EXPECT_EQ(FontOf(CreateFontSimple(u"Tahoma", -20, 700, false, 0)).lfHeight, -20);
  UseLargeFontsLanguage();
  const plat::LOGFONTW negative = FontOf(CreateFontSimple(u"Tahoma", -20, 700, true, 0));
  EXPECT_EQ(negative.lfHeight, -22);  // 1 px at 96 dpi is 2 px at 192
  EXPECT_EQ(negative.lfWeight, 400);
  EXPECT_EQ(negative.lfItalic, 1);
  EXPECT_EQ(FontOf(CreateFontSimple(u"Tahoma", 20, 400, false, 0)).lfHeight, 22);
}

TEST_F(UIToolkitTest, BoldFontsAreBoldCopies) {
  plat::HFONT base = CreateFontSimple(u"DejaVu Sans", -15, 400, true, 0);
  plat::HFONT bold = CreateBoldFont(base);
  ASSERT_TRUE(bold);
  EXPECT_EQ(FontOf(bold).lfWeight, 700);
  EXPECT_EQ(FontOf(bold).lfHeight, -15);
  EXPECT_EQ(FontOf(bold).lfItalic, 1);
  EXPECT_EQ(FontOf(GetBoldSystemFont()).lfWeight, 700);
  EXPECT_EQ(GetBoldSystemFont(), GetBoldSystemFont());
  plat::DeleteObject(bold);
  plat::DeleteObject(base);
}

// Every class of the rules in one dialog, at 192 dpi.
TEST_F(UIToolkitTest, ApplyToDialogGivesEachClassItsFontAndHeight) {
  plat::HWND dialog = Host();
  plat::HWND push = Child(u"button", plat::BS_PUSHBUTTON, 10, 10, 100, 40);
  plat::HWND defPush = Child(u"button", plat::BS_DEFPUSHBUTTON, 120, 10, 100, 40);
  plat::HWND oddCheck = Child(u"button", plat::BS_AUTOCHECKBOX, 10, 61, 200, 30);
  plat::HWND evenCheck = Child(u"button", plat::BS_AUTOCHECKBOX, 10, 100, 200, 30);
  plat::HWND oddRadio = Child(u"button", plat::BS_AUTORADIOBUTTON, 10, 141, 200, 30);
  plat::HWND groupStatic = Child(u"static", plat::WS_GROUP, 10, 180, 200, 20);
  plat::HWND plainStatic = Child(u"static", 0, 10, 200, 200, 20);
  plat::HWND tab = Child(plat::WC_TABCONTROLW, 0, 10, 220, 200, 30);
  plat::HWND combo = Child(plat::WC_COMBOBOXW, 3, 10, 260, 200, 100);
  plat::HWND tallCombo = Child(plat::WC_COMBOBOXW, 3, 10, 270, 200, 100);
  plat::HWND edit = Child(u"edit", 0, 10, 380, 200, 60);
  plat::HWND shortEdit = Child(u"edit", 0, 10, 450, 200, 30);
  plat::HWND upDown = Child(plat::UPDOWN_CLASSW, 0, 220, 380, 30, 60);
  plat::HWND list = Child(plat::WC_LISTVIEWW, 0, 10, 500, 200, 100);
  plat::SendMessageW(combo, plat::CB_SETITEMHEIGHT, static_cast<plat::WPARAM>(-1), 20);
  plat::SendMessageW(tallCombo, plat::CB_SETITEMHEIGHT, static_cast<plat::WPARAM>(-1), 50);
  plat::HFONT tabFont = CreateFontSimple(u"Tahoma", 12, 400, false, 0);
  plat::SendMessageW(tab, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(tabFont), 0);
  plat::HFONT upDownFont = CreateFontSimple(u"Tahoma", 12, 400, false, 0);
  plat::SendMessageW(upDown, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(upDownFont), 0);

  GetDialogFontCache().ApplyToDialog(dialog);
  plat::HFONT normal = GetDialogFontCache().GetFont(false);
  plat::HFONT bold = GetDialogFontCache().GetFont(true);
  struct Expect {
    plat::HWND w;
    plat::HFONT font;
    int top, height;
  } table[] = {
      {push, bold, 10, 40},         {defPush, bold, 10, 40},    {oddCheck, normal, 60, 30}, {evenCheck, normal, 100, 30},
      {oddRadio, normal, 140, 30},  {groupStatic, normal, 180, 20}, {plainStatic, bold, 200, 20},
      {tab, normal, 220, 30},       {edit, normal, 380, 40},    {shortEdit, normal, 450, 30},
      {upDown, upDownFont, 380, 40}, {list, normal, 500, 100},
  };
  for (const Expect& e : table) {
    char16_t cls[32] = {};
    plat::GetClassNameW(e.w, cls, 32);
    const plat::RECT r = ScreenRect(e.w);
    EXPECT_EQ(WindowFont(e.w), e.font) << plat::Utf16ToUtf8(cls) << " at " << e.top;
    EXPECT_EQ(r.top, e.top) << plat::Utf16ToUtf8(cls);
    EXPECT_EQ(r.bottom - r.top, e.height) << plat::Utf16ToUtf8(cls) << " at " << e.top;
  }
  // The tab control's old font was deleted; the combo boxes' fields are kept within 30..38.
  EXPECT_EQ(plat::GetObjectType(tabFont), 0u);
  EXPECT_EQ(WindowFont(combo), normal);
  EXPECT_EQ(plat::SendMessageW(combo, plat::CB_GETITEMHEIGHT, static_cast<plat::WPARAM>(-1), 0), 30);
  EXPECT_EQ(plat::SendMessageW(tallCombo, plat::CB_GETITEMHEIGHT, static_cast<plat::WPARAM>(-1), 0), 38);
  plat::DeleteObject(upDownFont);
}

class SoftKeyBarTest : public ToolkitTest {
 protected:
  struct Button {
    int command;
    plat::BYTE state;
    std::u16string text;
  };
  static Button At(plat::HWND bar, int index) {
    plat::TBBUTTON b{};
    plat::SendMessageW(bar, plat::TB_GETBUTTON, static_cast<plat::WPARAM>(index), reinterpret_cast<plat::LPARAM>(&b));
    char16_t text[64] = {};
    plat::SendMessageW(bar, plat::TB_GETBUTTONTEXTW, static_cast<plat::WPARAM>(b.idCommand),
                       reinterpret_cast<plat::LPARAM>(text));
    return Button{b.idCommand, b.fsState, text};
  }
};

TEST_F(SoftKeyBarTest, DefaultBarTakesTheDefaultCommandsAndReplacesTheOwnersBar) {
  plat::HWND owner = Host();
  SoftKeyBar first;
  ASSERT_TRUE(first.CreateDefault(owner, false));
  EXPECT_EQ(first.GetLeftCommand(), 2040);
  EXPECT_EQ(first.GetRightCommand(), 2042);
  EXPECT_EQ(At(first.GetBar(), 0).text, u"Done");
  EXPECT_EQ(plat::SHFindMenuBar(owner), first.GetBar());
  SoftKeyBar second;
  ASSERT_TRUE(second.CreateDoneCancel(owner));
  EXPECT_FALSE(plat::IsWindow(first.GetBar()));
  EXPECT_EQ(plat::SHFindMenuBar(owner), second.GetBar());
  EXPECT_EQ(second.GetLeftCommand(), plat::IDOK);
  EXPECT_EQ(second.GetRightCommand(), plat::IDCANCEL);
  EXPECT_EQ(At(second.GetBar(), 0).command, plat::IDOK);
  EXPECT_EQ(At(second.GetBar(), 1).command, plat::IDCANCEL);
  EXPECT_EQ(At(second.GetBar(), 1).text, u"Cancel");
  EXPECT_EQ(GetToolbarButtonCommand(second.GetBar(), 1), plat::IDCANCEL);
  EXPECT_EQ(GetToolbarButtonCommand(second.GetBar(), 2), -1);
  EXPECT_EQ(GetToolbarButtonCommand(nullptr, 0), -1);
}

TEST_F(SoftKeyBarTest, SetButtonChangesStateAlwaysTextWhenGivenCommandUnlessMinusOne) {
  plat::HWND owner = Host();
  SoftKeyBar bar;
  ASSERT_TRUE(bar.CreateDefault(owner, true));
  // State only: text and command stay.
  ASSERT_TRUE(bar.SetButton(2040, 0, u"", -1));
  Button b = At(bar.GetBar(), 0);
  EXPECT_EQ(b.command, 2040);
  EXPECT_EQ(b.state, 0);
  EXPECT_EQ(b.text, u"Done");
  // Text and command.
  ASSERT_TRUE(bar.SetButton(2040, plat::TBSTATE_ENABLED, u"Send", 77));
  b = At(bar.GetBar(), 0);
  EXPECT_EQ(b.command, 77);
  EXPECT_EQ(b.state, plat::TBSTATE_ENABLED);
  EXPECT_EQ(b.text, u"Send");
  EXPECT_EQ(bar.GetLeftCommand(), 77);
  // The old command names no button any more; the right one is untouched.
  EXPECT_FALSE(bar.SetButton(2040, plat::TBSTATE_ENABLED, u"X", -1));
  EXPECT_EQ(At(bar.GetBar(), 1).command, 2042);
  EXPECT_EQ(At(bar.GetBar(), 1).text, u"Cancel");
  SoftKeyBar none;
  EXPECT_FALSE(none.SetButton(2040, 0, u"", -1));
}

TEST_F(UIToolkitTest, InputPanelStateIsReadAndWrittenThroughTheShell) {
  // The device has no input panel: asking for it leaves it down.
  bool up = true;
  ASSERT_TRUE(GetSipVisible(up));
  EXPECT_FALSE(up);
  SetSipVisible(true);
  up = true;
  ASSERT_TRUE(GetSipVisible(up));
  EXPECT_FALSE(up);
  SetSipVisible(false);
  up = true;
  ASSERT_TRUE(GetSipVisible(up));
  EXPECT_FALSE(up);
  plat::HWND pref = CreateSipPrefWindow(Host());
  ASSERT_TRUE(pref);
  char16_t cls[16] = {};
  plat::GetClassNameW(pref, cls, 16);
  EXPECT_EQ(std::u16string(cls), u"SIPPREF");
  EXPECT_FALSE(plat::IsWindowVisible(pref));
}

TEST_F(UIToolkitTest, TitleHeaderHasTheTitleAndASeparatorAsItsBottomRows) {
  const int h = GetDialogHeaderHeight();
  EXPECT_EQ(h, 46);  // 23 px at 96 dpi
  plat::HDC screen = plat::GetDC(nullptr);
  plat::HDC dc = plat::CreateCompatibleDC(screen);
  plat::HBITMAP bitmap = plat::CreateCompatibleBitmap(screen, 480, 100);
  plat::SelectObject(dc, bitmap);
  plat::RECT all{0, 0, 480, 100};
  plat::FillRect(dc, &all, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::GRAY_BRUSH)));
  DrawDialogTitle(dc, u"Options", h, 10, nullptr, plat::RGB(255, 0, 0));
  EXPECT_EQ(plat::GetPixel(dc, 5, 5), plat::GetPixel(dc, 470, 99));  // outside: untouched
  EXPECT_EQ(plat::GetPixel(dc, 470, 12), On565(plat::RGB(255, 255, 255)));
  EXPECT_EQ(plat::GetPixel(dc, 470, 10 + h - 1), plat::RGB(0, 0, 0));
  EXPECT_EQ(plat::GetPixel(dc, 470, 10 + h - 2), plat::RGB(0, 0, 0));
  EXPECT_EQ(plat::GetPixel(dc, 470, 10 + h - 3), On565(plat::RGB(255, 255, 255)));
  int red = 0;
  for (int y = 10; y < 10 + h; ++y)
    for (int x = 0; x < 200; ++x) red += plat::GetPixel(dc, x, y) == On565(plat::RGB(255, 0, 0));
  EXPECT_GT(red, 20);
  // A header scrolled out of sight paints nothing.
  plat::FillRect(dc, &all, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::GRAY_BRUSH)));
  DrawDialogTitle(dc, u"Options", h, -h, nullptr);
  EXPECT_EQ(plat::GetPixel(dc, 470, 0), plat::GetPixel(dc, 470, 99));
  plat::DeleteDC(dc);
  plat::DeleteObject(bitmap);
  plat::ReleaseDC(nullptr, screen);
}

TEST_F(UIToolkitTest, ModifyStyleMoveChildrenAndSmallIconStrip) {
  plat::HWND host = Host();
  plat::HWND a = Child(u"static", 0, 5, 7, 20, 10);
  MoveChildrenBy(host, 12);
  EXPECT_EQ(ScreenRect(a).top, 19);
  ModifyStyle(a, 0, plat::WS_BORDER, 0);
  EXPECT_TRUE(plat::GetWindowLongW(a, plat::GWL_STYLE) & plat::WS_BORDER);
  ModifyStyle(a, plat::WS_BORDER, 0, plat::SWP_FRAMECHANGED);
  EXPECT_FALSE(plat::GetWindowLongW(a, plat::GWL_STYLE) & plat::WS_BORDER);
  std::vector<plat::HIMAGELIST> lists;
  plat::HIMAGELIST strip = nullptr;
  ASSERT_TRUE(LoadSmallIconImageList(strip));  // the program's own catalogue strip
  int cx = 0, cy = 0;
  plat::ImageList_GetIconSize(strip, &cx, &cy);
  EXPECT_EQ(cx, 32);  // 480x640 at 192 dpi: 32-pixel small icons
  lists.push_back(strip);
  DestroyImageLists(lists);
  EXPECT_TRUE(lists.empty());
}

}  // namespace
}  // namespace layouttest
