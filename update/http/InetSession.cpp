#include "update/http/InetSession.h"

#include <algorithm>

#include "update/http/InetJob.h"

using namespace plat;

CInetSession::CInetSession(IInetEventListener* listener, bool freeOnly, CInetManager* manager)
    : listener_(listener), parent_(nullptr), manager_(manager ? manager : &CInetManager::GetInstance()) {
  readyEvent_ = CreateLocalEvent(true, false);
  idleEvent_ = CreateLocalEvent(true, true);
  manager_->Register(this, freeOnly);
  registered_ = true;
  if (!IsCancelled() && manager_->GetState() == CInetManager::STATE_CONNECTED) SetEvent(readyEvent_);
}

CInetSession::CInetSession(CInetSession* parent, IInetEventListener* listener)
    : listener_(listener), parent_(parent), manager_(parent->manager_) {
  idleEvent_ = CreateLocalEvent(true, true);
  cancelled_ = parent->IsCancelled();
  parent->AddChild(this);
}

CInetSession::~CInetSession() {
  bool busy;
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    busy = !jobs_.empty() || !children_.empty();
  }
  if (busy) {
    Cancel();
    WaitForSingleObject(idleEvent_, INFINITE);
  }
  if (parent_) {
    parent_->RemoveChild(this);
  } else {
    // Even when a cancel already unregistered this session, a state change
    // may still be calling into it on the connection thread: Unregister
    // waits for that call to end before the events below go away.
    registered_.store(false);
    manager_->Unregister(this);
  }
  if (readyEvent_) CloseHandle(readyEvent_);
  CloseHandle(idleEvent_);
}

HANDLE CInetSession::ReadyEvent() {
  for (CInetSession* s = this; s; s = s->parent_) {
    if (s->readyEvent_) return s->readyEvent_;
  }
  return nullptr;
}

bool CInetSession::WaitForConnection() {
  HANDLE ready = ReadyEvent();
  if (ready) WaitForSingleObject(ready, INFINITE);
  return IsConnected();
}

bool CInetSession::IsConnected() {
  return !IsCancelled() && manager_->GetState() == CInetManager::STATE_CONNECTED;
}

void CInetSession::Cancel() {
  if (cancelled_.exchange(true)) return;
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (CInetSession* child : children_) child->Cancel();
    for (CInetJob* job : jobs_) job->Cancel();
  }
  if (!parent_ && registered_.exchange(false)) manager_->Unregister(this);
  if (readyEvent_) SetEvent(readyEvent_);
  Notify(IInetEventListener::EVENT_CANCELLED, nullptr);
}

void CInetSession::OnConnectionStateChanged() {
  int state = manager_->GetState();
  if (state == CInetManager::STATE_NONE) {
    Cancel();
    if (readyEvent_) SetEvent(readyEvent_);
    Notify(IInetEventListener::EVENT_CANCELLED, nullptr);
  } else if (state == CInetManager::STATE_CONNECTED) {
    ResumeJobs();
    if (readyEvent_) SetEvent(readyEvent_);
    Notify(IInetEventListener::EVENT_CONNECTED, nullptr);
  }
}

void CInetSession::ResumeJobs() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  for (CInetSession* child : children_) child->ResumeJobs();
  for (CInetJob* job : jobs_) job->Resume();
}

void CInetSession::Notify(int code, CInetJob* job) {
  if (parent_ && !ownEvents_) parent_->Notify(code, job);
  if (listener_) listener_->OnInetEvent(code, job);
}

void CInetSession::UpdateIdle() {
  if (jobs_.empty() && children_.empty()) {
    SetEvent(idleEvent_);
  } else {
    ResetEvent(idleEvent_);
  }
}

void CInetSession::AddJob(CInetJob* job) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  jobs_.push_back(job);
  UpdateIdle();
}

void CInetSession::RemoveJob(CInetJob* job) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  std::erase(jobs_, job);
  UpdateIdle();
}

void CInetSession::AddChild(CInetSession* child) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  children_.push_back(child);
  UpdateIdle();
}

void CInetSession::RemoveChild(CInetSession* child) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  std::erase(children_, child);
  UpdateIdle();
}
