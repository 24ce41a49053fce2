// The AVX2 form of the distance kernels (distance_kernels.h). Only its own
// functions are compiled for AVX2 and FMA, by their target attribute, so that
// nothing shared with the rest of the library (inline functions of headers)
// can carry those instructions to a processor without them. Built on x86-64
// only: the 32-bit build cannot rely on the 32-byte stack alignment that
// spilled AVX registers need.

#include "similarity/distance_kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <algorithm>
#include <cstddef>

#define KIVET_AVX2 __attribute__((target("avx2,fma")))

namespace {

constexpr unsigned kLanes = 8;

// The terms of the four sums, four elements at a time, joined to the partial
// sums.
struct SquaredDifference {
  static constexpr bool kUsesQuery = true;
  KIVET_AVX2 static __m256d join(__m256d acc, __m256d r, __m256d q) {
    const __m256d d = _mm256_sub_pd(r, q);
    return _mm256_fmadd_pd(d, d, acc);
  }
};
struct AbsoluteDifference {
  static constexpr bool kUsesQuery = true;
  KIVET_AVX2 static __m256d join(__m256d acc, __m256d r, __m256d q) {
    return _mm256_add_pd(acc, _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_sub_pd(r, q)));
  }
};
struct Product {
  static constexpr bool kUsesQuery = true;
  KIVET_AVX2 static __m256d join(__m256d acc, __m256d r, __m256d q) { return _mm256_fmadd_pd(r, q, acc); }
};
struct Square {
  static constexpr bool kUsesQuery = false;
  KIVET_AVX2 static __m256d join(__m256d acc, __m256d r, __m256d) { return _mm256_fmadd_pd(r, r, acc); }
};

// Eight elements into the partial sums p0..p3 (low) and p4..p7 (high).
template <typename Term>
KIVET_AVX2 inline void step(__m256d& low, __m256d& high, const float* row, const double* query) {
  const __m256d r0 = _mm256_cvtps_pd(_mm_loadu_ps(row));
  const __m256d r1 = _mm256_cvtps_pd(_mm_loadu_ps(row + 4));
  const __m256d zero = _mm256_setzero_pd();
  low = Term::join(low, r0, Term::kUsesQuery ? _mm256_loadu_pd(query) : zero);
  high = Term::join(high, r1, Term::kUsesQuery ? _mm256_loadu_pd(query + 4) : zero);
}

template <typename Term>
KIVET_AVX2 void sums(const float* rows, unsigned count, unsigned n, const double* query, double* out) {
  const unsigned whole = n - n % kLanes;
  double queryTail[kLanes] = {};
  if (Term::kUsesQuery) std::copy(query + whole, query + n, queryTail);
  for (unsigned k = 0; k < count; ++k) {
    const float* row = rows + static_cast<size_t>(k) * n;
    __m256d low = _mm256_setzero_pd();
    __m256d high = _mm256_setzero_pd();
    for (unsigned i = 0; i < whole; i += kLanes) step<Term>(low, high, row + i, Term::kUsesQuery ? query + i : nullptr);
    if (whole < n) {
      float rowTail[kLanes] = {};
      std::copy(row + whole, row + n, rowTail);
      step<Term>(low, high, rowTail, queryTail);
    }
    // (p0 + p4, p1 + p5, p2 + p6, p3 + p7), then the halves, as every form.
    const __m256d pairs = _mm256_add_pd(low, high);
    const __m128d t = _mm_add_pd(_mm256_castpd256_pd128(pairs), _mm256_extractf128_pd(pairs, 1));
    out[k] = _mm_cvtsd_f64(_mm_add_sd(t, _mm_unpackhi_pd(t, t)));
  }
}

KIVET_AVX2 void squares(const float* rows, unsigned count, unsigned n, double* out) {
  sums<Square>(rows, count, n, nullptr, out);
}

const DistanceKernels kAvx2 = {"avx2", &sums<SquaredDifference>, &sums<AbsoluteDifference>, &sums<Product>, &squares};

}  // namespace

const DistanceKernels* avx2DistanceKernels() { return &kAvx2; }

#else

const DistanceKernels* avx2DistanceKernels() { return nullptr; }

#endif
