#pragma once
// The small filters of the time-domain modules: the DC blocker, the FIR and IIR
// filter templates (transposed direct form) and the second-order section
// design used by the filter module.
//
// Coefficients and states are stored in the element type; every sample is
// computed in double precision. States live in the filter object and are
// never reset, so consecutive frames are filtered as one continuous signal.

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "metadata/sources/vmtl/base_vector.h"

// y[n] = g (x[n] - x[n-1]) + a y[n-1] with a = 1 - 2^-6 and g = (1 + a) / 2:
// a first-order high-pass whose gain at half the sampling rate is 1.
class DcBlocker {
 public:
  // One sample; the state carries on to the next call.
  float process(float x) {
    const float y = static_cast<float>(static_cast<double>(g) * x + state);
    state = static_cast<float>(static_cast<double>(a) * y + static_cast<double>(h) * x);
    return y;
  }

  // n samples from in to out; in and out may be the same array.
  void process(const float* in, float* out, unsigned n) {
    for (unsigned i = 0; i < n; ++i) out[i] = process(in[i]);
  }

 private:
  static constexpr float a = 1.0f - 1.0f / 64.0f;
  static constexpr float g = (1.0f + a) / 2.0f;
  static constexpr float h = -(1.0f + a) / 2.0f;
  float state = 0.0f;
};

template <typename T>
class Filter {
 public:
  Filter() = default;
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;
  virtual ~Filter() = default;

  // Filters x in place; returns its length.
  virtual unsigned filterInPlace(BaseVector<T>& x) {
    filter(x, x);
    return x.size;
  }

  // The filtered signal as a new vector.
  virtual HeapVector<T> filter(const BaseVector<T>& in) {
    HeapVector<T> out(in.size);
    filter(in, out);
    return out;
  }

  // Filters in into out, which must have in's length; in and out may be the
  // same vector.
  virtual void filter(const BaseVector<T>& in, BaseVector<T>& out) = 0;

 protected:
  static void requireEqualLength(const BaseVector<T>& in, const BaseVector<T>& out) {
    if (in.size != out.size) throw std::length_error("Filter::filter() unequal vector size");
  }

  HeapVector<T> state;
};

template <typename T>
class FIRFilter : public Filter<T> {
 public:
  using Filter<T>::filter;

  // b: the numerator, b[0] first. The state holds b.size - 1 values.
  explicit FIRFilter(const BaseVector<T>& b) : b(b) {
    this->state.resize(b.size > 0 ? b.size - 1 : 0);
    std::fill(this->state.begin(), this->state.end(), T(0));
  }

  void filter(const BaseVector<T>& in, BaseVector<T>& out) override {
    this->requireEqualLength(in, out);
    const unsigned n = b.size;
    T* s = this->state.data;
    for (unsigned i = 0; i < in.size; ++i) {
      const double x = in[i];
      if (n == 0) {
        out[i] = T(0);
        continue;
      }
      const T y = static_cast<T>(b[0] * x + (n > 1 ? static_cast<double>(s[0]) : 0.0));
      for (unsigned k = 1; k + 1 < n; ++k) s[k - 1] = static_cast<T>(b[k] * x + s[k]);
      if (n > 1) s[n - 2] = static_cast<T>(b[n - 1] * x);
      out[i] = y;
    }
  }

 protected:
  HeapVector<T> b;
};

template <typename T>
class IIRFilter : public FIRFilter<T> {
 public:
  using Filter<T>::filter;

  // a: the denominator, a[0] first; b: the numerator. a[0] is expected to be
  // 1 and is not divided out: another value is only reported. The state holds
  // max(a.size, b.size) - 1 values; coefficients past the end of the shorter
  // vector count as 0.
  IIRFilter(const BaseVector<T>& a, const BaseVector<T>& b) : FIRFilter<T>(b), a(a) {
    if (a.size == 0 || a[0] != T(1)) std::printf("WARNING: %s\n", "a0 not equal 1");
    const unsigned order = std::max(a.size, b.size);
    const unsigned stateLength = order > 0 ? order - 1 : 0;
    this->state.resize(stateLength);
    std::fill(this->state.begin(), this->state.end(), T(0));
    paddedA.resize(stateLength + 1);
    paddedB.resize(stateLength + 1);
    for (unsigned k = 0; k <= stateLength; ++k) {
      paddedA[k] = k < a.size ? a[k] : T(0);
      paddedB[k] = k < b.size ? b[k] : T(0);
    }
  }

  void filter(const BaseVector<T>& in, BaseVector<T>& out) override {
    this->requireEqualLength(in, out);
    const unsigned order = this->state.size;
    T* s = this->state.data;
    const T* ca = paddedA.data;
    const T* cb = paddedB.data;
    for (unsigned i = 0; i < in.size; ++i) {
      const double x = in[i];
      if (order == 0) {
        out[i] = static_cast<T>(cb[0] * x);
        continue;
      }
      const T y = static_cast<T>(cb[0] * x + s[0]);
      const double yd = y;
      for (unsigned k = 1; k < order; ++k) s[k - 1] = static_cast<T>(-ca[k] * yd + cb[k] * x + s[k]);
      s[order - 1] = static_cast<T>(-ca[order] * yd + cb[order] * x);
      out[i] = y;
    }
  }

 private:
  HeapVector<T> a;
  // a and b extended with zeros to the filter's order + 1 coefficients, so
  // that the per-sample loop needs no bounds tests.
  HeapVector<T> paddedA;
  HeapVector<T> paddedB;
};

// The one section type the design knows; other types leave the coefficients
// as they are.
inline constexpr int kDesignedSectionType = 6;

// The working values of the design and its result, b = (b0, b1, b2) and
// a = (a0, a1, a2). A fresh section passes the signal unchanged.
struct SecondOrderSection {
  double sqrt2 = 1.4142135623730951;
  double K = 1.0;
  double K2 = 1.0;
  double n = 1.0;
  double b0 = 1.0, b1 = 0.0, b2 = 0.0;
  double a0 = 1.0, a1 = 0.0, a2 = 0.0;
};

// Designs a second-order high-pass (highpass true) or low-pass section with
// cut-off fc for the sampling rate fs by the bilinear transform with a
// pre-warped frequency.
void designSecondOrderSection(SecondOrderSection& section, double fc, double fs, int type, bool highpass);
