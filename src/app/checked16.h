// The job's counters are 16-bit; leaving that range is an error, never a wrap-around.
#pragma once

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace zelmo {

struct Overflow16 : std::overflow_error {
  Overflow16() : std::overflow_error("16-bit counter overflow") {}
};

// a + b as a 16-bit signed value, or Overflow16.
inline int16_t Add16(int64_t a, int64_t b) {
  const int64_t sum = a + b;
  if (sum < std::numeric_limits<int16_t>::min() || sum > std::numeric_limits<int16_t>::max()) {
    throw Overflow16();
  }
  return static_cast<int16_t>(sum);
}

}  // namespace zelmo
