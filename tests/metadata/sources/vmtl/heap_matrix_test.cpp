#include "metadata/sources/vmtl/heap_matrix.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "tests/support/vmtl_expect.h"

namespace {

// rows x cols with element (r, c) = 10 r + c, so that positions are visible.
HeapMatrix<float> numbered(unsigned rows, unsigned cols) {
  HeapMatrix<float> m(rows, cols, 0.0f);
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c) m(r, c) = static_cast<float>(10 * r + c);
  return m;
}

std::vector<float> elements(const BaseMatrix<float>& m) { return std::vector<float>(m.data, m.data + m.elementCount()); }

TEST(HeapMatrix, ConstructionFillsAndCopiesExactly) {
  HeapMatrix<unsigned char> filled(2, 3, 7);
  EXPECT_EQ(filled.capacity, 6u);
  EXPECT_EQ(filled(1, 2), 7);

  HeapMatrix<float> m = numbered(3, 2);
  HeapMatrix<float> copy(m.getRows(1, 2));
  EXPECT_EQ(copy.capacity, 4u);
  EXPECT_EQ(elements(copy), (std::vector<float>{10, 11, 20, 21}));

  HeapVector<float> row(3);
  std::iota(row.begin(), row.end(), 1.0f);
  HeapMatrix<float> repeated(row, 2);
  EXPECT_EQ(repeated.rows, 2u);
  EXPECT_EQ(repeated.cols, 3u);
  EXPECT_EQ(elements(repeated), (std::vector<float>{1, 2, 3, 1, 2, 3}));
  HeapMatrix<float> none(row, 0);
  EXPECT_EQ(none.rows, 0u);
  EXPECT_EQ(none.cols, 3u);
}

TEST(HeapMatrix, ResizeWithinCapacityKeepsTheBlockAndItsElements) {
  HeapMatrix<float> m = numbered(3, 4);
  const float* block = m.data;
  m.resize(2, 2);
  EXPECT_EQ(m.data, block);
  EXPECT_EQ(m.capacity, 12u);
  m.resize(4, 3);  // 12 elements: still fits
  EXPECT_EQ(m.data, block);
  EXPECT_EQ(m(3, 2), 23.0f);  // element 11 of the block, where (2, 3) was
  m.resize(5, 3);
  EXPECT_EQ(m.capacity, 15u);
}

TEST(HeapMatrix, AssignmentReallocatesToExactlyTheSourceCount) {
  HeapMatrix<float> big = numbered(4, 4);
  HeapMatrix<float> small = numbered(2, 3);
  big = small;
  EXPECT_EQ(big.capacity, 6u);
  EXPECT_EQ(big.rows, 2u);
  EXPECT_EQ(elements(big), elements(small));
  HeapMatrix<float> same = numbered(3, 2);
  const float* block = same.data;
  same = small;  // equal count: copied in place
  EXPECT_EQ(same.data, block);
  EXPECT_EQ(same.cols, 3u);
  same = same;
  EXPECT_EQ(elements(same), elements(small));
}

TEST(HeapMatrix, AddAndAppendRowsKeepOldRows) {
  HeapMatrix<float> m;
  expectVmtlFailure([&] { m.addRows(1); }, "column size is 0", "heap_matrix", 247);
  HeapMatrix<float> zeroCols(3, 0, 0.0f);
  expectVmtlFailure([&] { m.appendRows(zeroCols); }, "column size is 0", "heap_matrix", 247);

  HeapMatrix<float> fresh;
  fresh.appendRows(numbered(2, 3));
  EXPECT_EQ(fresh.cols, 3u);
  fresh.appendRows(fresh);  // from itself: the source is read before the block goes
  EXPECT_EQ(elements(fresh), (std::vector<float>{0, 1, 2, 10, 11, 12, 0, 1, 2, 10, 11, 12}));
  EXPECT_EQ(fresh.capacity, 12u);
  expectVmtlFailure([&] { fresh.appendRows(numbered(1, 2)); }, "different column sizes", "heap_matrix", 267);

  HeapVector<float> row(3);
  std::iota(row.begin(), row.end(), 100.0f);
  fresh.appendRow(row);
  fresh.appendRow(fresh.getRow(0));
  EXPECT_EQ(fresh.rows, 6u);
  EXPECT_EQ(fresh(4, 2), 102.0f);
  EXPECT_EQ(fresh(5, 1), 1.0f);
  expectVmtlFailure([&] { fresh.appendRow(HeapVector<float>(2)); }, "different column sizes", "heap_matrix", 278);

  HeapMatrix<float> empty;
  empty.appendRow(row);
  EXPECT_EQ(empty.cols, 3u);
  EXPECT_EQ(empty.rows, 1u);

  // Rows without columns take the count of the first row appended; their
  // elements are undefined, but the old (empty) block is not read past its end.
  HeapMatrix<float> columnless(2, 0, 0.0f);
  columnless.appendRow(row);
  EXPECT_EQ(columnless.rows, 3u);
  EXPECT_EQ(columnless.cols, 3u);
  EXPECT_EQ(columnless.capacity, 9u);
  EXPECT_EQ(columnless(2, 0), 100.0f);
  EXPECT_EQ(columnless(2, 2), 102.0f);
  HeapMatrix<float> columnlessBlock(2, 0, 0.0f);
  columnlessBlock.appendRows(numbered(1, 2));
  EXPECT_EQ(columnlessBlock.rows, 3u);
  EXPECT_EQ(columnlessBlock(2, 1), 1.0f);
}

TEST(HeapMatrix, RemoveFirstRowsMovesOverlappingRowsToTheFront) {
  HeapMatrix<float> m = numbered(5, 2);
  m.removeFirstRows(1);  // source and destination ranges overlap
  EXPECT_EQ(elements(m), (std::vector<float>{10, 11, 20, 21, 30, 31, 40, 41}));
  EXPECT_EQ(m.capacity, 10u);
  m.removeFirstRows(m.rows);
  EXPECT_EQ(m.rows, 0u);
  EXPECT_EQ(m.cols, 2u);
  expectVmtlFailure([&] { m.removeFirstRows(1); }, "excerpt is too long", "heap_matrix", 681);

  HeapMatrix<unsigned> u(3, 1, 0);
  u(2, 0) = 9;
  u.removeFirstRows(2);
  EXPECT_EQ(u(0, 0), 9u);
}

TEST(BaseMatrix, RowsColumnsAndRowRanges) {
  HeapMatrix<float> m = numbered(3, 3);
  EXPECT_EQ(m.getRow(2)[1], 21.0f);
  StrideVector<float> col = m.getColumn(1);
  EXPECT_EQ(col.size, 3u);
  EXPECT_EQ(col[2], 21.0f);
  BaseMatrix<float> tail = m.getRows(1, 2);
  EXPECT_EQ(tail(1, 0), 20.0f);
  expectVmtlFailure([&] { m.getRows(1, 3); }, "Index exceeds matrix dimension", "base_matrix", 239);
  const HeapMatrix<float>& constView = m;
  expectVmtlFailure([&] { constView.getRows(3, 1); }, "Index exceeds matrix dimension", "base_matrix", 247);
  expectVmtlFailure([&] { m.getRows(2, 0xFFFFFFFFu); }, "Index exceeds matrix dimension", "base_matrix", 239);
  EXPECT_EQ(m.getRows(3, 0).rows, 0u);
}

TEST(HeapMatrix, AssignBlockCopiesASubRectangle) {
  HeapMatrix<unsigned char> src(4, 4, 0);
  for (unsigned i = 0; i < 16; ++i) src.data[i] = static_cast<unsigned char>(i);
  HeapMatrix<unsigned char> block(1, 1, 0);
  block.assignBlock(src, 1, 2, 2, 2);
  EXPECT_EQ(block.rows, 2u);
  EXPECT_EQ(block.cols, 2u);
  EXPECT_EQ(std::vector<unsigned char>(block.data, block.data + 4), (std::vector<unsigned char>{6, 7, 10, 11}));
}

TEST(HeapMatrix, LogicalRowSelection) {
  HeapMatrix<float> m = numbered(4, 2);
  HeapVector<bool> pick(4);
  pick[0] = false;
  pick[1] = true;
  pick[2] = false;
  pick[3] = true;
  HeapMatrix<float> picked = m[pick];
  EXPECT_EQ(elements(picked), (std::vector<float>{10, 11, 30, 31}));
  HeapVector<bool> wrong(3);
  expectVmtlFailure([&] { m[wrong]; },
                    "HeapMatrix<Type>::operator[](BaseVector<uint>) logical-vector and matrix do not fit", "heap_matrix",
                    82);
}

TEST(HeapMatrix, ShapesBeyond32BitCountsAreRefused) {
  EXPECT_THROW(HeapMatrix<float>(0x10000u, 0x10000u, 0.0f), std::bad_alloc);
  HeapMatrix<float> m(1, 0x10000u, 0.0f);
  EXPECT_THROW(m.addRows(0x10000u), std::bad_alloc);
  EXPECT_EQ(m.rows, 1u);
}

}  // namespace

TEST(HeapMatrix, ReserveMoreRowsGrowsByAShareOfWhatIsThere) {
  HeapMatrix<float> m;
  m.reserveMoreRows(5);  // no columns yet: nothing to make room for
  EXPECT_EQ(m.capacity, 0u);

  // Row by row: the block moves a few times in all, never holds more than
  // twice the rows, and keeps every row.
  HeapVector<float> row(3);
  unsigned moves = 0;
  const float* block = nullptr;
  for (unsigned r = 0; r < 100000; ++r) {
    std::fill(row.begin(), row.end(), static_cast<float>(r));
    m.reserveMoreRows(1);
    m.appendRow(row);
    if (m.data != block) ++moves;
    block = m.data;
    ASSERT_LE(m.capacity, 2u * m.rows * m.cols) << "row " << r;
  }
  EXPECT_LE(moves, 18u);
  for (unsigned r = 0; r < m.rows; ++r) ASSERT_EQ(m(r, 2), static_cast<float>(r));

  // Room that is there already is not made again; more than twice the rows
  // gives exactly what was asked.
  const unsigned capacity = m.capacity;
  m.reserveMoreRows(capacity / 3 - m.rows);
  EXPECT_EQ(m.capacity, capacity);
  HeapMatrix<float> small = numbered(2, 3);
  small.reserveMoreRows(10);
  EXPECT_EQ(small.capacity, 36u);
  EXPECT_EQ(small.rows, 2u);
  EXPECT_EQ(elements(small), (std::vector<float>{0, 1, 2, 10, 11, 12}));
  small.reserveMoreRows(1);
  EXPECT_EQ(small.capacity, 36u);
}
