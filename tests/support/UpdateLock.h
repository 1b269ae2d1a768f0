// The update lock ("UpdateLocked" in the program's settings) as the tests
// read it. Two questions, two readers: who holds the lock now (none when the
// value is 0 or missing), and whether the value is there at all (an update
// deletes it when its run ends, so its absence says no update runs).
#pragma once

#include <cstdint>

#include "core/VORegistry.h"

namespace orvtest {

// The stored value; CVORegistry::kNoDefault when it is missing.
inline std::uint32_t StoredUpdateLock() {
  return OpenSettingsKey().GetDWORD(u"UpdateLocked", CVORegistry::kNoDefault);
}

// The lock's holder (1 the service, 2 the main program); 0 when
// none holds it, the value 0 or missing.
inline std::uint32_t UpdateLockHolder() {
  const std::uint32_t v = StoredUpdateLock();
  return v == CVORegistry::kNoDefault ? 0 : v;
}

// The value is gone: no update runs, and the last one has ended.
inline bool UpdateLockRemoved() { return StoredUpdateLock() == CVORegistry::kNoDefault; }

}  // namespace orvtest
