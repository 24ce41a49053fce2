#include "metadata/sources/featex/modules/time_to_weighted_time_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <new>
#include <vector>

#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"
#include "tests/support/vmtl_expect.h"

namespace {

constexpr double kPi = testsignals::kPi;

TEST(TimeToWeightedTimeModule, EveryWindowWeightsTheFrameInAGraph) {
  const std::vector<std::pair<const char*, std::function<double(unsigned k, unsigned n)>>> shapes = {
      {"Hamming", [](unsigned k, unsigned n) { return 0.54 - 0.46 * std::cos(2 * kPi * k / (n - 1)); }},
      {"Rectangle", [](unsigned, unsigned) { return 1.0; }},
      {"Hann", [](unsigned k, unsigned n) { return 0.5 * (1 - std::cos(2 * kPi * k / (n - 1))); }},
      {"Sine", [](unsigned k, unsigned n) { return std::sin(kPi * (k + 0.5) / n); }},
      {"Blackman", [](unsigned k, unsigned n) {
         return 0.42 - 0.5 * std::cos(2 * kPi * k / (n - 1)) + 0.08 * std::cos(4 * kPi * k / (n - 1));
       }}};
  for (const auto& [name, w] : shapes) {
    fextest::Graph graph(std::string("<featex><module name=\"fex_time_to_weighted_time\" instance=\"w\" window=\"") +
                         name + "\"/></featex>");
    for (const std::vector<float>& frame : testsignals::frames(testsignals::noise(441 * 2, 9), 441)) {
      const std::vector<float> out = graph.push(frame);
      ASSERT_EQ(out.size(), 441u);
      for (unsigned k = 0; k < 441; ++k) ASSERT_NEAR(out[k], frame[k] * w(k, 441), 1e-6) << name << k;
    }
  }
}

TEST(TimeToWeightedTimeModule, SettingsAndFrameLength) {
  Settings local, global;
  local.setString("window", "Hann");
  fextest::expectRefused("fex_time_to_weighted_time", local, global, "TimeToWeightedTimeModule: no windowSize param");
  // Only the absent value -1 has a message; -7 is 4294967289 points, more
  // than the 32-bit target could allocate.
  global.setLong("windowSize", -7);
  EXPECT_THROW(fextest::ModuleInstance("fex_time_to_weighted_time", local, global), std::bad_alloc);
  global.setLong("windowSize", 4);
  for (const char* name : {"hann", "", "HAMMING", "Kaiser"}) {
    local.setString("window", name);
    fextest::expectRefused("fex_time_to_weighted_time", local, global, "unsupported window type");
  }
  local.setString("window", "Hann");
  fextest::ModuleInstance module("fex_time_to_weighted_time", local, global);
  EXPECT_EQ(module->getOutputSize(1000), 4u);
  fextest::expectDescribed(module, "converts signal-space 'TimeMono' to signal-space 'WeightedTime'.",
                           "fex_time_to_weighted_time + ...", "TimeMono", "WeightedTime");
  std::vector<float> frame = {1, 1, 1, 1};
  expectVmtlFailure([&] { module.run<BaseVector<float>>(BaseVector<float>(frame.data(), 3)); },
                    "unequal vector size", "window", 90);
}

}  // namespace
