#pragma once
// Element kernels on raw arrays and the scalar divisions built on them.
//
// The kernels make no checks and never allocate: the vector and matrix
// operations check sizes once and then hand whole blocks to them. Argument
// order: sources, then the destination, then the element count; a kernel that
// works in place takes the array it changes first. Sums are accumulated in
// double whatever the element type, so long frames do not lose their small
// values.
//
// base_vector.h includes this header for its in-place operators, so the
// vector forms below are written against a declared, not yet defined,
// BaseVector; they are only instantiated where the class is complete.

#include <cstddef>

#include "metadata/sources/vmtl/vmtl_exception.h"

template <typename T>
class BaseVector;

namespace vmtl {

// Keeps a scalar parameter out of template deduction, so that a float vector
// can be scaled by a double or int literal.
template <typename T>
struct Identity {
  using type = T;
};
template <typename T>
using NonDeduced = typename Identity<T>::type;

}  // namespace vmtl

// out[i] = a[i] * b[i]
template <typename T>
void elementwiseMultiply(const T* a, const T* b, T* out, unsigned n) {
  for (unsigned i = 0; i < n; ++i) out[i] = a[i] * b[i];
}

// a[i] = a[i] * b[i]
template <typename T>
void multiplyElements(T* a, const T* b, unsigned n) {
  for (unsigned i = 0; i < n; ++i) a[i] *= b[i];
}

// out[i] = a[i] + b[i]
template <typename T>
void elementwiseAdd(const T* a, const T* b, T* out, unsigned n) {
  for (unsigned i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

// a[i] = a[i] - b[i]
template <typename T>
void subtractInPlace(T* a, const T* b, unsigned n) {
  for (unsigned i = 0; i < n; ++i) a[i] -= b[i];
}

// a[i] = a[i] / b[i]. A zero divisor stops the pass where it stands: the
// elements before it are already divided.
template <typename T>
void divideElementwise(T* a, const T* b, unsigned n) {
  for (unsigned i = 0; i < n; ++i) {
    if (b[i] == T(0)) vmtl::fail("attempt to divide by zero", vmtl::kOperationsHeader, 446);
    a[i] /= b[i];
  }
}

// x[i] = x[i] * s
template <typename T>
void scaleElements(T* x, vmtl::NonDeduced<T> s, unsigned n) {
  for (unsigned i = 0; i < n; ++i) x[i] *= s;
}

// out[i] = in[i] * s
template <typename T>
void scalarMultiply(const T* in, vmtl::NonDeduced<T> s, T* out, unsigned n) {
  for (unsigned i = 0; i < n; ++i) out[i] = in[i] * s;
}

// x[i] = x[i] + s
template <typename T>
void addScalar(T* x, vmtl::NonDeduced<T> s, unsigned n) {
  for (unsigned i = 0; i < n; ++i) x[i] += s;
}

// dst[i * dstStride] = src[i * srcStride]
template <typename T>
void stridedCopy(const T* src, unsigned srcStride, T* dst, unsigned dstStride, unsigned n) {
  for (unsigned i = 0; i < n; ++i)
    dst[static_cast<size_t>(i) * dstStride] = src[static_cast<size_t>(i) * srcStride];
}

// The sums start from 0.0, which adds exactly nothing to x[0]; an empty range
// therefore sums to 0 instead of reading an element that is not there.
template <typename T>
double sumElements(const T* x, unsigned n) {
  double sum = 0.0;
  for (unsigned i = 0; i < n; ++i) sum += x[i];
  return sum;
}

template <typename T>
double sumStrided(const T* x, unsigned stride, unsigned n) {
  double sum = 0.0;
  for (unsigned i = 0; i < n; ++i) sum += x[static_cast<size_t>(i) * stride];
  return sum;
}

template <typename T>
double squaredEuclideanDistance(const T* a, const T* b, unsigned n) {
  double sum = 0.0;
  for (unsigned i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sum += d * d;
  }
  return sum;
}

// x[i] = x[i] * (1 / s): one division, then a multiplication per element.
template <typename T>
void divideElements(BaseVector<T>& x, vmtl::NonDeduced<T> s) {
  if (s == T(0)) vmtl::fail("attempt to divide by zero", vmtl::kOperationsHeader, 407);
  scaleElements(x.data, T(1) / s, x.size);
}

// out[i] = in[i] * (1 / s) for every element of in; out must hold at least
// in.size elements.
template <typename T>
void divideElements(BaseVector<T>& out, const BaseVector<T>& in, vmtl::NonDeduced<T> s) {
  if (s == T(0)) vmtl::fail("attempt to divide by zero", vmtl::kOperationsHeader, 425);
  scalarMultiply(in.data, T(1) / s, out.data, in.size);
}
