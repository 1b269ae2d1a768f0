// Bounded waits for conditions another thread or process brings about. The
// bound only keeps a broken test from hanging: a passing test never reaches
// it, so no result depends on how fast the machine is.
#pragma once

#include <chrono>
#include <thread>

namespace orvtest {

// Polls `cond` every `pollMs` until it holds or `limitMs` pass; true when it
// held. A condition that is dear to look at (a window list asked of another
// process, a composed screen) is polled less often.
template <class F>
bool Eventually(F cond, int limitMs = 10000, int pollMs = 1) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
  return cond();
}

// For the one check no signal can serve, that something does NOT happen (a
// blocked thread stays blocked, a stopped worker adds nothing): polls `cond`
// for `periodMs`; false as soon as it fails.
template <class F>
bool StaysTrue(F cond, int periodMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
  while (std::chrono::steady_clock::now() < end) {
    if (!cond()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return cond();
}

}  // namespace orvtest
