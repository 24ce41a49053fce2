#include "metadata/sources/featex/modules/sfm_module.h"

#include <cfloat>
#include <cmath>
#include <iostream>

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const SfmModuleInfo moduleInfo;

// What a value of exactly 0 adds to the sum of logarithms.
constexpr double kLogOfZero = -4.81648;

// Beyond this group size no band of 32-bit length forms a single group, so
// doubling further changes nothing.
constexpr uint64_t kLargestGroup = uint64_t(1) << 34;

// Running sums for the two means of one band.
struct Means {
  void add(double value) {
    sum += value;
    logSum += value == 0.0 ? kLogOfZero : std::log(value);
    ++count;
  }
  float flatness() const {
    if (count == 0) return 1.0f;
    const double am = sum / count;
    const double gm = std::exp(logSum / count);
    return am > gm && am >= FLT_MIN ? static_cast<float>(gm / am) : 1.0f;
  }

  double sum = 0.0;
  double logSum = 0.0;
  uint64_t count = 0;
};

}  // namespace

KIVET_FEX_BUILTIN_MODULE(SfmModule, "fex_sfm_mp7");

template <typename T>
const BaseVector<T>& CSpectralFlatnessMP7<T>::process(const BaseVector<T>& in) {
  uint64_t group = 1;
  uint32_t threshold = 8;
  for (unsigned i = 0; i < this->nb; ++i) {
    if (i == threshold) {
      if (group < kLargestGroup) group *= 2;
      threshold += 4;
    }
    const uint32_t length = this->bandLength(i);
    Means means;
    if (this->ln != 0 && i > 7) {
      // m groups of `group` bins from the band's first bin; the last group
      // may reach past the band's end. Groups past the input's end are left out.
      const uint32_t first = this->bands[i].first;
      uint64_t groups = truncToUnsigned(static_cast<double>(length) / group + 0.5);
      const uint64_t available = first < in.size ? in.size - first : 0;
      if (groups > available / group) groups = available / group;
      uint64_t bin = first;
      for (uint64_t g = 0; g < groups; ++g) {
        double sum = 0.0;
        for (uint64_t k = 0; k < group; ++k) sum += in[static_cast<unsigned>(bin++)];
        means.add(static_cast<T>(sum * (1.0 / group)));
      }
    } else {
      this->requireFitsLastBand(length);
      for (const T x : this->bandOf(in, i)) means.add(x);
    }
    this->out[i] = means.flatness();
  }
  return this->out;
}

template <typename T>
const BaseVector<T>& CSpectralFlatnessMP7<T>::processComplex(const BaseVector<std::complex<T>>&) {
  throw CModuleException("Spectral flatness measure not implemented for complex vectors");
}

template class CSpectralFlatnessMP7<float>;

SfmModuleInfo::SfmModuleInfo() : CFexProjectModuleInfo("spectrum flatness measure calculation") {}

SfmModule::SfmModule(SettingsBase* local, SettingsBase* global)
    : CFexAlgorithmModule(local, global, &moduleInfo, "PowerDensitySpectrum", "SpectrumFlatness") {
  const auto samplingRate = static_cast<uint32_t>(global->getLong("samplingRate", -1));
  const int32_t transformSize = global->getLong("transformSize", -1);
  if (transformSize < 1) throw simpleException("tfTransformSize out of range");

  const int32_t lf = local->getLong("lf", -1);
  int32_t uf = local->getLong("uf", -1);
  const bool linear = local->getBool("sfm_lin");
  const int32_t nb = local->getLong("nb", -1);
  if (nb < 1) throw simpleException("SfmModule: 'nb' invalid");
  if (lf < 125) throw simpleException("SfmModule: 'lf' must be >= 125 Hz");

  const int32_t ln = linear ? 0 : 1;
  const int32_t gridEdge = quarterOctaveUpperEdge(nb);
  if (uf < 0) uf = gridEdge;
  if (uf != gridEdge && ln == 1) {
    std::cerr << "Warning: SfmModule: inconsistent settings ('uf'<->'nb'); adapted hiEdge !!!" << '\n';
    uf = gridEdge;
  }
  int64_t bands = nb;
  if (static_cast<uint32_t>(uf) >= samplingRate / 2) adaptToNyquist(bands, uf, samplingRate, global, true);

  // The logarithmic layout does not use the upper edge; it is written in
  // parentheses there.
  std::string params;
  formatString(params, ln == 1 ? "lf=%d (uf=%d) nb=%d rs=%d ln=%d" : "lf=%d uf=%d nb=%d rs=%d ln=%d", lf, uf,
               static_cast<int32_t>(bands), 4, ln);
  configure({samplingRate, 0, 0, static_cast<uint32_t>(transformSize), 0}, params);
}

CFexModule* SfmModule::newInstance(SettingsBase* local, SettingsBase* global) { return new SfmModule(local, global); }

const CFexModuleInfo* SfmModule::getModuleInfo() { return &moduleInfo; }
