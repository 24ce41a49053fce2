#pragma once
// The sums behind the metrics that compare two vectors element by element
// (squared and absolute differences, products, squares), over a block of
// reference rows at once: row k of a block is the n floats at rows + k * n,
// the query n doubles (a float query converted once, exactly).
//
// Every sum is taken in double, in eight partial sums: element i goes to
// partial sum i mod 8, in order, and the partial sums p0..p7 are combined as
// ((p0 + p4) + (p2 + p6)) + ((p1 + p5) + (p3 + p7)). Every form adds in this
// order, so the plain and the SSE2 form give the same bits; the AVX2 form
// rounds each product with the sum it joins (fused multiply-add), so its
// squares and products may differ from theirs in the last bit of a double.
//
// The form is chosen once, by what the processor offers: AVX2 with FMA on an
// x86-64 processor that has both, else SSE2 (the x86 baseline of both
// builds), else the plain form.

#include <vector>

struct DistanceKernels {
  // "plain", "sse2" or "avx2".
  const char* name;
  // out[k] = sum over i of (row_k[i] - query[i])^2
  void (*squaredDifferences)(const float* rows, unsigned count, unsigned n, const double* query, double* out);
  // out[k] = sum over i of |row_k[i] - query[i]|
  void (*absoluteDifferences)(const float* rows, unsigned count, unsigned n, const double* query, double* out);
  // out[k] = sum over i of row_k[i] * query[i]
  void (*products)(const float* rows, unsigned count, unsigned n, const double* query, double* out);
  // out[k] = sum over i of row_k[i]^2
  void (*squares)(const float* rows, unsigned count, unsigned n, double* out);
};

// The form of this processor.
const DistanceKernels& distanceKernels();

// Every form this processor can run, the chosen one last; for the tests and
// benchmarks that compare them.
std::vector<const DistanceKernels*> availableDistanceKernels();

// The forms in their own sources; the AVX2 form is null where it is not built
// (only x86-64 builds carry it).
const DistanceKernels& plainDistanceKernels();
const DistanceKernels* sse2DistanceKernels();
const DistanceKernels* avx2DistanceKernels();
