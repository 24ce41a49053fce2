#pragma once
// Statistics of matrices (diagonal, sums, means, variances), the frame grouping
// that summarises a feature matrix, and util::appendMatrixCols.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "metadata/sources/vmtl/operations.h"

namespace vmtl {
namespace detail {

// A column count made of two parts must still be a 32-bit count.
inline unsigned addColumnCounts(unsigned a, unsigned b) {
  const uint64_t total = static_cast<uint64_t>(a) + b;
  if (total > UINT32_MAX) throw std::bad_array_new_length();
  return static_cast<unsigned>(total);
}

template <typename T>
void columnSums(const BaseMatrix<T>& m, T* out) {
  for (unsigned c = 0; c < m.cols; ++c)
    out[c] = m.rows ? static_cast<T>(sumStrided(m.data + c, m.cols, m.rows)) : T(0);
}

// Column means written into `out` (m.cols elements); used by mean and, without
// a vector per group, by group.
template <typename T>
void columnMeans(const BaseMatrix<T>& m, BaseVector<T> out) {
  if (m.rows == 0) vmtl::fail("Empty matrix", vmtl::kMatrixFuncHeader, 214);
  columnSums(m, out.data);
  divideElements(out, static_cast<T>(m.rows));
}

// (sum x² - (sum x)² / n) / (n - 1) per column, n = rows, with both sums in
// extended precision. One row gives 0 / 0.
template <typename T>
void columnVariances(const BaseMatrix<T>& m, T* out) {
  if (m.rows == 0) vmtl::fail("Empty matrix", vmtl::kMatrixFuncHeader, 255);
  const long double n = m.rows;
  for (unsigned c = 0; c < m.cols; ++c) {
    long double sum = 0.0L;
    long double sumOfSquares = 0.0L;
    for (unsigned r = 0; r < m.rows; ++r) {
      const long double x = m(r, c);
      sum += x;
      sumOfSquares += x * x;
    }
    out[c] = static_cast<T>((sumOfSquares - sum * sum / n) / (n - 1.0L));
  }
}

}  // namespace detail
}  // namespace vmtl

// The main diagonal: element i is data[i * (cols + 1)]. It has min(rows, cols)
// elements, so a matrix wider than tall is not read past its last row.
template <typename T>
HeapVector<T> diag(const BaseMatrix<T>& m) {
  HeapVector<T> out(std::min(m.rows, m.cols));
  stridedCopy(m.data, m.cols + 1, out.data, 1, out.size);
  return out;
}

// dim 1: column sums (cols elements); any other dim: row sums (rows elements).
// A row of no columns sums to 0.
template <typename T>
HeapVector<T> sum(const BaseMatrix<T>& m, int dim) {
  if (dim == 1) {
    HeapVector<T> out(m.cols);
    vmtl::detail::columnSums(m, out.data);
    return out;
  }
  HeapVector<T> out(m.rows);
  for (unsigned r = 0; r < m.rows; ++r) out[r] = static_cast<T>(sumElements(m.getRow(r).data, m.cols));
  return out;
}

// dim 1: column means; any other dim: row means.
template <typename T>
HeapVector<T> mean(const BaseMatrix<T>& m, int dim) {
  if (m.rows == 0) vmtl::fail("Empty matrix", vmtl::kMatrixFuncHeader, 214);
  if (dim == 1) {
    HeapVector<T> out(m.cols);
    vmtl::detail::columnMeans(m, out);
    return out;
  }
  HeapVector<T> out = sum(m, dim);
  divideElements(out, static_cast<T>(m.cols));
  return out;
}

// Column variances, normalised by rows - 1.
template <typename T>
HeapVector<T> var(const BaseMatrix<T>& m) {
  if (m.rows == 0) vmtl::fail("Empty matrix", vmtl::kMatrixFuncHeader, 255);
  HeapVector<T> out(m.cols);
  vmtl::detail::columnVariances(m, out.data);
  return out;
}

// Summarises groups of groupSize consecutive rows, one group every step rows:
// row k of the result holds the column means of rows k*step .. k*step +
// groupSize - 1, followed with variance by their column variances. A matrix
// shorter than one group gives one row summarising all of it. Failures of the
// grouping itself are thrown as std::string.
template <typename T>
HeapMatrix<T> group(const BaseMatrix<T>& m, unsigned groupSize, unsigned step, bool withVariance) {
  // The variance of a single row is 0 / 0 whatever the step.
  if (groupSize == 1 && withVariance)
    throw std::string("matrix_func group() computing variance of one-frame-group will lead to zero variance");
  if (groupSize == 1 && step == 1) return HeapMatrix<T>(m);

  const unsigned outCols = withVariance ? vmtl::detail::addColumnCounts(m.cols, m.cols) : m.cols;
  unsigned groups = 0;
  if (m.rows >= groupSize) {
    // Only a matrix that holds a whole group divides by the step; a shorter one
    // is summarised in one row whatever the step.
    if (step == 0) throw std::string("matrix_func group() step size is 0");
    // In double, so that a step larger than the group cannot wrap the count.
    const double span = static_cast<double>(m.rows) - (static_cast<double>(groupSize) - static_cast<double>(step));
    groups = static_cast<unsigned>(std::floor(span / step));
  }

  if (groups == 0) {
    HeapMatrix<T> out(1, outCols, T(0));
    vmtl::detail::columnMeans(m, out.getRow(0).slice(0, m.cols));
    if (withVariance) vmtl::detail::columnVariances(m, out.data + m.cols);
    return out;
  }

  HeapMatrix<T> out(groups, outCols, T(0));
  for (unsigned k = 0; k < groups; ++k) {
    const BaseMatrix<T> frames = m.getRows(k * step, groupSize);
    const BaseVector<T> row = out.getRow(k);
    vmtl::detail::columnMeans(frames, row.slice(0, m.cols));
    if (withVariance) vmtl::detail::columnVariances(frames, row.data + m.cols);
  }
  return out;
}

namespace util {

// Each row of the result is a's row followed by b's row.
template <typename T>
HeapMatrix<T> appendMatrixCols(const BaseMatrix<T>& a, const BaseMatrix<T>& b) {
  if (a.rows != b.rows)
    throw std::string("util::appendMatrixCols() matrix rows dont fit: ") + std::to_string(a.rows) + " vs. " +
        std::to_string(b.rows);
  HeapMatrix<T> out(a.rows, vmtl::detail::addColumnCounts(a.cols, b.cols), T(0));
  for (unsigned r = 0; r < a.rows; ++r) {
    T* row = out.getRow(r).data;
    std::copy_n(a.getRow(r).data, a.cols, row);
    std::copy_n(b.getRow(r).data, b.cols, row + a.cols);
  }
  return out;
}

}  // namespace util
