#pragma once
// Element-wise arithmetic of two vectors, and the product with a scalar. Each
// operation returns a new vector; the sizes are checked before it is made.

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
