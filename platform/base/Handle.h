// Kernel objects behind HANDLE values: events, mutexes, threads, change
// notifications. Local objects (platform/base) and named device-wide objects
// (platform/ipc) share this contract, so one wait can mix them.
#pragma once

#include <atomic>

#include "platform/base/Types.h"

namespace plat {

class KernelObject {
 public:
  enum class Probe { NotSignaled, Signaled, Abandoned };

  KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  virtual ~KernelObject() = default;

  // Takes the object for the calling thread if it is signalled, without
  // blocking: an auto-reset event is reset, a mutex becomes owned (Abandoned
  // when its previous owner died holding it; the caller owns it then too).
  virtual Probe TryAcquire() = 0;

  // Waits for this object alone: WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT
  // or WAIT_FAILED. The default polls TryAcquire; objects override it with a
  // real blocking wait.
  virtual DWORD WaitOne(DWORD timeoutMs);

  void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  std::atomic<int> refs_{1};
};

// Events and mutexes, local (platform/base) or named (platform/ipc), answer
// SetEvent/ResetEvent/PulseEvent and ReleaseMutex through these interfaces.
class EventObject : public KernelObject {
 public:
  virtual bool Set() = 0;
  virtual bool Reset() = 0;
  // Releases the waiters present now (all for manual reset, one for auto
  // reset) and leaves the event non-signalled.
  virtual bool Pulse() = 0;
};

class MutexObject : public KernelObject {
 public:
  // Fails unless the calling thread owns the mutex; recursive ownership
  // needs as many releases as acquisitions.
  virtual bool ReleaseOwned() = 0;
};

// A HANDLE is a counted reference to a kernel object; CloseHandle drops it.
using HANDLE = KernelObject*;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

BOOL CloseHandle(HANDLE h);
// Another handle to the same object (the platform's DuplicateHandle within a process).
HANDLE DuplicateLocalHandle(HANDLE h);

// GetLastError after ReleaseMutex by a thread that does not own the mutex.
constexpr DWORD ERROR_NOT_OWNER = 288;

BOOL SetEvent(HANDLE h);
BOOL ResetEvent(HANDLE h);
BOOL PulseEvent(HANDLE h);
BOOL ReleaseMutex(HANDLE h);

// Unnamed objects of this process. CreateEventW and CreateMutexW
// (platform/ipc) give these when no name is passed.
HANDLE CreateLocalEvent(bool manualReset, bool initialState);
HANDLE CreateLocalMutex(bool initialOwner);

// Waits use real (steady) time, never the injectable clock of Time.h.
DWORD WaitForSingleObject(HANDLE h, DWORD timeoutMs);
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
// Waits until any of the handles is signalled (waitAll is not supported and
// fails): WAIT_OBJECT_0 + i, WAIT_ABANDONED_0 + i, WAIT_TIMEOUT or WAIT_FAILED.
// The lowest signalled index wins.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs);

}  // namespace plat
