#include "metadata/sources/vmtl/base_vector.h"

#include <gtest/gtest.h>

#include <complex>
#include <numeric>
#include <vector>

#include "tests/support/vmtl_expect.h"

namespace {

HeapVector<float> iota(unsigned n, float first = 0.0f) {
  HeapVector<float> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

TEST(HeapVector, ResizeLosesContentsWhenGrowingResizePreserveKeepsThem) {
  HeapVector<float> v = iota(4, 1.0f);
  const float* before = v.data;
  v.resize(2);  // shrinking keeps the block
  EXPECT_EQ(v.data, before);
  EXPECT_EQ(v.size, 2u);
  EXPECT_EQ(v[1], 2.0f);

  v.resize(3);  // growing past the size reallocates even within the old block
  EXPECT_EQ(v.size, 3u);

  HeapVector<float> p = iota(3, 5.0f);
  p.resizePreserve(6);
  ASSERT_EQ(p.size, 6u);
  EXPECT_EQ(p[0], 5.0f);
  EXPECT_EQ(p[2], 7.0f);
  p.resizePreserve(1);
  EXPECT_EQ(p.size, 1u);
  EXPECT_EQ(p[0], 5.0f);
}

TEST(HeapVector, AppendCopiesBehindOldElementsAlsoFromItself) {
  HeapVector<int> v(2);
  v[0] = 1;
  v[1] = 2;
  HeapVector<int> empty;
  v.append(empty);
  EXPECT_EQ(v.size, 2u);
  v.append(v);  // the source is the vector being reallocated
  ASSERT_EQ(v.size, 4u);
  EXPECT_EQ(std::vector<int>(v.begin(), v.end()), (std::vector<int>{1, 2, 1, 2}));
  v.append(v.subvector(1, 2));
  EXPECT_EQ(std::vector<int>(v.begin(), v.end()), (std::vector<int>{1, 2, 1, 2, 2, 1}));
}

TEST(HeapVector, AssignmentReallocatesOnlyForLongerSources) {
  HeapVector<float> target = iota(5);
  const float* block = target.data;
  HeapVector<float> shorter = iota(3, 10.0f);
  target = shorter;
  EXPECT_EQ(target.data, block);
  EXPECT_EQ(target.size, 3u);
  EXPECT_EQ(target[2], 12.0f);

  HeapVector<float> longer = iota(8, 20.0f);
  target = longer;
  EXPECT_NE(target.data, longer.data);
  EXPECT_EQ(target.size, 8u);
  EXPECT_EQ(target[7], 27.0f);

  target = target;  // self-assignment keeps everything
  EXPECT_EQ(target.size, 8u);
  EXPECT_EQ(target[0], 20.0f);

  HeapVector<float> copy(longer.subvector(2, 3));
  EXPECT_NE(copy.data, longer.data + 2);
  EXPECT_EQ(copy[0], 22.0f);
}

TEST(BaseVector, AssignmentCopiesElementsIntoTheViewedMemory) {
  HeapVector<float> a = iota(4);
  HeapVector<float> b = iota(2, 7.0f);
  BaseVector<float> view = a.subvector(1, 2);
  view = b;
  EXPECT_EQ(a[1], 7.0f);
  EXPECT_EQ(a[2], 8.0f);
  expectVmtlFailure([&] { view = a; }, "unequal vector size", "base_vector", 393);

  HeapVector<unsigned char> bytes(3);
  BaseVector<unsigned char> byteView(bytes.data, 3);
  expectVmtlFailure([&] { byteView = BaseVector<unsigned char>(bytes.data, 2); }, "unequal vector size",
                    "base_vector", 393);
}

TEST(BaseVector, AssignColumnReadsEveryStrideElement) {
  float table[6] = {0, 1, 2, 3, 4, 5};
  HeapVector<float> column(3);
  column.assignColumn(StrideVector<float>(table + 1, 2, 3));
  EXPECT_EQ(column[0], 1.0f);
  EXPECT_EQ(column[1], 3.0f);
  EXPECT_EQ(column[2], 5.0f);
  expectVmtlFailure([&] { column.assignColumn(StrideVector<float>(table, 2, 2)); }, "unequal vector size",
                    "base_vector", 402);
}

TEST(BaseVector, SubvectorChecksItsRangeSliceDoesNot) {
  HeapVector<float> v = iota(4);
  BaseVector<float> tail = v.subvector(4, 0);
  EXPECT_EQ(tail.size, 0u);
  EXPECT_EQ(tail.data, v.data + 4);
  EXPECT_EQ(v.subvector(1, 3)[2], 3.0f);
  expectVmtlFailure([&] { v.subvector(2, 3); }, "subvector parameters out of range", "base_vector", 256);
  // A length that would wrap the 32-bit sum is still out of range.
  expectVmtlFailure([&] { v.subvector(1, 0xFFFFFFFFu); }, "subvector parameters out of range", "base_vector", 256);
  EXPECT_EQ(v.slice(3, 1)[0], 3.0f);
}

TEST(WrapVector, ViewsForeignMemoryWithoutOwningIt) {
  static unsigned table[3] = {4, 5, 6};
  {
    WrapVector<unsigned> w(table, 3);
    EXPECT_EQ(w[2], 6u);
  }
  EXPECT_EQ(table[0], 4u);  // still readable: the wrapper freed nothing
}

TEST(HeapVector, ElementTypesInUse) {
  HeapVector<std::complex<float>> c(2);
  c[1] = {1.0f, -1.0f};
  HeapVector<std::complex<float>> c2(c);
  EXPECT_EQ(c2[1], std::complex<float>(1.0f, -1.0f));
  HeapVector<bool> flags(3);
  flags[2] = true;
  EXPECT_TRUE(HeapVector<bool>(flags)[2]);
  HeapVector<unsigned> empty(0);
  EXPECT_EQ(empty.data, nullptr);
}

}  // namespace
