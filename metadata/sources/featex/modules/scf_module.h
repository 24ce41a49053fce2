#pragma once
// "fex_scf": the spectral crest factor of each band of a power spectrum, the
// largest value over the mean, on the linear band layout.

#include <complex>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/modules/spectral_bands.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CCrestFactor : public CSpectralBands<T> {
 public:
  // Per band: max / mean, the maximum taken from 0; 0 for a band of zeros
  // or one whose mean is below the smallest normal float.
  const BaseVector<T>& process(const BaseVector<T>& in) override;
  const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) override;
};

class SCFModuleInfo : public CFexProjectModuleInfo {
 public:
  SCFModuleInfo();
};

class SCFModule : public CFexAlgorithmModule<CCrestFactor<float>> {
 public:
  // Global "samplingRate", "transformSize" (at least 1); local "lf" (Hz, at
  // least 0), "uf" (Hz; absent: the quarter-octave edge of nb bands), "nb"
  // (at least 1). An upper edge beyond the spectrum becomes the Nyquist
  // frequency, which is left in the global "auf".
  SCFModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  std::string getUsage() override { return "fex_scf + lf=... + uf=... + nb=..."; }
};
