// Sine in 16.16 fixed point without floating point: a full turn is 0x40000,
// so a quarter turn is 0x10000 and the result runs from -0x10000 to 0x10000.
#pragma once

#include <cstdint>

// Bit 16 of the angle mirrors the quarter, bit 17 negates; within a quarter
// the value is interpolated quadratically between 33 table entries. Negative
// angles give negated results; exact at multiples of a quarter turn.
std::int32_t FixedSine(std::int32_t angle);
// The cosine, as the sine of the angle a quarter turn on.
inline std::int32_t FixedCosine(std::int32_t angle) { return FixedSine(0x10000 - angle); }
