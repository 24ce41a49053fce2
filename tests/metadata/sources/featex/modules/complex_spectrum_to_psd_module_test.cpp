#include "metadata/sources/featex/modules/complex_spectrum_to_psd_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "tests/support/fex_graph.h"

namespace {

std::vector<float> psd(std::vector<std::complex<float>> bins, const char* considerAngle, const char* calcSqrt) {
  Settings local, global;
  if (considerAngle) local.setString("considerAngle", considerAngle);
  if (calcSqrt) local.setString("calcSqrt", calcSqrt);
  fextest::ModuleInstance module("fex_complex_spectrum_to_psd", local, global);
  BaseVector<std::complex<float>> in(bins.data(), static_cast<unsigned>(bins.size()));
  return fextest::values(*module.run<BaseVector<float>>(in));
}

// The whole chain from frames to spectra runs in the spectrum module's test.
TEST(ComplexSpectrumToPSDModule, PowerMagnitudeAndPhase) {
  const std::vector<std::complex<float>> bins = {{3, 4}, {-1, 1}, {0, -2}};
  EXPECT_EQ(psd(bins, nullptr, nullptr), (std::vector<float>{25, 2, 4}));
  EXPECT_EQ(psd(bins, "0", "1")[0], 5.0f);
  EXPECT_EQ(psd(bins, "0", "true")[0], 25.0f);  // "true" reads as the number 0
  const std::vector<float> withAngle = psd(bins, "-1", nullptr);
  ASSERT_EQ(withAngle.size(), 6u);
  EXPECT_EQ(withAngle[0], 25.0f);
  EXPECT_FLOAT_EQ(withAngle[3], std::atan(4.0 / 3.0));
  EXPECT_FLOAT_EQ(withAngle[4], -std::atan(1.0));  // no quadrant correction
  EXPECT_FLOAT_EQ(withAngle[5], -std::atan(INFINITY));
  EXPECT_TRUE(psd({}, "1", "1").empty());

  Settings local, global;
  fextest::ModuleInstance module("fex_complex_spectrum_to_psd", local, global);
  EXPECT_EQ(module->getInputType(), FTI_bvCplx);
  EXPECT_EQ(module->getOutputType(), FTI_bvFlt);
  EXPECT_EQ(module->getOutputSize(257), 257u);
  fextest::expectDescribed(module, "norm complex spectrum to PSD.", "fex_complex_spectrum_to_psd", "ComplexSpectrum",
                           "PowerDensitySpectrum");
}

}  // namespace
