// The contract between the update manager and the jobs that update one item
// (a channel, an article or a binary), and the factories that make them.
#pragma once

class CInetSession;
class IUpdateItem;

class CUpdateJob {
 public:
  CUpdateJob() = default;
  virtual ~CUpdateJob() = default;
  CUpdateJob(const CUpdateJob&) = delete;
  CUpdateJob& operator=(const CUpdateJob&) = delete;

  // Called once on the update worker with no lock held; returns when the job
  // is over, having set its item's final update state.
  virtual void Run() = 0;
  // Called from another thread while Run is in progress, after the manager
  // cancelled the job's session; makes Run end soon and change nothing more.
  virtual void Stop() = 0;
  // The item the job updates; answered at any time.
  virtual IUpdateItem* GetItem() = 0;

  // The run's session, set by the update manager after creation and owned by
  // it; null when no session exists.
  CInetSession* GetSession() const { return session_; }
  void SetSession(CInetSession* session) { session_ = session; }

 protected:
  CInetSession* session_ = nullptr;
};

class IUpdater {
 public:
  virtual ~IUpdater() = default;
  // A new job for the item, owned by the caller, or null when this updater
  // does not handle it.
  virtual CUpdateJob* CreateJob(IUpdateItem* item) = 0;
};
