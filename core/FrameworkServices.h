// Small services of the layout and control framework that the core and the
// data model call.
#pragma once

#include <cstdint>

// True when the platform names itself "Smartphone" (ignoring case). Worked
// out on the first call and kept while the process works on the same device;
// a failed platform call counts as false.
bool IsSmartphonePlatform();

// value * multiplier / divisor rounded half away from zero (DPI conversions):
// (|value| * multiplier + divisor / 2) / divisor with the sign of value,
// computed in 64 bits. A zero divisor or a result beyond 32 bits gives -1.
std::int32_t MulDivRound(std::int32_t value, std::int32_t multiplier, std::int32_t divisor);
