#pragma once
// "fex_complex_spectrum_to_psd": the power of each complex bin, optionally
// its square root (the magnitude), optionally followed by the bins' phases.

#include <complex>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class ComplexSpectrumToPSDModuleInfo : public CFexProjectModuleInfo {
 public:
  ComplexSpectrumToPSDModuleInfo();
};

class ComplexSpectrumToPSDModule : public CFexModuleOld {
 public:
  // Local "considerAngle" and "calcSqrt", integers: nonzero switches on.
  ComplexSpectrumToPSDModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Input: a BaseVector<std::complex<float>> of n bins. Output: n powers
  // (magnitudes with calcSqrt), then with considerAngle the n phases
  // atan(im / re), which are not quadrant-corrected.
  unsigned processCR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned inputSize) override { return inputSize; }
  std::string getUsage() override { return "fex_complex_spectrum_to_psd"; }
  bool isInputComplex() override { return true; }
  bool isOutputComplex() override { return false; }

 private:
  bool considerAngle;
  bool calcSqrt;
  HeapVector<float> out;
};
