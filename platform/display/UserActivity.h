// The device's user-activity signal as its power manager keeps it: the named
// manual-reset event "PowerManager/UserActivity_Active" is set at each input
// of the user (a tap, a key, the wheel, typed text) and reset once no input
// has come for the idle time. Programs that wait for an idle device (the
// auto-update service) wait on it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

namespace plat::display {

inline constexpr const char16_t* kUserActivityEventName = u"PowerManager/UserActivity_Active";
// The time without input after which the user counts as gone.
inline constexpr DWORD kDefaultUserIdleMs = 10000;

class UserActivity {
 public:
  explicit UserActivity(DWORD idleMs = kDefaultUserIdleMs);
  // Resets the event (nobody uses the device once the display is gone).
  ~UserActivity();
  UserActivity(const UserActivity&) = delete;
  UserActivity& operator=(const UserActivity&) = delete;

  // The user did something now.
  void Note();
  bool Active() const;

 private:
  void Run();

  const DWORD idleMs_;
  HANDLE event_ = nullptr;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool active_ = false;
  bool ending_ = false;
  std::uint64_t serial_ = 0;  // counts inputs, so the reset waits for the last one
  std::thread thread_;
};

}  // namespace plat::display
