// This thread's message loop for tests that drive windows in-process: the
// messages a window posts to itself, timers and the replies of other threads
// only arrive while the test handles its queue.
#pragma once

#include <chrono>
#include <functional>

#include "platform/windows/Windows.h"

namespace orvtest {

// Handles every message waiting in this thread's queue, then returns.
inline void PumpMessages() {
  plat::MSG m;
  while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
    plat::TranslateMessage(&m);
    plat::DispatchMessageW(&m);
  }
}

// Handles this thread's messages until done() holds after them, or until
// limitMs of real time passed (a test's own clock may stand still); true when
// it held.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    PumpMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    plat::MsgWaitForMultipleObjects(0, nullptr, plat::FALSE, 10, plat::QS_ALLINPUT);
  }
}

}  // namespace orvtest
