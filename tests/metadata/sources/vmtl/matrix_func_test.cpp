// Tests of matrix_ops.h and matrix_func.h.
#include "metadata/sources/vmtl/matrix_func.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/matrix_ops.h"
#include "tests/support/vmtl_expect.h"

namespace {

// A deterministic, irregular rows x cols test matrix.
HeapMatrix<float> frames(unsigned rows, unsigned cols, float seed = 0.0f) {
  HeapMatrix<float> m(rows, cols, 0.0f);
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c)
      m(r, c) = std::sin(0.37f * static_cast<float>(r * cols + c) + seed) * (3.0f + static_cast<float>(c));
  return m;
}

HeapMatrix<float> matrix(unsigned rows, unsigned cols, const std::vector<float>& values) {
  HeapMatrix<float> m(rows, cols, 0.0f);
  std::copy(values.begin(), values.end(), m.data);
  return m;
}

std::vector<float> values(const BaseVector<float>& v) { return std::vector<float>(v.begin(), v.end()); }

// Plainly written statistics over rows first .. first + count - 1 of column c.
double columnMean(const BaseMatrix<float>& m, unsigned c, unsigned first, unsigned count) {
  double sum = 0.0;
  for (unsigned r = first; r < first + count; ++r) sum += m(r, c);
  return sum / count;
}

double columnVariance(const BaseMatrix<float>& m, unsigned c, unsigned first, unsigned count) {
  const double average = columnMean(m, c, first, count);
  double squares = 0.0;
  for (unsigned r = first; r < first + count; ++r) squares += (m(r, c) - average) * (m(r, c) - average);
  return squares / (count - 1);
}

TEST(MatrixProduct, MatchesTheDoubleProduct) {
  const HeapMatrix<float> a = frames(5, 7, 0.0f);
  const HeapMatrix<float> b = frames(7, 3, 1.0f);
  const HeapMatrix<float> p = a * b;
  ASSERT_EQ(p.rows, 5u);
  ASSERT_EQ(p.cols, 3u);
  for (unsigned i = 0; i < 5; ++i)
    for (unsigned j = 0; j < 3; ++j) {
      double expected = 0.0;
      for (unsigned k = 0; k < 7; ++k) expected += static_cast<double>(a(i, k)) * b(k, j);
      EXPECT_EQ(p(i, j), static_cast<float>(expected)) << i << "," << j;
    }

  // The sum is not held in float: 2^24 + 1 + 1 + 1 + 1 is exactly 2^24 + 4.
  const HeapMatrix<float> row = matrix(1, 5, {16777216.0f, 1.0f, 1.0f, 1.0f, 1.0f});
  const HeapMatrix<float> ones(5, 1, 1.0f);
  EXPECT_EQ((row * ones)(0, 0), 16777220.0f);
}

TEST(MatrixProduct, InnerDimensionsMustAgree) {
  const HeapMatrix<float> a = frames(2, 3);
  const HeapMatrix<float> b = frames(2, 3);
  expectVmtlFailure([&] { (void)(a * b); }, "Unequal matrix dimension", "matrix_ops", 78);

  // An empty inner dimension gives zeros.
  const HeapMatrix<float> wide(3, 0, 0.0f);
  const HeapMatrix<float> tall(0, 2, 0.0f);
  const HeapMatrix<float> zeros = wide * tall;
  ASSERT_EQ(zeros.rows, 3u);
  ASSERT_EQ(zeros.cols, 2u);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(zeros.data[i], 0.0f);
}

TEST(Transpose, SwapsRowsAndColumns) {
  const HeapMatrix<float> m = frames(4, 3);
  const HeapMatrix<float> t = transpose(m);
  ASSERT_EQ(t.rows, 3u);
  ASSERT_EQ(t.cols, 4u);
  for (unsigned r = 0; r < 4; ++r)
    for (unsigned c = 0; c < 3; ++c) EXPECT_EQ(t(c, r), m(r, c));

  const HeapMatrix<float> row = frames(1, 6);
  const HeapMatrix<float> column = transpose(row);
  ASSERT_EQ(column.rows, 6u);
  ASSERT_EQ(column.cols, 1u);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(column(i, 0), row(0, i));
  const HeapMatrix<float> back = transpose(column);
  ASSERT_EQ(back.rows, 1u);
  EXPECT_EQ(values(back.getRow(0)), values(row.getRow(0)));
}

TEST(Diag, ReadsTheMainDiagonal) {
  const HeapMatrix<float> square = frames(4, 4);
  const HeapMatrix<float> tall = frames(6, 3);
  const HeapMatrix<float> wide = frames(2, 5);
  const HeapVector<float> d = diag(square);
  ASSERT_EQ(d.size, 4u);
  for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(d[i], square(i, i));
  EXPECT_EQ(values(diag(tall)), (std::vector<float>{tall(0, 0), tall(1, 1), tall(2, 2)}));
  // Wider than tall: only the elements that exist.
  EXPECT_EQ(values(diag(wide)), (std::vector<float>{wide(0, 0), wide(1, 1)}));
}

TEST(MatrixStatistics, SumsAndMeansAlongBothDimensions) {
  const HeapMatrix<float> m = frames(9, 4);
  const HeapVector<float> columnSums = sum(m, 1);
  const HeapVector<float> rowSums = sum(m, 2);
  const HeapVector<float> columnMeans = mean(m, 1);
  const HeapVector<float> rowMeans = mean(m, 2);
  ASSERT_EQ(columnSums.size, 4u);
  ASSERT_EQ(columnMeans.size, 4u);
  ASSERT_EQ(rowSums.size, 9u);
  ASSERT_EQ(rowMeans.size, 9u);
  for (unsigned c = 0; c < 4; ++c) {
    double expected = 0.0;
    for (unsigned r = 0; r < 9; ++r) expected += m(r, c);
    EXPECT_EQ(columnSums[c], static_cast<float>(expected));
    EXPECT_NEAR(columnMeans[c], expected / 9, 1e-6);
  }
  for (unsigned r = 0; r < 9; ++r) {
    double expected = 0.0;
    for (unsigned c = 0; c < 4; ++c) expected += m(r, c);
    EXPECT_EQ(rowSums[r], static_cast<float>(expected));
    EXPECT_NEAR(rowMeans[r], expected / 4, 1e-6);
  }
  EXPECT_EQ(values(sum(m, 0)), values(rowSums));  // every dim but 1 means rows

  // Rows without columns sum to 0.
  const HeapMatrix<float> noColumns(3, 0, 0.0f);
  EXPECT_EQ(values(sum(noColumns, 2)), (std::vector<float>{0.0f, 0.0f, 0.0f}));
}

TEST(MatrixStatistics, MeanChecks) {
  const HeapMatrix<float> empty(0, 4, 0.0f);
  expectVmtlFailure([&] { mean(empty, 1); }, "Empty matrix", "matrix_func", 214);
  expectVmtlFailure([&] { mean(empty, 2); }, "Empty matrix", "matrix_func", 214);
  const HeapMatrix<float> noColumns(3, 0, 0.0f);
  expectVmtlFailure([&] { mean(noColumns, 2); }, "attempt to divide by zero", "operations", 407);
  EXPECT_EQ(mean(noColumns, 1).size, 0u);
}

TEST(MatrixStatistics, VarianceMatchesTheTwoPassFormula) {
  for (unsigned rows : {2u, 3u, 10u, 257u}) {
    const HeapMatrix<float> m = frames(rows, 5, 0.5f);
    const HeapVector<float> v = var(m);
    ASSERT_EQ(v.size, 5u);
    for (unsigned c = 0; c < 5; ++c) {
      const double expected = columnVariance(m, c, 0, rows);
      EXPECT_NEAR(v[c], expected, 1e-5 * expected) << rows << " rows, column " << c;
    }
  }
  // A large offset: the sums must not be float.
  HeapMatrix<float> offset(4, 1, 0.0f);
  for (unsigned r = 0; r < 4; ++r) offset(r, 0) = 4096.0f + static_cast<float>(r);
  EXPECT_NEAR(var(offset)[0], 5.0 / 3.0, 1e-6);

  const HeapMatrix<float> empty(0, 3, 0.0f);
  expectVmtlFailure([&] { var(empty); }, "Empty matrix", "matrix_func", 255);
  // One row divides by n - 1 = 0.
  EXPECT_TRUE(std::isnan(var(frames(1, 2))[0]));
}

TEST(Group, MeansAndVariancesOfOverlappingGroups) {
  const HeapMatrix<float> m = frames(10, 3);
  const HeapMatrix<float> means = group(m, 4, 2, false);
  ASSERT_EQ(means.rows, 4u);  // frames 0-3, 2-5, 4-7, 6-9
  ASSERT_EQ(means.cols, 3u);
  const HeapMatrix<float> both = group(m, 4, 2, true);
  ASSERT_EQ(both.rows, 4u);
  ASSERT_EQ(both.cols, 6u);
  for (unsigned k = 0; k < 4; ++k)
    for (unsigned c = 0; c < 3; ++c) {
      EXPECT_NEAR(means(k, c), columnMean(m, c, 2 * k, 4), 1e-6);
      EXPECT_EQ(both(k, c), means(k, c));
      EXPECT_NEAR(both(k, 3 + c), columnVariance(m, c, 2 * k, 4), 1e-5);
    }
}

TEST(Group, RowCounts) {
  struct Case {
    unsigned rows, size, step, expected;
  };
  for (const Case& t : {Case{10, 4, 2, 4}, Case{10, 4, 4, 2}, Case{10, 4, 3, 3}, Case{10, 10, 1, 1},
                        Case{10, 9, 1, 2}, Case{10, 2, 3, 3}, Case{10, 3, 7, 2}, Case{10, 1, 3, 4},
                        Case{100, 8, 8, 12}, Case{7, 2, 1, 6}}) {
    const HeapMatrix<float> m = frames(t.rows, 2);
    const HeapMatrix<float> g = group(m, t.size, t.step, false);
    ASSERT_EQ(g.rows, t.expected) << t.rows << " rows, group " << t.size << ", step " << t.step;
    // Every group starts step rows after the previous one.
    for (unsigned k = 0; k < g.rows; ++k)
      EXPECT_NEAR(g(k, 1), columnMean(m, 1, k * t.step, t.size), 1e-5) << k;
  }
}

TEST(Group, ShortMatricesGiveOneRowOfEverything) {
  const HeapMatrix<float> m = frames(10, 3);
  const HeapMatrix<float> g = group(m, 12, 2, true);
  ASSERT_EQ(g.rows, 1u);
  ASSERT_EQ(g.cols, 6u);
  for (unsigned c = 0; c < 3; ++c) {
    EXPECT_NEAR(g(0, c), columnMean(m, c, 0, 10), 1e-6);
    EXPECT_NEAR(g(0, 3 + c), columnVariance(m, c, 0, 10), 1e-5);
  }
  // The step only matters to a matrix that holds a whole group, so 0 is no error here.
  const HeapMatrix<float> zeroStep = group(m, 12, 0, false);
  ASSERT_EQ(zeroStep.rows, 1u);
  ASSERT_EQ(zeroStep.cols, 3u);
  for (unsigned c = 0; c < 3; ++c) EXPECT_NEAR(zeroStep(0, c), columnMean(m, c, 0, 10), 1e-6);
  const HeapMatrix<float> empty(0, 3, 0.0f);
  expectVmtlFailure([&] { group(empty, 4, 2, false); }, "Empty matrix", "matrix_func", 214);
}

TEST(Group, SingleFrameGroups) {
  const HeapMatrix<float> m = frames(5, 3);
  const HeapMatrix<float> copy = group(m, 1, 1, false);
  ASSERT_EQ(copy.rows, 5u);
  ASSERT_EQ(copy.cols, 3u);
  EXPECT_NE(copy.data, m.data);
  EXPECT_TRUE(std::equal(m.data, m.data + 15, copy.data));

  const std::string zeroVariance =
      "matrix_func group() computing variance of one-frame-group will lead to zero variance";
  expectVmtlStringFailure([&] { group(m, 1, 1, true); }, zeroVariance);
  expectVmtlStringFailure([&] { group(m, 1, 2, true); }, zeroVariance);
  expectVmtlStringFailure([&] { group(m, 3, 0, false); }, "matrix_func group() step size is 0");
  // A group of no frames has no mean.
  expectVmtlFailure([&] { group(m, 0, 2, false); }, "Empty matrix", "matrix_func", 214);
}

TEST(AppendMatrixCols, JoinsRowsSideBySide) {
  const HeapMatrix<float> a = frames(3, 2, 0.0f);
  const HeapMatrix<float> b = frames(3, 4, 1.0f);
  const HeapMatrix<float> joined = util::appendMatrixCols(a, b);
  ASSERT_EQ(joined.rows, 3u);
  ASSERT_EQ(joined.cols, 6u);
  for (unsigned r = 0; r < 3; ++r) {
    for (unsigned c = 0; c < 2; ++c) EXPECT_EQ(joined(r, c), a(r, c));
    for (unsigned c = 0; c < 4; ++c) EXPECT_EQ(joined(r, 2 + c), b(r, c));
  }
  // Rows without columns, as a merge starts from.
  const HeapMatrix<float> start(3, 0, 0.0f);
  const HeapMatrix<float> merged = util::appendMatrixCols(start, b);
  ASSERT_EQ(merged.cols, 4u);
  EXPECT_TRUE(std::equal(b.data, b.data + 12, merged.data));

  expectVmtlStringFailure([&] { util::appendMatrixCols(frames(2, 3), frames(3, 1)); },
                          "util::appendMatrixCols() matrix rows dont fit: 2 vs. 3");
}

}  // namespace
