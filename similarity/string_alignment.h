#pragma once
// Alignment of two sequences of numbers by dynamic programming, the distance
// behind the "melodicnorm" metric: the cheapest way to turn one sequence into
// the other by insertions, deletions (fixed costs) and substitutions (the
// difference of the two values, up to a limit). The longer sequence may start
// with its surplus at no cost, and the alignment may end anywhere on the last
// row or column, so that a melody is found inside a longer one.

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "metadata/sources/vmtl/heap_matrix.h"

struct ScoreMatrixItem {
  float score = 0.0f;
  bool fromLeft = false;
  bool fromUp = false;
  bool fromDiagonal = false;
};

template <typename T>
class StringAlignment {
 public:
  virtual ~StringAlignment() = default;

  // The cost of aligning a[0..n) with b[0..m). Only the previous and the
  // current row of the score matrix are kept: the answer lies on its last
  // row and last column, and the sequences come from stored signatures, so
  // memory must grow with one sequence's length, not with their product.
  // The rows are kept for the next call, which reuses their memory.
  T align(const T* a, unsigned n, const T* b, unsigned m, T leftCost, T upCost, T maxSubstitution, T matchCost) {
    // Two empty sequences align at no cost.
    if (n == 0 && m == 0) return T(0);
    rows.resize(2, m + 1);
    ScoreMatrixItem* previous = rows.getRow(0).data;
    ScoreMatrixItem* current = rows.getRow(1).data;
    const long long surplus = static_cast<long long>(n) - static_cast<long long>(m);
    previous[0] = ScoreMatrixItem();
    for (unsigned j = 1; j <= m; ++j)
      previous[j] = {j < -surplus ? T(0) : static_cast<T>(j + surplus) * leftCost, true, false, false};
    // The last column's cells (i, m) for i >= 1, then the last row's.
    T result = FLT_MAX;
    for (unsigned i = 1; i <= n; ++i) {
      current[0] = {i < surplus ? T(0) : static_cast<T>(i - surplus) * upCost, false, true, false};
      for (unsigned j = 1; j <= m; ++j) {
        const T left = current[j - 1].score + leftCost;
        const T up = previous[j].score + upCost;
        const T substitution =
            a[i - 1] == b[j - 1] ? matchCost : std::min<T>(std::fabs(a[i - 1] - b[j - 1]), maxSubstitution);
        const T diagonal = previous[j - 1].score + substitution;
        T best = left <= up ? left : up;
        if (diagonal < best) best = diagonal;
        current[j] = {best, best == left, best == up, best == diagonal};
      }
      result = std::min(result, current[m].score);
      std::swap(previous, current);
    }
    // previous now holds row n (row 0 when n is 0).
    for (unsigned j = 1; j <= m; ++j) result = std::min(result, previous[j].score);
    return result;
  }

 private:
  // Two rows of m + 1 cells: the previous and the current row.
  HeapMatrix<ScoreMatrixItem> rows;
};
