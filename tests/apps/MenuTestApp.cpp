// orv-menuapp: a small program of the device for the whole-program tests of
// the controls. It shows a dialog (an edit, a drop-down list, two buttons and
// a static that opens a pop-up menu) over the whole screen with the shell's
// menu bar ("Done" on the left soft key, a "Menu" pop-up on the right, the
// Back key overridden) and writes what it hears to its log, one line each:
//
//   rect <id> <left> <top> <right> <bottom>   each control and "bar", at start
//   ready                       the dialog and its bar are shown
//   command <id> <code>         WM_COMMAND to the dialog
//   text <utf8>                 the edit's text after a change
//   combo <index>               the drop-down list's new selection
//   popup <id>                  what the static's pop-up menu returned
//   initmenu                    WM_INITMENUPOPUP
//   hotkey <modifiers> <key>    WM_HOTKEY (the Back key)
//
//   orv-menuapp --log PATH
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/StandardControls.h"
#include "platform/windows/Menus.h"
#include "platform/windows/Windows.h"
#include "tests/apps/AppLog.h"

namespace {

using namespace plat;

constexpr int kPress = 110, kName = 111, kSchedule = 112, kMenuHere = 113;
using orvapp::Log;


void LogRect(const char* name, HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  Log("rect %s %ld %ld %ld %ld", name, static_cast<long>(r.left), static_cast<long>(r.top), static_cast<long>(r.right),
      static_cast<long>(r.bottom));
}

void ShowContextMenu(HWND dlg) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 11, u"Open");
  AppendMenuW(menu, MF_STRING, 12, u"Delete");
  AppendMenuW(menu, MF_STRING | MF_GRAYED, 13, u"Disabled");
  RECT r{};
  GetWindowRect(GetDlgItem(dlg, kMenuHere), &r);
  int chosen = TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY, r.left + 10, r.bottom, dlg, nullptr);
  DestroyMenu(menu);
  Log("popup %d", chosen);
}

INT_PTR DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wParam), code = HIWORD(wParam);
      Log("command %d %d", id, code);
      if (id == kName && code == EN_CHANGE) {
        WCHAR text[128] = {};
        GetDlgItemTextW(dlg, kName, text, 128);
        Log("text %s", Utf16ToUtf8(text).c_str());
      } else if (id == kSchedule && code == CBN_SELCHANGE) {
        Log("combo %d", static_cast<int>(SendDlgItemMessageW(dlg, kSchedule, CB_GETCURSEL, 0, 0)));
      } else if (id == kMenuHere && code == STN_CLICKED) {
        ShowContextMenu(dlg);
      }
      return TRUE;
    }
    case WM_INITMENUPOPUP:
      Log("initmenu");
      return TRUE;
    case WM_HOTKEY:
      Log("hotkey %u %u", static_cast<unsigned>(LOWORD(static_cast<std::uintptr_t>(lParam))),
          static_cast<unsigned>(HIWORD(static_cast<std::uintptr_t>(lParam))));
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dlg);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--log") orvapp::OpenLog(argv[i + 1]);
  HWND dlg = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(100), nullptr, DialogProc, 0);
  if (!dlg) {
    Log("create-failed %u", static_cast<unsigned>(GetLastError()));
    return 3;
  }
  MoveWindow(dlg, 0, 0, ScreenWidth(), ScreenHeight(), TRUE);
  for (const char16_t* item : {u"Every hour", u"Every 3 hours", u"Every 6 hours", u"Daily"})
    SendDlgItemMessageW(dlg, kSchedule, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  SendDlgItemMessageW(dlg, kSchedule, CB_SETCURSEL, 0, 0);
  SHMENUBARINFO bar{};
  bar.cbSize = sizeof bar;
  bar.hwndParent = dlg;
  bar.dwFlags = SHCMBF_HMENU;
  bar.nToolBarId = 200;
  if (!SHCreateMenuBar(&bar)) {
    Log("bar-failed %u", static_cast<unsigned>(GetLastError()));
    return 4;
  }
  const WORD both = SHMBOF_NODEFAULT | SHMBOF_NOTIFY;
  SendMessageW(bar.hwndMB, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(both, both));
  SetForegroundWindow(dlg);
  SetFocus(GetDlgItem(dlg, kName));
  UpdateWindow(dlg);
  for (auto [name, id] : {std::pair{"press", kPress}, {"name", kName}, {"schedule", kSchedule}, {"menuhere", kMenuHere},
                          {"ok", IDOK}})
    LogRect(name, GetDlgItem(dlg, id));
  LogRect("bar", bar.hwndMB);
  Log("ready");
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(dlg, &m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  Log("exit");
  return 0;
}
