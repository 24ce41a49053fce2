#include "metadata/sources/vmtl/fft.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/fft_wrapper.h"
#include "tests/support/vmtl_expect.h"

// Counts allocations, to show that the transforms make none.
static std::atomic<long> allocationCount{0};

void* operator new(std::size_t size) {
  ++allocationCount;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// GCC takes the pairing of these replacements with malloc and free for a
// mismatch once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The same tests run on both arithmetic back ends, under their own names.
#ifdef KIVET_FFT_PORTABLE
#define SUITE(name) Portable##name
#else
#define SUITE(name) name
#endif

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kTolerance = 2e-6;

// The factoring rules restated through the prime factorisation of n: primes
// up to 23 only; odd primes pair up as squares, 2 in fourth powers, then a
// leftover 2² pairs too unless nothing else is left; at most 11 factors; the
// unpaired ones multiply to at most 210.
bool acceptedLength(int n) {
  if (n < 2) return false;
  const int primes[] = {2, 3, 5, 7, 11, 13, 17, 19, 23};
  int exponent[24] = {};
  int rest = n;
  for (int p : primes)
    while (rest % p == 0) {
      ++exponent[p];
      rest /= p;
    }
  if (rest != 1) return false;
  int factors = 0;
  int unpaired = 1;
  for (int p : primes) {
    if (p == 2) continue;
    factors += exponent[p];
    if (exponent[p] % 2 != 0) unpaired *= p;
  }
  const int twos = exponent[2];
  factors += 2 * (twos / 4);
  switch (twos % 4) {
    case 1:
      factors += 1;
      unpaired *= 2;
      break;
    case 2:
      factors += unpaired == 1 ? 1 : 2;  // 4 alone stays a single middle factor
      break;
    case 3:
      factors += 3;
      unpaired *= 2;
      break;
  }
  return factors <= 11 && unpaired <= 210;
}

std::vector<float> noise(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& x : v) x = value(random);
  return v;
}

// X[k] = Σ x[j]·e^(-2πi·jk/n) for interleaved x, in double, term by term;
// X[k] and X[n-k] share their cosines and sines.
std::vector<double> directDft(const std::vector<float>& x, int n) {
  std::vector<double> cosine(n), sine(n);
  for (int i = 0; i < n; ++i) {
    cosine[i] = std::cos(kTwoPi * i / n);
    sine[i] = std::sin(kTwoPi * i / n);
  }
  std::vector<double> out(2 * static_cast<size_t>(n));
  const float* in = x.data();
  for (int k = 0; k <= n / 2; ++k) {
    double rc = 0, is = 0, ic = 0, rs = 0;
    int index = 0;
    for (int j = 0; j < n; ++j) {
      const double re = in[2 * j];
      const double im = in[2 * j + 1];
      rc += re * cosine[index];
      is += im * sine[index];
      ic += im * cosine[index];
      rs += re * sine[index];
      index += k;
      if (index >= n) index -= n;
    }
    out[2 * k] = rc + is;
    out[2 * k + 1] = ic - rs;
    if (k != 0 && 2 * k != n) {
      out[2 * (n - k)] = rc - is;
      out[2 * (n - k) + 1] = ic + rs;
    }
  }
  return out;
}

// One bin of the same transform, for lengths too long for the whole of it.
std::complex<double> directBin(const std::vector<float>& x, size_t n, size_t k, int sign) {
  std::complex<double> sum = 0;
  for (size_t j = 0; j < n; ++j) {
    const double angle = sign * kTwoPi * static_cast<double>((static_cast<uint64_t>(j) * k) % n) / static_cast<double>(n);
    sum += std::complex<double>(x[2 * j], x[2 * j + 1]) * std::polar(1.0, angle);
  }
  return sum;
}

template <typename A, typename B>
double relativeRms(const A& got, const B& expected, size_t count, double scale = 1.0) {
  double error = 0, energy = 0;
  for (size_t i = 0; i < count; ++i) {
    const double e = static_cast<double>(expected[i]) * scale;
    error += (got[i] - e) * (got[i] - e);
    energy += e * e;
  }
  return std::sqrt(error / energy);
}

TEST(SUITE(FftComplex), AcceptsExactlyTheLengthsOfTheFactoringRules) {
  std::vector<float> zeros(2 * 4096, 0.0f);
  for (int n = -3; n <= 4096; ++n)
    ASSERT_EQ(fftComplex(zeros.data(), n, -1), acceptedLength(n) ? 1 : 0) << "n = " << n;
  // Named cases: 210 (unpaired 2·3·5·7) and 1024 are accepted; the prime 29,
  // an unpaired product of 2310, and 2·3·5·7·11 are refused.
  EXPECT_TRUE(acceptedLength(210));
  EXPECT_TRUE(acceptedLength(1024));
  EXPECT_FALSE(acceptedLength(29));
  EXPECT_FALSE(acceptedLength(2 * 29));
  EXPECT_FALSE(acceptedLength(29 * 29));
  EXPECT_FALSE(acceptedLength(1155));
}

TEST(SUITE(FftComplex), ElevenFactorsAreAcceptedTwelveRefused) {
  // 52488 = 2³·3⁸ factors as 3,3,3,3,2,2,2,3,3,3,3; one more 3 makes twelve.
  const int n = 52488;
  std::vector<float> x = noise(2 * static_cast<size_t>(n), 11);
  std::vector<float> y = x;
  ASSERT_EQ(fftComplex(y.data(), n, -1), 1);
  for (size_t k : {0u, 1u, 7u, 4096u, 26244u, 52487u}) {
    const std::complex<double> expected = directBin(x, n, k, -1);
    EXPECT_NEAR(y[2 * k], expected.real(), 1e-3) << "bin " << k;
    EXPECT_NEAR(y[2 * k + 1], expected.imag(), 1e-3) << "bin " << k;
  }
  ASSERT_EQ(fftComplex(y.data(), n, 1), 1);
  EXPECT_LT(relativeRms(y, x, x.size(), n), kTolerance);

  std::vector<float> twelve(2 * 157464, 1.0f);
  EXPECT_EQ(fftComplex(twelve.data(), 157464, -1), 0);
  EXPECT_EQ(twelve[0], 1.0f);
}

TEST(SUITE(FftComplex), LongLengthWithWideMirroredDigits) {
  // 3²·5²·7²·11² mirrors 1155 values on each side, more than the digit
  // reversal keeps in a table.
  const int n = 1334025;
  std::vector<float> x = noise(2 * static_cast<size_t>(n), 12);
  std::vector<float> y = x;
  ASSERT_EQ(fftComplex(y.data(), n, 1), 1);
  for (size_t k : {1u, 3u, 1154u, 444675u, 1334024u}) {
    const std::complex<double> expected = directBin(x, n, k, 1);
    EXPECT_NEAR(y[2 * k], expected.real(), 2e-3) << "bin " << k;
    EXPECT_NEAR(y[2 * k + 1], expected.imag(), 2e-3) << "bin " << k;
  }
  ASSERT_EQ(fftComplex(y.data(), n, -1), 1);
  EXPECT_LT(relativeRms(y, x, x.size(), n), kTolerance);
}

TEST(SUITE(FftComplex), RefusalsLeaveTheDataAlone) {
  std::vector<float> x = noise(2 * 58, 3);
  const std::vector<float> before = x;
  EXPECT_EQ(fftComplex(x.data(), 1, -1), 0);
  EXPECT_EQ(fftComplex(x.data(), 0, -1), 0);
  EXPECT_EQ(fftComplex(x.data(), 58, -1), 0);  // 2·29
  EXPECT_EQ(fftComplex(x.data(), 16, 0), 0);   // no direction
  EXPECT_EQ(fftComplex(nullptr, 16, -1), 0);
  EXPECT_EQ(x, before);
}

TEST(SUITE(FftComplex), OnlyTheSignOfSignCounts) {
  // Whatever its size, the sign only chooses the direction: the stride stays
  // that of interleaved values, so nothing beyond the n values is touched.
  std::vector<float> x = noise(2 * 24 + 8, 4);
  std::vector<float> y = x;
  ASSERT_EQ(fftComplex(x.data(), 24, -1), 1);
  ASSERT_EQ(fftComplex(y.data(), 24, -7), 1);
  EXPECT_EQ(x, y);
}

// Lengths lo..hi against the direct transform: forward, back to n·x, and for
// even lengths the real transform and its inverse on the real parts.
class SUITE(FftAllLengths) : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SUITE(FftAllLengths), MatchTheDirectTransform) {
  for (int n = GetParam().first; n <= GetParam().second; ++n) {
    if (!acceptedLength(n)) continue;
    const size_t count = static_cast<size_t>(n);
    const std::vector<float> x = noise(2 * count, static_cast<unsigned>(n));
    const std::vector<double> expected = directDft(x, n);

    std::vector<float> y = x;
    ASSERT_EQ(fftComplex(y.data(), n, -1), 1) << "n = " << n;
    ASSERT_LT(relativeRms(y, expected, 2 * count), kTolerance) << "forward, n = " << n;
    ASSERT_EQ(fftComplex(y.data(), n, 1), 1) << "n = " << n;
    ASSERT_LT(relativeRms(y, x, 2 * count, n), kTolerance) << "backward, n = " << n;

    if (n % 2 != 0 || !acceptedLength(n / 2)) continue;
    // The real parts alone: X[k] = (Z[k] + conj Z[n-k]) / 2, packed.
    std::vector<float> real(count);
    for (size_t j = 0; j < count; ++j) real[j] = x[2 * j];
    std::vector<double> packed(count);
    packed[0] = expected[0];
    packed[1] = expected[count];  // Z[n/2] + conj Z[n/2], halved
    for (size_t k = 1; k < count / 2; ++k) {
      packed[2 * k] = (expected[2 * k] + expected[2 * (count - k)]) / 2;
      packed[2 * k + 1] = (expected[2 * k + 1] - expected[2 * (count - k) + 1]) / 2;
    }
    float* table = createSineTable(n);
    std::vector<float> r = real;
    ASSERT_EQ(fftReal(r.data(), table, n, -1), 1) << "n = " << n;
    ASSERT_LT(relativeRms(r, packed, count), kTolerance) << "real forward, n = " << n;
    ASSERT_EQ(fftReal(r.data(), table, n, 1), 1) << "n = " << n;
    ASSERT_LT(relativeRms(r, real, count), kTolerance) << "real inverse, n = " << n;
    deleteSineTable(table);
  }
}

// Slices of about equal work (the direct transform grows as n²).
// (Through a macro of our own, so that the suite name is expanded first.)
#define INSTANTIATE(prefix, suite, ...) INSTANTIATE_TEST_SUITE_P(prefix, suite, __VA_ARGS__)
INSTANTIATE(Lengths, SUITE(FftAllLengths),
                         testing::Values(std::make_pair(2, 2048), std::make_pair(2049, 2580),
                                         std::make_pair(2581, 2954), std::make_pair(2955, 3251),
                                         std::make_pair(3252, 3502), std::make_pair(3503, 3722),
                                         std::make_pair(3723, 3920), std::make_pair(3921, 4096)),
                         [](const testing::TestParamInfo<std::pair<int, int>>& info) {
                           return std::to_string(info.param.first) + "To" + std::to_string(info.param.second);
                         });

TEST(SUITE(FftMixedRadix), SeparateArraysStridesAndDimensions) {
  // A 12 × 10 array in two arrays of stride 3 (the gaps stay untouched),
  // transformed along both dimensions, against the direct 2-D transform.
  const int rows = 10, cols = 12, total = rows * cols, stride = 3;
  const std::vector<float> source = noise(2 * total, 5);
  std::vector<float> re(stride * total, 7.0f), im(stride * total, 7.0f);
  for (int i = 0; i < total; ++i) {
    re[stride * i] = source[2 * i];
    im[stride * i] = source[2 * i + 1];
  }
  ASSERT_EQ(fftMixedRadix(re.data(), im.data(), total, cols, cols, -stride), 1);
  ASSERT_EQ(fftMixedRadix(re.data(), im.data(), total, rows, total, -stride), 1);
  double error = 0, energy = 0;
  for (int u = 0; u < rows; ++u) {
    for (int v = 0; v < cols; ++v) {
      std::complex<double> sum = 0;
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
          sum += std::complex<double>(source[2 * (r * cols + c)], source[2 * (r * cols + c) + 1]) *
                 std::polar(1.0, -kTwoPi * (static_cast<double>(u * r) / rows + static_cast<double>(v * c) / cols));
      const std::complex<double> got(re[stride * (u * cols + v)], im[stride * (u * cols + v)]);
      error += std::norm(got - sum);
      energy += std::norm(sum);
    }
  }
  EXPECT_LT(std::sqrt(error / energy), kTolerance);
  for (int i = 0; i < total; ++i) {
    for (int g = 1; g < stride; ++g) {
      ASSERT_EQ(re[stride * i + g], 7.0f);
      ASSERT_EQ(im[stride * i + g], 7.0f);
    }
  }

  // One dimension of separate arrays with stride 1 gives the interleaved result.
  std::vector<float> interleaved = noise(2 * 441, 6);
  std::vector<float> r(441), i(441);
  for (int j = 0; j < 441; ++j) {
    r[j] = interleaved[2 * j];
    i[j] = interleaved[2 * j + 1];
  }
  ASSERT_EQ(fftComplex(interleaved.data(), 441, 1), 1);
  ASSERT_EQ(fftMixedRadix(r.data(), i.data(), 441, 441, 441, 1), 1);
  for (int j = 0; j < 441; ++j) {
    EXPECT_NEAR(r[j], interleaved[2 * j], 1e-4);
    EXPECT_NEAR(i[j], interleaved[2 * j + 1], 1e-4);
  }
}

TEST(SUITE(FftMixedRadix), RefusesLayoutsThatDoNotTile) {
  std::vector<float> re(64, 1.0f), im(64, 1.0f);
  EXPECT_EQ(fftMixedRadix(re.data(), im.data(), 64, 6, 8, -1), 0);   // span not a multiple of n
  EXPECT_EQ(fftMixedRadix(re.data(), im.data(), 60, 8, 16, -1), 0);  // total not a multiple of span
  EXPECT_EQ(fftMixedRadix(re.data(), im.data(), 8, 8, 16, -1), 0);   // span beyond the total
  EXPECT_EQ(fftMixedRadix(re.data(), im.data(), 64, 8, 8, 0), 0);    // no direction
  EXPECT_EQ(fftMixedRadix(nullptr, im.data(), 8, 8, 8, -1), 0);
  EXPECT_EQ(re, std::vector<float>(64, 1.0f));
  EXPECT_EQ(fftMixedRadix(re.data(), im.data(), 64, 8, 64, -1), 1);
}

TEST(SUITE(FftReal), PackedSpectrumOfSmallCases) {
  float* table = createSineTable(4);
  float x[4] = {1, 0, 0, 0};
  ASSERT_EQ(fftReal(x, table, 4, -1), 1);
  EXPECT_FLOAT_EQ(x[0], 1.0f);  // X[0]
  EXPECT_FLOAT_EQ(x[1], 1.0f);  // X[2]
  EXPECT_FLOAT_EQ(x[2], 1.0f);  // re X[1]
  EXPECT_NEAR(x[3], 0.0f, 1e-7f);
  deleteSineTable(table);

  // n = 2: the half transform has one point.
  table = createSineTable(2);
  float pair[2] = {3, 5};
  ASSERT_EQ(fftReal(pair, table, 2, -1), 1);
  EXPECT_EQ(pair[0], 8.0f);
  EXPECT_EQ(pair[1], -2.0f);
  ASSERT_EQ(fftReal(pair, table, 2, 1), 1);
  EXPECT_EQ(pair[0], 3.0f);
  EXPECT_EQ(pair[1], 5.0f);
  deleteSineTable(table);

  // n = 6 (2 mod 4): X[k] = Σ x[j]·e^(-2πi·jk/6) for x = 0, 1, 0, 0, 0, 0.
  table = createSineTable(6);
  float six[6] = {0, 1, 0, 0, 0, 0};
  ASSERT_EQ(fftReal(six, table, 6, -1), 1);
  const float expected[6] = {1, -1, 0.5f, -0.8660254f, -0.5f, -0.8660254f};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(six[i], expected[i], 1e-6f) << i;
  deleteSineTable(table);
}

TEST(SUITE(FftReal), RefusalsLeaveTheDataAlone) {
  float* table = createSineTable(2128);
  std::vector<float> x = noise(2128, 8);
  const std::vector<float> before = x;
  EXPECT_EQ(fftReal(x.data(), table, 16, 0), 0);
  EXPECT_EQ(fftReal(x.data(), table, 16, 2), 0);
  EXPECT_EQ(fftReal(x.data(), table, 15, -1), 0);
  EXPECT_EQ(fftReal(x.data(), table, 0, -1), 0);
  EXPECT_EQ(fftReal(x.data(), nullptr, 16, -1), 0);
  // 2128 = 16·7·19 is a complex length, but its half 2·4·7·19 leaves 266 unpaired.
  EXPECT_EQ(fftReal(x.data(), table, 2128, -1), 0);
  EXPECT_EQ(fftReal(x.data(), table, 2128, 1), 0);
  EXPECT_EQ(x, before);
  deleteSineTable(table);
}

TEST(SUITE(FftReal), SineTable) {
  for (int n : {2, 6, 16, 441, 1024}) {
    float* table = createSineTable(n);
    for (int k = 0; k <= n / 2; ++k) EXPECT_NEAR(table[k], std::sin(kTwoPi * k / n), 1e-7) << n << " " << k;
    deleteSineTable(table);
  }
  EXPECT_EQ(createSineTable(1), nullptr);
  EXPECT_EQ(createSineTable(-4), nullptr);
  deleteSineTable(nullptr);
}

TEST(SUITE(Fft), TransformsAllocateNothing) {
  std::vector<float> x = noise(2 * 882, 9);
  float* table = createSineTable(1764);
  const long before = allocationCount.load();
  EXPECT_EQ(fftComplex(x.data(), 882, -1), 1);
  EXPECT_EQ(fftReal(x.data(), table, 1764, -1), 1);
  EXPECT_EQ(fftReal(x.data(), table, 1764, 1), 1);
  EXPECT_EQ(fftMixedRadix(x.data(), x.data() + 1, 441, 21, 441, -4), 1);
  EXPECT_EQ(allocationCount.load(), before);
  deleteSineTable(table);
}

TEST(SUITE(FftWrapper), ForwardTransformOfAComplexVector) {
  const std::vector<float> x = noise(2 * 12, 10);
  HeapVector<std::complex<float>> v(12);
  for (unsigned j = 0; j < 12; ++j) v[j] = {x[2 * j], x[2 * j + 1]};
  forwardFFT(v);
  const std::vector<double> expected = directDft(x, 12);
  for (unsigned k = 0; k < 12; ++k) {
    EXPECT_NEAR(v[k].real(), expected[2 * k], 1e-5);
    EXPECT_NEAR(v[k].imag(), expected[2 * k + 1], 1e-5);
  }
}

TEST(SUITE(FftWrapper), UnsupportedLengthsThrow) {
  for (unsigned n : {0u, 1u, 29u, 2310u}) {
    HeapVector<std::complex<float>> v(n);
    for (unsigned j = 0; j < n; ++j) v[j] = {1.0f, 0.0f};
    expectVmtlFailure([&] { forwardFFT(v); }, "error in computing forward FFT", "fft_wrapper", 244);
  }
}

}  // namespace
