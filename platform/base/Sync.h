// Critical sections: recursive locks within the process.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/base/Types.h"

namespace plat {

struct CRITICAL_SECTION {
  std::mutex lock;                        // held while any thread owns the section
  std::atomic<DWORD> OwnerThread{0};      // thread id of the owner, 0 when free
  std::atomic<LONG> RecursionCount{0};    // entries of the owner not yet left
};

void InitializeCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
// Leaving a section the calling thread does not own does nothing.
void LeaveCriticalSection(CRITICAL_SECTION* cs);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);
// True when the calling thread owns cs (OwnerThread == GetCurrentThreadId()).
bool IsCriticalSectionOwnedByCurrentThread(const CRITICAL_SECTION* cs);

}  // namespace plat
