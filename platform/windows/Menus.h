// Menus: menus and pop-up menus of items (strings, separators, sub-menus),
// built in code or loaded from MENU resources, read and changed by position
// or by command id.
//
// A menu handle is a number of this process; a handle that names no live menu
// (a destroyed one, or any other value) fails every call with
// ERROR_INVALID_MENU_HANDLE instead of being followed. Menus are shared by
// the threads of the process under one lock. A menu cannot become a sub-menu
// of itself or of one of its own sub-menus.
#pragma once

#include <cstdint>

#include "platform/base/Module.h"
#include "platform/base/Types.h"
#include "platform/windows/Windows.h"

namespace plat {

using ULONG_PTR = std::uintptr_t;

constexpr DWORD ERROR_INVALID_MENU_HANDLE = 1401;
constexpr DWORD ERROR_MENU_ITEM_NOT_FOUND = 1456;

// Flags of AppendMenuW, InsertMenuW, ModifyMenuW, RemoveMenu, DeleteMenu,
// EnableMenuItem and CheckMenuItem.
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_BITMAP = 0x0004;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_MENUBARBREAK = 0x0020;
constexpr UINT MF_MENUBREAK = 0x0040;
constexpr UINT MF_END = 0x0080;  // templates only: the last item of a level
constexpr UINT MF_OWNERDRAW = 0x0100;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_HELP = 0x4000;

// MENUITEMINFOW.fMask
constexpr UINT MIIM_STATE = 0x0001;
constexpr UINT MIIM_ID = 0x0002;
constexpr UINT MIIM_SUBMENU = 0x0004;
constexpr UINT MIIM_CHECKMARKS = 0x0008;
constexpr UINT MIIM_TYPE = 0x0010;  // fType and the text together
constexpr UINT MIIM_DATA = 0x0020;
constexpr UINT MIIM_STRING = 0x0040;  // the text alone
constexpr UINT MIIM_FTYPE = 0x0100;   // fType alone
// MENUITEMINFOW.fType
constexpr UINT MFT_STRING = 0x0000;
constexpr UINT MFT_BITMAP = 0x0004;
constexpr UINT MFT_MENUBARBREAK = 0x0020;
constexpr UINT MFT_MENUBREAK = 0x0040;
constexpr UINT MFT_OWNERDRAW = 0x0100;
constexpr UINT MFT_RADIOCHECK = 0x0200;
constexpr UINT MFT_SEPARATOR = 0x0800;
constexpr UINT MFT_RIGHTORDER = 0x2000;
constexpr UINT MFT_RIGHTJUSTIFY = 0x4000;
// MENUITEMINFOW.fState
constexpr UINT MFS_ENABLED = 0x0000;
constexpr UINT MFS_UNCHECKED = 0x0000;
constexpr UINT MFS_GRAYED = 0x0003;
constexpr UINT MFS_DISABLED = 0x0003;
constexpr UINT MFS_CHECKED = 0x0008;
constexpr UINT MFS_HILITE = 0x0080;
constexpr UINT MFS_DEFAULT = 0x1000;

struct MENUITEMINFOW {
  UINT cbSize;  // sizeof(MENUITEMINFOW)
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  // The text of a string item (MIIM_TYPE, MIIM_STRING); for bitmap and
  // owner-drawn items the value kept with the item.
  WCHAR* dwTypeData;
  // In: the size of dwTypeData in characters. Out: the length copied (without
  // the null), or the whole text's length when dwTypeData is null.
  UINT cch;
};

HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys the menu and, with it, the sub-menus of its items.
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);

// flags: MF_STRING (text), MF_SEPARATOR, MF_POPUP (idOrPopup is the sub-menu),
// MF_BITMAP / MF_OWNERDRAW (text is the value kept), with MF_GRAYED,
// MF_DISABLED, MF_CHECKED, MF_MENUBREAK, MF_MENUBARBREAK.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, const WCHAR* text);
// Before the item at position (MF_BYPOSITION; -1 or the count appends) or
// before the item with the command id.
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, const WCHAR* text);
// Replaces the item; a sub-menu it opened and no longer opens is destroyed.
BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, const WCHAR* text);
// Takes the item out; its sub-menu stays alive (RemoveMenu) or is destroyed (DeleteMenu).
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);

// item: a position (byPosition) or a command id, looked for through the
// sub-menus as well. Fails with ERROR_MENU_ITEM_NOT_FOUND when there is no
// such item, ERROR_INVALID_PARAMETER for a wrong cbSize.
BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info);
BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOW* info);
BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info);

// -1 for an invalid menu.
int GetMenuItemCount(HMENU menu);
// The command id of the item at the position; 0xFFFFFFFF for a sub-menu item or none.
UINT GetMenuItemID(HMENU menu, int position);
// The sub-menu of the item at the position; null when it opens none.
HMENU GetSubMenu(HMENU menu, int position);
// The previous state (MF_GRAYED / MF_DISABLED, MF_CHECKED), or 0xFFFFFFFF
// when there is no such item.
UINT EnableMenuItem(HMENU menu, UINT item, UINT flags);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);

// ---------------------------------------------------------------------------
// Pop-up menus shown and tracked (drawn by platform/controls/PopupMenu.cpp)

constexpr UINT WM_INITMENUPOPUP = 0x0117;  // wParam the menu, LOWORD(lParam) its position in its parent

constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_CENTERALIGN = 0x0004;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_VCENTERALIGN = 0x0010;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;
constexpr UINT TPM_HORIZONTAL = 0x0000;
constexpr UINT TPM_VERTICAL = 0x0040;
constexpr UINT TPM_NONOTIFY = 0x0080;  // no WM_INITMENUPOPUP, no WM_COMMAND
constexpr UINT TPM_RETURNCMD = 0x0100;  // the chosen command is returned, not sent

struct TPMPARAMS {
  UINT cbSize;  // sizeof(TPMPARAMS)
  RECT rcExclude;  // screen area the menu must not cover (placed beside it)
};

// Shows the pop-up menu at the screen point (x, y) aligned by the flags,
// kept on the screen, and tracks it until an item is chosen or the menu is
// dismissed: the stylus picks an item (a tap outside dismisses), arrows move,
// return chooses or opens a cascade, left and escape close a level.
// WM_INITMENUPOPUP goes to the owner before each level opens. The chosen
// command: returned with TPM_RETURNCMD (0 when none), else posted to the owner
// as WM_COMMAND (not with TPM_NONOTIFY) and the result is TRUE. Greyed and
// disabled items cannot be chosen. The menu ends cleanly (result 0) when the
// owner is destroyed, another window takes the stylus or EndMenu is called.
// FALSE for an invalid menu (ERROR_INVALID_MENU_HANDLE), an owner that is no
// window of this thread (ERROR_INVALID_WINDOW_HANDLE), or while another menu
// of the thread is open.
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, const TPMPARAMS* params);
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* ignored);
// Closes the menu this thread is tracking, as if dismissed.
BOOL EndMenu();

// A menu from a MENU template (the header, then the items; MF_POPUP items are
// followed by their own items, MF_END marks the last item of a level; an item
// with no flags, id and text is a separator). Null with
// ERROR_INVALID_PARAMETER for a malformed template.
HMENU LoadMenuIndirectW(const void* menuTemplate);
// The same from the MENU resource of the module; size-checked.
HMENU LoadMenuW(HINSTANCE instance, const WCHAR* name);

}  // namespace plat
