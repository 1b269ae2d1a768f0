// The frozen copy of the screen that covers the device while the service
// starts the main program: a top-most window painted from a copy of the
// composed screen, with the task bar and the input-panel button moved out of
// sight (and, where this process may, subclassed so they stay put).
#pragma once

#include <memory>

#include "core/STScreenBuffer.h"
#include "platform/windows/Windows.h"

inline constexpr const char16_t* kCoverClassName = u"CLS_FAKE_SCREEN{3A90C971-BF56-4ca5-A83E-977DD3599FF2}";

class CScreenCover {
 public:
  CScreenCover() = default;
  ~CScreenCover();  // Hide
  CScreenCover(const CScreenCover&) = delete;
  CScreenCover& operator=(const CScreenCover&) = delete;

  // True when the cover shows (also when it showed already).
  bool Show();
  // The event that stops the service: once it is set, a window that does not
  // take its put-back is not asked again (see Hide), so the thread ends within
  // the service's stop bound.
  void SetStopEvent(plat::HANDLE stop) { stop_ = stop; }

  // Removes the cover and puts the task bar and the input-panel button back
  // where they were, with their procedures; a window of another process whose
  // owner cannot take the request at once is asked again while it exists
  // (up to 30 s), until the stop event is set: then it is asked once and,
  // when that fails, left for LastTry. Safe to call again, and from
  // another thread than Show's once that thread has ended.
  void Hide();
  // After a stop: asks each window left out of place once more, without
  // waiting: a window of another process goes back when its owner reads its
  // messages again. Forgets it whatever the answer (the service is going).
  void LastTry();
  bool Shown() const { return cover_ != nullptr; }
  plat::HWND Window() const { return cover_; }

 private:
  struct Shelved {
    plat::HWND hwnd = nullptr;
    plat::RECT rect{};
    plat::WNDPROC previous = nullptr;  // null: not subclassed (another process's window)
    plat::HWND above = nullptr;        // the window above it in the z-order
    bool visible = false;
    bool restoreOrder = false;
    bool givenUp = false;  // its put-back failed after the stop: LastTry's
  };
  void Shelve(const char16_t* cls, plat::WNDPROC subclass, Shelved* out);
  // One request to go back into place; true when it is (or is gone).
  static bool TryPutBack(Shelved* s, plat::UINT extraFlags = 0);
  void PutBack(Shelved* s, bool restoreOrder);
  bool Stopping() const;
  static plat::LRESULT CoverProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  static plat::LRESULT TaskBarProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  static plat::LRESULT SipButtonProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);

  plat::HANDLE stop_ = nullptr;
  plat::HWND cover_ = nullptr;
  Shelved taskBar_;
  Shelved sipButton_;
  std::unique_ptr<CSTScreenBuffer> copy_;
};
