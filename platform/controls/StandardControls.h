// The standard controls drawn with GDI at the screen's DPI: "static" (text,
// icon), "button" (push, default push, check boxes, radio buttons, group box)
// and the single-line "edit"; the system colours they and the programs use;
// the device's clipboard text.
//
// Controls ask their parent for colours as the platform does: the edit sends
// WM_CTLCOLOREDIT, statics, check boxes, radio buttons and group boxes send
// WM_CTLCOLORSTATIC, push buttons WM_CTLCOLORBTN (wParam the DC, lParam the
// control); a brush in the answer paints the background, the text colour set
// on the DC is kept.
#pragma once

#include <string>

#include "platform/resources/Resources.h"
#include "platform/windows/Windows.h"

namespace plat {

// ---------------------------------------------------------------------------
// System colours

constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_ACTIVECAPTION = 2;
constexpr int COLOR_MENU = 4;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWFRAME = 6;
constexpr int COLOR_MENUTEXT = 7;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_CAPTIONTEXT = 9;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_INFOTEXT = 23;
constexpr int COLOR_INFOBK = 24;
constexpr int COLOR_STATIC = 25;
constexpr int COLOR_STATICTEXT = 26;
// The handheld's calls may carry this flag on the index; it is ignored.
constexpr int SYS_COLOR_INDEX_FLAG = 0x40000000;
// 0 for an unknown index.
COLORREF GetSysColor(int index);
// A stock brush of the colour (never deleted by the caller); null for an
// unknown index.
HBRUSH GetSysColorBrush(int index);

// ---------------------------------------------------------------------------
// Statics

constexpr DWORD SS_LEFTNOWORDWRAP = 0x0000000C;
constexpr DWORD SS_ICON = 0x00000003;
constexpr DWORD SS_TYPEMASK = 0x0000001F;
constexpr DWORD SS_NOPREFIX = 0x00000080;
constexpr DWORD SS_NOTIFY = 0x00000100;
constexpr DWORD SS_CENTERIMAGE = 0x00000200;
constexpr UINT STM_SETICON = 0x0170;   // wParam the icon; the previous one
constexpr UINT STM_GETICON = 0x0171;
constexpr UINT STM_SETIMAGE = 0x0172;  // wParam IMAGE_ICON, lParam the icon
constexpr UINT STM_GETIMAGE = 0x0173;
constexpr WORD STN_CLICKED = 0;

// ---------------------------------------------------------------------------
// Buttons (BS_PUSHBUTTON … BS_AUTORADIOBUTTON and BM_* in Windows.h)

constexpr DWORD BS_3STATE = 0x5;
constexpr DWORD BS_AUTO3STATE = 0x6;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_OWNERDRAW = 0xB;
constexpr DWORD BS_LEFTTEXT = 0x20;
constexpr DWORD BS_MULTILINE = 0x2000;
constexpr DWORD BS_NOTIFY = 0x4000;
constexpr WPARAM BST_INDETERMINATE = 2;
constexpr WPARAM BST_FOCUS = 8;
constexpr WORD BN_SETFOCUS = 6;
constexpr WORD BN_KILLFOCUS = 7;

// ---------------------------------------------------------------------------
// The single-line edit

constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_CENTER = 0x0001;
constexpr DWORD ES_RIGHT = 0x0002;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_UPPERCASE = 0x0008;
constexpr DWORD ES_LOWERCASE = 0x0010;
constexpr DWORD ES_PASSWORD = 0x0020;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_NOHIDESEL = 0x0100;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_NUMBER = 0x2000;

constexpr UINT EM_GETSEL = 0x00B0;         // wParam/lParam DWORD* start/end; MAKELRESULT(start, end)
constexpr UINT EM_SETSEL = 0x00B1;         // wParam start, lParam end (-1: the end); start -1 removes it
constexpr UINT EM_SCROLLCARET = 0x00B7;
constexpr UINT EM_GETMODIFY = 0x00B8;
constexpr UINT EM_SETMODIFY = 0x00B9;
constexpr UINT EM_GETLINECOUNT = 0x00BA;
constexpr UINT EM_LINELENGTH = 0x00C1;
constexpr UINT EM_REPLACESEL = 0x00C2;     // lParam text
constexpr UINT EM_LIMITTEXT = 0x00C5;      // wParam the most characters (0: the largest)
constexpr UINT EM_SETLIMITTEXT = EM_LIMITTEXT;
constexpr UINT EM_SETPASSWORDCHAR = 0x00CC;
constexpr UINT EM_GETPASSWORDCHAR = 0x00D2;
constexpr UINT EM_SETREADONLY = 0x00CF;
constexpr UINT EM_GETLIMITTEXT = 0x00D5;
constexpr UINT WM_CUT = 0x0300;
constexpr UINT WM_COPY = 0x0301;
constexpr UINT WM_PASTE = 0x0302;
constexpr UINT WM_CLEAR = 0x0303;

constexpr WORD EN_SETFOCUS = 0x0100;
constexpr WORD EN_KILLFOCUS = 0x0200;
constexpr WORD EN_CHANGE = 0x0300;
constexpr WORD EN_UPDATE = 0x0400;
constexpr WORD EN_MAXTEXT = 0x0501;

// The limit of an edit with no EM_LIMITTEXT of its own.
constexpr UINT kEditDefaultLimit = 30000;

// ---------------------------------------------------------------------------
// The device's clipboard text: one text shared by every program of the
// device (a file of its run-time folder, written beside and renamed over).
// Not platform calls: the clipboard functions and the edit use them.
bool SetClipboardTextOfDevice(const std::u16string& text);
// False when the clipboard holds no text.
bool GetClipboardTextOfDevice(std::u16string* text);
// Leaves the clipboard without text.
bool RemoveClipboardTextOfDevice();

// The procedures of the classes (registered as built-in classes).
LRESULT StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT EditWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace plat
