#pragma once
// Weighting windows for frame analysis. A window is a vector of coefficients
// computed once at construction (in double precision, stored in T) and applied
// to frames forwards or read backwards.
//
// A window built with `half` holds only the first ceil(n/2) coefficients of the
// full length-n window, so one object serves both edges of a symmetric window:
// apply gives the rising edge, applyReversed the falling one.

#include <cmath>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/operations.h"

template <typename T>
class Window : public HeapVector<T> {
 public:
  using HeapVector<T>::data;
  using HeapVector<T>::size;

  // out[i] = in[i] * w[i]; out must hold at least size elements.
  virtual void apply(const BaseVector<T>& in, BaseVector<T>& out) const {
    if (size != in.size) vmtl::fail("unequal vector size", vmtl::kWindowHeader, 100);
    elementwiseMultiply(in.data, data, out.data, size);
  }

  virtual void apply(BaseVector<T>& inout) const {
    if (size != inout.size) vmtl::fail("unequal vector size", vmtl::kWindowHeader, 90);
    multiplyElements(inout.data, data, size);
  }

  // out[i] = in[i] * w[size - 1 - i]; out must hold at least size elements.
  virtual void applyReversed(const BaseVector<T>& in, BaseVector<T>& out) const {
    if (size != in.size) vmtl::fail("unequal vector size", vmtl::kWindowHeader, 120);
    for (unsigned i = 0; i < size; ++i) out[i] = in[i] * data[size - 1 - i];
  }

  virtual void applyReversed(BaseVector<T>& inout) const {
    if (size != inout.size) vmtl::fail("unequal vector size", vmtl::kWindowHeader, 110);
    for (unsigned i = 0; i < size; ++i) inout[i] *= data[size - 1 - i];
  }

 protected:
  explicit Window(unsigned count) : HeapVector<T>(count) {}

  // Coefficients held for a full length n: all n, or ceil(n/2) for a half.
  static unsigned heldCount(unsigned n, bool half) { return half ? (n >> 1) + (n & 1) : n; }
};

namespace vmtl {
namespace detail {

inline constexpr double kPi = 3.14159265358979323846;

// 2*pi*k / (n - 1), the phase of the shapes that span n - 1 intervals. Only
// called for n of at least 2: a window of one point is its own peak.
inline double cosinePhase(unsigned k, unsigned n) { return 2.0 * kPi * k / (n - 1); }

}  // namespace detail
}  // namespace vmtl

// alpha - (1 - alpha) cos(2 pi k / (n - 1)); alpha 0.54 gives the Hamming
// window. A window of length 1 is the single coefficient 1.0, the peak that
// the formula reaches at the centre of every longer window.
class HammingWindow : public Window<float> {
 public:
  HammingWindow(unsigned n, double alpha, bool half) : Window<float>(heldCount(n, half)) {
    for (unsigned k = 0; k < size; ++k)
      data[k] = n == 1 ? 1.0f
                       : static_cast<float>(alpha - (1.0 - alpha) * std::cos(vmtl::detail::cosinePhase(k, n)));
  }
};

class RectangleWindow : public Window<float> {
 public:
  RectangleWindow(unsigned n, bool half) : Window<float>(heldCount(n, half)) {
    for (unsigned k = 0; k < size; ++k) data[k] = 1.0f;
  }
};

// 0.5 (1 - cos(2 pi k / (n - 1))); length 1 gives 1.0 as for HammingWindow.
class HannWindow : public Window<float> {
 public:
  HannWindow(unsigned n, bool half) : Window<float>(heldCount(n, half)) {
    for (unsigned k = 0; k < size; ++k)
      data[k] = n == 1 ? 1.0f : static_cast<float>(0.5 * (1.0 - std::cos(vmtl::detail::cosinePhase(k, n))));
  }
};

// sin(pi (k + 0.5) / n). A length below 1 gives an empty window.
class SineWindow : public Window<float> {
 public:
  SineWindow(int n, bool half) : Window<float>(n > 0 ? heldCount(static_cast<unsigned>(n), half) : 0) {
    for (unsigned k = 0; k < size; ++k)
      data[k] = static_cast<float>(std::sin(vmtl::detail::kPi * (k + 0.5) / n));
  }
};

// 0.42 - 0.5 cos(2 pi k / (n - 1)) + 0.08 cos(4 pi k / (n - 1)); length 1
// gives 1.0 as for HammingWindow.
class BlackmanWindow : public Window<float> {
 public:
  BlackmanWindow(unsigned n, bool half) : Window<float>(heldCount(n, half)) {
    for (unsigned k = 0; k < size; ++k) {
      if (n == 1) {
        data[k] = 1.0f;
        continue;
      }
      const double phase = vmtl::detail::cosinePhase(k, n);
      data[k] = static_cast<float>(0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase));
    }
  }
};
