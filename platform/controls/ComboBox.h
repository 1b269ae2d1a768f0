// The standard combo box, window class "combobox" (dialog item atom 0x85):
// a list of texts, each with a value of the program, and the current
// selection. It keeps its items and answers the CB_ messages; a window class
// can take its procedure (GetClassInfoW) and register a superclass.
//
// The window text follows the selection: selecting an item sets it, clearing
// the selection empties it.
//
// Drawn at the screen's DPI: a framed field showing the selection (the
// editable kind holds an "edit" child instead) and a drop button. The window
// is as tall as the field; the height it was made with, less the field, is
// the height of its drop list. Tapping the field of a drop-down list or the
// drop button (or the action key, F4) drops the list down below the field
// (above it when there is no room): CBN_DROPDOWN first (CB_SHOWDROPDOWN FALSE
// from its handler keeps the list closed), then the list takes the stylus and
// the keys: a tap on an item selects it (CBN_SELCHANGE, CBN_SELENDOK), a tap
// outside or escape closes it (CBN_SELENDCANCEL); CBN_CLOSEUP always follows.
// Up and down on a closed drop-down list select the next item and send
// CBN_SELCHANGE. The editable kind (CBS_DROPDOWN, and a style with neither
// drop-down kind) sends CBN_EDITCHANGE / CBN_EDITUPDATE for its edit's
// changes. A combo box destroyed while its list is open closes the list.
#pragma once

#include "platform/windows/Windows.h"

namespace plat {

inline const WCHAR* const WC_COMBOBOXW = u"combobox";

constexpr DWORD CBS_SIMPLE = 0x0001;
constexpr DWORD CBS_DROPDOWN = 0x0002;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
constexpr DWORD CBS_AUTOHSCROLL = 0x0040;
// Added texts are kept in order, ignoring case (CB_INSERTSTRING does not sort).
constexpr DWORD CBS_SORT = 0x0100;

constexpr LRESULT CB_OKAY = 0;
constexpr LRESULT CB_ERR = -1;
constexpr LRESULT CB_ERRSPACE = -2;

// wParam / lParam and results as the platform has them: indexes are
// zero-based, CB_ERR answers a bad index.
constexpr UINT CB_GETEDITSEL = 0x0140;
constexpr UINT CB_LIMITTEXT = 0x0141;
constexpr UINT CB_SETEDITSEL = 0x0142;
constexpr UINT CB_ADDSTRING = 0x0143;       // lParam text; the new index
constexpr UINT CB_DELETESTRING = 0x0144;    // wParam index; the count left
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;       // CB_ERR when nothing is selected
constexpr UINT CB_GETLBTEXT = 0x0148;       // wParam index, lParam buffer; the length
constexpr UINT CB_GETLBTEXTLEN = 0x0149;    // wParam index; the length without the null
constexpr UINT CB_INSERTSTRING = 0x014A;    // wParam index (-1: the end), lParam text; the index
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_FINDSTRING = 0x014C;      // wParam index to start after (-1: all), lParam prefix
constexpr UINT CB_SELECTSTRING = 0x014D;    // as CB_FINDSTRING, and selects what it found
constexpr UINT CB_SETCURSEL = 0x014E;       // wParam index (-1: none); CB_ERR for none or a bad index
constexpr UINT CB_GETITEMDATA = 0x0150;     // wParam index
constexpr UINT CB_SETITEMDATA = 0x0151;     // wParam index, lParam value
constexpr UINT CB_SETITEMHEIGHT = 0x0153;   // wParam -1 (the selection field) or an item, lParam the height
constexpr UINT CB_GETITEMHEIGHT = 0x0154;   // wParam -1 or an item; the height
constexpr UINT CB_FINDSTRINGEXACT = 0x0158; // as CB_FINDSTRING, the whole text ignoring case
constexpr UINT CB_SHOWDROPDOWN = 0x014F;    // wParam TRUE opens the list, FALSE closes it
constexpr UINT CB_GETDROPPEDCONTROLRECT = 0x0152;  // lParam RECT* (screen) of the list
constexpr UINT CB_GETDROPPEDSTATE = 0x0157;

// Notifications (WM_COMMAND to the parent).
constexpr WORD CBN_ERRSPACE = static_cast<WORD>(-1);
constexpr WORD CBN_SELCHANGE = 1;
constexpr WORD CBN_DBLCLK = 2;
constexpr WORD CBN_SETFOCUS = 3;
constexpr WORD CBN_KILLFOCUS = 4;
constexpr WORD CBN_EDITCHANGE = 5;
constexpr WORD CBN_EDITUPDATE = 6;
constexpr WORD CBN_DROPDOWN = 7;
constexpr WORD CBN_CLOSEUP = 8;
constexpr WORD CBN_SELENDOK = 9;
constexpr WORD CBN_SELENDCANCEL = 10;
// The id of the editable kind's "edit" child.
constexpr int kComboEditId = 1001;

// The procedure of the "combobox" class.
LRESULT ComboBoxWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace plat
