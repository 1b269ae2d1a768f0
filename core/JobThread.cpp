#include "core/JobThread.h"

#include "core/DebugLog.h"
#include "core/Job.h"
#include "core/JobManager.h"
#include "platform/base/Thread.h"

CJobThread::CJobThread(CJobManager* manager, int queue) : manager_(manager), queue_(queue) {}

CJobThread::~CJobThread() {
  if (!thread_) return;
  CDebugLog& log = CDebugLog::GetInstance();
  log.WriteLine(u"Shutdowning Job Thread... Waiting for thread to stop...");
  // The running job was asked to stop; a job thread is never killed, so it is
  // waited for until its job has returned.
  for (;;) {
    plat::DWORD result = plat::WaitForSingleObject(thread_, kJoinLogIntervalMs);
    if (result != plat::WAIT_TIMEOUT) break;
    log.WriteLine(u"Shutdowning Job Thread... Job still running, waiting on...");
  }
  plat::CloseHandle(thread_);
  thread_ = nullptr;
  log.WriteLine(u"Shutdowning Job Thread... Thread nullified");
}

bool CJobThread::Start() {
  CSyncLock lock(this);
  if (!thread_) {
    thread_ = plat::CreateThread(nullptr, 0, &CJobThread::ThreadProc, this, plat::CREATE_SUSPENDED, nullptr);
    if (thread_) {
      plat::SetThreadPriority(thread_, plat::THREAD_PRIORITY_IDLE);
      plat::ResumeThread(thread_);
    }
  }
  return thread_ != nullptr;
}

bool CJobThread::IsStarted() {
  CSyncLock lock(this);
  return thread_ != nullptr;
}

plat::DWORD CJobThread::ThreadProc(void* param) {
  static_cast<CJobThread*>(param)->Run();
  return 0;
}

void CJobThread::Run() {
  if (manager_->IsShutdown()) return;
  for (;;) {
    // GetNextJob makes the job current before it leaves the manager's lock,
    // so a cancellation never misses a job between queue and Execute.
    CJob* job = manager_->GetNextJob(this);
    if (job) {
      // A job taken just as the manager shuts down is not started.
      if (!manager_->IsShutdown()) {
        try {
          job->Execute();
        } catch (...) {
          CDebugLog::GetInstance().WriteLine(u"** CJobThread::Run - job failed with an exception");
        }
      }
      {
        CSyncLock lock(this);
        currentJob_ = nullptr;
      }
      manager_->DeleteJob(job);
    }
    if (manager_->IsShutdown()) break;
  }
}
