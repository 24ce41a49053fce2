#pragma once
// Element-wise arithmetic of two vectors, the product with a scalar and the
// distance of two vectors. Each arithmetic operation returns a new vector; the
// sizes are checked before anything is made.

#include <cmath>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/operations.h"

template <typename T>
HeapVector<T> operator+(const BaseVector<T>& a, const BaseVector<T>& b) {
  if (a.size != b.size) vmtl::fail("unequal vector size", vmtl::kVectorOpsHeader, 75);
  HeapVector<T> out(a.size);
  elementwiseAdd(a.data, b.data, out.data, a.size);
  return out;
}

// a - b
template <typename T>
HeapVector<T> vectorDifference(const BaseVector<T>& a, const BaseVector<T>& b) {
  if (a.size != b.size) vmtl::fail("unequal vector size", vmtl::kVectorOpsHeader, 107);
  HeapVector<T> out(a);
  subtractInPlace(out.data, b.data, out.size);
  return out;
}

// Element-wise product.
template <typename T>
HeapVector<T> operator*(const BaseVector<T>& a, const BaseVector<T>& b) {
  if (a.size != b.size) vmtl::fail("unequal vector size", vmtl::kVectorOpsHeader, 134);
  HeapVector<T> out(a.size);
  elementwiseMultiply(a.data, b.data, out.data, a.size);
  return out;
}

template <typename T>
HeapVector<T> operator*(const BaseVector<T>& v, vmtl::NonDeduced<T> s) {
  HeapVector<T> out(v.size);
  scalarMultiply(v.data, s, out.data, v.size);
  return out;
}

// sqrt(sum of (a[i] - b[i])²), summed in double without a vector for the
// difference; sizes that differ fail as the difference a - b does.
template <typename T>
double euclideanDistance(const BaseVector<T>& a, const BaseVector<T>& b) {
  if (a.size != b.size) vmtl::fail("unequal vector size", vmtl::kVectorOpsHeader, 107);
  return std::sqrt(squaredEuclideanDistance(a.data, b.data, a.size));
}
