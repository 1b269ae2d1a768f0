// Helpers of the window manager tests: a class registered once per process,
// pumping until a condition holds (bounded by real time).
#pragma once

#include <chrono>
#include <functional>

#include "platform/windows/Windows.h"

namespace wmtest {

inline void EnsureClass(const char16_t* name, plat::WNDPROC proc, int extra = 0) {
  plat::WNDCLASSW wc{};
  if (plat::GetClassInfoW(nullptr, name, &wc)) return;
  wc.lpfnWndProc = proc;
  wc.cbWndExtra = extra;
  wc.lpszClassName = name;
  plat::RegisterClassW(&wc);
}

// Answers WM_PAINT by filling the window white; false for any other message.
inline bool PaintWhite(plat::HWND h, plat::UINT m) {
  if (m != plat::WM_PAINT) return false;
  plat::PAINTSTRUCT ps;
  plat::HDC dc = plat::BeginPaint(h, &ps);
  plat::RECT r;
  plat::GetClientRect(h, &r);
  plat::FillRect(dc, &r, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::WHITE_BRUSH)));
  plat::EndPaint(h, &ps);
  return true;
}

// Handles this thread's messages until done() or the limit passed.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    plat::MsgWaitForMultipleObjects(0, nullptr, plat::FALSE, 50, plat::QS_ALLINPUT);
    plat::MSG m;
    while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
      plat::TranslateMessage(&m);
      plat::DispatchMessageW(&m);
    }
  }
  return true;
}

}  // namespace wmtest
