#include "metadata/sources/featex/modules/spreaded_energy_to_specific_loudness_module.h"

#include <algorithm>
#include <cmath>

#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/critical_bands.h"
#include "metadata/sources/vmtl/vmtl_exception.h"

namespace {

const spreadedEnergyToSpecificLoudnessModuleInfo moduleInfo;
const std::string kInputSpace = "SpreadedEnergy";
const std::string kOutputSpace = "SpecificLoudness";
// Where the size check reports itself, as the vector library's checks do.
const char* const kModuleSource = "metadata\\sources\\featex\\modules\\spreaded_energy_to_specific_loudness_module";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(spreadedEnergyToSpecificLoudnessModule, "fex_spreaded_energy_to_specific_loudness");

spreadedEnergyToSpecificLoudnessModuleInfo::spreadedEnergyToSpecificLoudnessModuleInfo()
    : CFexProjectModuleInfo("converts signal-space 'spreaded-energy' to signal-space 'specific loudness'.") {}

spreadedEnergyToSpecificLoudnessModule::spreadedEnergyToSpecificLoudnessModule(SettingsBase* local,
                                                                               SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  const unsigned bands = numCriticalBands(global->getLong("samplingRate", -1));
  if (bands == 0) throw simpleException("numCriticalBands undefined.");
  out.resize(bands);
  std::fill(out.begin(), out.end(), 0.0f);
}

CFexModule* spreadedEnergyToSpecificLoudnessModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new spreadedEnergyToSpecificLoudnessModule(local, global);
}

const CFexModuleInfo* spreadedEnergyToSpecificLoudnessModule::getModuleInfo() { return &moduleInfo; }

unsigned spreadedEnergyToSpecificLoudnessModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  if (in.size != out.size) vmtl::fail("unequal vector sizes", kModuleSource, 96);
  for (unsigned i = 0; i < out.size; ++i) out[i] = static_cast<float>(std::pow(static_cast<double>(in[i]), 0.22));
  *output = &out;
  return out.size;
}

const std::string& spreadedEnergyToSpecificLoudnessModule::getInputSignalSpace() { return kInputSpace; }
const std::string& spreadedEnergyToSpecificLoudnessModule::getOutputSignalSpace() { return kOutputSpace; }
