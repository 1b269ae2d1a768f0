// orv-todayhost: the device's home screen (the Today screen) as far as the
// Today items need it. It makes the shell's windows: the screen-wide desktop
// window "DesktopExplorerWindow" that holds the items, the task bar
// "HHTaskBar" along the top and the input panel button "MS_SIPBUTTON". It
// writes the Orv News item's entry under HKEY_LOCAL_MACHINE
// "\Software\Microsoft\Today\Items" when it is missing, loads the item's
// library and creates its window, asks it for its height at start and every
// 2 seconds, answers its colour and watermark requests, passes it the
// selection, the arrow keys and Enter, and unloads it when it ends or when
// the configuration manager asks before removing the product
// (hosts/HostRequests.h); an unloaded item is not loaded again.
//
//   orv-todayhost [--mode today|smart] [--log PATH]
//
// "--mode smart" plays the other shell host: it asks the library for its
// plug-in interface and tab icon and paints the tab icon in the task bar,
// besides showing the item embedded.
//
// "\Program Files\Orv News" is mounted onto the folder of this program, where
// the build puts the programs and the item's library.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/controls/Shell.h"
#include "platform/controls/TodayItems.h"
#include "platform/files/Files.h"
#include "hosts/HostRequests.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/SystemMetrics.h"
#include "platform/windows/Windows.h"

namespace {

using namespace plat;

// The host's log: one line a call, flushed at once (the tests read it).
FILE* g_log = nullptr;
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  if (!g_log) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(g_log, format, args);
  va_end(args);
  std::fputc('\n', g_log);
  std::fflush(g_log);
}

constexpr const WCHAR* kDesktopClass = hosts::kTodayHostWindowClass;
constexpr const WCHAR* kTaskBarClass = u"HHTaskBar";
constexpr const WCHAR* kSipButtonClass = u"MS_SIPBUTTON";
constexpr const WCHAR* kItemName = u"\"Orv News\"";
constexpr const WCHAR* kItemLibrary = u"\\Program Files\\Orv News\\OrvNewsToday.dll";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 2000;
constexpr UINT kOptionsCommand = 100;
constexpr WPARAM kVkAction = 0x86;  // the action button
// Posted to the desktop to make it re-read the item's height at once (tests).
constexpr UINT kRefreshNow = WM_APP + 1;

struct Host {
  bool smart = false;
  HMODULE library = nullptr;
  TODAYLISTITEM item{};
  HWND desktop = nullptr;
  HWND taskBar = nullptr;
  HWND sipButton = nullptr;
  bool selected = false;
  ISmartTodayPlugin* plugin = nullptr;
  HICON tabIcon = nullptr;
  UINT metricChange = 0;
  UINT unloadProduct = 0;
  int top = 0;  // where the item starts in the desktop
} g;

int Scale(int n) { return (n * ScreenDpi() + 48) / 96; }

std::string HostFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

void SetDword(HKEY key, const WCHAR* name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void SetString(HKEY key, const WCHAR* name, const std::u16string& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
}

std::u16string GetString(HKEY key, const WCHAR* name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size < 2) return {};
  std::u16string value(size / 2, u'\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
    return {};
  return std::u16string(value.c_str());
}

// The item's entry, written when missing; the library's device path.
std::u16string ItemEntry() {
  const std::u16string path = std::u16string(kTodayItemsKey) + u"\\" + kItemName;
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition) != ERROR_SUCCESS)
    return kItemLibrary;
  if (disposition == REG_CREATED_NEW_KEY) {
    SetString(key, u"DLL", kItemLibrary);
    SetDword(key, u"Type", TLIT_CUSTOM);
    SetDword(key, u"Enabled", 1);
    SetDword(key, u"Options", 1);
    SetDword(key, u"Order", 0);
    SetDword(key, u"Selectability", 2);
    Log("registered");
  }
  std::u16string dll = GetString(key, u"DLL");
  RegCloseKey(key);
  return dll.empty() ? kItemLibrary : dll;
}

void PlaceItem() {
  if (!g.item.hwndCustom) return;
  RECT client{};
  GetClientRect(g.desktop, &client);
  SetWindowPos(g.item.hwndCustom, nullptr, 0, g.top, client.right, static_cast<int>(g.item.cyp), SWP_NOZORDER);
  InvalidateRect(g.item.hwndCustom, nullptr, FALSE);
}

void QueryItemHeight() {
  if (!g.item.hwndCustom) return;
  if (SendMessageW(g.item.hwndCustom, WM_TODAYCUSTOM_QUERYREFRESHCACHE, 0, reinterpret_cast<LPARAM>(&g.item)) == 1) {
    PlaceItem();
    Log("height %u", static_cast<unsigned>(g.item.cyp));
  }
}

// The background behind the items: a soft vertical wash over the whole
// screen, so an item's watermark matches the desktop around it.
COLORREF WashAt(int screenY) {
  const int h = std::max(1, GetSystemMetrics(SM_CYSCREEN));
  const int t = std::clamp(screenY, 0, h) * 255 / h;
  return RGB(255 - t / 8, 255 - t / 10, 255);
}

void PaintWash(HDC dc, const RECT& rect, int screenTop) {
  for (int y = rect.top; y < rect.bottom; ++y) {
    HBRUSH brush = CreateSolidBrush(WashAt(screenTop + (y - rect.top)));
    RECT line{rect.left, y, rect.right, y + 1};
    FillRect(dc, &line, brush);
    DeleteObject(brush);
  }
}

void ShowOptions() {
  auto proc = reinterpret_cast<PFN_CustomItemOptionsDlgProc>(
      GetProcAddress(g.library, kTodayCustomItemOptionsDlgProc));
  if (!proc) return;
  // An empty dialog: the item's procedure starts its options program at
  // WM_INITDIALOG and ends the dialog at once.
  struct {
    DLGTEMPLATE head;
    WORD menu, cls, title;
  } dialog{{WS_POPUP, 0, 0, 0, 0, 10, 10}, 0, 0, 0};
  DialogBoxIndirectParamW(nullptr, &dialog.head, g.desktop, reinterpret_cast<DLGPROC>(proc), 0);
  Log("options");
}

void Select(bool selected, WPARAM key) {
  if (!g.item.hwndCustom || g.selected == selected) return;
  g.selected = selected;
  SendMessageW(g.item.hwndCustom, selected ? WM_TODAYCUSTOM_RECEIVEDSELECTION : WM_TODAYCUSTOM_LOSTSELECTION, key, 0);
}

void OnKey(WPARAM key) {
  if (!g.item.hwndCustom) return;
  if (key == VK_RETURN || key == kVkAction) {
    if (!g.selected) Select(true, 0);
    SendMessageW(g.item.hwndCustom, WM_TODAYCUSTOM_ACTION, 0, 0);
    return;
  }
  if (key != VK_UP && key != VK_DOWN && key != VK_LEFT && key != VK_RIGHT) return;
  if (!g.selected) {
    if (key == VK_UP || key == VK_DOWN) Select(true, key);
    return;
  }
  // The item keeps the keys it uses; otherwise the selection leaves it.
  if (SendMessageW(g.item.hwndCustom, WM_TODAYCUSTOM_USERNAVIGATION, key, 0) == 0 && (key == VK_UP || key == VK_DOWN))
    Select(false, 0);
}

void UnloadItem();

LRESULT DesktopProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g.unloadProduct && msg != 0) {
    const bool held = g.library != nullptr;
    UnloadItem();
    g.selected = false;
    InvalidateRect(hwnd, nullptr, FALSE);
    return held ? hosts::kUnloadDone : hosts::kUnloadHeldNone;
  }
  if (msg == g.metricChange && msg != 0) {
    // Font size changed: every item hears it too.
    if (g.item.hwndCustom) SendMessageW(g.item.hwndCustom, msg, wParam, lParam);
    QueryItemHeight();
    return 0;
  }
  switch (msg) {
    case TODAYM_GETCOLOR:
      switch (static_cast<DWORD>(wParam)) {
        case TODAYCOLOR_TEXT: return RGB(0, 0, 0);
        case TODAYCOLOR_HIGHLIGHT: return RGB(0x31, 0x6A, 0xC5);
        case TODAYCOLOR_HIGHLIGHTEDTEXT: return RGB(255, 255, 255);
        default: return RGB(0, 0, 0);
      }
    case TODAYM_DRAWWATERMARK: {
      auto* info = reinterpret_cast<TODAYDRAWWATERMARKINFO*>(lParam);
      if (!info || !info->hdc) return 0;
      RECT window{};
      GetWindowRect(info->hwnd ? info->hwnd : hwnd, &window);
      PaintWash(info->hdc, info->rc, window.top + info->rc.top);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT client{};
      GetClientRect(hwnd, &client);
      RECT window{};
      GetWindowRect(hwnd, &window);
      PaintWash(dc, client, window.top);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0x20, 0x30, 0x60));
      RECT head{Scale(4), 0, client.right, g.top};
      DrawTextW(dc, u"Today", -1, &head, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
      // The soft key that opens the item's options.
      RECT key{client.right - Scale(60), client.bottom - Scale(20), client.right, client.bottom};
      DrawTextW(dc, u"Options", -1, &key, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONUP: {
      RECT client{};
      GetClientRect(hwnd, &client);
      if (GET_X_LPARAM(lParam) >= client.right - Scale(60) && GET_Y_LPARAM(lParam) >= client.bottom - Scale(20))
        PostMessageW(hwnd, WM_COMMAND, kOptionsCommand, 0);
      else
        Select(false, 0);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kOptionsCommand) ShowOptions();
      return 0;
    case WM_KEYDOWN:
      OnKey(wParam);
      return 0;
    case WM_TIMER:
      if (wParam == kRefreshTimer) QueryItemHeight();
      return 0;
    case kRefreshNow:
      QueryItemHeight();
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd, kRefreshTimer);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// The Done button: the foreground window that asked the shell for one (any
// program's) is offered "ok" at the right of the task bar; a tap ends it with OK.
constexpr UINT_PTR kDoneTimer = 2;
constexpr UINT kDoneCheckMs = 200;
HWND g_doneTarget = nullptr;

HWND DoneTarget() {
  HWND fg = GetForegroundWindow();
  if (!fg || !IsWindowVisible(fg)) return nullptr;
  return SHGetDoneButtonState(fg) == SHDB_SHOW ? fg : nullptr;
}

RECT DoneRect(HWND bar) {
  RECT client{};
  GetClientRect(bar, &client);
  return RECT{client.right - Scale(36), 0, client.right, client.bottom};
}

LRESULT TaskBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam == kDoneTimer) {
    HWND target = DoneTarget();
    if (target != g_doneTarget) {
      g_doneTarget = target;
      Log("done %u", static_cast<unsigned>(HandleToValue(target)));
      InvalidateRect(hwnd, nullptr, FALSE);
    }
    return 0;
  }
  // "ok" pressed and released on it ends the window offered at the press.
  static HWND pressed = nullptr;
  if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP) {
    const RECT ok = DoneRect(hwnd);
    const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const bool onOk = at.x >= ok.left && at.x < ok.right;
    if (msg == WM_LBUTTONDOWN) {
      pressed = onOk ? g_doneTarget : nullptr;
    } else {
      if (pressed && onOk && IsWindow(pressed)) {
        PostMessageW(pressed, WM_COMMAND, IDOK, 0);
        Log("ok");
      }
      pressed = nullptr;
    }
    return 0;
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client{};
    GetClientRect(hwnd, &client);
    HBRUSH brush = CreateSolidBrush(RGB(0x10, 0x30, 0x70));
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    if (g.plugin) {
      RECT icon{client.right - client.bottom, 0, client.right, client.bottom};
      g.plugin->PaintTabIcon(dc, &icon);
    }
    if (g.tabIcon) DrawIconEx(dc, Scale(4), (client.bottom - Scale(11)) / 2, g.tabIcon, Scale(12), Scale(11), 0, nullptr, DI_NORMAL);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT text{Scale(20), 0, client.right, client.bottom};
    DrawTextW(dc, u"Start", -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (g_doneTarget) {
      RECT ok = DoneRect(hwnd);
      InflateRect(&ok, -Scale(3), -Scale(3));
      HBRUSH okBrush = CreateSolidBrush(RGB(0x30, 0x60, 0xB0));
      FillRect(dc, &ok, okBrush);
      DeleteObject(okBrush);
      DrawTextW(dc, u"ok", -1, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool RegisterClassOf(const WCHAR* name, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.lpszClassName = name;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  return RegisterClassW(&wc) != 0;
}

void LoadItem() {
  const std::u16string dll = ItemEntry();
  g.library = LoadLibraryW(dll.c_str());
  if (!g.library) {
    Log("load-failed %u", static_cast<unsigned>(GetLastError()));
    return;
  }
  std::u16string name(kItemName);
  std::memcpy(g.item.szName, name.c_str(), std::min<std::size_t>(name.size(), 31) * sizeof(char16_t));
  g.item.type = TLIT_CUSTOM;
  g.item.fEnabled = TRUE;
  g.item.fOptions = TRUE;
  g.item.hinstDLL = g.library;
  std::memcpy(g.item.szDLLPath, dll.c_str(), std::min<std::size_t>(dll.size(), MAX_PATH - 1) * sizeof(char16_t));
  if (g.smart) {
    if (auto get = reinterpret_cast<PFN_GetSmartPluginInterface>(GetProcAddress(g.library, kTodayGetSmartPluginInterface))) {
      if (get(0, &g.plugin) == 0 && g.plugin) g.plugin->SetHostValues(1, Scale(16), Scale(16));
    }
    if (auto icon = reinterpret_cast<PFN_GetTabIconEx>(GetProcAddress(g.library, kTodayGetTabIconEx))) g.tabIcon = icon();
    if (auto init = reinterpret_cast<PFN_InitializeEmbeddedItem>(GetProcAddress(g.library, kTodayInitializeEmbeddedItem)))
      g.item.hwndCustom = init(0, &g.item, g.desktop);
  } else if (auto init = reinterpret_cast<PFN_InitializeCustomItem>(GetProcAddress(g.library, kTodayInitializeCustomItem))) {
    g.item.hwndCustom = init(&g.item, g.desktop);
  }
  Log("item %u", static_cast<unsigned>(HandleToValue(g.item.hwndCustom)));
}

void UnloadItem() {
  if (!g.library && !g.item.hwndCustom) return;
  if (g.item.hwndCustom) DestroyWindow(g.item.hwndCustom);
  g.item.hwndCustom = nullptr;
  if (g.plugin) g.plugin->Release();
  g.plugin = nullptr;
  if (g.tabIcon) DestroyIcon(g.tabIcon);
  g.tabIcon = nullptr;
  if (g.library) FreeLibrary(g.library);
  g.library = nullptr;
  Log("unloaded");
}

}  // namespace

int main(int argc, char** argv) {
  const char* logPath = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--log") logPath = argv[i + 1];
    else if (a == "--mode") g.smart = std::string(argv[i + 1]) == "smart";
    else return 2;
  }
  if (logPath) g_log = std::fopen(logPath, "a");
  MountFolder(u"\\Program Files\\Orv News", HostFolder(), false);
  SetProgramDevicePath(u"\\Windows\\shell32.exe");
  g.metricChange = RegisterWindowMessageW(SH_UIMETRIC_CHANGE);
  g.unloadProduct = RegisterWindowMessageW(hosts::kUnloadProductMessage);

  if (!RegisterClassOf(kDesktopClass, DesktopProc) || !RegisterClassOf(kTaskBarClass, TaskBarProc) ||
      !RegisterClassOf(kSipButtonClass, DefWindowProcW))
    return 3;
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  const int bar = Scale(26);
  g.top = Scale(20);
  g.desktop = CreateWindowExW(0, kDesktopClass, u"Desktop", WS_VISIBLE, 0, bar, width, height - bar, nullptr, nullptr,
                              nullptr, nullptr);
  // A tap on the task bar leaves the foreground window where it is (its
  // "ok" ends that window).
  g.taskBar = CreateWindowExW(WS_EX_NOACTIVATE, kTaskBarClass, u"", WS_VISIBLE, 0, 0, width, bar, nullptr, nullptr,
                              nullptr, nullptr);
  g.sipButton = CreateWindowExW(0, kSipButtonClass, u"", WS_VISIBLE, width / 2 - Scale(18), height - Scale(20),
                                Scale(36), Scale(20), nullptr, nullptr, nullptr, nullptr);
  if (!g.desktop || !g.taskBar || !g.sipButton) return 4;
  // Programs already full screen move below the new bar.
  PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  SetForegroundWindow(g.desktop);
  SetFocus(g.desktop);
  Log("ready %u", static_cast<unsigned>(HandleToValue(g.desktop)));

  LoadItem();
  QueryItemHeight();
  SetTimer(g.desktop, kRefreshTimer, kRefreshMs, nullptr);
  SetTimer(g.taskBar, kDoneTimer, kDoneCheckMs, nullptr);

  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  UnloadItem();
  if (g.taskBar) DestroyWindow(g.taskBar);
  if (g.sipButton) DestroyWindow(g.sipButton);
  // Without the bar the work area is the whole screen again.
  PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  Log("exit");
  return 0;
}
