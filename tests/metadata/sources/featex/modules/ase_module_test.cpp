#include "metadata/sources/featex/modules/ase_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "tests/support/spectral_reference.h"

namespace {

using namespace spectest;

TEST(CFexAseModule, EnvelopeOfRealSpectra) {
  // loedge 62 Hz lies off the grid 1000 * 2^(k/4); the absent upper edge
  // becomes the Nyquist frequency 22050 = fs/2, whose record goes: band 0,
  // the record at 62 Hz and the 33 grid points from 74 to 19027 Hz less one.
  double energy = 0.0;
  for (unsigned k = 0; k < kWindow; ++k) energy += std::pow(0.54 - 0.46 * std::cos(2 * testsignals::kPi * k / 440), 2);
  const double scale = 1.0 / (energy * kTransform * 0.5);
  const double df = double(float(kRate) / float(kTransform));
  std::vector<std::pair<long, double>> records = {{0, 1.0}};
  double k = std::floor(std::log2(62 / 1000.0) / 0.25 + 0.5);
  for (double f = 62; f <= 22050; f = 1000 * std::pow(2.0, ++k / 4)) {
    const double bin = std::floor(f / df + 0.5);
    records.emplace_back(static_cast<long>(bin), bin + 0.5 - f / df);
  }
  records.pop_back();
  ASSERT_EQ(records.size(), 34u);

  onSpectra("<module name=\"fex_ase\" instance=\"a\" loedge=\"62\" resexp=\"-2\"/>", 34,
            [&](const std::vector<double>& psd, const std::vector<float>& out) {
              std::vector<double> expected;
              for (size_t b = 0; b < records.size(); ++b) {
                const auto [bin, weight] = records[b];
                const long end = b + 1 < records.size() ? records[b + 1].first : long(kBins);
                double sum = psd[bin] * weight;
                for (long i = bin + 1; i < end; ++i) sum += psd[i];
                if (b + 1 < records.size()) sum += (1 - records[b + 1].second) * psd[end];
                expected.push_back(sum * scale);
              }
              expectClose(out, expected, 1e-5, 0.0);
            });
}

TEST(CFexAseModule, UpperEdgeAtHalfTheSamplingRate) {
  // fs 16000, N 512: 257 bins reach 8031.25 Hz, so hiedge 8000 stays and no
  // "auf" is written; being fs/2, it drops the record at 8000 Hz.
  Settings local, global = fextest::frontEndGlobals(16000);
  global.setLong("transformSize", 512);
  local.setLong("loedge", 125);
  local.setLong("hiedge", 8000);
  local.setLong("resexp", -2);
  fextest::ModuleInstance module("fex_ase", local, global);
  EXPECT_FALSE(global.contains("auf"));
  EXPECT_EQ(module->getOutputSize(0), 25u);  // band 0, 125 Hz and 2^(-11/4) .. 2^(11/4) kHz
  fextest::expectDescribed(module, " audio spectrum envelope calculation",
                           "fex_ase + loedge=... + hiedge=... + resexp=...", "PowerDensitySpectrum",
                           "AudioSpectrumEnvelope");
  EXPECT_EQ(static_cast<CFexAseModule&>(*module).getParameterName(), "lf125_uf8000_re-2");

  // Below fs/2 the record at 8000 Hz stays.
  CSpectrumEnvelopeMP7<float> ase;
  EXPECT_EQ(ase.setParameters({16002, 400, 0, 512, 0}, "lf=125 uf=8000 re=-2 "), 26u);
  EXPECT_EQ(ase.getRecords().back().bin, 256u);
  expectModuleException(
      [&] {
        ase.setParameters({16000, 400, 0, 512, 0}, "lf=125 uf=8100 ");
      },
      "Upper frequency too large");
  expectModuleException([&] { ase.processComplex({}); }, "ASE not defined for complex vectors");

  // A lower edge just below the upper one, above the last bin's centre,
  // starts its band at bin 257, which a spectrum of 257 bins lacks.
  ASSERT_EQ(ase.setParameters({16000, 400, 0, 512, 0}, "lf=8020 uf=8030 "), 2u);
  EXPECT_EQ(ase.getRecords()[1].bin, 257u);
  std::vector<float> ones(257, 1.0f);
  const BaseVector<float>& bands = ase.process(BaseVector<float>(ones.data(), 257));
  EXPECT_FLOAT_EQ(bands[0], 257 * ase.getScale());
  EXPECT_EQ(bands[1], 0.0f);

  // An absent upper edge becomes the Nyquist frequency.
  local.remove("hiedge");
  fextest::ModuleInstance nyquist("fex_ase", local, global);
  EXPECT_EQ(global.getString("auf"), "8000");

  // An absent lower edge reads as 4294967295, above any upper edge.
  local.remove("loedge");
  expectModuleException([&] { fextest::ModuleInstance m("fex_ase", local, global); },
                        "Upper frequency below lower frequency");
  global.setLong("overlapSize", 5);
  fextest::expectRefused("fex_ase", local, global, "overlapSize out of range");
  global.setLong("overlapSize", 0);
  global.setLong("transformSize", 0);
  fextest::expectRefused("fex_ase", local, global, "tfTransformSize out of range");
}

}  // namespace
