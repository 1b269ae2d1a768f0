// Makes a window take every key, so that the action key and Enter reach it
// even inside a dialog: its procedure is hooked, WM_GETDLGCODE answered with
// DLGC_WANTALLKEYS, everything else passed to the procedure it had.
#pragma once

#include "platform/windows/Windows.h"

class CVekActionKey {
 public:
  // False when the window does not exist or is hooked already.
  static bool Attach(plat::HWND window);

 private:
  static plat::LRESULT HookProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
};
