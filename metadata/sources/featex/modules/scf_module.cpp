#include "metadata/sources/featex/modules/scf_module.h"

#include <cfloat>

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const SCFModuleInfo moduleInfo;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(SCFModule, "fex_scf");

template <typename T>
const BaseVector<T>& CCrestFactor<T>::process(const BaseVector<T>& in) {
  for (unsigned b = 0; b < this->nb; ++b) {
    const BaseVector<T> band = this->bandOf(in, b);
    double sum = 0.0;
    T largest = 0;
    bool allZero = true;
    for (const T x : band) {
      sum += x;
      if (x > largest) largest = x;
      if (x != 0) allZero = false;
    }
    const double mean = allZero ? 0.0 : sum / band.size;
    this->out[b] = mean > FLT_MIN ? static_cast<T>(largest / mean) : T(0);
  }
  return this->out;
}

template <typename T>
const BaseVector<T>& CCrestFactor<T>::processComplex(const BaseVector<std::complex<T>>&) {
  throw CModuleException("Crest factor measure not defined for complex vectors");
}

template class CCrestFactor<float>;

SCFModuleInfo::SCFModuleInfo() : CFexProjectModuleInfo("spectrum crest measure calculation") {}

SCFModule::SCFModule(SettingsBase* local, SettingsBase* global)
    : CFexAlgorithmModule(local, global, &moduleInfo, "PowerDensitySpectrum", "SpectralCrest") {
  const auto samplingRate = static_cast<uint32_t>(global->getLong("samplingRate", -1));
  const int32_t transformSize = global->getLong("transformSize", -1);
  if (transformSize < 1) throw simpleException("tfTransformSize out of range");

  const int32_t lf = local->getLong("lf", -1);
  int32_t uf = local->getLong("uf", -1);
  const int32_t nb = local->getLong("nb", -1);
  if (nb < 1) throw simpleException("SCFModule: 'nb' invalid");
  if (lf < 0) throw simpleException("SCFModule: 'lf' must be >= 250 Hz");

  const float df = static_cast<float>(samplingRate) / static_cast<float>(transformSize);
  const auto half = static_cast<uint32_t>(transformSize) / 2;
  if (uf < 0) uf = quarterOctaveUpperEdge(nb);
  if (static_cast<float>(half + 1) * df <= static_cast<float>(uf)) {
    uf = truncToInt(static_cast<float>(half) * df);
    global->setLong("auf", uf);
  }

  std::string params;
  formatString(params, "lf=%d uf=%d nb=%d ", lf, uf, nb);
  configure({samplingRate, 0, 0, static_cast<uint32_t>(transformSize), 0}, params);
}

CFexModule* SCFModule::newInstance(SettingsBase* local, SettingsBase* global) { return new SCFModule(local, global); }

const CFexModuleInfo* SCFModule::getModuleInfo() { return &moduleInfo; }
