// A label that shows how much storage a set of folders and files takes. The
// sizes are added up on the folder-size scanner's thread; the page that owns
// the label forwards its WM_TIMER here, and every 350 ms the label shows the
// running total until the count is done. Used by the Content page of the
// options and by a channel's General page.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/FolderSizeScanner.h"
#include "platform/windows/Windows.h"

class FolderSizeLabel {
 public:
  static constexpr plat::UINT_PTR kTimerId = 117;
  static constexpr plat::UINT kTimerPeriodMs = 350;

  FolderSizeLabel();
  // Kills the timer and stops the scanner.
  ~FolderSizeLabel();
  FolderSizeLabel(const FolderSizeLabel&) = delete;
  FolderSizeLabel& operator=(const FolderSizeLabel&) = delete;

  // Creates the label as a child of page, the window that owns timer 117 and
  // forwards it to OnTimer. Null on failure.
  plat::HWND Create(plat::HWND page, int controlId = -1);
  // Uses a label the page made itself (so it keeps its place among the
  // page's controls); page owns timer 117.
  void Attach(plat::HWND page, plat::HWND label);
  plat::HWND GetWindow() const { return label_; }

  // Keeps format (one "%s" for the size), shows it filled with firstText and
  // hands the paths to the scanner; when the scanner takes them (only its
  // first list), sets timer 117 on the page. False when it did not.
  bool Start(const std::u16string& format, const std::u16string& firstText, const std::vector<std::u16string>& paths);
  // Kills the timer and stops the scanner (its bounded wait).
  void Stop();
  // The page's WM_TIMER: for timer 117 shows the running total, and once the
  // scan is done kills the timer first. True when the id was the label's.
  bool OnTimer(plat::UINT_PTR id);

  CFolderSizeScanner& GetScanner() { return *scanner_; }
  bool IsTimerSet() const { return timerSet_; }
  const std::u16string& GetText() const { return text_; }

  // format with its first "%s" replaced by value ("%%" gives "%"); any other
  // conversion is shown as written, so a translated format cannot misread
  // its arguments.
  static std::u16string FillFormat(const std::u16string& format, const std::u16string& value);

 private:
  void Show(const std::u16string& text);
  void KillTimer();

  plat::HWND page_ = nullptr;
  plat::HWND label_ = nullptr;
  std::u16string format_;
  std::u16string text_;
  std::unique_ptr<CFolderSizeScanner> scanner_;
  bool timerSet_ = false;
};
