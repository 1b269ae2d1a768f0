#include "app/ContentLocationPage.h"

#include "core/Localizer.h"
#include "core/Synchronized.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "layout/UIToolkit.h"

ContentLocationPage::ContentLocationPage() = default;

ContentLocationPage::~ContentLocationPage() { sizeLabel_.Stop(); }

bool ContentLocationPage::OnInitPage(plat::HWND page) {
  page_ = page;
  std::u16string folder;
  {
    CSyncLock lock(GetChannelSet());
    folder = GetGlobalOptions().GetContentFolder();
  }
  const bool created = chooser_.Create(page, folder);
  sizeLabel_.Create(page);
  sizeLabel_.Start(LocalizeResourceString(kSizeFormatId), LocalizeResourceString(kCountingId), {folder});

  autoFit_ = std::make_unique<DialogAutoFit>(page, false, true, true);
  autoFit_->AddRow(chooser_.GetLabel());
  autoFit_->AddRow(chooser_.GetComboBox());
  autoFit_->AddRow(chooser_.GetCustomField(), DialogAutoFit::kTop, chooser_.GetBrowseButton());
  autoFit_->AddRow(sizeLabel_.GetWindow());
  Layout();
  if (chooser_.GetComboBox() != nullptr) plat::SetFocus(chooser_.GetComboBox());
  return created;
}

bool ContentLocationPage::OnApply() {
  return move_.Run(page_, chooser_.GetSelectedPath(), sizeLabel_.GetScanner());
}

bool ContentLocationPage::OnCommand(plat::WPARAM wParam, plat::LPARAM lParam) {
  return chooser_.OnCommand(wParam, lParam);
}

bool ContentLocationPage::OnTimer(plat::UINT_PTR id) { return sizeLabel_.OnTimer(id); }

void ContentLocationPage::Layout() {
  if (autoFit_) autoFit_->Layout();
}
