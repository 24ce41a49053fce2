#include "metadata/sources/featex/modules/psd_to_ear_transfer_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/fex_graph.h"

namespace {

TEST(PsdToEarTfModule, WeightsFollowTheInputLength) {
  Settings local, global = fextest::frontEndGlobals(44100);
  fextest::ModuleInstance module("fex_psd_to_ear_transfer", local, global);
  EXPECT_EQ(module->getOutputSize(1000000), 0u);  // before the first frame
  fextest::expectDescribed(module, "outer/middle ear weighting function",
                           "power_density_spectrum_to_ear_transfer + ...", "PowerDensitySpectrum", "EarTransfer");
  // The frequency of value k is k * fs / n: the weights are made for the
  // length of each input, not for a transform size.
  for (const unsigned n : {257u, 100u, 257u}) {
    std::vector<float> psd(n);
    for (unsigned k = 0; k < n; ++k) psd[k] = 1.0f + k % 7;
    const std::vector<float> out = fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(psd.data(), n)));
    ASSERT_EQ(out.size(), n);
    EXPECT_EQ(module->getOutputSize(0), n);
    EXPECT_EQ(out[0], 0.0f);
    for (unsigned k = 1; k < n; ++k) {
      const double f = k * 44100.0 / (n * 1000.0);
      const double a = 6.5 * std::exp(-0.6 * std::pow(f - 3.3, 2)) - 0.001 * std::pow(f, 4) - 1.82 * std::pow(f, -0.8);
      // Near the top the weights fall below the normal floats.
      const double expected = psd[k] * std::pow(10.0, 0.1 * a);
      ASSERT_NEAR(out[k], expected, 1e-6 * expected + 1e-42) << n << " " << k;
    }
  }
}

}  // namespace
