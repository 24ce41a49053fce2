#pragma once
// "fex_centroid": the spectral centroid of each band of a power spectrum on
// the logarithmic band layout, as an offset in bins from the band's first bin.

#include <complex>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/modules/spectral_bands.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CSpectralCentroidMP7 : public CSpectralBands<T> {
 public:
  // Per band with bins [s, e]: sum of i * P[s + i] over sum of P[s + i];
  // 0 for a band without energy. A band longer than the last one fails with
  // the vector library's "unequal vector size".
  const BaseVector<T>& process(const BaseVector<T>& in) override;
  const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) override;
};

class CFexCentroidModuleInfo : public CFexProjectModuleInfo {
 public:
  CFexCentroidModuleInfo();
};

class CFexCentroidModule : public CFexAlgorithmModule<CSpectralCentroidMP7<float>> {
 public:
  // Global "samplingRate", "windowSize", "overlapSize" (not above 0),
  // "transformSize" (at least 1); local "loedge" (Hz), "hiedge" (Hz),
  // "numBands", "res" (bands per octave). An upper edge at or above half the
  // sampling rate lowers numBands on the quarter-octave grid until it fits and
  // leaves the adapted values in the global "auf" and "anb".
  CFexCentroidModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  std::string getUsage() override { return "fex_centroid + loedge=... + hiedge=... + numBands=..."; }
};
