// The help: ShowHelpTopic opens the help file at a topic, with the device's
// help viewer or, where it has none, shown on the device itself in the HTML
// viewer (HelpViewer).
#pragma once

#include <string>

#include "layout/PPCDialog.h"
#include "layout/SoftKeyBar.h"
#include "platform/windows/Windows.h"

class HelpViewer : public CPPCDialogImpl {
 public:
  // path: the help file on the device.
  explicit HelpViewer(const std::u16string& path);
  // Runs the viewer modally over owner; false when the file cannot be read
  // (nothing is shown then).
  bool Show(plat::HWND owner);

  plat::HWND GetViewer() const { return viewer_; }

 protected:
  void OnInit() override;
  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override;

 private:
  void Layout();

  std::u16string path_;
  std::string page_;
  plat::HWND viewer_ = nullptr;
  SoftKeyBar softKeys_;
};

// Starts the help viewer at the topic ("Main_Contents" when null or empty).
void ShowHelpTopic(const char16_t* topic);
