#include "update/jobs/UpdatersManager.h"

#include <algorithm>

CUpdatersManager& CUpdatersManager::GetInstance() {
  static CUpdatersManager instance;
  return instance;
}

void CUpdatersManager::AddUpdater(IUpdater* updater) {
  if (updater == nullptr) return;
  CSyncLock lock(this, u"CUpdatersManager::AddUpdater");
  updaters_.erase(std::remove(updaters_.begin(), updaters_.end(), updater), updaters_.end());
  updaters_.push_back(updater);
}

void CUpdatersManager::RemoveUpdater(IUpdater* updater) {
  CSyncLock lock(this, u"CUpdatersManager::RemoveUpdater");
  const auto found = std::find(updaters_.begin(), updaters_.end(), updater);
  if (found != updaters_.end()) updaters_.erase(found);
}

CUpdateJob* CUpdatersManager::CreateJob(IUpdateItem* item) {
  CSyncLock lock(this, u"CUpdatersManager::CreateJob");
  for (IUpdater* updater : updaters_) {
    if (CUpdateJob* job = updater->CreateJob(item)) return job;
  }
  return nullptr;
}

int CUpdatersManager::GetCount() {
  CSyncLock lock(this, u"CUpdatersManager::GetCount");
  return static_cast<int>(updaters_.size());
}

IUpdater* CUpdatersManager::GetAt(int index) {
  CSyncLock lock(this, u"CUpdatersManager::GetAt");
  if (index < 0 || index >= static_cast<int>(updaters_.size())) return nullptr;
  return updaters_[static_cast<std::size_t>(index)];
}
