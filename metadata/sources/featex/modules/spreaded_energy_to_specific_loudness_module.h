#pragma once
// "fex_spreaded_energy_to_specific_loudness": the specific loudness of each
// critical band, its spreaded energy to the power 0.22.

#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class spreadedEnergyToSpecificLoudnessModuleInfo : public CFexProjectModuleInfo {
 public:
  spreadedEnergyToSpecificLoudnessModuleInfo();
};

class spreadedEnergyToSpecificLoudnessModule : public CFexModuleOld {
 public:
  // Global "samplingRate" gives the number of bands B.
  spreadedEnergyToSpecificLoudnessModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // The input must hold exactly B values.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned) override { return out.size; }
  std::string getUsage() override { return "spreaded_energy_to_specific_loudness"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  HeapVector<float> out;
};
