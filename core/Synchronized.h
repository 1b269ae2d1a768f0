// Locks within the process: CSynchronized makes an object lockable (recursive
// for the thread that holds it); CSyncLock holds such a lock for a scope.
#pragma once

#include <atomic>

#include "platform/base/Sync.h"

class CSynchronized {
 public:
  CSynchronized();
  virtual ~CSynchronized();
  CSynchronized(const CSynchronized&) = delete;
  CSynchronized& operator=(const CSynchronized&) = delete;

  // Acquires the lock, then records the holder (diagnostics only).
  void Lock(const char16_t* text1, const char16_t* text2, int number);
  // Leaves the lock once (CSyncLock does it).
  void Unlock();
  bool IsLockedByCurrentThread() const;
  // Threads blocked in Lock at this moment (for tests that wait for one).
  int GetWaitingCount() const { return waiting_.load(std::memory_order_acquire); }

  // The last holder's record; never cleared on release.
  const char16_t* GetOwnerText1() const { return ownerText1_; }
  const char16_t* GetOwnerText2() const { return ownerText2_; }
  int GetOwnerNumber() const { return ownerNumber_; }

 private:
  mutable plat::CRITICAL_SECTION section_;
  const char16_t* ownerText1_ = u"";
  const char16_t* ownerText2_ = u"";
  int ownerNumber_ = 0;
  std::atomic<int> waiting_{0};
};

// Holds object's lock from construction to destruction; a null object holds nothing.
class CSyncLock {
 public:
  explicit CSyncLock(CSynchronized* object, const char16_t* text1 = u"", int number = 0,
                     const char16_t* text2 = u"");
  ~CSyncLock();
  CSyncLock(const CSyncLock&) = delete;
  CSyncLock& operator=(const CSyncLock&) = delete;

 private:
  CSynchronized* object_;
};
