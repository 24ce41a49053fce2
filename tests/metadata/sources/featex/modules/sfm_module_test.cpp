#include "metadata/sources/featex/modules/sfm_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/spectral_reference.h"

namespace {

using namespace spectest;

double flatness(const std::vector<double>& v) {
  double sum = 0.0, logSum = 0.0;
  for (const double x : v) {
    sum += x;
    logSum += x == 0.0 ? -4.81648 : std::log(x);
  }
  const double am = sum / v.size(), gm = std::exp(logSum / v.size());
  return am > gm ? gm / am : 1.0;
}

TEST(SfmModule, FlatnessOfGroupedLogBandsOfRealSpectra) {
  // 24 quarter-octave bands from 250 Hz end at 16000 Hz, below 22050: no
  // adaptation. Bands 8-11 are averaged in groups of 2 bins, 12-15 of 4,
  // 16-19 of 8, 20-23 of 16.
  onSpectra("<module name=\"fex_sfm_mp7\" instance=\"f\" lf=\"250\" nb=\"24\"/>", 24,
            [](const std::vector<double>& psd, const std::vector<float>& out) {
              const float df = float(kRate) / float(kTransform), step = std::pow(2.0f, 0.25f);
              float edge = 250.0f;
              std::vector<double> expected;
              for (unsigned i = 0; i < 24; ++i) {
                const float next = edge * step;
                const long s = roundHalfUp(0.95 * edge / df), e = roundHalfUp(1.05 * next / df);
                edge = next;
                const unsigned group = i < 8 ? 1 : 2u << ((i - 8) / 4);
                const long groups = static_cast<long>(std::floor(double(e - s + 1) / group + 0.5));
                std::vector<double> v;
                for (long q = 0; q < groups; ++q) {
                  double sum = 0.0;
                  for (unsigned k = 0; k < group; ++k) sum += psd[s + q * group + k];
                  v.push_back(sum / group);
                }
                expected.push_back(v.empty() ? 1.0 : flatness(v));
              }
              expectClose(out, expected, 1e-4);
            });
}

TEST(SfmModule, ZeroBinsAndFlatBands) {
  CSpectralFlatnessMP7<float> sfm;
  // Linear layout, bins 4..7 and 8..11.
  ASSERT_EQ(sfm.setParameters({8000, 0, 0, 64, 0}, "lf=500 uf=1500 nb=2 ln=0 "), 2u);
  std::vector<float> psd(33, 3.0f);
  psd[5] = 0.0f;
  const BaseVector<float>& out = sfm.process(BaseVector<float>(psd.data(), 33));
  EXPECT_NEAR(out[0], std::exp((-4.81648 + 3 * std::log(3.0)) / 4) / 2.25, 1e-6);
  EXPECT_EQ(out[1], 1.0f);  // equal values: am = gm
  std::vector<float> silence(33, 0.0f);
  EXPECT_EQ(sfm.process(BaseVector<float>(silence.data(), 33))[0], 1.0f);
  expectModuleException([&] { sfm.processComplex({}); },
                        "Spectral flatness measure not implemented for complex vectors");
}

TEST(SfmModule, SettingsWarningAndAdaptation) {
  Settings local, global = fextest::frontEndGlobals(22050);
  local.setLong("lf", 250);
  local.setLong("nb", 24);
  fextest::expectRefused("fex_sfm_mp7", local, global, "tfTransformSize out of range");
  global.setLong("transformSize", 256);
  local.setLong("nb", 0);
  fextest::expectRefused("fex_sfm_mp7", local, global, "SfmModule: 'nb' invalid");
  local.setLong("nb", 26);
  local.setLong("lf", 124);
  fextest::expectRefused("fex_sfm_mp7", local, global, "SfmModule: 'lf' must be >= 125 Hz");

  // An upper edge off the grid of 26 bands is replaced, and the bands are
  // then lowered to 21 below 11025 Hz.
  local.setLong("lf", 250);
  local.setLong("uf", 15000);
  testing::internal::CaptureStderr();
  fextest::ModuleInstance module("fex_sfm_mp7", local, global);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning: SfmModule: inconsistent settings ('uf'<->'nb'); adapted hiEdge !!!\n");
  EXPECT_EQ(module->getOutputSize(0), 21u);
  EXPECT_EQ(global.getString("auf"), "9513");
  EXPECT_EQ(global.getString("anb"), "21");
  fextest::expectDescribed(module, "spectrum flatness measure calculation", "fex_sfm_mp7 + lf=... + uf=... + nb=...",
                           "PowerDensitySpectrum", "SpectrumFlatness");

  // The linear layout keeps its own upper edge without a warning.
  Settings linear, linearGlobal = fextest::frontEndGlobals(kRate);
  linearGlobal.setLong("transformSize", 512);
  linear.setLong("lf", 250);
  linear.setLong("uf", 3000);
  linear.setLong("nb", 5);
  linear.setString("sfm_lin", "true");
  testing::internal::CaptureStderr();
  fextest::ModuleInstance linearModule("fex_sfm_mp7", linear, linearGlobal);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(static_cast<SfmModule&>(*linearModule).getParameterName(), "lf2_uf34_nb5");
  EXPECT_FALSE(linearGlobal.contains("auf"));
}

}  // namespace
