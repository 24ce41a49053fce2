#pragma once
// What the benches share: the clock, the heap in use, reproducible random
// vectors and the song counts asked for on the command line.

#include <malloc.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}
inline double millisecondsSince(Clock::time_point start) { return secondsSince(start) * 1e3; }

// Bytes allocated, large blocks (mapped on their own) included.
inline size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// The next number of a linear congruential sequence: the same data in every run.
inline uint32_t nextRandom(uint32_t& state) { return state = state * 1664525u + 1013904223u; }

// values numbers in [0, 1).
inline std::vector<float> randomVector(uint32_t& state, unsigned values) {
  std::vector<float> vector(values);
  for (float& value : vector) value = static_cast<float>(nextRandom(state) >> 8) / static_cast<float>(1u << 24);
  return vector;
}

// The song counts given as arguments, or the defaults.
inline std::vector<unsigned> songCounts(int argc, char** argv, std::vector<unsigned> defaults) {
  std::vector<unsigned> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(static_cast<unsigned>(std::strtoul(argv[i], nullptr, 10)));
  return counts.empty() ? defaults : counts;
}

}  // namespace bench
