#include "metadata/sources/featex/modules/norm_loudness_module.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/spectral_reference.h"

namespace {

using namespace spectest;

TEST(NormLoudnessModule, SharesOfRealSpectra) {
  // Groups of 5 bands of 26; band 25 is left out.
  onSpectra(loudnessChain("<module name=\"fex_norm_loudness\" instance=\"n\" lb=\"0\" ub=\"26\" nb=\"5\"/>"), 5,
            [](const std::vector<double>& psd, const std::vector<float>& out) {
              const std::vector<double> loudness = referenceSpecificLoudness(psd);
              std::vector<double> sums(5, 0.0);
              double total = 0.0;
              for (int b = 0; b < 25; ++b) sums[b / 5] += loudness[b];
              for (const double s : sums) total += s;
              for (double& s : sums) s /= total;
              expectClose(out, sums, 1e-5);
            });
}

TEST(NormLoudnessModule, SilenceSettingsAndDescriptor) {
  Settings local, global = fextest::frontEndGlobals(kRate);
  global.setLong("transformSize", 512);
  local.setLong("lb", 2);
  local.setLong("ub", 10);
  local.setLong("nb", 4);
  fextest::ModuleInstance module("fex_norm_loudness", local, global);
  EXPECT_EQ(static_cast<NormLoudnessModule&>(*module).getParameterName(), "lb2_ub10_nb4");
  fextest::expectDescribed(module, "log. loudness calculation", "fex_normLoudness + lf=... + uf=... + nb=... + dpcm",
                           "SpecificLoudness", "NormLoudness");
  std::vector<float> bands(26, 0.0f);
  EXPECT_EQ(fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(bands.data(), 26))),
            (std::vector<float>(4, 0.0f)));
  bands[2] = 1.0f;
  bands[9] = 3.0f;
  bands[10] = 100.0f;  // beyond ub
  EXPECT_EQ(fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(bands.data(), 26))),
            (std::vector<float>{0.25f, 0.0f, 0.0f, 0.75f}));

  local.setLong("lb", -2);
  fextest::expectRefused("fex_norm_loudness", local, global, "LogLoudnessModule: 'lb' must be >= 0");
  CNormLoudness<float> norm;
  expectModuleException([&] { norm.processComplex({}); }, "Loudness not defined for complex vectors");
}

}  // namespace
