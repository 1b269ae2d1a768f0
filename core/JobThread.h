// The worker thread of one job queue: runs the queue's jobs one after the
// other at idle priority. Owned by the job manager.
#pragma once

#include "core/Synchronized.h"
#include "platform/base/Handle.h"
#include "platform/base/Types.h"

class CJob;
class CJobManager;

class CJobThread : public CSynchronized {
 public:
  // How long the destructor waits for the thread before it says so in the
  // log; it then goes on waiting: the thread is always joined, never killed.
  static constexpr plat::DWORD kJoinLogIntervalMs = 10000;

  CJobThread(CJobManager* manager, int queue);
  // Joins the thread. The manager has asked it to stop (shutdown flag, the
  // queue's event set, the running job's Stop) before it gets here.
  ~CJobThread() override;

  int GetQueue() const { return queue_; }

  // Starts the thread at idle priority unless it was started before; true
  // when the thread exists afterwards.
  bool Start();
  bool IsStarted();

  // The job whose Execute runs, or null; read and written under this
  // object's lock.
  CJob* GetCurrentJob() const { return currentJob_; }
  void SetCurrentJob(CJob* job) { currentJob_ = job; }

 protected:
  // The thread body.
  virtual void Run();

 private:
  static plat::DWORD ThreadProc(void* param);

  CJobManager* manager_;
  int queue_;
  CJob* currentJob_ = nullptr;
  plat::HANDLE thread_ = nullptr;
};
