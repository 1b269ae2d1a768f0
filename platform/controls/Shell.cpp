// The shell's calls for dialogs, full screen, the input panel, the extra
// controls, tap-and-hold and the user-interface font size; the entries of
// "aygshell.dll" beyond the menu bar's.
#include "platform/controls/Shell.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/base/SysInfo.h"
#include "platform/imaging/Com.h"
#include "platform/controls/MenuBar.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/SystemMetrics.h"
#include "platform/windows/WindowsInternal.h"

namespace plat {
namespace {

// What the shell keeps per window: its Done button and the HIDE flags of its
// full-screen requests.
struct WindowShellState {
  DWORD done = SHDB_HIDE;
  DWORD hidden = 0;
};
std::mutex& StateLock() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<DWORD, WindowShellState>& States() {
  static auto* s = new std::map<DWORD, WindowShellState>;
  return *s;
}

bool OwnWindow(HWND hwnd) {
  DWORD pid = 0;
  return hwnd && IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, &pid) && pid == GetCurrentProcessId();
}

BOOL Invalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

int MenuBarHeight() { return GetSystemMetrics(SM_CYMENU); }

// Where the screen below the device's top bar (the shell's "HHTaskBar", which
// offers the Done button) begins; 0 without one.
int TopBarBottom() {
  HWND bar = FindWindowW(u"HHTaskBar", nullptr);
  if (!bar || !IsWindowVisible(bar)) return 0;
  RECT r{};
  if (!GetWindowRect(bar, &r) || r.top > 0 || r.bottom <= 0) return 0;
  return std::min<int>(r.bottom, ScreenHeight() / 4);
}
int Scaled(int v) { return (v * ScreenDpi() + 48) / 96; }

}  // namespace

// ---------------------------------------------------------------------------
// Dialogs and the Done button

BOOL SHDoneButton(HWND hwnd, DWORD state) {
  if (!OwnWindow(hwnd) || (state != SHDB_SHOW && state != SHDB_HIDE && state != SHDB_SHOWCANCEL)) return Invalid();
  {
    std::lock_guard<std::mutex> g(StateLock());
    States()[HandleToValue(hwnd)].done = state;
  }
  // The top bar of the device (another process) shows "ok" for it.
  wm::table::SetFlag(HandleToValue(hwnd), wm::kDoneButton, state == SHDB_SHOW);
  return TRUE;
}

DWORD SHGetDoneButtonState(HWND hwnd) {
  {
    std::lock_guard<std::mutex> g(StateLock());
    auto it = States().find(HandleToValue(hwnd));
    if (it != States().end()) return it->second.done;
  }
  // A window of another process: what its table entry says.
  if (!OwnWindow(hwnd)) {
    auto e = wm::table::Get(HandleToValue(hwnd));
    if (e && (e->flags & wm::kDoneButton)) return SHDB_SHOW;
  }
  return SHDB_HIDE;
}

BOOL SHInitDialog(SHINITDLGINFO* info) {
  if (!info || !OwnWindow(info->hDlg) || (GetWindowLongW(info->hDlg, GWL_STYLE) & WS_CHILD)) return Invalid();
  if (!(info->dwMask & SHIDIM_FLAGS)) return TRUE;
  const DWORD flags = info->dwFlags;
  if (flags & (SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR)) {
    const int top = TopBarBottom();
    int height = ScreenHeight() - top;
    if (!(flags & SHIDIF_FULLSCREENNOMENUBAR)) height -= MenuBarHeight();
    SetWindowPos(info->hDlg, nullptr, 0, top, ScreenWidth(), height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (flags & SHIDIF_CANCELBUTTON) SHDoneButton(info->hDlg, SHDB_SHOWCANCEL);
  else if (flags & SHIDIF_DONEBUTTON) SHDoneButton(info->hDlg, SHDB_SHOW);
  if (flags & SHIDIF_EMPTYMENU) {
    SHMENUBARINFO mb{};
    mb.cbSize = sizeof mb;
    mb.hwndParent = info->hDlg;
    mb.dwFlags = SHCMBF_EMPTYBAR;
    if (!SHCreateMenuBar(&mb)) return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Full screen

BOOL SHFullScreen(HWND hwnd, DWORD flags) {
  constexpr DWORD kKnown = SHFS_SHOWTASKBAR | SHFS_HIDETASKBAR | SHFS_SHOWSIPBUTTON | SHFS_HIDESIPBUTTON |
                           SHFS_SHOWSTARTICON | SHFS_HIDESTARTICON;
  if (!hwnd || !IsWindow(hwnd) || (flags & ~kKnown)) return Invalid();
  // Each pair: SHOW is the low bit, HIDE the next one.
  for (DWORD show = SHFS_SHOWTASKBAR; show <= SHFS_SHOWSTARTICON; show <<= 2)
    if ((flags & show) && (flags & (show << 1))) return Invalid();
  std::lock_guard<std::mutex> g(StateLock());
  DWORD& hidden = States()[HandleToValue(hwnd)].hidden;
  for (DWORD show = SHFS_SHOWTASKBAR; show <= SHFS_SHOWSTARTICON; show <<= 2) {
    if (flags & show) hidden &= ~(show << 1);
    if (flags & (show << 1)) hidden |= show << 1;
  }
  return TRUE;
}

BOOL SHSetWindowState(HWND hwnd, DWORD flags) { return SHFullScreen(hwnd, flags); }

DWORD SHGetFullScreenState(HWND hwnd) {
  std::lock_guard<std::mutex> g(StateLock());
  auto it = States().find(HandleToValue(hwnd));
  return it == States().end() ? 0 : it->second.hidden;
}

// ---------------------------------------------------------------------------
// The input panel

BOOL SHSipInfo(UINT action, UINT /*param*/, void* pv, UINT /*winIni*/) {
  if (action != SPI_GETSIPINFO && action != SPI_SETSIPINFO) return Invalid();
  auto* info = static_cast<SIPINFO*>(pv);
  if (!info || info->cbSize != sizeof(SIPINFO)) return Invalid();
  if (action == SPI_SETSIPINFO) return TRUE;  // no panel to raise or lower
  const int width = ScreenWidth(), above = ScreenHeight() - MenuBarHeight();
  info->fdwFlags = SIPF_DOCKED;
  info->rcVisibleDesktop = RECT{0, TopBarBottom(), width, above};
  info->rcSipRect = RECT{0, above - Scaled(80), width, above};
  info->dwImDataSize = 0;
  info->pvImData = nullptr;
  return TRUE;
}

BOOL SHSipPreference(HWND hwnd, SIPSTATE state) {
  if (!hwnd || !IsWindow(hwnd) || state < SIP_UP || state > SIP_INPUTDIALOG) return Invalid();
  return TRUE;
}

namespace {
LRESULT SipPrefWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    ValidateRect(hwnd, nullptr);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}
}  // namespace

BOOL SHInitExtraControls() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &SipPrefWndProc;
  wc.lpszClassName = kSipPrefClassName;
  if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return FALSE;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Tap and hold

namespace {
std::atomic<DWORD> g_holdMs{kTapAndHoldMs};
constexpr int kVkStylus = 0x01;  // the stylus button's key state
constexpr int kVkAction = 0x86;  // the action button (VK_ACTION)

// The first stylus or key message waiting in the thread's queue, left there.
bool PeekInput(MSG* msg) {
  MSG mouse{}, key{};
  const bool hasMouse = PeekMessageW(&mouse, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE | PM_NOYIELD);
  const bool hasKey = PeekMessageW(&key, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE | PM_NOYIELD);
  if (hasMouse && (!hasKey || static_cast<LONG>(mouse.time - key.time) <= 0)) *msg = mouse;
  else if (hasKey) *msg = key;
  else return false;
  return true;
}
}  // namespace

void SetTapAndHoldTimeForTesting(DWORD ms) { g_holdMs = ms; }

DWORD SHRecognizeGesture(SHRGINFO* info) {
  if (!info || info->cbSize != sizeof(SHRGINFO) || !OwnWindow(info->hwndClient)) return Invalid();
  POINT down = info->ptDown;
  ClientToScreen(info->hwndClient, &down);
  const int dx = GetSystemMetrics(SM_CXDRAG), dy = GetSystemMetrics(SM_CYDRAG);
  const DWORD hold = (info->dwFlags & SHRG_LONGDELAY) ? 2 * g_holdMs.load() : g_holdMs.load();
  const DWORD start = GetTickCount();
  // Without the stylus down, a held action key (Enter or the action button)
  // makes the gesture: it holds until the key goes up.
  int heldKey = 0;
  if (!(GetAsyncKeyState(kVkStylus) & 0x8000)) {
    for (int vk : {static_cast<int>(VK_RETURN), kVkAction})
      if (GetAsyncKeyState(vk) & 0x8000) heldKey = vk;
  }
  for (;;) {
    MSG msg{};
    while (PeekInput(&msg)) {
      // The held key's own repeats are no release.
      if (heldKey && msg.message == WM_KEYDOWN && static_cast<int>(msg.wParam) == heldKey) {
        PeekMessageW(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
        continue;
      }
      if (msg.message != WM_MOUSEMOVE) return 0;  // let go, another press or a key
      POINT at{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
      if (msg.hwnd) ClientToScreen(msg.hwnd, &at);
      if (std::abs(at.x - down.x) > dx || std::abs(at.y - down.y) > dy) return 0;
      PeekMessageW(&msg, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE);  // a tremble, not a drag
    }
    // A stylus already lifted (its release taken from the queue by the
    // caller, as after a tap) holds nothing.
    if (!(GetAsyncKeyState(heldKey ? heldKey : kVkStylus) & 0x8000)) return 0;
    const DWORD waited = GetTickCount() - start;
    if (waited >= hold) break;
    MsgWaitForMultipleObjectsEx(0, nullptr, hold - waited, QS_INPUT, MWMO_INPUTAVAILABLE);
  }
  if (info->dwFlags & SHRG_RETURNCMD) return GN_CONTEXTMENU;
  if (info->dwFlags & SHRG_NOTIFYPARENT) {
    NMRGINFO nm{};
    nm.hdr.hwndFrom = info->hwndClient;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(info->hwndClient));
    nm.hdr.code = GN_CONTEXTMENU;
    nm.ptAction = down;
    HWND parent = GetParent(info->hwndClient);
    SendMessageW(parent ? parent : info->hwndClient, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  }
  return 1;
}

// ---------------------------------------------------------------------------
// The user-interface font size

namespace {
constexpr const WCHAR* kTextSizeKey = u"ControlPanel\\Shell";
constexpr const WCHAR* kTextSizeValue = u"TextSizePercent";
constexpr DWORD kStandardPoints = 9;
}  // namespace

DWORD GetUITextSizePercent() {
  HKEY key = nullptr;
  DWORD percent = 100;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kTextSizeKey, 0, 0, &key) == ERROR_SUCCESS) {
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExW(key, kTextSizeValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && value >= 50 && value <= 300)
      percent = value;
    RegCloseKey(key);
  }
  return percent;
}

BOOL SetUITextSizePercent(DWORD percent) {
  if (percent < 50 || percent > 300) return Invalid();
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kTextSizeKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return FALSE;
  LONG rc = RegSetValueExW(key, kTextSizeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&percent), sizeof percent);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return FALSE;
  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(SH_UIMETRIC_CHANGE), 0, 0);
  return TRUE;
}

HRESULT SHGetUIMetrics(DWORD metric, void* data, DWORD size, DWORD* required) {
  if (metric != SHUIM_FONTSIZE_POINT && metric != SHUIM_FONTSIZE_PIXEL && metric != SHUIM_FONTSIZE_PERCENTAGE)
    return E_INVALIDARG;
  if (required) *required = sizeof(DWORD);
  if (!data || size < sizeof(DWORD)) return HRESULT_INSUFFICIENT_BUFFER;
  const DWORD percent = GetUITextSizePercent();
  // Tenths of a point keep 9 points at 110 % from rounding twice.
  const DWORD tenths = kStandardPoints * percent / 10;
  DWORD value = percent;
  if (metric == SHUIM_FONTSIZE_POINT) value = (tenths + 5) / 10;
  if (metric == SHUIM_FONTSIZE_PIXEL) value = (tenths * static_cast<DWORD>(ScreenDpi()) + 360) / 720;
  std::memcpy(data, &value, sizeof value);
  return S_OK;
}

// ---------------------------------------------------------------------------
// The configuration manager

namespace {
std::atomic<ConfigurationManager> g_configurationManager{nullptr};
}  // namespace

void SetConfigurationManager(ConfigurationManager handler) { g_configurationManager = handler; }

HRESULT DMProcessConfigXML(const WCHAR* document, DWORD flags, WCHAR** result) {
  if (result) *result = nullptr;
  ConfigurationManager handler = g_configurationManager.load();
  return handler ? handler(document, flags, result) : CONFIG_E_NOTIMPL;
}

// ---------------------------------------------------------------------------
// "aygshell.dll"

namespace {

struct Entry {
  const char* ordinal;
  const char* name;
  FARPROC proc;
};

template <typename F>
FARPROC Proc(F* f) {
  return reinterpret_cast<FARPROC>(f);
}

const Entry kEntries[] = {
    {"#4", "SHSipInfo", Proc(&SHSipInfo)},
    {"#9", "SHInitExtraControls", Proc(&SHInitExtraControls)},
    {"#40", "SHRecognizeGesture", Proc(&SHRecognizeGesture)},
    {"#56", "SHInitDialog", Proc(&SHInitDialog)},
    {"#65", "SHFullScreen", Proc(&SHFullScreen)},
    {"#69", "SHSipPreference", Proc(&SHSipPreference)},
    {"#88", "SHSetWindowState", Proc(&SHSetWindowState)},
    {"#183", "SHDoneButton", Proc(&SHDoneButton)},
    {"#312", "SHGetUIMetrics", Proc(&SHGetUIMetrics)},
    {"#2021", "DMProcessConfigXML", Proc(&DMProcessConfigXML)},
    {nullptr, "SHGetFileInfo", Proc(&SHGetFileInfo)},
    {nullptr, "SHChangeNotifyRegister", Proc(&SHChangeNotifyRegister)},
    {nullptr, "SHChangeNotifyDeregister", Proc(&SHChangeNotifyDeregister)},
    {nullptr, "SHChangeNotifyFree", Proc(&SHChangeNotifyFree)},
};

// SystemParametersInfoW asks the shell for the input panel.
bool SipParameters(UINT action, UINT param, void* pv, UINT winIni, BOOL* result) {
  if (action != SPI_GETSIPINFO && action != SPI_SETSIPINFO) return false;
  *result = SHSipInfo(action, param, pv, winIni);
  return true;
}
const bool g_sipRegistered = (SetSystemParametersHandler(&SipParameters), true);

}  // namespace

FARPROC ResolveShellEntry(const char* name) {
  if (!name) return nullptr;
  for (const Entry& e : kEntries)
    if ((e.ordinal && std::strcmp(name, e.ordinal) == 0) || std::strcmp(name, e.name) == 0) return e.proc;
  return nullptr;
}

}  // namespace plat
