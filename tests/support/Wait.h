// A bounded wait for a condition that another thread or process makes true,
// where the code under test has no event to wait on.
#pragma once

#include <chrono>
#include <thread>

namespace orvtest {

// Polls cond until it holds (true) or limit passes (false).
template <typename F>
bool WaitUntil(F cond, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return cond();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace orvtest
