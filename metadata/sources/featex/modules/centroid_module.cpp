#include "metadata/sources/featex/modules/centroid_module.h"

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const CFexCentroidModuleInfo moduleInfo;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(CFexCentroidModule, "fex_centroid");

template <typename T>
const BaseVector<T>& CSpectralCentroidMP7<T>::process(const BaseVector<T>& in) {
  for (unsigned b = 0; b < this->nb; ++b) {
    this->requireFitsLastBand(this->bandLength(b));
    const BaseVector<T> band = this->bandOf(in, b);
    double num = 0.0;
    double den = 0.0;
    for (unsigned i = 0; i < band.size; ++i) {
      num += static_cast<double>(i) * band[i];
      den += band[i];
    }
    this->out[b] = den == 0.0 ? T(0) : static_cast<T>(num / den);
  }
  return this->out;
}

template <typename T>
const BaseVector<T>& CSpectralCentroidMP7<T>::processComplex(const BaseVector<std::complex<T>>&) {
  throw CModuleException("Spectral centroid measure not defined for complex vectors");
}

template class CSpectralCentroidMP7<float>;

CFexCentroidModuleInfo::CFexCentroidModuleInfo() : CFexProjectModuleInfo("centroid calculation") {}

CFexCentroidModule::CFexCentroidModule(SettingsBase* local, SettingsBase* global)
    : CFexAlgorithmModule(local, global, &moduleInfo, "PowerDensitySpectrum", "SpectralCentroid") {
  const auto samplingRate = static_cast<uint32_t>(global->getLong("samplingRate", -1));
  const int32_t windowSize = global->getLong("windowSize", -1);
  const int32_t overlapSize = global->getLong("overlapSize", -1);
  const int32_t transformSize = global->getLong("transformSize", -1);
  if (overlapSize > 0) throw simpleException("overlapSize out of range");
  if (transformSize < 1) throw simpleException("tfTransformSize out of range");

  const int32_t loedge = local->getLong("loedge", -1);
  const int32_t hiedge = local->getLong("hiedge", -1);
  const int32_t numBands = local->getLong("numBands", -1);
  const int32_t res = local->getLong("res", -1);

  int32_t upper = hiedge;
  int64_t bands = numBands;
  if (static_cast<uint32_t>(hiedge) >= samplingRate / 2) adaptToNyquist(bands, upper, samplingRate, global, true);

  std::string params;
  formatString(params, "lf=%d (uf=%d) nb=%d rs=%d ln=%d", loedge, upper, static_cast<int32_t>(bands), res, 1);
  configure({samplingRate, static_cast<uint32_t>(windowSize), static_cast<uint32_t>(overlapSize),
             static_cast<uint32_t>(transformSize), 0},
            params);
}

CFexModule* CFexCentroidModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new CFexCentroidModule(local, global);
}

const CFexModuleInfo* CFexCentroidModule::getModuleInfo() { return &moduleInfo; }
