// The shell's calls ("aygshell.dll" and a few of the system's): full-screen
// dialogs and the Done button, the input panel, the extra controls ("SIPPREF"),
// tap-and-hold, the user-interface font size, small system icons of files and
// folders, notices of file-system changes.
//
// The device has no input panel: the whole screen above the menu bar is always
// visible, asking for the panel changes nothing. There is no navigation bar
// either: full-screen and Done-button requests are kept per window (the
// SHGet... calls below read them) and sizes are taken from the screen.
//
// "aygshell.dll" answers these ordinals: 4 SHSipInfo, 9 SHInitExtraControls,
// 40 SHRecognizeGesture, 56 SHInitDialog, 65 SHFullScreen, 69 SHSipPreference,
// 88 SHSetWindowState, 183 SHDoneButton, 312 SHGetUIMetrics, 2021
// DMProcessConfigXML (and each by name).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Time.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

namespace plat {

// ---------------------------------------------------------------------------
// Full-screen dialogs and the Done button

constexpr DWORD SHIDIM_FLAGS = 0x0001;
constexpr DWORD SHIDIF_DONEBUTTON = 0x0001;
constexpr DWORD SHIDIF_SIZEDLG = 0x0002;
constexpr DWORD SHIDIF_SIZEDLGFULLSCREEN = 0x0004;
constexpr DWORD SHIDIF_SIPDOWN = 0x0008;
constexpr DWORD SHIDIF_FULLSCREENNOMENUBAR = 0x0010;
constexpr DWORD SHIDIF_EMPTYMENU = 0x0020;
constexpr DWORD SHIDIF_WANTSCROLLBAR = 0x0040;
constexpr DWORD SHIDIF_CANCELBUTTON = 0x0080;

struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};

// With SHIDIM_FLAGS: SIZEDLG and SIZEDLGFULLSCREEN place the dialog over the
// screen above the menu bar, FULLSCREENNOMENUBAR over the whole screen;
// DONEBUTTON (or CANCELBUTTON) shows the Done button (SHDB_SHOW, SHDB_SHOWCANCEL);
// EMPTYMENU gives the dialog an empty menu bar. FALSE with
// ERROR_INVALID_PARAMETER for a null info or a window that is not a live
// top-level window of this process.
BOOL SHInitDialog(SHINITDLGINFO* info);

constexpr DWORD SHDB_SHOW = 0x0001;
constexpr DWORD SHDB_HIDE = 0x0002;
constexpr DWORD SHDB_SHOWCANCEL = 0x0004;
// Shows or hides the window's Done button; FALSE with ERROR_INVALID_PARAMETER
// for a bad window or state.
BOOL SHDoneButton(HWND hwnd, DWORD state);
// The Done-button state last given to the window (SHDB_HIDE when none); for
// another process's window, SHDB_SHOW while its Done button is shown.
DWORD SHGetDoneButtonState(HWND hwnd);

// ---------------------------------------------------------------------------
// Full screen and the window's shell state

constexpr DWORD SHFS_SHOWTASKBAR = 0x0001;
constexpr DWORD SHFS_HIDETASKBAR = 0x0002;
constexpr DWORD SHFS_SHOWSIPBUTTON = 0x0004;
constexpr DWORD SHFS_HIDESIPBUTTON = 0x0008;
constexpr DWORD SHFS_SHOWSTARTICON = 0x0010;
constexpr DWORD SHFS_HIDESTARTICON = 0x0020;

// Records which of the task bar, the input-panel button and the start icon the
// window hides (a SHOW flag clears what its HIDE flag set). FALSE with
// ERROR_INVALID_PARAMETER for a bad window, unknown flags or a SHOW and HIDE
// flag of the same thing together.
BOOL SHFullScreen(HWND hwnd, DWORD flags);
// The same for a layout window's state (ordinal 88).
BOOL SHSetWindowState(HWND hwnd, DWORD flags);
// The HIDE flags now in force for the window (0 when none or a bad window).
DWORD SHGetFullScreenState(HWND hwnd);

// ---------------------------------------------------------------------------
// The work area

// The shell's word that the work area (the screen below its task bar) has
// changed: WM_SETTINGCHANGE with this wParam, posted to every top-level
// window when the task bar appears, moves or goes. Windows that sized
// themselves to the screen below the bar fit themselves to it again.
constexpr UINT SPI_SETWORKAREA = 47;

// ---------------------------------------------------------------------------
// The input panel

constexpr UINT SPI_SETSIPINFO = 224;
constexpr UINT SPI_GETSIPINFO = 225;
constexpr DWORD SIPF_OFF = 0x0000;
constexpr DWORD SIPF_ON = 0x0001;
constexpr DWORD SIPF_DOCKED = 0x0002;
constexpr DWORD SIPF_LOCKED = 0x0004;

struct SIPINFO {
  DWORD cbSize;  // sizeof(SIPINFO)
  DWORD fdwFlags;
  RECT rcVisibleDesktop;
  RECT rcSipRect;
  DWORD dwImDataSize;
  void* pvImData;
};

// SPI_GETSIPINFO fills pv (a SIPINFO of cbSize sizeof(SIPINFO)): no panel
// (SIPF_DOCKED only), the visible desktop the screen above the menu bar, the
// panel's place just above the menu bar. SPI_SETSIPINFO accepts a SIPINFO and
// changes nothing. FALSE with ERROR_INVALID_PARAMETER for a null or wrongly
// sized structure or another action. SystemParametersInfoW answers the same.
BOOL SHSipInfo(UINT action, UINT param, void* pv, UINT winIni);

enum SIPSTATE { SIP_UP = 0, SIP_DOWN = 1, SIP_FORCEDOWN = 2, SIP_UNCHANGED = 3, SIP_INPUTDIALOG = 4 };
// Accepted for a live window and a known state; nothing to raise or lower.
BOOL SHSipPreference(HWND hwnd, SIPSTATE state);

// Registers the extra controls: the class "SIPPREF", an invisible child that
// does nothing. TRUE, also when called again.
BOOL SHInitExtraControls();
inline const WCHAR* const kSipPrefClassName = u"SIPPREF";

// ---------------------------------------------------------------------------
// Tap and hold

constexpr DWORD SHRG_RETURNCMD = 0x0001;
constexpr DWORD SHRG_NOTIFYPARENT = 0x0002;
constexpr DWORD SHRG_LONGDELAY = 0x0008;
constexpr DWORD SHRG_NOANIMATION = 0x0010;
constexpr DWORD GN_CONTEXTMENU = 1000;

struct SHRGINFO {
  DWORD cbSize;  // sizeof(SHRGINFO)
  HWND hwndClient;
  POINT ptDown;  // client coordinates of hwndClient
  DWORD dwFlags;
};

struct NMRGINFO {
  NMHDR hdr;  // code GN_CONTEXTMENU, hwndFrom the client, idFrom its id
  POINT ptAction;  // screen coordinates
  DWORD dwItemSpec;
};

// Called while the stylus is down on the client: pumps nothing but looks at
// the thread's queue until the hold time passes on the platform clock. The
// stylus let go (WM_LBUTTONUP), moved further than SM_CXDRAG / SM_CYDRAG from
// the point, or a key gives 0 and leaves that message in the queue; a stylus
// that is not down at all (a tap whose release was already taken) gives 0 at
// once. Held still
// for the hold time, it is the context-menu gesture: with SHRG_RETURNCMD the
// answer is GN_CONTEXTMENU; with SHRG_NOTIFYPARENT the client's parent is sent
// WM_NOTIFY with an NMRGINFO and the answer is 1. The display program turns a
// right click into a press held longer than any hold time. 0 with
// ERROR_INVALID_PARAMETER for a bad structure or window.
DWORD SHRecognizeGesture(SHRGINFO* info);
// The hold time (SHRG_LONGDELAY doubles it); tests shorten it.
constexpr DWORD kTapAndHoldMs = 450;
void SetTapAndHoldTimeForTesting(DWORD ms);  // kTapAndHoldMs again with it

// ---------------------------------------------------------------------------
// The user-interface font size

constexpr DWORD SHUIM_INVALID = 0;
constexpr DWORD SHUIM_FONTSIZE_POINT = 1;       // points
constexpr DWORD SHUIM_FONTSIZE_PIXEL = 2;       // pixels on this screen
constexpr DWORD SHUIM_FONTSIZE_PERCENTAGE = 3;  // percent of the standard size
constexpr HRESULT HRESULT_INSUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007Au);
// Registered by name; posted to every top-level window when the size changes.
inline const WCHAR* const SH_UIMETRIC_CHANGE = u"SH_UIMETRIC_CHANGE";

// One DWORD per metric. S_OK; HRESULT_INSUFFICIENT_BUFFER for a null buffer or
// size below 4 (*required 4); E_INVALIDARG for another metric.
HRESULT SHGetUIMetrics(DWORD metric, void* data, DWORD size, DWORD* required);
// The device's text size in percent of the standard 9 points (the device's
// setting, HKEY_CURRENT_USER "ControlPanel\Shell" "TextSizePercent", 100 when
// missing). Setting it (50 to 300) posts SH_UIMETRIC_CHANGE to every top-level
// window of the device; FALSE for a size out of range.
BOOL SetUITextSizePercent(DWORD percent);
DWORD GetUITextSizePercent();

// ---------------------------------------------------------------------------
// Small system icons of files and folders

constexpr UINT SHGFI_SMALLICON = 0x000001;
constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x000010;
constexpr UINT SHGFI_ICON = 0x000100;
constexpr UINT SHGFI_DISPLAYNAME = 0x000200;
constexpr UINT SHGFI_TYPENAME = 0x000400;
constexpr UINT SHGFI_ATTRIBUTES = 0x000800;
constexpr UINT SHGFI_SYSICONINDEX = 0x004000;

struct SHFILEINFO {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
};

// A picture file by its name: ".jpg", ".jpeg", ".png", ".gif" or ".bmp", any case.
bool IsPictureFileName(std::u16string_view name);

// The system icons, by index.
enum SystemIconIndex { kIconFolder = 0, kIconFile = 1, kIconProgram = 2, kIconImage = 3, kIconCount = 4 };

// The icon of a device path: folders, programs (".exe", ".lnk"), pictures and
// other files; with SHGFI_USEFILEATTRIBUTES the attributes given decide instead
// of the file system. SHGFI_SYSICONINDEX sets iIcon and answers the system
// image list (made once by the maker of SetSystemImageListMaker from the small
// icons; 0 while there is none); SHGFI_ICON gives a copy of the icon (the
// caller destroys it); DISPLAYNAME, TYPENAME and ATTRIBUTES fill their fields.
// Otherwise the answer is nonzero on success. 0 for a path that does not exist
// (without SHGFI_USEFILEATTRIBUTES) or a null info.
DWORD_PTR SHGetFileInfo(const WCHAR* path, DWORD attributes, SHFILEINFO* info, UINT size, UINT flags);
// The small system icons (16 px at 96 DPI), in SystemIconIndex order; the shell
// owns them.
const std::vector<HICON>& SystemSmallIcons();
// The common controls make the system image list from the icons.
using SystemImageListMaker = DWORD_PTR (*)(const std::vector<HICON>& icons);
void SetSystemImageListMaker(SystemImageListMaker maker);

// ---------------------------------------------------------------------------
// Notices of file-system changes

constexpr LONG SHCNE_RENAMEITEM = 0x00000001;
constexpr LONG SHCNE_CREATE = 0x00000002;
constexpr LONG SHCNE_DELETE = 0x00000004;
constexpr LONG SHCNE_MKDIR = 0x00000008;
constexpr LONG SHCNE_RMDIR = 0x00000010;
constexpr LONG SHCNE_ATTRIBUTES = 0x00000800;
constexpr LONG SHCNE_UPDATEITEM = 0x00002000;
constexpr LONG SHCNE_RENAMEFOLDER = 0x00020000;
constexpr LONG SHCNE_ALLEVENTS = 0x7FFFFFFF;
constexpr UINT SHCNF_PATH = 0x0001;
constexpr UINT SHCNF_FLUSH = 0x1000;
constexpr UINT WM_FILECHANGEINFO = WM_APP + 0x0101;

struct SHCHANGENOTIFYENTRY {
  DWORD dwEventMask;
  WCHAR* pszWatchDir;  // a device folder; null: the whole device
  BOOL fRecursive;
};

struct FILECHANGEINFO {
  DWORD cbSize;
  LONG wEventId;
  DWORD uFlags;  // SHCNF_PATH: the items are device paths
  DWORD_PTR dwItem1;  // const WCHAR*: the path (the new one of a rename)
  DWORD_PTR dwItem2;  // const WCHAR*: the old path of a rename, else null
  DWORD dwAttributes;
  FILETIME ftModified;
  DWORD nFileSize;
};

struct FILECHANGENOTIFY {
  DWORD dwRefCount;
  FILECHANGEINFO fci;
};

// Posts WM_FILECHANGEINFO (lParam a FILECHANGENOTIFY* that the window hands
// back to SHChangeNotifyFree) to the window when an entry under the watched
// folder changes, for the events of the mask: a created, deleted, renamed or
// changed file or folder of the device, by a program of the device or on the
// host. One registration per window (registering again replaces it). FALSE
// for a bad window or entry, or a watched folder that does not exist.
BOOL SHChangeNotifyRegister(HWND hwnd, const SHCHANGENOTIFYENTRY* entry);
BOOL SHChangeNotifyDeregister(HWND hwnd);
void SHChangeNotifyFree(FILECHANGENOTIFY* notify);

// ---------------------------------------------------------------------------
// The configuration manager (ordinal 2021): a provisioning document handed to
// the platform. The device's configuration manager (hosts/) installs
// itself as the handler; without one every document fails with E_NOTIMPL.

constexpr DWORD CFGFLAG_PROCESS = 0x0001;
constexpr HRESULT CONFIG_E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
// The answer document (*result, may be null) is allocated with new[] and
// released by the caller with delete[].
HRESULT DMProcessConfigXML(const WCHAR* document, DWORD flags, WCHAR** result);
using ConfigurationManager = HRESULT (*)(const WCHAR* document, DWORD flags, WCHAR** result);
void SetConfigurationManager(ConfigurationManager handler);

// ---------------------------------------------------------------------------

// The extra ordinals of "aygshell.dll" (the menu bar answers its own).
FARPROC ResolveShellEntry(const char* name);

}  // namespace plat
