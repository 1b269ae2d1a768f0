// Shows the wait cursor for the life of the guard.
#pragma once

#include "platform/windows/Cursor.h"

class CWaitCursor {
 public:
  CWaitCursor() : saved_(plat::SetCursor(plat::LoadCursorW(nullptr, plat::IDC_WAIT))), active_(true) {}
  ~CWaitCursor() { Restore(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

  // Puts the saved cursor back now; later calls and the destructor do nothing.
  void Restore() {
    if (!active_) return;
    plat::SetCursor(saved_);
    active_ = false;
  }

 private:
  plat::HCURSOR saved_;
  bool active_;
};
