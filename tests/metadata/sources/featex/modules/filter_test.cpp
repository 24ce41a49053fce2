#include "metadata/sources/featex/modules/filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/signals.h"

namespace {

// y[n] = sum b[k] x[n-k] - sum_{k>=1} a[k] y[n-k] in double, a[0] taken as 1.
std::vector<double> differenceEquation(const std::vector<float>& a, const std::vector<float>& b,
                                       const std::vector<float>& x) {
  std::vector<double> y(x.size());
  for (size_t n = 0; n < x.size(); ++n) {
    for (size_t k = 0; k < b.size() && k <= n; ++k) y[n] += static_cast<double>(b[k]) * x[n - k];
    for (size_t k = 1; k < a.size() && k <= n; ++k) y[n] -= static_cast<double>(a[k]) * y[n - k];
  }
  return y;
}

BaseVector<float> view(std::vector<float>& v) { return BaseVector<float>(v.data(), static_cast<unsigned>(v.size())); }

// FIR and IIR filters of unequal coefficient counts, fed in frames of changing
// length, follow their difference equations as one continuous signal.
TEST(Filter, FirAndIirFollowTheirDifferenceEquationsAcrossFrames) {
  const std::vector<float> x = testsignals::noise(2000, 3);
  const std::vector<std::pair<std::vector<float>, std::vector<float>>> cases = {
      {{}, {1, -2, 3, 0.5f, -0.125f}},           // FIR
      {{1, -0.9f}, {0.05f, 0.05f}},
      {{1, -1.2f, 0.5f}, {0.3f}},                 // numerator shorter
      {{1, 0.4f}, {0.2f, -0.1f, 0.3f, 0.05f}},     // denominator shorter
  };
  for (auto [a, b] : cases) {
    std::unique_ptr<Filter<float>> filter;
    if (a.empty())
      filter = std::make_unique<FIRFilter<float>>(view(b));
    else
      filter = std::make_unique<IIRFilter<float>>(view(a), view(b));
    std::vector<float> y(x);
    size_t start = 0;
    for (unsigned i = 0; start < y.size(); ++i) {
      const auto length = static_cast<unsigned>(std::min<size_t>(i % 2 ? 7 : 441, y.size() - start));
      BaseVector<float> frame(y.data() + start, length);
      EXPECT_EQ(filter->filterInPlace(frame), length);
      start += length;
    }
    const std::vector<double> expected = differenceEquation(a.empty() ? std::vector<float>{1} : a, b, x);
    for (size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(y[n], expected[n], 2e-5) << "case " << b.size() << " n " << n;
  }
}

TEST(Filter, LeadingCoefficientOtherThanOneIsReportedNotNormalised) {
  std::vector<float> a = {2, 0}, b = {1}, x = {1, 2, 3};
  testing::internal::CaptureStdout();
  IIRFilter<float> iir(view(a), view(b));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING: a0 not equal 1\n");
  const HeapVector<float> copy = iir.filter(view(x));
  EXPECT_EQ(std::vector<float>(copy.begin(), copy.end()), x);
  HeapVector<float> shortOut(2);
  EXPECT_THROW(iir.filter(view(x), shortOut), std::length_error);
  a[0] = 1;
  testing::internal::CaptureStdout();
  IIRFilter<float> quiet(view(a), view(b));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Filter, DcBlockerIsAFirstOrderHighPass) {
  DcBlocker step;
  EXPECT_EQ(step.process(1.0f), 0.9921875f);  // g
  // Then the step decays by a per sample; the recursion on noise is checked
  // through the filter module's graph.
  EXPECT_NEAR(step.process(1.0f), 0.9921875 * 0.984375, 1e-7);
}

// Gain of b/a at z = 1 (DC) and z = -1 (half the sampling rate).
double gainAt(const SecondOrderSection& s, double z) {
  return (s.b0 + s.b1 * z + s.b2 * z * z) / (s.a0 + s.a1 * z + s.a2 * z * z);
}

TEST(Filter, SectionDesignPassesAndStopsTheRightBands) {
  SecondOrderSection high, low, untouched;
  designSecondOrderSection(high, 10000, 44100, kDesignedSectionType, true);
  EXPECT_DOUBLE_EQ(high.K, std::sqrt(2.0) * std::atan(20000.0 / 44100.0));
  EXPECT_DOUBLE_EQ(high.n, 1 + std::sqrt(2.0) * high.K + high.K * high.K);
  EXPECT_DOUBLE_EQ(high.b1, -2 * high.b0);
  EXPECT_NEAR(gainAt(high, 1.0), 0.0, 1e-12);
  EXPECT_NEAR(gainAt(high, -1.0), 1.0, 1e-12);
  designSecondOrderSection(low, 1000, 22050, kDesignedSectionType, false);
  EXPECT_NEAR(gainAt(low, 1.0), 1.0, 1e-12);
  EXPECT_NEAR(gainAt(low, -1.0), 0.0, 1e-12);
  designSecondOrderSection(untouched, 1000, 22050, 5, false);
  EXPECT_EQ(untouched.b0, 1.0);
  EXPECT_EQ(untouched.a1, 0.0);
}

}  // namespace
