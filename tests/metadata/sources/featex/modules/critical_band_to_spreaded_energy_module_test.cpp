#include "metadata/sources/featex/modules/critical_band_to_spreaded_energy_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/fex_graph.h"

namespace {

TEST(criticalBandToSpreadedEnergyModule, UnitImpulseSpreadsByTheTaps) {
  Settings local, global = fextest::frontEndGlobals(44100);
  fextest::ModuleInstance module("fex_critical_band_to_spreaded_energy", local, global);
  EXPECT_EQ(module->getOutputSize(0), 26u);
  fextest::expectDescribed(module, "converts signal-space 'critical-band' to signal-space 'spreaded-energy'.",
                           "critical_band_to_spreaded_energy", "CriticalBands", "SpreadedEnergy");

  const double tapsDb[23] = {-100, -76, -48, 0,   -16, -25, -37, -43, -52, -58, -63, -70,
                             -77,  -80, -80, -81, -85, -90, -90, -90, -90, -92, -98};
  std::vector<float> bands(26, 0.0f);
  bands[5] = 1.0f;
  const std::vector<float> out = fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(bands.data(), 26)));
  ASSERT_EQ(out.size(), 26u);
  EXPECT_EQ(out[5], 1.0f);
  EXPECT_FLOAT_EQ(out[6], std::pow(10.0, -1.6));
  EXPECT_FLOAT_EQ(out[4], std::pow(10.0, -4.8));
  EXPECT_FLOAT_EQ(out[2], std::pow(10.0, -10.0));
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_EQ(out[0], 0.0f);  // band 0 is the input's band 0
  for (unsigned j = 6; j < 25; ++j) EXPECT_FLOAT_EQ(out[j], std::pow(10.0, tapsDb[j - 2] / 10)) << j;
  EXPECT_EQ(out[25], 0.0f);  // 20 bands up: beyond the taps

  // Band 0 passes unspread.
  bands.assign(26, 0.0f);
  bands[0] = 2.0f;
  bands[1] = 1.0f;
  const std::vector<float> low = fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(bands.data(), 26)));
  EXPECT_EQ(low[0], 2.0f);
  EXPECT_FLOAT_EQ(low[1], 1.0f + 2.0f * std::pow(10.0, -1.6));

  void* output = nullptr;
  fextest::expectSimpleException([&] { module->process(&output, nullptr); }, "input == 0.");
}

}  // namespace
