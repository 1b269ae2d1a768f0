// The dialog bases: full screen above the soft-key bar, the header and its
// children moved below it, OK / Cancel / soft keys ending a modal dialog,
// the modeless dialog hidden and destroyed, the input panel fitting.
#include "layout/DialogTitle.h"
#include "layout/PPCDialog.h"
#include "platform/controls/Shell.h"
#include "tests/layout/ToolkitFixture.h"

namespace layouttest {
namespace {

struct Template {
  plat::DLGTEMPLATE t{plat::WS_POPUP | plat::WS_VISIBLE, 0, 1, 0, 0, 100, 100};
  plat::WORD menu = 0, cls = 0, title = 0;
  plat::DWORD style = plat::WS_CHILD | plat::WS_VISIBLE;
  plat::DWORD exStyle = 0;
  short x = 4, y = 4, cx = 80, cy = 10;
  plat::WORD id = 100;
  plat::WORD clsFlag = 0xFFFF, clsAtom = 0x0082;
  plat::WORD text = 0, data = 0;
};
const Template kOneStatic;

// Posts a command from its initialisation, logs what it saw.
class ScriptedDialog : public CPPCDialogImpl {
 public:
  explicit ScriptedDialog(plat::WPARAM command) : command_(command) {}
  int inits = 0;
  int oks = 0;

 protected:
  void OnInit() override {
    ++inits;
    plat::PostMessageW(GetHwnd(), plat::WM_COMMAND, command_, 0);
  }
  plat::LRESULT OnOK() override {
    ++oks;
    return PPCDialogBase::OnOK();
  }

 private:
  plat::WPARAM command_;
};

class PPCDialogTest : public ToolkitTest {};

TEST_F(PPCDialogTest, SoftKeysAndCommandsEndAModalDialog) {
  struct Case {
    plat::WPARAM command;
    plat::INT_PTR result;
    int oks;
  } cases[] = {{plat::IDOK, plat::IDOK, 1}, {plat::IDCANCEL, plat::IDCANCEL, 0}, {kSoftKeyOk, plat::IDOK, 0},
               {kSoftKeyCancel, plat::IDCANCEL, 0}};
  for (const Case& c : cases) {
    ScriptedDialog dialog(c.command);
    EXPECT_EQ(dialog.DoModal(nullptr, &kOneStatic.t), c.result) << c.command;
    EXPECT_EQ(dialog.inits, 1);
    EXPECT_EQ(dialog.oks, c.oks);
  }
  ScriptedDialog empty(kSoftKeyCancel);
  EXPECT_EQ(RunEmptyTemplateDialog(empty, nullptr), plat::IDCANCEL);
  ScriptedDialog resource(plat::IDOK);
  EXPECT_EQ(RunModalEmptyDialog(resource, nullptr, 77), plat::IDOK);  // "Empty Dialog" of the program
  EXPECT_EQ(resource.GetInitParam(), 77);
}

TEST_F(PPCDialogTest, ModelessDialogIsFullScreenWithItsHeaderAndOkDestroysIt) {
  CPPCModelessDialogImpl dialog;
  dialog.SetTitle(u"Download");
  plat::HWND w = dialog.Create(nullptr, &kOneStatic.t);
  ASSERT_TRUE(w);
  plat::RECT r{};
  plat::GetWindowRect(w, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 480);
  EXPECT_EQ(r.bottom, 640 - 52);  // above the soft-key bar
  char16_t text[32] = {};
  plat::GetWindowTextW(w, text, 32);
  EXPECT_EQ(std::u16string(text), u"Download");
  plat::RECT child = ScreenRect(plat::GetDlgItem(w, 100));
  plat::RECT units{4, 4, 0, 0};
  plat::MapDialogRect(w, &units);
  EXPECT_EQ(child.top, units.top + GetDialogHeaderHeight());
  bool sipPref = false;
  for (plat::HWND c = plat::GetWindow(w, plat::GW_CHILD); c; c = plat::GetWindow(c, plat::GW_HWNDNEXT)) {
    char16_t cls[16] = {};
    plat::GetClassNameW(c, cls, 16);
    sipPref |= std::u16string(cls) == u"SIPPREF";
  }
  EXPECT_TRUE(sipPref);
  EXPECT_EQ(plat::SendMessageW(w, plat::WM_GETDLGCODE, 0, 0), plat::DLGC_WANTALLKEYS);
  // The header: the title's extent is known after a paint.
  plat::UpdateWindow(w);
  EXPECT_GT(dialog.GetTitleExtent().cx, 0);
  plat::SendMessageW(w, plat::WM_COMMAND, plat::IDOK, 0);
  EXPECT_FALSE(plat::IsWindow(w));
  EXPECT_EQ(dialog.GetHwnd(), nullptr);
}

TEST_F(PPCDialogTest, InputPanelChangesRefitTheDialogToTheVisibleDesktop) {
  CPPCModelessDialogImpl dialog;
  plat::HWND w = dialog.Create(nullptr, &kOneStatic.t);
  ASSERT_TRUE(w);
  plat::SIPINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(plat::SHSipInfo(plat::SPI_GETSIPINFO, 0, &info, 0));
  // The device has no panel: a change notice fits the dialog to the whole
  // screen above the menu bar, wherever it was.
  plat::MoveWindow(w, 10, 10, 50, 40, 1);
  plat::SendMessageW(w, plat::WM_SETTINGCHANGE, plat::SPI_SETSIPINFO, 0);
  plat::RECT r = ScreenRect(w);
  EXPECT_EQ(r.left, info.rcVisibleDesktop.left);
  EXPECT_EQ(r.top, info.rcVisibleDesktop.top);
  EXPECT_EQ(r.right, info.rcVisibleDesktop.right);
  EXPECT_EQ(r.bottom, info.rcVisibleDesktop.bottom);
  // Another setting leaves it where it is.
  plat::MoveWindow(w, 10, 10, 50, 40, 1);
  plat::SendMessageW(w, plat::WM_SETTINGCHANGE, 0, 0);
  EXPECT_EQ(ScreenRect(w).bottom, 50);
}

TEST_F(PPCDialogTest, CloseCommandAndCaptionColourFollowTheFlags) {
  CPPCModelessDialogImpl dialog;
  plat::HWND w = dialog.Create(nullptr, &kOneStatic.t);
  ASSERT_TRUE(w);
  plat::MSG m{};
  plat::SendMessageW(w, plat::WM_SYSCOMMAND, 0xF060, 0);
  EXPECT_FALSE(plat::PeekMessageW(&m, w, plat::WM_CLOSE, plat::WM_CLOSE, plat::PM_REMOVE));
  dialog.SetFlags(kCloseOnSysCommand);
  plat::SendMessageW(w, plat::WM_SYSCOMMAND, 0xF060, 0);
  EXPECT_TRUE(plat::PeekMessageW(&m, w, plat::WM_CLOSE, plat::WM_CLOSE, plat::PM_REMOVE));
  // The caption control gets a brush; the others the dialog's default.
  plat::HWND caption = plat::CreateWindowExW(0, u"static", u"", plat::WS_CHILD, 0, 0, 10, 10, w,
                                             reinterpret_cast<plat::HMENU>(kCaptionControlId), nullptr, nullptr);
  plat::HDC dc = plat::GetDC(caption);
  EXPECT_NE(plat::SendMessageW(w, plat::WM_CTLCOLORSTATIC, reinterpret_cast<plat::WPARAM>(dc),
                               reinterpret_cast<plat::LPARAM>(caption)),
            0);
  plat::ReleaseDC(caption, dc);
  dialog.OnDoneKey(1);
  EXPECT_EQ(plat::SHGetDoneButtonState(w), plat::SHDB_SHOW);
  dialog.OnDoneKey(0);
  ASSERT_TRUE(plat::PeekMessageW(&m, w, plat::WM_COMMAND, plat::WM_COMMAND, plat::PM_REMOVE));
  EXPECT_EQ(m.wParam, static_cast<plat::WPARAM>(plat::IDCANCEL));
}

}  // namespace
}  // namespace layouttest
