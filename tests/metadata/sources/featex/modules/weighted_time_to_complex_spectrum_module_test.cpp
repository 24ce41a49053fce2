#include "metadata/sources/featex/modules/weighted_time_to_complex_spectrum_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>
#include <vector>

#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"
#include "tests/support/vmtl_expect.h"

namespace {

using fextest::ModuleInstance;
constexpr double kPi = testsignals::kPi;

// Bins 0 .. n/2 of the DFT of x zero-padded to n, in double.
std::vector<std::complex<double>> dft(const std::vector<float>& x, unsigned n) {
  std::vector<std::complex<double>> bins(n / 2 + 1);
  for (unsigned k = 0; k <= n / 2; ++k)
    for (size_t j = 0; j < x.size(); ++j)
      bins[k] += static_cast<double>(x[j]) * std::polar(1.0, -2.0 * kPi * static_cast<double>((j * k) % n) / n);
  return bins;
}

// Float rounding of a length-n transform grows with log n and with the size
// of the values.
double tolerance(const std::vector<float>& x, unsigned n) {
  double energy = 0;
  for (float v : x) energy += static_cast<double>(v) * v;
  return 4e-7 * std::sqrt(energy * n) * (1 + std::log2(n)) + 1e-6;
}

void expectSpectrum(const BaseVector<std::complex<float>>& bins, const std::vector<float>& x, unsigned n) {
  const auto expected = dft(x, n);
  ASSERT_EQ(bins.size, n / 2 + 1);
  const double tol = tolerance(x, n);
  for (unsigned k = 0; k <= n / 2; ++k) {
    ASSERT_NEAR(bins[k].real(), expected[k].real(), tol) << "n " << n << " bin " << k;
    ASSERT_NEAR(bins[k].imag(), expected[k].imag(), tol) << "n " << n << " bin " << k;
  }
  EXPECT_EQ(bins[0].imag(), 0.0f);
  EXPECT_EQ(bins[n / 2].imag(), 0.0f);
}

TEST(WeightedTimeToComplexSpectrumModule, MatchesADirectDftOverManyLengths) {
  for (unsigned n : {2, 4, 6, 8, 10, 12, 14, 18, 30, 42, 50, 64, 90, 210, 256, 420, 882, 1000, 2048}) {
    Settings local, global;
    global.setLong("windowSize", static_cast<int32_t>(n));
    local.setLong("transformSize", static_cast<int32_t>(n));
    ModuleInstance module("fex_weighted_time_to_complex_spectrum", local, global);
    // A tone between bins plus noise, filling the frame.
    std::vector<float> x = testsignals::sine(n, 3.3, n);
    const std::vector<float> noise = testsignals::noise(n, n, 0.3);
    for (unsigned j = 0; j < n; ++j) x[j] += noise[j];
    expectSpectrum(*module.run<BaseVector<std::complex<float>>>(BaseVector<float>(x.data(), n)), x, n);
  }
}

TEST(WeightedTimeToComplexSpectrumModule, TransformSizeAndTheGlobalSetting) {
  const std::string type = "fex_weighted_time_to_complex_spectrum";
  Settings local, global;
  fextest::expectRefused(type, local, global, "windowSize out of range");
  global.setLong("windowSize", 0);
  fextest::expectRefused(type, local, global, "windowSize out of range");
  for (auto [windowSize, expected] : {std::pair{441, 512u}, {512, 512u}, {1, 2u}, {2, 2u}, {3, 4u}}) {
    Settings g;
    g.setLong("windowSize", windowSize);
    ModuleInstance module(type, local, g);
    EXPECT_EQ(g.getLong("transformSize", -1), static_cast<int32_t>(expected));
    EXPECT_EQ(module->getOutputSize(7), expected / 2 + 1);
  }
  global.setLong("windowSize", 441);
  local.setLong("transformSize", 1024);
  { ModuleInstance module(type, local, global); }
  EXPECT_EQ(global.getString("transformSize"), "1024");
  local.setLong("transformSize", 2048);  // a global value stays as it is
  ModuleInstance module(type, local, global);
  EXPECT_EQ(global.getString("transformSize"), "1024");
  EXPECT_EQ(module->getOutputSize(0), 1025u);
  for (int32_t unsupported : {441, 58, 2 * 3 * 5 * 7 * 11 * 2}) {
    local.setLong("transformSize", unsupported);
    fextest::expectRefused(type, local, global,
                           "WeightedTimeToComplexSpectrumModule: transformSize not supported by the FFT");
  }
  EXPECT_EQ(module->getInputType(), FTI_bvFlt);
  EXPECT_EQ(module->getOutputType(), FTI_bvCplx);
  fextest::expectDescribed(module, "converts signal-space 'WeightedTime' to signal-space 'ComplexSpectrum'",
                           type, "WeightedTime", "ComplexSpectrum");
}

TEST(WeightedTimeToComplexSpectrumModule, ShortFramesKeepTheBufferTail) {
  Settings local, global;
  global.setLong("windowSize", 8);
  ModuleInstance module("fex_weighted_time_to_complex_spectrum", local, global);
  std::vector<float> ones(8, 1.0f), zeros(4, 0.0f), tooLong(9, 0.0f);
  module.run<BaseVector<std::complex<float>>>(BaseVector<float>(ones.data(), 8));
  const auto* bins = module.run<BaseVector<std::complex<float>>>(BaseVector<float>(zeros.data(), 4));
  expectSpectrum(*bins, {0, 0, 0, 0, 1, 1, 1, 1}, 8);
  expectVmtlFailure([&] { module.run<BaseVector<std::complex<float>>>(BaseVector<float>(tooLong.data(), 9)); },
                    "subvector parameters out of range", "base_vector", 256);
}

// The usual front of a spectral chain: a Hann-weighted tone's power spectrum,
// against the DFT of the same weighted frame in double.
TEST(WeightedTimeToComplexSpectrumModule, PowerSpectrumChainInAGraph) {
  const std::string xml =
      "<featex><param frameDuration=\"10\"/>"
      "<module name=\"fex_time_to_weighted_time\" instance=\"win\" window=\"Hann\">"
      "<module name=\"fex_weighted_time_to_complex_spectrum\" instance=\"fft\">"
      "<module name=\"fex_complex_spectrum_to_psd\" instance=\"psd\"/>"
      "<module name=\"fex_complex_spectrum_to_psd\" instance=\"mag\" calcSqrt=\"1\" considerAngle=\"1\"/>"
      "</module></module></featex>";
  std::ostringstream report;
  fextest::Graph graph(xml, fextest::frontEndGlobals(44100), "TimeMono", &report);
  EXPECT_NE(report.str().find("transformSize\t = 512\n"), std::string::npos);
  EXPECT_EQ(graph.extractor.getFrameDuration(), 10);

  std::vector<float> signal = testsignals::sine(441 * 3, 1000, 44100, 0.8);
  const std::vector<float> noise = testsignals::noise(441 * 3, 17, 0.01);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] += noise[i];
  for (const std::vector<float>& frame : testsignals::frames(signal, 441)) {
    std::vector<float> weighted(441);
    for (unsigned k = 0; k < 441; ++k) weighted[k] = frame[k] * static_cast<float>(0.5 * (1 - std::cos(2 * kPi * k / 440)));
    const auto expected = dft(weighted, 512);
    const std::vector<float> out = graph.push(frame);
    ASSERT_EQ(out.size(), 257u + 2 * 257u);
    for (unsigned k = 0; k < 257; ++k) {
      const double power = std::norm(expected[k]);
      ASSERT_NEAR(out[k], power, 1e-4 * (1 + power)) << k;
      ASSERT_NEAR(out[257 + k], std::sqrt(power), 1e-4 * (1 + std::sqrt(power))) << k;
    }
    EXPECT_GT(out[12], 1000 * out[40]);  // 1000 Hz lies in bin 12 of 44100/512 Hz
    EXPECT_NEAR(out[257 + 257 + 12], std::atan(expected[12].imag() / expected[12].real()), 1e-3);
  }
}

}  // namespace
