// The shell's help for full-screen dialogs and the input panel ("aygshell"):
// sizing a dialog to the visible desktop, its Done button, the input panel's
// state and the extra controls ("SIPPREF"), plus the wait cursor. The visible
// desktop is the screen above the soft-key bar (26 px at 96 dpi); the input
// panel, when up, takes the 80 px at 96 dpi above the bar. The input panel's
// state belongs to the process.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

namespace plat {

// SHINITDLGINFO.dwMask
constexpr DWORD SHIDIM_FLAGS = 0x0001;
// SHINITDLGINFO.dwFlags
constexpr DWORD SHIDIF_DONEBUTTON = 0x0001;
constexpr DWORD SHIDIF_SIZEDLG = 0x0002;
constexpr DWORD SHIDIF_SIZEDLGFULLSCREEN = 0x0004;
constexpr DWORD SHIDIF_SIPDOWN = 0x0008;
constexpr DWORD SHIDIF_FULLSCREENNOMENUBAR = 0x0010;
constexpr DWORD SHIDIF_EMPTYMENU = 0x0020;
constexpr DWORD SHIDIF_WANTSCROLLBAR = 0x0080;

struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};

// Sizes the dialog: SHIDIF_SIZEDLGFULLSCREEN (or SHIDIF_FULLSCREENNOMENUBAR,
// which also covers the bar) to the visible desktop, SHIDIF_SIZEDLG to the
// part above the input panel; SHIDIF_SIPDOWN lowers the input panel;
// SHIDIF_DONEBUTTON gives the dialog its Done button (SHDoneButton). FALSE
// with ERROR_INVALID_PARAMETER for a null info or a window that is not there.
BOOL SHInitDialog(SHINITDLGINFO* info);

constexpr DWORD SHDB_SHOW = 0x0001;
constexpr DWORD SHDB_HIDE = 0x0002;
constexpr DWORD SHDB_SHOWCANCEL = 0x0004;
// Shows or hides the dialog's Done (OK) button; the state is kept with the
// window (SHGetDoneButtonState).
BOOL SHDoneButton(HWND dialog, DWORD state);
// SHDB_SHOW, SHDB_HIDE or SHDB_SHOWCANCEL as last set; 0 when never set.
DWORD SHGetDoneButtonState(HWND dialog);

// Input panel information.
constexpr UINT SPI_SETSIPINFO = 224;
constexpr UINT SPI_GETSIPINFO = 225;
constexpr DWORD SIPF_OFF = 0x0;
constexpr DWORD SIPF_ON = 0x1;
constexpr DWORD SIPF_DOCKED = 0x2;
constexpr DWORD SIPF_LOCKED = 0x4;
struct SIPINFO {
  DWORD cbSize;  // sizeof(SIPINFO)
  DWORD fdwFlags;
  RECT rcVisibleDesktop;  // get: the desktop above the bar and, when up, the panel
  RECT rcSipRect;         // get: where the panel is when up
  DWORD dwImDataSize;
  void* pvImData;
};
// SPI_GETSIPINFO fills *pv (a SIPINFO with cbSize set); SPI_SETSIPINFO takes
// the SIPF_ON bit of its flags. A change of the panel's state is sent to the
// top-level windows of the process as WM_SETTINGCHANGE (wParam SPI_SETSIPINFO).
// FALSE with ERROR_INVALID_PARAMETER for another action or a wrong cbSize.
BOOL SHSipInfo(UINT action, UINT param, void* pv, UINT winIni);

// Registers the shell's extra controls: "SIPPREF", an invisible child that
// stands for the input panel preference of its dialog.
BOOL SHInitExtraControls();
inline const WCHAR* const kSipPrefClassName = u"SIPPREF";

// Menu-bar key override: wParam the key, lParam MAKELPARAM(flags for the
// key-down half, flags for the key-up half).
constexpr UINT SHCMBM_OVERRIDEKEY = WM_USER + 403;
constexpr DWORD SHMBOF_NODEFAULT = 0x00000001;
constexpr DWORD SHMBOF_NOTIFY = 0x00000002;

// The cursor: one per process; the wait cursor is the only shape it has.
inline HCURSOR const IDC_WAIT_CURSOR = reinterpret_cast<HCURSOR>(std::uintptr_t{32514});
HCURSOR LoadWaitCursor();
HCURSOR SetCursor(HCURSOR cursor);  // the previous one
HCURSOR GetCursor();

}  // namespace plat
