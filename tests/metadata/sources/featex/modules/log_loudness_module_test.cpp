#include "metadata/sources/featex/modules/log_loudness_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/spectral_reference.h"

namespace {

using namespace spectest;

TEST(LogLoudnessModule, LogLoudnessOfRealSpectra) {
  // Groups of 4 bands of 26; bands 24 and 25 are left out.
  onSpectra(loudnessChain("<module name=\"fex_log_loudness\" instance=\"g\" lb=\"0\" ub=\"24\" nb=\"6\" dpcm=\"0\"/>"),
            6, [](const std::vector<double>& psd, const std::vector<float>& out) {
              const std::vector<double> loudness = referenceSpecificLoudness(psd);
              std::vector<double> expected;
              for (int g = 0; g < 6; ++g) {
                const double s = loudness[4 * g] + loudness[4 * g + 1] + loudness[4 * g + 2] + loudness[4 * g + 3];
                expected.push_back(s < 1 ? 0.0 : std::log10(s));
              }
              expectClose(out, expected, 1e-4);
            });
}

// Two groups of one band each.
std::vector<float> run(CLogLoudness<float>& log, std::vector<float> bands) {
  return fextest::values(log.process(BaseVector<float>(bands.data(), static_cast<unsigned>(bands.size()))));
}

TEST(LogLoudnessModule, DpcmAcrossFrames) {
  CLogLoudness<float> log;
  ASSERT_EQ(log.setParameters({44100, 0, 0, 512, 26}, "lb=0 ub=2 nb=2 DPCM"), 2u);
  EXPECT_EQ(log.getParameterName(), "DPCMlb0_ub2_nb2");
  EXPECT_EQ(run(log, {10, 100}), (std::vector<float>{0, 0}));  // no previous frame
  EXPECT_EQ(run(log, {100, 100}), (std::vector<float>{1, 0}));
  // A sum below 1 gives 0 and keeps the previous logarithm; a sum of exactly
  // 1 has the logarithm 0, which the next frame reads as none.
  EXPECT_EQ(run(log, {0.5f, 1}), (std::vector<float>{0, -2}));
  EXPECT_EQ(run(log, {1000, 1000}), (std::vector<float>{1, 0}));
  EXPECT_EQ(run(log, {1, 1000}), (std::vector<float>{-3, 0}));
  EXPECT_EQ(run(log, {10, 10}), (std::vector<float>{0, -2}));

  CLogLoudness<float> plain;
  plain.setParameters({44100, 0, 0, 512, 26}, "lb=0 ub=24 nb=5 ");
  std::vector<float> bands(26, 1.0f);
  bands[20] = 100.0f;  // bands 20-23 lie beyond the 5 groups of 4
  for (const float v : run(plain, bands)) EXPECT_FLOAT_EQ(v, std::log10(4.0f));
  expectModuleException([&] { plain.processComplex({}); }, "Log loudness not defined for complex vectors");

  // The algorithm's own limits.
  const SignalFormat format{44100, 0, 0, 512, 26};
  expectModuleException([&] { plain.setParameters(format, "lb=27 "); }, "Lower band value too large");
  expectModuleException([&] { plain.setParameters(format, "lb=0 ub=27 "); }, "Upper band value too large");
  expectModuleException([&] { plain.setParameters(format, "lb=5 ub=4 "); }, "Lower band greater than upper band");
  expectModuleException([&] { plain.setParameters(format, "nb=27 "); }, "Number of bands too large");
}

TEST(LogLoudnessModule, SettingsAndDescriptor) {
  Settings local, global = fextest::frontEndGlobals(48000);
  local.setLong("lb", 0);
  local.setLong("ub", 24);
  local.setLong("nb", 6);
  fextest::expectRefused("fex_log_loudness", local, global, "tfTransformSize out of range");
  global.setLong("transformSize", 1024);
  local.setLong("nb", 25);
  expectModuleException([&] { fextest::ModuleInstance m("fex_log_loudness", local, global); },
                        "Number of bands too large");
  local.setLong("nb", 6);
  local.setLong("lb", -1);
  fextest::expectRefused("fex_log_loudness", local, global, "LogLoudnessModule: 'lb' must be >= 0");
  local.setLong("lb", 0);
  local.setLong("ub", 27);  // refused although 48000 Hz has 27 critical bands
  fextest::expectRefused("fex_log_loudness", local, global, "LogLoudnessModule: 'ub' must be <= 26");

  // An absent "dpcm" reads as -1: on.
  local.setLong("ub", 24);
  fextest::ModuleInstance module("fex_log_loudness", local, global);
  EXPECT_EQ(static_cast<LogLoudnessModule&>(*module).getParameterName(), "DPCMlb0_ub24_nb6");
  EXPECT_EQ(module->getOutputSize(0), 6u);
  fextest::expectDescribed(module, "log. loudness calculation", "fex_logLoudness + lf=... + uf=... + nb=... + dpcm",
                           "SpecificLoudness", "LogLoudness");
}

}  // namespace
