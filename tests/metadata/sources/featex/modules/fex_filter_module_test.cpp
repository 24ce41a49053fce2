#include "metadata/sources/featex/modules/fex_filter_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"

namespace {

// The section written out independently, its coefficients rounded to float
// as the module keeps them; the DC blocker is the same recursion with its
// own coefficients.
std::vector<double> reference(double fc, double fs, bool highpass, bool dc, const std::vector<float>& x) {
  const double r2 = std::sqrt(2.0), K = r2 * std::atan(2.0 * fc / fs), n = 1.0 + r2 * K + K * K;
  const double b0 = highpass ? 1.0 / n : K * K / n;
  double b[3] = {static_cast<float>(b0), static_cast<float>(highpass ? -2.0 * b0 : 2.0 * b0), static_cast<float>(b0)};
  double a[3] = {1.0, static_cast<float>(2.0 * (K * K - 1.0) / n), static_cast<float>((1.0 - r2 * K + K * K) / n)};
  if (dc) {
    b[0] = 0.9921875, b[1] = -0.9921875, b[2] = 0;
    a[1] = -0.984375, a[2] = 0;
  }
  std::vector<double> y(x.size());
  for (size_t i = 0; i < x.size(); ++i)
    for (size_t k = 0; k < 3 && k <= i; ++k) y[i] += b[k] * x[i - k] - (k ? a[k] * y[i - k] : 0.0);
  return y;
}

// Frames of changing length through a graph: the state carries across them.
TEST(CFexFilterModule, SectionsAndDcBlockerFollowTheirDifferenceEquations) {
  const std::vector<float> x = testsignals::noise(5000, 21);
  struct Case {
    std::string attributes;
    double fc;
    bool highpass, dc;
  };
  for (const Case& c : {Case{"", 10000, true, false}, Case{"hpSwitch=\"0\" cutOffFrequency=\"500\"", 500, false, false},
                        Case{"hpSwitch=\"2\" cutOffFrequency=\"60\"", 60, true, false},
                        Case{"DcRejection=\"true\" hpSwitch=\"0\"", 0, false, true}}) {
    fextest::Graph graph("<featex><module name=\"fex_filter\" instance=\"f\" " + c.attributes + "/></featex>");
    std::vector<float> y;
    for (size_t start = 0, i = 0; start < x.size(); ++i) {
      const size_t length = std::min<size_t>(i % 2 ? 100 : 441, x.size() - start);
      const std::vector<float> out = graph.push(std::vector<float>(x.begin() + start, x.begin() + start + length));
      ASSERT_EQ(out.size(), length);
      y.insert(y.end(), out.begin(), out.end());
      start += length;
    }
    const std::vector<double> expected = reference(c.fc, 44100, c.highpass, c.dc, x);
    // Float states near the unit circle (the 60 Hz section) drift by some
    // 1e-5 from the double recursion.
    for (size_t i = 0; i < x.size(); ++i) ASSERT_NEAR(y[i], expected[i], 1e-4) << c.attributes << " sample " << i;
  }
}

TEST(CFexFilterModule, FrequenciesAreReadAsUnsigned) {
  Settings local, global;  // no samplingRate: 4294967295 Hz
  fextest::ModuleInstance module("fex_filter", local, global);
  EXPECT_DOUBLE_EQ(dynamic_cast<CFexFilterModule&>(*module).getSection().K,
                   std::sqrt(2.0) * std::atan(20000.0 / 4294967295.0));
  local.setLong("cutOffFrequency", -2);
  global.setLong("samplingRate", 8000);
  fextest::ModuleInstance wrapped("fex_filter", local, global);
  EXPECT_DOUBLE_EQ(dynamic_cast<CFexFilterModule&>(*wrapped).getSection().K,
                   std::sqrt(2.0) * std::atan(2.0 * 4294967294.0 / 8000.0));
  EXPECT_EQ(module->getOutputSize(441), 441u);
  fextest::expectDescribed(module, "module for filtering the input signal", "fex_filter", "TimeMono", "TimeMono");
}

}  // namespace
