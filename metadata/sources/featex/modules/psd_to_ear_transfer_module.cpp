#include "metadata/sources/featex/modules/psd_to_ear_transfer_module.h"

#include <cmath>

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const PsdToEarTfModuleInfo moduleInfo;
const std::string kInputSpace = "PowerDensitySpectrum";
const std::string kOutputSpace = "EarTransfer";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(PsdToEarTfModule, "fex_psd_to_ear_transfer");

PsdToEarTfModuleInfo::PsdToEarTfModuleInfo() : CFexProjectModuleInfo("outer/middle ear weighting function") {}

PsdToEarTfModule::PsdToEarTfModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo), samplingRate(global->getLong("samplingRate", -1)) {}

CFexModule* PsdToEarTfModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new PsdToEarTfModule(local, global);
}

const CFexModuleInfo* PsdToEarTfModule::getModuleInfo() { return &moduleInfo; }

void PsdToEarTfModule::computeWeights(unsigned n) {
  weights.resize(n);
  out.resize(n);
  if (n == 0) return;
  weights[0] = 0.0f;
  for (unsigned k = 1; k < n; ++k) {
    // n is the number of input values, not the transform size.
    const double f = static_cast<double>(k) * samplingRate / (static_cast<double>(n) * 1000.0);
    const double a = 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) - 0.001 * std::pow(f, 4.0) - 1.82 * std::pow(f, -0.8);
    weights[k] = static_cast<float>(std::pow(10.0, 0.1 * a));
  }
}

unsigned PsdToEarTfModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  if (recompute || in.size != lastLength) {
    computeWeights(in.size);
    lastLength = in.size;
    recompute = false;
  }
  for (unsigned k = 0; k < in.size; ++k) out[k] = in[k] * weights[k];
  *output = &out;
  return out.size;
}

const std::string& PsdToEarTfModule::getInputSignalSpace() { return kInputSpace; }
const std::string& PsdToEarTfModule::getOutputSignalSpace() { return kOutputSpace; }
