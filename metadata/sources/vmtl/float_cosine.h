#pragma once
// The single-precision cosine of the modules' tables, the same on every
// platform.
//
// The C libraries differ in the last bit of cosf for a small share of
// arguments (the Windows runtime and glibc round differently, and glibc itself
// rounds differently with and without fused multiply-add), so a table built
// with std::cos would make the features, and so the signatures, depend on the
// platform. floatCosine gives for every |x| below 120 exactly what the
// x86-64 glibc gives on a processor with fused multiply-add, the platform the
// signatures of this system have always been written on: the argument is
// reduced by the nearest multiple of pi/2 in double precision and the sine or
// cosine polynomial of the quadrant is evaluated in double precision, with
// every multiply-add fused. Larger arguments, which no built-in configuration
// uses, fall back to the C library.

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vmtl {

namespace cosine_detail {

// The polynomial coefficients and the signs of one pair of quadrants.
struct Quadrants {
  double c0, c1, c2, c3, c4;  // cosine: c0 + c1 x^2 + ... + c4 x^8
  double s1, s2, s3;          // sine: x + s1 x^3 + s2 x^5 + s3 x^7
};

inline constexpr Quadrants kQuadrants[2] = {
    {0x1p0, -0x1.ffffffd0c621cp-2, 0x1.55553e1068f19p-5, -0x1.6c087e89a359dp-10, 0x1.99343027bf8c3p-16,
     -0x1.555545995a603p-3, 0x1.1107605230bc4p-7, -0x1.994eb3774cf24p-13},
    {-0x1p0, 0x1.ffffffd0c621cp-2, -0x1.55553e1068f19p-5, 0x1.6c087e89a359dp-10, -0x1.99343027bf8c3p-16,
     -0x1.555545995a603p-3, 0x1.1107605230bc4p-7, -0x1.994eb3774cf24p-13}};
inline constexpr double kSigns[4] = {1.0, -1.0, -1.0, 1.0};
// 2/pi scaled by 2^24, so that rounding to the nearest quadrant is an integer
// shift; pi/2.
inline constexpr double kScaledInversePiHalf = 0x1.45F306DC9C883p+23;
inline constexpr double kPiHalf = 0x1.921FB54442D18p0;

// The exponent and the top mantissa bits of |x|: the ranges are told apart by
// these, not by exact comparison.
inline uint32_t top12(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits >> 20) & 0x7ff;
}

// cos(x) for an even n (odd: sin(x)), x reduced to [-pi/4, pi/4].
inline float polynomial(double x, double x2, const Quadrants& q, int n) {
  if ((n & 1) == 0) {
    const double x3 = x * x2;
    const double s1 = std::fma(x2, q.s3, q.s2);
    const double x7 = x3 * x2;
    const double s = std::fma(x3, q.s1, x);
    return static_cast<float>(std::fma(x7, s1, s));
  }
  const double x4 = x2 * x2;
  const double c2 = std::fma(x2, q.c4, q.c3);
  const double c1 = std::fma(x2, q.c1, q.c0);
  const double x6 = x4 * x2;
  const double c = std::fma(x4, q.c2, c1);
  return static_cast<float>(std::fma(x6, c2, c));
}

}  // namespace cosine_detail

inline float floatCosine(float y) {
  using namespace cosine_detail;
  if (top12(y) < top12(0x1.921FB6p-1f)) {  // |y| below pi/4
    if (top12(y) < top12(0x1p-12f)) return 1.0f;
    const double x = y;
    return polynomial(x, x * x, kQuadrants[0], 1);
  }
  if (!(top12(y) < top12(120.0f))) return std::cos(y);
  const double r = static_cast<double>(y) * kScaledInversePiHalf;
  const int n = (static_cast<int32_t>(r) + 0x800000) >> 24;
  const double x = std::fma(-static_cast<double>(n), kPiHalf, static_cast<double>(y));
  const double s = kSigns[n & 3];
  return polynomial(x * s, x * x, kQuadrants[(n & 2) != 0], n ^ 1);
}

}  // namespace vmtl
