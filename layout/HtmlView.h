// The window object over the HTML viewer control ("DISPLAYCLASS"): it owns
// the text to show and replaces the control's whole content in one step,
// lets a derived view run work before and after each replacement, and keeps
// the control's own context menu from appearing.
//
// A derived view changes what is shown with ShowText (store the text, post
// "HtmlCtrlReload" to the viewer window). A replacement never runs while the
// view is busy (the text is being handed over, or the control is still
// laying out a page); the reload asked meanwhile is kept and posted again
// when the busy count drops to 0, so the latest stored text is always shown
// in the end. UI thread only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/windows/Windows.h"

class HtmlView {
 public:
  // The id of the viewer control within its parent.
  static constexpr int kControlId = 12321;
  // How often and how long Create looks for the control's inner window
  // (the waits go through the process's clock).
  static constexpr int kInnerWindowPolls = 30;
  static constexpr plat::DWORD kInnerWindowPollMs = 100;

  HtmlView();
  virtual ~HtmlView();
  HtmlView(const HtmlView&) = delete;
  HtmlView& operator=(const HtmlView&) = delete;

  // Makes the viewer control as a child of parent, waits (bounded) for its
  // inner window, takes over its messages, gives it the focus, clears it and
  // sets it up (context menu reported, scripting off). False, with nothing
  // left behind, when the control or its inner window cannot be had.
  virtual bool Create(plat::HWND parent);

  // Shows the stored text now (the handler of "HtmlCtrlReload"); while busy
  // only remembers that a reload is wanted.
  void SetText();
  // Stores text and posts "HtmlCtrlReload" to the viewer.
  void ShowText(const std::u16string& text);
  const std::u16string& GetText() const { return text_; }

  // The message map of the viewer window; true when handled.
  virtual bool ProcessWindowMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                                    plat::LRESULT& result);

  plat::HWND GetWindow() const { return window_; }
  // The control's inner window (the page itself); null before Create.
  plat::HWND GetInnerWindow() const { return inner_; }
  int GetBusy() const { return busy_.load(); }
  bool IsReloadPending() const { return reloadPending_; }

 protected:
  virtual void OnBeforeSetText() {}
  virtual void OnAfterSetText() {}
  // Makes the control window; a test may make something else.
  virtual plat::HWND CreateViewerWindow(plat::HWND parent, plat::DWORD style);

  // The busy count. Leaving the last busy state posts the reload that was
  // asked meanwhile.
  void EnterBusy() { ++busy_; }
  void LeaveBusy();

  // Passes a message on to the control's own procedure.
  plat::LRESULT CallViewerProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  // Called when the viewer window is being destroyed (after the map ran).
  virtual void OnViewerDestroyed() {}

 private:
  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void Unsubclass();
  void PostPendingReload();

  plat::HWND window_ = nullptr;
  plat::HWND inner_ = nullptr;
  plat::WNDPROC viewerProc_ = nullptr;
  std::atomic<int> busy_{0};  // read by database events on other threads
  bool reloadPending_ = false;
  bool extraStyle_ = true;  // the control is created with the style bit 0x10
  std::u16string text_;
};
