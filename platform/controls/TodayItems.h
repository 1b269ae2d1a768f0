// The Today screen's items: the record the Today screen host keeps for each
// item it shows, the messages it exchanges with an item's window and the
// colours it answers. Items are shared libraries; the host finds them under
// HKEY_LOCAL_MACHINE kTodayItemsKey and calls their entry points by name.
#pragma once

#include "platform/windows/Windows.h"

namespace plat {

inline constexpr const WCHAR* kTodayItemsKey = u"\\Software\\Microsoft\\Today\\Items";

// Entry points of an item library (standing for the ordinals 240, 241, 242).
inline constexpr const char* kTodayInitializeCustomItem = "InitializeCustomItem";
inline constexpr const char* kTodayCustomItemOptionsDlgProc = "CustomItemOptionsDlgProc";
inline constexpr const char* kTodayInitializeEmbeddedItem = "InitializeEmbeddedItem";
// Entry points of the other shell host.
inline constexpr const char* kTodayGetSmartPluginInterface = "GetSmartPluginInterface";
inline constexpr const char* kTodayGetTabIconEx = "GetTabIconEx";

constexpr DWORD TLIT_CUSTOM = 4;

struct TODAYLISTITEM {
  WCHAR szName[32];
  DWORD type;           // TLIT_CUSTOM
  DWORD dwOrder;
  DWORD cyp;            // the item's height, which the item sets on WM_TODAYCUSTOM_QUERYREFRESHCACHE
  BOOL fEnabled;
  BOOL fOptions;        // the item has an options dialog
  DWORD grfFlags;
  WCHAR szDLLPath[MAX_PATH];
  HINSTANCE hinstDLL;
  HWND hwndCustom;
  BOOL fSizeOnDraw;
  BYTE* prgbCachedData;
  DWORD cbCachedData;
};

// Host to item.
constexpr UINT WM_TODAYCUSTOM_CLEARCACHE = WM_USER + 242;
constexpr UINT WM_TODAYCUSTOM_QUERYREFRESHCACHE = WM_USER + 243;  // lParam TODAYLISTITEM*; 1: redraw at the new cyp
constexpr UINT WM_TODAYCUSTOM_RECEIVEDSELECTION = WM_USER + 244;  // wParam the key that brought it (0, VK_UP, VK_DOWN)
constexpr UINT WM_TODAYCUSTOM_LOSTSELECTION = WM_USER + 245;
constexpr UINT WM_TODAYCUSTOM_USERNAVIGATION = WM_USER + 246;     // wParam the key; 0: let the host move on
constexpr UINT WM_TODAYCUSTOM_ACTION = WM_USER + 247;
// Item to host (its parent).
constexpr UINT TODAYM_GETCOLOR = WM_USER + 100;     // wParam a TODAYCOLOR_* index; answers the COLORREF
constexpr UINT TODAYM_DRAWWATERMARK = WM_USER + 101;  // lParam TODAYDRAWWATERMARKINFO*

constexpr DWORD TODAYCOLOR_TEXT = 0x10000004;
constexpr DWORD TODAYCOLOR_HIGHLIGHT = 0x10000022;
constexpr DWORD TODAYCOLOR_HIGHLIGHTEDTEXT = 0x10000023;

struct TODAYDRAWWATERMARKINFO {
  HDC hdc;
  RECT rc;
  HWND hwnd;
};

// The entry points' types.
using PFN_InitializeCustomItem = HWND (*)(TODAYLISTITEM* item, HWND parent);
using PFN_InitializeEmbeddedItem = HWND (*)(DWORD unused, TODAYLISTITEM* item, HWND parent);
using PFN_CustomItemOptionsDlgProc = LRESULT (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The other shell host's plug-in interface.
class ISmartTodayPlugin {
 public:
  virtual HRESULT QueryInterface(const void* iid, void** out) = 0;
  virtual DWORD AddRef() = 0;
  virtual DWORD Release() = 0;
  virtual HRESULT SetHostValues(DWORD value, DWORD iconWidth, DWORD iconHeight) = 0;
  virtual HRESULT PaintTabIcon(HDC dc, const RECT* rect) = 0;
  virtual DWORD PassThrough(DWORD value) = 0;
  virtual HRESULT SetIconSize(DWORD iconWidth, DWORD iconHeight) = 0;
  virtual HRESULT Reserved() = 0;

 protected:
  ~ISmartTodayPlugin() = default;
};
using PFN_GetSmartPluginInterface = HRESULT (*)(DWORD unused, ISmartTodayPlugin** out);
using PFN_GetTabIconEx = HICON (*)();

}  // namespace plat
