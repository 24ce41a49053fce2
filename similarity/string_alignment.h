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

  // The cost of aligning a[0..n) with b[0..m). The score matrix is kept for
  // the next call, which reuses its memory when it is large enough.
  T align(const T* a, unsigned n, const T* b, unsigned m, T leftCost, T upCost, T maxSubstitution, T matchCost) {
    scores.resize(n + 1, m + 1);
    const long long surplus = static_cast<long long>(n) - static_cast<long long>(m);
    scores(0, 0) = ScoreMatrixItem();
    for (unsigned i = 1; i <= n; ++i)
      scores(i, 0) = {i < surplus ? T(0) : static_cast<T>(i - surplus) * upCost, false, true, false};
    for (unsigned j = 1; j <= m; ++j)
      scores(0, j) = {j < -surplus ? T(0) : static_cast<T>(j + surplus) * leftCost, true, false, false};
    for (unsigned i = 1; i <= n; ++i) {
      for (unsigned j = 1; j <= m; ++j) {
        const T left = scores(i, j - 1).score + leftCost;
        const T up = scores(i - 1, j).score + upCost;
        const T substitution =
            a[i - 1] == b[j - 1] ? matchCost : std::min<T>(std::fabs(a[i - 1] - b[j - 1]), maxSubstitution);
        const T diagonal = scores(i - 1, j - 1).score + substitution;
        T best = left <= up ? left : up;
        if (diagonal < best) best = diagonal;
        scores(i, j) = {best, best == left, best == up, best == diagonal};
      }
    }
    // Two empty sequences align at no cost.
    if (n == 0 && m == 0) return T(0);
    T result = FLT_MAX;
    for (unsigned i = 1; i <= n; ++i) result = std::min(result, scores(i, m).score);
    for (unsigned j = 1; j <= m; ++j) result = std::min(result, scores(n, j).score);
    return result;
  }

  const HeapMatrix<ScoreMatrixItem>& getScores() const { return scores; }

 private:
  HeapMatrix<ScoreMatrixItem> scores;
};
