#include "app/options/ContentLocationPage.h"

#include "core/Localizer.h"
#include "core/Synchronized.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "layout/ScreenScale.h"

ContentLocationPage::ContentLocationPage() : SheetPage(kTitleStringId, kCaptionStringId, u"options_content") {}

ContentLocationPage::~ContentLocationPage() { sizeLabel_.Stop(); }

void ContentLocationPage::OnInitPage() {
  std::u16string folder;
  {
    CSyncLock lock(GetChannelSet());
    folder = GetGlobalOptions().GetContentFolder();
  }
  chooser_.Create(hwnd_, folder);
  sizeLabel_.Create(hwnd_, kSizeLabelId);
  sizeLabel_.Start(LocalizeResourceString(kSizeFormatId), LocalizeResourceString(kCountingId), {folder});

  BindRows();
  if (DialogAutoFit* rows = GetRows()) rows->SetRowBuddy(chooser_.GetCustomField(), chooser_.GetBrowseButton());
  chooser_.FitBrowseButton();
  // Each label stands right above what it names.
  if (DialogAutoFit* rows = GetRows()) {
    for (plat::HWND label : {chooser_.GetLabel(), chooser_.GetComboLabel(), chooser_.GetCustomLabel()})
      SetRowSpacing(label, 0, 0, 0, -rows->GetGap());
  }
  SetRowSpacing(sizeLabel_.GetWindow(), 0, ScaleY(2), 0, 0);
  LayoutRows();
}

bool ContentLocationPage::OnApply() { return move_.Run(hwnd_, chooser_.GetSelectedPath(), sizeLabel_.GetScanner()); }

bool ContentLocationPage::OnCommand(int id, int code, plat::HWND control) {
  return chooser_.OnCommand(plat::MAKEWPARAM(static_cast<plat::WORD>(id), static_cast<plat::WORD>(code)),
                            reinterpret_cast<plat::LPARAM>(control));
}

bool ContentLocationPage::OnPageMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM, plat::LRESULT& result) {
  if (msg == plat::WM_TIMER && sizeLabel_.OnTimer(wParam)) {
    result = 0;
    return true;
  }
  if (msg == plat::WM_GETDLGCODE) {
    result = plat::DLGC_WANTALLKEYS;
    return true;
  }
  return false;
}
