// The process's job manager: three job queues (0, 1 and 2), each served by
// one worker thread of idle priority, started when its queue first receives a
// job. Jobs run once and are deleted afterwards unless they say otherwise; a
// job equal to one waiting or running can be refused; the jobs of one owner
// can be cancelled.
//
// Lock order: the manager's lock, then a job thread's lock. Jobs run with no
// lock held, so a job may add or cancel jobs itself.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

#include "core/Synchronized.h"
#include "platform/base/Handle.h"

class CJob;
class CJobThread;

class CJobManager : public CSynchronized {
 public:
  static constexpr int kQueueCount = 3;

  // The process's manager, created on the first call (threads are started
  // only by jobs). Null when it could not be made.
  static CJobManager* GetInstance();

  // A manager of its own (the process uses GetInstance).
  CJobManager();
  // Shutdown.
  ~CJobManager() override;
  CJobManager(const CJobManager&) = delete;
  CJobManager& operator=(const CJobManager&) = delete;

  // Queues job (from then on the manager owns it), at the head of the
  // waiting jobs with atFront. A job that asks for it is refused while an
  // equal job waits or runs, and then deleted at once when it is auto-delete:
  // the caller must not touch it afterwards. After Shutdown every job is
  // refused the same way. A null job is ignored.
  void AddJob(CJob* job, bool atFront = false);
  // Removes (and deletes) every waiting job of owner, every job when owner is
  // null, and asks every running job of it to stop. Does not wait.
  void CancelJobs(const void* owner);
  // Deletes a job that ran or was removed, when it is auto-delete.
  void DeleteJob(CJob* job);
  // Cancels every job, stops the threads and joins them.
  void Shutdown();

  bool IsShutdown() const { return shutdown_.load(); }
  // Whether the thread of a queue was started.
  bool IsQueueStarted(int queue);
  // Number of jobs waiting in all queues.
  std::size_t GetPendingCount();

 private:
  friend class CJobThread;

  // The next waiting job of queue, which becomes thread's current job; or,
  // when there is none, waits until the queue's event is set and returns null.
  CJob* GetNextJob(CJobThread* thread);
  static bool Matches(CJob* job, const void* owner);

  std::vector<int> queues_;                           // queue indices, 0 to 2
  std::vector<std::unique_ptr<CJobThread>> threads_;  // one per queue, same order
  std::vector<plat::HANDLE> events_;                  // manual reset, one per queue
  std::deque<CJob*> pending_;                         // waiting jobs of all queues, in order
  std::atomic<bool> shutdown_{false};
};
