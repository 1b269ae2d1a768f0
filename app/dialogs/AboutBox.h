// The About box: a full-screen dialog with the program icon, the application
// title and the version line, opened by the main window's "About..." command.
// Help opens the help viewer at the channel list.
#pragma once

#include <string>

#include "layout/PPCDialog.h"
#include "layout/SoftKeyBar.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

class AboutBox : public CPPCDialogImpl {
 public:
  // The program's version and build.
  static constexpr int kVersionMajor = 2;
  static constexpr int kVersionMinor = 0;
  static constexpr int kVersionRevision = 0;
  static constexpr int kBuild = 3175;
  static constexpr int kIconId = 128;

  // "2.0.0" and "3175".
  static std::u16string VersionText();
  static std::u16string BuildText();

  // caption: the application title; helpLink: the help file reference and
  // the topic after "#".
  AboutBox(const std::u16string& caption, const std::u16string& version, const std::u16string& build,
           const std::u16string& helpLink);
  ~AboutBox() override;

  // Runs the box modally over owner until it is closed.
  plat::INT_PTR DoModal(plat::HWND owner);

  // The localized "Version %s, Build %s" filled with the version and build.
  const std::u16string& GetVersionLine() const { return versionLine_; }
  const std::u16string& GetHelpLink() const { return helpLink_; }
  plat::HWND GetIconControl() const { return iconControl_; }
  plat::HWND GetTitleControl() const { return titleControl_; }
  plat::HWND GetVersionControl() const { return versionControl_; }
  // The registered "PPCD_ScrollMessage" (0 before the box is up).
  plat::UINT GetScrollMessage() const { return scrollMessage_; }

 protected:
  void OnInit() override;
  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override;

 private:
  // Places the icon, the title and the version line one below the other,
  // centred in the area below the header.
  void Layout();

  std::u16string caption_;
  std::u16string version_;
  std::u16string build_;
  std::u16string helpLink_;
  std::u16string versionLine_;
  plat::HICON icon_ = nullptr;
  plat::HWND iconControl_ = nullptr;
  plat::HWND titleControl_ = nullptr;
  plat::HWND versionControl_ = nullptr;
  SoftKeyBar softKeys_;
  plat::UINT scrollMessage_ = 0;
  int scrollPos_ = 0;  // the vertical position the header was last drawn for
};
