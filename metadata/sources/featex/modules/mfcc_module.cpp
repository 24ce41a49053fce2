#include "metadata/sources/featex/modules/mfcc_module.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/allocation_limit.h"

namespace {

const CFexMfccModuleInfo moduleInfo;

constexpr float kLowestFrequency = 133.3333f;
constexpr unsigned kLinearEdges = 13;
constexpr float kLinearSpacing = 66.666664f;
constexpr float kLogSpacing = 1.0711703f;
constexpr double kPi = 3.14159265358979323846;

// The frequency of bin k of a transform of n points at the sampling rate.
float binFrequency(uint32_t k, uint32_t n, uint32_t samplingRate) {
  return static_cast<float>(k) / static_cast<float>(n) * static_cast<float>(samplingRate);
}

struct Triangle {
  float lower;
  float centre;
  float upper;
  float height;

  float weight(float f) const {
    if (lower <= f && f <= centre) return (f - lower) * height / (centre - lower);
    if (centre < f && f < upper) return (upper - f) * height / (upper - centre);
    return 0.0f;
  }
};

Triangle triangleOf(const float* edges, unsigned j) {
  return {edges[j], edges[j + 1], edges[j + 2], 2.0f / (edges[j + 2] - edges[j])};
}

}  // namespace

KIVET_FEX_BUILTIN_MODULE(CFexMfccModule, "fex_mfcc");

template <typename T>
unsigned CMelCepstrum<T>::setParameters(const SignalFormat& format, const char* params) {
  int32_t count = 12;
  readIntParameter(params, "nc", count);
  nc = static_cast<uint32_t>(count);
  if (nc > kMaxCoefficients) throw CModuleException("Number of cepstral coefficients too large");

  transformSize = format.transformSize;
  const uint32_t samplingRate = format.samplingRate;
  // The weights are a filters x transformSize table, which the 32-bit target
  // had to be able to allocate.
  requireAllocatable(static_cast<uint64_t>(kFilterCount) * transformSize, sizeof(float));

  for (unsigned i = 0; i < kLinearEdges; ++i) edges[i] = static_cast<float>(i) * kLinearSpacing + kLowestFrequency;
  float power = 1.0f;
  for (unsigned i = kLinearEdges; i < kEdgeCount; ++i) {
    power *= kLogSpacing;
    edges[i] = edges[kLinearEdges - 1] * power;
  }

  // Bin frequencies rise with the bin and so do the filters' edges: each
  // filter's span starts at or after the previous filter's.
  weights.clear();
  const uint32_t usedBins = transformSize / 2;
  uint32_t start = 0;
  for (unsigned j = 0; j < kFilterCount; ++j) {
    const Triangle filter = triangleOf(edges, j);
    while (start < usedBins && binFrequency(start, transformSize, samplingRate) < filter.lower) ++start;
    uint32_t k = start;
    spans[j].first = start;
    spans[j].offset = weights.size();
    for (; k < usedBins; ++k) {
      const float f = binFrequency(k, transformSize, samplingRate);
      if (!(f < filter.upper)) break;
      weights.push_back(filter.weight(f));
    }
    spans[j].count = k - start;
  }

  dct.resize(static_cast<size_t>(nc) * kFilterCount);
  const double norm = std::sqrt(kFilterCount * 0.5);
  for (uint32_t i = 1; i <= nc; ++i)
    for (unsigned j = 0; j < kFilterCount; ++j)
      dct[j * nc + (i - 1)] = static_cast<float>(std::cos(i * (2.0 * j + 1.0) * kPi / (2.0 * kFilterCount)) / norm);

  out.resize(nc);
  std::fill(out.begin(), out.end(), T(0));
  return nc;
}

template <typename T>
float CMelCepstrum<T>::getWeight(unsigned j, uint32_t k) const {
  const FilterSpan& span = spans[j];
  return k >= span.first && k - span.first < span.count ? weights[span.offset + (k - span.first)] : 0.0f;
}

template <typename T>
std::string CMelCepstrum<T>::getParameterName() {
  return "nc" + std::to_string(nc);
}

template <typename T>
const BaseVector<T>& CMelCepstrum<T>::process(const BaseVector<T>&) {
  throw CModuleException("Error in mel_ceps");
}

// The filter's weighted sum of the complex bins [first, end): the real and
// the imaginary sum side by side, each in double precision and bin by bin.
template <typename T>
static void filterSum(const std::complex<T>* bins, const float* w, uint32_t first, uint32_t end, double& re,
                      double& im) {
#if defined(__SSE2__)
  __m128d sum = _mm_setzero_pd();
  for (uint32_t k = first; k < end; ++k, ++w) {
    const __m128d bin = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bins + k))));
    sum = _mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(*w), bin));
  }
  re = _mm_cvtsd_f64(sum);
  im = _mm_cvtsd_f64(_mm_unpackhi_pd(sum, sum));
#else
  re = 0.0;
  im = 0.0;
  for (uint32_t k = first; k < end; ++k, ++w) {
    re += static_cast<double>(*w) * bins[k].real();
    im += static_cast<double>(*w) * bins[k].imag();
  }
#endif
}

template <typename T>
const BaseVector<T>& CMelCepstrum<T>::processComplex(const BaseVector<std::complex<T>>& in) {
  const uint32_t limit = std::min(transformSize / 2, in.size);
  for (unsigned j = 0; j < kFilterCount; ++j) {
    const FilterSpan& span = spans[j];
    double re = 0.0;
    double im = 0.0;
    filterSum(in.data, weights.data() + span.offset, span.first, std::min(span.first + span.count, limit), re, im);
    const double magnitude = std::sqrt(re * re + im * im);
    logEnergies[j] = magnitude > 1e-10 ? std::log10(magnitude) : -10.0;
  }
  // Every coefficient is summed over the filters in their order; going
  // through the filters once and adding to all coefficients keeps the sums
  // apart and lets them run side by side.
  double sums[kMaxCoefficients] = {};
  const float* column = dct.data();
  for (unsigned j = 0; j < kFilterCount; ++j, column += nc) {
    const double energy = logEnergies[j];
    for (uint32_t i = 0; i < nc; ++i) sums[i] += static_cast<double>(column[i]) * energy;
  }
  for (uint32_t i = 0; i < nc; ++i) out[i] = static_cast<T>(sums[i]);
  return out;
}

template class CMelCepstrum<float>;

CFexMfccModuleInfo::CFexMfccModuleInfo() : CFexProjectModuleInfo("mel cepstral coufficients calculation") {}

CFexMfccModule::CFexMfccModule(SettingsBase* local, SettingsBase* global)
    : CFexAlgorithmModule(local, global, &moduleInfo, "ComplexSpectrum", "MelCepstralCoefficients") {
  const auto samplingRate = static_cast<uint32_t>(global->getLong("samplingRate", -1));
  const auto transformSize = static_cast<uint32_t>(global->getLong("transformSize", -1));
  const int32_t numCoef = local->getLong("numCoef", -1);

  std::string params;
  formatString(params, "nc=%d ", numCoef);
  configure({samplingRate, 0, 0, transformSize, 0}, params);
}

CFexModule* CFexMfccModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new CFexMfccModule(local, global);
}

const CFexModuleInfo* CFexMfccModule::getModuleInfo() { return &moduleInfo; }

unsigned CFexMfccModule::processCR(void** output, const void* input) {
  return handOn(output, processComplex(*static_cast<const BaseVector<std::complex<float>>*>(input)));
}
