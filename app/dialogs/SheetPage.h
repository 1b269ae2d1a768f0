// The pages of the program's property sheets and the sheet that holds them.
//
// A SheetPage is a child dialog made from an empty template: the page creates
// its controls in OnInitPage, binds them to a row layout (every child in
// window order one row; an up-down control joins its buddy's row at the
// right) and re-runs the layout when its size changes. The page answers the
// sheet's notifications: activation repaints it (and once more later, through
// the registered message "postponed invalidate"), apply calls OnApply (false
// keeps the sheet open on this page), help opens the help viewer at the
// page's topic. Its title names its tab; its caption is painted in its
// header.
//
// A PropertySheet runs its pages modally with the Done/Cancel soft keys.
//
// UI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "layout/DialogAutoFit.h"
#include "layout/SoftKeyBar.h"
#include "platform/controls/CommCtrl.h"
#include "platform/windows/Windows.h"

class SheetPage {
 public:
  // titleId and captionId: string resources (the product-name marker is
  // replaced); helpTopic: the help viewer's topic.
  SheetPage(plat::UINT titleId, plat::UINT captionId, const char16_t* helpTopic);
  virtual ~SheetPage();
  SheetPage(const SheetPage&) = delete;
  SheetPage& operator=(const SheetPage&) = delete;

  const std::u16string& GetTitle() const { return title_; }
  const std::u16string& GetCaption() const { return caption_; }
  const char16_t* GetHelpTopic() const { return helpTopic_; }
  plat::HWND GetHwnd() const { return hwnd_; }
  // Whether the page window was made (pages never shown are not applied).
  bool WasOpened() const { return opened_; }

  // The sheet's apply: false refuses it and keeps the sheet open on this page.
  virtual bool OnApply() { return true; }
  // The page is about to be left for another page: false keeps it shown.
  virtual bool OnKillActive() { return true; }

  // Describes the page for a sheet (empty template, title, dialog procedure).
  void FillSheetPage(plat::PROPSHEETPAGEW& page);
  // Makes the page window alone as a child of parent, as a sheet does when it
  // first shows the page; null on failure.
  plat::HWND Create(plat::HWND parent);

  // The registered message that repaints a page once more after activation.
  static plat::UINT GetPostponedInvalidateMessage();

 protected:
  // The page window exists: create the controls, read what they show.
  virtual void OnInitPage() {}
  // WM_COMMAND from a control; true when handled.
  virtual bool OnCommand(int id, int code, plat::HWND control) { return false; }
  // Any other message before the base handles it; true when handled, with
  // result as the message's result.
  virtual bool OnPageMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam, plat::LRESULT& result) {
    return false;
  }
  // The control that takes the focus when the page is shown (null: the first).
  virtual plat::HWND GetFirstFocus() { return nullptr; }
  // A size change re-ran the row layout.
  virtual void OnLayout() {}

  // Controls of the page, created in window order, each with the program's
  // standard font. A number field is an edit box with an up-down buddy
  // (range minimum to maximum); its text is the value as "%d".
  plat::HWND AddLabel(const std::u16string& text, int id = 0);
  plat::HWND AddCheckBox(const std::u16string& text, int id);
  plat::HWND AddComboBox(int id, const std::vector<std::u16string>& items);
  plat::HWND AddEdit(int id, const std::u16string& text);
  plat::HWND AddNumberField(int id, int minimum, int maximum, int value);
  plat::HWND AddPushButton(const std::u16string& text, int id);
  // The child with the control id.
  plat::HWND Item(int id) const { return plat::GetDlgItem(hwnd_, id); }

  // Binds the row layout to the page's children as they are now (see the top
  // of this file) and lays them out.
  void BindRows();
  // Left indent of the control's row (the whole row, buddy included).
  void SetRowIndent(plat::HWND control, int indent);
  void SetRowSpacing(plat::HWND control, int leftIndent, int spaceAbove, int rightIndent, int spaceBelow);
  void LayoutRows();
  DialogAutoFit* GetRows() { return rows_.get(); }

  // Control helpers.
  static bool IsChecked(plat::HWND button);
  static void SetChecked(plat::HWND button, bool checked);
  static std::u16string GetText(plat::HWND window);
  static void SetText(plat::HWND window, const std::u16string& text);
  // Enables or disables the window; a number field's up-down goes with it.
  static void Enable(plat::HWND window, bool enable);
  // The indent of dependent rows: the width of a small icon.
  static int IndentStep();

  plat::HWND hwnd_ = nullptr;

 private:
  static plat::INT_PTR DialogProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  plat::INT_PTR Dispatch(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  bool OnNotify(const plat::NMHDR* header, plat::LRESULT& result);
  void PaintHeader();
  plat::HWND AddChild(const char16_t* cls, const std::u16string& text, plat::DWORD style, int id, int width = 0);

  std::u16string title_;
  std::u16string caption_;
  const char16_t* helpTopic_;
  bool opened_ = false;
  std::unique_ptr<DialogAutoFit> rows_;
};

class PropertySheet {
 public:
  // captionId: the sheet's caption (product-name marker replaced).
  explicit PropertySheet(plat::UINT captionId);
  virtual ~PropertySheet();
  PropertySheet(const PropertySheet&) = delete;
  PropertySheet& operator=(const PropertySheet&) = delete;

  // Pages in tab order; the sheet does not own them.
  void AddPage(SheetPage& page);
  const std::vector<SheetPage*>& GetPages() const { return pages_; }
  const std::u16string& GetCaption() const { return caption_; }
  // Runs the sheet modally over owner (focus and input panel kept): 1 when
  // Done applied every opened page, 0 when cancelled, -1 when it could not be
  // shown.
  plat::INT_PTR DoModal(plat::HWND owner);
  // The sheet's window while it runs (null otherwise).
  plat::HWND GetHwnd() const { return hwnd_; }
  const SoftKeyBar& GetSoftKeys() const { return softKeys_; }

  // The sheet running now on this thread (null when none).
  static PropertySheet* GetRunning();

 private:
  static int SheetCallback(plat::HWND hwnd, plat::UINT msg, plat::LPARAM lParam);
  static plat::LRESULT SubclassProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);

  std::u16string caption_;
  // Handed out once, to the platform's title query.
  std::u16string pendingTitle_;
  std::vector<SheetPage*> pages_;
  plat::HWND hwnd_ = nullptr;
  plat::WNDPROC sheetProc_ = nullptr;
  SoftKeyBar softKeys_;
  PropertySheet* outer_ = nullptr;
};
