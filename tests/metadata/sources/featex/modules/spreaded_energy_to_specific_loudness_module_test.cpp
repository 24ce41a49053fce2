#include "metadata/sources/featex/modules/spreaded_energy_to_specific_loudness_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "metadata/sources/vmtl/vmtl_exception.h"
#include "tests/support/fex_graph.h"

namespace {

TEST(spreadedEnergyToSpecificLoudnessModule, PowerOfEachBand) {
  Settings local, global = fextest::frontEndGlobals(48000);
  fextest::ModuleInstance module("fex_spreaded_energy_to_specific_loudness", local, global);
  EXPECT_EQ(module->getOutputSize(0), 27u);
  fextest::expectDescribed(module, "converts signal-space 'spreaded-energy' to signal-space 'specific loudness'.",
                           "spreaded_energy_to_specific_loudness", "SpreadedEnergy", "SpecificLoudness");
  std::vector<float> bands(27, 0.0f);
  bands[1] = 1.0f;
  bands[2] = 1000.0f;
  const std::vector<float> out = fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(bands.data(), 27)));
  EXPECT_EQ(out[0], 0.0f);
  EXPECT_EQ(out[1], 1.0f);
  EXPECT_FLOAT_EQ(out[2], std::pow(1000.0, 0.22));

  try {
    module.run<BaseVector<float>>(BaseVector<float>(bands.data(), 26));
    ADD_FAILURE() << "a frame of 26 bands at 48000 Hz was taken";
  } catch (const VMTLException& e) {
    EXPECT_EQ(e.message, "unequal vector sizes");
    EXPECT_EQ(e.file, "metadata\\sources\\featex\\modules\\spreaded_energy_to_specific_loudness_module");
    EXPECT_EQ(e.line, 96);
  }
}

}  // namespace
