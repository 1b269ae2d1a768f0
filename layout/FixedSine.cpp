#include "layout/FixedSine.h"

namespace {

// sin(i / 32 of a quarter turn) in 16.16, i = 0..32.
constexpr std::int32_t kQuarter[33] = {0,     3216,  6424,  9616,  12785, 15924, 19024, 22078, 25080,
                                       28020, 30893, 33692, 36410, 39040, 41576, 44011, 46341, 48559,
                                       50660, 52639, 54491, 56212, 57798, 59244, 60547, 61705, 62714,
                                       63572, 64277, 64827, 65220, 65457, 65536};
constexpr int kStepBits = 11;  // 0x10000 / 32 = 2048 angle units per entry
constexpr std::int64_t kStep = 1 << kStepBits;

}  // namespace

std::int32_t FixedSine(std::int32_t angle) {
  const auto bits = static_cast<std::uint32_t>(angle);
  std::int64_t a = bits & 0xFFFF;
  if (bits & 0x10000) a = 0x10000 - a;
  // Quadratic through three neighbouring entries (Newton's forward form);
  // the last interval takes the three entries before its end.
  int i = static_cast<int>(a >> kStepBits);
  if (i > 30) i = 30;
  const std::int64_t f = a - (static_cast<std::int64_t>(i) << kStepBits);
  const std::int64_t y0 = kQuarter[i], y1 = kQuarter[i + 1], y2 = kQuarter[i + 2];
  const std::int64_t d1 = y1 - y0, d2 = y2 - 2 * y1 + y0;
  std::int64_t num = y0 * 2 * kStep * kStep + 2 * kStep * f * d1 + f * (f - kStep) * d2;
  const std::int64_t den = 2 * kStep * kStep;
  std::int64_t value = (num + den / 2) / den;
  if (value > 0x10000) value = 0x10000;
  return static_cast<std::int32_t>((bits & 0x20000) ? -value : value);
}
