#include "metadata/sources/featex/modules/spectral_bands.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "metadata/sources/featex/modules/allocation_limit.h"

namespace {

// x + 0.5 truncated.
uint32_t roundBin(double x) { return truncToUnsigned(x + 0.5); }

}  // namespace

template <typename T>
unsigned CSpectralBands<T>::setParameters(const SignalFormat& format, const char* params) {
  const uint32_t transformSize = format.transformSize;
  const uint32_t samplingRate = format.samplingRate;

  float lf = 0.0f;
  if (readFloatParameter(params, "lf", lf)) {
    lfBin = truncToUnsigned(static_cast<double>(transformSize) * lf / samplingRate);
    if (lfBin > transformSize / 2) throw CModuleException("Lower frequency value too large");
  } else {
    lfBin = 4;
    lf = transformSize ? static_cast<float>(samplingRate * 4u / transformSize) : 0.0f;
  }

  int32_t count = 16;
  readIntParameter(params, "nb", count);
  nb = static_cast<uint32_t>(count);
  rs = 4;
  readIntParameter(params, "rs", rs);
  readIntParameter(params, "ln", ln);
  requireAllocatable(nb, sizeof(BandRange));
  out.resize(nb);
  std::fill(out.begin(), out.end(), T(0));

  if (ln == 0) {
    float uf = 0.0f;
    if (readFloatParameter(params, "uf", uf)) {
      ufBin = truncToUnsigned(static_cast<double>(transformSize) * uf / samplingRate);
      if (ufBin > transformSize / 2) throw CModuleException("Upper frequency value too large");
      if (lfBin > ufBin) throw CModuleException("Lower frequency greater than upper frequency");
    } else {
      ufBin = truncToUnsigned(static_cast<double>(transformSize) * 4000.0 / samplingRate);
    }
    linearLayout();
  } else {
    logLayout(lf, samplingRate, transformSize);
  }
  return nb;
}

template <typename T>
void CSpectralBands<T>::linearLayout() {
  bands.resize(nb);
  if (nb == 0) return;
  // Bins above the last band are left out.
  const uint32_t width = (ufBin - lfBin) / nb;
  uint32_t first = lfBin;
  for (BandRange& band : bands) {
    band = {first, first + width - 1};
    first = band.last + 1;
  }
}

template <typename T>
void CSpectralBands<T>::logLayout(float lf, uint32_t samplingRate, uint32_t transformSize) {
  bands.resize(nb);
  const float df = static_cast<float>(samplingRate) / static_cast<float>(transformSize);
  const float step = std::pow(2.0f, 1.0f / static_cast<float>(rs));
  float edge = lf;
  for (BandRange& band : bands) {
    const float next = edge * step;
    band = {roundBin(0.95 * edge / df), roundBin(1.05 * next / df)};
    edge = next;
  }
  if (nb > 0 && bands[0].first == bands[0].last) std::cerr << "Resolution of log-scaling to small" << '\n';
}

template <typename T>
std::string CSpectralBands<T>::getParameterName() {
  return "lf" + std::to_string(lfBin) + "_uf" + std::to_string(ufBin) + "_nb" + std::to_string(nb);
}

template <typename T>
BaseVector<T> CSpectralBands<T>::bandOf(const BaseVector<T>& in, unsigned b) const {
  const uint32_t first = bands[b].first;
  if (first >= in.size) return BaseVector<T>(in.data, 0);
  const uint32_t count = std::min<uint32_t>(bandLength(b), in.size - first);
  return in.slice(first, count);
}

template <typename T>
void CSpectralBands<T>::requireFitsLastBand(uint64_t length) const {
  if (length > bandLength(nb - 1)) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 393);
}

template class CSpectralBands<float>;
