// A unit of background work, handed to the job manager (CJobManager), which
// runs it once on the worker thread of its queue and deletes it afterwards
// unless the job says otherwise.
#pragma once

#include "core/Synchronized.h"

class CJob : public virtual CSynchronized {
 public:
  // owner: the object that made the job (its address), used only to cancel
  // the jobs of one owner.
  explicit CJob(const void* owner);
  ~CJob() override;

  const void* GetOwner() const { return owner_; }

  // The manager deletes the job after it ran, or when it was refused or
  // cancelled. A job that answers false stays its creator's.
  virtual bool IsAutoDelete() { return true; }
  // The queue, 0 to 2.
  virtual int GetQueue() = 0;
  // The kind of job; the manager does not use it.
  virtual int GetType() { return 3; }
  // Does the work on the job thread, with no manager lock held.
  virtual void Execute() = 0;
  // Asks a running Execute to end soon. Called from another thread, possibly
  // before Execute starts.
  virtual void Stop() = 0;
  // The manager refuses this job while an equal one waits or runs.
  virtual bool CheckForDuplicates() { return false; }
  // The two jobs do the same work.
  virtual bool IsEqual(CJob* other) { return false; }

 private:
  const void* owner_;
};
