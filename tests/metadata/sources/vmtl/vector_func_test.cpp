// Tests of vector_ops.h and vector_func.h.
#include "metadata/sources/vmtl/vector_func.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/vector_ops.h"
#include "tests/support/vmtl_expect.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

HeapVector<float> vec(const std::vector<float>& values) {
  HeapVector<float> v(static_cast<unsigned>(values.size()));
  std::copy(values.begin(), values.end(), v.begin());
  return v;
}

HeapVector<float> signal(unsigned n, float phase) {
  HeapVector<float> v(n);
  for (unsigned i = 0; i < n; ++i) v[i] = std::cos(1.1f * static_cast<float>(i) + phase) * (2.0f - 0.05f * i);
  return v;
}

std::vector<float> values(const BaseVector<float>& v) { return std::vector<float>(v.begin(), v.end()); }

TEST(VectorOps, ElementwiseResultsAreNewVectors) {
  const HeapVector<float> a = signal(13, 0.0f);
  const HeapVector<float> b = signal(13, 0.4f);
  const HeapVector<float> sum = a + b;
  const HeapVector<float> difference = vectorDifference(a, b);
  const HeapVector<float> product = a * b;
  const HeapVector<float> scaled = a * 1.5;
  ASSERT_EQ(sum.size, 13u);
  ASSERT_EQ(difference.size, 13u);
  ASSERT_EQ(product.size, 13u);
  ASSERT_EQ(scaled.size, 13u);
  for (unsigned i = 0; i < 13; ++i) {
    EXPECT_EQ(sum[i], a[i] + b[i]);
    EXPECT_EQ(difference[i], a[i] - b[i]);
    EXPECT_EQ(product[i], a[i] * b[i]);
    EXPECT_EQ(scaled[i], a[i] * 1.5f);
  }
  EXPECT_NE(sum.data, a.data);
  EXPECT_NE(difference.data, a.data);
}

TEST(VectorOps, UnequalSizesAreRefused) {
  const HeapVector<float> a = signal(4, 0.0f);
  const HeapVector<float> b = signal(5, 0.0f);
  expectVmtlFailure([&] { (void)(a + b); }, "unequal vector size", "vector_ops", 75);
  expectVmtlFailure([&] { vectorDifference(a, b); }, "unequal vector size", "vector_ops", 107);
  expectVmtlFailure([&] { (void)(a * b); }, "unequal vector size", "vector_ops", 134);
}

TEST(VectorFunc, MeanIsTheDoubleSumOverTheSize) {
  for (unsigned n : {1u, 2u, 7u, 100u, 1001u}) {
    const HeapVector<float> v = signal(n, 0.3f);
    double sum = 0.0;
    for (float x : v) sum += x;
    EXPECT_NEAR(mean(v), sum / n, 1e-12) << n;
  }
  // A float running sum would stop at 2^24.
  HeapVector<float> v = vec({16777216.0f, 1.0f, 1.0f, 1.0f, 1.0f});
  EXPECT_EQ(mean(v), 16777220.0 / 5);

  const HeapVector<float> empty;
  expectVmtlFailure([&] { mean(empty); }, "zero sized vector", "vector_func", 117);
}

TEST(VectorFunc, SquareRoots) {
  const HeapVector<float> v = vec({0.0f, 1.0f, 2.0f, 6.25f, 1e-20f});
  const HeapVector<float> roots = sqrt(v);
  ASSERT_EQ(roots.size, 5u);
  for (unsigned i = 0; i < 5; ++i) EXPECT_EQ(roots[i], static_cast<float>(std::sqrt(static_cast<double>(v[i]))));
}

TEST(VectorFunc, SquaredMagnitudeAndPhaseOfComplexBins) {
  HeapVector<std::complex<float>> bins(5);
  bins[0] = {3.0f, 4.0f};
  bins[1] = {-1.0f, 1.0f};
  bins[2] = {1.0f, 1.0f};
  bins[3] = {-2.0f, -0.5f};
  bins[4] = {0.0f, 2.0f};

  HeapVector<float> power(8);
  const float* block = power.data;
  squaredMagnitude(bins, power);
  EXPECT_EQ(power.data, block);  // shrinking keeps the block
  EXPECT_EQ(values(power), (std::vector<float>{25.0f, 2.0f, 2.0f, 4.25f, 4.0f}));

  HeapVector<float> angle;
  phase(bins, angle);
  ASSERT_EQ(angle.size, 5u);
  EXPECT_FLOAT_EQ(angle[0], static_cast<float>(std::atan(4.0 / 3.0)));
  EXPECT_FLOAT_EQ(angle[1], static_cast<float>(-kPi / 4));  // not 3*pi/4: no quadrant correction
  EXPECT_FLOAT_EQ(angle[2], static_cast<float>(kPi / 4));
  EXPECT_FLOAT_EQ(angle[3], static_cast<float>(std::atan(0.25)));
  EXPECT_FLOAT_EQ(angle[4], static_cast<float>(kPi / 2));

  // Growing past the old size reallocates.
  HeapVector<std::complex<float>> more(9);
  for (unsigned i = 0; i < 9; ++i) more[i] = {static_cast<float>(i), 1.0f};
  squaredMagnitude(more, power);
  ASSERT_EQ(power.size, 9u);
  for (unsigned i = 0; i < 9; ++i) EXPECT_EQ(power[i], static_cast<float>(i * i + 1));
}

// The correlation written out with explicit zero padding, in double.
std::vector<double> centredCorrelation(const std::vector<float>& x, const std::vector<float>& kernel) {
  const int n = static_cast<int>(x.size());
  const int m = static_cast<int>(kernel.size());
  std::vector<double> y(n, 0.0);
  for (int j = 0; j < n; ++j)
    for (int t = 0; t < m; ++t) {
      const int source = j + t - m / 2;
      if (source >= 0 && source < n) y[j] += static_cast<double>(kernel[t]) * x[source];
    }
  return y;
}

TEST(Conv, ShiftsAndIdentity) {
  const std::vector<float> x = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  HeapVector<float> v = vec(x);
  util::conv(v, vec({0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(values(v), x);

  v = vec(x);
  util::conv(v, vec({1.0f, 0.0f, 0.0f}));  // not reversed: the first tap looks back
  EXPECT_EQ(values(v), (std::vector<float>{0.0f, 1.0f, 2.0f, 3.0f, 4.0f}));

  v = vec(x);
  util::conv(v, vec({0.0f, 0.0f, 1.0f}));
  EXPECT_EQ(values(v), (std::vector<float>{2.0f, 3.0f, 4.0f, 5.0f, 0.0f}));

  v = vec(x);
  util::conv(v, vec({0.0f, 0.0f, 0.0f, 0.0f, 1.0f}));
  EXPECT_EQ(values(v), (std::vector<float>{3.0f, 4.0f, 5.0f, 0.0f, 0.0f}));

  v = vec(x);
  util::conv(v, vec({-2.0f}));
  EXPECT_EQ(values(v), (std::vector<float>{-2.0f, -4.0f, -6.0f, -8.0f, -10.0f}));

  // A kernel longer than the signal sees only zeros beyond both ends.
  v = vec({1.0f, 2.0f});
  util::conv(v, vec({1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f}));
  EXPECT_EQ(values(v), (std::vector<float>{3.0f, 3.0f}));
}

TEST(Conv, MatchesThePlainCorrelation) {
  for (unsigned n : {1u, 2u, 7u, 64u}) {
    for (unsigned m : {1u, 3u, 7u, 9u}) {
      const HeapVector<float> x = signal(n, 0.1f);
      const HeapVector<float> kernel = signal(m, 2.0f);
      const std::vector<double> expected = centredCorrelation(values(x), values(kernel));
      HeapVector<float> y(x);
      util::conv(y, kernel);
      ASSERT_EQ(y.size, n);
      for (unsigned j = 0; j < n; ++j) EXPECT_NEAR(y[j], expected[j], 1e-5) << "n " << n << " m " << m << " j " << j;
    }
  }
}

TEST(Conv, EvenKernelIsRefusedAndLeavesTheSignal) {
  HeapVector<float> v = vec({1.0f, 2.0f, 3.0f});
  expectVmtlStringFailure([&] { util::conv(v, vec({1.0f, 1.0f})); }, "util::conv() core size must be odd");
  expectVmtlStringFailure([&] { util::conv(v, HeapVector<float>()); }, "util::conv() core size must be odd");
  EXPECT_EQ(values(v), (std::vector<float>{1.0f, 2.0f, 3.0f}));
}

}  // namespace
