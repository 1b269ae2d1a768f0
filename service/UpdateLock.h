// "UpdateLocked" of the product key: the interlock between the service and the
// main program. The service takes it with one compare-and-set of the registry
// (missing or 0 becomes 1), so a main program that starts an update at the
// same moment can never be overwritten by the service or find it taken twice.
#pragma once

#include <cstdint>

// The service's value.
inline constexpr std::uint32_t kUpdateLockedByService = 1;

// "UpdateLocked", 0 when missing.
std::uint32_t ReadUpdateLock();
// Missing or 0 becomes 1 in one step; false when someone holds it (or the
// registry cannot be written).
bool TryTakeUpdateLock();
// Gives back the service's own lock: deleted only while it still holds 1.
void ReleaseUpdateLock();
// Deletes a lock left behind (by a main program that has gone) when it still
// holds the value seen, so a lock taken meanwhile stays.
void DeleteStaleUpdateLock(std::uint32_t seen);
