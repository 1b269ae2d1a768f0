// The shell's menu bar ("aygshell.dll"): the bar of soft-key buttons at the
// foot of a program's window. A bar is a top-level window of the class
// "menu_worker" owned by the program's window; each button has a command id,
// a text, a state, a style and a value of the program (a drop-down button
// holds the pop-up menu it opens). It answers the toolbar messages below and
// the SHCMBM_ messages.
//
// The bar is drawn across the foot of the screen: its visible buttons share
// the width (the first two are the soft keys), disabled ones grey, checked or
// pressed ones highlighted, a drop-down button marked with a small arrow; a
// change by a TB_ message shows at once. A tap on a button (or the device's
// soft keys, F1 for the first button and F2 for the second) opens its pop-up
// menu above the bar (WM_INITMENUPOPUP, then WM_COMMAND of the chosen item to
// the owner) or sends its command as WM_COMMAND to the owner; the soft key
// pressed again while its menu is open closes it. With SHCMBM_OVERRIDEKEY the
// Back key (VK_TBACK) reaches the owner as WM_HOTKEY (SHMBOF_NOTIFY) instead
// of going to the focus window (SHMBOF_NODEFAULT); while a pop-up is open the
// Back key closes it.
//
// "aygshell.dll" is a module built into every program: ordinal 188 is
// SHFindMenuBar; SHCreateMenuBar and SHFindMenuBar are also found by name.
#pragma once

#include "platform/windows/Menus.h"
#include "platform/windows/Windows.h"

namespace plat {

inline const WCHAR* const kMenuBarClassName = u"menu_worker";

// Buttons.
constexpr BYTE TBSTATE_CHECKED = 0x01;
constexpr BYTE TBSTATE_PRESSED = 0x02;
constexpr BYTE TBSTATE_ENABLED = 0x04;
constexpr BYTE TBSTATE_HIDDEN = 0x08;
constexpr BYTE TBSTYLE_BUTTON = 0x00;
constexpr BYTE TBSTYLE_SEP = 0x01;
constexpr BYTE TBSTYLE_CHECK = 0x02;
constexpr BYTE TBSTYLE_GROUP = 0x04;
constexpr BYTE TBSTYLE_DROPDOWN = 0x08;
constexpr BYTE TBSTYLE_AUTOSIZE = 0x10;
constexpr BYTE TBSTYLE_NOPREFIX = 0x20;
constexpr int I_IMAGENONE = -2;

struct TBBUTTON {
  int iBitmap;
  int idCommand;
  BYTE fsState;
  BYTE fsStyle;
  BYTE bReserved[6];
  DWORD_PTR dwData;
  // The button's text: a pointer to it (values below 0x10000 give no text).
  INT_PTR iString;
};

constexpr DWORD TBIF_IMAGE = 0x00000001;
constexpr DWORD TBIF_TEXT = 0x00000002;
constexpr DWORD TBIF_STATE = 0x00000004;
constexpr DWORD TBIF_STYLE = 0x00000008;
constexpr DWORD TBIF_LPARAM = 0x00000010;
constexpr DWORD TBIF_COMMAND = 0x00000020;
constexpr DWORD TBIF_SIZE = 0x00000040;
// wParam of TB_GETBUTTONINFOW / TB_SETBUTTONINFOW is an index, not a command id.
constexpr DWORD TBIF_BYINDEX = 0x80000000;

struct TBBUTTONINFOW {
  UINT cbSize;  // sizeof(TBBUTTONINFOW)
  DWORD dwMask;
  int idCommand;
  int iImage;
  BYTE fsState;
  BYTE fsStyle;
  WORD cx;
  DWORD_PTR lParam;
  WCHAR* pszText;  // get: a buffer of cchText characters (text cut to cchText - 1)
  int cchText;
};

// Toolbar messages of the bar. "id" is a command id; the first button with
// it is meant.
constexpr UINT TB_ENABLEBUTTON = WM_USER + 1;     // wParam id, LOWORD(lParam) on
constexpr UINT TB_CHECKBUTTON = WM_USER + 2;      // wParam id, LOWORD(lParam) on
constexpr UINT TB_PRESSBUTTON = WM_USER + 3;      // wParam id, LOWORD(lParam) on
constexpr UINT TB_HIDEBUTTON = WM_USER + 4;       // wParam id, LOWORD(lParam) on
constexpr UINT TB_ISBUTTONENABLED = WM_USER + 9;  // wParam id
constexpr UINT TB_SETSTATE = WM_USER + 17;        // wParam id, LOWORD(lParam) state
constexpr UINT TB_GETSTATE = WM_USER + 18;        // wParam id; -1 for none
constexpr UINT TB_DELETEBUTTON = WM_USER + 22;    // wParam index
constexpr UINT TB_GETBUTTON = WM_USER + 23;       // wParam index, lParam TBBUTTON*
constexpr UINT TB_BUTTONCOUNT = WM_USER + 24;
constexpr UINT TB_COMMANDTOINDEX = WM_USER + 25;  // wParam id; -1 for none
constexpr UINT TB_GETBUTTONINFOW = WM_USER + 63;  // wParam id or index, lParam TBBUTTONINFOW*; the index or -1
constexpr UINT TB_SETBUTTONINFOW = WM_USER + 64;  // wParam id or index, lParam const TBBUTTONINFOW*
constexpr UINT TB_INSERTBUTTONW = WM_USER + 67;   // wParam index, lParam const TBBUTTON*
constexpr UINT TB_ADDBUTTONSW = WM_USER + 68;     // wParam count, lParam const TBBUTTON[count]
constexpr UINT TB_GETBUTTONTEXTW = WM_USER + 75;  // wParam id, lParam buffer (null: the length); the length or -1

// Menu-bar messages.
constexpr UINT SHCMBM_SETSUBMENU = WM_USER + 400;  // wParam id, lParam HMENU; the previous one
constexpr UINT SHCMBM_GETSUBMENU = WM_USER + 401;  // lParam id; the menu the button opens
constexpr UINT SHCMBM_GETMENU = WM_USER + 402;     // the menu the bar was made from

constexpr UINT SHCMBM_OVERRIDEKEY = WM_USER + 403;  // wParam key, lParam MAKELPARAM(mask, values) of SHMBOF_
constexpr WORD SHMBOF_NODEFAULT = 0x0001;  // the key does not do what it would do without the bar
constexpr WORD SHMBOF_NOTIFY = 0x0002;     // the owner gets WM_HOTKEY for the key
// The device's keys.
constexpr UINT VK_TBACK = 0x1B;  // Back (escape)
constexpr UINT VK_TSOFT1 = 0x70;  // left soft key (F1)
constexpr UINT VK_TSOFT2 = 0x71;  // right soft key (F2)
// WM_HOTKEY to the bar's owner: wParam 0, lParam MAKELPARAM(modifiers, key),
// modifiers MOD_KEYUP for the key's release.
constexpr UINT WM_HOTKEY = 0x0312;
constexpr WORD MOD_KEYUP = 0x1000;

// SHMENUBARINFO.dwFlags
constexpr DWORD SHCMBF_EMPTYBAR = 0x0001;  // no buttons
constexpr DWORD SHCMBF_HIDDEN = 0x0002;
constexpr DWORD SHCMBF_HIDESIPBUTTON = 0x0004;
constexpr DWORD SHCMBF_COLORBK = 0x0008;
// nToolBarId names a MENU resource of hInstRes: each item of its top level
// becomes a button (a pop-up item a drop-down button holding its pop-up menu,
// with command id kMenuBarFirstPopupId + position; an item its own id).
constexpr DWORD SHCMBF_HMENU = 0x0010;
constexpr int kMenuBarFirstPopupId = 0xF000;

struct SHMENUBARINFO {
  DWORD cbSize;  // sizeof(SHMENUBARINFO)
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;  // out: the bar
  COLORREF clrBk;
};

// Makes the bar of a window at the foot of the screen. Without SHCMBF_EMPTYBAR
// or SHCMBF_HMENU, nToolBarId names a bar resource of hInstRes (RCDATA of
// 16-bit words): the id of its MENU resource (0: none), the button count, and
// per button its image, command id, state, style, string resource id of its
// text, 0, and the position in the menu's top level of the pop-up menu it
// opens (0xFFFF: none). The bar destroys the menu it loaded with itself;
// buttons added later keep the menus they hold. FALSE with
// ERROR_INVALID_PARAMETER for a wrong cbSize or window or a malformed bar
// resource, else the error of FindResourceW or LoadMenuW.
BOOL SHCreateMenuBar(SHMENUBARINFO* info);
// The bar owned by the window (a top-level window of this process), or null.
HWND SHFindMenuBar(HWND hwnd);

// The procedure of the "menu_worker" class.
LRESULT MenuBarWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Makes "aygshell.dll" loadable again after a test replaced it.
void RegisterShellModule();

}  // namespace plat
