// The HTML viewer control ("htmlview.dll", built into every program; its
// ordinal 1 is InitHTMLControl).
//
// The control is a child window of the class "DISPLAYCLASS"; when created it
// makes at once its inner child of the class "PIEHTML", which fills it, shows
// the page, owns the standard scroll bars (pixel units, page = client height)
// and takes the focus, keys and stylus. The owner hands the page over as text
// (DTM_CLEAR, DTM_ADDTEXTW with the whole page, DTM_ENDOFSOURCE); the control
// then lays it out and reports to its parent with WM_NOTIFY: NM_TITLE as the
// page begins, one NM_INLINE_IMAGE per image (address and cookie), and
// NM_DOCUMENTCOMPLETE when it is shown. It fetches nothing itself: pictures
// come back with DTM_SETIMAGE (or DTM_IMAGEFAIL) for their cookies. No script
// ever runs and no style sheet or other resource is loaded; forms are shown
// and never submitted. A tap on a link reports NM_HOTSPOT with its target; a
// tap and hold reports NM_CONTEXTMENU (first to the inner window, which
// passes it to the control, which passes it to its parent).
#pragma once

#include "platform/imaging/Com.h"
#include "platform/windows/Windows.h"

namespace plat {

inline const WCHAR* const kHtmlViewClassName = u"DISPLAYCLASS";
inline const WCHAR* const kHtmlViewInnerClassName = u"PIEHTML";

// Registers "DISPLAYCLASS" and "PIEHTML" (once per process; later calls
// succeed too). TRUE on success.
BOOL InitHTMLControl(HINSTANCE instance);
// Makes "htmlview.dll" loadable again after a test replaced it.
void RegisterHtmlViewModule();

// Messages to the control ("DISPLAYCLASS").
constexpr UINT DTM_ADDTEXT = WM_USER + 101;   // lParam: const char* bytes (UTF-8 or the page's charset)
constexpr UINT DTM_ADDTEXTW = WM_USER + 102;  // lParam: const WCHAR* text, null-terminated
constexpr UINT DTM_SETIMAGE = WM_USER + 103;  // lParam: const INLINEIMAGEINFO*; TRUE when the cookie is known
// wParam of DTM_SETIMAGE: 0 lays the page out again at once; this leaves it
// to the next paint, so that pictures arriving together cost one layout.
constexpr WPARAM kSetImageLayoutLater = 1;
constexpr UINT DTM_ENDOFSOURCE = WM_USER + 104;  // the page is complete: lay it out and show it
constexpr UINT DTM_IMAGEFAIL = WM_USER + 109;    // lParam: the cookie of an image that will not come
// Accepted and kept: the context menu is always reported to the parent.
constexpr UINT DTM_ENABLECONTEXTMENU = WM_USER + 110;
constexpr UINT DTM_SELECTALL = WM_USER + 111;
constexpr UINT DTM_ISSELECTION = WM_USER + 112;  // non-zero when something is selected
constexpr UINT DTM_CLEAR = WM_USER + 113;        // empties the page
// Accepted and kept: scripts never run, whatever is asked.
constexpr UINT DTM_ENABLESCRIPTING = WM_USER + 115;
// The text size, wParam 0 (smallest) to 4 (largest), 2 at creation; the page
// is laid out again. Returns the previous size.
constexpr UINT DTM_TEXTSIZE = WM_USER + 116;
// lParam: IStream** receiving a new stream (the caller releases it) of the
// selected text, UTF-16 without a terminator. TRUE on success.
constexpr UINT DTM_COPYSELECTIONTONEWISTREAM = WM_USER + 119;

// Notifications (WM_NOTIFY to the control's parent, idFrom the control's id).
// NM_HOTSPOT, NM_INLINE_IMAGE, NM_TITLE and NM_DOCUMENTCOMPLETE name the inner
// window as hwndFrom (its parent is the control, so a parent that hands them
// on to the sender's parent reaches the control once); NM_CONTEXTMENU names
// the control itself (so a parent that reflects it to its sender reaches the
// control).
constexpr UINT NM_HOTSPOT = WM_USER + 101;       // NM_HTMLVIEWW: szTarget the link's target
constexpr UINT NM_INLINE_IMAGE = WM_USER + 102;  // NM_HTMLVIEWW: szTarget the address, dwCookie
constexpr UINT NM_TITLE = WM_USER + 104;         // NM_HTMLVIEWW: a page begins; szTarget its title
constexpr UINT NM_CONTEXTMENU = WM_USER + 107;   // NM_HTMLCONTEXTW
constexpr UINT NM_DOCUMENTCOMPLETE = WM_USER + 110;  // NM_HTMLVIEWW: the page is shown

struct NM_HTMLVIEWW {
  NMHDR hdr;
  const WCHAR* szTarget;
  const WCHAR* szData;
  DWORD dwCookie;
  const WCHAR* szExInfo;
};

constexpr UINT HTMLCONTEXT_BACKGROUND = 0;
constexpr UINT HTMLCONTEXT_LINK = 1;
constexpr UINT HTMLCONTEXT_IMAGE = 2;

struct NM_HTMLCONTEXTW {
  NMHDR hdr;
  POINT pt;          // screen coordinates
  UINT uTypeFlags;   // HTMLCONTEXT_ flags of what lies under the point
  const WCHAR* szLinkHREF;
  const WCHAR* szLinkName;
  DWORD dwReserved1;
  DWORD dwImageCookie;  // with HTMLCONTEXT_IMAGE
  DWORD dwReserved2;
};

// The picture of one cookie. With bOwnBitmap the control deletes the bitmap
// when no page uses it any more; the same bitmap may be given for several
// cookies and is deleted once.
struct INLINEIMAGEINFO {
  DWORD dwCookie;
  int iOrigHeight;
  int iOrigWidth;
  HBITMAP hbm;
  BOOL bOwnBitmap;
};

}  // namespace plat
