// The program's own window classes: check lists by stylus and keys, option
// trees by Enter and taps, the coloured label, the action-key hook, the file
// picker's list and the wait cursor.
#include "layout/ColoredStatic.h"
#include "layout/OwnControls.h"
#include "layout/ScreenScale.h"
#include "layout/VekActionKey.h"
#include "layout/WaitCursor.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"
#include "tests/layout/ToolkitFixture.h"

namespace layouttest {
namespace {

// The host hands its check lists' notifications to them, as the dialog bases do.
plat::LRESULT NotifyingHost(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == plat::WM_NOTIFY && HandleCheckListNotify(reinterpret_cast<const plat::NMHDR*>(lParam))) return 0;
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

class OwnControlsTest : public ToolkitTest {
 protected:
  void TearDown() override {
    ResetCheckListKeyForTesting();
    ToolkitTest::TearDown();
  }
  plat::HWND MakeCheckList(int count) {
    Host(&NotifyingHost);
    plat::RECT r{0, 0, 400, 400};
    plat::HWND list = CreateCheckList(host_, &r, 10);
    for (int i = 0; i < count; ++i) {
      std::u16string text = plat::Utf8ToUtf16("Item " + std::to_string(i));
      plat::LVITEMW item{plat::LVIF_TEXT | plat::LVIF_STATE, i, 0, plat::INDEXTOSTATEIMAGEMASK(1),
                         plat::LVIS_STATEIMAGEMASK, text.data(), 0, 0, 0, 0};
      plat::SendMessageW(list, plat::LVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&item));
    }
    return list;
  }
  static int Mark(plat::HWND list, int i) {
    return static_cast<int>(plat::SendMessageW(list, plat::LVM_GETITEMSTATE, static_cast<plat::WPARAM>(i),
                                               plat::LVIS_STATEIMAGEMASK) >> 12);
  }
  static int SelectedItem(plat::HWND list) {
    return static_cast<int>(
        plat::SendMessageW(list, plat::LVM_GETNEXTITEM, static_cast<plat::WPARAM>(-1), plat::LVNI_SELECTED));
  }
  static plat::RECT ItemRect(plat::HWND list, int i) {
    plat::RECT r{plat::LVIR_BOUNDS, 0, 0, 0};
    plat::SendMessageW(list, plat::LVM_GETITEMRECT, static_cast<plat::WPARAM>(i), reinterpret_cast<plat::LPARAM>(&r));
    return r;
  }
  static void Tap(plat::HWND w, int x, int y) {
    plat::SendMessageW(w, plat::WM_LBUTTONDOWN, 1, plat::MAKELPARAM(static_cast<plat::WORD>(x), static_cast<plat::WORD>(y)));
    plat::SendMessageW(w, plat::WM_LBUTTONUP, 0, plat::MAKELPARAM(static_cast<plat::WORD>(x), static_cast<plat::WORD>(y)));
  }
  static void Key(plat::HWND w, plat::UINT key) { plat::SendMessageW(w, plat::WM_KEYDOWN, key, 0); }
};

TEST_F(OwnControlsTest, CheckListTogglesOnTheBoxButNotOnTheLabel) {
  plat::HWND list = MakeCheckList(3);
  const plat::RECT row = ItemRect(list, 1);
  const int y = (row.top + row.bottom) / 2;
  Tap(list, row.left + ScaleX(8), y);  // the state image
  EXPECT_EQ(SelectedItem(list), 1);
  EXPECT_EQ(Mark(list, 1), 2);
  const plat::RECT row2 = ItemRect(list, 2);
  Tap(list, row2.right - 10, (row2.top + row2.bottom) / 2);  // the label
  EXPECT_EQ(SelectedItem(list), 2);
  EXPECT_EQ(Mark(list, 2), 1);
  EXPECT_EQ(Mark(list, 1), 2);
  // A double tap toggles; the column follows the list's width.
  plat::SendMessageW(list, plat::WM_LBUTTONDBLCLK, 1, 0);
  EXPECT_EQ(Mark(list, 2), 2);
  plat::MoveWindow(list, 0, 0, 300, 400, 1);
  plat::RECT client{};
  plat::GetClientRect(list, &client);
  EXPECT_EQ(plat::SendMessageW(list, plat::LVM_GETCOLUMNWIDTH, 0, 0), client.right);
}

TEST_F(OwnControlsTest, FirstToggleKeyDecidesOnOlderPlatformsAndKeysAreIgnoredOnNewer) {
  plat::SystemInfoSettings old;
  old.majorVersion = 4;
  old.minorVersion = 20;
  plat::SetSystemInfoForTesting(old);
  plat::SetDeviceRoot(device_.Root());
  ASSERT_FALSE(IsModernPocketPC());
  plat::HWND list = MakeCheckList(3);
  Tap(list, ItemRect(list, 0).right - 10, ItemRect(list, 0).top + 2);
  Key(list, kActionKey);
  EXPECT_EQ(Mark(list, 0), 2);
  EXPECT_EQ(GetCheckListKey(), kActionKey);
  Key(list, plat::VK_RETURN);  // Enter no longer toggles
  EXPECT_EQ(Mark(list, 0), 2);
  Key(list, kActionKey);
  EXPECT_EQ(Mark(list, 0), 1);

  ResetCheckListKeyForTesting();
  Key(list, plat::VK_RETURN);
  EXPECT_EQ(Mark(list, 0), 2);
  Key(list, kActionKey);
  EXPECT_EQ(Mark(list, 0), 2);
  EXPECT_EQ(GetCheckListKey(), plat::VK_RETURN);

  // Generation 5 (the default device): the keys do not toggle.
  plat::ResetSystemInfoForTesting();
  plat::SetDeviceRoot(device_.Root());
  ASSERT_TRUE(IsModernPocketPC());
  ResetCheckListKeyForTesting();
  Key(list, plat::VK_RETURN);
  Key(list, kActionKey);
  EXPECT_EQ(Mark(list, 0), 2);
  EXPECT_EQ(GetCheckListKey(), 0u);
}

TEST_F(OwnControlsTest, OptionTreeExpandsByEnterAndDoubleTapTogglesTwice) {
  Host();
  plat::RECT r{0, 0, 400, 400};
  plat::HWND tree = CreateOptionTree(host_, &r, 11);
  ASSERT_TRUE(tree);
  EXPECT_EQ(plat::GetWindowLongW(tree, plat::GWL_STYLE), static_cast<plat::LONG_PTR>(kOptionTreeStyle));
  auto insert = [&](plat::HTREEITEM parent, const char16_t* text, plat::UINT state) {
    std::u16string t = text;
    plat::TVINSERTSTRUCTW ins{parent, plat::TVI_LAST,
                              {plat::TVIF_TEXT | plat::TVIF_STATE, nullptr, state, plat::TVIS_STATEIMAGEMASK, t.data(),
                               0, 0, 0, 0, 0}};
    return reinterpret_cast<plat::HTREEITEM>(
        plat::SendMessageW(tree, plat::TVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&ins)));
  };
  plat::HTREEITEM group = insert(plat::TVI_ROOT, u"Updating", 0);
  plat::HTREEITEM check = insert(group, u"Only over Wi-Fi", plat::INDEXTOSTATEIMAGEMASK(1));
  auto state = [&](plat::HTREEITEM item) {
    plat::TVITEMW it{};
    it.mask = plat::TVIF_HANDLE | plat::TVIF_STATE;
    it.hItem = item;
    it.stateMask = 0xFFFF;
    plat::SendMessageW(tree, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&it));
    return it.state;
  };
  EXPECT_EQ(plat::SendMessageW(tree, plat::WM_GETDLGCODE, 0, 0), plat::DLGC_WANTALLKEYS);
  plat::SendMessageW(tree, plat::TVM_SELECTITEM, plat::TVGN_CARET, reinterpret_cast<plat::LPARAM>(group));
  Key(tree, plat::VK_RETURN);
  EXPECT_TRUE(state(group) & plat::TVIS_EXPANDED);
  EXPECT_EQ(plat::SendMessageW(tree, plat::WM_KEYUP, plat::VK_RETURN, 0), 0);
  Key(tree, plat::VK_RETURN);
  EXPECT_FALSE(state(group) & plat::TVIS_EXPANDED);
  Key(tree, plat::VK_RETURN);
  // A tap on the check item toggles it; a double tap is a tap of its own.
  plat::RECT item{};
  std::memcpy(&item, &check, sizeof check);
  plat::SendMessageW(tree, plat::TVM_GETITEMRECT, 1, reinterpret_cast<plat::LPARAM>(&item));
  const plat::LPARAM at = plat::MAKELPARAM(static_cast<plat::WORD>(item.left + 2), static_cast<plat::WORD>((item.top + item.bottom) / 2));
  plat::SendMessageW(tree, plat::WM_LBUTTONDOWN, 1, at);
  EXPECT_EQ(state(check) & plat::TVIS_STATEIMAGEMASK, plat::INDEXTOSTATEIMAGEMASK(2));
  plat::SendMessageW(tree, plat::WM_LBUTTONDBLCLK, 1, at);
  EXPECT_EQ(state(check) & plat::TVIS_STATEIMAGEMASK, plat::INDEXTOSTATEIMAGEMASK(1));
}

TEST_F(OwnControlsTest, ColoredStaticPaintsItsBackgroundAndText) {
  Host();
  ColoredStatic label;
  plat::HWND w = label.Create(host_, plat::RECT{10, 10, 210, 50}, u"Storage card", 12);
  ASSERT_TRUE(w);
  plat::UpdateWindow(host_);
  plat::InvalidateRect(w, nullptr, 1);
  plat::UpdateWindow(w);
  plat::HDC dc = plat::GetDC(w);
  EXPECT_EQ(plat::GetPixel(dc, 195, 2), On565(plat::GetSysColor(plat::COLOR_STATIC)));
  int ink = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) ink += plat::GetPixel(dc, x, y) == On565(plat::GetSysColor(plat::COLOR_STATICTEXT));
  EXPECT_GT(ink, 10);
  plat::ReleaseDC(w, dc);
  plat::LRESULT result = 1;
  EXPECT_FALSE(label.ProcessWindowMessage(w, plat::WM_SIZE, 0, 0, result));
}

plat::LRESULT CountingProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == plat::WM_GETDLGCODE) return plat::DLGC_WANTARROWS;
  if (msg == plat::WM_USER + 5) return 42;
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST_F(OwnControlsTest, ActionKeyHookWantsAllKeysAndPassesTheRest) {
  plat::HWND w = Host(&CountingProc);
  EXPECT_EQ(plat::SendMessageW(w, plat::WM_GETDLGCODE, 0, 0), plat::DLGC_WANTARROWS);
  ASSERT_TRUE(CVekActionKey::Attach(w));
  EXPECT_FALSE(CVekActionKey::Attach(w));
  EXPECT_FALSE(CVekActionKey::Attach(nullptr));
  EXPECT_TRUE(plat::GetPropW(w, u"CVekActionKey_pszOldWndProcProp"));
  EXPECT_EQ(plat::SendMessageW(w, plat::WM_GETDLGCODE, 0, 0), plat::DLGC_WANTALLKEYS);
  EXPECT_EQ(plat::SendMessageW(w, plat::WM_USER + 5, 0, 0), 42);
}

TEST_F(OwnControlsTest, FileListShowsItsEmptyTextAndTurnsKeysIntoDialogMoves) {
  Host();
  plat::HWND list = Child(plat::WC_LISTVIEWW, plat::LVS_REPORT | plat::LVS_SINGLESEL, 0, 0, 400, 500, 13);
  ASSERT_TRUE(SubclassFileList(list, u"No files"));
  EXPECT_FALSE(SubclassFileList(list, u"Again"));
  plat::InvalidateRect(list, nullptr, 1);
  plat::UpdateWindow(list);
  plat::HDC dc = plat::GetDC(list);
  int firstInk = -1;
  for (int y = 0; y < 500 && firstInk < 0; ++y)
    for (int x = 0; x < 400; ++x)
      if (plat::GetPixel(dc, x, y) == On565(plat::GetSysColor(plat::COLOR_WINDOWTEXT))) {
        firstInk = y;
        break;
      }
  plat::ReleaseDC(list, dc);
  EXPECT_GE(firstInk, 200);  // 40 % of 500
  EXPECT_LT(firstInk, 240);
  EXPECT_TRUE(plat::SendMessageW(list, plat::WM_GETDLGCODE, 0, 0) & plat::DLGC_WANTARROWS);
  Key(list, plat::VK_RETURN);
  plat::MSG m{};
  ASSERT_TRUE(plat::PeekMessageW(&m, host_, plat::WM_COMMAND, plat::WM_COMMAND, plat::PM_REMOVE));
  EXPECT_EQ(m.wParam, static_cast<plat::WPARAM>(plat::IDOK));
  EXPECT_EQ(m.lParam, reinterpret_cast<plat::LPARAM>(list));
  Key(list, plat::VK_UP);
  ASSERT_TRUE(plat::PeekMessageW(&m, host_, plat::WM_NEXTDLGCTL, plat::WM_NEXTDLGCTL, plat::PM_REMOVE));
}

TEST_F(OwnControlsTest, WaitCursorIsRestoredOnce) {
  plat::SetCursor(nullptr);
  {
    CWaitCursor wait;
    EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_WAIT));
    wait.Restore();
    EXPECT_EQ(plat::GetCursor(), nullptr);
    plat::SetCursor(plat::LoadCursorW(nullptr, plat::IDC_WAIT));
  }
  EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_WAIT));  // restored already: left alone
}

}  // namespace
}  // namespace layouttest

namespace layouttest {
namespace {

plat::HWND g_preferred = nullptr;

plat::LRESULT PreferringHost(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == WM_GETPREFERREDFOCUS) return reinterpret_cast<plat::LRESULT>(g_preferred);
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::u16string ClassName(plat::HWND w) {
  char16_t name[32] = {};
  plat::GetClassNameW(w, name, 32);
  return name;
}

TEST_F(OwnControlsTest, SuperclassesSpinEditAndActivationFocus) {
  Host(&PreferringHost);
  plat::RECT r{0, 0, 200, 30};
  plat::HWND label = CreateLabel(host_, &r, u"Folder", 0, 0, 20);
  ASSERT_TRUE(label);
  EXPECT_EQ(ClassName(label), LabelClassName());
  EXPECT_EQ(plat::GetWindowLongW(label, plat::GWL_STYLE), static_cast<plat::LONG_PTR>(kDefaultChildStyle));
  char16_t text[16] = {};
  plat::GetWindowTextW(label, text, 16);
  EXPECT_EQ(std::u16string(text), u"Folder");
  EXPECT_NE(plat::SendMessageW(label, plat::WM_GETFONT, 0, 0), 0);
  plat::HWND viewer = CreateHtmlViewer(host_, &r, 0, 21);
  ASSERT_TRUE(viewer);
  EXPECT_EQ(ClassName(viewer), HtmlViewerClassName());
  plat::HWND folders = CreateFolderTree(host_, &r, 0, 22);
  ASSERT_TRUE(folders);
  EXPECT_EQ(ClassName(folders), FolderTreeClassName());

  SpinEdit spin;
  ASSERT_TRUE(spin.Create(host_, plat::RECT{0, 40, 100, 60}, 23, 24));
  EXPECT_EQ(plat::SendMessageW(spin.upDown, plat::UDM_GETBUDDY, 0, 0), reinterpret_cast<plat::LRESULT>(spin.edit));
  spin.Enable(false);
  EXPECT_FALSE(plat::IsWindowEnabled(spin.edit));
  EXPECT_FALSE(plat::IsWindowEnabled(spin.upDown));
  spin.Enable(true);
  EXPECT_TRUE(plat::IsWindowEnabled(spin.upDown));

  g_preferred = spin.edit;
  bool reentry = false;
  plat::SetFocus(label);
  HandleActivateFocus(host_, 0, reentry);  // deactivation: nothing
  EXPECT_NE(plat::GetFocus(), spin.edit);
  HandleActivateFocus(host_, 1, reentry);
  EXPECT_EQ(plat::GetFocus(), spin.edit);
  EXPECT_FALSE(reentry);
}

}  // namespace
}  // namespace layouttest
