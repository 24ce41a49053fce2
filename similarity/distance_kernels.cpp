#include "similarity/distance_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "platform/cpu_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr unsigned kLanes = 8;

// The terms of the four sums, element by element.
struct SquaredDifference {
  static constexpr bool kUsesQuery = true;
  static double term(double r, double q) {
    const double d = r - q;
    return d * d;
  }
};
struct AbsoluteDifference {
  static constexpr bool kUsesQuery = true;
  static double term(double r, double q) { return std::fabs(r - q); }
};
struct Product {
  static constexpr bool kUsesQuery = true;
  static double term(double r, double q) { return r * q; }
};
struct Square {
  static constexpr bool kUsesQuery = false;
  static double term(double r, double) { return r * r; }
};

template <typename Term>
void plainSums(const float* rows, unsigned count, unsigned n, const double* query, double* out) {
  for (unsigned k = 0; k < count; ++k) {
    const float* row = rows + static_cast<size_t>(k) * n;
    double p[kLanes] = {};
    for (unsigned i = 0; i < n; ++i) p[i % kLanes] += Term::term(row[i], Term::kUsesQuery ? query[i] : 0.0);
    out[k] = ((p[0] + p[4]) + (p[2] + p[6])) + ((p[1] + p[5]) + (p[3] + p[7]));
  }
}

void plainSquares(const float* rows, unsigned count, unsigned n, double* out) {
  plainSums<Square>(rows, count, n, nullptr, out);
}

const DistanceKernels kPlain = {"plain", &plainSums<SquaredDifference>, &plainSums<AbsoluteDifference>,
                                &plainSums<Product>, &plainSquares};

#if defined(__SSE2__)

// Partial sums p0 p1 | p2 p3 | p4 p5 | p6 p7.
struct Sse2Lanes {
  __m128d p[4];
};

inline __m128d sse2Term(const SquaredDifference&, __m128d acc, __m128d r, __m128d q) {
  const __m128d d = _mm_sub_pd(r, q);
  return _mm_add_pd(acc, _mm_mul_pd(d, d));
}
inline __m128d sse2Term(const AbsoluteDifference&, __m128d acc, __m128d r, __m128d q) {
  // Clearing the sign bit is fabs, NaN included.
  return _mm_add_pd(acc, _mm_andnot_pd(_mm_set1_pd(-0.0), _mm_sub_pd(r, q)));
}
inline __m128d sse2Term(const Product&, __m128d acc, __m128d r, __m128d q) { return _mm_add_pd(acc, _mm_mul_pd(r, q)); }
inline __m128d sse2Term(const Square&, __m128d acc, __m128d r, __m128d) { return _mm_add_pd(acc, _mm_mul_pd(r, r)); }

// Eight elements into the eight partial sums.
template <typename Term>
inline void sse2Step(Sse2Lanes& lanes, const float* row, const double* query) {
  const __m128 low = _mm_loadu_ps(row);
  const __m128 high = _mm_loadu_ps(row + 4);
  const __m128d r[4] = {_mm_cvtps_pd(low), _mm_cvtps_pd(_mm_movehl_ps(low, low)), _mm_cvtps_pd(high),
                        _mm_cvtps_pd(_mm_movehl_ps(high, high))};
  for (unsigned j = 0; j < 4; ++j) {
    const __m128d q = Term::kUsesQuery ? _mm_loadu_pd(query + 2 * j) : _mm_setzero_pd();
    lanes.p[j] = sse2Term(Term(), lanes.p[j], r[j], q);
  }
}

template <typename Term>
void sse2Sums(const float* rows, unsigned count, unsigned n, const double* query, double* out) {
  const unsigned whole = n - n % kLanes;
  // The last elements of a row go through the same lanes, padded with zeros,
  // whose terms add nothing.
  double queryTail[kLanes] = {};
  if (Term::kUsesQuery) std::copy(query + whole, query + n, queryTail);
  for (unsigned k = 0; k < count; ++k) {
    const float* row = rows + static_cast<size_t>(k) * n;
    Sse2Lanes lanes = {{_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()}};
    for (unsigned i = 0; i < whole; i += kLanes) sse2Step<Term>(lanes, row + i, Term::kUsesQuery ? query + i : nullptr);
    if (whole < n) {
      float rowTail[kLanes] = {};
      std::copy(row + whole, row + n, rowTail);
      sse2Step<Term>(lanes, rowTail, queryTail);
    }
    const __m128d t = _mm_add_pd(_mm_add_pd(lanes.p[0], lanes.p[2]), _mm_add_pd(lanes.p[1], lanes.p[3]));
    out[k] = _mm_cvtsd_f64(_mm_add_sd(t, _mm_unpackhi_pd(t, t)));
  }
}

void sse2Squares(const float* rows, unsigned count, unsigned n, double* out) {
  sse2Sums<Square>(rows, count, n, nullptr, out);
}

const DistanceKernels kSse2 = {"sse2", &sse2Sums<SquaredDifference>, &sse2Sums<AbsoluteDifference>, &sse2Sums<Product>,
                               &sse2Squares};

#endif

const DistanceKernels& chooseDistanceKernels() {
  const DistanceKernels* avx2 = avx2DistanceKernels();
  if (avx2 != nullptr && platform::cpuHasAvx2Fma()) return *avx2;
  const DistanceKernels* sse2 = sse2DistanceKernels();
  return sse2 != nullptr ? *sse2 : kPlain;
}

}  // namespace

const DistanceKernels& plainDistanceKernels() { return kPlain; }

const DistanceKernels* sse2DistanceKernels() {
#if defined(__SSE2__)
  return &kSse2;
#else
  return nullptr;
#endif
}

const DistanceKernels& distanceKernels() {
  static const DistanceKernels& chosen = chooseDistanceKernels();
  return chosen;
}

std::vector<const DistanceKernels*> availableDistanceKernels() {
  std::vector<const DistanceKernels*> forms;
  for (const DistanceKernels* form : {&kPlain, sse2DistanceKernels(), avx2DistanceKernels()})
    if (form != nullptr && form != &distanceKernels() && (form != avx2DistanceKernels() || platform::cpuHasAvx2Fma()))
      forms.push_back(form);
  forms.push_back(&distanceKernels());
  return forms;
}
