#pragma once
// What the benches share: the clock, the heap in use, reproducible random
// vectors, synthetic music, one core for the process, the median of times and
// the song counts asked for on the command line.

#include <malloc.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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

// 16-bit samples of music-like audio at rate Hz, seconds long: chords changing
// every two seconds over a bass line, with hi-hat noise and a kick drum on
// every beat at 120 beats per minute.
inline std::vector<short> musicLikeAudio(unsigned rate, unsigned seconds) {
  constexpr double kPi = 3.14159265358979323846;
  const size_t n = size_t{rate} * seconds;
  std::vector<short> samples(n);
  const double chords[4][3] = {{261.63, 329.63, 392.00},
                               {220.00, 261.63, 329.63},
                               {174.61, 220.00, 261.63},
                               {196.00, 246.94, 293.66}};
  uint32_t noise = 1;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const auto& chord = chords[static_cast<unsigned>(t / 2.0) % 4];
    const double beat = std::fmod(t, 0.5);
    double v = 0.0;
    for (double f : chord)
      for (int h = 1; h <= 3; ++h) v += 0.06 / h * std::sin(2 * kPi * f * h * t);
    v += 0.15 * std::sin(2 * kPi * chord[0] / 2 * t);
    v += 0.5 * std::exp(-beat * 30.0) * std::sin(2 * kPi * (50.0 + 100.0 * std::exp(-beat * 40.0)) * beat);
    v += 0.05 * std::exp(-std::fmod(t, 0.25) * 40.0) *
         (static_cast<double>(nextRandom(noise) >> 8) / (1u << 24) * 2.0 - 1.0);
    samples[i] = static_cast<short>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
  }
  return samples;
}

// Keeps the process on the core it runs on, so that its times are one core's.
inline void pinToCurrentCore() {
  const int cpu = sched_getcpu();
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

// The middle value; the mean of the two middle ones for an even count.
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The song counts given as arguments, or the defaults.
inline std::vector<unsigned> songCounts(int argc, char** argv, std::vector<unsigned> defaults) {
  std::vector<unsigned> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(static_cast<unsigned>(std::strtoul(argv[i], nullptr, 10)));
  return counts.empty() ? defaults : counts;
}

}  // namespace bench
