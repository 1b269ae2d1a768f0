#include "app/dialogs/BrowseFolderDialog.h"

#include "app/dialogs/FileDialog.h"
#include "app/dialogs/HelpViewer.h"
#include "core/ProductStrings.h"
#include "platform/ipc/Ipc.h"

namespace {

constexpr plat::UINT kHelpMessage = 0x53;            // WM_HELP
constexpr plat::UINT kReflectedHelpMessage = 0x2053;  // its reflected form
constexpr plat::DWORD kTreeWindowStyle = plat::WS_CHILD | plat::WS_VISIBLE;

}  // namespace

BrowseFolderDialog::BrowseFolderDialog()
    : disableScrollBarMessage_(plat::RegisterWindowMessageW(u"OrvWTL_DisableScrollBarMessage")) {
  SetTitle(GetProductName());
}

BrowseFolderDialog::~BrowseFolderDialog() = default;

plat::INT_PTR BrowseFolderDialog::DoModal(plat::HWND owner) { return RunEmptyTemplateDialog(*this, owner); }

void BrowseFolderDialog::OnInit() {
  softKeys_.CreateDoneCancel(GetHwnd());
  tree_.SetRootPath(root_);
  tree_.SetSelectedPath(path_);
  if (!tree_.Create(GetHwnd(), nullptr, kTreeWindowStyle, 0)) return;
  fit_ = std::make_unique<DialogAutoFit>(GetHwnd(), false, true, false);
  fit_->AddRow(tree_.GetHwnd(), DialogAutoFit::kFill);
  fit_->Layout();
  NotifyFileDialogObserver(GetHwnd());
}

bool BrowseFolderDialog::ProcessDerivedMessage(plat::HWND, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM,
                                               plat::LRESULT& result) {
  if (AnswerDisableScrollBar(GetHwnd(), disableScrollBarMessage_, msg, result)) return true;
  switch (msg) {
    case plat::WM_COMMAND:
      // The shell's soft-key OK and Cancel are this dialog's own.
      return RouteSoftKeysToOkAndCancel(wParam, result);
    case plat::WM_SIZE:
      if (fit_) fit_->Layout();
      return false;
    case kHelpMessage:
    case kReflectedHelpMessage:
      ShowHelpTopic(u"browse_folder");
      result = 1;
      return true;
    default: return false;
  }
}

plat::LRESULT BrowseFolderDialog::OnOK() {
  tree_.GetSelectedPath(path_);
  EndWith(plat::IDOK);
  return 0;
}

plat::LRESULT BrowseFolderDialog::OnCancel() {
  path_.clear();
  EndWith(plat::IDCANCEL);
  return 0;
}
