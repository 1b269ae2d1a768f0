// The child window that shows the program's screens: one named layout at a
// time, hosted by a dialog manager. It hands the stylus and the keys to the
// manager's input loop, switches layouts (with a push transition when asked)
// and answers its own messages:
//   WM_APP+100  repaint the whole view (answered 0)
//   WM_APP+500  a transition has finished
//   WM_APP+501  capture the current screen as the start of a transition
//   WM_APP+502  start the transition; wParam 3 forward, 4 backward
#pragma once

#include <memory>
#include <string>

#include "core/BitmapBuffer.h"
#include "core/RefCounted.h"
#include "layout/DialogManager.h"
#include "platform/windows/Windows.h"

constexpr plat::UINT WM_LAYOUT_REPAINT_ALL = plat::WM_APP + 100;

class LayoutView {
 public:
  static const char16_t* const kClassName;

  LayoutView() = default;
  ~LayoutView();
  LayoutView(const LayoutView&) = delete;
  LayoutView& operator=(const LayoutView&) = delete;

  // Creates the window (child of parent, or top-level when parent is null).
  plat::HWND Create(plat::HWND parent, const plat::RECT& rect, plat::DWORD style);
  plat::HWND GetWindow() const { return window_; }
  CDialogManager* GetManager() const { return manager_.Get(); }

  // Switches to the named layout fed by source. Direction 0: no transition;
  // positive: forward; negative: backward. A snapshot, when given, is the
  // picture the transition starts from; else the current screen is captured.
  // A layout that does not load leaves the old one shown.
  void ShowLayout(const std::u16string& name, plat::IUnknown* source, int direction,
                  std::shared_ptr<CBitmapBuffer> snapshot = nullptr);

  // Ends a screen transition that is still playing: the new screen shows at
  // once and no further frame of the slide is drawn over the window.
  void EndTransition();

  plat::WORD GetLastKey() const { return lastKey_; }
  bool IsRepaintAllPending() const { return repaintAll_; }

  // The message map; true when handled.
  bool ProcessWindowMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                            plat::LRESULT& result);

 private:
  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void OnCreate();

  plat::HWND window_ = nullptr;
  bool handled_ = false;
  CRefPtr<CDialogManager> manager_;
  plat::WORD lastKey_ = 0;
  bool repaintAll_ = false;
};
