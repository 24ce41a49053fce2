#pragma once
// "fex_modulation_feature": how the level of one frequency region fluctuates
// over time. Each frame reduces a slice of the input vector (band energies,
// loudness values) to its mean and keeps these means as a time series; every
// hop frames it takes the magnitude spectrum of the last groupFrames means
// under a Hann window and compresses its lower half with a DCT into
// numDCTcoeffs values. Between emissions the children see the shared empty
// vector.

#include <complex>
#include <cstdint>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class ModulationFeatureModuleInfo : public CFexProjectModuleInfo {
 public:
  ModulationFeatureModuleInfo();
};

class ModulationFeatureModule : public CFexModuleOld {
 public:
  // Local "numDCTcoeffs" (K), "band" (1-based first input value of the
  // slice), "groupFrames" (G, at least 1), "overlapFrames" (below G) and
  // "numBands" (slice length, at least 1).
  ModulationFeatureModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // A slice beyond the input fails with the vector library's range error; a
  // window length the transform cannot take fails at the first emission.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned inputSize) override { return inputSize; }
  std::string getUsage() override;
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

  // The empty vector every modulation module hands on between emissions.
  static HeapVector<float>& emptyOutput();

 private:
  void emit();
  // The G/2 × K DCT rows, made at the first emission.
  void buildDct();

  int32_t numDCTcoeffs;
  int32_t band;
  uint32_t numBands;
  uint32_t groupFrames;
  int32_t overlapFrames;
  uint64_t counter = 0;
  uint64_t hop;
  // Only the last G means are ever read: they are kept in a ring, the oldest
  // at historyNext once it is full.
  HeapVector<float> history;
  uint32_t historyNext = 0;
  HeapVector<float> window;
  HeapVector<float> out;
  HeapMatrix<float> dct;
  bool dctBuilt = false;
  HeapVector<std::complex<float>> spectrum;
  HeapVector<float> magnitudes;
};
