#include "service/UpdateLock.h"

#include "core/VORegistry.h"

namespace {

constexpr const char16_t* kUpdateLocked = u"UpdateLocked";

plat::REG_VALUE_MATCH DwordMatch(const std::uint32_t& value) {
  return plat::REG_VALUE_MATCH{plat::REG_DWORD, reinterpret_cast<const plat::BYTE*>(&value), sizeof value};
}

}  // namespace

std::uint32_t ReadUpdateLock() {
  CVORegistry key = OpenSettingsKey();
  const std::uint32_t v = key.GetDWORD(kUpdateLocked, CVORegistry::kNoDefault);
  return v == CVORegistry::kNoDefault ? 0 : v;
}

bool TryTakeUpdateLock() {
  CVORegistry key = OpenSettingsKey();
  if (!key.IsOpen()) return false;
  const std::uint32_t taken = kUpdateLockedByService;
  const auto* data = reinterpret_cast<const plat::BYTE*>(&taken);
  if (plat::RegCompareAndSetValueW(key.GetKey(), kUpdateLocked, nullptr, plat::REG_DWORD, data, sizeof taken) ==
      static_cast<plat::LONG>(plat::ERROR_SUCCESS))
    return true;
  const std::uint32_t free = 0;
  const plat::REG_VALUE_MATCH unlocked = DwordMatch(free);
  return plat::RegCompareAndSetValueW(key.GetKey(), kUpdateLocked, &unlocked, plat::REG_DWORD, data,
                                      sizeof taken) == static_cast<plat::LONG>(plat::ERROR_SUCCESS);
}

void ReleaseUpdateLock() {
  CVORegistry key = OpenSettingsKey();
  if (!key.IsOpen()) return;
  const std::uint32_t taken = kUpdateLockedByService;
  plat::RegCompareAndDeleteValueW(key.GetKey(), kUpdateLocked, DwordMatch(taken));
}

void DeleteStaleUpdateLock(std::uint32_t seen) {
  CVORegistry key = OpenSettingsKey();
  if (key.IsOpen()) plat::RegCompareAndDeleteValueW(key.GetKey(), kUpdateLocked, DwordMatch(seen));
}
