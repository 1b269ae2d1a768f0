// The bases of the program's dialogs, pages and full-screen windows: a dialog
// made full-screen in the handheld's manner, with a title header, held above
// the input panel, whose soft keys OK / Cancel end it. CPPCDialogImpl runs
// modally; CPPCModelessDialogImpl is created and lives until it is closed.
#pragma once

#include <string>

#include "platform/windows/Windows.h"

// The soft-key commands the shell sends for OK and Cancel.
constexpr int kSoftKeyOk = 59280;
constexpr int kSoftKeyCancel = 59281;
// The caption control that the bases colour.
constexpr int kCaptionControlId = 65534;
// Shell dialog flags: Done button, full screen, input panel down (modal);
// full screen with a scroll bar (modeless).
constexpr plat::DWORD kModalDialogFlags = 13;
constexpr plat::DWORD kModelessDialogFlags = 132;
// The flags word bit that turns SC_CLOSE into WM_CLOSE.
constexpr plat::DWORD kCloseOnSysCommand = 0x400;
// The dialog resource all pages and layout dialogs start from.
constexpr plat::UINT kEmptyDialogId = 172;

class PPCDialogBase {
 public:
  virtual ~PPCDialogBase();
  PPCDialogBase(const PPCDialogBase&) = delete;
  PPCDialogBase& operator=(const PPCDialogBase&) = delete;

  plat::HWND GetHwnd() const { return hwnd_; }
  const std::u16string& GetTitle() const { return title_; }
  // The header is painted when the title is not empty.
  void SetTitle(const std::u16string& title) { title_ = title; }
  plat::DWORD GetFlags() const { return flags_; }
  void SetFlags(plat::DWORD flags) { flags_ = flags; }
  bool HasHeader() const { return !title_.empty(); }
  // The parameter the dialog was run or created with.
  plat::LPARAM GetInitParam() const { return initParam_; }
  // The title's text extent from the last paint.
  plat::SIZE GetTitleExtent() const { return titleExtent_; }

  // The whole message map; true when the message was handled.
  bool ProcessWindowMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                            plat::LRESULT& result);

  // Paints the header into dc, or between BeginPaint and EndPaint when null.
  void OnPaint(plat::HDC dc);
  // 0 posts IDCANCEL to the dialog, 1 shows the shell's Done button.
  void OnDoneKey(int mode);
  // Replaces the dialog's menu bar by one of the menu resource (localized).
  bool CreateMenuBar(plat::UINT menuId);
  plat::HWND GetMenuBar() const { return menuBar_; }

  // Ends the dialog (modal) or hides and destroys it (modeless).
  void EndWith(int result);

 protected:
  explicit PPCDialogBase(bool modeless) : modeless_(modeless) {}

  // The derived class's initialisation, after the base's.
  virtual void OnInit() {}
  // OK and Cancel (the soft keys, Enter, Back): by default the dialog ends
  // with IDOK or IDCANCEL. The result is the message's result.
  virtual plat::LRESULT OnOK();
  virtual plat::LRESULT OnCancel();
  // For a derived class whose soft-key OK and Cancel run OnOK and OnCancel
  // (the base map ends the dialog on them at once): true when the command
  // was one of them.
  bool RouteSoftKeysToOkAndCancel(plat::WPARAM wParam, plat::LRESULT& result);
  // The derived class's own messages, offered before the base map.
  virtual bool ProcessDerivedMessage(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM, plat::LRESULT&) {
    return false;
  }

  static plat::INT_PTR DialogProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);

  plat::HWND hwnd_ = nullptr;
  plat::LPARAM initParam_ = 0;

 private:
  bool OnInitDialog();
  bool ProcessBaseMessage(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam, plat::LRESULT& result);
  void FitToInputPanel();

  const bool modeless_;
  std::u16string title_;
  plat::SIZE titleExtent_{0, 0};
  plat::DWORD flags_ = 0;
  plat::HWND menuBar_ = nullptr;
};

class CPPCDialogImpl : public PPCDialogBase {
 public:
  CPPCDialogImpl() : PPCDialogBase(false) {}
  // Runs the dialog modally on a template; -1 when it cannot be made.
  plat::INT_PTR DoModal(plat::HWND parent, const plat::DLGTEMPLATE* dialogTemplate, plat::LPARAM parameter = 0);
  plat::INT_PTR DoModal(plat::HWND parent, plat::UINT resourceId, plat::LPARAM parameter = 0);
};

class CPPCModelessDialogImpl : public PPCDialogBase {
 public:
  CPPCModelessDialogImpl() : PPCDialogBase(true) {}
  ~CPPCModelessDialogImpl() override;
  plat::HWND Create(plat::HWND parent, const plat::DLGTEMPLATE* dialogTemplate, plat::LPARAM parameter = 0);
  plat::HWND Create(plat::HWND parent, plat::UINT resourceId, plat::LPARAM parameter = 0);
};

// Shell initialisation of any dialog with the modal flags.
bool InitFullScreenDialog(plat::HWND dialog);
// Panes that fill the page with a list or tree of their own answer the
// registered "OrvWTL_DisableScrollBarMessage": the page itself loses its
// vertical scroll bar, as the pane scrolls. Answers whether msg was it
// (result 1 then).
bool AnswerDisableScrollBar(plat::HWND page, plat::UINT message, plat::UINT msg, plat::LRESULT& result);
// Runs the object modally on the dialog resource 172, or on a built-in empty
// template; -1 with last error 14 when the dialog cannot be made.
plat::INT_PTR RunModalEmptyDialog(CPPCDialogImpl& dialog, plat::HWND parent, plat::LPARAM parameter);
plat::INT_PTR RunEmptyTemplateDialog(CPPCDialogImpl& dialog, plat::HWND parent);

// The header strip of pages that are not dialog bases: their window text (at
// most 48 characters) with the same painter and height as the bases.
namespace DialogHeader {
void Paint(plat::HWND window, plat::HDC dc);
}
