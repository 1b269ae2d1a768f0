// The common controls: image lists, the list view with check boxes, the
// progress bar, the up-down, the tree and the time picker, at 96 and 192 DPI.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Locale.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"
#include "platform/controls/StandardControls.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

#ifndef ORV_TEST_OUTPUT_DIR
#define ORV_TEST_OUTPUT_DIR "."
#endif

namespace {

using namespace plat;

struct Note {
  UINT code;
  int item;
  UINT newState;
  UINT oldState;
  WORD key;
};
std::vector<Note> g_notes;
SYSTEMTIME g_lastChange{};  // the time the last DTN_DATETIMECHANGE carried
bool g_refuseChanges = false;

// Fills a tree item's children when it expands (the catalogue does so).
int g_loads = 0;
void LoadChildren(HWND tree, HTREEITEM parent) {
  ++g_loads;
  for (int i = 0; i < 3; ++i) {
    const std::string digits = std::to_string(i);
    std::u16string text = u"Feed " + std::u16string(digits.begin(), digits.end());
    TVINSERTSTRUCTW ins{parent, TVI_LAST, {TVIF_TEXT | TVIF_PARAM | TVIF_STATE, nullptr, INDEXTOSTATEIMAGEMASK(1),
                                           TVIS_STATEIMAGEMASK, text.data(), 0, 0, 0, 0, 100 + i}};
    SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
  }
}

LRESULT ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    if (hdr->code == TVN_ITEMEXPANDINGW) {
      const auto* nm = reinterpret_cast<const NMTREEVIEWW*>(lParam);
      if (nm->action == TVE_EXPAND &&
          !SendMessageW(hdr->hwndFrom, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(nm->itemNew.hItem)))
        LoadChildren(hdr->hwndFrom, nm->itemNew.hItem);
    }
    Note n{hdr->code, -1, 0, 0, 0};
    if (hdr->code == LVN_ITEMCHANGING || hdr->code == LVN_ITEMCHANGED || hdr->code == LVN_DELETEITEM ||
        hdr->code == LVN_INSERTITEM) {
      const auto* nm = reinterpret_cast<const NMLISTVIEW*>(lParam);
      n.item = nm->iItem;
      n.newState = nm->uNewState;
      n.oldState = nm->uOldState;
    } else if (hdr->code == NM_CLICK && hdr->idFrom == 201) {  // the check list's clicks carry the item
      n.item = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
    } else if (hdr->code == UDN_DELTAPOS) {
      n.item = reinterpret_cast<const NMUPDOWN*>(lParam)->iPos;
    } else if (hdr->code == DTN_DATETIMECHANGE) {
      const auto* nm = reinterpret_cast<const NMDATETIMECHANGE*>(lParam);
      n.item = static_cast<int>(nm->dwFlags);
      g_lastChange = nm->st;
    } else if (hdr->code == LVN_KEYDOWN) {
      n.key = reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey;
    }
    g_notes.push_back(n);
    return hdr->code == LVN_ITEMCHANGING && g_refuseChanges ? 1 : 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A 32-bit strip of n images of w × h, image k filled with colours[k] and a
// magenta (transparent) border one pixel wide.
HBITMAP Strip(int w, int h, const std::vector<DWORD>& colours) {
  void* bits = nullptr;
  const int n = static_cast<int>(colours.size());
  HBITMAP b = gditest::MakeDib(w * n, h, 32, true, &bits);
  auto* p = static_cast<DWORD*>(bits);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * n; ++x) {
      const int lx = x % w;
      const bool border = lx == 0 || y == 0 || lx == w - 1 || y == h - 1;
      p[y * w * n + x] = border ? 0xFF00FF : colours[static_cast<std::size_t>(x / w)];
    }
  return b;
}

// The selection colour as 0xRRGGBB.
DWORD Highlight() {
  const COLORREF c = GetSysColor(COLOR_HIGHLIGHT);
  return (static_cast<DWORD>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

DWORD At(const PixelImage& img, int x, int y) { return img.pixels[static_cast<std::size_t>(y) * img.width + x] & 0xFFFFFF; }

bool Near(DWORD a, DWORD b, int tol = 16) {
  for (int shift : {0, 8, 16})
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tol) return false;
  return true;
}

class CommonControlsTest : public orvtest::DeviceTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    const int dpi = GetParam();
    SetScreenForTesting(240 * dpi / 96, 320 * dpi / 96, dpi);
    InitCommonControls();
    g_notes.clear();
    g_refuseChanges = false;
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, u"CommonControlsTestParent", &wc)) {
      wc.lpfnWndProc = &ParentProc;
      wc.lpszClassName = u"CommonControlsTestParent";
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      ASSERT_TRUE(RegisterClassW(&wc));
    }
    parent_ = CreateWindowExW(0, u"CommonControlsTestParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(),
                              ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
  }
  void TearDown() override {
    if (parent_) DestroyWindow(parent_);
    ResetScreenForTesting();
  }

  int Px(int at96) const { return at96 * GetParam() / 96; }

  // The check list: report view, single selection, no header, check boxes,
  // full-row selection, a vertical scroll bar.
  HWND MakeCheckList(int count, int height) {
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, u"", 0x5081400D | WS_VSCROLL, 0, 0, ScreenWidth(), height, parent_,
                                reinterpret_cast<HMENU>(201), nullptr, nullptr);
    EXPECT_NE(list, nullptr);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    for (int i = 0; i < count; ++i) {
      const std::string digits = std::to_string(i);
      std::u16string text = u"Channel " + std::u16string(digits.begin(), digits.end());
      LVITEMW item{LVIF_TEXT | LVIF_PARAM, i, 0, 0, 0, text.data(), 0, 0, 1000 + i, 0};
      EXPECT_EQ(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), i);
    }
    return list;
  }

  static UINT Check(HWND list, int i) {
    return static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK)) >> 12;
  }

  void Tap(HWND w, int x, int y) {
    SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    SendMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
  }

  PixelImage Screenshot(const std::string& name) {
    InvalidateRect(parent_, nullptr, TRUE);
    UpdateWindow(parent_);
    for (HWND c = GetWindow(parent_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      InvalidateRect(c, nullptr, TRUE);
      UpdateWindow(c);
    }
    HBITMAP surface = GetWindowSurfaceForTesting(parent_);
    SaveBitmapPng(surface, std::string(ORV_TEST_OUTPUT_DIR) + "/" + name + "_" + std::to_string(GetParam()) + ".png");
    return ReadBitmapPixels(surface);
  }

  HWND parent_ = nullptr;
};

TEST_P(CommonControlsTest, ImageListCutsStripsKeepsMasksAndIconsAndRefusesBadIndexes) {
  const int s = Px(16);
  HIMAGELIST list = ImageList_Create(s, s, ILC_COLOR32 | ILC_MASK, 4, 4);
  ASSERT_NE(list, nullptr);
  HBITMAP strip = Strip(s, s, {0xFF0000, 0x00FF00, 0x0000FF});
  EXPECT_EQ(ImageList_AddMasked(list, strip, RGB(255, 0, 255)), 0);
  EXPECT_EQ(ImageList_GetImageCount(list), 3);
  // A strip narrower than one image adds nothing.
  HBITMAP narrow = Strip(s - 1, s, {0x123456});
  EXPECT_EQ(ImageList_AddMasked(list, narrow, CLR_NONE), -1);

  // Drawn onto grey: the border is transparent, the inside the image's colour.
  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP target = gditest::MakeDib(4 * s, s, 32, true, &bits);
  HGDIOBJ old = SelectObject(dc, target);
  RECT all{0, 0, 4 * s, s};
  HBRUSH grey = CreateSolidBrush(RGB(0x80, 0x80, 0x80));
  FillRect(dc, &all, grey);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ImageList_Draw(list, i, dc, i * s, 0, ILD_NORMAL));
  EXPECT_FALSE(ImageList_Draw(list, 3, dc, 0, 0, ILD_NORMAL));
  EXPECT_FALSE(ImageList_Draw(list, -2, dc, 0, 0, ILD_NORMAL));
  SelectObject(dc, old);
  PixelImage img = ReadBitmapPixels(target);
  EXPECT_TRUE(Near(At(img, 0, 0), 0x808080));
  EXPECT_TRUE(Near(At(img, s / 2, s / 2), 0xFF0000));
  EXPECT_TRUE(Near(At(img, s + s / 2, s / 2), 0x00FF00));
  EXPECT_TRUE(Near(At(img, 2 * s + s / 2, s / 2), 0x0000FF));
  EXPECT_TRUE(Near(At(img, 3 * s + s / 2, s / 2), 0x808080));

  // An icon round trip: the image comes back as an icon that draws the same.
  HICON icon = ImageList_GetIcon(list, 1, 0);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(ImageList_AddIcon(list, icon), 3);
  EXPECT_EQ(ImageList_ReplaceIcon(list, 0, icon), 0);
  EXPECT_EQ(ImageList_ReplaceIcon(list, 7, icon), -1);
  SelectObject(dc, target);
  FillRect(dc, &all, grey);
  ImageList_Draw(list, 0, dc, 0, 0, ILD_NORMAL);
  ImageList_Draw(list, 3, dc, s, 0, ILD_NORMAL);
  SelectObject(dc, old);
  img = ReadBitmapPixels(target);
  EXPECT_TRUE(Near(At(img, 0, 0), 0x808080));
  EXPECT_TRUE(Near(At(img, s / 2, s / 2), 0x00FF00));
  EXPECT_TRUE(Near(At(img, s + s / 2, s / 2), 0x00FF00));
  DestroyIcon(icon);

  EXPECT_FALSE(ImageList_Remove(list, 4));
  EXPECT_TRUE(ImageList_Remove(list, 0));
  EXPECT_EQ(ImageList_GetImageCount(list), 3);
  EXPECT_TRUE(ImageList_RemoveAll(list));
  EXPECT_EQ(ImageList_GetImageCount(list), 0);
  EXPECT_EQ(ImageList_Create(0, 16, 0, 0, 0), nullptr);
  EXPECT_TRUE(ImageList_Destroy(list));
  DeleteObject(grey);
  DeleteObject(target);
  DeleteObject(strip);
  DeleteObject(narrow);
  DeleteDC(dc);
}

TEST_P(CommonControlsTest, CheckListTogglesByTapOnTheBoxAndByKeysAndSelectsByTapOnTheLabel) {
  HWND list = MakeCheckList(5, ScreenHeight() / 2);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Check(list, i), 1u);
  // Item 2's rectangle, and a tap on its box toggles it and selects it.
  RECT r{LVIR_BOUNDS, 0, 0, 0};
  ASSERT_TRUE(SendMessageW(list, LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&r)));
  const int midY = (r.top + r.bottom) / 2;
  LVHITTESTINFO hit{{Px(8), midY}, 0, 0, 0};
  EXPECT_EQ(SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)), 2);
  EXPECT_EQ(hit.flags, LVHT_ONITEMSTATEICON);
  g_notes.clear();
  Tap(list, Px(8), midY);
  EXPECT_EQ(Check(list, 2), 2u);
  EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 2);
  ASSERT_FALSE(g_notes.empty());
  EXPECT_EQ(g_notes.back().code, NM_CLICK);
  EXPECT_EQ(g_notes.back().item, 2);
  // A tap on the label of item 3 selects it and leaves its box alone.
  Tap(list, ScreenWidth() / 2, midY + (r.bottom - r.top));
  EXPECT_EQ(Check(list, 3), 1u);
  EXPECT_EQ(Check(list, 2), 2u);
  EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 3);
  EXPECT_EQ(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 1);
  // Keys: down moves the selection, the action key and space toggle; the
  // parent hears each key first.
  SetFocus(list);
  SendMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
  SendMessageW(list, WM_KEYDOWN, VK_ACTION, 0);
  EXPECT_EQ(Check(list, 4), 2u);
  SendMessageW(list, WM_KEYDOWN, VK_UP, 0);
  SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(Check(list, 3), 2u);
  SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(Check(list, 3), 1u);
  int keys = 0;
  for (const Note& n : g_notes) keys += n.code == LVN_KEYDOWN;
  EXPECT_EQ(keys, 5);
  // A parent refusing the change keeps the box as it was.
  g_refuseChanges = true;
  SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(Check(list, 3), 1u);
  g_refuseChanges = false;
  // The state set by the program, and the item value.
  LVITEMW st{};
  st.stateMask = LVIS_STATEIMAGEMASK;
  st.state = INDEXTOSTATEIMAGEMASK(2);
  EXPECT_TRUE(SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&st)));
  EXPECT_EQ(Check(list, 0), 2u);
  LVITEMW get{LVIF_PARAM, 4, 0, 0, 0, nullptr, 0, 0, 0, 0};
  EXPECT_TRUE(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&get)));
  EXPECT_EQ(get.lParam, 1004);
  const PixelImage shot = Screenshot("listview_checks");
  // The selected row (3) is blue across the row; the first row white.
  EXPECT_TRUE(Near(At(shot, ScreenWidth() - Px(10), midY + (r.bottom - r.top)), Highlight()));
  EXPECT_TRUE(Near(At(shot, ScreenWidth() - Px(10), (r.bottom - r.top) / 2), 0xFFFFFF));
}

TEST_P(CommonControlsTest, ListViewAnswersFailureForBadIndexesAndKeepsOrderOnInsertAndDelete) {
  HWND list = MakeCheckList(3, ScreenHeight() / 2);
  WCHAR buf[32];
  LVITEMW item{LVIF_TEXT, 7, 0, 0, 0, buf, 32, 0, 0, 0};
  EXPECT_FALSE(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  item.iItem = -1;
  EXPECT_FALSE(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_FALSE(SendMessageW(list, LVM_GETITEMW, 0, 0));
  EXPECT_FALSE(SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_FALSE(SendMessageW(list, LVM_DELETEITEM, 3, 0));
  EXPECT_FALSE(SendMessageW(list, LVM_ENSUREVISIBLE, 99, 0));
  EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, 50, LVNI_ALL), -1);
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 1000000, LVIS_SELECTED), 0);
  LVITEMW st{};
  st.stateMask = LVIS_SELECTED;
  st.state = LVIS_SELECTED;
  EXPECT_FALSE(SendMessageW(list, LVM_SETITEMSTATE, 9, reinterpret_cast<LPARAM>(&st)));
  // Past the end appends; a text is cut to the buffer.
  std::u16string text = u"A rather long title";
  LVITEMW add{LVIF_TEXT, 100, 0, 0, 0, text.data(), 0, 0, 0, 0};
  EXPECT_EQ(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&add)), 3);
  LVITEMW get{LVIF_TEXT, 3, 0, 0, 0, buf, 7, 0, 0, 0};
  EXPECT_TRUE(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&get)));
  EXPECT_EQ(std::u16string(buf), u"A rath");
  EXPECT_TRUE(SendMessageW(list, LVM_DELETEITEM, 0, 0));
  get.iItem = 0;
  get.cchTextMax = 32;
  EXPECT_TRUE(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&get)));
  EXPECT_EQ(std::u16string(buf), u"Channel 1");
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_TRUE(SendMessageW(list, LVM_DELETEALLITEMS, 0, 0));
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), -1);
}

TEST_P(CommonControlsTest, LongListScrollsByScrollBarDragAndEnsureVisible) {
  HWND list = MakeCheckList(10000, ScreenHeight());
  const int perPage = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
  ASSERT_GT(perPage, 5);
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
  ASSERT_TRUE(GetScrollInfo(list, SB_VERT, &si));
  EXPECT_EQ(si.nMax, 9999);
  EXPECT_EQ(static_cast<int>(si.nPage), perPage);
  SendMessageW(list, WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), perPage);
  SendMessageW(list, WM_VSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), 10000 - perPage);
  EXPECT_TRUE(SendMessageW(list, LVM_ENSUREVISIBLE, 5000, 0));
  const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
  EXPECT_LE(top, 5000);
  EXPECT_GT(top + perPage, 5000);
  // A drag of the stylus up by three rows shows three rows further on, and
  // makes no click.
  RECT r{LVIR_BOUNDS, 0, 0, 0};
  SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(top), reinterpret_cast<LPARAM>(&r));
  const int row = r.bottom - r.top;
  g_notes.clear();
  SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(Px(100)), static_cast<WORD>(5 * row)));
  SendMessageW(list, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(Px(100)), static_cast<WORD>(2 * row)));
  SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(static_cast<WORD>(Px(100)), static_cast<WORD>(2 * row)));
  EXPECT_EQ(SendMessageW(list, LVM_GETTOPINDEX, 0, 0), top + 3);
  for (const Note& n : g_notes) EXPECT_NE(n.code, NM_CLICK);
  Screenshot("listview_long");
}

TEST_P(CommonControlsTest, ListWithSmallIconsAndProgressBarDraw) {
  const int s = GetSystemMetrics(SM_CXSMICON);
  HIMAGELIST icons = ImageList_Create(s, s, ILC_COLOR32 | ILC_MASK, 2, 0);
  HBITMAP strip = Strip(s, s, {0xE08020, 0x2080E0});
  ASSERT_EQ(ImageList_AddMasked(icons, strip, RGB(255, 0, 255)), 0);
  DeleteObject(strip);
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, u"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL |
                                                        LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER,
                              0, 0, ScreenWidth(), ScreenHeight() / 2, parent_, nullptr, nullptr, nullptr);
  ASSERT_NE(list, nullptr);
  SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons));
  const char16_t* names[] = {u"feed.xml", u"news.opml", u"photos"};
  for (int i = 0; i < 3; ++i) {
    LVITEMW item{LVIF_TEXT | LVIF_IMAGE, i, 0, 0, 0, const_cast<WCHAR*>(names[i]), 0, i % 2, 0, 0};
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  LVITEMW st{};
  st.stateMask = st.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&st));
  HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, u"", 0x54000000, Px(8), ScreenHeight() * 3 / 4,
                             ScreenWidth() - Px(16), Px(16), parent_, nullptr, nullptr, nullptr);
  ASSERT_NE(bar, nullptr);
  SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  EXPECT_EQ(SendMessageW(bar, PBM_SETPOS, 40, 0), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_SETPOS, 250, 0), 40);  // kept in the range
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
  SendMessageW(bar, PBM_SETPOS, 40, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
  const PixelImage shot = Screenshot("listview_icons_progress");
  const int barY = ScreenHeight() * 3 / 4 + Px(8);
  EXPECT_TRUE(Near(At(shot, Px(8) + (ScreenWidth() - Px(16)) / 5, barY), Highlight()));
  EXPECT_TRUE(Near(At(shot, Px(8) + (ScreenWidth() - Px(16)) * 4 / 5, barY), 0xFFFFFF));
  // The icon of row 0 shows its own colour inside its transparent border.
  RECT icon{LVIR_ICON, 0, 0, 0};
  SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&icon));
  EXPECT_TRUE(Near(At(shot, icon.left + s / 2, (icon.top + icon.bottom) / 2), 0xE08020));
  DestroyWindow(list);  // destroys the image list it owns
}

std::u16string TextOf(HWND w) {
  WCHAR buf[64] = {};
  GetWindowTextW(w, buf, 64);
  return buf;
}

TEST_P(CommonControlsTest, UpDownStepsItsBuddyNumberByTapsAndKeysWithinTheRange) {
  // The number field: an edit and an up-down that takes it as buddy, aligned
  // right, arrows side by side, arrow keys.
  HWND edit = CreateWindowExW(0, u"edit", u"", 0x508100C0, Px(10), Px(40), Px(120), Px(22), parent_,
                              reinterpret_cast<HMENU>(300), nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  HWND spin = CreateWindowExW(0, UPDOWN_CLASSW, u"", 0x50000076, 0, 0, Px(36), 0, parent_,
                              reinterpret_cast<HMENU>(301), nullptr, nullptr);
  ASSERT_NE(spin, nullptr);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(spin, UDM_GETBUDDY, 0, 0)), edit);
  RECT e{}, u{};
  GetWindowRect(edit, &e);
  GetWindowRect(spin, &u);
  EXPECT_EQ(e.right, u.left);  // beside the edit, which gave up the room
  EXPECT_EQ(u.right - e.left, Px(120));
  SendMessageW(spin, UDM_SETRANGE32, 1, 999);
  SendMessageW(spin, UDM_SETPOS32, 0, 998);
  EXPECT_EQ(TextOf(edit), u"998");
  // A tap on the right arrow steps up, and the parent hears of it first.
  g_notes.clear();
  const int h = u.bottom - u.top, w = u.right - u.left;
  Tap(spin, w * 3 / 4, h / 2);
  EXPECT_EQ(TextOf(edit), u"999");
  ASSERT_FALSE(g_notes.empty());
  EXPECT_EQ(g_notes.front().code, UDN_DELTAPOS);
  Tap(spin, w * 3 / 4, h / 2);  // kept at the top of the range
  EXPECT_EQ(TextOf(edit), u"999");
  Tap(spin, w / 4, h / 2);
  EXPECT_EQ(TextOf(edit), u"998");
  // Keys in the edit step it; a number typed in is where the next step starts.
  SetWindowTextW(edit, u"5");
  SendMessageW(edit, WM_KEYDOWN, VK_UP, 0);
  EXPECT_EQ(TextOf(edit), u"6");
  SendMessageW(edit, WM_KEYDOWN, VK_DOWN, 0);
  SendMessageW(edit, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(TextOf(edit), u"4");
  EXPECT_EQ(SendMessageW(spin, UDM_GETPOS32, 0, 0), 4);
  // Text that is no number is reported, and the position kept.
  SetWindowTextW(edit, u"abc");
  BOOL error = FALSE;
  EXPECT_EQ(SendMessageW(spin, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 4);
  EXPECT_TRUE(error);
  EXPECT_NE(HIWORD(static_cast<std::uintptr_t>(SendMessageW(spin, UDM_GETPOS, 0, 0))), 0);
  SetWindowTextW(edit, u"250");
  Screenshot("updown");
  DestroyWindow(spin);
  // The edit keeps working on its own once the up-down is gone.
  SendMessageW(edit, WM_KEYDOWN, VK_UP, 0);
  EXPECT_EQ(TextOf(edit), u"250");
}

TEST_P(CommonControlsTest, TreeFillsChildrenWhenExpandedByTapsAndKeys) {
  g_loads = 0;
  HWND tree = CreateWindowExW(0, WC_TREEVIEWW, u"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                  TVS_SHOWSELALWAYS,
                              0, 0, ScreenWidth(), ScreenHeight() * 2 / 3, parent_, nullptr, nullptr, nullptr);
  ASSERT_NE(tree, nullptr);
  const char16_t* groups[] = {u"News", u"Technology", u"Sports"};
  HTREEITEM items[3]{};
  for (int i = 0; i < 3; ++i) {
    TVINSERTSTRUCTW ins{TVI_ROOT, TVI_LAST, {TVIF_TEXT | TVIF_CHILDREN | TVIF_PARAM, nullptr, 0, 0,
                                             const_cast<WCHAR*>(groups[i]), 0, 0, 0, I_CHILDRENCALLBACK, -1}};
    items[i] = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    ASSERT_NE(items[i], nullptr);
  }
  auto rectOf = [&](HTREEITEM h, BOOL label) {
    RECT r{};
    std::memcpy(&r, &h, sizeof h);
    EXPECT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, label, reinterpret_cast<LPARAM>(&r)));
    return r;
  };
  // A tap on the first group's button expands it and loads its children once.
  const RECT first = rectOf(items[0], TRUE);
  TVHITTESTINFO hit{{first.left - Px(8), (first.top + first.bottom) / 2}, 0, nullptr};
  EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit))), items[0]);
  EXPECT_EQ(hit.flags, TVHT_ONITEMBUTTON);
  Tap(tree, hit.pt.x, hit.pt.y);
  EXPECT_EQ(g_loads, 1);
  EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 6);
  HTREEITEM child = reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(items[0])));
  ASSERT_NE(child, nullptr);
  WCHAR buf[32];
  TVITEMW get{TVIF_TEXT | TVIF_PARAM, child, 0, 0, buf, 32, 0, 0, 0, 0};
  EXPECT_TRUE(SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&get)));
  EXPECT_EQ(std::u16string(buf), u"Feed 0");
  EXPECT_EQ(get.lParam, 100);
  // Collapsing and expanding again loads nothing more.
  Tap(tree, hit.pt.x, hit.pt.y);
  Tap(tree, hit.pt.x, hit.pt.y);
  EXPECT_EQ(g_loads, 1);
  // Keys: down to the first feed, right on the second group (selected by a
  // tap on its label) expands it.
  const RECT second = rectOf(items[1], TRUE);
  Tap(tree, second.left + Px(10), (second.top + second.bottom) / 2);
  EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)), items[1]);
  SendMessageW(tree, WM_KEYDOWN, VK_RIGHT, 0);
  EXPECT_EQ(g_loads, 2);
  SendMessageW(tree, WM_KEYDOWN, VK_DOWN, 0);
  HTREEITEM caret = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(caret))),
            items[1]);
  SendMessageW(tree, WM_KEYDOWN, VK_LEFT, 0);  // to the parent
  EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)), items[1]);
  SendMessageW(tree, WM_KEYDOWN, VK_DOWN, 0);
  // A tap on a feed's check box ticks it (the tree shows check boxes by state image list).
  const int s16 = Px(13);
  HIMAGELIST checks = ImageList_Create(s16, s16, ILC_COLOR32 | ILC_MASK, 2, 0);
  HBITMAP strip = Strip(s16, s16, {0xFFFFFF, 0x000000});
  ImageList_AddMasked(checks, strip, CLR_NONE);
  DeleteObject(strip);
  SendMessageW(tree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(checks));
  const RECT feed = rectOf(child, FALSE);
  TVHITTESTINFO onBox{{0, (feed.top + feed.bottom) / 2}, 0, nullptr};
  for (onBox.pt.x = 0; onBox.pt.x < ScreenWidth(); ++onBox.pt.x) {
    SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&onBox));
    if (onBox.flags == TVHT_ONITEMSTATEICON) break;
  }
  EXPECT_EQ(onBox.flags, TVHT_ONITEMSTATEICON);
  EXPECT_EQ(onBox.hItem, child);
  Screenshot("treeview");
  // Bad handles answer failure.
  auto bogus = reinterpret_cast<HTREEITEM>(static_cast<std::uintptr_t>(0x1234));
  TVITEMW bad{TVIF_TEXT, bogus, 0, 0, buf, 32, 0, 0, 0, 0};
  EXPECT_FALSE(SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&bad)));
  EXPECT_FALSE(SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&bad)));
  EXPECT_FALSE(SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(bogus)));
  EXPECT_FALSE(SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(bogus)));
  EXPECT_EQ(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(bogus)), 0);
  TVINSERTSTRUCTW orphan{bogus, TVI_LAST, {TVIF_TEXT, nullptr, 0, 0, buf, 0, 0, 0, 0, 0}};
  EXPECT_EQ(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&orphan)), 0);
  // Deleting a group takes its children; deleting the root empties the tree.
  EXPECT_TRUE(SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(items[0])));
  EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 5);
  get.hItem = child;
  EXPECT_FALSE(SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&get)));
  EXPECT_TRUE(SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT)));
  EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 0);
  DestroyWindow(tree);
  ImageList_Destroy(checks);
}

// A picker as the options page makes it: time format, up-down, 32 units high.
HWND MakePicker(HWND parent, int px32, const char16_t* format) {
  HWND picker = CreateWindowExW(0, DATETIMEPICK_CLASSW, u"", WS_CHILD | WS_VISIBLE | DTS_TIMEFORMAT | DTS_UPDOWN, 4,
                                4, px32 * 4, px32, parent, reinterpret_cast<HMENU>(400), nullptr, nullptr);
  if (picker && format) SendMessageW(picker, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(format));
  return picker;
}

SYSTEMTIME TimeOf(WORD h, WORD m) { return SYSTEMTIME{2026, 3, 2, 17, h, m, 0, 0}; }

TEST_P(CommonControlsTest, TimePickerKeepsTheTimeSetAndRefusesInvalidOnes) {
  HWND picker = MakePicker(parent_, Px(32), u"HH':'mm");
  ASSERT_NE(picker, nullptr);
  SYSTEMTIME set = TimeOf(7, 30);
  set.wSecond = 12;
  set.wMilliseconds = 345;
  EXPECT_TRUE(SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&set)));
  SYSTEMTIME got{};
  EXPECT_EQ(SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got)), static_cast<LRESULT>(GDT_VALID));
  EXPECT_EQ(std::memcmp(&got, &set, sizeof set), 0);  // the date and the seconds too
  EXPECT_EQ(SendMessageW(picker, DTM_GETSYSTEMTIME, 0, 0), static_cast<LRESULT>(GDT_ERROR));
  // Each invalid time is refused and the one held stays.
  struct Bad {
    SYSTEMTIME t;
    const char* why;
  };
  const Bad bad[] = {{{2026, 3, 2, 17, 24, 0, 0, 0}, "hour 24"},   {{2026, 3, 2, 17, 7, 60, 0, 0}, "minute 60"},
                     {{2026, 3, 2, 17, 7, 0, 60, 0}, "second 60"}, {{2026, 3, 2, 17, 7, 0, 0, 1000}, "1000 ms"},
                     {{2026, 13, 2, 17, 7, 0, 0, 0}, "month 13"},  {{2026, 0, 2, 17, 7, 0, 0, 0}, "month 0"},
                     {{2026, 2, 2, 29, 7, 0, 0, 0}, "29 Feb 2026"}, {{2026, 4, 2, 31, 7, 0, 0, 0}, "31 April"},
                     {{2026, 4, 2, 0, 7, 0, 0, 0}, "day 0"},       {{1600, 1, 2, 1, 7, 0, 0, 0}, "year 1600"}};
  for (const Bad& b : bad) {
    EXPECT_FALSE(SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&b.t))) << b.why;
    SYSTEMTIME now{};
    SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&now));
    EXPECT_EQ(std::memcmp(&now, &set, sizeof set), 0) << b.why;
  }
  SYSTEMTIME leap{2024, 2, 4, 29, 23, 59, 0, 0};
  EXPECT_TRUE(SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&leap)));
  EXPECT_FALSE(SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, 0));
  EXPECT_FALSE(SendMessageW(picker, DTM_SETSYSTEMTIME, 7, reinterpret_cast<LPARAM>(&set)));
  // No time at all only with DTS_SHOWNONE.
  EXPECT_FALSE(SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_NONE, 0));
  EXPECT_EQ(SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got)), static_cast<LRESULT>(GDT_VALID));
  SetWindowLongW(picker, GWL_STYLE, GetWindowLongW(picker, GWL_STYLE) | DTS_SHOWNONE);
  EXPECT_TRUE(SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_NONE, 0));
  EXPECT_EQ(SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got)), static_cast<LRESULT>(GDT_NONE));
  EXPECT_TRUE(g_notes.empty());  // setting the time is not a change by the user
  DestroyWindow(picker);
}

TEST_P(CommonControlsTest, TimePickerFieldsFollowKeysTapsAndDigits) {
  enum Act { kTapField, kKey, kChar, kArrow };
  struct Step {
    Act act;
    int arg;  // the field tapped (0 first), the key, the character, +1/-1 arrow
    WORD hour, minute;
    int notes;  // DTN_DATETIMECHANGE so far in this case
  };
  struct Case {
    const char* name;
    const char16_t* format;
    WORD hour, minute;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"24-hour minute up wraps the day", u"HH':'mm", 23, 59,
       {{kTapField, 1, 23, 59, 0}, {kKey, VK_UP, 0, 0, 1}, {kKey, VK_DOWN, 23, 59, 2}}},
      {"24-hour hour wraps", u"HH':'mm", 23, 10, {{kKey, VK_UP, 0, 10, 1}, {kArrow, -1, 23, 10, 2}, {kArrow, 1, 0, 10, 3}}},
      {"left and right move between fields", u"HH':'mm", 8, 15,
       {{kKey, VK_RIGHT, 8, 15, 0}, {kKey, VK_UP, 8, 16, 1}, {kKey, VK_RIGHT, 8, 16, 1}, {kKey, VK_UP, 8, 17, 2},
        {kKey, VK_LEFT, 8, 17, 2}, {kKey, VK_DOWN, 7, 17, 3}, {kKey, VK_LEFT, 7, 17, 3}, {kKey, VK_DOWN, 6, 17, 4}}},
      {"typed digits fill a field and move on", u"HH':'mm", 8, 15,
       {{kChar, u'1', 1, 15, 1}, {kChar, u'7', 17, 15, 2}, {kChar, u'4', 17, 4, 3}, {kChar, u'5', 17, 45, 4},
        {kChar, u'x', 17, 45, 4}}},
      {"a digit that can have no second moves on at once", u"HH':'mm", 8, 15,
       {{kChar, u'3', 3, 15, 1}, {kChar, u'9', 3, 9, 2}}},
      {"the same digit again is no change", u"HH':'mm", 8, 15, {{kTapField, 1, 8, 15, 0}, {kChar, u'1', 8, 1, 1},
                                                               {kChar, u'5', 8, 15, 2}}},
      {"12-hour AM/PM toggles", u"hh':'mm' 'tt", 9, 5,
       {{kTapField, 2, 9, 5, 0}, {kKey, VK_UP, 21, 5, 1}, {kKey, VK_UP, 9, 5, 2}, {kChar, u'p', 21, 5, 3},
        {kChar, u'p', 21, 5, 3}, {kChar, u'A', 9, 5, 4}}},
      {"12-hour hour steps through noon and midnight", u"hh':'mm' 'tt", 11, 0,
       {{kKey, VK_UP, 12, 0, 1}, {kKey, VK_DOWN, 11, 0, 2}, {kArrow, -1, 10, 0, 3}}},
      {"12-hour typed hour keeps the half of the day", u"hh':'mm' 'tt", 15, 0,
       {{kChar, u'1', 13, 0, 1}, {kChar, u'2', 12, 0, 2}, {kTapField, 0, 12, 0, 2}, {kChar, u'7', 19, 0, 3}}},
      {"12-hour minute up at 11:59 PM is 12:00 AM", u"hh':'mm' 'tt", 23, 59, {{kTapField, 1, 23, 59, 0},
                                                                          {kKey, VK_UP, 0, 0, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HWND picker = MakePicker(parent_, Px(32), c.format);
    ASSERT_NE(picker, nullptr);
    const SYSTEMTIME start = TimeOf(c.hour, c.minute);
    ASSERT_TRUE(SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&start)));
    HWND spin = GetWindow(picker, GW_CHILD);
    ASSERT_NE(spin, nullptr);
    RECT sr{};
    GetClientRect(spin, &sr);
    g_notes.clear();
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(i);
      const Step& st = c.steps[i];
      switch (st.act) {
        case kTapField: {
          // The fields' places: scan across the picker for the n-th field a tap selects.
          HDC dc = GetDC(picker);
          HGDIOBJ old = SelectObject(dc, ControlFont());
          SIZE two{}, sep{};
          GetTextExtentPoint32W(dc, u"00", 2, &two);
          GetTextExtentPoint32W(dc, u":", 1, &sep);
          SelectObject(dc, old);
          ReleaseDC(picker, dc);
          const int x = Px(4) + st.arg * (two.cx + sep.cx) + two.cx / 2;
          Tap(picker, x, Px(16));
          break;
        }
        case kKey: SendMessageW(picker, WM_KEYDOWN, static_cast<WPARAM>(st.arg), 0); break;
        case kChar: SendMessageW(picker, WM_CHAR, static_cast<WPARAM>(st.arg), 0); break;
        case kArrow: Tap(spin, sr.right / 2, st.arg > 0 ? sr.bottom / 4 : sr.bottom * 3 / 4); break;
      }
      SYSTEMTIME got{};
      ASSERT_EQ(SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got)),
                static_cast<LRESULT>(GDT_VALID));
      EXPECT_EQ(got.wHour, st.hour);
      EXPECT_EQ(got.wMinute, st.minute);
      EXPECT_EQ(got.wYear, 2026);  // the date is kept
      EXPECT_EQ(got.wDay, 17);
      int changes = 0;
      for (const Note& n : g_notes) {
        if (n.code != DTN_DATETIMECHANGE) continue;
        ++changes;
        EXPECT_EQ(n.item, static_cast<int>(GDT_VALID));
      }
      EXPECT_EQ(changes, st.notes);
      if (changes > 0) {
        EXPECT_EQ(g_lastChange.wHour, st.hour);
        EXPECT_EQ(g_lastChange.wMinute, st.minute);
      }
    }
    DestroyWindow(picker);
  }
}

TEST_P(CommonControlsTest, TimePickerFollowsTheLocaleClockAndDraws) {
  LocaleSettings twelve = CurrentLocaleSettings();
  twelve.timeMode = u"0";
  SetLocaleForTesting(twelve);
  HWND am = MakePicker(parent_, Px(32), nullptr);
  LocaleSettings day = twelve;
  day.timeMode = u"1";
  SetLocaleForTesting(day);
  HWND h24 = MakePicker(parent_, Px(32), nullptr);
  ResetLocaleForTesting();
  ASSERT_NE(am, nullptr);
  ASSERT_NE(h24, nullptr);
  MoveWindow(h24, 4, Px(48), Px(128), Px(32), TRUE);
  const SYSTEMTIME t = TimeOf(19, 5);
  SendMessageW(am, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&t));
  SendMessageW(h24, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&t));
  // The 12-hour picker has three fields: right twice reaches AM/PM, whose step is 12 hours.
  SendMessageW(am, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(am, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(am, WM_KEYDOWN, VK_UP, 0);
  SYSTEMTIME got{};
  SendMessageW(am, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got));
  EXPECT_EQ(got.wHour, 7);
  // The 24-hour one has two: right twice stays on the minute.
  SendMessageW(h24, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(h24, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(h24, WM_KEYDOWN, VK_UP, 0);
  SendMessageW(h24, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got));
  EXPECT_EQ(got.wHour, 19);
  EXPECT_EQ(got.wMinute, 6);
  const PixelImage shot = Screenshot("timepicker");
  // A white field framed dark, the selected field (the minutes) in the
  // highlight colour, the up-down's face at the right.
  RECT r{};
  GetWindowRect(h24, &r);
  POINT tl{r.left, r.top};
  ScreenToClient(parent_, &tl);
  const int w = r.right - r.left, h = r.bottom - r.top;
  EXPECT_TRUE(Near(At(shot, tl.x, tl.y + h / 2), 0x000000, 80));
  EXPECT_TRUE(Near(At(shot, tl.x + Px(2), tl.y + Px(3)), 0xFFFFFF));
  int highlight = 0;
  const DWORD blue = GetSysColor(COLOR_HIGHLIGHT);
  const DWORD blueRgb = ((blue & 0xFF) << 16) | (blue & 0xFF00) | ((blue >> 16) & 0xFF);
  for (int x = tl.x; x < tl.x + w - Px(16); ++x)
    if (Near(At(shot, x, tl.y + h / 2), blueRgb, 24) || Near(At(shot, x, tl.y + h / 2), blue & 0xFFFFFF, 24))
      ++highlight;
  EXPECT_GT(highlight, Px(4));
  // The highlight lies on the right half of the text (the minutes), none on the hours.
  int firstBlue = -1;
  for (int x = tl.x; x < tl.x + w && firstBlue < 0; ++x)
    if (Near(At(shot, x, tl.y + h / 2), blueRgb, 24) || Near(At(shot, x, tl.y + h / 2), blue & 0xFFFFFF, 24))
      firstBlue = x - tl.x;
  EXPECT_GT(firstBlue, Px(16));
  DestroyWindow(am);
  DestroyWindow(h24);
}

INSTANTIATE_TEST_SUITE_P(Dpi, CommonControlsTest, ::testing::Values(96, 192));

}  // namespace
