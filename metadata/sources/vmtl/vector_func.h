#pragma once
// Functions of one vector: its mean, element-wise square roots, the power and
// phase of a complex spectrum, and the centred correlation util::conv.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <new>
#include <string>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/operations.h"

template <typename T>
double mean(const BaseVector<T>& v) {
  if (v.size == 0) vmtl::fail("zero sized vector", vmtl::kVectorFuncHeader, 117);
  return sumElements(v.data, v.size) / v.size;
}

template <typename T>
HeapVector<T> sqrt(const BaseVector<T>& v) {
  HeapVector<T> out(v.size);
  for (unsigned i = 0; i < v.size; ++i) out[i] = std::sqrt(v[i]);
  return out;
}

// re² + im² of each bin. `out` keeps its block unless it must grow, so a
// caller that reuses it per frame allocates only once.
template <typename T>
void squaredMagnitude(const BaseVector<std::complex<T>>& in, HeapVector<T>& out) {
  out.resize(in.size);
  for (unsigned i = 0; i < in.size; ++i) {
    const double re = in[i].real();
    const double im = in[i].imag();
    out[i] = static_cast<T>(re * re + im * im);
  }
}

// atan(im / re) of each bin: the range is -pi/2 to pi/2 and the quadrant is
// deliberately not restored, so (-1, 1) gives -pi/4. `out` is resized as in
// squaredMagnitude.
template <typename T>
void phase(const BaseVector<std::complex<T>>& in, HeapVector<T>& out) {
  out.resize(in.size);
  for (unsigned i = 0; i < in.size; ++i)
    out[i] = static_cast<T>(std::atan(static_cast<double>(in[i].imag()) / static_cast<double>(in[i].real())));
}

namespace util {

// Filters x in place with an odd-length kernel centred on each element:
// x[j] = sum over t of kernel[t] * x[j + t - m/2], with zeros beyond both
// ends. The kernel is not reversed (a correlation) and x keeps its length.
template <typename T>
void conv(BaseVector<T>& x, const BaseVector<T>& kernel) {
  if (kernel.size % 2 == 0) throw std::string("util::conv() core size must be odd");
  const unsigned half = kernel.size / 2;
  const uint64_t paddedSize = static_cast<uint64_t>(x.size) + 2 * static_cast<uint64_t>(half);
  if (paddedSize > UINT32_MAX) throw std::bad_array_new_length();
  HeapVector<T> padded(static_cast<unsigned>(paddedSize));
  std::fill(padded.begin(), padded.end(), T(0));
  std::copy_n(x.data, x.size, padded.data + half);
  for (unsigned j = 0; j < x.size; ++j) {
    T sum = T(0);
    for (unsigned t = 0; t < kernel.size; ++t) sum += kernel[t] * padded[j + t];
    x[j] = sum;
  }
}

}  // namespace util
