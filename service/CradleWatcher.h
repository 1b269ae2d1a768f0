// The cradle and network watcher: a thread that works out the connection state
// whenever the device reports a change (the registry's "Cradled" on newer
// systems, the address-list-change notice on older ones, which the host's own
// address changes raise too: service/AddressWatch.h) and sets its change
// event when the state moved.
#pragma once

#include <atomic>
#include <memory>

#include "platform/base/Handle.h"
#include "platform/base/Module.h"
#include "platform/registry/Registry.h"

// Connection states.
inline constexpr plat::DWORD kStateNoNetwork = 1;
inline constexpr plat::DWORD kStateCradled = 2;   // desktop pass-through
inline constexpr plat::DWORD kStateOtherNetwork = 3;

// The state now: from the device's host name's addresses and, from system
// version 5 on, "Cradled" of HKEY_LOCAL_MACHINE "System\State\Hardware".
plat::DWORD GetConnectionState();

class CradleWatcher {
 public:
  CradleWatcher();
  // Stops the thread: sets its stop event and waits up to the bound; a thread
  // that has not ended by then keeps its own share of the state and ends on
  // its own (no thread is killed).
  ~CradleWatcher();
  CradleWatcher(const CradleWatcher&) = delete;
  CradleWatcher& operator=(const CradleWatcher&) = delete;

  // The stored state; computed on the spot when no thread runs.
  plat::DWORD GetState();
  // Auto-reset, set at each change of state; null when no thread runs.
  plat::HANDLE ChangeEvent() const;
  bool Running() const;
  // How often the thread has worked out the state (once at its start, then
  // once a notice), for tests.
  unsigned Looks() const;
  // Whether the host's own address list is watched (older systems).
  bool WatchesHostAddresses() const;

  static constexpr plat::DWORD kStopBoundMs = 15000;

 private:
  struct Shared;
  static plat::DWORD ThreadMain(void* param);

  std::shared_ptr<Shared> shared_;
  plat::HANDLE thread_ = nullptr;
};
