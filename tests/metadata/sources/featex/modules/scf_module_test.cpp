#include "metadata/sources/featex/modules/scf_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/spectral_reference.h"

namespace {

using namespace spectest;

TEST(SCFModule, CrestOfEachLinearBandOfRealSpectra) {
  // 16 quarter-octave bands end at 4000 Hz: bins 2 to 46, 16 bands of 2.
  onSpectra("<module name=\"fex_scf\" instance=\"c\" lf=\"250\" nb=\"16\"/>", 16,
            [](const std::vector<double>& psd, const std::vector<float>& out) {
              std::vector<double> expected;
              for (unsigned b = 0; b < 16; ++b) {
                const double a = psd[2 + 2 * b], c = psd[3 + 2 * b];
                expected.push_back(std::max(a, c) / ((a + c) / 2));
              }
              expectClose(out, expected, 1e-5);
            });
}

TEST(SCFModule, SettingsZerosAndDescriptor) {
  Settings local, global = fextest::frontEndGlobals(kRate);
  local.setLong("lf", 250);
  local.setLong("nb", 4);
  fextest::expectRefused("fex_scf", local, global, "tfTransformSize out of range");
  global.setLong("transformSize", 1024);
  local.setLong("nb", 0);
  fextest::expectRefused("fex_scf", local, global, "SCFModule: 'nb' invalid");
  local.setLong("nb", 4);
  local.remove("lf");
  fextest::expectRefused("fex_scf", local, global, "SCFModule: 'lf' must be >= 250 Hz");

  // lf 0 is accepted; an upper edge beyond the spectrum becomes the Nyquist
  // frequency, written as "auf".
  local.setLong("lf", 0);
  local.setLong("uf", 30000);
  fextest::ModuleInstance module("fex_scf", local, global);
  EXPECT_EQ(global.getString("auf"), "22050");
  EXPECT_FALSE(global.contains("anb"));
  EXPECT_EQ(module->getOutputSize(0), 4u);
  fextest::expectDescribed(module, "spectrum crest measure calculation", "fex_scf + lf=... + uf=... + nb=...",
                           "PowerDensitySpectrum", "SpectralCrest");

  // Bands of 128 bins from bin 0: a band of zeros gives 0, a flat band 1.
  std::vector<float> psd(513, 0.0f);
  std::fill(psd.begin() + 128, psd.begin() + 256, 2.0f);
  psd[300] = 8.0f;
  const std::vector<float> out = fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(psd.data(), 513)));
  EXPECT_EQ(out, (std::vector<float>{0.0f, 1.0f, 128.0f, 0.0f}));

  CCrestFactor<float> crest;
  expectModuleException([&] { crest.processComplex({}); }, "Crest factor measure not defined for complex vectors");
}

}  // namespace
