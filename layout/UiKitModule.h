// The module whose resources the toolkit loads, the default menu bar and the
// shell's menu bars made from that module's menus.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

// The default menu bar: its menu resource and soft-key commands.
constexpr plat::UINT kDefaultMenuBarId = 173;
constexpr int kDefaultLeftSoftKey = 2040;
constexpr int kDefaultRightSoftKey = 2042;

// Stores the module whose resources the toolkit loads, registers the shell's
// extra controls and sets the default menu bar. True.
bool InitUiKit(plat::HINSTANCE module);
plat::HINSTANCE GetUiKitModule();
plat::UINT GetDefaultMenuBarId();
int GetDefaultLeftSoftKey();
int GetDefaultRightSoftKey();

// The shell's menu bar of owner from a menu resource of the toolkit's module;
// null when it cannot be made.
plat::HWND CreateMenuBar(plat::HWND owner, plat::DWORD flags, plat::UINT menuId, int bitmapId, int bitmapCount,
                         plat::COLORREF background);
// The command id of the bar's button at index; -1 when there is none.
int GetToolbarButtonCommand(plat::HWND bar, int index);
