#include "platform/display/UserActivity.h"

#include <chrono>

#include "platform/ipc/Ipc.h"

namespace plat::display {

UserActivity::UserActivity(DWORD idleMs) : idleMs_(idleMs) {
  event_ = CreateEventW(nullptr, TRUE, FALSE, kUserActivityEventName);
  thread_ = std::thread([this] { Run(); });
}

UserActivity::~UserActivity() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (event_) {
    ResetEvent(event_);
    CloseHandle(event_);
  }
}

void UserActivity::Note() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++serial_;
    if (event_) SetEvent(event_);  // set again even when another tool reset it meanwhile
    active_ = true;
  }
  wake_.notify_all();
}

bool UserActivity::Active() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_;
}

void UserActivity::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ending_) {
    if (!active_) {
      wake_.wait(lock, [this] { return ending_ || active_; });
      continue;
    }
    // Idle once a whole idle time passes without another input.
    const std::uint64_t seen = serial_;
    if (wake_.wait_for(lock, std::chrono::milliseconds(idleMs_), [&] { return ending_ || serial_ != seen; })) continue;
    active_ = false;
    if (event_) ResetEvent(event_);
  }
}

}  // namespace plat::display
