// Handles, local events and mutexes, and waits.
#include "platform/base/Handle.h"

#include <chrono>
#include <thread>
#include <vector>

#include "platform/base/LocalObjects.h"
#include "platform/base/Thread.h"

namespace plat {

namespace detail {

// Never destroyed: threads still running at process exit keep using them.
std::mutex& LocalStateMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

std::condition_variable& LocalStateChanged() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

}  // namespace detail

namespace {

using Clock = std::chrono::steady_clock;

bool IsBadHandle(HANDLE h) {
  return h == nullptr || h == INVALID_HANDLE_VALUE || h == detail::kCurrentThreadPseudoHandle;
}

class LocalEvent final : public EventObject, public detail::LocalWaitable {
 public:
  LocalEvent(bool manualReset, bool initialState) : manual_(manualReset), signaled_(initialState) {}

  Probe TryAcquire() override {
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    return TryAcquireLocked(pulses_);
  }

  DWORD WaitOne(DWORD timeoutMs) override {
    detail::LocalWaitable* self = this;
    return detail::WaitLocal(&self, 1, timeoutMs);
  }

  bool Set() override {
    {
      std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
      signaled_ = true;
    }
    detail::LocalStateChanged().notify_all();
    return true;
  }

  bool Reset() override {
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    signaled_ = false;
    pulseTokens_ = 0;
    return true;
  }

  bool Pulse() override {
    {
      std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
      signaled_ = false;
      if (waiters_ == 0) return true;  // nobody to release
      ++pulses_;
      pulseTokens_ = manual_ ? waiters_ : 1;
    }
    detail::LocalStateChanged().notify_all();
    return true;
  }

  Probe TryAcquireLocked(unsigned seenPulse) override {
    if (signaled_) {
      if (!manual_) signaled_ = false;
      return Probe::Signaled;
    }
    if (seenPulse != pulses_ && pulseTokens_ > 0) {
      --pulseTokens_;
      return Probe::Signaled;
    }
    return Probe::NotSignaled;
  }

  unsigned PulseGeneration() const override { return pulses_; }
  void AddWaiter() override { ++waiters_; }
  void RemoveWaiter() override {
    if (--waiters_ == 0) pulseTokens_ = 0;
  }
  unsigned WaiterCountLocked() const override { return waiters_; }

 private:
  const bool manual_;
  bool signaled_;
  unsigned pulses_ = 0;      // raised by each pulse that found waiters
  unsigned pulseTokens_ = 0; // waiters the last pulse may still release
  unsigned waiters_ = 0;
};

class LocalMutex;

// The local mutexes the calling thread owns; abandoned when the thread ends.
struct OwnedMutexes {
  std::vector<LocalMutex*> list;
  ~OwnedMutexes();
};
thread_local OwnedMutexes t_owned;

class LocalMutex final : public MutexObject, public detail::LocalWaitable {
 public:
  explicit LocalMutex(bool initialOwner) {
    if (initialOwner) {
      std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
      TakeLocked();
    }
  }

  Probe TryAcquire() override {
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    return TryAcquireLocked(0);
  }

  DWORD WaitOne(DWORD timeoutMs) override {
    detail::LocalWaitable* self = this;
    return detail::WaitLocal(&self, 1, timeoutMs);
  }

  bool ReleaseOwned() override {
    bool freed = false;
    {
      std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
      if (owner_ != GetCurrentThreadId() || count_ == 0) return false;
      if (--count_ == 0) {
        owner_ = 0;
        freed = true;
        auto& list = t_owned.list;
        for (auto it = list.begin(); it != list.end(); ++it) {
          if (*it == this) {
            list.erase(it);
            break;
          }
        }
      }
    }
    if (freed) {
      detail::LocalStateChanged().notify_all();
      Release();  // the owning thread's reference
    }
    return true;
  }

  Probe TryAcquireLocked(unsigned) override {
    DWORD me = GetCurrentThreadId();
    if (owner_ == me) {
      ++count_;
      return Probe::Signaled;
    }
    if (owner_ != 0) return Probe::NotSignaled;
    bool abandoned = abandoned_;
    abandoned_ = false;
    TakeLocked();
    return abandoned ? Probe::Abandoned : Probe::Signaled;
  }

  // With the state lock held, by the thread that ends owning it.
  void AbandonLocked() {
    owner_ = 0;
    count_ = 0;
    abandoned_ = true;
  }

 private:
  void TakeLocked() {
    owner_ = GetCurrentThreadId();
    count_ = 1;
    AddRef();  // held while owned, so an abandoned mutex can be marked
    t_owned.list.push_back(this);
  }

  DWORD owner_ = 0;
  unsigned count_ = 0;
  bool abandoned_ = false;
};

OwnedMutexes::~OwnedMutexes() { detail::AbandonOwnedMutexes(); }

DWORD ProbeResult(KernelObject::Probe p, DWORD index) {
  return p == KernelObject::Probe::Abandoned ? WAIT_ABANDONED_0 + index : WAIT_OBJECT_0 + index;
}

}  // namespace

namespace detail {

// A thread-local with a destructor is registered with the dynamic loader when
// it is first used, under the loader's lock. A thread that first used it
// while ending would wait for that lock while a library is being unloaded
// whose destructor waits for the thread to end (the Today item's starter
// thread when its host unloads the item): both would wait for ever.
void PrepareThreadState() {
  OwnedMutexes* volatile owned = &t_owned;
  (void)owned;
}

void AbandonOwnedMutexes() {
  std::vector<LocalMutex*> owned;
  {
    std::lock_guard<std::mutex> lock(LocalStateMutex());
    owned.swap(t_owned.list);
    for (LocalMutex* m : owned) m->AbandonLocked();
  }
  if (owned.empty()) return;
  LocalStateChanged().notify_all();
  for (LocalMutex* m : owned) m->Release();
}

unsigned LocalWaiterCount(HANDLE h) {
  auto* w = IsBadHandle(h) ? nullptr : dynamic_cast<LocalWaitable*>(h);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(LocalStateMutex());
  return w->WaiterCountLocked();
}

DWORD WaitLocal(LocalWaitable* const* objects, DWORD count, DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(LocalStateMutex());
  std::vector<unsigned> seen(count);
  for (DWORD i = 0; i < count; ++i) {
    objects[i]->AddWaiter();
    seen[i] = objects[i]->PulseGeneration();
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    bool done = false;
    for (DWORD i = 0; i < count && !done; ++i) {
      KernelObject::Probe p = objects[i]->TryAcquireLocked(seen[i]);
      if (p != KernelObject::Probe::NotSignaled) {
        result = ProbeResult(p, i);
        done = true;
      }
    }
    if (done) break;
    if (timeoutMs == INFINITE) {
      LocalStateChanged().wait(lock);
    } else if (LocalStateChanged().wait_until(lock, deadline) == std::cv_status::timeout) {
      // One last look: a change may have come with the time-out.
      for (DWORD i = 0; i < count && !done; ++i) {
        KernelObject::Probe p = objects[i]->TryAcquireLocked(seen[i]);
        if (p != KernelObject::Probe::NotSignaled) {
          result = ProbeResult(p, i);
          done = true;
        }
      }
      break;
    }
  }
  for (DWORD i = 0; i < count; ++i) objects[i]->RemoveWaiter();
  return result;
}

}  // namespace detail

DWORD KernelObject::WaitOne(DWORD timeoutMs) {
  const auto start = Clock::now();
  for (;;) {
    Probe p = TryAcquire();
    if (p == Probe::Signaled) return WAIT_OBJECT_0;
    if (p == Probe::Abandoned) return WAIT_ABANDONED;
    if (timeoutMs != INFINITE && Clock::now() - start >= std::chrono::milliseconds(timeoutMs)) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

BOOL CloseHandle(HANDLE h) {
  if (h == detail::kCurrentThreadPseudoHandle) return TRUE;
  if (IsBadHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  h->Release();
  return TRUE;
}

HANDLE DuplicateLocalHandle(HANDLE h) {
  if (IsBadHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  h->AddRef();
  return h;
}

BOOL SetEvent(HANDLE h) {
  auto* e = IsBadHandle(h) ? nullptr : dynamic_cast<EventObject*>(h);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return e->Set() ? TRUE : FALSE;
}

BOOL ResetEvent(HANDLE h) {
  auto* e = IsBadHandle(h) ? nullptr : dynamic_cast<EventObject*>(h);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return e->Reset() ? TRUE : FALSE;
}

BOOL PulseEvent(HANDLE h) {
  auto* e = IsBadHandle(h) ? nullptr : dynamic_cast<EventObject*>(h);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return e->Pulse() ? TRUE : FALSE;
}

BOOL ReleaseMutex(HANDLE h) {
  auto* m = IsBadHandle(h) ? nullptr : dynamic_cast<MutexObject*>(h);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!m->ReleaseOwned()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateLocalEvent(bool manualReset, bool initialState) { return new LocalEvent(manualReset, initialState); }

HANDLE CreateLocalMutex(bool initialOwner) { return new LocalMutex(initialOwner); }

DWORD WaitForSingleObject(HANDLE h, DWORD timeoutMs) {
  if (IsBadHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  // The wait holds its own reference: a handle closed meanwhile by another
  // thread does not free the object under it.
  h->AddRef();
  DWORD r = h->WaitOne(timeoutMs);
  h->Release();
  return r;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs) {
  if (waitAll) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (IsBadHandle(handles[i])) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  if (count == 1) return WaitForSingleObject(handles[0], timeoutMs);
  struct Hold {
    const HANDLE* hs;
    DWORD n;
    Hold(const HANDLE* h, DWORD c) : hs(h), n(c) {
      for (DWORD i = 0; i < n; ++i) hs[i]->AddRef();
    }
    ~Hold() {
      for (DWORD i = 0; i < n; ++i) hs[i]->Release();
    }
  } hold(handles, count);
  std::vector<detail::LocalWaitable*> local(count);
  bool allLocal = true;
  for (DWORD i = 0; i < count; ++i) {
    local[i] = dynamic_cast<detail::LocalWaitable*>(handles[i]);
    allLocal = allLocal && local[i] != nullptr;
  }
  if (allLocal) return detail::WaitLocal(local.data(), count, timeoutMs);

  // Objects of different kinds: look at each in order, then sleep briefly.
  // The local ones count this wait among their waiters, so a pulse reaches it.
  std::vector<unsigned> seen(count);
  {
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    for (DWORD i = 0; i < count; ++i) {
      if (!local[i]) continue;
      local[i]->AddWaiter();
      seen[i] = local[i]->PulseGeneration();
    }
  }
  auto probe = [&](DWORD i) {
    if (!local[i]) return handles[i]->TryAcquire();
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    return local[i]->TryAcquireLocked(seen[i]);
  };
  const auto start = Clock::now();
  DWORD result = WAIT_TIMEOUT;
  for (bool done = false; !done;) {
    for (DWORD i = 0; i < count && !done; ++i) {
      KernelObject::Probe p = probe(i);
      if (p != KernelObject::Probe::NotSignaled) {
        result = ProbeResult(p, i);
        done = true;
      }
    }
    if (done) break;
    if (timeoutMs != INFINITE && Clock::now() - start >= std::chrono::milliseconds(timeoutMs)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
  for (DWORD i = 0; i < count; ++i)
    if (local[i]) local[i]->RemoveWaiter();
  return result;
}

}  // namespace plat
