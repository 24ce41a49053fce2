#include "metadata/sources/featex/modules/modulation_feature_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"
#include "tests/support/vmtl_expect.h"

namespace {

using testsignals::kPi;

std::string modulationXml(const std::string& attributes) {
  return "<featex><module name=\"fex_modulation_feature\" instance=\"mod\" " + attributes + "/></featex>";
}

// The same feature in double precision, written out plainly: the means of the
// slice, the last G of them under a Hann window, the magnitudes of their DFT
// and the DCT of the lower half.
std::vector<double> referenceFeature(const std::vector<double>& means, unsigned G, unsigned K) {
  const unsigned L = G / 2;
  std::vector<double> magnitude(L);
  for (unsigned k = 0; k < L; ++k) {
    std::complex<double> sum;
    for (unsigned i = 0; i < G; ++i) {
      const double w = 0.5 * (1 - std::cos(2 * kPi * i / (G - 1)));
      sum += w * means[means.size() - G + i] * std::polar(1.0, -2 * kPi * i * k / G);
    }
    magnitude[k] = std::abs(sum);
  }
  std::vector<double> out(K);
  for (unsigned k = 0; k < K; ++k)
    for (unsigned n = 0; n < L; ++n)
      out[k] += magnitude[n] * (k == 0 ? std::sqrt(1.0 / L) : std::sqrt(2.0 / L)) *
                std::cos((2 * n + 1) * k * kPi / (2 * L));
  return out;
}

TEST(ModulationFeatureModule, DescriptionAndSettings) {
  Settings local, global;
  const std::string groupMessage = "ModulationFeatureModule: parameter \"groupFrames\" not set!";
  fextest::expectRefused("fex_modulation_feature", local, global, groupMessage);
  local.setLong("groupFrames", 0);
  fextest::expectRefused("fex_modulation_feature", local, global, groupMessage);
  local.setLong("groupFrames", 4);
  local.setLong("overlapFrames", 4);
  fextest::expectRefused("fex_modulation_feature", local, global, "ModulationFeatureModule: overlap too big!");
  local.setLong("overlapFrames", 3);
  fextest::ModuleInstance module("fex_modulation_feature", local, global);
  fextest::expectDescribed(module, "computes modulation features",
                           "fex_modulation_feature: numDCTcoeffs=number of DCT coefficients, band=band to calculate "
                           "modulation feature, groupFrames=number of frames to group,  overlapFrames=number of "
                           "overlapping frames",
                           "", "");
  EXPECT_EQ(module->getOutputSize(17), 17u);
  EXPECT_EQ(module->getInputType(), FTI_bvFlt);
  EXPECT_EQ(module->getOutputType(), FTI_bvFlt);
}

TEST(ModulationFeatureModule, EmitsEveryHopFramesAfterTheFirstGroup) {
  auto emissions = [](const std::string& attributes, unsigned frames) {
    fextest::Graph graph(modulationXml(attributes));
    std::vector<unsigned> at;
    for (unsigned f = 1; f <= frames; ++f) {
      const std::vector<float> out = graph.push({1.0f * f, 2.0f, 3.0f});
      if (out.empty()) continue;
      EXPECT_EQ(out.size(), 3u);
      at.push_back(f);
    }
    return at;
  };
  EXPECT_EQ(emissions("groupFrames=\"4\" overlapFrames=\"2\" numDCTcoeffs=\"3\" band=\"1\"", 11),
            (std::vector<unsigned>{4, 6, 8, 10}));
  // An absent overlap (-1) makes the hop G + 1.
  EXPECT_EQ(emissions("groupFrames=\"4\" numDCTcoeffs=\"3\" band=\"1\"", 15), (std::vector<unsigned>{4, 9, 14}));
}

TEST(ModulationFeatureModule, MatchesADoublePrecisionComputation) {
  struct Case {
    unsigned G, overlap, K, band, numBands;
  };
  // With G = 2 the window vanishes at both of its ends: every emission is 0.
  for (const Case& c : {Case{2, 1, 4, 2, 3}, Case{4, 2, 5, 1, 1}, Case{4, 0, 2, 3, 0}, Case{6, 3, 3, 2, 4},
                        Case{8, 5, 6, 1, 8}, Case{12, 4, 4, 5, 2}}) {
    SCOPED_TRACE("G = " + std::to_string(c.G) + ", K = " + std::to_string(c.K));
    std::string attributes = "groupFrames=\"" + std::to_string(c.G) + "\" overlapFrames=\"" + std::to_string(c.overlap) +
                             "\" numDCTcoeffs=\"" + std::to_string(c.K) + "\" band=\"" + std::to_string(c.band) + "\"";
    if (c.numBands) attributes += " numBands=\"" + std::to_string(c.numBands) + "\"";
    fextest::Graph graph(modulationXml(attributes));
    const unsigned slice = c.numBands ? c.numBands : 1;  // absent: one value

    const auto frames = testsignals::frames(testsignals::noise(8 * 40, c.G, 3.0), 8);
    std::vector<double> means;
    unsigned emitted = 0;
    for (unsigned f = 0; f < frames.size(); ++f) {
      double sum = 0;
      for (unsigned b = 0; b < slice; ++b) sum += frames[f][c.band - 1 + b];
      means.push_back(sum / slice);
      const std::vector<float> out = graph.push(frames[f]);
      const unsigned frame = f + 1;
      const bool emits = frame >= c.G && (frame - c.G) % (c.G - c.overlap) == 0;
      ASSERT_EQ(out.size(), emits ? c.K : 0u) << "frame " << frame;
      if (!emits) continue;
      ++emitted;
      const std::vector<double> expected = referenceFeature(means, c.G, c.K);
      for (unsigned k = 0; k < c.K; ++k) EXPECT_NEAR(out[k], expected[k], 1e-5 * (1 + std::abs(expected[k]))) << k;
    }
    EXPECT_GT(emitted, 3u);
  }
}

TEST(ModulationFeatureModule, SliceAndTransformFailures) {
  // "band" absent: the slice starts before the input.
  fextest::Graph noBand(modulationXml("groupFrames=\"4\" numDCTcoeffs=\"2\""));
  expectVmtlFailure([&] { noBand.push({1, 2, 3}); }, "subvector parameters out of range", "base_vector", 256);
  // A slice running past the input.
  fextest::Graph pastEnd(modulationXml("groupFrames=\"4\" numDCTcoeffs=\"2\" band=\"2\" numBands=\"3\""));
  expectVmtlFailure([&] { pastEnd.push({1, 2, 3}); }, "subvector parameters out of range", "base_vector", 256);
  // A transform of one value is not supported: the first emission fails.
  fextest::Graph single(modulationXml("groupFrames=\"1\" numDCTcoeffs=\"2\" band=\"1\""));
  expectVmtlFailure([&] { single.push({1}); }, "error in computing forward FFT", "fft_wrapper", 244);
}

}  // namespace
