#include "layout/LayoutView.h"

#include <mutex>

#include "core/DebugLog.h"
#include "core/OrvException.h"
#include "layout/DataSources.h"
#include "layout/ScreenTransition.h"

using plat::HWND;
using plat::LPARAM;
using plat::LRESULT;
using plat::UINT;
using plat::WPARAM;

const char16_t* const LayoutView::kClassName = u"OrvLayoutView";

namespace {

constexpr std::int32_t kTransitionTimeMs = 1000;
constexpr int kForwardCode = 3;
constexpr int kBackwardCode = 4;
constexpr const char16_t* kObjectProp = u"OrvLayoutViewObject";

void RegisterViewClass(plat::WNDPROC proc) {
  static std::once_flag once;
  std::call_once(once, [proc] {
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = LayoutView::kClassName;
    wc.style = plat::CS_GLOBALCLASS;
    plat::RegisterClassW(&wc);
  });
}

}  // namespace

LayoutView::~LayoutView() {
  if (window_) plat::DestroyWindow(window_);
  // The manager stops its animation runner before it lets the effect and the
  // snapshot go.
  manager_.Reset();
}

HWND LayoutView::Create(HWND parent, const plat::RECT& rect, plat::DWORD style) {
  RegisterViewClass(&LayoutView::Proc);
  return plat::CreateWindowExW(0, kClassName, u"", style, rect.left, rect.top, rect.right - rect.left,
                               rect.bottom - rect.top, parent, nullptr, nullptr, this);
}

LRESULT LayoutView::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == plat::WM_NCCREATE) {
    const auto* create = reinterpret_cast<const plat::CREATESTRUCTW*>(lParam);
    if (create && create->lpCreateParams) {
      plat::SetPropW(hwnd, kObjectProp, reinterpret_cast<plat::HANDLE>(create->lpCreateParams));
    }
  }
  auto* view = reinterpret_cast<LayoutView*>(plat::GetPropW(hwnd, kObjectProp));
  if (!view) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  try {
    if (view->ProcessWindowMessage(hwnd, msg, wParam, lParam, result)) return result;
  } catch (const COrvException& e) {
    // Nothing escapes the window procedure: the message counts as handled.
    CDebugLog::GetInstance().Printf(u"LayoutView: message %u failed with 0x%08X\n", msg,
                                    static_cast<unsigned>(e.GetCode()));
    return 0;
  }
  if (msg == plat::WM_DESTROY) {
    plat::RemovePropW(hwnd, kObjectProp);
    view->window_ = nullptr;
  }
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}

void LayoutView::OnCreate() {
  if (manager_ && manager_->GetWindow() && plat::GetCapture() == manager_->GetWindow()) plat::ReleaseCapture();
  manager_ = CDialogManager::Create();
  manager_->SetWindow(window_);
  CComRef<CDataSource> blank(new CDataSource());
  ShowLayout(u"news_blank", blank.Get(), 0);
  plat::SetWindowTextW(window_, u"ZIS IS NUSE");
  plat::SetWindowLongW(window_, plat::GWL_STYLE, plat::GetWindowLongW(window_, plat::GWL_STYLE) | plat::WS_TABSTOP);
}

void LayoutView::ShowLayout(const std::u16string& name, plat::IUnknown* source, int direction,
                            std::shared_ptr<CBitmapBuffer> snapshot) {
  if (!manager_) return;
  if (direction != 0) {
    if (snapshot) {
      manager_->SetSnapshot(std::move(snapshot));
    } else {
      plat::SendMessageW(window_, WM_TRANSITION_PREPARE, 0, 0);
    }
  }
  // The screen stack keeps one screen: the new one replaces the shown one.
  manager_->LoadLayout(name, kShowReplace, source);
  if (direction != 0) {
    if (CRefPtr<XmlLayouts::CDialogContent> content = manager_->GetContent()) {
      content->DispatchEvent(kContentEventTransitionTime, kTransitionTimeMs, nullptr);
    }
    plat::SendMessageW(window_, WM_TRANSITION_START, direction > 0 ? kForwardCode : kBackwardCode, 0);
  }
}

void LayoutView::EndTransition() {
  if (manager_ && manager_->GetTransition()) manager_->EndTransition();
}

bool LayoutView::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  handled_ = true;
  result = 0;
  switch (msg) {
    case plat::WM_CREATE:
      window_ = hwnd;
      OnCreate();
      handled_ = false;
      break;
    case plat::WM_DESTROY:
      handled_ = false;
      break;
    case plat::WM_SIZE:
      if (manager_) manager_->SetViewSize(plat::LOWORD(lParam), plat::HIWORD(lParam));
      plat::InvalidateRect(hwnd, nullptr, plat::FALSE);
      handled_ = false;
      break;
    case plat::WM_PAINT:
      if (repaintAll_ && manager_) manager_->MarkStale();
      repaintAll_ = false;
      if (manager_) {
        manager_->OnPaint();
      } else {
        plat::ValidateRect(hwnd, nullptr);
      }
      break;
    case plat::WM_ERASEBKGND:
      result = 1;
      break;
    case plat::WM_SETTINGCHANGE:
      if (manager_) manager_->InvalidateView();
      break;
    case plat::WM_GETDLGCODE:
      result = plat::DLGC_WANTALLKEYS;
      break;
    case plat::WM_KEYDOWN:
      lastKey_ = static_cast<plat::WORD>(wParam);
      // Input meant for the screen that slides in: it is there at once.
      EndTransition();
      if (manager_) manager_->OnKeyDown(static_cast<std::int32_t>(wParam), 0);
      break;
    case plat::WM_LBUTTONDOWN:
      EndTransition();
      if (manager_) manager_->OnStylusDown(plat::GET_X_LPARAM(lParam), plat::GET_Y_LPARAM(lParam), false);
      break;
    case plat::WM_LBUTTONUP:
      if (manager_) manager_->OnStylusUp(plat::GET_X_LPARAM(lParam), plat::GET_Y_LPARAM(lParam));
      break;
    case WM_TRANSITION_FINISHED:
      if (manager_) manager_->EndTransition();
      break;
    case WM_TRANSITION_PREPARE:
      if (manager_) result = manager_->CaptureSnapshot() ? 1 : 0;
      break;
    case WM_TRANSITION_START:
      if (manager_) result = manager_->StartTransition(static_cast<int>(wParam), nullptr) ? 1 : 0;
      break;
    case WM_LAYOUT_REPAINT_ALL:
      repaintAll_ = true;
      // The next paint tells the content that its data changed (event 21
      // with 32868): lists count their rows again, sources re-read values.
      if (manager_) manager_->RequestRefresh();
      plat::InvalidateRect(hwnd, nullptr, plat::FALSE);
      break;
    default:
      handled_ = false;
      break;
  }
  return handled_;
}
