#include "metadata/sources/featex/modules/filter.h"

#include <cmath>

void designSecondOrderSection(SecondOrderSection& section, double fc, double fs, int type, bool highpass) {
  if (type != kDesignedSectionType) return;
  SecondOrderSection& s = section;
  const double theta = std::atan(2.0 * fc / fs);
  s.K = s.sqrt2 * theta;
  s.K2 = s.K * s.K;
  s.n = 1.0 + s.sqrt2 * s.K + s.K2;
  if (highpass) {
    s.b0 = 1.0 / s.n;
    s.b1 = -2.0 * s.b0;
  } else {
    s.b0 = s.K2 / s.n;
    s.b1 = 2.0 * s.b0;
  }
  s.b2 = s.b0;
  s.a0 = 1.0;
  s.a1 = 2.0 * (s.K2 - 1.0) / s.n;
  s.a2 = (1.0 - s.sqrt2 * s.K + s.K2) / s.n;
}
