#include "platform/controls/ShellDialog.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "platform/base/Types.h"

namespace plat {
namespace {

std::atomic<bool> g_sipUp{false};
std::atomic<HCURSOR> g_cursor{nullptr};

constexpr const WCHAR* kDoneProp = u"ShellDoneButtonState";

int Scaled(int v) { return std::max(1, (v * ScreenDpi() + 48) / 96); }
int BarHeight() { return std::max(1, 26 * ScreenDpi() / 96); }

RECT VisibleDesktop(bool withSip) {
  RECT r{0, 0, ScreenWidth(), ScreenHeight() - BarHeight()};
  if (withSip) r.bottom -= Scaled(80);
  return r;
}

RECT SipRect() {
  const int bottom = ScreenHeight() - BarHeight();
  return RECT{0, bottom - Scaled(80), ScreenWidth(), bottom};
}

BOOL TellWindows(HWND hwnd, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId()) SendMessageW(hwnd, WM_SETTINGCHANGE, SPI_SETSIPINFO, 0);
  return TRUE;
}

void SetSip(bool up) {
  if (g_sipUp.exchange(up) == up) return;
  EnumWindows(&TellWindows, 0);
}

LRESULT SipPrefProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

BOOL SHInitDialog(SHINITDLGINFO* info) {
  if (!info || !IsWindow(info->hDlg)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!(info->dwMask & SHIDIM_FLAGS)) return TRUE;
  const DWORD flags = info->dwFlags;
  if (flags & SHIDIF_SIPDOWN) SetSip(false);
  if (flags & SHIDIF_FULLSCREENNOMENUBAR) {
    MoveWindow(info->hDlg, 0, 0, ScreenWidth(), ScreenHeight(), TRUE);
  } else if (flags & (SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIZEDLG)) {
    const RECT r = VisibleDesktop((flags & SHIDIF_SIZEDLG) && !(flags & SHIDIF_SIZEDLGFULLSCREEN) && g_sipUp);
    MoveWindow(info->hDlg, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
  }
  if (flags & SHIDIF_DONEBUTTON) SHDoneButton(info->hDlg, SHDB_SHOW);
  return TRUE;
}

BOOL SHDoneButton(HWND dialog, DWORD state) {
  if (!IsWindow(dialog) || (state != SHDB_SHOW && state != SHDB_HIDE && state != SHDB_SHOWCANCEL)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return SetPropW(dialog, kDoneProp, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(state)));
}

DWORD SHGetDoneButtonState(HWND dialog) {
  return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(GetPropW(dialog, kDoneProp)));
}

BOOL SHSipInfo(UINT action, UINT, void* pv, UINT) {
  auto* info = static_cast<SIPINFO*>(pv);
  if ((action != SPI_GETSIPINFO && action != SPI_SETSIPINFO) || !info || info->cbSize != sizeof(SIPINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (action == SPI_SETSIPINFO) {
    SetSip((info->fdwFlags & SIPF_ON) != 0);
    return TRUE;
  }
  const bool up = g_sipUp;
  info->fdwFlags = SIPF_DOCKED | (up ? SIPF_ON : SIPF_OFF);
  info->rcVisibleDesktop = VisibleDesktop(up);
  info->rcSipRect = SipRect();
  info->dwImDataSize = 0;
  info->pvImData = nullptr;
  return TRUE;
}

BOOL SHInitExtraControls() {
  WNDCLASSW existing{};
  if (GetClassInfoW(nullptr, kSipPrefClassName, &existing)) return TRUE;
  WNDCLASSW wc{};
  wc.style = CS_GLOBALCLASS;
  wc.lpfnWndProc = &SipPrefProc;
  wc.lpszClassName = kSipPrefClassName;
  return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HCURSOR LoadWaitCursor() { return IDC_WAIT_CURSOR; }
HCURSOR SetCursor(HCURSOR cursor) { return g_cursor.exchange(cursor); }
HCURSOR GetCursor() { return g_cursor; }

}  // namespace plat
