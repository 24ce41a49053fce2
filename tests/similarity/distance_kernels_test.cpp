#include "similarity/distance_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "similarity/overall_classifier_settings.h"

namespace {

using Values = std::vector<float>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
const float kBig = std::ldexp(1.0f, 127);

// The sums as the formulas state them: element by element, in order.
struct Plain {
  double squaredDifferences = 0, absoluteDifferences = 0, products = 0, squares = 0;
  Plain(const float* r, const float* q, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      const double a = r[i], b = q[i];
      squaredDifferences += (a - b) * (a - b);
      absoluteDifferences += std::fabs(a - b);
      products += a * b;
      squares += a * a;
    }
  }
};

// Equal once rounded to float, or one float step apart; NaN only with NaN.
bool withinOneFloatStep(double a, double b) {
  const auto fa = static_cast<float>(a), fb = static_cast<float>(b);
  if (std::isnan(fa) || std::isnan(fb)) return std::isnan(fa) && std::isnan(fb);
  return fa == fb || std::nextafter(fa, fb) == fb;
}

// The same double, bit for bit; any NaN stands for any other.
bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }

struct Sums {
  std::vector<double> squaredDifferences, absoluteDifferences, products, squares;
};

// The four sums of each of count rows of n values against query.
Sums sums(const DistanceKernels& form, const Values& rows, unsigned count, unsigned n, const Values& query) {
  const std::vector<double> q(query.begin(), query.end());
  Sums s{std::vector<double>(count), std::vector<double>(count), std::vector<double>(count),
         std::vector<double>(count)};
  form.squaredDifferences(rows.data(), count, n, q.data(), s.squaredDifferences.data());
  form.absoluteDifferences(rows.data(), count, n, q.data(), s.absoluteDifferences.data());
  form.products(rows.data(), count, n, q.data(), s.products.data());
  form.squares(rows.data(), count, n, s.squares.data());
  return s;
}

// Values of mixed signs and magnitudes; now and then a NaN, an infinity or
// a run of zeros when special is set.
Values randomValues(uint32_t& state, unsigned n, bool special) {
  Values v(n);
  for (float& x : v) {
    state = state * 1664525u + 1013904223u;
    const float unit = static_cast<float>(state >> 8) / 16777216.0f;
    x = (unit - 0.4f) * std::ldexp(1.0f, static_cast<int>(state % 13) - 6);
    if (special && state % 97 == 0) x = kNaN;
    if (special && state % 89 == 0) x = (state & 128) ? kInf : -kInf;
    if (special && state % 7 == 0) x = 0.0f;
  }
  return v;
}

TEST(DistanceKernels, EveryFormAgreesWithThePlainSums) {
  const std::vector<const DistanceKernels*> forms = availableDistanceKernels();
  ASSERT_EQ(forms.back(), &distanceKernels());
  ASSERT_EQ(std::string(forms.front()->name), "plain");
  uint32_t state = 2024;
  constexpr unsigned kRows = 3;
  for (unsigned n = 1; n <= 200; ++n) {
    for (const bool special : {false, true}) {
      const Values rows = randomValues(state, kRows * n, special);
      const Values query = randomValues(state, n, special);
      const Sums plainForm = sums(*forms.front(), rows, kRows, n, query);
      for (const DistanceKernels* form : forms) {
        const Sums s = sums(*form, rows, kRows, n, query);
        for (unsigned k = 0; k < kRows; ++k) {
          const Plain expected(rows.data() + k * n, query.data(), n);
          const std::string where = std::string(form->name) + " n=" + std::to_string(n) + " row " + std::to_string(k);
          EXPECT_TRUE(withinOneFloatStep(s.squaredDifferences[k], expected.squaredDifferences)) << where;
          EXPECT_TRUE(withinOneFloatStep(s.absoluteDifferences[k], expected.absoluteDifferences)) << where;
          EXPECT_TRUE(withinOneFloatStep(s.products[k], expected.products)) << where;
          EXPECT_TRUE(withinOneFloatStep(s.squares[k], expected.squares)) << where;
          // The forms add in one order: only fused multiply-adds round
          // differently, and absolute differences have none.
          EXPECT_TRUE(same(s.absoluteDifferences[k], plainForm.absoluteDifferences[k])) << where;
          if (std::string(form->name) == "sse2") {
            EXPECT_TRUE(same(s.squaredDifferences[k], plainForm.squaredDifferences[k]) &&
                        same(s.products[k], plainForm.products[k]) && same(s.squares[k], plainForm.squares[k]))
                << where;
          }
        }
      }
    }
  }
}

TEST(DistanceKernels, SpecialValues) {
  const struct {
    Values row, query;
    double squaredDifferences, absoluteDifferences, products, squares;
  } cases[] = {
      {Values(11, 0.0f), Values(11, 0.0f), 0, 0, 0, 0},
      {{kInf, 1}, {kInf, 1}, kNaN, kNaN, kInf, kInf},  // inf - inf is no number
      {{-kInf, 2}, {1, 2}, kInf, kInf, -kInf, kInf},
      {{kInf, 2}, {0, 2}, kInf, kInf, kNaN, kInf},  // inf x 0
      {{1, 2, 3, 4, 5, 6, 7, 8, kNaN}, Values(9, 1.0f), kNaN, kNaN, kNaN, kNaN},
      // Beyond float, not double: 2^127 against -2^127.
      {{kBig, kBig}, {-kBig, -kBig}, std::ldexp(1.0, 257), std::ldexp(1.0, 129), -std::ldexp(1.0, 255),
       std::ldexp(1.0, 255)},
  };
  for (const DistanceKernels* form : availableDistanceKernels()) {
    for (const auto& c : cases) {
      const auto n = static_cast<unsigned>(c.row.size());
      const Sums s = sums(*form, c.row, 1, n, c.query);
      const std::string where = std::string(form->name) + " n=" + std::to_string(n);
      for (const auto& [actual, expected] : {std::pair{s.squaredDifferences[0], c.squaredDifferences},
                                             {s.absoluteDifferences[0], c.absoluteDifferences},
                                             {s.products[0], c.products},
                                             {s.squares[0], c.squares}}) {
        if (std::isnan(expected))
          EXPECT_TRUE(std::isnan(actual)) << where << " " << actual;
        else
          EXPECT_EQ(actual, expected) << where;
      }
    }
  }
}

// The metrics built on the kernels keep their formulas: against plainly
// written ones, equal but for a float step.
TEST(DistanceKernels, MetricsKeepTheirFormulas) {
  MetricScratch scratch;
  uint32_t state = 77;
  for (unsigned n = 1; n <= 200; n += 3) {
    for (const bool special : {false, true}) {
      Values r = randomValues(state, n, special), q = randomValues(state, n, special);
      if (n % 5 == 0) q = r;  // exactly equal: dotproduct 1, even for zero vectors
      if (n % 11 == 0) r.assign(n, 0.0f);
      const Plain p(r.data(), q.data(), n);
      const BaseVector<float> rv(r.data(), n), qv(q.data(), n);
      const double queryLength = std::sqrt(Plain(q.data(), q.data(), n).squares);
      const double cosine = p.absoluteDifferences == 0.0 ? 1.0 : p.products / (std::sqrt(p.squares) * queryLength);
      const std::string where = "n=" + std::to_string(n);
      EXPECT_TRUE(withinOneFloatStep(OverallMetrics::l2norm(rv, qv, scratch), std::sqrt(p.squaredDifferences))) << where;
      EXPECT_TRUE(withinOneFloatStep(OverallMetrics::l1norm(rv, qv, scratch), p.absoluteDifferences)) << where;
      EXPECT_TRUE(withinOneFloatStep(OverallMetrics::dotproduct(rv, qv, scratch), cosine)) << where;
    }
  }
}

}  // namespace
