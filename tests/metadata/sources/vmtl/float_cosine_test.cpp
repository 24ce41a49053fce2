#include "metadata/sources/vmtl/float_cosine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kPi = 3.1415927f;

// Distance in float steps.
int64_t stepsApart(float a, float b) {
  int32_t x, y;
  std::memcpy(&x, &a, 4);
  std::memcpy(&y, &b, 4);
  // Map the sign-magnitude patterns onto a line.
  const int64_t lx = x < 0 ? int64_t(INT32_MIN) - x : x;
  const int64_t ly = y < 0 ? int64_t(INT32_MIN) - y : y;
  return lx > ly ? lx - ly : ly - lx;
}

}  // namespace

// Arguments whose cosine glibc does not round to the nearest float, with the
// value glibc's cosf gives on x86-64 with fused multiply-add: two entries of
// the modulation window and DCT of the default configuration, and arguments
// next to a multiple of pi/2, where only a fused reduction keeps the digits.
TEST(FloatCosine, GivesTheReferenceLibrarysRounding) {
  const struct {
    float x;
    float expected;
  } cases[] = {
      {kTwoPi * 106.0f / 127.0f, 0x1.03a5c2p-1f},           // exactly rounded: 0x1.03a5c4p-1
      {11.0f * 5.0f * kPi / 128.0f, 0x1.c0b826p-3f},        // exactly rounded: 0x1.c0b824p-3
      {0x1.709d12p+4f, -0x1.ffffbep-2f},                    // exactly rounded: -0x1.ffffcp-2
      {0x1.1475b6p+4f, -0x1.69eeep-16f},                    // unfused reduction: -0x1.69eedep-16
      {-0x1.1475b8p+4f, -0x1.49eeep-16f},                   // unfused reduction: -0x1.49eedep-16
      {0.0f, 1.0f},
      {0x1p-13f, 1.0f},
      {-0x1p-13f, 1.0f},
  };
  for (const auto& c : cases) EXPECT_EQ(vmtl::floatCosine(c.x), c.expected) << std::hexfloat << c.x;
}

// Within one float step of the cosine computed in double precision, even in
// every quadrant and up to the limit of 120; beyond it the C library answers.
TEST(FloatCosine, AgreesWithTheDoublePrecisionCosine) {
  for (float x = -119.9f; x < 119.9f; x += 0.0137f) {
    const float value = vmtl::floatCosine(x);
    ASSERT_LE(stepsApart(value, static_cast<float>(std::cos(static_cast<double>(x)))), 1) << x;
    ASSERT_EQ(value, vmtl::floatCosine(-x)) << x;
  }
  for (float x : {120.5f, 1000.0f, -5000.25f}) EXPECT_EQ(vmtl::floatCosine(x), std::cos(x)) << x;
  EXPECT_TRUE(std::isnan(vmtl::floatCosine(NAN)));
}
