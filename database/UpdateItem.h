// Update state of everything that can be updated. Each item has an own state,
// set by the update engine, and a combined status that also reflects its
// children; changes of the status travel upward as type-1 events.
#pragma once
#include <cstdint>

#include "database/DBEventListener.h"

// Own states (and the even combined statuses).
enum UpdateState : std::uint32_t {
  US_UPDATING = 0,
  US_CHILD_UPDATING = 1,  // combined status only
  US_WAITING = 2,
  US_CHILD_WAITING = 3,   // combined status only
  US_FAILED = 4,
  US_CHILD_FAILED = 5,    // combined status only
  US_UP_TO_DATE = 6,
  US_NEVER_UPDATED = 7,
};

// Every data-model class holds this as a virtual base, so an object has one
// update part whichever interface it is reached through.
class IUpdateItem : public CDBEventListener {
 public:
  virtual void SetUpdateState(std::uint32_t state) = 0;
  virtual std::uint32_t GetUpdateStatus() = 0;
  virtual void FireUpdateStatusChanged(std::uint32_t oldStatus) = 0;
  // Count a child's present combined status in (or out). A container counts
  // in every child it adopts and counts it out before it drops it.
  virtual void AddChild(IUpdateItem* child) = 0;
  virtual void RemoveChild(IUpdateItem* child) = 0;
};

class CUpdateItem : public virtual IUpdateItem {
 public:
  CUpdateItem() = default;

  // A state equal to the present one does nothing; any other is stored and
  // announced with the combined status from before (even when that reads the
  // same, as from 6 to 7).
  void SetUpdateState(std::uint32_t state) override;
  // The first that holds: own 0 → 0; an updating child → 1; own 2 → 2; a
  // waiting child → 3; own 4 → 4; a failed child → 5; else the own state.
  std::uint32_t GetUpdateStatus() override;
  // Fires a type-1 record naming this item and oldStatus.
  void FireUpdateStatusChanged(std::uint32_t oldStatus) override;
  void AddChild(IUpdateItem* child) override;
  void RemoveChild(IUpdateItem* child) override;
  // A type-1 record of another item moves that child from the counter of the
  // record's old status to the counter of its present status.
  void OnDBEvent(CDBEvent* record) override;

  std::uint32_t GetOwnUpdateState() const { return ownState_; }
  std::int32_t GetFailedChildren() const { return failedChildren_; }
  std::int32_t GetWaitingChildren() const { return waitingChildren_; }
  std::int32_t GetUpdatingChildren() const { return updatingChildren_; }

 protected:
  // Combined status from the own state and the counters.
  std::uint32_t CombinedStatus() const;
  void CountStatus(std::uint32_t status, int delta);
  // Fires type 1 when the combined status differs from oldStatus.
  void FireIfChanged(std::uint32_t oldStatus);

 private:
  std::uint32_t ownState_ = US_NEVER_UPDATED;
  std::int32_t failedChildren_ = 0;
  std::int32_t waitingChildren_ = 0;
  std::int32_t updatingChildren_ = 0;
};
