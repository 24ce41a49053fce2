#include "metadata/sources/vmtl/window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "tests/support/vmtl_expect.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> values(const BaseVector<float>& v) { return std::vector<float>(v.begin(), v.end()); }

// The stored float is the double value rounded, give or take one float step.
void expectCoefficient(float actual, double expected, const char* shape, unsigned n, unsigned k) {
  const float rounded = static_cast<float>(expected);
  EXPECT_TRUE(actual == rounded || actual == std::nextafter(rounded, 2.0f) || actual == std::nextafter(rounded, -2.0f))
      << shape << " n " << n << " k " << k << ": " << actual << " vs " << expected;
}

struct Shape {
  const char* name;
  std::function<std::unique_ptr<Window<float>>(unsigned n, bool half)> make;
  std::function<double(unsigned k, unsigned n)> coefficient;
};

std::vector<Shape> shapes() {
  return {
      {"Hamming", [](unsigned n, bool half) { return std::make_unique<HammingWindow>(n, 0.54, half); },
       [](unsigned k, unsigned n) { return 0.54 - 0.46 * std::cos(2 * kPi * k / (n - 1)); }},
      {"Hamming 0.6", [](unsigned n, bool half) { return std::make_unique<HammingWindow>(n, 0.6, half); },
       [](unsigned k, unsigned n) { return 0.6 - 0.4 * std::cos(2 * kPi * k / (n - 1)); }},
      {"Rectangle", [](unsigned n, bool half) { return std::make_unique<RectangleWindow>(n, half); },
       [](unsigned, unsigned) { return 1.0; }},
      {"Hann", [](unsigned n, bool half) { return std::make_unique<HannWindow>(n, half); },
       [](unsigned k, unsigned n) { return 0.5 * (1 - std::cos(2 * kPi * k / (n - 1))); }},
      {"Sine", [](unsigned n, bool half) { return std::make_unique<SineWindow>(static_cast<int>(n), half); },
       [](unsigned k, unsigned n) { return std::sin(kPi * (k + 0.5) / n); }},
      {"Blackman", [](unsigned n, bool half) { return std::make_unique<BlackmanWindow>(n, half); },
       [](unsigned k, unsigned n) {
         return 0.42 - 0.5 * std::cos(2 * kPi * k / (n - 1)) + 0.08 * std::cos(4 * kPi * k / (n - 1));
       }},
  };
}

TEST(Window, CoefficientsMatchTheFormulasOverManyLengths) {
  std::vector<unsigned> lengths;
  for (unsigned n = 2; n <= 70; ++n) lengths.push_back(n);
  for (unsigned n : {127u, 128u, 256u, 441u, 512u, 882u, 1024u, 2048u, 4096u}) lengths.push_back(n);
  for (const Shape& shape : shapes()) {
    for (unsigned n : lengths) {
      const std::unique_ptr<Window<float>> whole = shape.make(n, false);
      const std::unique_ptr<Window<float>> half = shape.make(n, true);
      ASSERT_EQ(whole->size, n) << shape.name;
      ASSERT_EQ(half->size, (n + 1) / 2) << shape.name << " n " << n;
      for (unsigned k = 0; k < n; ++k) expectCoefficient((*whole)[k], shape.coefficient(k, n), shape.name, n, k);
      // The half is the rising part of the whole window, still computed with the full n.
      for (unsigned k = 0; k < half->size; ++k) EXPECT_EQ((*half)[k], (*whole)[k]) << shape.name << " n " << n;
    }
  }
}

TEST(Window, KnownValues) {
  const HammingWindow hamming(5, 0.54, false);
  const std::vector<float> expected = {0.08f, 0.54f, 1.0f, 0.54f, 0.08f};
  ASSERT_EQ(hamming.size, 5u);
  for (unsigned k = 0; k < 5; ++k) EXPECT_FLOAT_EQ(hamming[k], expected[k]);
  const HammingWindow hammingHalf(5, 0.54, true);
  ASSERT_EQ(hammingHalf.size, 3u);
  for (unsigned k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(hammingHalf[k], expected[k]);

  const HannWindow hann(4, false);
  ASSERT_EQ(hann.size, 4u);
  EXPECT_NEAR(hann[0], 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(hann[1], 0.75f);
  EXPECT_FLOAT_EQ(hann[2], 0.75f);
  EXPECT_NEAR(hann[3], 0.0f, 1e-7);

  const SineWindow sine(2, false);
  EXPECT_EQ(values(sine), (std::vector<float>{static_cast<float>(std::sin(kPi / 4)), static_cast<float>(std::sin(kPi / 4))}));

  const BlackmanWindow blackman(3, false);
  EXPECT_NEAR(blackman[0], 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(blackman[1], 1.0f);

  const RectangleWindow rectangleHalf(7, true);
  EXPECT_EQ(values(rectangleHalf), (std::vector<float>(4, 1.0f)));
}

TEST(Window, LengthOneIsASinglePeakAndLengthZeroIsEmpty) {
  for (const Shape& shape : shapes()) {
    for (bool half : {false, true}) {
      const std::unique_ptr<Window<float>> one = shape.make(1, half);
      ASSERT_EQ(one->size, 1u) << shape.name;
      EXPECT_EQ((*one)[0], 1.0f) << shape.name;
      EXPECT_EQ(shape.make(0, half)->size, 0u) << shape.name;
    }
  }
  EXPECT_EQ(SineWindow(-3, false).size, 0u);
  EXPECT_EQ(SineWindow(-3, true).size, 0u);
}

TEST(Window, ApplyForwardsAndReversed) {
  const HammingWindow whole(6, 0.54, false);
  std::vector<float> in = {1.0f, -2.0f, 3.0f, 0.5f, 4.0f, -1.0f};
  HeapVector<float> input(6);
  std::copy(in.begin(), in.end(), input.begin());

  HeapVector<float> out(8);
  std::fill(out.begin(), out.end(), 9.0f);
  const Window<float>& base = whole;  // through the virtual operations
  base.apply(input, out);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(out[i], in[i] * whole[i]);
  EXPECT_EQ(out[6], 9.0f);  // only the window's length is written

  base.applyReversed(input, out);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(out[i], in[i] * whole[5 - i]);

  HeapVector<float> inout(input);
  base.apply(inout);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(inout[i], in[i] * whole[i]);
  inout = input;
  base.applyReversed(inout);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(inout[i], in[i] * whole[5 - i]);
}

TEST(Window, HalfWindowServesBothEdges) {
  const HannWindow full(7, false);
  const HannWindow half(7, true);
  HeapVector<float> ones(4);
  std::fill(ones.begin(), ones.end(), 1.0f);
  HeapVector<float> rising(4);
  HeapVector<float> falling(4);
  half.apply(ones, rising);
  half.applyReversed(ones, falling);
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(rising[i], full[i]);
    EXPECT_EQ(falling[i], half[3 - i]);
    EXPECT_FLOAT_EQ(falling[i], full[3 + i]);  // the tail of the symmetric window
  }

  const HammingWindow three(5, 0.54, true);
  HeapVector<float> flat(3);
  std::fill(flat.begin(), flat.end(), 1.0f);
  three.applyReversed(flat);
  EXPECT_EQ(values(flat), (std::vector<float>{three[2], three[1], three[0]}));
}

TEST(Window, SizesMustMatch) {
  const BlackmanWindow window(4, false);
  HeapVector<float> five(5);
  std::fill(five.begin(), five.end(), 2.0f);
  HeapVector<float> out(5);
  expectVmtlFailure([&] { window.apply(five); }, "unequal vector size", "window", 90);
  expectVmtlFailure([&] { window.apply(five, out); }, "unequal vector size", "window", 100);
  expectVmtlFailure([&] { window.applyReversed(five); }, "unequal vector size", "window", 110);
  expectVmtlFailure([&] { window.applyReversed(five, out); }, "unequal vector size", "window", 120);
  EXPECT_EQ(values(five), std::vector<float>(5, 2.0f));
}

}  // namespace
