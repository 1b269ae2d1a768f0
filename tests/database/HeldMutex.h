// A named mutex held by a thread of its own, as another program holding a
// channel would: every wait of the test's thread on it times out until it is
// let go.
#pragma once
#include <string>
#include <thread>

#include "platform/base/Handle.h"
#include "platform/ipc/Ipc.h"

namespace orvtest {

class HeldMutex {
 public:
  explicit HeldMutex(const std::u16string& name)
      : taken_(plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr)),
        release_(plat::CreateEventW(nullptr, plat::TRUE, plat::FALSE, nullptr)) {
    thread_ = std::thread([this, name] {
      plat::HANDLE mutex = plat::CreateMutexW(nullptr, plat::FALSE, name.c_str());
      held_ = mutex != nullptr && plat::WaitForSingleObject(mutex, 5000) == plat::WAIT_OBJECT_0;
      plat::SetEvent(taken_);
      plat::WaitForSingleObject(release_, 20000);
      if (held_) plat::ReleaseMutex(mutex);
      if (mutex != nullptr) plat::CloseHandle(mutex);
    });
    plat::WaitForSingleObject(taken_, 10000);
  }
  ~HeldMutex() {
    Release();
    plat::CloseHandle(taken_);
    plat::CloseHandle(release_);
  }
  HeldMutex(const HeldMutex&) = delete;
  HeldMutex& operator=(const HeldMutex&) = delete;

  bool Held() const { return held_; }
  void Release() {
    if (!thread_.joinable()) return;
    plat::SetEvent(release_);
    thread_.join();
  }

 private:
  plat::HANDLE taken_;
  plat::HANDLE release_;
  bool held_ = false;
  std::thread thread_;
};

}  // namespace orvtest
