#include "signature/quant.h"

#include <cmath>
#include <new>
#include <string>

#include "metadata/sources/common/standard_exception.h"

namespace {

// π as the float the sine characteristic is defined with.
constexpr float kPi = 3.1415927f;
// 1/π, with which the sine characteristic is inverted.
constexpr double kInversePi = 0.3183098861837907;
// Codes are one byte wide; step counts above 256 saturate at the top code.
constexpr unsigned kTopByteCode = 255;

}  // namespace

// ---------------------------------------------------------------- CQuant

CQuant::CQuant(float min, float max, int steps, bool flag)
    : min(min), max(max), steps(steps), flag(flag ? 1 : 0), stepWidth(0.0f), reciprocalStepWidth(0.0) {
  // Written as "max <= min" so that a NaN bound passes, as it always has.
  if (max <= min) throw StandardException("Quant: max<minval");
  if (steps < 1) throw StandardException("Quant: steps<1");
  stepWidth = flag ? (max - min) / static_cast<float>(steps - 1) : (max - min) / static_cast<float>(steps);
  reciprocalStepWidth = 1.0 / static_cast<double>(stepWidth);
}

CQuant::~CQuant() = default;

float CQuant::getRising1() const { return 1.0f; }
float CQuant::getRising2() const { return 1.0f; }

unsigned char* CQuant::quantize(unsigned char* out, const float* in, unsigned n) const {
  const double reciprocal = reciprocalStepWidth;
  const unsigned char top = topCode();
  for (unsigned i = 0; i < n; ++i) {
    const float x = in[i];
    if (x <= min)
      out[i] = 0;
    else if (x >= max)
      out[i] = top;
    else
      out[i] = codeOf(static_cast<double>(x - min) * reciprocal, top);
  }
  return out;
}

float* CQuant::dequantize(float* out, const unsigned char* in, unsigned n) const {
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char code = in[i];
    checkCode(code);
    if (flag && code == 0)
      out[i] = min;
    else
      out[i] = static_cast<float>(min + (code + 0.5) * stepWidth);
  }
  return out;
}

// ---------------------------------------------------------------- CQuant_log

CQuant_log::CQuant_log(float min, float max, int steps, bool flag)
    : CQuant(min, max, steps, flag), floor(std::pow(10.0f, min)) {}

unsigned char* CQuant_log::quantize(unsigned char* out, const float* in, unsigned n) const {
  const double reciprocal = reciprocalStepWidth;
  const unsigned char top = topCode();
  for (unsigned i = 0; i < n; ++i) {
    const float x = in[i];
    if (x <= floor) {
      out[i] = 0;
      continue;
    }
    const float l = std::log10(x);
    if (l >= max)
      out[i] = top;
    else if (l <= min)
      out[i] = 0;
    else
      out[i] = codeOf(static_cast<double>(l - min) * reciprocal, top);
  }
  return out;
}

float* CQuant_log::dequantize(float* out, const unsigned char* in, unsigned n) const {
  const float* value = codeValues();
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char code = in[i];
    checkCode(code);
    out[i] = value[code];
  }
  return out;
}

const float* CQuant_log::codeValues() const {
  if (!values.empty()) return values.data();
  // Codes at or above the step count are refused before they are looked up.
  values.resize(steps < static_cast<int>(kTopByteCode) + 1 ? static_cast<size_t>(steps) : kTopByteCode + 1);
  for (size_t c = 0; c < values.size(); ++c) {
    const unsigned char code = static_cast<unsigned char>(c);
    values[c] = flag && code == 0 ? floor : static_cast<float>(std::pow(10.0, min + (code + 0.5) * stepWidth));
  }
  return values.data();
}

// ---------------------------------------------------------------- CQuant_sin

CQuant_sin::CQuant_sin(float min, float max, int steps, bool flag) : CQuant(min, max, steps, flag) {}

unsigned char* CQuant_sin::quantize(unsigned char* out, const float* in, unsigned n) const {
  const float halfPeriod = 2.0f * std::fabs(max - min);
  const unsigned char top = topCode();
  for (unsigned i = 0; i < n; ++i) {
    const float x = in[i];
    if (x <= min) {
      out[i] = 0;
    } else if (x >= max) {
      out[i] = top;
    } else {
      const float s = std::sin(kPi * (x - min) / halfPeriod);
      out[i] = codeOf(static_cast<double>(steps) * s * s, top);
    }
  }
  return out;
}

float* CQuant_sin::dequantize(float* out, const unsigned char* in, unsigned n) const {
  const double halfPeriod = 2.0 * std::fabs(max - min);
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char code = in[i];
    checkCode(code);
    if (flag && code == 0)
      out[i] = min;
    else
      out[i] = static_cast<float>(min + halfPeriod * kInversePi * std::asin(std::sqrt((code + 0.5) / steps)));
  }
  return out;
}

// ---------------------------------------------------------------- CQuant_polynomial

CQuant_polynomial::CQuant_polynomial(float min, float max, int steps, bool flag, float rising1, float rising2)
    : CQuant(min, max, steps, flag), rising1(rising1), rising2(rising2) {
  if (rising1 < 0.0f || rising2 < 0.0f) throw std::string("rising must be greater or equal zero");

  a3 = rising1 + rising2 - 2.0f;
  a2 = 1.0f - a3 - rising1;
  a1 = rising1;

  // p must not turn inside (0, 1): an extremum of p there is a root of
  // p'(t) = 3·a3·t² + 2·a2·t + a1 at which p'' = 6·a3·t + 2·a2 is not 0.
  if (a3 != 0.0f) {
    const float d = (2.0f * a2) * (2.0f * a2) - 12.0f * a3 * a1;
    if (d >= 0.0f) {
      const float root = std::sqrt(d);
      float r1 = (root - 2.0f * a2) / (6.0f * a3);
      float r2 = (-2.0f * a2 - root) / (6.0f * a3);
      if (6.0f * a3 * r1 + 2.0f * a2 == 0.0f) r1 = 2.0f;
      if (6.0f * a3 * r2 + 2.0f * a2 == 0.0f) r2 = 2.0f;
      if ((r1 > 0.0f && r1 < 1.0f) || (r2 > 0.0f && r2 < 1.0f))
        throw std::string("polynomial doesn't rise in all points between 0 and 1");
    }
  }

  const unsigned entries = static_cast<unsigned>(flag ? steps - 1 : steps);
  // Codes are one byte, so dequantizing reads no entry beyond kTopByteCode + 1:
  // a step count from a stored quantizer block (up to 65535) must not cost a
  // table of that size. The entries kept are filled exactly as in the full table.
  lookup.assign(static_cast<size_t>(entries < kTopByteCode + 1 ? entries : kTopByteCode + 1) + 1, 0.0f);
  if (entries < lookup.size()) lookup[entries] = 1.0f;
  if (entries == 0) return;
  unsigned next = 0;
  float t = 0.0f;
  for (int k = 0; k < 1000; ++k) {
    // The bound keeps the table's own size even if rounding lifts p(t) to 1
    // before t reaches 1.
    if (next < lookup.size() && polynomial(t) >= static_cast<float>(next) / static_cast<float>(entries)) {
      lookup[next] = t;
      ++next;
    }
    t += 0.001f;
  }
}

float CQuant_polynomial::getRising1() const { return rising1; }
float CQuant_polynomial::getRising2() const { return rising2; }

unsigned char* CQuant_polynomial::quantize(unsigned char* out, const float* in, unsigned n) const {
  const float range = std::fabs(max - min);
  const double scale = flag ? steps - 1 : steps;
  const unsigned char top = topCode();
  for (unsigned i = 0; i < n; ++i) {
    const float x = in[i];
    if (x <= min)
      out[i] = 0;
    else if (x >= max)
      out[i] = top;
    else
      out[i] = codeOf(static_cast<double>(polynomial((x - min) / range)) * scale, top);
  }
  return out;
}

float* CQuant_polynomial::dequantize(float* out, const unsigned char* in, unsigned n) const {
  const double range = std::fabs(max - min);
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char code = in[i];
    checkCode(code);
    if (flag && code == 0) {
      out[i] = min;
      continue;
    }
    // With the flag set the table has one entry less than the codes need for
    // the top code; its last entry (1.0, the top of the range) stands in.
    const double low = lookup[code];
    const double high = static_cast<size_t>(code) + 1 < lookup.size() ? lookup[code + 1] : lookup.back();
    out[i] = static_cast<float>(min + range * (low + (high - low) * 0.5));
  }
  return out;
}

// ---------------------------------------------------------------- CQuant_Individual

CQuant_Individual::CQuant_Individual(const float* thresholds, unsigned count, float min, float max)
    : CQuant(min, max, static_cast<int>(count), false) {
  table.assign(thresholds, thresholds + count);
}

unsigned char* CQuant_Individual::quantize(unsigned char* out, const float* in, unsigned n) const {
  const size_t count = table.size();
  const unsigned char last = static_cast<unsigned char>(count < kTopByteCode ? count : kTopByteCode);
  for (unsigned i = 0; i < n; ++i) {
    const float x = in[i];
    if (x < min || x < table[0]) {
      out[i] = 0;
      continue;
    }
    if (x > max) {
      out[i] = last;
      continue;
    }
    size_t code = count;
    for (size_t k = 0; k + 1 < count; ++k) {
      if (table[k] <= x && x < table[k + 1]) {
        code = k + 1;
        break;
      }
    }
    out[i] = static_cast<unsigned char>(code < kTopByteCode ? code : kTopByteCode);
  }
  return out;
}

float* CQuant_Individual::dequantize(float* out, const unsigned char* in, unsigned n) const {
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char code = in[i];
    if (code == 0)
      out[i] = min;
    else if (code < steps)
      out[i] = table[code - 1];
    else
      out[i] = max;
  }
  return out;
}

// ---------------------------------------------------------------- factories

CQuant* newQuantLinear(float min, float max, int steps, bool flag) {
  return new (std::nothrow) CQuant(min, max, steps, flag);
}

CQuant* newQuantLog(float min, float max, int steps, bool flag) {
  return new (std::nothrow) CQuant_log(min, max, steps, flag);
}

CQuant* newQuantSin(float min, float max, int steps, bool flag) {
  return new (std::nothrow) CQuant_sin(min, max, steps, flag);
}

CQuant* newQuantPolynomial(float min, float max, int steps, bool flag, float rising1, float rising2) {
  return new (std::nothrow) CQuant_polynomial(min, max, steps, flag, rising1, rising2);
}

CQuant* newQuantIndividual(const float* thresholds, unsigned count, float min, float max) {
  return new (std::nothrow) CQuant_Individual(thresholds, count, min, max);
}

CQuant* newDefaultQuantLinear(bool flag) { return newQuantLinear(0.0f, 1.0f, 256, flag); }
CQuant* newDefaultQuantLinearTenth(bool flag) { return newQuantLinear(0.0f, 0.1f, 256, flag); }
CQuant* newDefaultQuantLog(bool flag) { return newQuantLog(-9.0f, -1.0f, 256, flag); }

// The sum is taken in double: in float, x + 0.5 rounds up for the largest
// float below 0.5 (0.49999997 would give 1).
float roundHalfUp(float x) { return static_cast<float>(std::floor(static_cast<double>(x) + 0.5)); }

// ---------------------------------------------------------------- QuantizerCharacteristic

QuantizerCharacteristic::QuantizerCharacteristic(const BaseMatrix<float>& characteristic) : matrix(characteristic) {}

QuantizerCharacteristic::~QuantizerCharacteristic() = default;
