#pragma once
// Quantizers: map float feature values to one-byte codes and back, so that a
// feature matrix can be stored at one byte per value.
//
// CQuant is the linear quantizer and the base of the four other kinds
// (logarithmic, sine-shaped, polynomial and individual thresholds). Failures:
// construction throws StandardException ("Quant: max<minval", "Quant: steps<1")
// or, for the polynomial checks, a std::string; dequantizing a code at or above
// the step count throws the integer -3 (the individual kind never does).

#include <vector>

#include "metadata/sources/vmtl/base_matrix.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class CQuant {
 public:
  CQuant(float min, float max, int steps, bool flag);
  virtual ~CQuant();

  CQuant(const CQuant&) = delete;
  CQuant& operator=(const CQuant&) = delete;

  // Slopes of the characteristic at 0 and 1; only the polynomial kind has others than 1.
  virtual float getRising1() const;
  virtual float getRising2() const;

  // Codes for n values; returns out.
  virtual unsigned char* quantize(unsigned char* out, const float* in, unsigned n) const;
  // Values for n codes; returns out. Throws the integer -3 at the first code
  // out of range, after the codes before it have been converted.
  virtual float* dequantize(float* out, const unsigned char* in, unsigned n) const;

  float getMin() const { return min; }
  float getMax() const { return max; }
  int getSteps() const { return steps; }
  bool getFlag() const { return flag != 0; }
  float getStepWidth() const { return stepWidth; }
  // The thresholds of the individual kind; empty for the others.
  const std::vector<float>& getTable() const { return table; }

 protected:
  // The highest code: one below the step count, and within one byte.
  unsigned char topCode() const { return static_cast<unsigned char>(steps - 1 < 255 ? steps - 1 : 255); }
  // The code of a value measured in steps from the bottom of the range: its
  // floor, kept at or below top (rounding at the top of the range must not
  // reach the step count). Negative values and NaN give 0. For a non-negative
  // value the floor is its integer part, so no rounding call is needed.
  static unsigned char codeOf(double steps, unsigned char top) {
    if (!(steps >= 0.0)) return 0;
    if (steps >= top + 1.0) return top;
    return static_cast<unsigned char>(steps);
  }

  // Throws the integer -3 for a code at or above the step count.
  void checkCode(unsigned char code) const {
    if (code >= steps) throw -3;
  }

  float min;
  float max;
  int steps;
  unsigned char flag;
  float stepWidth;
  // 1 / stepWidth in double precision, which the linear and logarithmic kinds
  // multiply by.
  double reciprocalStepWidth;
  std::vector<float> table;
};

// min and max are base-10 exponents: the range is 10^min .. 10^max.
class CQuant_log : public CQuant {
 public:
  CQuant_log(float min, float max, int steps, bool flag);

  unsigned char* quantize(unsigned char* out, const float* in, unsigned n) const override;
  float* dequantize(float* out, const unsigned char* in, unsigned n) const override;

 protected:
  float floor;  // 10^min

 private:
  // The value of every code, made at the first dequantize: the power of ten
  // is the costly part, and a code always gives the same value.
  const float* codeValues() const;
  mutable std::vector<float> values;
};

// Codes follow sin² over the range; flag and step width play no part.
class CQuant_sin : public CQuant {
 public:
  CQuant_sin(float min, float max, int steps, bool flag);

  unsigned char* quantize(unsigned char* out, const float* in, unsigned n) const override;
  float* dequantize(float* out, const unsigned char* in, unsigned n) const override;
};

// A monotonic cubic characteristic p(t) = a3·t³ + a2·t² + a1·t on [0, 1] with
// p(0) = 0, p(1) = 1 and the slopes rising1 at 0 and rising2 at 1.
class CQuant_polynomial : public CQuant {
 public:
  CQuant_polynomial(float min, float max, int steps, bool flag, float rising1, float rising2);

  float getRising1() const override;
  float getRising2() const override;
  unsigned char* quantize(unsigned char* out, const float* in, unsigned n) const override;
  float* dequantize(float* out, const unsigned char* in, unsigned n) const override;

  const std::vector<float>& getLookupTable() const { return lookup; }

 protected:
  float polynomial(float t) const { return ((a3 * t + a2) * t + a1) * t; }

  float rising1;
  float rising2;
  float a3;
  float a2;
  float a1;
  // lookup[i] is the first t (in steps of 0.001) with p(t) >= i / N; only the
  // entries that one-byte codes reach (at most 257) are kept.
  std::vector<float> lookup;
};

// An explicit table of ascending thresholds; code i + 1 stands for the values
// from threshold i up to the next one, code 0 for those below the first, and
// the code equal to the count for the rest.
class CQuant_Individual : public CQuant {
 public:
  CQuant_Individual(const float* thresholds, unsigned count, float min, float max);

  unsigned char* quantize(unsigned char* out, const float* in, unsigned n) const override;
  float* dequantize(float* out, const unsigned char* in, unsigned n) const override;
};

// Factories: a new quantizer, or null when memory runs out. Construction
// failures are thrown as by the constructors.
CQuant* newQuantLinear(float min, float max, int steps, bool flag);
CQuant* newQuantLog(float min, float max, int steps, bool flag);
CQuant* newQuantSin(float min, float max, int steps, bool flag);
CQuant* newQuantPolynomial(float min, float max, int steps, bool flag, float rising1, float rising2);
CQuant* newQuantIndividual(const float* thresholds, unsigned count, float min, float max);

// The default quantizers of the feature types: linear 0 .. 1, linear 0 .. 0.1
// and logarithmic 10^-9 .. 10^-1, each with 256 steps.
CQuant* newDefaultQuantLinear(bool flag);
CQuant* newDefaultQuantLinearTenth(bool flag);
CQuant* newDefaultQuantLog(bool flag);

// floor(x + 0.5).
float roundHalfUp(float x);

// An owned copy of a characteristic matrix, made for feature adaptation.
class QuantizerCharacteristic {
 public:
  explicit QuantizerCharacteristic(const BaseMatrix<float>& characteristic);
  virtual ~QuantizerCharacteristic();

  const HeapMatrix<float>& getMatrix() const { return matrix; }

 private:
  HeapMatrix<float> matrix;
};
