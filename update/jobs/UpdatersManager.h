// The registry of job factories: the update manager asks it for the job that
// updates an item, and it asks each registered updater in turn.
#pragma once
#include <vector>

#include "core/Synchronized.h"
#include "update/jobs/UpdateJob.h"

class IUpdateItem;

class CUpdatersManager : public CSynchronized {
 public:
  CUpdatersManager() = default;
  virtual ~CUpdatersManager() = default;

  // The process's registry.
  static CUpdatersManager& GetInstance();

  // Lists the updater once, at the end (an updater listed already moves there).
  void AddUpdater(IUpdater* updater);
  // Removes the first entry equal to updater.
  void RemoveUpdater(IUpdater* updater);
  // The first job an updater makes for the item, in list order, owned by the
  // caller; null when every updater declines (or none is listed).
  virtual CUpdateJob* CreateJob(IUpdateItem* item);

  int GetCount();
  IUpdater* GetAt(int index);

 private:
  std::vector<IUpdater*> updaters_;  // not owned
};
