#include "database/UpdateItem.h"

std::uint32_t CUpdateItem::CombinedStatus() const {
  if (ownState_ == US_UPDATING) return US_UPDATING;
  if (updatingChildren_ > 0) return US_CHILD_UPDATING;
  if (ownState_ == US_WAITING) return US_WAITING;
  if (waitingChildren_ > 0) return US_CHILD_WAITING;
  if (ownState_ == US_FAILED) return US_FAILED;
  if (failedChildren_ > 0) return US_CHILD_FAILED;
  return ownState_;
}

std::uint32_t CUpdateItem::GetUpdateStatus() { return CombinedStatus(); }

void CUpdateItem::SetUpdateState(std::uint32_t state) {
  if (state == ownState_) return;
  const std::uint32_t old = GetUpdateStatus();
  ownState_ = state;
  FireUpdateStatusChanged(old);
}

void CUpdateItem::FireUpdateStatusChanged(std::uint32_t oldStatus) {
  CDBEvent record = CDBEvent::UpdateStatusChanged(this, oldStatus);
  Fire(&record);
}

void CUpdateItem::CountStatus(std::uint32_t status, int delta) {
  switch (status) {
    case US_UPDATING:
    case US_CHILD_UPDATING:
      updatingChildren_ += delta;
      break;
    case US_WAITING:
    case US_CHILD_WAITING:
      waitingChildren_ += delta;
      break;
    case US_FAILED:
    case US_CHILD_FAILED:
      failedChildren_ += delta;
      break;
    default:  // idle: counted nowhere
      break;
  }
}

void CUpdateItem::FireIfChanged(std::uint32_t oldStatus) {
  if (GetUpdateStatus() != oldStatus) FireUpdateStatusChanged(oldStatus);
}

void CUpdateItem::AddChild(IUpdateItem* child) {
  if (child == nullptr) return;
  const std::uint32_t old = GetUpdateStatus();
  CountStatus(child->GetUpdateStatus(), +1);
  FireIfChanged(old);
}

void CUpdateItem::RemoveChild(IUpdateItem* child) {
  if (child == nullptr) return;
  const std::uint32_t old = GetUpdateStatus();
  CountStatus(child->GetUpdateStatus(), -1);
  FireIfChanged(old);
}

void CUpdateItem::OnDBEvent(CDBEvent* record) {
  if (record == nullptr || record->type != DBE_UPDATE_STATUS_CHANGED) return;
  IUpdateItem* item = record->item;
  if (item == nullptr || item == static_cast<IUpdateItem*>(this)) return;
  const std::uint32_t old = GetUpdateStatus();
  CountStatus(record->oldStatus, -1);
  CountStatus(item->GetUpdateStatus(), +1);
  FireIfChanged(old);
}
