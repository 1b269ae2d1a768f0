#include "layout/ColoredStatic.h"

#include <vector>

#include "layout/OwnControls.h"
#include "layout/ScreenScale.h"
#include "platform/controls/StandardControls.h"

namespace {
constexpr const char16_t* kSelfProp = u"OrvColoredStatic";
}

ColoredStatic::ColoredStatic() : brush_(plat::CreateSolidBrush(plat::GetSysColor(plat::COLOR_STATIC))) {}

ColoredStatic::~ColoredStatic() {
  if (window_ && plat::IsWindow(window_)) {
    plat::RemovePropW(window_, kSelfProp);
    plat::SetWindowLongW(window_, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(proc_));
  }
  if (brush_) plat::DeleteObject(brush_);
}

bool ColoredStatic::SubclassWindow(plat::HWND window) {
  if (window_ || !plat::IsWindow(window)) return false;
  window_ = window;
  std::vector<char16_t> text(static_cast<std::size_t>(plat::GetWindowTextLengthW(window)) + 1);
  plat::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text_ = text.data();
  plat::SetPropW(window, kSelfProp, reinterpret_cast<plat::HANDLE>(this));
  proc_ = reinterpret_cast<plat::WNDPROC>(
      plat::SetWindowLongW(window, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&ColoredStatic::Proc)));
  return true;
}

plat::HWND ColoredStatic::Create(plat::HWND parent, const plat::RECT& rect, const std::u16string& text, int id) {
  plat::HWND label = CreateLabel(parent, &rect, text, 0, 0, id);
  if (!label || !SubclassWindow(label)) return nullptr;
  return label;
}

void ColoredStatic::SetText(const std::u16string& text) {
  text_ = text;
  if (window_) {
    plat::SetWindowTextW(window_, text.c_str());
    plat::InvalidateRect(window_, nullptr, 0);
  }
}

bool ColoredStatic::ProcessWindowMessage(plat::HWND, plat::UINT msg, plat::WPARAM, plat::LPARAM,
                                         plat::LRESULT& result) {
  if (msg != plat::WM_PAINT) return false;
  Paint();
  result = 0;
  return true;
}

void ColoredStatic::Paint() {
  plat::PAINTSTRUCT ps{};
  plat::HDC dc = plat::BeginPaint(window_, &ps);
  plat::RECT r{};
  plat::GetClientRect(window_, &r);
  plat::FillRect(dc, &r, brush_);
  auto font = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(window_, plat::WM_GETFONT, 0, 0));
  plat::HGDIOBJ old = font ? plat::SelectObject(dc, font) : nullptr;
  plat::SetBkMode(dc, plat::TRANSPARENT);
  plat::SetTextColor(dc, plat::GetSysColor(plat::COLOR_STATICTEXT));
  r.left += ScaleX(1);
  plat::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &r,
                  plat::DT_SINGLELINE | plat::DT_VCENTER | plat::DT_NOPREFIX);
  if (old) plat::SelectObject(dc, old);
  plat::EndPaint(window_, &ps);
}

plat::LRESULT ColoredStatic::Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto* self = reinterpret_cast<ColoredStatic*>(plat::GetPropW(hwnd, kSelfProp));
  if (!self) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  plat::LRESULT result = 0;
  if (self->ProcessWindowMessage(hwnd, msg, wParam, lParam, result)) return result;
  if (msg == plat::WM_SETTEXT && lParam) self->text_ = reinterpret_cast<const char16_t*>(lParam);
  const plat::WNDPROC proc = self->proc_;
  if (msg == plat::WM_NCDESTROY) {
    plat::RemovePropW(hwnd, kSelfProp);
    plat::SetWindowLongW(hwnd, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(proc));
    self->window_ = nullptr;
  }
  return plat::CallWindowProcW(proc, hwnd, msg, wParam, lParam);
}
