// The common controls with many items: a list view of 10,000 check-box rows
// and a tree of 5,000 items (100 groups of 49), at 480×640 and 192 DPI.
// Figures: filling, one screen scrolled and drawn, one key step at the end.
// Goal: one screen scrolled and drawn in under 20 ms.
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/controls/CommCtrl.h"

namespace {

using namespace plat;

double Ms(bench::Clock::time_point since) { return bench::Seconds(since) * 1000.0; }

// Scrolls page by page `pages` times, painting each; the mean per page in ms.
double ScrollPages(HWND control, int pages) {
  const auto t = bench::Clock::now();
  for (int i = 0; i < pages; ++i) {
    SendMessageW(control, WM_VSCROLL, SB_PAGEDOWN, 0);
    InvalidateRect(control, nullptr, FALSE);
    UpdateWindow(control);
  }
  return Ms(t) / pages;
}

}  // namespace

int main() {
  const std::string device = bench::MakeTempDevice();
  if (device.empty()) return 1;
  InitCommonControls();
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = u"BenchParent";
  RegisterClassW(&wc);
  HWND parent = CreateWindowExW(0, u"BenchParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(), ScreenHeight(),
                                nullptr, nullptr, nullptr, nullptr);

  HWND list = CreateWindowExW(0, WC_LISTVIEWW, u"", 0x5081400D | WS_VSCROLL, 0, 0, ScreenWidth(), ScreenHeight(),
                              parent, nullptr, nullptr, nullptr);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  auto t = bench::Clock::now();
  for (int i = 0; i < 10000; ++i) {
    const std::string digits = "Channel number " + std::to_string(i);
    std::u16string text(digits.begin(), digits.end());
    LVITEMW item{LVIF_TEXT | LVIF_PARAM, i, 0, 0, 0, text.data(), 0, 0, i, 0};
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  std::printf("list view: 10,000 items inserted in %.1f ms\n", Ms(t));
  std::printf("list view: one screen scrolled and drawn in %.2f ms (mean of 50)\n", ScrollPages(list, 50));
  SendMessageW(list, WM_KEYDOWN, VK_END, 0);
  t = bench::Clock::now();
  SendMessageW(list, WM_KEYDOWN, VK_UP, 0);
  UpdateWindow(list);
  std::printf("list view: a key step at the end in %.2f ms\n", Ms(t));
  DestroyWindow(list);

  HWND tree = CreateWindowExW(0, WC_TREEVIEWW, u"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                  TVS_CHECKBOXES,
                              0, 0, ScreenWidth(), ScreenHeight(), parent, nullptr, nullptr, nullptr);
  t = bench::Clock::now();
  for (int g = 0; g < 100; ++g) {
    const std::string name = "Group " + std::to_string(g);
    std::u16string text(name.begin(), name.end());
    TVINSERTSTRUCTW ins{TVI_ROOT, TVI_LAST, {TVIF_TEXT, nullptr, 0, 0, text.data(), 0, 0, 0, 0, 0}};
    auto group = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    for (int i = 0; i < 49; ++i) {
      const std::string feed = "Feed " + std::to_string(i) + " of group " + std::to_string(g);
      std::u16string ftext(feed.begin(), feed.end());
      TVINSERTSTRUCTW child{group, TVI_LAST, {TVIF_TEXT, nullptr, 0, 0, ftext.data(), 0, 0, 0, 0, 0}};
      SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&child));
    }
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(group));
  }
  std::printf("tree view: 5,000 items inserted and expanded in %.1f ms\n", Ms(t));
  std::printf("tree view: one screen scrolled and drawn in %.2f ms (mean of 50)\n", ScrollPages(tree, 50));
  SendMessageW(tree, WM_KEYDOWN, VK_END, 0);
  t = bench::Clock::now();
  SendMessageW(tree, WM_KEYDOWN, VK_UP, 0);
  UpdateWindow(tree);
  std::printf("tree view: a key step at the end in %.2f ms\n", Ms(t));
  DestroyWindow(parent);
  std::error_code ec;
  std::filesystem::remove_all(device, ec);
  return 0;
}
