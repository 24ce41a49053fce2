#include "metadata/sources/vmtl/operations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "metadata/sources/vmtl/base_vector.h"
#include "tests/support/vmtl_expect.h"

namespace {

// A deterministic, irregular test signal.
std::vector<float> signal(unsigned n, float phase) {
  std::vector<float> v(n);
  for (unsigned i = 0; i < n; ++i) v[i] = std::sin(0.7f * static_cast<float>(i) + phase) * (1.0f + 0.1f * i);
  return v;
}

HeapVector<float> vec(const std::vector<float>& values) {
  HeapVector<float> v(static_cast<unsigned>(values.size()));
  std::copy(values.begin(), values.end(), v.begin());
  return v;
}

std::vector<float> values(const BaseVector<float>& v) { return std::vector<float>(v.begin(), v.end()); }

// The in-place kernels change their first argument; the others write the
// destination that follows the sources.
TEST(Kernels, ArgumentRoles) {
  const std::vector<float> a = {1.0f, -2.0f, 3.0f};
  const std::vector<float> b = {4.0f, 0.5f, -8.0f};
  std::vector<float> out(3);
  elementwiseMultiply(a.data(), b.data(), out.data(), 3);
  EXPECT_EQ(out, (std::vector<float>{4.0f, -1.0f, -24.0f}));
  elementwiseAdd(a.data(), b.data(), out.data(), 3);
  EXPECT_EQ(out, (std::vector<float>{5.0f, -1.5f, -5.0f}));
  scalarMultiply(a.data(), 2.5, out.data(), 3);
  EXPECT_EQ(out, (std::vector<float>{2.5f, -5.0f, 7.5f}));

  std::vector<float> x = a;
  multiplyElements(x.data(), b.data(), 3);
  EXPECT_EQ(x, (std::vector<float>{4.0f, -1.0f, -24.0f}));
  x = a;
  subtractInPlace(x.data(), b.data(), 3);
  EXPECT_EQ(x, (std::vector<float>{-3.0f, -2.5f, 11.0f}));
  x = a;
  divideElementwise(x.data(), b.data(), 3);
  EXPECT_EQ(x, (std::vector<float>{0.25f, -4.0f, -0.375f}));
  x = a;
  scaleElements(x.data(), -0.25f, 3);
  EXPECT_EQ(x, (std::vector<float>{-0.25f, 0.5f, -0.75f}));
  x = a;
  addScalar(x.data(), 3, 3);
  EXPECT_EQ(x, (std::vector<float>{4.0f, 1.0f, 6.0f}));
}

TEST(Kernels, StridedCopyReadsAndWritesAtTheirSteps) {
  const std::vector<float> src = signal(12, 0.5f);
  std::vector<float> dst(8, -1.0f);
  stridedCopy(src.data(), 3, dst.data(), 2, 4);
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(dst[2 * i], src[3 * i]);
    EXPECT_EQ(dst[2 * i + 1], -1.0f);  // untouched between the steps
  }
}

TEST(Kernels, SumsAccumulateInDouble) {
  // 2^24 + 1 is not a float: a float accumulator would stay at 2^24 for good.
  std::vector<float> x(9, 1.0f);
  x[0] = 16777216.0f;
  EXPECT_EQ(sumElements(x.data(), 9), 16777224.0);

  std::vector<float> strided(27, 1000.0f);
  for (unsigned i = 0; i < 9; ++i) strided[3 * i] = x[i];
  EXPECT_EQ(sumStrided(strided.data(), 3, 9), 16777224.0);

  const std::vector<float> a = signal(101, 0.0f);
  const std::vector<float> b = signal(101, 2.0f);
  double sum = 0.0;
  double distance = 0.0;
  for (unsigned i = 0; i < 101; ++i) {
    sum += a[i];
    distance += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
  }
  EXPECT_NEAR(sumElements(a.data(), 101), sum, 1e-12);
  EXPECT_NEAR(squaredEuclideanDistance(a.data(), b.data(), 101), distance, 1e-12 * distance);

  // An empty range reads nothing.
  EXPECT_EQ(sumElements<float>(nullptr, 0), 0.0);
  EXPECT_EQ(sumStrided<float>(nullptr, 4, 0), 0.0);
  EXPECT_EQ(squaredEuclideanDistance<float>(nullptr, nullptr, 0), 0.0);
}

TEST(Kernels, DivideElementwiseStopsAtTheFirstZeroDivisor) {
  HeapVector<float> a = vec({8.0f, 9.0f, 10.0f, 11.0f});
  const HeapVector<float> b = vec({2.0f, 3.0f, 0.0f, 1.0f});
  expectVmtlFailure([&] { divideElementwise(a.data, b.data, a.size); }, "attempt to divide by zero", "operations",
                    446);
  EXPECT_EQ(values(a), (std::vector<float>{4.0f, 3.0f, 10.0f, 11.0f}));

  const HeapVector<float> negativeZero = vec({-0.0f});
  expectVmtlFailure([&] { divideElementwise(a.data, negativeZero.data, 1); }, "attempt to divide by zero",
                    "operations", 446);
}

TEST(ScalarDivision, MultipliesByTheReciprocalAndRefusesZero) {
  const std::vector<float> in = signal(23, 0.2f);
  HeapVector<float> x = vec(in);
  divideElements(x, 3.0f);
  for (unsigned i = 0; i < x.size; ++i) EXPECT_EQ(x[i], in[i] * (1.0f / 3.0f));

  HeapVector<float> out(30);
  std::fill(out.begin(), out.end(), -7.0f);
  const HeapVector<float> source = vec(in);
  divideElements(out, source, 7);
  for (unsigned i = 0; i < source.size; ++i) EXPECT_EQ(out[i], in[i] * (1.0f / 7.0f));
  EXPECT_EQ(out[23], -7.0f);  // only in.size elements are written

  expectVmtlFailure([&] { divideElements(x, 0.0f); }, "attempt to divide by zero", "operations", 407);
  expectVmtlFailure([&] { divideElements(out, source, 0.0f); }, "attempt to divide by zero", "operations", 425);
  for (unsigned i = 0; i < source.size; ++i) EXPECT_EQ(out[i], in[i] * (1.0f / 7.0f));
}

TEST(BaseVectorInPlace, MultiplyDivideSubtract) {
  const std::vector<float> a = signal(16, 0.0f);
  const std::vector<float> b = signal(16, 0.9f);
  HeapVector<float> x = vec(a);
  const HeapVector<float> y = vec(b);

  x *= y;
  for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(x[i], a[i] * b[i]);
  x = vec(a);
  x /= y;
  for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(x[i], a[i] / b[i]);
  x = vec(a);
  subtractInPlace(x, y);
  for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(x[i], a[i] - b[i]);

  // A view works on the memory it points at.
  x = vec(a);
  BaseVector<float> view = x.subvector(4, 2);
  view *= y.subvector(0, 2);
  EXPECT_EQ(x[4], a[4] * b[0]);
  EXPECT_EQ(x[6], a[6]);
}

TEST(BaseVectorInPlace, SizeChecksComeFirstAndLeaveTheOperandAlone) {
  const std::vector<float> a = signal(5, 0.0f);
  HeapVector<float> x = vec(a);
  const HeapVector<float> shorter = vec({1.0f, 2.0f, 3.0f, 4.0f});
  expectVmtlFailure([&] { x *= shorter; }, "unequal vector size", "base_vector", 356);
  expectVmtlFailure([&] { x /= shorter; }, "unequal vector size", "base_vector", 373);
  expectVmtlFailure([&] { subtractInPlace(x, shorter); }, "unequal vector size", "base_vector", 339);
  EXPECT_EQ(values(x), a);

  // Equal sizes, then the divisor check of the kernel.
  HeapVector<float> y = vec({1.0f, 2.0f});
  const HeapVector<float> zero = vec({4.0f, 0.0f});
  expectVmtlFailure([&] { y /= zero; }, "attempt to divide by zero", "operations", 446);
  EXPECT_EQ(values(y), (std::vector<float>{0.25f, 2.0f}));
}

}  // namespace
