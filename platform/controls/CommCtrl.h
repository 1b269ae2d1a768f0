// The common controls: image lists, the list view ("SysListView32"), the
// progress bar ("msctls_progress32"), the up-down control ("msctls_updown32"), the tab control ("SysTabControl32"),
// the tree view ("SysTreeView32"), the time picker ("SysDateTimePick32") and property sheets. InitCommonControls(Ex) registers the
// window classes (global, so dialog templates name them); calling it again
// does no harm.
#pragma once

#include "platform/base/Time.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

namespace plat {

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
constexpr DWORD ICC_LISTVIEW_CLASSES = 0x0001;
constexpr DWORD ICC_TREEVIEW_CLASSES = 0x0002;
constexpr DWORD ICC_TAB_CLASSES = 0x0008;
constexpr DWORD ICC_UPDOWN_CLASS = 0x0010;
constexpr DWORD ICC_PROGRESS_CLASS = 0x0020;
constexpr DWORD ICC_DATE_CLASSES = 0x0100;
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
void InitCommonControls();

// ---------------------------------------------------------------------------
// Image lists: images of one size, each with a mask (or per-pixel alpha).

struct ImageListData;
using HIMAGELIST = ImageListData*;

constexpr UINT ILC_MASK = 0x0001;
constexpr UINT ILC_COLOR = 0x0000;
constexpr UINT ILC_COLORDDB = 0x00FE;
constexpr UINT ILC_COLOR4 = 0x0004;
constexpr UINT ILC_COLOR8 = 0x0008;
constexpr UINT ILC_COLOR16 = 0x0010;
constexpr UINT ILC_COLOR24 = 0x0018;
constexpr UINT ILC_COLOR32 = 0x0020;

constexpr UINT ILD_NORMAL = 0x0000;
constexpr UINT ILD_TRANSPARENT = 0x0001;
constexpr UINT ILD_MASK = 0x0010;
constexpr UINT ILD_BLEND25 = 0x0002;
constexpr UINT ILD_BLEND50 = 0x0004;
constexpr UINT ILD_SELECTED = ILD_BLEND50;
constexpr UINT ILD_FOCUS = ILD_BLEND25;

constexpr COLORREF CLR_NONE = 0xFFFFFFFF;
constexpr COLORREF CLR_DEFAULT = 0xFF000000;

// cx × cy images; ILC_MASK keeps a mask for each. initial and grow only hint
// at the room kept. Null for a size that is not positive.
HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow);
BOOL ImageList_Destroy(HIMAGELIST list);
int ImageList_GetImageCount(HIMAGELIST list);
BOOL ImageList_GetIconSize(HIMAGELIST list, int* cx, int* cy);
// Cuts a strip (its width a multiple of cx; what is left over is dropped) into
// images appended to the list; the mask bitmap (1 = transparent) may be null.
// The index of the first new image, -1 on failure.
int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask);
// As ImageList_Add with the pixels of one colour transparent (CLR_NONE: none).
int ImageList_AddMasked(HIMAGELIST list, HBITMAP image, COLORREF mask);
// index -1 appends; an existing index is replaced. The icon is scaled to the
// list's size. The index, -1 on failure.
int ImageList_ReplaceIcon(HIMAGELIST list, int index, HICON icon);
inline int ImageList_AddIcon(HIMAGELIST list, HICON icon) { return ImageList_ReplaceIcon(list, -1, icon); }
// index -1 removes every image.
BOOL ImageList_Remove(HIMAGELIST list, int index);
inline BOOL ImageList_RemoveAll(HIMAGELIST list) { return ImageList_Remove(list, -1); }
// Draws an image with its transparency; ILD_SELECTED / ILD_FOCUS blend it
// with the highlight colour. FALSE for a bad index.
BOOL ImageList_Draw(HIMAGELIST list, int index, HDC hdc, int x, int y, UINT style);
// A new icon of one image (the caller destroys it); null for a bad index.
HICON ImageList_GetIcon(HIMAGELIST list, int index, UINT flags);
// A bitmap strip from the module's resources (IMAGE_BITMAP) cut into cx-wide
// images; mask CLR_NONE keeps every pixel, CLR_DEFAULT takes the colour of
// the top-left pixel as transparent.
HIMAGELIST ImageList_LoadImage(HINSTANCE module, const WCHAR* name, int cx, int grow, COLORREF mask, UINT type,
                               UINT flags);
inline HIMAGELIST ImageList_LoadBitmap(HINSTANCE module, const WCHAR* name, int cx, int grow, COLORREF mask) {
  return ImageList_LoadImage(module, name, cx, grow, mask, 0, 0);
}

// ---------------------------------------------------------------------------
// Common notifications (WM_NOTIFY codes).

constexpr UINT NM_FIRST = 0u;
constexpr UINT NM_CLICK = NM_FIRST - 2;
constexpr UINT NM_DBLCLK = NM_FIRST - 3;
constexpr UINT NM_RETURN = NM_FIRST - 4;
constexpr UINT NM_SETFOCUS = NM_FIRST - 7;
constexpr UINT NM_KILLFOCUS = NM_FIRST - 8;
constexpr UINT NM_CUSTOMDRAW = NM_FIRST - 12;

// ---------------------------------------------------------------------------
// List view: report view of items with a text, a small icon, a state image
// (check boxes) and a value of the program. Only the first column is shown.

inline const WCHAR* const WC_LISTVIEWW = u"SysListView32";

constexpr DWORD LVS_ICON = 0x0000;
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_SMALLICON = 0x0002;
constexpr DWORD LVS_LIST = 0x0003;
constexpr DWORD LVS_TYPEMASK = 0x0003;
constexpr DWORD LVS_SINGLESEL = 0x0004;
constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
constexpr DWORD LVS_SORTASCENDING = 0x0010;
constexpr DWORD LVS_SHAREIMAGELISTS = 0x0040;
constexpr DWORD LVS_NOLABELWRAP = 0x0080;
constexpr DWORD LVS_OWNERDATA = 0x1000;
constexpr DWORD LVS_NOCOLUMNHEADER = 0x4000;
constexpr DWORD LVS_NOSORTHEADER = 0x8000;

constexpr DWORD LVS_EX_CHECKBOXES = 0x0004;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x0020;

constexpr UINT LVIF_TEXT = 0x0001;
constexpr UINT LVIF_IMAGE = 0x0002;
constexpr UINT LVIF_PARAM = 0x0004;
constexpr UINT LVIF_STATE = 0x0008;

constexpr UINT LVIS_FOCUSED = 0x0001;
constexpr UINT LVIS_SELECTED = 0x0002;
constexpr UINT LVIS_STATEIMAGEMASK = 0xF000;
constexpr UINT INDEXTOSTATEIMAGEMASK(UINT i) { return i << 12; }

constexpr int LVNI_ALL = 0x0000;
constexpr int LVNI_FOCUSED = 0x0001;
constexpr int LVNI_SELECTED = 0x0002;
constexpr int LVNI_ABOVE = 0x0100;
constexpr int LVNI_BELOW = 0x0200;

constexpr UINT LVHT_NOWHERE = 0x0001;
constexpr UINT LVHT_ONITEMICON = 0x0002;
constexpr UINT LVHT_ONITEMLABEL = 0x0004;
constexpr UINT LVHT_ONITEMSTATEICON = 0x0008;
constexpr UINT LVHT_ONITEM = LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON;
constexpr UINT LVHT_ABOVE = 0x0010;
constexpr UINT LVHT_BELOW = 0x0020;

constexpr int LVSIL_NORMAL = 0;
constexpr int LVSIL_SMALL = 1;
constexpr int LVSIL_STATE = 2;

constexpr int LVSCW_AUTOSIZE = -1;
constexpr int LVSCW_AUTOSIZE_USEHEADER = -2;

constexpr UINT LVCF_FMT = 0x0001;
constexpr UINT LVCF_WIDTH = 0x0002;
constexpr UINT LVCF_TEXT = 0x0004;

struct LVITEMW {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  WCHAR* pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
  int iIndent;
};
struct LVCOLUMNW {
  UINT mask;
  int fmt;
  int cx;
  WCHAR* pszText;
  int cchTextMax;
  int iSubItem;
};
struct LVHITTESTINFO {
  POINT pt;
  UINT flags;
  int iItem;
  int iSubItem;
};
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
};
struct NMITEMACTIVATE {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
  UINT uKeyFlags;
};
struct NMLVKEYDOWN {
  NMHDR hdr;
  WORD wVKey;
  UINT flags;
};
constexpr UINT LVM_FIRST = 0x1000;
constexpr UINT LVM_GETBKCOLOR = LVM_FIRST + 0;
constexpr UINT LVM_SETBKCOLOR = LVM_FIRST + 1;
constexpr UINT LVM_GETIMAGELIST = LVM_FIRST + 2;  // wParam LVSIL_*
constexpr UINT LVM_SETIMAGELIST = LVM_FIRST + 3;  // wParam LVSIL_*, lParam list; the old list
constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
constexpr UINT LVM_DELETEITEM = LVM_FIRST + 8;
constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;  // wParam start (-1: from the top), lParam LVNI_*
constexpr UINT LVM_GETITEMRECT = LVM_FIRST + 14;  // wParam index, lParam RECT (left: LVIR_*)
constexpr UINT LVM_HITTEST = LVM_FIRST + 18;      // lParam LVHITTESTINFO; the item or -1
constexpr UINT LVM_ENSUREVISIBLE = LVM_FIRST + 19;
constexpr UINT LVM_SCROLL = LVM_FIRST + 20;       // lParam dy in pixels
constexpr UINT LVM_REDRAWITEMS = LVM_FIRST + 21;
constexpr UINT LVM_GETCOLUMNWIDTH = LVM_FIRST + 29;
constexpr UINT LVM_SETCOLUMNWIDTH = LVM_FIRST + 30;  // wParam column, lParam width (or LVSCW_*)
constexpr UINT LVM_GETTOPINDEX = LVM_FIRST + 39;
constexpr UINT LVM_GETCOUNTPERPAGE = LVM_FIRST + 40;
constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;  // wParam index (-1: all), lParam LVITEMW
constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;  // wParam index, lParam mask
constexpr UINT LVM_SETITEMCOUNT = LVM_FIRST + 47;
constexpr UINT LVM_GETSELECTEDCOUNT = LVM_FIRST + 50;
constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;  // wParam mask (0: all), lParam styles
constexpr UINT LVM_GETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 55;
constexpr UINT LVM_GETITEMW = LVM_FIRST + 75;
constexpr UINT LVM_SETITEMW = LVM_FIRST + 76;
constexpr UINT LVM_INSERTITEMW = LVM_FIRST + 77;  // the new index, -1 on failure
constexpr UINT LVM_FINDITEMW = LVM_FIRST + 83;
constexpr UINT LVM_INSERTCOLUMNW = LVM_FIRST + 97;
constexpr UINT LVM_SETITEMTEXTW = LVM_FIRST + 116;
constexpr UINT LVM_GETITEMTEXTW = LVM_FIRST + 115;

constexpr int LVIR_BOUNDS = 0;
constexpr int LVIR_ICON = 1;
constexpr int LVIR_LABEL = 2;

constexpr UINT LVN_FIRST = static_cast<UINT>(-100);
constexpr UINT LVN_ITEMCHANGING = LVN_FIRST - 0;
constexpr UINT LVN_ITEMCHANGED = LVN_FIRST - 1;
constexpr UINT LVN_INSERTITEM = LVN_FIRST - 2;
constexpr UINT LVN_DELETEITEM = LVN_FIRST - 3;
constexpr UINT LVN_DELETEALLITEMS = LVN_FIRST - 4;
constexpr UINT LVN_ITEMACTIVATE = LVN_FIRST - 14;
constexpr UINT LVN_KEYDOWN = LVN_FIRST - 55;

// The action key of the device's navigation pad.
constexpr UINT VK_ACTION = 0x86;

LRESULT ListViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------
// Progress bar.

inline const WCHAR* const PROGRESS_CLASSW = u"msctls_progress32";

constexpr UINT PBM_SETRANGE = WM_USER + 1;    // lParam MAKELPARAM(min, max); the old range
constexpr UINT PBM_SETPOS = WM_USER + 2;      // wParam position; the old position
constexpr UINT PBM_DELTAPOS = WM_USER + 3;    // wParam step
constexpr UINT PBM_SETSTEP = WM_USER + 4;
constexpr UINT PBM_STEPIT = WM_USER + 5;
constexpr UINT PBM_SETRANGE32 = WM_USER + 6;  // wParam min, lParam max
constexpr UINT PBM_GETRANGE = WM_USER + 7;    // wParam TRUE: the low end, else the high end
constexpr UINT PBM_GETPOS = WM_USER + 8;

LRESULT ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace plat

namespace plat {

// ---------------------------------------------------------------------------
// Tab control: a row of tabs (TCS_BOTTOM: below the pages, as on the device).

inline const WCHAR* const WC_TABCONTROLW = u"SysTabControl32";
constexpr DWORD TCS_BOTTOM = 0x0002;

constexpr UINT TCIF_TEXT = 0x0001;
constexpr UINT TCIF_PARAM = 0x0008;
struct TCITEMW {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR* pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};

constexpr UINT TCM_FIRST = 0x1300;
constexpr UINT TCM_GETITEMCOUNT = TCM_FIRST + 4;
constexpr UINT TCM_DELETEITEM = TCM_FIRST + 8;
constexpr UINT TCM_DELETEALLITEMS = TCM_FIRST + 9;
constexpr UINT TCM_GETITEMRECT = TCM_FIRST + 10;  // wParam index, lParam RECT
constexpr UINT TCM_GETCURSEL = TCM_FIRST + 11;
constexpr UINT TCM_SETCURSEL = TCM_FIRST + 12;  // no notification; the old selection or -1
constexpr UINT TCM_GETITEMW = TCM_FIRST + 60;
constexpr UINT TCM_SETITEMW = TCM_FIRST + 61;
constexpr UINT TCM_INSERTITEMW = TCM_FIRST + 62;  // the new index, -1 on failure

constexpr UINT TCN_FIRST = static_cast<UINT>(-550);
constexpr UINT TCN_SELCHANGE = TCN_FIRST - 1;
constexpr UINT TCN_SELCHANGING = TCN_FIRST - 2;  // a non-zero answer keeps the selection

LRESULT TabControlWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------
// Property sheets: modal, full-screen, pages as child dialogs above the tabs.

struct PageData;
using HPROPSHEETPAGE = PageData*;
struct PROPSHEETPAGEW;
using LPFNPSPCALLBACKW = UINT (*)(HWND hwnd, UINT msg, PROPSHEETPAGEW* page);

constexpr DWORD PSP_DEFAULT = 0x0000;
constexpr DWORD PSP_DLGINDIRECT = 0x0001;  // pResource holds the template (built in code)
constexpr DWORD PSP_USETITLE = 0x0008;
constexpr DWORD PSP_USECALLBACK = 0x0080;

struct PROPSHEETPAGEW {
  DWORD dwSize;
  DWORD dwFlags;
  HINSTANCE hInstance;
  const WCHAR* pszTemplate;         // a DIALOG resource of hInstance
  const DLGTEMPLATE* pResource;     // with PSP_DLGINDIRECT
  const WCHAR* pszTitle;            // with PSP_USETITLE; else the template's caption
  DLGPROC pfnDlgProc;
  LPARAM lParam;                    // WM_INITDIALOG's lParam points to (a copy of) this structure
  LPFNPSPCALLBACKW pfnCallback;     // PSPCB_CREATE (refuse with 0) and PSPCB_RELEASE
};
constexpr UINT PSPCB_RELEASE = 1;
constexpr UINT PSPCB_CREATE = 2;

HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* page);
// For a page never handed to a sheet (a sheet destroys its pages itself).
BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page);

using PFNPROPSHEETCALLBACK = int (*)(HWND hwnd, UINT msg, LPARAM lParam);
constexpr DWORD PSH_PROPSHEETPAGE = 0x0008;  // ppsp instead of phpage
constexpr DWORD PSH_USECALLBACK = 0x0100;
constexpr DWORD PSH_MAXIMIZE = 0x2000;       // taken; sheets are always full-screen

// Sheet callback messages.
constexpr UINT PSCB_INITIALIZED = 1;   // the sheet window exists, pages not yet made
constexpr UINT PSCB_PRECREATE = 2;     // lParam the sheet's template (may be changed)
constexpr UINT PSCB_GETVERSION = 3;    // the answer is the version the program is written for
constexpr UINT PSCB_GETTITLE = 4;      // lParam a buffer of 40 characters for the title
constexpr UINT PSCB_GETLINKTEXT = 5;   // lParam a buffer of 200 characters for the link text
constexpr int kSheetTitleChars = 40;
constexpr int kSheetLinkChars = 200;

struct PROPSHEETHEADERW {
  DWORD dwSize;
  DWORD dwFlags;
  HWND hwndParent;
  HINSTANCE hInstance;
  const WCHAR* pszCaption;
  UINT nPages;
  UINT nStartPage;
  const PROPSHEETPAGEW* ppsp;  // with PSH_PROPSHEETPAGE
  HPROPSHEETPAGE* phpage;
  PFNPROPSHEETCALLBACK pfnCallback;
};

// Runs the sheet modally: 1 when it was applied (Done), 0 when cancelled,
// -1 on failure.
INT_PTR PropertySheetW(const PROPSHEETHEADERW* header);

// Notifications to the pages (WM_NOTIFY, the sheet as sender). A page answers
// by DWL_MSGRESULT.
struct PSHNOTIFY {
  NMHDR hdr;
  LPARAM lParam;
};
constexpr UINT PSN_FIRST = static_cast<UINT>(-200);
constexpr UINT PSN_SETACTIVE = PSN_FIRST - 0;   // -1 refuses to be shown
constexpr UINT PSN_KILLACTIVE = PSN_FIRST - 1;  // TRUE keeps the page (its data is not valid)
constexpr UINT PSN_APPLY = PSN_FIRST - 2;       // PSNRET_*
constexpr UINT PSN_RESET = PSN_FIRST - 3;       // cancelled
constexpr UINT PSN_HELP = PSN_FIRST - 5;
constexpr UINT PSN_QUERYCANCEL = PSN_FIRST - 9;  // TRUE keeps the sheet open
constexpr LRESULT PSNRET_NOERROR = 0;
constexpr LRESULT PSNRET_INVALID = 1;
constexpr LRESULT PSNRET_INVALID_NOCHANGEPAGE = 2;

// Messages to the sheet.
constexpr UINT PSM_SETCURSEL = WM_USER + 101;          // wParam index; TRUE when shown
constexpr UINT PSM_CHANGED = WM_USER + 104;            // wParam the page
constexpr UINT PSM_UNCHANGED = WM_USER + 109;
constexpr UINT PSM_PRESSBUTTON = WM_USER + 113;        // wParam PSBTN_*
constexpr UINT PSM_GETTABCONTROL = WM_USER + 116;
constexpr UINT PSM_GETCURRENTPAGEHWND = WM_USER + 118;
constexpr UINT PSM_INDEXTOHWND = WM_USER + 130;        // wParam index; null when the page is not made
constexpr WPARAM PSBTN_OK = 1;
constexpr WPARAM PSBTN_CANCEL = 5;
constexpr WPARAM PSBTN_HELP = 6;

}  // namespace plat

namespace plat {

// ---------------------------------------------------------------------------
// Up-down control: two arrow buttons that step a position within a range,
// shown in an integer buddy edit.

inline const WCHAR* const UPDOWN_CLASSW = u"msctls_updown32";

constexpr DWORD UDS_WRAP = 0x0001;
constexpr DWORD UDS_SETBUDDYINT = 0x0002;
constexpr DWORD UDS_ALIGNRIGHT = 0x0004;
constexpr DWORD UDS_ALIGNLEFT = 0x0008;
constexpr DWORD UDS_AUTOBUDDY = 0x0010;  // the window before it in z-order
constexpr DWORD UDS_ARROWKEYS = 0x0020;  // up and down in the buddy step the position
constexpr DWORD UDS_HORZ = 0x0040;       // arrows side by side (left decreases)
constexpr DWORD UDS_NOTHOUSANDS = 0x0080;

constexpr UINT UDM_SETRANGE = WM_USER + 101;    // lParam MAKELPARAM(max, min)
constexpr UINT UDM_GETRANGE = WM_USER + 102;    // MAKELRESULT(max, min)
constexpr UINT UDM_SETPOS = WM_USER + 103;      // lParam the position (low word); the old one
constexpr UINT UDM_GETPOS = WM_USER + 104;      // the position; high word non-zero when the buddy's text is no number
constexpr UINT UDM_SETBUDDY = WM_USER + 105;    // wParam the buddy; the old one
constexpr UINT UDM_GETBUDDY = WM_USER + 106;
constexpr UINT UDM_SETRANGE32 = WM_USER + 111;  // wParam min, lParam max
constexpr UINT UDM_GETRANGE32 = WM_USER + 112;  // wParam int* min, lParam int* max
constexpr UINT UDM_SETPOS32 = WM_USER + 113;
constexpr UINT UDM_GETPOS32 = WM_USER + 114;    // lParam BOOL* error (may be null)

// Before the position moves: a non-zero answer keeps it.
constexpr UINT UDN_FIRST = static_cast<UINT>(-721);
constexpr UINT UDN_DELTAPOS = UDN_FIRST - 1;
struct NMUPDOWN {
  NMHDR hdr;
  int iPos;
  int iDelta;
};

LRESULT UpDownWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace plat

namespace plat {

// ---------------------------------------------------------------------------
// Tree view: items with a text, an image (and one when selected), a state
// image (check boxes) and a value of the program, in expandable levels.

inline const WCHAR* const WC_TREEVIEWW = u"SysTreeView32";

constexpr DWORD TVS_HASBUTTONS = 0x0001;
constexpr DWORD TVS_HASLINES = 0x0002;
constexpr DWORD TVS_LINESATROOT = 0x0004;
constexpr DWORD TVS_SHOWSELALWAYS = 0x0020;
constexpr DWORD TVS_CHECKBOXES = 0x0100;

struct TreeNode;
using HTREEITEM = TreeNode*;
// Special places for inserting (hInsertAfter) and the root (hParent).
inline HTREEITEM const TVI_ROOT = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x10000));
inline HTREEITEM const TVI_FIRST = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x0FFFF));
inline HTREEITEM const TVI_LAST = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x0FFFE));
inline HTREEITEM const TVI_SORT = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x0FFFD));

constexpr UINT TVIF_TEXT = 0x0001;
constexpr UINT TVIF_IMAGE = 0x0002;
constexpr UINT TVIF_PARAM = 0x0004;
constexpr UINT TVIF_STATE = 0x0008;
constexpr UINT TVIF_HANDLE = 0x0010;
constexpr UINT TVIF_SELECTEDIMAGE = 0x0020;
constexpr UINT TVIF_CHILDREN = 0x0040;

constexpr UINT TVIS_SELECTED = 0x0002;
constexpr UINT TVIS_EXPANDED = 0x0020;
constexpr UINT TVIS_EXPANDEDONCE = 0x0040;
constexpr UINT TVIS_STATEIMAGEMASK = 0xF000;

constexpr int I_CHILDRENCALLBACK = -1;  // cChildren: may have children, loaded on expanding

struct TVITEMW {
  UINT mask;
  HTREEITEM hItem;
  UINT state;
  UINT stateMask;
  WCHAR* pszText;
  int cchTextMax;
  int iImage;
  int iSelectedImage;
  int cChildren;
  LPARAM lParam;
};
struct TVINSERTSTRUCTW {
  HTREEITEM hParent;
  HTREEITEM hInsertAfter;
  TVITEMW item;
};
struct TVHITTESTINFO {
  POINT pt;
  UINT flags;
  HTREEITEM hItem;
};
constexpr UINT TVHT_NOWHERE = 0x0001;
constexpr UINT TVHT_ONITEMICON = 0x0002;
constexpr UINT TVHT_ONITEMLABEL = 0x0004;
constexpr UINT TVHT_ONITEMINDENT = 0x0008;
constexpr UINT TVHT_ONITEMBUTTON = 0x0010;
constexpr UINT TVHT_ONITEMRIGHT = 0x0020;
constexpr UINT TVHT_ONITEMSTATEICON = 0x0040;
constexpr UINT TVHT_ONITEM = TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON;

constexpr WPARAM TVE_COLLAPSE = 0x0001;
constexpr WPARAM TVE_EXPAND = 0x0002;
constexpr WPARAM TVE_TOGGLE = 0x0003;

constexpr WPARAM TVGN_ROOT = 0x0000;
constexpr WPARAM TVGN_NEXT = 0x0001;
constexpr WPARAM TVGN_PREVIOUS = 0x0002;
constexpr WPARAM TVGN_PARENT = 0x0003;
constexpr WPARAM TVGN_CHILD = 0x0004;
constexpr WPARAM TVGN_FIRSTVISIBLE = 0x0005;
constexpr WPARAM TVGN_NEXTVISIBLE = 0x0006;
constexpr WPARAM TVGN_PREVIOUSVISIBLE = 0x0007;
constexpr WPARAM TVGN_CARET = 0x0009;

constexpr int TVSIL_NORMAL = 0;
constexpr int TVSIL_STATE = 2;

constexpr UINT TV_FIRST = 0x1100;
constexpr UINT TVM_DELETEITEM = TV_FIRST + 1;      // lParam the item (TVI_ROOT: all)
constexpr UINT TVM_EXPAND = TV_FIRST + 2;          // wParam TVE_*, lParam the item
constexpr UINT TVM_GETITEMRECT = TV_FIRST + 4;     // wParam TRUE: the label only; lParam RECT holding the item
constexpr UINT TVM_GETCOUNT = TV_FIRST + 5;
constexpr UINT TVM_GETINDENT = TV_FIRST + 6;
constexpr UINT TVM_SETINDENT = TV_FIRST + 7;
constexpr UINT TVM_GETIMAGELIST = TV_FIRST + 8;
constexpr UINT TVM_SETIMAGELIST = TV_FIRST + 9;
constexpr UINT TVM_GETNEXTITEM = TV_FIRST + 10;    // wParam TVGN_*, lParam the item
constexpr UINT TVM_SELECTITEM = TV_FIRST + 11;     // wParam TVGN_CARET / TVGN_FIRSTVISIBLE, lParam the item
constexpr UINT TVM_GETVISIBLECOUNT = TV_FIRST + 16;
constexpr UINT TVM_HITTEST = TV_FIRST + 17;
constexpr UINT TVM_ENSUREVISIBLE = TV_FIRST + 20;
constexpr UINT TVM_INSERTITEMW = TV_FIRST + 50;
constexpr UINT TVM_GETITEMW = TV_FIRST + 62;
constexpr UINT TVM_SETITEMW = TV_FIRST + 63;

constexpr UINT TVN_FIRST = static_cast<UINT>(-400);
constexpr UINT TVN_KEYDOWN = TVN_FIRST - 12;
constexpr UINT TVN_SELCHANGINGW = TVN_FIRST - 50;    // non-zero keeps the selection
constexpr UINT TVN_SELCHANGEDW = TVN_FIRST - 51;
constexpr UINT TVN_ITEMEXPANDINGW = TVN_FIRST - 54;  // non-zero keeps the item as it is
constexpr UINT TVN_ITEMEXPANDEDW = TVN_FIRST - 55;
constexpr UINT TVN_DELETEITEMW = TVN_FIRST - 58;

struct NMTREEVIEWW {
  NMHDR hdr;
  UINT action;
  TVITEMW itemOld;
  TVITEMW itemNew;
  POINT ptDrag;
};
struct NMTVKEYDOWN {
  NMHDR hdr;
  WORD wVKey;
  UINT flags;
};

LRESULT TreeViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace plat

namespace plat {

// ---------------------------------------------------------------------------
// Time picker: the time of day in hour, minute (second) and AM/PM fields, one
// of them selected, stepped by an up-down at the right or by the keys.

inline const WCHAR* const DATETIMEPICK_CLASSW = u"SysDateTimePick32";

constexpr DWORD DTS_UPDOWN = 0x0001;      // the up-down (the only way of stepping this picker has)
constexpr DWORD DTS_SHOWNONE = 0x0002;    // the picker may hold no time (GDT_NONE)
constexpr DWORD DTS_TIMEFORMAT = 0x0009;  // the time in the locale's 12/24-hour form

constexpr UINT DTM_FIRST = 0x1000;
constexpr UINT DTM_GETSYSTEMTIME = DTM_FIRST + 1;  // lParam SYSTEMTIME*; GDT_VALID, GDT_NONE or GDT_ERROR
constexpr UINT DTM_SETSYSTEMTIME = DTM_FIRST + 2;  // wParam GDT_VALID/GDT_NONE, lParam const SYSTEMTIME*; FALSE when refused
constexpr UINT DTM_SETFORMATW = DTM_FIRST + 50;    // lParam the format ("hh':'mm' 'tt"); null the locale's

constexpr DWORD GDT_ERROR = static_cast<DWORD>(-1);
constexpr DWORD GDT_VALID = 0;
constexpr DWORD GDT_NONE = 1;

constexpr UINT DTN_FIRST = static_cast<UINT>(-740);
constexpr UINT DTN_DATETIMECHANGE = DTN_FIRST + 1;  // the user changed the time
struct NMDATETIMECHANGE {
  NMHDR nmhdr;
  DWORD dwFlags;  // GDT_VALID or GDT_NONE
  SYSTEMTIME st;
};

LRESULT DateTimePickWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace plat
