#pragma once
// Conversions of values that may come from stored data or a configuration:
// whatever the value (NaN, infinite, out of range), the result is defined.

#include <cmath>
#include <cstdint>
#include <limits>

// The integer part (toward zero) as an unsigned 32-bit value; NaN and
// values of 0 or less give 0, values beyond the range its largest value.
inline uint32_t toUnsignedSaturated(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<uint32_t>::max())) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(value);
}

// The integer part (toward zero) as a signed 32-bit value; NaN gives 0 and
// values beyond the range saturate.
inline int32_t toIntSaturated(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}
