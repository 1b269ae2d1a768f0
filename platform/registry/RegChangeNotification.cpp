#include "platform/registry/RegChangeNotification.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>

#include "platform/registry/RegistryStore.h"

namespace plat::reg {

namespace {

constexpr std::int64_t kRecheckNs = 500LL * 1000000LL;

std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::uint32_t LoadWord(std::uint32_t* w) { return w ? std::atomic_ref<std::uint32_t>(*w).load() : 0; }

}  // namespace

RegChangeNotification::RegChangeNotification(std::int64_t key, bool subtree, DWORD filter)
    : key_(key), subtree_(subtree), filter_(filter) {}

bool RegChangeNotification::Arm() {
  std::lock_guard<std::mutex> g(lock_);
  auto& store = RegistryStore::Instance();
  const std::uint32_t word = LoadWord(store.ChangeWord());
  std::int64_t stamp = 0;
  if (!store.ChangeStamp(key_, subtree_, filter_, &stamp)) return false;
  baseline_ = stamp;
  signaled_ = false;
  checked_ = true;
  lastWord_ = word;
  return true;
}

bool RegChangeNotification::Check() {
  if (signaled_) return true;
  auto& store = RegistryStore::Instance();
  std::uint32_t* w = store.ChangeWord();
  // The word is read before the store: a change committed after the read
  // moves the word again and is seen by the next check.
  const std::uint32_t word = LoadWord(w);
  if (w && checked_ && word == lastWord_) return false;
  std::int64_t stamp = 0;
  if (!store.ChangeStamp(key_, subtree_, filter_, &stamp)) return false;
  lastWord_ = word;
  checked_ = true;
  if (stamp != baseline_) signaled_ = true;
  return signaled_;
}

KernelObject::Probe RegChangeNotification::TryAcquire() {
  std::lock_guard<std::mutex> g(lock_);
  return Check() ? Probe::Signaled : Probe::NotSignaled;
}

DWORD RegChangeNotification::WaitOne(DWORD timeoutMs) {
  std::uint32_t* w = RegistryStore::Instance().ChangeWord();
  const std::int64_t deadline =
      timeoutMs == INFINITE ? -1 : NowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000LL;
  for (;;) {
    const std::uint32_t word = LoadWord(w);
    {
      std::lock_guard<std::mutex> g(lock_);
      if (Check()) return WAIT_OBJECT_0;
      // Now and then the store itself is read again, in case a writer ended
      // between its commit and moving the word.
      checked_ = false;
    }
    std::int64_t rel = kRecheckNs;
    if (deadline >= 0) {
      const std::int64_t left = deadline - NowNs();
      if (left <= 0) return WAIT_TIMEOUT;
      rel = std::min(rel, left);
    }
    if (w) {
      timespec ts{static_cast<time_t>(rel / 1000000000LL), static_cast<long>(rel % 1000000000LL)};
      syscall(SYS_futex, w, FUTEX_WAIT, word, &ts, nullptr, 0);
    } else {
      timespec ts{0, static_cast<long>(std::min<std::int64_t>(rel, 50000000LL))};
      nanosleep(&ts, nullptr);
    }
  }
}

}  // namespace plat::reg
