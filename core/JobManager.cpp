#include "core/JobManager.h"

#include <cstdint>

#include "core/DebugLog.h"
#include "core/Job.h"
#include "core/JobThread.h"

namespace {

unsigned long long AddressOf(const void* p) {
  return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p));
}

}  // namespace

CJobManager* CJobManager::GetInstance() {
  static CJobManager instance;
  return &instance;
}

CJobManager::CJobManager() {
  // The log is made first, so that it outlives the process's manager.
  CDebugLog::GetInstance();
  for (int q = 0; q < kQueueCount; ++q) {
    plat::HANDLE event = plat::CreateLocalEvent(true, false);
    if (!event) break;
    events_.push_back(event);
  }
  if (events_.size() != static_cast<std::size_t>(kQueueCount)) {
    // Without its events no queue can work: jobs then wait until cancelled.
    for (plat::HANDLE e : events_) plat::CloseHandle(e);
    events_.clear();
    return;
  }
  for (int q = 0; q < kQueueCount; ++q) {
    queues_.push_back(q);
    threads_.push_back(std::make_unique<CJobThread>(this, q));
  }
}

CJobManager::~CJobManager() { Shutdown(); }

bool CJobManager::Matches(CJob* job, const void* owner) { return !owner || job->GetOwner() == owner; }

void CJobManager::AddJob(CJob* job, bool atFront) {
  if (!job) return;
  CDebugLog& log = CDebugLog::GetInstance();
  log.WriteLine(u">> CJobManager::AddJob");
  CSyncLock lock(this);
  log.WriteLine(u"** CJobManager::AddJob - got SYNC_LOCK_THIS");

  if (shutdown_.load()) {
    log.WriteLine(u"<< CJobManager::AddJob - shut down");
    if (job->IsAutoDelete()) delete job;
    return;
  }

  bool duplicate = false;
  if (job->CheckForDuplicates()) {
    log.WriteLine(u"** CJobManager::AddJob - check job for equality");
    for (CJob* pending : pending_) {
      if (job->IsEqual(pending)) {
        log.WriteLine(u"Same job is enqueued");
        duplicate = true;
        break;
      }
    }
    for (std::size_t i = 0; !duplicate && i < threads_.size(); ++i) {
      CJobThread* thread = threads_[i].get();
      CSyncLock threadLock(thread);
      CJob* current = thread->GetCurrentJob();
      if (current && job->IsEqual(current)) {
        log.WriteLine(u"Same job is being executed");
        duplicate = true;
      }
    }
    log.WriteLine(u"** CJobManager::AddJob - checked for equality");
  }
  if (duplicate) {
    log.WriteLine(u"<< CJobManager::AddJob - duplicate");
    if (job->IsAutoDelete()) delete job;
    return;
  }

  const int queue = job->GetQueue();
  log.WriteLine(u"** CJobManager::AddJob - adding to queue");
  if (atFront) {
    pending_.push_front(job);
  } else {
    pending_.push_back(job);
  }
  log.WriteLine(u"** CJobManager::AddJob - added to queue");
  for (std::size_t i = 0; i < queues_.size(); ++i) {
    if (queues_[i] != queue) continue;
    log.WriteLine(u"** AddJob() - SetEvent");
    plat::SetEvent(events_[i]);
    threads_[i]->Start();
  }
  log.WriteLine(u"<< CJobManager::AddJob");
}

void CJobManager::CancelJobs(const void* owner) {
  CSyncLock lock(this);
  for (auto it = pending_.begin(); it != pending_.end();) {
    CJob* job = *it;
    if (Matches(job, owner)) {
      it = pending_.erase(it);
      DeleteJob(job);
    } else {
      ++it;
    }
  }
  for (auto& thread : threads_) {
    CSyncLock threadLock(thread.get());
    CJob* current = thread->GetCurrentJob();
    if (current && Matches(current, owner)) current->Stop();
  }
}

void CJobManager::DeleteJob(CJob* job) {
  CDebugLog& log = CDebugLog::GetInstance();
  if (!job) {
    log.WriteLine(u"<< void CJobManager::DeleteJob(CJob *pJob) - NULL passed");
    return;
  }
  log.Printf(u">> void CJobManager::DeleteJob(CJob *pJob) : %08llx", AddressOf(job));
  if (job->IsAutoDelete()) {
    log.Printf(u"** void CJobManager::DeleteJob(CJob *pJob) - autodeleting job %08llx", AddressOf(job));
    delete job;
  }
  log.WriteLine(u"<< void CJobManager::DeleteJob(CJob *pJob)");
}

void CJobManager::Shutdown() {
  std::vector<std::unique_ptr<CJobThread>> threads;
  std::vector<plat::HANDLE> events;
  {
    CSyncLock lock(this);
    shutdown_.store(true);
    CancelJobs(nullptr);
    for (plat::HANDLE e : events_) plat::SetEvent(e);
    threads.swap(threads_);
    events.swap(events_);
    queues_.clear();
  }
  // Joined without the manager's lock, so that a job ending now may still
  // call the manager.
  threads.clear();
  for (plat::HANDLE e : events) plat::CloseHandle(e);
}

bool CJobManager::IsQueueStarted(int queue) {
  CSyncLock lock(this);
  for (std::size_t i = 0; i < queues_.size(); ++i) {
    if (queues_[i] == queue) return threads_[i]->IsStarted();
  }
  return false;
}

std::size_t CJobManager::GetPendingCount() {
  CSyncLock lock(this);
  return pending_.size();
}

CJob* CJobManager::GetNextJob(CJobThread* thread) {
  plat::HANDLE event = nullptr;
  {
    CSyncLock lock(this);
    if (shutdown_.load()) return nullptr;
    const int queue = thread->GetQueue();
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      CJob* job = *it;
      if (job->GetQueue() != queue) continue;
      pending_.erase(it);
      CSyncLock threadLock(thread);
      thread->SetCurrentJob(job);
      return job;
    }
    for (std::size_t i = 0; i < queues_.size(); ++i) {
      if (queues_[i] == queue) event = events_[i];
    }
    if (!event) return nullptr;
    // Reset under the lock under which AddJob sets it after adding: a job
    // added from now on wakes the wait below.
    plat::ResetEvent(event);
  }
  plat::WaitForSingleObject(event, plat::INFINITE);
  return nullptr;
}
