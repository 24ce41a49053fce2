#include "similarity/distance_kernels.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "similarity/overall_classifier_settings.h"

namespace {

using Values = std::vector<float>;
// Squared differences, absolute differences, products, squares.
using Sums = std::array<double, 4>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The sums as the formulas state them: element by element, in order.
Sums plain(const float* r, const float* q, unsigned n) {
  Sums s{};
  for (unsigned i = 0; i < n; ++i) {
    const double a = r[i], b = q[i];
    s[0] += (a - b) * (a - b), s[1] += std::fabs(a - b), s[2] += a * b, s[3] += a * a;
  }
  return s;
}

// The four sums of each of count rows of n values.
std::vector<Sums> sums(const DistanceKernels& form, const Values& rows, unsigned n, const Values& query) {
  const auto count = static_cast<unsigned>(rows.size() / n);
  const std::vector<double> q(query.begin(), query.end());
  std::vector<double> out[4] = {std::vector<double>(count), std::vector<double>(count), std::vector<double>(count),
                                std::vector<double>(count)};
  form.squaredDifferences(rows.data(), count, n, q.data(), out[0].data());
  form.absoluteDifferences(rows.data(), count, n, q.data(), out[1].data());
  form.products(rows.data(), count, n, q.data(), out[2].data());
  form.squares(rows.data(), count, n, out[3].data());
  std::vector<Sums> s(count);
  for (unsigned k = 0; k < count; ++k) s[k] = {out[0][k], out[1][k], out[2][k], out[3][k]};
  return s;
}

// Equal once rounded to float, or one float step apart; NaN only with NaN.
bool withinOneFloatStep(double a, double b) {
  const auto fa = static_cast<float>(a), fb = static_cast<float>(b);
  if (std::isnan(fa) || std::isnan(fb)) return std::isnan(fa) && std::isnan(fb);
  return fa == fb || std::nextafter(fa, fb) == fb;
}

// The same double, bit for bit; any NaN stands for any other.
bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }

// Values of mixed signs and magnitudes; with special, now and then a NaN, an
// infinity, a zero or a value whose square only a double holds.
Values randomValues(uint32_t& state, unsigned n, bool special) {
  Values v(n);
  for (float& x : v) {
    state = state * 1664525u + 1013904223u;
    x = (static_cast<float>(state >> 8) / 16777216.0f - 0.4f) * std::ldexp(1.0f, static_cast<int>(state % 13) - 6);
    if (special && state % 97 == 0) x = kNaN;
    if (special && state % 89 == 0) x = (state & 128) ? kInf : -kInf;
    if (special && state % 7 == 0) x = 0.0f;
    if (special && state % 83 == 0) x = std::ldexp(1.0f, 127);
  }
  return v;
}

// Three rows at a time, of every length from 1 to 200 (most not a multiple
// of a vector's width), plain and with special values: every form within a
// float step of the plain sums; the SSE2 form the plain form's bits, and the
// AVX2 form too where it fuses nothing (absolute differences).
TEST(DistanceKernels, EveryFormAgreesWithThePlainSums) {
  const std::vector<const DistanceKernels*> forms = availableDistanceKernels();
  ASSERT_EQ(forms.back(), &distanceKernels());
  ASSERT_EQ(std::string(forms.front()->name), "plain");
  uint32_t state = 2024;
  for (unsigned n = 1; n <= 200; ++n) {
    for (const bool special : {false, true}) {
      const Values rows = randomValues(state, 3 * n, special), query = randomValues(state, n, special);
      const std::vector<Sums> plainForm = sums(*forms.front(), rows, n, query);
      for (const DistanceKernels* form : forms) {
        const std::vector<Sums> s = sums(*form, rows, n, query);
        for (unsigned k = 0; k < 3; ++k) {
          const Sums expected = plain(rows.data() + k * n, query.data(), n);
          for (unsigned j = 0; j < 4; ++j) {
            const std::string where = std::string(form->name) + " n=" + std::to_string(n) + " sum " + std::to_string(j);
            EXPECT_TRUE(withinOneFloatStep(s[k][j], expected[j])) << where;
            if (j == 1 || std::string(form->name) == "sse2") {
              EXPECT_TRUE(same(s[k][j], plainForm[k][j])) << where;
            }
          }
        }
      }
    }
  }
}

// The metrics built on the kernels keep their formulas: equal to plainly
// written ones but for a float step; equal vectors, zero ones too, have the
// cosine 1.
TEST(DistanceKernels, MetricsKeepTheirFormulas) {
  MetricScratch scratch;
  uint32_t state = 77;
  for (unsigned n = 1; n <= 200; n += 3) {
    for (const bool special : {false, true}) {
      Values r = randomValues(state, n, special), q = randomValues(state, n, special);
      if (n % 5 == 0) q = r;
      if (n % 11 == 0) r.assign(n, 0.0f);
      const Sums p = plain(r.data(), q.data(), n);
      const double cosine = p[1] == 0.0 ? 1.0 : p[2] / (std::sqrt(p[3]) * std::sqrt(plain(q.data(), q.data(), n)[3]));
      const BaseVector<float> rv(r.data(), n), qv(q.data(), n);
      EXPECT_TRUE(withinOneFloatStep(OverallMetrics::l2norm(rv, qv, scratch), std::sqrt(p[0]))) << n;
      EXPECT_TRUE(withinOneFloatStep(OverallMetrics::l1norm(rv, qv, scratch), p[1])) << n;
      EXPECT_TRUE(withinOneFloatStep(OverallMetrics::dotproduct(rv, qv, scratch), cosine)) << n;
    }
  }
}

}  // namespace
