#include "metadata/sources/featex/modules/norm_loudness_module.h"

#include <algorithm>
#include <cfloat>

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const NormLoudnessModuleInfo moduleInfo;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(NormLoudnessModule, "fex_norm_loudness");

template <typename T>
const BaseVector<T>& CNormLoudness<T>::process(const BaseVector<T>& in) {
  T total = 0;
  for (unsigned g = 0; g < this->nb; ++g) {
    this->out[g] = this->groupSum(in, g);
    total += this->out[g];
  }
  if (total > FLT_MIN) {
    const T factor = T(1) / total;
    for (unsigned g = 0; g < this->nb; ++g) this->out[g] *= factor;
  } else {
    std::fill(this->out.begin(), this->out.end(), T(0));
  }
  return this->out;
}

template <typename T>
const BaseVector<T>& CNormLoudness<T>::processComplex(const BaseVector<std::complex<T>>&) {
  throw CModuleException("Loudness not defined for complex vectors");
}

template class CNormLoudness<float>;

NormLoudnessModuleInfo::NormLoudnessModuleInfo() : CFexProjectModuleInfo("log. loudness calculation") {}

NormLoudnessModule::NormLoudnessModule(SettingsBase* local, SettingsBase* global)
    : CFexAlgorithmModule(local, global, &moduleInfo, "SpecificLoudness", "NormLoudness") {
  SignalFormat format{};
  const std::string params = readLoudnessSettings(local, global, false, format);
  configure(format, params);
}

CFexModule* NormLoudnessModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new NormLoudnessModule(local, global);
}

const CFexModuleInfo* NormLoudnessModule::getModuleInfo() { return &moduleInfo; }
