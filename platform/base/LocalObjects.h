// Internal to platform/base: the shared state behind this process's unnamed
// kernel objects (events, mutexes, threads). Every local object keeps its
// state under one lock and announces changes on one condition variable, so a
// wait over several local objects blocks for real instead of polling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/base/Handle.h"

namespace plat::detail {

std::mutex& LocalStateMutex();
// Notified (all) whenever any local object may have become signalled.
std::condition_variable& LocalStateChanged();

class LocalWaitable {
 public:
  virtual ~LocalWaitable() = default;
  // With LocalStateMutex held: takes the object when it is signalled, or when
  // it was pulsed after the waiter noted generation seenPulse.
  virtual KernelObject::Probe TryAcquireLocked(unsigned seenPulse) = 0;
  // With LocalStateMutex held.
  virtual unsigned PulseGeneration() const { return 0; }
  virtual void AddWaiter() {}
  virtual void RemoveWaiter() {}
  virtual unsigned WaiterCountLocked() const { return 0; }
};

// Threads blocked in a wait on a local event right now (for tests that must
// know their waiters are in place before they pulse); 0 for other objects.
unsigned LocalWaiterCount(HANDLE h);

// Waits for any of count local objects (lowest index first); WAIT_OBJECT_0 + i,
// WAIT_ABANDONED_0 + i or WAIT_TIMEOUT.
DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, DWORD timeoutMs);

// Marks every local mutex the calling thread owns as abandoned and frees it.
// Runs when a thread ends (threads of CreateThread call it before they signal
// their end; every other thread at its thread-local cleanup).
void AbandonOwnedMutexes();
// Called by each thread of CreateThread before its start routine: makes the
// thread's own state, so the thread never first makes it while ending.
void PrepareThreadState();

// The pseudo handle of GetCurrentThread.
inline HANDLE const kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

}  // namespace plat::detail
