#include "metadata/sources/featex/modules/log_loudness_module.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const LogLoudnessModuleInfo moduleInfo;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(LogLoudnessModule, "fex_log_loudness");

template <typename T>
unsigned CLogLoudness<T>::setParameters(const SignalFormat& format, const char* params) {
  const unsigned count = CLoudnessBands<T>::setParameters(format, params);
  if (params && std::strstr(params, "DPCM")) dpcm = true;
  prev.resize(this->nb);
  std::fill(prev.begin(), prev.end(), T(0));
  return count;
}

template <typename T>
std::string CLogLoudness<T>::getParameterName() {
  return (dpcm ? "DPCM" : "") + CLoudnessBands<T>::getParameterName();
}

template <typename T>
const BaseVector<T>& CLogLoudness<T>::process(const BaseVector<T>& in) {
  const bool emptyGroups = this->groupWidth() == 0;
  for (unsigned g = 0; g < this->nb; ++g) {
    const T sum = this->groupSum(in, g);
    if (emptyGroups || sum < 1) {
      this->out[g] = 0;
      continue;
    }
    const T level = static_cast<T>(std::log10(static_cast<double>(sum)));
    if (!dpcm) {
      this->out[g] = level;
      continue;
    }
    // A previous logarithm of 0 reads as none (the first frame, or a sum of
    // exactly 1).
    this->out[g] = prev[g] == 0 ? T(0) : level - prev[g];
    prev[g] = level;
  }
  return this->out;
}

template <typename T>
const BaseVector<T>& CLogLoudness<T>::processComplex(const BaseVector<std::complex<T>>&) {
  throw CModuleException("Log loudness not defined for complex vectors");
}

template class CLogLoudness<float>;

LogLoudnessModuleInfo::LogLoudnessModuleInfo() : CFexProjectModuleInfo("log. loudness calculation") {}

LogLoudnessModule::LogLoudnessModule(SettingsBase* local, SettingsBase* global)
    : CFexAlgorithmModule(local, global, &moduleInfo, "SpecificLoudness", "LogLoudness") {
  SignalFormat format{};
  const std::string params = readLoudnessSettings(local, global, true, format);
  configure(format, params);
}

CFexModule* LogLoudnessModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new LogLoudnessModule(local, global);
}

const CFexModuleInfo* LogLoudnessModule::getModuleInfo() { return &moduleInfo; }
