#pragma once
// Test signals generated in code: tones and deterministic noise, and the
// cutting of a signal into frames.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsignals {

inline constexpr double kPi = 3.14159265358979323846;

// amplitude · sin(2π f n / fs + phase) for n = 0 .. length - 1.
inline std::vector<float> sine(unsigned length, double frequency, double samplingRate, double amplitude = 1.0,
                               double phase = 0.0) {
  std::vector<float> x(length);
  for (unsigned n = 0; n < length; ++n)
    x[n] = static_cast<float>(amplitude * std::sin(2.0 * kPi * frequency * n / samplingRate + phase));
  return x;
}

// Uniform values in [-amplitude, amplitude) from a fixed linear congruential
// generator, so every run sees the same noise.
inline std::vector<float> noise(unsigned length, uint32_t seed = 1, double amplitude = 1.0) {
  std::vector<float> x(length);
  uint32_t state = seed;
  for (unsigned n = 0; n < length; ++n) {
    state = state * 1664525u + 1013904223u;
    x[n] = static_cast<float>(amplitude * (static_cast<double>(state >> 8) / (1u << 24) * 2.0 - 1.0));
  }
  return x;
}

// Consecutive frames of frameLength samples; a short tail is dropped.
inline std::vector<std::vector<float>> frames(const std::vector<float>& signal, unsigned frameLength) {
  std::vector<std::vector<float>> result;
  for (size_t start = 0; start + frameLength <= signal.size(); start += frameLength)
    result.emplace_back(signal.begin() + static_cast<std::ptrdiff_t>(start),
                        signal.begin() + static_cast<std::ptrdiff_t>(start + frameLength));
  return result;
}

}  // namespace testsignals
