// A named mutex of the device: a robust process-shared mutex in the object
// table, owned by one thread, recursive for it, released only by it. When the
// owner thread or its process ends holding it, the next waiter gets it with
// WAIT_ABANDONED and owns it.
#pragma once

#include <memory>

#include "platform/base/Handle.h"
#include "platform/ipc/ObjectTable.h"

namespace plat::ipc {

class NamedMutex final : public MutexObject {
 public:
  NamedMutex(std::shared_ptr<ObjectTable> table, int slot) : table_(std::move(table)), slot_(slot) {}
  ~NamedMutex() override;

  Probe TryAcquire() override;
  DWORD WaitOne(DWORD timeoutMs) override;
  bool ReleaseOwned() override;

 private:
  Slot& S() { return table_->At(slot_); }
  bool OwnedByCaller();

  std::shared_ptr<ObjectTable> table_;
  int slot_;
};

}  // namespace plat::ipc
