#pragma once
// "fex_norm_loudness": each group of neighbouring critical bands' share of
// the frame's total loudness.

#include <complex>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/modules/loudness_bands.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CNormLoudness : public CLoudnessBands<T> {
 public:
  // Group sums over their total; all 0 when the total is not above the
  // smallest normal float.
  const BaseVector<T>& process(const BaseVector<T>& in) override;
  const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) override;
};

class NormLoudnessModuleInfo : public CFexProjectModuleInfo {
 public:
  NormLoudnessModuleInfo();
};

class NormLoudnessModule : public CFexAlgorithmModule<CNormLoudness<float>> {
 public:
  // Settings as readLoudnessSettings describes, without "dpcm".
  NormLoudnessModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  std::string getUsage() override { return "fex_normLoudness + lf=... + uf=... + nb=... + dpcm"; }
};
