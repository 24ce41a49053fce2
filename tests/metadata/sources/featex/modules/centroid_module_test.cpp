#include "metadata/sources/featex/modules/centroid_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/spectral_reference.h"
#include "tests/support/vmtl_expect.h"

namespace {

using namespace spectest;

TEST(CFexCentroidModule, CentroidOfEachLogBandOfRealSpectra) {
  onSpectra("<module name=\"fex_centroid\" instance=\"c\" loedge=\"250\" hiedge=\"8000\" numBands=\"20\" res=\"4\"/>",
            20, [](const std::vector<double>& psd, const std::vector<float>& out) {
              const float df = float(kRate) / float(kTransform), step = std::pow(2.0f, 0.25f);
              float edge = 250.0f;
              std::vector<double> expected;
              for (unsigned b = 0; b < 20; ++b) {
                const float next = edge * step;
                const long s = roundHalfUp(0.95 * edge / df), e = roundHalfUp(1.05 * next / df);
                edge = next;
                double num = 0.0, den = 0.0;
                for (long k = s; k <= e; ++k) {
                  num += (k - s) * psd[k];
                  den += psd[k];
                }
                expected.push_back(num / den);
              }
              expectClose(out, expected, 1e-5);
            });
}

TEST(CFexCentroidModule, SettingsAdaptationAndSilence) {
  Settings local, global = fextest::frontEndGlobals(kRate);
  local.setLong("loedge", 250);
  local.setLong("numBands", 24);
  local.setLong("res", 4);
  global.setLong("overlapSize", 1);
  fextest::expectRefused("fex_centroid", local, global, "overlapSize out of range");
  global.setLong("overlapSize", 0);
  fextest::expectRefused("fex_centroid", local, global, "tfTransformSize out of range");

  // An absent upper edge counts as 4294967295: the bands are lowered at
  // least once, here to 23 ending at 13454 Hz.
  global.setLong("transformSize", 512);
  fextest::ModuleInstance module("fex_centroid", local, global);
  EXPECT_EQ(global.getString("auf"), "13454");
  EXPECT_EQ(global.getString("anb"), "23");
  EXPECT_EQ(module->getOutputSize(0), 23u);
  fextest::expectDescribed(module, "centroid calculation", "fex_centroid + loedge=... + hiedge=... + numBands=...",
                           "PowerDensitySpectrum", "SpectralCentroid");

  std::vector<float> silence(kBins, 0.0f);
  for (const float c : fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(silence.data(), kBins))))
    EXPECT_EQ(c, 0.0f);

  // A band longer than the last one cannot be copied into the work buffer
  // (here: 8 bands per octave descending from 20000 Hz, which shrink).
  CSpectralCentroidMP7<float> centroid;
  centroid.setParameters({kRate, 0, 0, kTransform, 0}, "lf=20000 nb=8 rs=-8 ln=1");
  const auto& bands = centroid.getBands();
  ASSERT_GT(bands[0].last - bands[0].first, bands[7].last - bands[7].first);
  expectVmtlFailure([&] { centroid.process(BaseVector<float>(silence.data(), kBins)); }, "unequal vector size",
                    "base_vector", 393);
  expectModuleException([&] { centroid.processComplex({}); },
                        "Spectral centroid measure not defined for complex vectors");
}

}  // namespace
