// orv-controlsapp: a program of the device for the whole-program tests of the
// common controls. One of three screens, and a log file of what happened:
//
//   --show checklist   a check-box list of five channels filling the screen
//       row <i> <left> <top> <right> <bottom>   each row (screen coordinates) at start
//       check <i> <1|2>                         a row's box changed
//   --show tree        a tree of three groups whose feeds are loaded on expanding
//       button <i> <x> <y>                      each group's button at start
//       load <i>                                a group's feeds were loaded
//       expanded <i> | collapsed <i>
//   --show sheet       a property sheet of three pages; the second refuses the first apply
//       setactive|killactive|apply <page>, refused <page>, result <n>
//   ready                                       the screen is up
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "tests/support/PageTemplate.h"
#include "platform/windows/SystemMetrics.h"
#include "platform/windows/Windows.h"
#include "tests/apps/AppLog.h"

namespace {

using namespace plat;

FILE*& g_log = orvapp::LogFile();
using orvapp::Log;
HWND g_control = nullptr;
std::vector<HTREEITEM> g_groups;
bool g_refused = false;


std::u16string U(const std::string& s) { return Utf8ToUtf16(s); }

int GroupIndex(HTREEITEM h) {
  for (std::size_t i = 0; i < g_groups.size(); ++i)
    if (g_groups[i] == h) return static_cast<int>(i);
  return -1;
}

LRESULT MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    if (hdr->code == LVN_ITEMCHANGED) {
      const auto* nm = reinterpret_cast<const NMLISTVIEW*>(lParam);
      if ((nm->uNewState ^ nm->uOldState) & LVIS_STATEIMAGEMASK) Log("check %d %u", nm->iItem, nm->uNewState >> 12);
    } else if (hdr->code == TVN_ITEMEXPANDINGW) {
      const auto* nm = reinterpret_cast<const NMTREEVIEWW*>(lParam);
      HTREEITEM item = nm->itemNew.hItem;
      if (nm->action == TVE_EXPAND &&
          !SendMessageW(hdr->hwndFrom, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))) {
        for (int i = 0; i < 4; ++i) {
          std::u16string text = U("Feed " + std::to_string(i));
          TVINSERTSTRUCTW ins{item, TVI_LAST, {TVIF_TEXT, nullptr, 0, 0, text.data(), 0, 0, 0, 0, 0}};
          SendMessageW(hdr->hwndFrom, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
        }
        Log("load %d", GroupIndex(item));
      }
    } else if (hdr->code == TVN_ITEMEXPANDEDW) {
      const auto* nm = reinterpret_cast<const NMTREEVIEWW*>(lParam);
      Log("%s %d", nm->action == TVE_EXPAND ? "expanded" : "collapsed", GroupIndex(nm->itemNew.hItem));
    }
    return 0;
  }
  if (msg == WM_SETFOCUS && g_control) {
    SetFocus(g_control);
    return 0;
  }
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

INT_PTR PageProc(HWND hwnd, UINT msg, WPARAM, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongW(hwnd, DWL_USER, reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
    return TRUE;
  }
  if (msg != WM_NOTIFY) return FALSE;
  const auto* nm = reinterpret_cast<const PSHNOTIFY*>(lParam);
  const int page = static_cast<int>(GetWindowLongW(hwnd, DWL_USER));
  LRESULT result = 0;
  switch (nm->hdr.code) {
    case PSN_SETACTIVE: Log("setactive %d", page); break;
    case PSN_KILLACTIVE: Log("killactive %d", page); break;
    case PSN_APPLY:
      if (page == 1 && !g_refused) {
        g_refused = true;
        result = PSNRET_INVALID;
        Log("refused %d", page);
      } else {
        Log("apply %d", page);
      }
      break;
    default: return FALSE;
  }
  SetWindowLongW(hwnd, DWL_MSGRESULT, result);
  return TRUE;
}

int SheetCallback(HWND, UINT msg, LPARAM) { return msg == PSCB_GETVERSION ? 526 : 0; }

}  // namespace

int main(int argc, char** argv) {
  std::string show = "checklist";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--log") g_log = std::fopen(argv[i + 1], "a");
    else if (a == "--show") show = argv[i + 1];
    else return 2;
  }
  InitCommonControls();
  if (show == "sheet") {
    const std::vector<WORD> t[3] = {orvtest::PageTemplate(u"Network", u"Network settings"),
                                    orvtest::PageTemplate(u"Updating", u"Update every day"),
                                    orvtest::PageTemplate(u"Cleaning", u"Delete old articles")};
    PROPSHEETPAGEW psp[3]{};
    for (int i = 0; i < 3; ++i) {
      psp[i].dwSize = sizeof(PROPSHEETPAGEW);
      psp[i].dwFlags = PSP_DLGINDIRECT;
      psp[i].pResource = reinterpret_cast<const DLGTEMPLATE*>(t[i].data());
      psp[i].pfnDlgProc = PageProc;
      psp[i].lParam = i;
    }
    PROPSHEETHEADERW h{};
    h.dwSize = sizeof(h);
    h.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_MAXIMIZE;
    h.pszCaption = u"Options";
    h.nPages = 3;
    h.ppsp = psp;
    h.pfnCallback = SheetCallback;
    Log("ready");
    Log("result %d", static_cast<int>(PropertySheetW(&h)));
    return 0;
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = MainProc;
  wc.lpszClassName = u"OrvControlsApp";
  if (!RegisterClassW(&wc)) return 3;
  HWND main = CreateWindowExW(0, u"OrvControlsApp", u"Controls", WS_POPUP | WS_VISIBLE, 0, 0,
                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                              nullptr, nullptr);
  if (!main) return 4;
  RECT rc{};
  GetClientRect(main, &rc);
  if (show == "tree") {
    g_control = CreateWindowExW(0, WC_TREEVIEWW, u"",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                    TVS_SHOWSELALWAYS,
                                0, 0, rc.right, rc.bottom, main, nullptr, nullptr, nullptr);
    for (int i = 0; i < 3; ++i) {
      std::u16string text = U("Group " + std::to_string(i));
      TVINSERTSTRUCTW ins{TVI_ROOT, TVI_LAST,
                          {TVIF_TEXT | TVIF_CHILDREN, nullptr, 0, 0, text.data(), 0, 0, 0, I_CHILDRENCALLBACK, 0}};
      g_groups.push_back(
          reinterpret_cast<HTREEITEM>(SendMessageW(g_control, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins))));
    }
  } else {
    g_control = CreateWindowExW(0, WC_LISTVIEWW, u"", 0x5081400D | WS_VSCROLL, 0, 0, rc.right, rc.bottom, main,
                                reinterpret_cast<HMENU>(201), nullptr, nullptr);
    SendMessageW(g_control, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    for (int i = 0; i < 5; ++i) {
      std::u16string text = U("Channel " + std::to_string(i));
      LVITEMW item{LVIF_TEXT, i, 0, 0, 0, text.data(), 0, 0, 0, 0};
      SendMessageW(g_control, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
  }
  SetForegroundWindow(main);
  SetFocus(g_control);
  UpdateWindow(main);
  UpdateWindow(g_control);
  if (show == "tree") {
    for (std::size_t i = 0; i < g_groups.size(); ++i) {
      RECT r{};
      std::memcpy(&r, &g_groups[i], sizeof(HTREEITEM));
      SendMessageW(g_control, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
      const int indent = static_cast<int>(SendMessageW(g_control, TVM_GETINDENT, 0, 0));
      Log("button %zu %d %d", i, r.left - indent / 2, (r.top + r.bottom) / 2);
    }
  } else {
    for (int i = 0; i < 5; ++i) {
      RECT r{LVIR_BOUNDS, 0, 0, 0};
      SendMessageW(g_control, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
      Log("row %d %d %d %d %d", i, r.left, r.top, r.right, r.bottom);
    }
  }
  Log("ready");
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}
