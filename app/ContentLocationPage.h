// The Content page of the options: where the channel database lives (main
// memory, a storage card or a folder of the user's own) and how much space it
// takes. Applying the options moves the database there or only switches to
// it, as the user answers.
#pragma once

#include <memory>
#include <string>

#include "app/ContentFolderMove.h"
#include "app/ContentLocationChooser.h"
#include "app/FolderSizeLabel.h"
#include "layout/DialogAutoFit.h"
#include "platform/windows/Windows.h"

class ContentLocationPage {
 public:
  static constexpr plat::UINT kTitleStringId = 279;    // "Content"
  static constexpr plat::UINT kCaptionStringId = 243;  // the options' caption
  static constexpr plat::UINT kSizeFormatId = 200;     // "Size: %s"
  static constexpr plat::UINT kCountingId = 266;       // "counting..."
  static constexpr const char16_t* kHelpTopic = u"options_content";

  ContentLocationPage();
  ~ContentLocationPage();
  ContentLocationPage(const ContentLocationPage&) = delete;
  ContentLocationPage& operator=(const ContentLocationPage&) = delete;

  // Opening the page in its window: the chooser at the content folder, the
  // size label counting it, the rows laid out, the focus on the combo box.
  bool OnInitPage(plat::HWND page);
  // Moves or switches the database; false keeps the options open here.
  bool OnApply();
  // The page's WM_COMMAND and WM_TIMER; true when handled.
  bool OnCommand(plat::WPARAM wParam, plat::LPARAM lParam);
  bool OnTimer(plat::UINT_PTR id);
  // Lays the rows out again (the page was sized).
  void Layout();

  plat::HWND GetPageWindow() const { return page_; }
  ContentLocationChooser& GetChooser() { return chooser_; }
  FolderSizeLabel& GetSizeLabel() { return sizeLabel_; }
  ContentFolderMove& GetMove() { return move_; }

 private:
  plat::HWND page_ = nullptr;
  ContentLocationChooser chooser_;
  FolderSizeLabel sizeLabel_;
  ContentFolderMove move_;
  std::unique_ptr<DialogAutoFit> autoFit_;
};
