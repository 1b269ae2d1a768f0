// orv-fakemain: stands in for the main program in the service's whole-program
// tests while the main program cannot run yet. It registers the main
// program's hidden window class and answers as the main program does for an
// automatic update, writing what it receives to "<device>/fakemain.log":
//
//   start <command line>     at start
//   is-ui-open               the service asked whether the interface is open (answered 1)
//   update-now               the update-now message: "UpdateLocked" becomes 2, the update
//                            runs for one timer tick, then "UpdateLocked" is deleted
//   exit                     the program ends by itself after the update
//
// A full-screen main window (owned by the hidden window) paints itself red, so
// a test sees whether the program was sent to the back.
#include <string>

#include "core/RegisteredMessages.h"
#include "platform/base/Device.h"
#include "platform/base/Text.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"
#include "platform/windows/SystemMetrics.h"
#include "platform/windows/Windows.h"
#include "tests/apps/AppLog.h"

namespace {

using namespace plat;
using orvapp::Log;

constexpr const char16_t* kHiddenClass = u"A377667C-B302-4767-B9C5-EC5210805251";
constexpr const char16_t* kProductKey = u"SOFTWARE\\Orv Software House\\Orv News";
constexpr UINT_PTR kUpdateTimer = 888;
UINT g_isUiOpen = 0;
UINT g_updateNow = 0;

void SetLock(DWORD value, bool remove) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  if (remove) RegDeleteValueW(key, u"UpdateLocked");
  else RegSetValueExW(key, u"UpdateLocked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

LRESULT HiddenProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g_isUiOpen && g_isUiOpen) {
    Log("is-ui-open");
    return 1;
  }
  if (msg == g_updateNow && g_updateNow) {
    Log("update-now");
    SetLock(2, false);
    SetTimer(hwnd, kUpdateTimer, 50, nullptr);
    return 1;
  }
  if (msg == WM_TIMER && wParam == kUpdateTimer) {
    KillTimer(hwnd, kUpdateTimer);
    SetLock(0, true);
    PostQuitMessage(0);
    return 1;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r{};
    GetClientRect(hwnd, &r);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &r, red);
    DeleteObject(red);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  orvapp::OpenLog((DeviceRoot() + "/fakemain.log").c_str());
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  Log("start %s", line.c_str());
  g_isUiOpen = RegisterWindowMessageW(kMsgNameIsInterfaceOpen);
  g_updateNow = RegisterWindowMessageW(kMsgNameUpdateNow);
  WNDCLASSW wc{};
  wc.lpfnWndProc = HiddenProc;
  wc.lpszClassName = kHiddenClass;
  if (!RegisterClassW(&wc)) return 3;
  WNDCLASSW mc{};
  mc.lpfnWndProc = MainProc;
  mc.lpszClassName = u"OrvFakeMainWindow";
  if (!RegisterClassW(&mc)) return 3;
  HWND hidden = CreateWindowExW(0, kHiddenClass, u"Orv News", WS_CAPTION, -1, -1, 0, 0, nullptr, nullptr, nullptr,
                                nullptr);
  if (!hidden) return 4;
  ShowWindow(hidden, SW_SHOW);
  HWND main = CreateWindowExW(0, u"OrvFakeMainWindow", u"Orv News", WS_POPUP | WS_VISIBLE, 0, 0,
                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), hidden, nullptr, nullptr,
                              nullptr);
  if (!main) return 4;
  UpdateWindow(main);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  DestroyWindow(main);
  DestroyWindow(hidden);
  Log("exit");
  return 0;
}
