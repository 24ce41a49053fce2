#include "metadata/sources/featex/modules/critical_band_to_spreaded_energy_module.h"

#include <algorithm>
#include <cmath>

#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/critical_bands.h"

namespace {

const criticalBandToSpreadedEnergyModuleInfo moduleInfo;
const std::string kInputSpace = "CriticalBands";
const std::string kOutputSpace = "SpreadedEnergy";

// The masking curve in dB.
const float kTapsDb[criticalBandToSpreadedEnergyModule::kTapCount] = {
    -100, -76, -48, 0, -16, -25, -37, -43, -52, -58, -63, -70, -77, -80, -80, -81, -85, -90, -90, -90, -90, -92, -98};

}  // namespace

KIVET_FEX_BUILTIN_MODULE(criticalBandToSpreadedEnergyModule, "fex_critical_band_to_spreaded_energy");

criticalBandToSpreadedEnergyModuleInfo::criticalBandToSpreadedEnergyModuleInfo()
    : CFexProjectModuleInfo("converts signal-space 'critical-band' to signal-space 'spreaded-energy'.") {}

criticalBandToSpreadedEnergyModule::criticalBandToSpreadedEnergyModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo), out(numCriticalBands(global->getLong("samplingRate", -1))) {
  for (unsigned t = 0; t < kTapCount; ++t) taps[t] = static_cast<float>(std::pow(10.0, kTapsDb[t] * 0.1));
  std::fill(out.begin(), out.end(), 0.0f);
}

CFexModule* criticalBandToSpreadedEnergyModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new criticalBandToSpreadedEnergyModule(local, global);
}

const CFexModuleInfo* criticalBandToSpreadedEnergyModule::getModuleInfo() { return &moduleInfo; }

unsigned criticalBandToSpreadedEnergyModule::processRR(void** output, const void* input) {
  if (!input) throw simpleException("input == 0.");
  if (!out.data) throw simpleException("m_spreadOut == 0");
  const auto& x = *static_cast<const BaseVector<float>*>(input);
  // out[j] (convolution index m = j + 3) takes the input values within 22
  // below m, in rising order. Going through the input once and adding each
  // value's share to every output it reaches adds to each output in that same
  // order, with the outputs side by side.
  std::fill(out.begin(), out.end(), 0.0f);
  const unsigned reached = std::min(x.size, out.size + kOwnTap);
  for (unsigned i = 0; i < reached; ++i) {
    const float value = x[i];
    const unsigned first = i > kOwnTap ? i - kOwnTap : 0;
    const unsigned end = std::min(out.size, i + kTapCount - kOwnTap);
    const float* tap = taps + (first + kOwnTap - i);
    for (unsigned j = first; j < end; ++j) out[j] += *tap++ * value;
  }
  if (x.size > 0) out[0] = x[0];
  *output = &out;
  return out.size;
}

const std::string& criticalBandToSpreadedEnergyModule::getInputSignalSpace() { return kInputSpace; }
const std::string& criticalBandToSpreadedEnergyModule::getOutputSignalSpace() { return kOutputSpace; }
