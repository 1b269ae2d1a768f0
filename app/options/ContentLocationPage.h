// The Content page of the options: where the channel database lives (main
// memory, a storage card or a folder of the user's own) and how much space it
// takes. Applying the options moves the database there or only switches to
// it, as the user answers.
#pragma once

#include <string>

#include "app/dialogs/SheetPage.h"
#include "app/options/ContentFolderMove.h"
#include "app/options/ContentLocationChooser.h"
#include "app/options/FolderSizeLabel.h"
#include "layout/DialogAutoFit.h"
#include "platform/windows/Windows.h"

class ContentLocationPage : public SheetPage {
 public:
  static constexpr plat::UINT kTitleStringId = 279;    // "Content"
  static constexpr plat::UINT kCaptionStringId = 243;  // the options' caption
  static constexpr plat::UINT kSizeFormatId = 200;     // "Size: %s"
  static constexpr plat::UINT kCountingId = 266;       // "counting..."
  static constexpr int kSizeLabelId = 1004;

  ContentLocationPage();
  ~ContentLocationPage() override;

  // Moves or switches the database; false keeps the options open here.
  bool OnApply() override;

  ContentLocationChooser& GetChooser() { return chooser_; }
  FolderSizeLabel& GetSizeLabel() { return sizeLabel_; }
  ContentFolderMove& GetMove() { return move_; }

 protected:
  // The chooser at the content folder, the size label counting it, the rows
  // laid out, the focus on the combo box.
  void OnInitPage() override;
  bool OnCommand(int id, int code, plat::HWND control) override;
  // Timer 117 of the size label; the page asks for all keys.
  bool OnPageMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam, plat::LRESULT& result) override;
  plat::HWND GetFirstFocus() override { return chooser_.GetComboBox(); }

 private:
  ContentLocationChooser chooser_;
  FolderSizeLabel sizeLabel_;
  ContentFolderMove move_;
};
