// Critical sections.
#include "platform/base/Sync.h"

#include "platform/base/Thread.h"

namespace plat {

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
  cs->OwnerThread.store(0);
  cs->RecursionCount.store(0);
}

void DeleteCriticalSection(CRITICAL_SECTION* cs) {
  // Nothing is held outside the structure; a section deleted while owned is
  // left for its owner to leave.
  (void)cs;
}

void EnterCriticalSection(CRITICAL_SECTION* cs) {
  DWORD me = GetCurrentThreadId();
  if (cs->OwnerThread.load(std::memory_order_acquire) == me) {
    cs->RecursionCount.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  cs->lock.lock();
  cs->OwnerThread.store(me, std::memory_order_release);
  cs->RecursionCount.store(1, std::memory_order_relaxed);
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) {
  DWORD me = GetCurrentThreadId();
  if (cs->OwnerThread.load(std::memory_order_acquire) == me) {
    cs->RecursionCount.fetch_add(1, std::memory_order_relaxed);
    return TRUE;
  }
  if (!cs->lock.try_lock()) return FALSE;
  cs->OwnerThread.store(me, std::memory_order_release);
  cs->RecursionCount.store(1, std::memory_order_relaxed);
  return TRUE;
}

void LeaveCriticalSection(CRITICAL_SECTION* cs) {
  if (cs->OwnerThread.load(std::memory_order_acquire) != GetCurrentThreadId()) return;
  if (cs->RecursionCount.fetch_sub(1, std::memory_order_relaxed) == 1) {
    cs->OwnerThread.store(0, std::memory_order_release);
    cs->lock.unlock();
  }
}

bool IsCriticalSectionOwnedByCurrentThread(const CRITICAL_SECTION* cs) {
  return cs->OwnerThread.load(std::memory_order_acquire) == GetCurrentThreadId();
}

}  // namespace plat
