#pragma once
// "fex_critical_band_to_spreaded_energy": spreads the energy of each critical
// band into its neighbours with a fixed 23-tap masking curve.

#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class criticalBandToSpreadedEnergyModuleInfo : public CFexProjectModuleInfo {
 public:
  criticalBandToSpreadedEnergyModuleInfo();
};

class criticalBandToSpreadedEnergyModule : public CFexModuleOld {
 public:
  static constexpr unsigned kTapCount = 23;
  // Tap 3 (0 dB) is a band's own weight: taps 4 to 22 carry energy upward
  // from lower bands, taps 0 to 2 downward from higher bands.
  static constexpr unsigned kOwnTap = 3;

  // Global "samplingRate" gives the number of bands B.
  criticalBandToSpreadedEnergyModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // out[j] = sum over i of tap[j + 3 - i] * x[i] (the full convolution of
  // taps and input, from its fourth value on), products summed in float; then
  // out[0] = x[0]. B values whatever the input length.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned) override { return out.size; }
  std::string getUsage() override { return "critical_band_to_spreaded_energy"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  float taps[kTapCount];
  HeapVector<float> out;
};
