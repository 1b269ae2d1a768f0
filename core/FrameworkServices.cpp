#include "core/FrameworkServices.h"

#include <limits>
#include <mutex>

#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"

bool IsSmartphonePlatform() {
  static std::once_flag once;
  static bool smartphone = false;
  std::call_once(once, [] {
    char16_t buffer[64] = {};  // 128 bytes
    if (plat::SystemParametersInfoW(plat::SPI_GETPLATFORMTYPE, sizeof(buffer), buffer, 0)) {
      buffer[63] = 0;
      smartphone = plat::EqualsNoCase(buffer, u"Smartphone");
    }
  });
  return smartphone;
}

std::int32_t MulDivRound(std::int32_t value, std::int32_t multiplier, std::int32_t divisor) {
  if (divisor == 0) return -1;
  std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
  std::int64_t result = (magnitude * multiplier + divisor / 2) / divisor;
  if (value < 0) result = -result;
  if (result > std::numeric_limits<std::int32_t>::max() || result < std::numeric_limits<std::int32_t>::min())
    return -1;
  return static_cast<std::int32_t>(result);
}
