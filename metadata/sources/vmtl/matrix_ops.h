#pragma once
// The matrix product and the transpose. Both return new matrices.

#include <algorithm>

#include "metadata/sources/vmtl/heap_matrix.h"

// Element (i, j) is the sum over k of A(i, k) * B(k, j), added from k = 0
// upwards in extended precision and rounded once when stored. The rows of B are
// walked in memory order; each element still sees its terms in order of k.
template <typename T>
HeapMatrix<T> operator*(const BaseMatrix<T>& a, const BaseMatrix<T>& b) {
  if (a.cols != b.rows) vmtl::fail("Unequal matrix dimension", vmtl::kMatrixOpsHeader, 78);
  HeapMatrix<T> out(a.rows, b.cols, T(0));
  HeapVector<long double> sums(b.cols);
  for (unsigned i = 0; i < a.rows; ++i) {
    std::fill(sums.begin(), sums.end(), 0.0L);
    for (unsigned k = 0; k < a.cols; ++k) {
      const long double aik = a(i, k);
      const T* bRow = b.data + static_cast<size_t>(k) * b.cols;
      for (unsigned j = 0; j < b.cols; ++j) sums[j] += aik * static_cast<long double>(bRow[j]);
    }
    T* outRow = out.data + static_cast<size_t>(i) * out.cols;
    for (unsigned j = 0; j < b.cols; ++j) outRow[j] = static_cast<T>(sums[j]);
  }
  return out;
}

// A matrix with one row or one column has the same element order either way
// and is copied as a block.
template <typename T>
HeapMatrix<T> transpose(const BaseMatrix<T>& m) {
  HeapMatrix<T> out(m.cols, m.rows, T(0));
  if (m.rows == 1 || m.cols == 1) {
    std::copy_n(m.data, m.elementCount(), out.data);
    return out;
  }
  for (unsigned r = 0; r < m.rows; ++r)
    for (unsigned c = 0; c < m.cols; ++c) out(c, r) = m(r, c);
  return out;
}
