// A scoped, time-limited wait on a named mutex shared between processes.
// Callers test IsLocked and skip (and report as failed) what the mutex guards
// when it is false; every path out of the guarded scope releases.
#pragma once

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

class CMutexLock {
 public:
  // Waits up to timeoutMs. A null mutex counts as locked. A mutex whose
  // previous owner died holding it counts as acquired: this thread owns it
  // now and releases it as usual.
  CMutexLock(plat::HANDLE mutex, plat::DWORD timeoutMs);
  // Releases when still held.
  ~CMutexLock();
  CMutexLock(const CMutexLock&) = delete;
  CMutexLock& operator=(const CMutexLock&) = delete;

  bool IsLocked() const { return acquired_ == 1; }
  // True when the wait found the mutex abandoned (the guarded data may be
  // half written by the process that died).
  bool WasAbandoned() const { return abandoned_; }
  // ReleaseMutex when held; afterwards the lock holds nothing.
  void Release();

 private:
  plat::HANDLE mutex_;
  int acquired_ = 0;
  bool abandoned_ = false;
};
