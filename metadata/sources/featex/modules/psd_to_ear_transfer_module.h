#pragma once
// "fex_psd_to_ear_transfer": weights a power spectrum by the transfer
// function of the outer and middle ear.

#include <cstdint>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class PsdToEarTfModuleInfo : public CFexProjectModuleInfo {
 public:
  PsdToEarTfModuleInfo();
};

class PsdToEarTfModule : public CFexModuleOld {
 public:
  // Global "samplingRate".
  PsdToEarTfModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Input value k of n lies at f = k * samplingRate / n Hz and is multiplied
  // by 10^(A/10), A = 6.5 exp(-0.6 (f - 3.3)^2) - 0.001 f^4 - 1.82 f^-0.8 dB
  // with f in kHz; value 0 by 0. The weights are remade only when the input
  // length changes.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  // The length of the last output; 0 before the first frame.
  unsigned getOutputSize(unsigned) override { return out.size; }
  std::string getUsage() override { return "power_density_spectrum_to_ear_transfer + ..."; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  void computeWeights(unsigned n);

  int32_t samplingRate;
  unsigned lastLength = 0;
  bool recompute = true;
  HeapVector<float> weights;
  HeapVector<float> out;
};
