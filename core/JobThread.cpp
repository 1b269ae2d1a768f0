#include "core/JobThread.h"

#include "core/DebugLog.h"
#include "core/Job.h"
#include "core/JobManager.h"
#include "platform/base/Thread.h"

CJobThread::CJobThread(CJobManager* manager, int queue) : m_manager(manager), m_queue(queue) {}

CJobThread::~CJobThread() {
  if (!m_thread) return;
  CDebugLog& log = CDebugLog::GetInstance();
  log.WriteLine(u"Shutdowning Job Thread... Waiting for thread to stop...");
  // The running job was asked to stop; a job thread is never killed, so it is
  // waited for until its job has returned.
  for (;;) {
    plat::DWORD result = plat::WaitForSingleObject(m_thread, kJoinLogIntervalMs);
    if (result != plat::WAIT_TIMEOUT) break;
    log.WriteLine(u"Shutdowning Job Thread... Job still running, waiting on...");
  }
  plat::CloseHandle(m_thread);
  m_thread = nullptr;
  log.WriteLine(u"Shutdowning Job Thread... Thread nullified");
}

bool CJobThread::Start() {
  CSyncLock lock(this);
  if (!m_thread) {
    m_thread = plat::CreateThread(nullptr, 0, &CJobThread::ThreadProc, this, plat::CREATE_SUSPENDED, nullptr);
    if (m_thread) {
      plat::SetThreadPriority(m_thread, plat::THREAD_PRIORITY_IDLE);
      plat::ResumeThread(m_thread);
    }
  }
  return m_thread != nullptr;
}

bool CJobThread::IsStarted() {
  CSyncLock lock(this);
  return m_thread != nullptr;
}

plat::DWORD CJobThread::ThreadProc(void* param) {
  static_cast<CJobThread*>(param)->Run();
  return 0;
}

void CJobThread::Run() {
  if (m_manager->IsShutdown()) return;
  for (;;) {
    // GetNextJob makes the job current before it leaves the manager's lock,
    // so a cancellation never misses a job between queue and Execute.
    CJob* job = m_manager->GetNextJob(this);
    if (job) {
      // A job taken just as the manager shuts down is not started.
      if (!m_manager->IsShutdown()) {
        try {
          job->Execute();
        } catch (...) {
          CDebugLog::GetInstance().WriteLine(u"** CJobThread::Run - job failed with an exception");
        }
      }
      {
        CSyncLock lock(this);
        m_currentJob = nullptr;
      }
      m_manager->DeleteJob(job);
    }
    if (m_manager->IsShutdown()) break;
  }
}
