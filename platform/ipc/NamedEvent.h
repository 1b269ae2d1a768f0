// A named event of the device: auto or manual reset, its state in the object
// table. Waiters sleep on a futex word of the table, so a waiter that dies
// leaves nothing behind.
#pragma once

#include <memory>

#include "platform/base/Handle.h"
#include "platform/ipc/ObjectTable.h"

namespace plat::ipc {

class NamedEvent final : public EventObject {
 public:
  NamedEvent(std::shared_ptr<ObjectTable> table, int slot) : table_(std::move(table)), slot_(slot) {}
  ~NamedEvent() override;

  Probe TryAcquire() override;
  DWORD WaitOne(DWORD timeoutMs) override;
  bool Set() override;
  bool Reset() override;
  bool Pulse() override;

  // Waiters (of every process) blocked on the event now.
  unsigned Waiters();

 private:
  Slot& S() { return table_->At(slot_); }
  bool TryConsume();
  void Wake();

  std::shared_ptr<ObjectTable> table_;
  int slot_;
};

// The waiters of a named event (0 for any other handle): for tests that must
// know their waiters are in place.
unsigned NamedEventWaiters(HANDLE h);

}  // namespace plat::ipc
