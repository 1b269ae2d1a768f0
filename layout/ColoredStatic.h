// A label that paints itself: its own background brush (system colour 25)
// and its text, single line, vertically centred, 1 px at 96 dpi from the left.
#pragma once

#include <string>

#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

class ColoredStatic {
 public:
  ColoredStatic();
  ~ColoredStatic();
  ColoredStatic(const ColoredStatic&) = delete;
  ColoredStatic& operator=(const ColoredStatic&) = delete;

  // Takes over painting of an existing window (a static control); false when
  // it is not a window or already taken.
  bool SubclassWindow(plat::HWND window);
  plat::HWND Create(plat::HWND parent, const plat::RECT& rect, const std::u16string& text, int id);
  void SetText(const std::u16string& text);
  plat::HWND GetWindow() const { return window_; }

  // The message map: WM_PAINT only; true when handled.
  bool ProcessWindowMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                            plat::LRESULT& result);

 private:
  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void Paint();

  plat::HWND window_ = nullptr;
  plat::WNDPROC proc_ = nullptr;
  std::u16string text_;
  plat::HBRUSH brush_ = nullptr;
};
