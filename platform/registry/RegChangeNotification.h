// A registry change notification: signalled once the watched counters of its
// key (or of its subtree) differ from the ones it was armed with, and then
// until re-armed. Waiters sleep on the store's device-wide change word and
// look at the store when it moves (and at least twice a second).
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/base/Handle.h"

namespace plat::reg {

class RegChangeNotification final : public KernelObject {
 public:
  RegChangeNotification(std::int64_t key, bool subtree, DWORD filter);

  // False when the store cannot be read.
  bool Arm();

  Probe TryAcquire() override;
  DWORD WaitOne(DWORD timeoutMs) override;

 private:
  bool Check();  // with lock_ held

  std::mutex lock_;
  const std::int64_t key_;
  const bool subtree_;
  const DWORD filter_;
  std::int64_t baseline_ = 0;
  bool signaled_ = false;
  bool checked_ = false;
  std::uint32_t lastWord_ = 0;
};

}  // namespace plat::reg
