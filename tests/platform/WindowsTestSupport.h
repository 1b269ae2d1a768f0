// Helpers of the window manager tests: a class registered once per process
// and a window that paints itself white (their message loop is
// tests/support/Pump.h).
#pragma once

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

}  // namespace wmtest
