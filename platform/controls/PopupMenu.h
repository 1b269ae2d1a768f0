// Pop-up menus as the controls use them (the menu bar's soft keys).
#pragma once

#include "platform/windows/Menus.h"

namespace plat::ctl {

// TrackPopupMenuEx; opened by a key, the first item is highlighted at once.
int TrackMenu(HMENU menu, UINT flags, int x, int y, HWND owner, const TPMPARAMS* params, bool byKey);
// The menu window this thread shows at the top level, null when none.
HWND TrackedMenuWindow();

// A failure of a call, written where the device's messages go (standard error).
void ReportFailure(const char* call, const std::u16string& what);

}  // namespace plat::ctl
