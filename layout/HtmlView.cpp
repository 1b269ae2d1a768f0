#include "layout/HtmlView.h"

#include "core/RegisteredMessages.h"
#include "layout/OwnControls.h"
#include "platform/base/Module.h"
#include "platform/base/Time.h"
#include "platform/htmlview/HtmlView.h"

namespace {

constexpr const char16_t* kSelfProp = u"OrvHtmlView";
constexpr plat::DWORD kViewerStyle = 0x54000002;
constexpr plat::DWORD kExtraStyleBit = 0x10;

// Registers the viewer's window classes through the viewer library's first
// ordinal, as any program using the control does.
bool InitViewerClass() {
  plat::HMODULE module = plat::LoadLibraryW(u"htmlview.dll");
  if (!module) return false;
  auto init = reinterpret_cast<plat::BOOL (*)(plat::HINSTANCE)>(
      plat::GetProcAddress(module, reinterpret_cast<const char*>(1)));
  return init && init(plat::GetModuleHandleW(nullptr));
}

}  // namespace

HtmlView::HtmlView() = default;

HtmlView::~HtmlView() {
  plat::HWND window = window_;
  Unsubclass();
  if (window && plat::IsWindow(window)) plat::DestroyWindow(window);
}

plat::HWND HtmlView::CreateViewerWindow(plat::HWND parent, plat::DWORD style) {
  if (!InitViewerClass()) return nullptr;
  return CreateHtmlViewer(parent, nullptr, style, kControlId);
}

bool HtmlView::Create(plat::HWND parent) {
  if (window_) return false;
  plat::HWND window = CreateViewerWindow(parent, kViewerStyle | (extraStyle_ ? kExtraStyleBit : 0));
  if (!window) return false;
  // The control makes its inner window itself; a control that never does
  // is given up after a bounded wait.
  plat::HWND inner = plat::GetWindow(window, plat::GW_CHILD);
  for (int poll = 0; !inner && poll < kInnerWindowPolls; ++poll) {
    plat::CurrentClock().Sleep(kInnerWindowPollMs);
    inner = plat::GetWindow(window, plat::GW_CHILD);
  }
  if (!inner) {
    plat::DestroyWindow(window);
    return false;
  }
  window_ = window;
  inner_ = inner;
  plat::SetPropW(window, kSelfProp, reinterpret_cast<plat::HANDLE>(this));
  viewerProc_ = reinterpret_cast<plat::WNDPROC>(
      plat::SetWindowLongW(window, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&HtmlView::Proc)));
  plat::SetWindowLongW(window, plat::GWL_ID, kControlId);
  plat::SetFocus(window);
  plat::SendMessageW(window, plat::DTM_CLEAR, 0, 0);
  plat::SendMessageW(window, plat::DTM_ENABLECONTEXTMENU, 0, 1);
  plat::SendMessageW(window, plat::DTM_ENABLESCRIPTING, 0, 0);
  return true;
}

void HtmlView::Unsubclass() {
  if (window_ && plat::IsWindow(window_)) {
    plat::RemovePropW(window_, kSelfProp);
    if (viewerProc_ && reinterpret_cast<plat::WNDPROC>(plat::GetWindowLongW(window_, plat::GWL_WNDPROC)) ==
                           &HtmlView::Proc)
      plat::SetWindowLongW(window_, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(viewerProc_));
  }
  window_ = nullptr;
  inner_ = nullptr;
}

void HtmlView::SetText() {
  if (busy_ != 0) {
    reloadPending_ = true;
    return;
  }
  reloadPending_ = false;
  if (!window_) return;
  OnBeforeSetText();
  EnterBusy();
  // The control's notifications run inside these sends and may store a newer
  // text meanwhile; this replacement hands over the text it began with.
  const std::u16string text = text_;
  plat::SendMessageW(window_, plat::DTM_CLEAR, 0, 0);
  plat::SendMessageW(window_, plat::DTM_ADDTEXTW, 0, reinterpret_cast<plat::LPARAM>(text.c_str()));
  plat::SendMessageW(window_, plat::DTM_ENDOFSOURCE, 0, 0);
  --busy_;
  OnAfterSetText();
  PostPendingReload();
}

void HtmlView::ShowText(const std::u16string& text) {
  text_ = text;
  if (window_) plat::PostMessageW(window_, GetRegisteredMessages().htmlCtrlReload, 0, 0);
}

void HtmlView::LeaveBusy() {
  if (busy_ > 0) --busy_;
  PostPendingReload();
}

void HtmlView::PostPendingReload() {
  if (busy_ == 0 && reloadPending_) {
    reloadPending_ = false;
    if (window_) plat::PostMessageW(window_, GetRegisteredMessages().htmlCtrlReload, 0, 0);
  }
}

plat::LRESULT HtmlView::CallViewerProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (!window_) return 0;
  return viewerProc_ ? plat::CallWindowProcW(viewerProc_, window_, msg, wParam, lParam)
                     : plat::DefWindowProcW(window_, msg, wParam, lParam);
}

bool HtmlView::ProcessWindowMessage(plat::HWND, plat::UINT msg, plat::WPARAM, plat::LPARAM lParam,
                                    plat::LRESULT& result) {
  const plat::UINT reload = GetRegisteredMessages().htmlCtrlReload;
  if (reload != 0 && msg == reload) {
    SetText();
    result = 0;
    return true;
  }
  if (msg == plat::WM_CONTEXTMENU ||
      (msg == plat::WM_NOTIFY && lParam &&
       reinterpret_cast<const plat::NMHDR*>(lParam)->code == plat::NM_CONTEXTMENU)) {
    result = 1;  // the control shows no menu of its own
    return true;
  }
  return false;
}

plat::LRESULT HtmlView::Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto* self = reinterpret_cast<HtmlView*>(plat::GetPropW(hwnd, kSelfProp));
  if (!self) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  plat::LRESULT result = 0;
  if (msg != plat::WM_NCDESTROY && self->ProcessWindowMessage(hwnd, msg, wParam, lParam, result)) return result;
  const plat::WNDPROC proc = self->viewerProc_;
  if (msg == plat::WM_NCDESTROY) {
    self->Unsubclass();
    self->OnViewerDestroyed();
  }
  return proc ? plat::CallWindowProcW(proc, hwnd, msg, wParam, lParam)
              : plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}
