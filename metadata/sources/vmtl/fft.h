#pragma once
// Fast Fourier transforms: the mixed-radix complex FFT, its form for interleaved
// complex data, and the real FFT of even length with a packed half spectrum.
//
// Which lengths the complex FFT takes follows Singleton's mixed-radix rules: the
// length is split into square factors, recorded in pairs placed symmetrically
// around its square-free rest. Lengths with more than 11 factors, an odd factor
// above 23 or a square-free rest above 210 are refused with the result 0.
//
// The work itself runs as decimation-in-frequency passes over the prime digits
// of the length (a radix-4 pass stands for two binary digits and stores its
// outputs in bit-reversed order, so the passes leave every digit reversed),
// followed by an in-place digit reversal: exchanges between the mirrored outer
// digits and cycles of at most 210 blocks for the square-free rest. For powers
// of two the last pass does the reversal on its way. Twiddle factors come from
// double-precision recurrences seeded once per transform, so a transform needs
// no table and never allocates. Two complex values are handled side by side, in
// SSE2 registers where the target has them.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if !defined(KIVET_FFT_PORTABLE) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define KIVET_FFT_SSE2 1
#include <emmintrin.h>
#endif

// The butterflies must be inlined into the pass loops to keep their values in
// registers.
#if defined(__GNUC__)
#define KIVET_FFT_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define KIVET_FFT_INLINE __forceinline
#else
#define KIVET_FFT_INLINE inline
#endif

namespace vmtl {
namespace fft_detail {

constexpr int kMaxFactors = 11;
constexpr int kMaxOddFactor = 23;
constexpr int kMaxUnpairedProduct = 210;
// Every factor is a prime or 4, which counts as two binary digits.
constexpr int kMaxDigits = 2 * kMaxFactors;
// Outer digit groups up to this size reverse through a table on the stack.
constexpr size_t kReversalTableSize = 256;
constexpr double kTwoPi = 6.283185307179586476925286766559;

// ---------------------------------------------------------------------------
// Two complex floats side by side (re0, im0, re1, im1): the unit every pass
// works in, so interleaved data is used as it lies in memory.

#ifdef KIVET_FFT_SSE2

struct CVec2 {
  __m128 v;
};

inline CVec2 operator+(CVec2 a, CVec2 b) { return {_mm_add_ps(a.v, b.v)}; }
inline CVec2 operator-(CVec2 a, CVec2 b) { return {_mm_sub_ps(a.v, b.v)}; }
inline CVec2 operator*(CVec2 a, float s) { return {_mm_mul_ps(a.v, _mm_set1_ps(s))}; }
inline CVec2 operator*(CVec2 a, CVec2 b) { return {_mm_mul_ps(a.v, b.v)}; }
inline CVec2 splat(float s) { return {_mm_set1_ps(s)}; }
inline CVec2 swapReIm(CVec2 a) { return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(2, 3, 0, 1))}; }
inline CVec2 swapHalves(CVec2 a) { return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(1, 0, 3, 2))}; }
inline CVec2 flipSigns(CVec2 a, CVec2 mask) { return {_mm_xor_ps(a.v, mask.v)}; }
// (a.low, b.low), (a.high, b.high) and (a.low, b.high).
inline CVec2 lowHalves(CVec2 a, CVec2 b) { return {_mm_movelh_ps(a.v, b.v)}; }
inline CVec2 highHalves(CVec2 a, CVec2 b) { return {_mm_movehl_ps(b.v, a.v)}; }
inline CVec2 lowHigh(CVec2 a, CVec2 b) { return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(3, 2, 1, 0))}; }
// Sign masks: -0.0 in the lanes to negate.
inline CVec2 imagSignMask() { return {_mm_set_ps(-0.0f, 0.0f, -0.0f, 0.0f)}; }
inline CVec2 realSignMask() { return {_mm_set_ps(0.0f, -0.0f, 0.0f, -0.0f)}; }

inline CVec2 loadPair(const float* p) { return {_mm_loadu_ps(p)}; }
inline CVec2 loadSplit(const float* p0, const float* p1) {
  const __m128 low = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p0));
  return {_mm_loadh_pi(low, reinterpret_cast<const __m64*>(p1))};
}
inline CVec2 loadOne(const float* p) {
  return {_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p))};
}
inline void storePair(float* p, CVec2 a) { _mm_storeu_ps(p, a.v); }
inline void storeSplit(float* p0, float* p1, CVec2 a) {
  _mm_storel_pi(reinterpret_cast<__m64*>(p0), a.v);
  _mm_storeh_pi(reinterpret_cast<__m64*>(p1), a.v);
}
inline void storeOne(float* p, CVec2 a) { _mm_storel_pi(reinterpret_cast<__m64*>(p), a.v); }
inline CVec2 makeCVec2(float re0, float im0, float re1, float im1) { return {_mm_set_ps(im1, re1, im0, re0)}; }
inline void splitCVec2(CVec2 a, float* out) { _mm_storeu_ps(out, a.v); }

#else

struct CVec2 {
  float v[4];
};

inline CVec2 operator+(CVec2 a, CVec2 b) {
  for (int i = 0; i < 4; ++i) a.v[i] += b.v[i];
  return a;
}
inline CVec2 operator-(CVec2 a, CVec2 b) {
  for (int i = 0; i < 4; ++i) a.v[i] -= b.v[i];
  return a;
}
inline CVec2 operator*(CVec2 a, float s) {
  for (int i = 0; i < 4; ++i) a.v[i] *= s;
  return a;
}
inline CVec2 operator*(CVec2 a, CVec2 b) {
  for (int i = 0; i < 4; ++i) a.v[i] *= b.v[i];
  return a;
}
inline CVec2 splat(float s) { return {{s, s, s, s}}; }
inline CVec2 swapReIm(CVec2 a) { return {{a.v[1], a.v[0], a.v[3], a.v[2]}}; }
inline CVec2 swapHalves(CVec2 a) { return {{a.v[2], a.v[3], a.v[0], a.v[1]}}; }
inline CVec2 flipSigns(CVec2 a, CVec2 mask) {
  // A mask lane holds -0.0 where the sign flips.
  for (int i = 0; i < 4; ++i)
    if (std::signbit(mask.v[i])) a.v[i] = -a.v[i];
  return a;
}
inline CVec2 lowHalves(CVec2 a, CVec2 b) { return {{a.v[0], a.v[1], b.v[0], b.v[1]}}; }
inline CVec2 highHalves(CVec2 a, CVec2 b) { return {{a.v[2], a.v[3], b.v[2], b.v[3]}}; }
inline CVec2 lowHigh(CVec2 a, CVec2 b) { return {{a.v[0], a.v[1], b.v[2], b.v[3]}}; }
inline CVec2 imagSignMask() { return {{0.0f, -0.0f, 0.0f, -0.0f}}; }
inline CVec2 realSignMask() { return {{-0.0f, 0.0f, -0.0f, 0.0f}}; }

inline CVec2 loadPair(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
inline CVec2 loadSplit(const float* p0, const float* p1) { return {{p0[0], p0[1], p1[0], p1[1]}}; }
inline CVec2 loadOne(const float* p) { return {{p[0], p[1], 0.0f, 0.0f}}; }
inline void storePair(float* p, CVec2 a) { std::memcpy(p, a.v, sizeof a.v); }
inline void storeSplit(float* p0, float* p1, CVec2 a) {
  p0[0] = a.v[0];
  p0[1] = a.v[1];
  p1[0] = a.v[2];
  p1[1] = a.v[3];
}
inline void storeOne(float* p, CVec2 a) {
  p[0] = a.v[0];
  p[1] = a.v[1];
}
inline CVec2 makeCVec2(float re0, float im0, float re1, float im1) { return {{re0, im0, re1, im1}}; }
inline void splitCVec2(CVec2 a, float* out) { std::memcpy(out, a.v, sizeof a.v); }

#endif

// Multiplication by e^(sign·iπ/2): i·z for sign +1, -i·z for sign -1.
struct Rotation {
  explicit Rotation(int sign) : mask(sign > 0 ? realSignMask() : imagSignMask()) {}
  CVec2 operator()(CVec2 a) const { return flipSigns(swapReIm(a), mask); }
  CVec2 mask;
};

// A pair of complex factors, spread for multiplying a CVec2 lane by lane:
// (re0, re0, re1, re1) and (-im0, im0, -im1, im1).
struct Twiddle {
  CVec2 re;
  CVec2 im;
};

inline Twiddle makeTwiddle(float re0, float im0, float re1, float im1) {
  return {makeCVec2(re0, re0, re1, re1), makeCVec2(-im0, im0, -im1, im1)};
}

inline CVec2 multiply(CVec2 a, const Twiddle& t) {
#ifdef KIVET_FFT_SSE2
  return {_mm_add_ps(_mm_mul_ps(a.v, t.re.v), _mm_mul_ps(swapReIm(a).v, t.im.v))};
#else
  const CVec2 s = swapReIm(a);
  CVec2 r;
  for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] * t.re.v[i] + s.v[i] * t.im.v[i];
  return r;
#endif
}

// ---------------------------------------------------------------------------
// Double-precision complex numbers for twiddle recurrences.

struct Complex64 {
  double re;
  double im;
};

inline Complex64 operator*(Complex64 a, Complex64 b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

inline Complex64 power(Complex64 w, int p) {
  Complex64 r{1.0, 0.0};
  for (int i = 0; i < p; ++i) r = r * w;
  return r;
}

// ---------------------------------------------------------------------------
// Factoring.

// The digits of an accepted length, most significant first: the digits of the
// square factors, the square-free rest, then the square factors' digits again
// in reverse order.
struct Layout {
  int digits[kMaxDigits];
  int digitCount = 0;
  int outerCount = 0;  // digits in each of the two mirrored groups
  size_t outerSize = 1;
  size_t middleSize = 1;
};

// Applies the factoring rules to n; false when n cannot be transformed.
inline bool factorLength(int n, Layout& layout) {
  if (n < 2) return false;
  // More factors than any int has: the count is checked once they are known.
  int paired[32];
  int pairedCount = 0;
  int unpaired[32];
  int unpairedCount = 0;
  int k = n;
  while (k % 16 == 0) {
    paired[pairedCount++] = 4;
    k /= 16;
  }
  // A square of a prime above the largest odd factor would be refused anyway.
  for (int j = 3; j <= kMaxOddFactor && j <= k / j; j += 2) {
    while (k % (j * j) == 0) {
      paired[pairedCount++] = j;
      k /= j * j;
    }
  }
  if (k <= 4) {
    if (k != 1) unpaired[unpairedCount++] = k;
  } else {
    if (k % 4 == 0) {
      paired[pairedCount++] = 2;
      k /= 4;
    }
    for (int j = 2; k > 1; j = (j == 2) ? 3 : j + 2) {
      // Whatever is left beyond the largest odd factor is refused: every
      // prime that remains is at least j.
      if (j > kMaxOddFactor) return false;
      if (k % j == 0) {
        unpaired[unpairedCount++] = j;
        k /= j;
      }
    }
  }
  if (2 * pairedCount + unpairedCount > kMaxFactors) return false;
  int product = 1;
  for (int i = 0; i < unpairedCount; ++i) product *= unpaired[i];
  if (product > kMaxUnpairedProduct) return false;

  layout = Layout();
  auto addFactor = [&layout](int f) {
    if (f == 4) {
      layout.digits[layout.digitCount++] = 2;
      layout.digits[layout.digitCount++] = 2;
    } else {
      layout.digits[layout.digitCount++] = f;
    }
  };
  for (int i = 0; i < pairedCount; ++i) addFactor(paired[i]);
  for (int i = 0; i < unpairedCount; ++i) addFactor(unpaired[i]);
  for (int i = pairedCount - 1; i >= 0; --i) addFactor(paired[i]);
  // The mirrored outer groups reach as far as the digits read the same from
  // both ends (at least the square factors): the reversal of the digits in
  // between is then a permutation of at most 210 blocks, and none at all when
  // at most one digit is left there.
  const int count = layout.digitCount;
  while (2 * (layout.outerCount + 1) <= count &&
         layout.digits[layout.outerCount] == layout.digits[count - 1 - layout.outerCount]) {
    layout.outerSize *= static_cast<size_t>(layout.digits[layout.outerCount]);
    ++layout.outerCount;
  }
  for (int i = layout.outerCount; i < count - layout.outerCount; ++i)
    layout.middleSize *= static_cast<size_t>(layout.digits[i]);
  return true;
}

// The radices of the passes. Runs of binary digits go two at a time (radix 4),
// a lone digit of an odd run first (radix 2); the last pass of a length that
// ends in binary digits is then a radix-4 pass, which can take the digit
// reversal along.
inline int passRadices(const Layout& layout, int* radices) {
  int count = 0;
  int i = 0;
  while (i < layout.digitCount) {
    if (layout.digits[i] != 2) {
      radices[count++] = layout.digits[i++];
      continue;
    }
    int run = 0;
    while (i + run < layout.digitCount && layout.digits[i + run] == 2) ++run;
    i += run;
    if (run % 2 == 1) radices[count++] = 2;
    for (int r = 0; r < run / 2; ++r) radices[count++] = 4;
  }
  return count;
}

// ---------------------------------------------------------------------------
// Element access. A transform line is a sequence of complex elements; these
// views read and write them one or two at a time.

// Elements interleaved without gaps: element i at p[2i], p[2i + 1].
struct Interleaved {
  float* p;

  CVec2 pair(size_t i) const { return loadPair(p + 2 * i); }
  CVec2 two(size_t i, size_t j) const { return loadSplit(p + 2 * i, p + 2 * j); }
  CVec2 one(size_t i) const { return loadOne(p + 2 * i); }
  void setPair(size_t i, CVec2 a) const { storePair(p + 2 * i, a); }
  void setTwo(size_t i, size_t j, CVec2 a) const { storeSplit(p + 2 * i, p + 2 * j, a); }
  void setOne(size_t i, CVec2 a) const { storeOne(p + 2 * i, a); }
  void swap(size_t i, size_t j) const {
    float a[2];
    std::memcpy(a, p + 2 * i, sizeof a);
    std::memcpy(p + 2 * i, p + 2 * j, sizeof a);
    std::memcpy(p + 2 * j, a, sizeof a);
  }
  void get(size_t i, float* c) const { std::memcpy(c, p + 2 * i, 2 * sizeof(float)); }
  void set(size_t i, const float* c) const { std::memcpy(p + 2 * i, c, 2 * sizeof(float)); }
};

// Real and imaginary parts in two arrays read with a common stride.
struct Strided {
  float* re;
  float* im;
  size_t stride;

  CVec2 two(size_t i, size_t j) const {
    return makeCVec2(re[i * stride], im[i * stride], re[j * stride], im[j * stride]);
  }
  CVec2 pair(size_t i) const { return two(i, i + 1); }
  CVec2 one(size_t i) const { return makeCVec2(re[i * stride], im[i * stride], 0.0f, 0.0f); }
  void setTwo(size_t i, size_t j, CVec2 a) const {
    float v[4];
    splitCVec2(a, v);
    re[i * stride] = v[0];
    im[i * stride] = v[1];
    re[j * stride] = v[2];
    im[j * stride] = v[3];
  }
  void setPair(size_t i, CVec2 a) const { setTwo(i, i + 1, a); }
  void setOne(size_t i, CVec2 a) const {
    float v[4];
    splitCVec2(a, v);
    re[i * stride] = v[0];
    im[i * stride] = v[1];
  }
  void swap(size_t i, size_t j) const {
    const float r = re[i * stride];
    const float m = im[i * stride];
    re[i * stride] = re[j * stride];
    im[i * stride] = im[j * stride];
    re[j * stride] = r;
    im[j * stride] = m;
  }
  void get(size_t i, float* c) const {
    c[0] = re[i * stride];
    c[1] = im[i * stride];
  }
  void set(size_t i, const float* c) const {
    re[i * stride] = c[0];
    im[i * stride] = c[1];
  }
};

// ---------------------------------------------------------------------------
// Butterflies. Each turns the p inputs x[j] = element k + j·m of a block into
// y[f] = Σj x[j]·e^(sign·2πi·jf/p), in place, f in natural order.

struct Radix2 {
  static constexpr int radix = 2;
  KIVET_FFT_INLINE void operator()(CVec2* x) const {
    const CVec2 a = x[0];
    x[0] = a + x[1];
    x[1] = a - x[1];
  }
};

struct Radix3 {
  static constexpr int radix = 3;
  explicit Radix3(int sign) : rot(sign) {}
  KIVET_FFT_INLINE void operator()(CVec2* x) const {
    const float sin120 = 0.8660254037844386f;
    const CVec2 s = x[1] + x[2];
    const CVec2 t = x[0] - s * 0.5f;
    const CVec2 u = rot(x[1] - x[2]) * sin120;
    x[0] = x[0] + s;
    x[1] = t + u;
    x[2] = t - u;
  }
  Rotation rot;
};

struct Radix4 {
  static constexpr int radix = 4;
  explicit Radix4(int sign) : rot(sign) {}
  KIVET_FFT_INLINE void operator()(CVec2* x) const {
    const CVec2 a = x[0] + x[2];
    const CVec2 b = x[0] - x[2];
    const CVec2 c = x[1] + x[3];
    const CVec2 d = rot(x[1] - x[3]);
    x[0] = a + c;
    x[1] = b + d;
    x[2] = a - c;
    x[3] = b - d;
  }
  Rotation rot;
};

struct Radix5 {
  static constexpr int radix = 5;
  explicit Radix5(int sign) : rot(sign) {}
  KIVET_FFT_INLINE void operator()(CVec2* x) const {
    const float sin72 = 0.9510565162951535f;
    const float cos72 = 0.3090169943749474f;
    const float sin144 = 0.5877852522924731f;
    const float cos144 = -0.8090169943749474f;
    const CVec2 s14 = x[1] + x[4];
    const CVec2 d14 = x[1] - x[4];
    const CVec2 s23 = x[2] + x[3];
    const CVec2 d23 = x[2] - x[3];
    const CVec2 ta = x[0] + s14 * cos72 + s23 * cos144;
    const CVec2 tb = x[0] + s14 * cos144 + s23 * cos72;
    const CVec2 ua = rot(d14 * sin72 + d23 * sin144);
    const CVec2 ub = rot(d14 * sin144 - d23 * sin72);
    x[0] = x[0] + s14 + s23;
    x[1] = ta + ua;
    x[4] = ta - ua;
    x[2] = tb + ub;
    x[3] = tb - ub;
  }
  Rotation rot;
};

// Any odd prime up to the largest odd factor, through the symmetric sums and
// differences of inputs j and p - j.
struct RadixOdd {
  RadixOdd(int p, int sign) : radix(p), rot(sign) {
    const Complex64 w{std::cos(kTwoPi / p), std::sin(kTwoPi / p)};
    Complex64 r{1.0, 0.0};
    for (int i = 0; i < p; ++i) {
      cosines[i] = static_cast<float>(r.re);
      sines[i] = static_cast<float>(r.im);
      r = r * w;
    }
  }
  void operator()(CVec2* x) const {
    const int half = radix / 2;
    CVec2 sum[kMaxOddFactor / 2 + 1];
    CVec2 diff[kMaxOddFactor / 2 + 1];
    CVec2 y0 = x[0];
    for (int t = 1; t <= half; ++t) {
      sum[t] = x[t] + x[radix - t];
      diff[t] = x[t] - x[radix - t];
      y0 = y0 + sum[t];
    }
    for (int f = 1; f <= half; ++f) {
      CVec2 a = x[0];
      CVec2 b = diff[1] * sines[f];
      a = a + sum[1] * cosines[f];
      int index = f;
      for (int t = 2; t <= half; ++t) {
        index += f;
        if (index >= radix) index -= radix;
        a = a + sum[t] * cosines[index];
        b = b + diff[t] * sines[index];
      }
      b = rot(b);
      x[f] = a + b;
      x[radix - f] = a - b;
    }
    x[0] = y0;
  }
  int radix;
  Rotation rot;
  float cosines[kMaxOddFactor];
  float sines[kMaxOddFactor];
};

// Where output f of a pass is stored: a radix-4 pass keeps its two binary
// digits in reversed order, like two radix-2 passes would.
inline int outputSlot(int radix, int f) { return radix == 4 ? ((f & 1) << 1) | (f >> 1) : f; }

// Two lane constants c0, c1 spread so that a broadcast base b gives the
// Twiddle of b·c0, b·c1 in four multiplications.
struct LaneConstants {
  CVec2 re;         // (re0, re0, re1, re1)
  CVec2 im;         // (im0, im0, im1, im1)
  CVec2 signedRe;   // (-re0, re0, -re1, re1)
  CVec2 signedIm;   // (-im0, im0, -im1, im1)

  Twiddle times(CVec2 baseRe, CVec2 baseIm) const {
    return {baseRe * re - baseIm * im, baseRe * signedIm + baseIm * signedRe};
  }
};

inline LaneConstants makeLaneConstants(Complex64 c0, Complex64 c1) {
  const float r0 = static_cast<float>(c0.re);
  const float i0 = static_cast<float>(c0.im);
  const float r1 = static_cast<float>(c1.re);
  const float i1 = static_cast<float>(c1.im);
  return {makeCVec2(r0, r0, r1, r1), makeCVec2(i0, i0, i1, i1), makeCVec2(-r0, r0, -r1, r1),
          makeCVec2(-i0, i0, -i1, i1)};
}

// The twiddles of a pass with w = e^(sign·2πi/span): for elements k and k + 1,
// w^(f·k) and w^(f·(k+1)) for every output f of the butterfly. Every 8
// elements a double recurrence gives w^(f·k) exactly; the twiddles in between
// are that base times the rounded lane constants w^(f·l), l = 0 .. 7, so no
// error builds up along a pass. next() takes k = 0, 2, 4, ... in turn.
struct TwiddleSource {
  TwiddleSource(int radix, Complex64 w) : radix(radix) {
    Complex64 wf{1.0, 0.0};
    for (int f = 1; f < radix; ++f) {
      baseRe[f] = splat(1.0f);
      baseIm[f] = splat(0.0f);
      wf = wf * w;
      Complex64 c{1.0, 0.0};
      for (int q = 0; q < 4; ++q) {
        const Complex64 c1 = c * wf;
        lanes[f][q] = makeLaneConstants(c, c1);
        c = c1 * wf;
      }
      base[f] = {1.0, 0.0};
      jump[f] = c;
    }
  }

  KIVET_FFT_INLINE void next(size_t k, Twiddle* twiddle) {
    const size_t q = (k >> 1) & 3;
    if (q == 0) {
      for (int f = 1; f < radix; ++f) {
        baseRe[f] = splat(static_cast<float>(base[f].re));
        baseIm[f] = splat(static_cast<float>(base[f].im));
        base[f] = base[f] * jump[f];
      }
    }
#pragma GCC unroll 8
    for (int f = 1; f < radix; ++f) twiddle[f] = lanes[f][q].times(baseRe[f], baseIm[f]);
  }

  int radix;
  LaneConstants lanes[kMaxOddFactor][4];
  Complex64 base[kMaxOddFactor];
  Complex64 jump[kMaxOddFactor];
  CVec2 baseRe[kMaxOddFactor];
  CVec2 baseIm[kMaxOddFactor];
};

// One decimation-in-frequency pass of the given butterfly over blocks of span
// elements; w = e^(sign·2πi/span).
template <class Access, class Butterfly>
void runPass(Access a, size_t n, size_t span, Complex64 w, const Butterfly& butterfly) {
  const int p = butterfly.radix;
  const size_t m = span / static_cast<size_t>(p);
  CVec2 x[kMaxOddFactor];

  if (m == 1) {  // no twiddles: two blocks at a time
    const size_t blocks = n / span;
    size_t b = 0;
    for (; b + 1 < blocks; b += 2) {
      const size_t s0 = b * span;
      const size_t s1 = s0 + span;
#pragma GCC unroll 8
      for (int j = 0; j < p; ++j) x[j] = a.two(s0 + j, s1 + j);
      butterfly(x);
#pragma GCC unroll 8
      for (int f = 0; f < p; ++f) a.setTwo(s0 + outputSlot(p, f), s1 + outputSlot(p, f), x[f]);
    }
    if (b < blocks) {
      const size_t s0 = b * span;
#pragma GCC unroll 8
      for (int j = 0; j < p; ++j) x[j] = a.one(s0 + j);
      butterfly(x);
#pragma GCC unroll 8
      for (int f = 0; f < p; ++f) a.setOne(s0 + outputSlot(p, f), x[f]);
    }
    return;
  }

  TwiddleSource twiddles(p, w);
  Twiddle twiddle[kMaxOddFactor];
  for (size_t k = 0; k < m; k += 2) {
    twiddles.next(k, twiddle);
    if (k + 1 < m) {
      for (size_t start = k; start < n; start += span) {
#pragma GCC unroll 8
        for (int j = 0; j < p; ++j) x[j] = a.pair(start + j * m);
        butterfly(x);
        a.setPair(start, x[0]);
#pragma GCC unroll 8
        for (int f = 1; f < p; ++f) a.setPair(start + outputSlot(p, f) * m, multiply(x[f], twiddle[f]));
      }
    } else {
      for (size_t start = k; start < n; start += span) {
#pragma GCC unroll 8
        for (int j = 0; j < p; ++j) x[j] = a.one(start + j * m);
        butterfly(x);
        a.setOne(start, x[0]);
#pragma GCC unroll 8
        for (int f = 1; f < p; ++f) a.setOne(start + outputSlot(p, f) * m, multiply(x[f], twiddle[f]));
      }
    }
  }
}

// The first radix-4 pass over a whole line: a single block, so every twiddle
// serves one butterfly only. The twiddles of elements k + m/2 are those of
// element k times e^(sign·iπf/4), which is cheaper to apply than to make.
// m must be a multiple of 4.
template <class Access>
void runFirstRadix4(Access a, size_t n, Complex64 w, const Radix4& butterfly) {
  const float half = 0.70710678118654752f;
  const Rotation& rot = butterfly.rot;
  const size_t m = n / 4;
  const size_t shift = m / 2;
  TwiddleSource twiddles(4, w);
  Twiddle twiddle[4];
  CVec2 x[4];
  for (size_t k = 0; k < shift; k += 2) {
    twiddles.next(k, twiddle);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) x[j] = a.pair(k + j * m);
    butterfly(x);
    a.setPair(k, x[0]);
    a.setPair(k + 2 * m, multiply(x[1], twiddle[1]));
    a.setPair(k + m, multiply(x[2], twiddle[2]));
    a.setPair(k + 3 * m, multiply(x[3], twiddle[3]));

    const size_t k2 = k + shift;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) x[j] = a.pair(k2 + j * m);
    butterfly(x);
    a.setPair(k2, x[0]);
    const CVec2 y1 = multiply(x[1], twiddle[1]);
    const CVec2 y2 = multiply(x[2], twiddle[2]);
    const CVec2 y3 = multiply(x[3], twiddle[3]);
    a.setPair(k2 + 2 * m, (y1 + rot(y1)) * half);
    a.setPair(k2 + m, rot(y2));
    a.setPair(k2 + 3 * m, (rot(y3) - y3) * half);
  }
}

// The last radix-4 pass: blocks of four neighbours, each transformed inside two
// registers.
template <class Access>
void runLastRadix4(Access a, size_t n, const Rotation& rot) {
  for (size_t s = 0; s < n; s += 4) {
    const CVec2 lo = a.pair(s);      // x0, x1
    const CVec2 hi = a.pair(s + 2);  // x2, x3
    const CVec2 sum = lo + hi;       // x0 + x2, x1 + x3
    const CVec2 diff = lo - hi;      // x0 - x2, x1 - x3
    const CVec2 first = lowHalves(sum, diff);
    const CVec2 second = highHalves(sum, diff);
    const CVec2 turned = lowHigh(second, rot(second));
    const CVec2 y01 = first + turned;  // y0, y1
    const CVec2 y23 = first - turned;  // y2, y3
    a.setPair(s, lowHalves(y01, y23));
    a.setPair(s + 2, highHalves(y01, y23));
  }
}

// ---------------------------------------------------------------------------
// Digit reversal.

// Counts 0, 1, 2, ... in the positional system of the outer digits and keeps
// the value whose digits are the same read in reverse order of weight.
struct ReversedCounter {
  int radix[kMaxDigits];
  size_t weight[kMaxDigits];
  int digit[kMaxDigits];
  int count = 0;
  size_t value = 0;

  // Digit t of the counted number has radix d[t], most significant first;
  // reversed it weighs the product of d[0 .. t-1].
  ReversedCounter(const int* d, int digits) {
    size_t w = 1;
    for (int t = 0; t < digits; ++t) {
      weight[digits - 1 - t] = w;
      radix[digits - 1 - t] = d[t];
      w *= static_cast<size_t>(d[t]);
    }
    count = digits;
  }
  // Sets the counted number.
  void start(size_t number) {
    value = 0;
    for (int t = 0; t < count; ++t) {
      digit[t] = static_cast<int>(number % static_cast<size_t>(radix[t]));
      number /= static_cast<size_t>(radix[t]);
      value += static_cast<size_t>(digit[t]) * weight[t];
    }
  }
  // Sets the counted number to that of another counter of the same digits.
  void copyPosition(const ReversedCounter& other) {
    for (int t = 0; t < count; ++t) digit[t] = other.digit[t];
    value = other.value;
  }
  void next() {
    for (int t = 0; t < count; ++t) {
      value += weight[t];
      if (++digit[t] < radix[t]) return;
      digit[t] = 0;
      value -= weight[t] * static_cast<size_t>(radix[t]);
    }
  }
};

// Moves every value from its digit-reversed position to its natural one.
template <class Access>
void reverseDigits(Access a, const Layout& layout) {
  const int outer = layout.outerCount;
  const size_t outerSize = layout.outerSize;
  const size_t middleSize = layout.middleSize;
  const size_t topWeight = outerSize * middleSize;
  const int* d = layout.digits;

  if (outerSize > 1) {
    // A position (top t, middle c, bottom b) holds the value that belongs at
    // (rev' b, c, rev t), where rev reverses the outer digits and rev' undoes
    // that. Written with b = rev u, the values at (t, c, rev u) and
    // (u, c, rev t) trade places: every pair is met once with t < u.
    ReversedCounter top(d, outer);
    top.start(0);
    if (outerSize <= kReversalTableSize) {
      std::uint32_t reversed[kReversalTableSize];
      for (size_t t = 0; t < outerSize; ++t, top.next()) reversed[t] = static_cast<std::uint32_t>(top.value);
      for (size_t t = 0; t + 1 < outerSize; ++t) {
        for (size_t c = 0; c < middleSize; ++c) {
          const size_t row = t * topWeight + c * outerSize;
          const size_t column = c * outerSize + reversed[t];
          for (size_t u = t + 1; u < outerSize; ++u) a.swap(row + reversed[u], u * topWeight + column);
        }
      }
    } else {
      ReversedCounter other(d, outer);
      for (size_t t = 0; t + 1 < outerSize; ++t, top.next()) {
        for (size_t c = 0; c < middleSize; ++c) {
          const size_t row = t * topWeight + c * outerSize;
          const size_t column = c * outerSize + top.value;
          other.copyPosition(top);
          other.next();
          for (size_t u = t + 1; u < outerSize; ++u, other.next()) a.swap(row + other.value, u * topWeight + column);
        }
      }
    }
  }

  if (layout.digitCount - 2 * outer > 1) {
    // The square-free digits are reversed by a permutation of at most 210
    // blocks of outerSize neighbours, followed cycle by cycle.
    const int* md = d + outer;
    const int middleCount = layout.digitCount - 2 * outer;
    int target[kMaxUnpairedProduct];
    for (size_t c = 0; c < middleSize; ++c) {
      size_t rest = c;
      size_t reversed = 0;
      for (int t = middleCount - 1; t >= 0; --t) {
        const size_t digit = rest % static_cast<size_t>(md[t]);
        rest /= static_cast<size_t>(md[t]);
        reversed = reversed * static_cast<size_t>(md[t]) + digit;
      }
      target[c] = static_cast<int>(reversed);
    }
    bool done[kMaxUnpairedProduct] = {};
    for (size_t c0 = 0; c0 < middleSize; ++c0) {
      if (done[c0] || target[c0] == static_cast<int>(c0)) continue;
      for (size_t c = c0; !done[c]; c = static_cast<size_t>(target[c])) done[c] = true;
      for (size_t top = 0; top < outerSize; ++top) {
        for (size_t b = 0; b < outerSize; ++b) {
          const size_t base = top * topWeight + b;
          float carried[2];
          float held[2];
          a.get(base + c0 * outerSize, carried);
          size_t c = c0;
          do {
            c = static_cast<size_t>(target[c]);
            a.get(base + c * outerSize, held);
            a.set(base + c * outerSize, carried);
            carried[0] = held[0];
            carried[1] = held[1];
          } while (c != c0);
        }
      }
    }
  }
}

// The last radix-4 pass fused with the digit reversal, for lengths whose
// digits read the same from both ends and start and end with two binary digits
// (every power of two from 16 on). Position (r, μ, l), with r the two top
// digits, l the two bottom ones and μ the digits between, belongs at
// (rev l, rev μ, rev r). The four blocks (r, μ, 0..3) therefore land, once
// transformed, in the four blocks (0..3, rev μ, ·): tile μ and tile rev μ trade
// their contents, transposed.
template <class Access>
void runLastRadix4Reversing(Access a, size_t n, const Layout& layout, const Rotation& rot) {
  const size_t quarter = n / 4;
  ReversedCounter middle(layout.digits + 2, layout.digitCount - 4);
  middle.start(0);
  CVec2 own[8];
  CVec2 other[8];
  // out[2f], out[2f+1]: the destination block f of the tile at base.
  auto transform = [&](size_t base, CVec2* out) {
    CVec2 y01[4];
    CVec2 y23[4];
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {
      const size_t s = base + r * quarter;
      const CVec2 lo = a.pair(s);
      const CVec2 hi = a.pair(s + 2);
      const CVec2 sum = lo + hi;
      const CVec2 diff = lo - hi;
      const CVec2 first = lowHalves(sum, diff);
      const CVec2 second = highHalves(sum, diff);
      const CVec2 turned = lowHigh(second, rot(second));
      y01[r] = first + turned;
      y23[r] = first - turned;
    }
    // Within a destination block the sources come in the order 0, 2, 1, 3.
    out[0] = lowHalves(y01[0], y01[2]);
    out[1] = lowHalves(y01[1], y01[3]);
    out[2] = highHalves(y01[0], y01[2]);
    out[3] = highHalves(y01[1], y01[3]);
    out[4] = lowHalves(y23[0], y23[2]);
    out[5] = lowHalves(y23[1], y23[3]);
    out[6] = highHalves(y23[0], y23[2]);
    out[7] = highHalves(y23[1], y23[3]);
  };
  auto store = [&](size_t base, const CVec2* out) {
#pragma GCC unroll 4
    for (int f = 0; f < 4; ++f) {
      a.setPair(base + f * quarter, out[2 * f]);
      a.setPair(base + f * quarter + 2, out[2 * f + 1]);
    }
  };
  const size_t tiles = quarter / 4;
  for (size_t mu = 0; mu < tiles; ++mu, middle.next()) {
    const size_t nu = middle.value;
    if (nu < mu) continue;
    transform(4 * mu, own);
    if (nu == mu) {
      store(4 * mu, own);
    } else {
      transform(4 * nu, other);
      store(4 * nu, own);
      store(4 * mu, other);
    }
  }
}

// Whether the last pass and the digit reversal can run fused.
inline bool reversesInLastPass(const Layout& layout, const int* radices, int passes) {
  const int count = layout.digitCount;
  if (count < 4 || radices[passes - 1] != 4 || layout.digits[0] != 2 || layout.digits[1] != 2) return false;
  for (int i = 0; i < count / 2; ++i)
    if (layout.digits[i] != layout.digits[count - 1 - i]) return false;
  return true;
}

// ---------------------------------------------------------------------------

// Transforms one line of n elements in place.
template <class Access>
void transformLine(Access a, size_t n, const Layout& layout, int sign) {
  int radices[kMaxDigits];
  const int passes = passRadices(layout, radices);
  const bool fused = reversesInLastPass(layout, radices, passes);
  Complex64 w{std::cos(kTwoPi / static_cast<double>(n)), sign * std::sin(kTwoPi / static_cast<double>(n))};
  size_t span = n;
  for (int i = 0; i < passes; ++i) {
    const int p = radices[i];
    switch (p) {
      case 2:
        runPass(a, n, span, w, Radix2());
        break;
      case 3:
        runPass(a, n, span, w, Radix3(sign));
        break;
      case 4:
        if (span == n && n % 16 == 0)
          runFirstRadix4(a, n, w, Radix4(sign));
        else if (span != 4)
          runPass(a, n, span, w, Radix4(sign));
        else if (fused)
          runLastRadix4Reversing(a, n, layout, Rotation(sign));
        else
          runLastRadix4(a, n, Rotation(sign));
        break;
      case 5:
        runPass(a, n, span, w, Radix5(sign));
        break;
      default:
        runPass(a, n, span, w, RadixOdd(p, sign));
        break;
    }
    span /= static_cast<size_t>(p);
    w = power(w, p);
  }
  if (!fused) reverseDigits(a, layout);
}

}  // namespace fft_detail
}  // namespace vmtl

// In-place complex FFT of n points of an array of ntot complex values whose
// current dimension spans nspan values (n = nspan = ntot for a single
// transform). re and im are read with the stride abs(isn); isn < 0 transforms
// with e^(-2πi·jk/n), isn > 0 with e^(+2πi·jk/n); no scaling. Returns 1, or 0
// when the length or the layout cannot be handled (the data are then left
// unchanged).
inline int fftMixedRadix(float* re, float* im, int ntot, int n, int nspan, int isn) {
  using namespace vmtl::fft_detail;
  Layout layout;
  if (re == nullptr || im == nullptr || isn == 0 || !factorLength(n, layout)) return 0;
  if (nspan < n || nspan % n != 0 || ntot < nspan || ntot % nspan != 0) return 0;
  const int sign = isn < 0 ? -1 : 1;
  const size_t inc = static_cast<size_t>(isn < 0 ? -static_cast<long long>(isn) : static_cast<long long>(isn));
  const size_t count = static_cast<size_t>(n);
  if (ntot == n && inc == 2 && im == re + 1) {
    transformLine(Interleaved{re}, count, layout, sign);
    return 1;
  }
  // Each line of the current dimension: nspan/n neighbouring starts per span.
  const size_t spacing = static_cast<size_t>(nspan / n);
  for (size_t block = 0; block < static_cast<size_t>(ntot); block += static_cast<size_t>(nspan)) {
    for (size_t offset = 0; offset < spacing; ++offset) {
      const size_t first = (block + offset) * inc;
      transformLine(Strided{re + first, im + first, spacing * inc}, count, layout, sign);
    }
  }
  return 1;
}

// FFT of n interleaved complex values (re0, im0, re1, im1, ...): a negative sign
// is the forward transform, a positive one the backward transform; 0 has no
// direction and is refused. No scaling. Returns 1, or 0 when n is refused.
inline int fftComplex(float* data, int n, int sign) {
  if (data == nullptr || sign == 0) return 0;
  return fftMixedRadix(data, data + 1, n, n, n, sign < 0 ? -2 : 2);
}

// The sine table of the real FFT of length n: n/2 + 1 values sin(2πk/n).
// Null for n below 2.
inline float* createSineTable(int n) {
  if (n < 2) return nullptr;
  const int count = n / 2 + 1;
  float* table = new float[static_cast<size_t>(count)];
  for (int k = 0; k < count; ++k)
    table[k] = static_cast<float>(std::sin(vmtl::fft_detail::kTwoPi * k / static_cast<double>(n)));
  return table;
}

inline void deleteSineTable(float* table) { delete[] table; }

namespace vmtl {
namespace fft_detail {

// Combines the half-length transform z into the packed spectrum (forward), or
// splits a packed spectrum into the half-length z it came from (inverse), for
// the pairs (k, h - k), k = 1 .. n/4 (rounded down, so that for n = 2 mod 4 no
// pair is treated twice). With a = z[k], b = z[h - k], s = sin(2πk/n) and
// c = cos(2πk/n), from angles(k, s, c):
//   e = a + conj(b), d = a - conj(b), t = d·(s + i·c) forward, d·(s - i·c) inverse
//   new z[k] = (e - t)·scale, new z[h - k] = conj(e + t)·scale.
// Both values of a pair are read before either is written.
template <class Angles>
void combineHalves(float* x, size_t n, bool inverse, float scale, Angles angles) {
  const size_t h = n / 2;
  const size_t last = n / 4;
  const CVec2 mask = imagSignMask();
  size_t k = 1;
  // Two pairs at a time while the mirrored pairs do not meet.
  for (; 2 * k + 2 < h; k += 2) {
    const CVec2 a = loadPair(x + 2 * k);                       // z[k], z[k+1]
    const CVec2 b = swapHalves(loadPair(x + 2 * (h - k - 1)));  // z[h-k], z[h-k-1]
    const CVec2 bc = flipSigns(b, mask);
    const CVec2 e = a + bc;
    const CVec2 d = a - bc;
    float s0, c0, s1, c1;
    angles(k, s0, c0);
    angles(k + 1, s1, c1);
    const Twiddle r = inverse ? makeTwiddle(s0, -c0, s1, -c1) : makeTwiddle(s0, c0, s1, c1);
    const CVec2 t = multiply(d, r);
    storePair(x + 2 * k, (e - t) * scale);
    storePair(x + 2 * (h - k - 1), swapHalves(flipSigns(e + t, mask) * scale));
  }
  for (; k <= last; ++k) {
    const CVec2 a = loadOne(x + 2 * k);
    const CVec2 bc = flipSigns(loadOne(x + 2 * (h - k)), mask);
    const CVec2 e = a + bc;
    const CVec2 d = a - bc;
    float s, c;
    angles(k, s, c);
    const Twiddle r = inverse ? makeTwiddle(s, -c, s, -c) : makeTwiddle(s, c, s, c);
    const CVec2 t = multiply(d, r);
    storeOne(x + 2 * k, (e - t) * scale);
    storeOne(x + 2 * (h - k), flipSigns(e + t, mask) * scale);
  }
}

// Angles read from the sine table; the table holds the cosines too when n is a
// multiple of 4.
struct TableAngles {
  const float* table;
  size_t quarter;
  void operator()(size_t k, float& s, float& c) const {
    s = table[k];
    c = table[quarter + k];
  }
};

// For n = 2 mod 4 the cosines fall between the table's entries: both come from
// a double recurrence, filled in order of k.
struct RecurrenceAngles {
  explicit RecurrenceAngles(size_t n) : step{std::cos(kTwoPi / n), std::sin(kTwoPi / n)} {}
  void operator()(size_t k, float& s, float& c) {
    while (position < k) {
      current = current * step;
      ++position;
    }
    s = static_cast<float>(current.im);
    c = static_cast<float>(current.re);
  }
  Complex64 step;
  Complex64 current{1.0, 0.0};
  size_t position = 0;
};

}  // namespace fft_detail
}  // namespace vmtl

// Real FFT of even length n in place. direction -1: n real values become the
// packed spectrum X[0], X[n/2], re X[1], im X[1], ..., re X[n/2-1],
// im X[n/2-1] (no scaling); +1: the packed spectrum becomes the real values,
// scaled by 1/n. sineTable is createSineTable(n). Every even n whose half the
// complex FFT accepts works, n = 2 (mod 4) and n = 2 included. Returns 0 for
// any other direction, an odd or too small n, or a half length the complex FFT
// refuses (x is then left unchanged), else 1.
inline int fftReal(float* x, const float* sineTable, int n, int direction) {
  using namespace vmtl::fft_detail;
  if (direction != -1 && direction != 1) return 0;
  if (n < 2 || n % 2 != 0 || x == nullptr || sineTable == nullptr) return 0;
  const size_t count = static_cast<size_t>(n);
  const size_t h = count / 2;
  // A one-point transform is the identity.
  Layout layout;
  if (h > 1 && !factorLength(static_cast<int>(h), layout)) return 0;
  const bool inverse = direction == 1;
  const float scale = inverse ? 1.0f / static_cast<float>(n) : 0.5f;

  if (!inverse && h > 1) transformLine(Interleaved{x}, h, layout, -1);
  const float r = x[0];
  const float i = x[1];
  if (inverse) {
    x[1] = (r - i) * scale;
    x[0] = (r + i) * scale;
  } else {
    x[0] = r + i;
    x[1] = r - i;
  }
  if (count % 4 == 0)
    combineHalves(x, count, inverse, scale, TableAngles{sineTable, count / 4});
  else
    combineHalves(x, count, inverse, scale, RecurrenceAngles(count));
  if (inverse && h > 1) transformLine(Interleaved{x}, h, layout, 1);
  return 1;
}
