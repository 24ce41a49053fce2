#include "metadata/sources/featex/modules/mfcc_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "tests/support/spectral_reference.h"

namespace {

using namespace spectest;
constexpr double kPi = testsignals::kPi;

// The filter edges in double precision.
std::vector<double> melEdges() {
  std::vector<double> f(42);
  for (int i = 0; i < 13; ++i) f[i] = i * 66.666664 + 133.3333;
  for (int i = 13; i < 42; ++i) f[i] = f[12] * std::pow(1.0711703, i - 12);
  return f;
}

double melWeight(const std::vector<double>& f, int j, double b) {
  const double lower = f[j], centre = f[j + 1], upper = f[j + 2], height = 2 / (upper - lower);
  if (lower <= b && b <= centre) return (b - lower) * height / (centre - lower);
  if (centre < b && b < upper) return (upper - b) * height / (upper - centre);
  return 0.0;
}

// Hann window, DFT and cepstrum of one frame, all in double precision.
std::vector<double> referenceCepstrum(const std::vector<float>& frame, unsigned nc) {
  const std::vector<double> f = melEdges();
  std::vector<std::complex<double>> bins(kTransform / 2);
  for (unsigned k = 0; k < bins.size(); ++k)
    for (unsigned n = 0; n < frame.size(); ++n)
      bins[k] += frame[n] * 0.5 * (1 - std::cos(2 * kPi * n / (frame.size() - 1))) *
                 std::polar(1.0, -2 * kPi * double(k) * n / kTransform);
  std::vector<double> e(40);
  for (int j = 0; j < 40; ++j) {
    std::complex<double> sum;
    for (unsigned k = 0; k < bins.size(); ++k) sum += melWeight(f, j, double(k) / kTransform * kRate) * bins[k];
    e[j] = std::abs(sum) > 1e-10 ? std::log10(std::abs(sum)) : -10;
  }
  std::vector<double> c;
  for (unsigned i = 1; i <= nc; ++i) {
    double sum = 0.0;
    for (int j = 0; j < 40; ++j) sum += std::cos(i * (2 * j + 1) * kPi / 80) / std::sqrt(20.0) * e[j];
    c.push_back(sum);
  }
  return c;
}

const char* kGraph =
    "<featex><module name=\"fex_time_to_weighted_time\" instance=\"w\" window=\"Hann\">"
    "<module name=\"fex_weighted_time_to_complex_spectrum\" instance=\"s\">"
    "<module name=\"fex_mfcc\" instance=\"m\" numCoef=\"20\"/></module></module></featex>";

TEST(CFexMfccModule, CepstrumOfRealSpectra) {
  fextest::Graph graph(kGraph);
  for (const std::vector<float>& frame : testFrames())
    expectClose(graph.push(frame), referenceCepstrum(frame, 20), 2e-4);
  // A silent frame: every filter gives -10, and each DCT row sums to 0.
  for (const float c : graph.push(std::vector<float>(kWindow, 0.0f))) EXPECT_NEAR(c, 0.0f, 1e-5);
}

TEST(CFexMfccModule, FiltersKeepOnlyTheirTriangles) {
  CMelCepstrum<float> mel;
  ASSERT_EQ(mel.setParameters({kRate, 0, 0, 2048, 0}, "nc=64 "), 64u);
  EXPECT_FLOAT_EQ(mel.getEdges()[12], 933.3333f);
  EXPECT_NEAR(mel.getEdges()[13], 999.76, 0.01);
  EXPECT_NEAR(mel.getEdges()[41], 6853.8, 0.1);
  const std::vector<double> f = melEdges();
  for (unsigned j = 0; j < 40; ++j)
    for (uint32_t k = 0; k < 1024; ++k) ASSERT_NEAR(mel.getWeight(j, k), melWeight(f, j, k / 2048.0 * kRate), 1e-6);
  // At 8000 Hz the filters reach past the Nyquist bin (4000 Hz), which they
  // leave out: energy there alone reads as silence.
  ASSERT_EQ(mel.setParameters({8000, 0, 0, 64, 0}, "nc=12 "), 12u);
  std::vector<std::complex<float>> nyquist(33);
  nyquist[32] = 1000.0f;
  for (const float c : mel.processComplex(BaseVector<std::complex<float>>(nyquist.data(), 33)))
    EXPECT_NEAR(c, 0.0f, 1e-5);
  expectModuleException(
      [&] {
        mel.setParameters({kRate, 0, 0, 2048, 0}, "nc=65 ");
      },
      "Number of cepstral coefficients too large");
  std::vector<float> real(4);
  expectModuleException([&] { mel.process(BaseVector<float>(real.data(), 4)); }, "Error in mel_ceps");
}

TEST(CFexMfccModule, SettingsAndDescriptor) {
  Settings local, global = fextest::frontEndGlobals(kRate);
  global.setLong("transformSize", 512);
  // An absent "numCoef" reads as -1, beyond the limit as unsigned.
  expectModuleException([&] { fextest::ModuleInstance m("fex_mfcc", local, global); },
                        "Number of cepstral coefficients too large");
  local.setLong("numCoef", 13);
  fextest::ModuleInstance module("fex_mfcc", local, global);
  EXPECT_EQ(module->getOutputSize(0), 13u);
  EXPECT_EQ(module->getInputType(), FTI_bvCplx);
  EXPECT_EQ(module->getOutputType(), FTI_bvFlt);
  fextest::expectDescribed(module, "mel cepstral coufficients calculation", "fex_mfcc + numCoef=...", "ComplexSpectrum",
                           "MelCepstralCoefficients");
}

}  // namespace
