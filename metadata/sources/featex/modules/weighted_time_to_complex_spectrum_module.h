#pragma once
// "fex_weighted_time_to_complex_spectrum": the one-sided complex spectrum of
// each windowed frame, transformSize/2 + 1 bins from DC to half the sampling
// rate, by the real FFT.

#include <complex>
#include <cstdint>
#include <memory>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class WeightedTimeToComplexSpectrumModuleInfo : public CFexProjectModuleInfo {
 public:
  WeightedTimeToComplexSpectrumModuleInfo();
};

class WeightedTimeToComplexSpectrumModule : public CFexModuleOld {
 public:
  // Global "windowSize" (at least 1); local "transformSize", else the
  // smallest power of two not below windowSize (and at least 2). The global
  // "transformSize" is set to it when absent, so later modules see the
  // transform length. A length the FFT cannot transform is refused.
  WeightedTimeToComplexSpectrumModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // A frame shorter than transformSize is padded with what the buffer holds
  // beyond it (zeros unless an earlier, longer frame wrote there); a longer
  // one is the vector library's "subvector parameters out of range". The
  // output is a BaseVector<std::complex<float>>.
  unsigned processRC(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned) override { return transformSize / 2 + 1; }
  std::string getUsage() override { return "fex_weighted_time_to_complex_spectrum"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return true; }

  unsigned getTransformSize() const { return transformSize; }

 private:
  struct SineTableDeleter {
    void operator()(float* table) const;
  };

  unsigned transformSize;
  HeapVector<float> inputBuffer;
  std::unique_ptr<float[], SineTableDeleter> sineTable;
  HeapVector<std::complex<float>> out;
};
