#pragma once
// "fex_sfm_mp7": the spectral flatness of each band of a power spectrum, the
// geometric over the arithmetic mean, on the logarithmic band layout (or the
// linear one with "sfm_lin"). Upper bands of the logarithmic layout are first
// averaged in groups of neighbouring bins: groups of 2 from band 8, 4 from
// band 12, 8 from band 16, and so on.

#include <complex>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/modules/spectral_bands.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CSpectralFlatnessMP7 : public CSpectralBands<T> {
 public:
  // Per band: gm / am when am > gm and am is a normal float, else 1.0; a
  // value of exactly 0 counts in the geometric mean as e^-4.81648. An
  // ungrouped band longer than the last one fails with the vector library's
  // "unequal vector size".
  const BaseVector<T>& process(const BaseVector<T>& in) override;
  const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) override;
};

class SfmModuleInfo : public CFexProjectModuleInfo {
 public:
  SfmModuleInfo();
};

class SfmModule : public CFexAlgorithmModule<CSpectralFlatnessMP7<float>> {
 public:
  // Global "samplingRate", "transformSize" (at least 1); local "lf" (Hz, at
  // least 125), "uf" (Hz; on the logarithmic layout always the quarter-octave
  // edge of nb bands), "sfm_lin" ("true": linear layout), "nb" (at least 1).
  // An upper edge at or above half the sampling rate lowers nb on the
  // quarter-octave grid until it fits and leaves the adapted values in the
  // global "auf" and "anb".
  SfmModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  std::string getUsage() override { return "fex_sfm_mp7 + lf=... + uf=... + nb=..."; }
};
