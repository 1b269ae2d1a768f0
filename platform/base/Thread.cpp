// Threads.
#include "platform/base/Thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/LocalObjects.h"

namespace plat {

namespace {

class ThreadObject final : public KernelObject, public detail::LocalWaitable {
 public:
  ThreadObject(LPTHREAD_START_ROUTINE start, void* param, bool suspended)
      : start_(start), param_(param), suspended_(suspended) {}

  Probe TryAcquire() override {
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    return TryAcquireLocked(0);
  }

  DWORD WaitOne(DWORD timeoutMs) override {
    detail::LocalWaitable* self = this;
    return detail::WaitLocal(&self, 1, timeoutMs);
  }

  Probe TryAcquireLocked(unsigned) override { return ended_ ? Probe::Signaled : Probe::NotSignaled; }

  static void* Main(void* arg);

  LPTHREAD_START_ROUTINE start_;
  void* param_;
  // Under LocalStateMutex:
  bool suspended_;
  bool started_ = false;
  bool ended_ = false;
  DWORD id_ = 0;
  DWORD exitCode_ = STILL_ACTIVE;
  int priority_ = THREAD_PRIORITY_NORMAL;
};

thread_local ThreadObject* t_self = nullptr;
thread_local int t_priority = THREAD_PRIORITY_NORMAL;  // threads not made by CreateThread

void* ThreadObject::Main(void* arg) {
  auto* self = static_cast<ThreadObject*>(arg);
  t_self = self;
  detail::PrepareThreadState();
  {
    std::unique_lock<std::mutex> lock(detail::LocalStateMutex());
    self->id_ = GetCurrentThreadId();
    self->started_ = true;
    detail::LocalStateChanged().notify_all();
    detail::LocalStateChanged().wait(lock, [&] { return !self->suspended_; });
  }
  DWORD code;
  try {
    code = self->start_(self->param_);
  } catch (...) {
    code = THREAD_EXIT_EXCEPTION;
  }
  detail::AbandonOwnedMutexes();
  {
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    self->exitCode_ = code;
    self->ended_ = true;
    t_self = nullptr;
  }
  detail::LocalStateChanged().notify_all();
  self->Release();  // the thread's own reference
  return nullptr;
}

ThreadObject* FromHandle(HANDLE h) {
  if (h == detail::kCurrentThreadPseudoHandle) return t_self;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<ThreadObject*>(h);
}

}  // namespace

DWORD GetCurrentThreadId() {
  thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}

HANDLE GetCurrentThread() { return detail::kCurrentThreadPseudoHandle; }

HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD flags,
                    DWORD* threadId) {
  // The stack size is a hint the device ignores too; every thread gets the
  // host's default stack.
  (void)security;
  (void)stackSize;
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* t = new ThreadObject(start, param, (flags & CREATE_SUSPENDED) != 0);
  t->AddRef();  // the thread's own reference
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, &ThreadObject::Main, t);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    t->Release();
    t->Release();
    SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(detail::LocalStateMutex());
  detail::LocalStateChanged().wait(lock, [&] { return t->started_; });
  if (threadId) *threadId = t->id_;
  return t;
}

DWORD ResumeThread(HANDLE thread) {
  ThreadObject* t = FromHandle(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  DWORD previous;
  {
    std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
    previous = t->suspended_ ? 1 : 0;
    t->suspended_ = false;
  }
  detail::LocalStateChanged().notify_all();
  return previous;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  if (priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (thread == detail::kCurrentThreadPseudoHandle && !t_self) {
    t_priority = priority;
    return TRUE;
  }
  ThreadObject* t = FromHandle(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
  t->priority_ = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  if (thread == detail::kCurrentThreadPseudoHandle && !t_self) return t_priority;
  ThreadObject* t = FromHandle(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
  return t->priority_;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  ThreadObject* t = FromHandle(thread);
  if (!t || !exitCode) {
    SetLastError(t ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(detail::LocalStateMutex());
  *exitCode = t->ended_ ? t->exitCode_ : STILL_ACTIVE;
  return TRUE;
}

}  // namespace plat
