// HTTP sessions: a group of downloads tied to the data connection, with a
// listener that hears progress and the end of every job.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/base/Handle.h"
#include "update/http/InetManager.h"

class CInetJob;

class IInetEventListener {
 public:
  enum Event {
    EVENT_ATTEMPT = 0,
    EVENT_STATUS_OK = 1,
    EVENT_JOB_ENDED = 2,
    EVENT_PROGRESS = 3,
    EVENT_CONNECTED = 5,
    EVENT_CANCELLED = 6,
  };
  virtual ~IInetEventListener() = default;
  // job is null for the session-wide codes 5 and 6.
  virtual void OnInetEvent(int code, CInetJob* job) = 0;
};

// Bodies fetched ahead of the jobs that will ask for them. A job asks before
// it goes to the network: true when it was served (its results are set and
// its events notified); false sends it to the network as usual.
class IInetAhead {
 public:
  virtual ~IInetAhead() = default;
  virtual bool Serve(CInetJob& job) = 0;
};

class CInetSession : public IInetManagerListener {
 public:
  // A root session; manager null means the process's connection manager.
  CInetSession(IInetEventListener* listener, bool freeOnly, CInetManager* manager = nullptr);
  // A child session of parent.
  CInetSession(CInetSession* parent, IInetEventListener* listener);
  ~CInetSession() override;
  CInetSession(const CInetSession&) = delete;
  CInetSession& operator=(const CInetSession&) = delete;

  bool WaitForConnection();
  bool IsConnected();
  bool IsCancelled() const { return cancelled_.load(); }
  void Cancel();
  void OnConnectionStateChanged() override;

  CInetManager& GetManager() { return *manager_; }
  CWinInet& GetWinInet() { return manager_->GetWinInet(); }
  void Notify(int code, CInetJob* job);

  // Events of this session and its children go to its own listener only,
  // not up to the parent's: downloads made ahead report nothing of their
  // own; the job they serve reports them when it takes them.
  void KeepEventsOwn() { ownEvents_ = true; }
  // Where the jobs of this session ask first for a body fetched ahead; set
  // before the session's first job, outlives the session.
  void SetAhead(IInetAhead* ahead) { ahead_ = ahead; }
  IInetAhead* GetAhead() const { return ahead_; }

  // Called by the jobs themselves.
  void AddJob(CInetJob* job);
  void RemoveJob(CInetJob* job);

 private:
  void AddChild(CInetSession* child);
  void RemoveChild(CInetSession* child);
  void ResumeJobs();
  void UpdateIdle();  // under lock_
  plat::HANDLE ReadyEvent();

  IInetEventListener* listener_;
  CInetSession* parent_;
  CInetManager* manager_;
  plat::HANDLE readyEvent_ = nullptr;
  plat::HANDLE idleEvent_ = nullptr;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> registered_{false};
  bool ownEvents_ = false;
  IInetAhead* ahead_ = nullptr;
  std::recursive_mutex lock_;
  std::vector<CInetJob*> jobs_;
  std::vector<CInetSession*> children_;
};
