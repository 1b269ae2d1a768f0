#include "layout/VekActionKey.h"

namespace {
constexpr const char16_t* kOldProcProp = u"CVekActionKey_pszOldWndProcProp";
}

bool CVekActionKey::Attach(plat::HWND window) {
  if (!plat::IsWindow(window) || plat::GetPropW(window, kOldProcProp)) return false;
  const plat::LONG_PTR old = plat::GetWindowLongW(window, plat::GWL_WNDPROC);
  plat::SetPropW(window, kOldProcProp, reinterpret_cast<plat::HANDLE>(old));
  plat::SetWindowLongW(window, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&CVekActionKey::HookProc));
  return true;
}

plat::LRESULT CVekActionKey::HookProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto old = reinterpret_cast<plat::WNDPROC>(plat::GetPropW(hwnd, kOldProcProp));
  if (msg == plat::WM_GETDLGCODE) return plat::DLGC_WANTALLKEYS;
  if (!old) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == plat::WM_NCDESTROY) {
    plat::RemovePropW(hwnd, kOldProcProp);
    plat::SetWindowLongW(hwnd, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(old));
  }
  return plat::CallWindowProcW(old, hwnd, msg, wParam, lParam);
}
