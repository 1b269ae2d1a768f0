#include "layout/PPCDialog.h"

#include <vector>

#include "core/Localizer.h"
#include "layout/DialogFontCache.h"
#include "layout/DialogTitle.h"
#include "layout/InputPanel.h"
#include "layout/OwnControls.h"
#include "layout/UiKitModule.h"
#include "layout/WindowHelpers.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/controls/StandardControls.h"
#include "platform/resources/Resources.h"

namespace {

constexpr const char16_t* kSelfProp = u"OrvPPCDialog";
constexpr plat::UINT kReposition = plat::WM_USER + 2;  // DM_REPOSITION
constexpr plat::WPARAM kScClose = 0xF060;
constexpr plat::DWORD kErrorOutOfMemory = 14;
constexpr int kNotifyConsumedA = -16;
constexpr int kNotifyConsumedB = -50;

std::u16string WindowText(plat::HWND window, int maxChars) {
  std::vector<char16_t> text(static_cast<std::size_t>(maxChars) + 1);
  plat::GetWindowTextW(window, text.data(), maxChars + 1);
  return text.data();
}

plat::COLORREF TitleColour() {
  return plat::GetSysColor(IsModernPocketPC() ? plat::COLOR_MENUTEXT : plat::COLOR_HIGHLIGHT);
}

// A dialog template with no items: popup, visible, the empty title.
struct EmptyTemplate {
  plat::DLGTEMPLATE header{plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 0, 0, 0, 0};
  plat::WORD menu = 0, cls = 0, title = 0;
};

}  // namespace

PPCDialogBase::~PPCDialogBase() {
  if (hwnd_ && plat::IsWindow(hwnd_)) plat::RemovePropW(hwnd_, kSelfProp);
}

plat::INT_PTR PPCDialogBase::DialogProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto* self = reinterpret_cast<PPCDialogBase*>(plat::GetPropW(hwnd, kSelfProp));
  if (msg == plat::WM_INITDIALOG) {
    self = reinterpret_cast<PPCDialogBase*>(lParam);
    if (!self) return 0;
    self->hwnd_ = hwnd;
    plat::SetPropW(hwnd, kSelfProp, reinterpret_cast<plat::HANDLE>(self));
  }
  if (!self) return 0;
  if (msg == plat::WM_NCDESTROY) {
    plat::RemovePropW(hwnd, kSelfProp);
    self->hwnd_ = nullptr;
    return 0;
  }
  plat::LRESULT result = 0;
  if (!self->ProcessWindowMessage(hwnd, msg, wParam, lParam, result)) return 0;
  switch (msg) {
    case plat::WM_INITDIALOG:
    case plat::WM_CTLCOLORSTATIC:
      return result;
    default:
      plat::SetWindowLongW(hwnd, plat::DWL_MSGRESULT, result);
      return 1;
  }
}

bool PPCDialogBase::ProcessWindowMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                                         plat::LRESULT& result) {
  hwnd_ = hwnd;
  switch (msg) {
    case plat::WM_NOTIFY: {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      const int code = header ? static_cast<int>(header->code) : 0;
      if (code == kNotifyConsumedA || code == kNotifyConsumedB) {
        result = 0;
        return true;
      }
      // Check lists of the dialog get their clicks and keys back.
      if (HandleCheckListNotify(header)) {
        result = 0;
        return true;
      }
      break;
    }
    case plat::WM_GETDLGCODE:
      result = plat::DLGC_WANTALLKEYS;
      return true;
    case plat::WM_INITDIALOG:
      result = OnInitDialog() ? 1 : 0;
      return true;
    case plat::WM_PAINT:
      if (!HasHeader()) break;
      OnPaint(nullptr);
      result = 0;
      return true;
    case plat::WM_COMMAND:
      if (plat::LOWORD(wParam) == plat::IDOK) {
        result = OnOK();
        return true;
      }
      if (plat::LOWORD(wParam) == plat::IDCANCEL) {
        result = OnCancel();
        return true;
      }
      break;
    default: break;
  }
  if (ProcessDerivedMessage(hwnd, msg, wParam, lParam, result)) return true;
  return ProcessBaseMessage(msg, wParam, lParam, result);
}

bool PPCDialogBase::ProcessBaseMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                                       plat::LRESULT& result) {
  switch (msg) {
    case plat::WM_SETTINGCHANGE:
      // The input panel moved, or the shell's task bar came or went: the
      // dialog takes the visible desktop again.
      if (wParam != plat::SPI_SETSIPINFO && wParam != plat::SPI_SETWORKAREA) return false;
      FitToInputPanel();
      result = 0;
      return true;
    case plat::WM_CTLCOLORSTATIC: {
      auto control = reinterpret_cast<plat::HWND>(lParam);
      if (plat::GetDlgCtrlID(control) != kCaptionControlId) return false;
      plat::SetBkMode(reinterpret_cast<plat::HDC>(wParam), plat::TRANSPARENT);
      plat::HBRUSH brush = plat::GetSysColorBrush(24);
      result = reinterpret_cast<plat::LRESULT>(brush ? brush : plat::GetSysColorBrush(plat::COLOR_STATIC));
      return true;
    }
    case plat::WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != kScClose || !(flags_ & kCloseOnSysCommand)) return false;
      plat::PostMessageW(hwnd_, plat::WM_CLOSE, 0, 0);
      result = 0;
      return true;
    case plat::WM_COMMAND: {
      const int id = plat::LOWORD(wParam);
      if (id == plat::IDOK || id == plat::IDCANCEL) {
        EndWith(id);
      } else if (id == kSoftKeyOk) {
        EndWith(plat::IDOK);
      } else if (id == kSoftKeyCancel) {
        EndWith(plat::IDCANCEL);
      } else {
        return false;
      }
      result = 0;
      return true;
    }
    default: return false;
  }
}

bool PPCDialogBase::OnInitDialog() {
  plat::SHINITDLGINFO info{plat::SHIDIM_FLAGS, hwnd_, modeless_ ? kModelessDialogFlags : kModalDialogFlags};
  plat::SHInitDialog(&info);
  GetDialogFontCache().ApplyToDialog(hwnd_);
  if (HasHeader()) {
    plat::SetWindowTextW(hwnd_, title_.c_str());
    MoveChildrenBy(hwnd_, GetDialogHeaderHeight());
  }
  ModifyStyle(hwnd_, plat::WS_VSCROLL, 0, 0);
  OnInit();
  CreateSipPrefWindow(hwnd_);
  plat::SendMessageW(hwnd_, kReposition, 1, 1);
  return true;
}

void PPCDialogBase::OnPaint(plat::HDC given) {
  plat::PAINTSTRUCT ps{};
  plat::HDC dc = given ? given : plat::BeginPaint(hwnd_, &ps);
  const std::u16string title = WindowText(hwnd_, 40);
  DrawDialogTitle(dc, title, GetDialogHeaderHeight(), -GetScrollPosition(hwnd_, plat::SB_VERT), nullptr,
                  TitleColour());
  plat::HGDIOBJ old = plat::SelectObject(dc, GetDialogFontCache().GetFont(true));
  plat::GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &titleExtent_);
  plat::SelectObject(dc, old);
  if (!given) plat::EndPaint(hwnd_, &ps);
}

void PPCDialogBase::OnDoneKey(int mode) {
  if (mode == 0) plat::PostMessageW(hwnd_, plat::WM_COMMAND, plat::IDCANCEL, 0);
  else if (mode == 1) plat::SHDoneButton(hwnd_, plat::SHDB_SHOW);
}

bool PPCDialogBase::CreateMenuBar(plat::UINT menuId) {
  if (menuBar_ && plat::IsWindow(menuBar_)) plat::DestroyWindow(menuBar_);
  menuBar_ = ::CreateMenuBar(hwnd_, plat::SHCMBF_HMENU, menuId, 0, 0, 0);
  if (menuBar_) GetLocalizer().LocalizeMenuBar(menuBar_, true);
  return menuBar_ != nullptr;
}

bool PPCDialogBase::RouteSoftKeysToOkAndCancel(plat::WPARAM wParam, plat::LRESULT& result) {
  if (plat::LOWORD(wParam) == kSoftKeyOk) {
    result = OnOK();
    return true;
  }
  if (plat::LOWORD(wParam) == kSoftKeyCancel) {
    result = OnCancel();
    return true;
  }
  return false;
}

plat::LRESULT PPCDialogBase::OnOK() {
  EndWith(plat::IDOK);
  return 0;
}

plat::LRESULT PPCDialogBase::OnCancel() {
  EndWith(plat::IDCANCEL);
  return 0;
}

void PPCDialogBase::EndWith(int result) {
  if (!hwnd_) return;
  if (!modeless_) {
    plat::EndDialog(hwnd_, result);
    return;
  }
  // A modeless dialog cannot be ended: it is hidden and destroyed.
  plat::ShowWindow(hwnd_, plat::SW_HIDE);
  plat::DestroyWindow(hwnd_);
}

void PPCDialogBase::FitToInputPanel() {
  plat::SIPINFO info{};
  info.cbSize = sizeof info;
  if (!plat::SHSipInfo(plat::SPI_GETSIPINFO, 0, &info, 0)) return;
  plat::RECT r = info.rcVisibleDesktop;
  if (!(info.fdwFlags & plat::SIPF_ON)) r.bottom = info.rcSipRect.bottom;
  plat::MoveWindow(hwnd_, r.left, r.top, r.right - r.left, r.bottom - r.top, 1);
}

plat::INT_PTR CPPCDialogImpl::DoModal(plat::HWND parent, const plat::DLGTEMPLATE* dialogTemplate,
                                      plat::LPARAM parameter) {
  initParam_ = parameter;
  return plat::DialogBoxIndirectParamW(GetUiKitModule(), dialogTemplate, parent, &PPCDialogBase::DialogProc,
                                       reinterpret_cast<plat::LPARAM>(static_cast<PPCDialogBase*>(this)));
}

plat::INT_PTR CPPCDialogImpl::DoModal(plat::HWND parent, plat::UINT resourceId, plat::LPARAM parameter) {
  initParam_ = parameter;
  return plat::DialogBoxParamW(GetUiKitModule(), plat::MAKEINTRESOURCEW(resourceId), parent,
                               &PPCDialogBase::DialogProc,
                               reinterpret_cast<plat::LPARAM>(static_cast<PPCDialogBase*>(this)));
}

CPPCModelessDialogImpl::~CPPCModelessDialogImpl() {
  if (hwnd_ && plat::IsWindow(hwnd_)) plat::DestroyWindow(hwnd_);
}

plat::HWND CPPCModelessDialogImpl::Create(plat::HWND parent, const plat::DLGTEMPLATE* dialogTemplate,
                                          plat::LPARAM parameter) {
  initParam_ = parameter;
  return plat::CreateDialogIndirectParamW(GetUiKitModule(), dialogTemplate, parent, &PPCDialogBase::DialogProc,
                                          reinterpret_cast<plat::LPARAM>(static_cast<PPCDialogBase*>(this)));
}

plat::HWND CPPCModelessDialogImpl::Create(plat::HWND parent, plat::UINT resourceId, plat::LPARAM parameter) {
  initParam_ = parameter;
  return plat::CreateDialogParamW(GetUiKitModule(), plat::MAKEINTRESOURCEW(resourceId), parent,
                                  &PPCDialogBase::DialogProc,
                                  reinterpret_cast<plat::LPARAM>(static_cast<PPCDialogBase*>(this)));
}

bool InitFullScreenDialog(plat::HWND dialog) {
  plat::SHINITDLGINFO info{plat::SHIDIM_FLAGS, dialog, kModalDialogFlags};
  return plat::SHInitDialog(&info) != 0;
}

bool AnswerDisableScrollBar(plat::HWND page, plat::UINT message, plat::UINT msg, plat::LRESULT& result) {
  if (message == 0 || msg != message) return false;
  ModifyStyle(page, plat::WS_VSCROLL, 0, plat::SWP_FRAMECHANGED);
  result = 1;
  return true;
}

plat::INT_PTR RunModalEmptyDialog(CPPCDialogImpl& dialog, plat::HWND parent, plat::LPARAM parameter) {
  const plat::INT_PTR result = dialog.DoModal(parent, kEmptyDialogId, parameter);
  if (result == -1) plat::SetLastError(kErrorOutOfMemory);
  return result;
}

plat::INT_PTR RunEmptyTemplateDialog(CPPCDialogImpl& dialog, plat::HWND parent) {
  static const EmptyTemplate empty;
  const plat::INT_PTR result = dialog.DoModal(parent, &empty.header);
  if (result == -1) plat::SetLastError(kErrorOutOfMemory);
  return result;
}

void DialogHeader::Paint(plat::HWND window, plat::HDC dc) {
  DrawDialogTitle(dc, WindowText(window, 48), GetDialogHeaderHeight(), 0, nullptr, TitleColour());
}
