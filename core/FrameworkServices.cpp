#include "core/FrameworkServices.h"

#include <limits>
#include <mutex>

#include "platform/base/Device.h"
#include "platform/base/SysInfo.h"
#include "platform/base/Text.h"

bool IsSmartphonePlatform() {
  // Kept per device, so a test that poses another platform on a fresh device
  // gets a fresh answer.
  static std::mutex lock;
  static unsigned known = 0;  // device generation + 1 of the kept answer
  static bool smartphone = false;
  const unsigned wanted = plat::DeviceGeneration() + 1;
  std::lock_guard<std::mutex> guard(lock);
  if (known != wanted) {
    char16_t buffer[64] = {};  // 128 bytes
    smartphone = plat::SystemParametersInfoW(plat::SPI_GETPLATFORMTYPE, sizeof(buffer), buffer, 0) &&
                 (buffer[63] = 0, plat::EqualsNoCase(buffer, u"Smartphone"));
    known = wanted;
  }
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
