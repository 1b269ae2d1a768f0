#include "platform/ipc/NamedMutex.h"

#include <linux/futex.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace plat::ipc {

namespace {

timespec DeadlineAfter(DWORD ms) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec++;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

}  // namespace

NamedMutex::~NamedMutex() { table_->CloseSlot(slot_); }

bool NamedMutex::OwnedByCaller() {
  // A robust mutex's futex word holds its owner's thread id; the kernel marks
  // it when that owner died.
  const std::uint32_t word =
      std::atomic_ref<int>(S().mutex.__data.__lock).load(std::memory_order_acquire);
  return (word & FUTEX_OWNER_DIED) == 0 && static_cast<int>(word & FUTEX_TID_MASK) == gettid();
}

KernelObject::Probe NamedMutex::TryAcquire() {
  Slot& s = S();
  if (OwnedByCaller()) {
    s.recursion++;
    return Probe::Signaled;
  }
  const int rc = pthread_mutex_trylock(&s.mutex);
  if (rc == 0) {
    s.recursion = 1;
    return Probe::Signaled;
  }
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&s.mutex);
    s.recursion = 1;
    return Probe::Abandoned;
  }
  return Probe::NotSignaled;
}

DWORD NamedMutex::WaitOne(DWORD timeoutMs) {
  Slot& s = S();
  if (OwnedByCaller()) {
    s.recursion++;
    return WAIT_OBJECT_0;
  }
  int rc;
  if (timeoutMs == INFINITE) {
    rc = pthread_mutex_lock(&s.mutex);
  } else {
    const timespec deadline = DeadlineAfter(timeoutMs);
    do {
      rc = pthread_mutex_clocklock(&s.mutex, CLOCK_MONOTONIC, &deadline);
    } while (rc == EINTR);
  }
  switch (rc) {
    case 0:
      s.recursion = 1;
      return WAIT_OBJECT_0;
    case EOWNERDEAD:
      pthread_mutex_consistent(&s.mutex);
      s.recursion = 1;
      return WAIT_ABANDONED;
    case ETIMEDOUT:
      return WAIT_TIMEOUT;
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
  }
}

bool NamedMutex::ReleaseOwned() {
  Slot& s = S();
  if (!OwnedByCaller()) {
    SetLastError(ERROR_NOT_OWNER);
    return false;
  }
  if (--s.recursion > 0) return true;
  return pthread_mutex_unlock(&s.mutex) == 0;
}

}  // namespace plat::ipc
