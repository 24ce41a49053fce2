#include "signature/quant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"

namespace {

const double kPi = std::acos(-1.0);

unsigned char codeOf(const CQuant& q, float x) {
  unsigned char code = 0xAA;
  q.quantize(&code, &x, 1);
  return code;
}

float valueOf(const CQuant& q, unsigned char code) {
  float value = -12345.0f;
  q.dequantize(&value, &code, 1);
  return value;
}

template <typename Call>
void expectStandardException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected StandardException " << message;
  } catch (const StandardException& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

template <typename Call>
void expectStringException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected std::string " << message;
  } catch (const std::string& e) {
    EXPECT_EQ(e, message);
  }
}

// Every code restores a value that quantizes back to the same code.
void expectRoundTrip(const CQuant& q) {
  for (int c = 0; c < q.getSteps() && c < 256; ++c)
    EXPECT_EQ(codeOf(q, valueOf(q, static_cast<unsigned char>(c))), c) << "code " << c;
}

}  // namespace

TEST(QuantTest, LinearCodesAndRestoredValues) {
  const CQuant q(0.0f, 1.0f, 256, false);
  EXPECT_EQ(codeOf(q, 0.5f), 128);
  EXPECT_EQ(valueOf(q, 128), 0.501953125f);
  EXPECT_EQ(codeOf(q, 1.0f), 255);
  EXPECT_EQ(codeOf(q, 7.0f), 255);
  EXPECT_EQ(codeOf(q, 0.0f), 0);
  EXPECT_EQ(codeOf(q, -3.0f), 0);
  EXPECT_EQ(valueOf(q, 0), 0.001953125f);
  expectRoundTrip(q);

  const CQuant flagged(0.0f, 1.0f, 256, true);
  EXPECT_EQ(flagged.getStepWidth(), 1.0f / 255.0f);
  EXPECT_EQ(valueOf(flagged, 0), 0.0f);
  EXPECT_EQ(codeOf(flagged, 0.5f), 127);
  EXPECT_EQ(codeOf(flagged, 1.0f), 255);
  expectRoundTrip(flagged);

  // Independent computation over a sweep, away from code boundaries.
  const CQuant wide(-2.0f, 6.0f, 100, false);
  for (int k = 1; k < 1000; ++k) {
    const float x = -2.0f + 8.0f * k / 1000.0f;
    const double exact = (static_cast<double>(x) + 2.0) / 8.0 * 100.0;
    if (std::fabs(exact - std::round(exact)) < 1e-3) continue;
    EXPECT_EQ(codeOf(wide, x), static_cast<int>(std::floor(exact))) << x;
  }
}

TEST(QuantTest, ConstructionChecks) {
  expectStandardException([] { CQuant(1.0f, 1.0f, 4, false); }, "Quant: max<minval");
  expectStandardException([] { CQuant(2.0f, 1.0f, 4, false); }, "Quant: max<minval");
  expectStandardException([] { CQuant(0.0f, 1.0f, 0, false); }, "Quant: steps<1");
  expectStandardException([] { CQuant_log(0.0f, 1.0f, -5, false); }, "Quant: steps<1");
  expectStandardException([] { CQuant_sin(3.0f, 1.0f, 4, false); }, "Quant: max<minval");
  expectStandardException([] { CQuant_polynomial(1.0f, 1.0f, 4, false, 1.0f, 1.0f); }, "Quant: max<minval");
  const float thresholds[] = {1.0f};
  expectStandardException([&] { CQuant_Individual(thresholds, 0, 0.0f, 1.0f); }, "Quant: steps<1");
  // A NaN bound passes the check.
  EXPECT_NO_THROW(CQuant(0.0f, std::numeric_limits<float>::quiet_NaN(), 4, false));
  EXPECT_NO_THROW(CQuant(0.0f, 1.0f, 1, true));
}

TEST(QuantTest, TopOfRangeNeverWrapsToCodeZero) {
  // x - min and max - min round to the same float: the code must be the top
  // one, not the step count cut to a byte (0).
  const CQuant q(-1.0f, 1e-8f, 256, false);
  EXPECT_EQ(codeOf(q, 5e-9f), 255);
  // Step counts above one byte saturate at the top byte code.
  const CQuant many(0.0f, 1.0f, 1000, false);
  EXPECT_EQ(codeOf(many, 0.9f), 255);
  EXPECT_EQ(codeOf(many, 2.0f), 255);
  EXPECT_EQ(codeOf(many, 0.1005f), 100);
}

TEST(QuantTest, NaNValuesGetCodeZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(codeOf(CQuant(0.0f, 1.0f, 256, false), nan), 0);
  EXPECT_EQ(codeOf(CQuant_log(-9.0f, -1.0f, 256, false), nan), 0);
  EXPECT_EQ(codeOf(CQuant_sin(0.0f, 1.0f, 256, false), nan), 0);
  EXPECT_EQ(codeOf(CQuant_polynomial(0.0f, 1.0f, 256, false, 1.0f, 1.0f), nan), 0);
}

TEST(QuantTest, LogarithmicCodesAndRestoredValues) {
  const CQuant_log q(-9.0f, -1.0f, 256, false);
  EXPECT_EQ(codeOf(q, 0.1f), 255);
  EXPECT_EQ(codeOf(q, 3.0f), 255);
  EXPECT_EQ(codeOf(q, 1e-9f), 0);
  EXPECT_EQ(codeOf(q, 1e-12f), 0);
  EXPECT_EQ(codeOf(q, 0.0f), 0);
  EXPECT_EQ(codeOf(q, -1.0f), 0);
  EXPECT_NEAR(valueOf(q, 128), std::pow(10.0, -4.984375), 1e-6 * std::pow(10.0, -4.984375));
  // 10^-5 lies at (−5 + 9) / 8 · 256 = 128 steps: the lower edge of code 128.
  EXPECT_EQ(codeOf(q, 1.001e-5f), 128);
  EXPECT_EQ(codeOf(q, 0.999e-5f), 127);
  expectRoundTrip(q);

  const CQuant_log flagged(-9.0f, -1.0f, 256, true);
  EXPECT_NEAR(valueOf(flagged, 0), 1e-9, 1e-15);
  expectRoundTrip(flagged);
}

TEST(QuantTest, SineCodesAgainstIndependentComputation) {
  const CQuant_sin q(1.0f, 3.0f, 256, false);
  EXPECT_EQ(codeOf(q, 1.0f), 0);
  EXPECT_EQ(codeOf(q, 3.0f), 255);
  for (int k = 1; k < 500; ++k) {
    const float x = 1.0f + 2.0f * k / 500.0f;
    const double s = std::sin(kPi * (x - 1.0) / 4.0);
    const double exact = 256.0 * s * s;
    if (std::fabs(exact - std::round(exact)) < 1e-3) continue;
    EXPECT_EQ(codeOf(q, x), static_cast<int>(std::floor(exact))) << x;
  }
  for (int c = 0; c < 256; ++c) {
    const double expected = 1.0 + 4.0 / kPi * std::asin(std::sqrt((c + 0.5) / 256.0));
    EXPECT_NEAR(valueOf(q, static_cast<unsigned char>(c)), expected, 1e-5) << c;
  }
  expectRoundTrip(q);
  // The flag only makes code 0 restore min.
  const CQuant_sin flagged(1.0f, 3.0f, 256, true);
  EXPECT_EQ(valueOf(flagged, 0), 1.0f);
  EXPECT_EQ(codeOf(flagged, 2.0f), codeOf(q, 2.0f));
}

TEST(QuantTest, PolynomialShapeChecks) {
  // Slopes 1 and 1: linear.
  const CQuant_polynomial linear(0.0f, 1.0f, 256, false, 1.0f, 1.0f);
  for (int k = 1; k < 1000; ++k) {
    const float x = k / 1000.0f;
    const double exact = 256.0 * x;
    if (std::fabs(exact - std::round(exact)) < 1e-3) continue;
    EXPECT_EQ(codeOf(linear, x), static_cast<int>(std::floor(exact))) << x;
  }
  EXPECT_EQ(linear.getRising1(), 1.0f);
  // A double root of p' at 0.5 is an inflection, not an extremum.
  EXPECT_NO_THROW(CQuant_polynomial(0.0f, 1.0f, 256, false, 3.0f, 3.0f));
  EXPECT_NO_THROW(CQuant_polynomial(0.0f, 1.0f, 256, false, 0.0f, 0.0f));
  expectStringException([] { CQuant_polynomial(0.0f, 1.0f, 256, false, 4.0f, 4.0f); },
                        "polynomial doesn't rise in all points between 0 and 1");
  expectStringException([] { CQuant_polynomial(0.0f, 1.0f, 256, false, -0.5f, 1.0f); },
                        "rising must be greater or equal zero");
  expectStringException([] { CQuant_polynomial(0.0f, 1.0f, 256, false, 1.0f, -0.5f); },
                        "rising must be greater or equal zero");
}

TEST(QuantTest, PolynomialLookupTableAndValues) {
  const double r1 = 0.5, r2 = 2.0;
  const double a3 = r1 + r2 - 2.0, a2 = 1.0 - a3 - r1, a1 = r1;
  const auto p = [&](double t) { return ((a3 * t + a2) * t + a1) * t; };
  const CQuant_polynomial q(10.0f, 20.0f, 16, false, 0.5f, 2.0f);
  EXPECT_EQ(q.getRising1(), 0.5f);
  EXPECT_EQ(q.getRising2(), 2.0f);
  const std::vector<float>& table = q.getLookupTable();
  ASSERT_EQ(table.size(), 17u);
  EXPECT_EQ(table[16], 1.0f);
  // Entry i is the first t on the 0.001 grid with p(t) >= i / 16.
  for (int i = 0; i < 16; ++i) {
    int k = 0;
    while (p(k * 0.001) < i / 16.0) ++k;
    EXPECT_NEAR(table[i], k * 0.001, 0.0011) << i;
  }
  for (int c = 0; c < 16; ++c) {
    const double expected = 10.0 + 10.0 * (table[c] + (table[c + 1] - table[c]) * 0.5);
    EXPECT_NEAR(valueOf(q, static_cast<unsigned char>(c)), expected, 1e-4);
  }
  // Codes against the characteristic, away from code boundaries.
  for (int k = 1; k < 400; ++k) {
    const float x = 10.0f + 10.0f * k / 400.0f;
    const double exact = p((x - 10.0) / 10.0) * 16.0;
    if (std::fabs(exact - std::round(exact)) < 1e-3) continue;
    EXPECT_EQ(codeOf(q, x), static_cast<int>(std::floor(exact))) << x;
  }
}

TEST(QuantTest, PolynomialWithFlagRestoresTopCodeToMax) {
  const CQuant_polynomial q(2.0f, 4.0f, 8, true, 1.0f, 1.0f);
  ASSERT_EQ(q.getLookupTable().size(), 8u);
  EXPECT_EQ(valueOf(q, 0), 2.0f);
  EXPECT_EQ(valueOf(q, 7), 4.0f);
  EXPECT_EQ(codeOf(q, 4.0f), 7);
  EXPECT_EQ(codeOf(q, 3.0f), 3);  // floor(0.5 · 7)
  // One step: the table is just its end entry.
  const CQuant_polynomial single(0.0f, 1.0f, 1, true, 1.0f, 1.0f);
  EXPECT_EQ(valueOf(single, 0), 0.0f);
  EXPECT_EQ(codeOf(single, 0.5f), 0);
}

TEST(QuantTest, IndividualThresholds) {
  const float thresholds[] = {1.0f, 2.0f, 3.0f};
  const CQuant_Individual q(thresholds, 3, 0.0f, 4.0f);
  EXPECT_EQ(q.getSteps(), 3);
  EXPECT_EQ(codeOf(q, 0.5f), 0);
  EXPECT_EQ(codeOf(q, -1.0f), 0);
  EXPECT_EQ(codeOf(q, 1.5f), 1);
  EXPECT_EQ(codeOf(q, 2.0f), 2);
  EXPECT_EQ(codeOf(q, 3.5f), 3);
  EXPECT_EQ(codeOf(q, 5.0f), 3);
  EXPECT_EQ(valueOf(q, 0), 0.0f);
  EXPECT_EQ(valueOf(q, 1), 1.0f);
  EXPECT_EQ(valueOf(q, 2), 2.0f);
  EXPECT_EQ(valueOf(q, 3), 4.0f);
  // No code is out of range for this kind.
  EXPECT_EQ(valueOf(q, 200), 4.0f);
}

TEST(QuantTest, CodeOutOfRangeThrowsMinusThreeAfterEarlierCodes) {
  const CQuant q(0.0f, 1.0f, 4, false);
  const unsigned char codes[] = {1, 2, 7, 0};
  float values[] = {-1.0f, -1.0f, -1.0f, -1.0f};
  try {
    q.dequantize(values, codes, 4);
    ADD_FAILURE() << "expected -3";
  } catch (int code) {
    EXPECT_EQ(code, -3);
  }
  EXPECT_EQ(values[0], 0.375f);
  EXPECT_EQ(values[1], 0.625f);
  EXPECT_EQ(values[2], -1.0f);
  EXPECT_EQ(values[3], -1.0f);

  const unsigned char top = 4;
  float value;
  EXPECT_THROW(CQuant_log(-2.0f, 0.0f, 4, false).dequantize(&value, &top, 1), int);
  EXPECT_THROW(CQuant_sin(0.0f, 1.0f, 4, false).dequantize(&value, &top, 1), int);
  EXPECT_THROW(CQuant_polynomial(0.0f, 1.0f, 4, false, 1.0f, 1.0f).dequantize(&value, &top, 1), int);
}

TEST(QuantTest, FactoriesAndRounding) {
  std::unique_ptr<CQuant> log(newQuantLog(-3.0f, 0.0f, 16, true));
  ASSERT_NE(dynamic_cast<CQuant_log*>(log.get()), nullptr);
  EXPECT_TRUE(log->getFlag());
  std::unique_ptr<CQuant> sine(newQuantSin(0.0f, 1.0f, 16, false));
  EXPECT_NE(dynamic_cast<CQuant_sin*>(sine.get()), nullptr);
  std::unique_ptr<CQuant> poly(newQuantPolynomial(0.0f, 1.0f, 16, false, 0.0f, 2.0f));
  EXPECT_EQ(poly->getRising2(), 2.0f);
  const float thresholds[] = {0.25f, 0.5f};
  std::unique_ptr<CQuant> individual(newQuantIndividual(thresholds, 2, 0.0f, 1.0f));
  EXPECT_EQ(individual->getTable(), std::vector<float>({0.25f, 0.5f}));
  EXPECT_THROW(newQuantLinear(1.0f, 0.0f, 4, false), StandardException);

  std::unique_ptr<CQuant> first(newDefaultQuantLinear(false));
  std::unique_ptr<CQuant> second(newDefaultQuantLinearTenth(true));
  std::unique_ptr<CQuant> third(newDefaultQuantLog(false));
  EXPECT_EQ(first->getMax(), 1.0f);
  EXPECT_EQ(second->getMax(), 0.1f);
  EXPECT_TRUE(second->getFlag());
  ASSERT_NE(dynamic_cast<CQuant_log*>(third.get()), nullptr);
  EXPECT_EQ(third->getMin(), -9.0f);
  EXPECT_EQ(third->getMax(), -1.0f);
  EXPECT_EQ(third->getSteps(), 256);

  EXPECT_EQ(roundHalfUp(0.5f), 1.0f);
  EXPECT_EQ(roundHalfUp(1.49f), 1.0f);
  EXPECT_EQ(roundHalfUp(-0.5f), 0.0f);
  EXPECT_EQ(roundHalfUp(-1.5f), -1.0f);
  EXPECT_EQ(roundHalfUp(-1.51f), -2.0f);
  // The largest float below 0.5 rounds down: 0.49999997 + 0.5 is below 1.
  EXPECT_EQ(roundHalfUp(std::nextafter(0.5f, 0.0f)), 0.0f);
}

TEST(QuantTest, CharacteristicOwnsItsCopy) {
  HeapMatrix<float> source(2, 3, 1.5f);
  const QuantizerCharacteristic characteristic(source);
  source(1, 2) = 9.0f;
  ASSERT_EQ(characteristic.getMatrix().rows, 2u);
  ASSERT_EQ(characteristic.getMatrix().cols, 3u);
  EXPECT_EQ(characteristic.getMatrix()(1, 2), 1.5f);
  EXPECT_NE(characteristic.getMatrix().data, source.data);
}

// The values of the logarithmic kind come from a table made once; each is the
// power of ten of the code's middle, as computed for a single value.
TEST(QuantTest, LogarithmicValuesOfEveryCode) {
  for (const bool flag : {false, true}) {
    const CQuant_log q(-9.0f, -1.0f, 256, flag);
    const double width = flag ? static_cast<double>(8.0f / 255.0f) : 8.0 / 256.0;
    for (int c = 0; c < 256; ++c) {
      const float expected =
          flag && c == 0 ? std::pow(10.0f, -9.0f) : static_cast<float>(std::pow(10.0, -9.0 + (c + 0.5) * width));
      ASSERT_EQ(valueOf(q, static_cast<unsigned char>(c)), expected) << "flag " << flag << " code " << c;
    }
  }
  // Fewer steps: the codes beyond them still throw.
  const CQuant_log few(-2.0f, 0.0f, 4, false);
  EXPECT_EQ(valueOf(few, 3), static_cast<float>(std::pow(10.0, -2.0 + 3.5 * 0.5)));
  EXPECT_THROW(valueOf(few, 4), int);
}
