#pragma once
// "fex_ase": the audio spectrum envelope, the energy of a power spectrum in
// bands on the grid 1000 * 2^(k * r) Hz (r = 2^resexp octaves per band)
// between a lower and an upper edge, plus one band below the lower edge and
// one above the upper edge, scaled to the analysis window's energy.

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CSpectrumEnvelopeMP7 : public CBaseModule<T> {
 public:
  // Parameter text keys: "lf" (Hz, default 62.5), "uf" (Hz, default 16000),
  // "re" (resolution exponent, default -2). The format's windowSize (a
  // Hamming window) and transformSize give the scale. Returns the number of
  // bands.
  unsigned setParameters(const SignalFormat& format, const char* params) override;
  // "lf" + lf + "_uf" + uf + "_re" + re, the frequencies truncated.
  std::string getParameterName() override;
  // A bin that straddles a band edge is shared between the two bands in
  // proportion to its part on each side. Bins the input lacks contribute
  // nothing.
  const BaseVector<T>& process(const BaseVector<T>& in) override;
  const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) override;

  // Where a band starts: its first bin and the part of that bin it takes.
  struct Record {
    uint32_t bin;
    float weight;
  };
  const std::vector<Record>& getRecords() const { return records; }
  float getScale() const { return scale; }

 private:
  float lf = 62.5f;
  float uf = 16000.0f;
  int32_t re = -2;
  float scale = 1.0f;
  std::vector<Record> records;
  HeapVector<T> out;
};

class CFexAseModuleInfo : public CFexProjectModuleInfo {
 public:
  CFexAseModuleInfo();
};

class CFexAseModule : public CFexAlgorithmModule<CSpectrumEnvelopeMP7<float>> {
 public:
  // Global "samplingRate", "windowSize", "overlapSize" (not above 0),
  // "transformSize" (at least 1); local "loedge" and "hiedge" (Hz, taken as
  // unsigned) and "resexp". An upper edge beyond the spectrum (an absent one
  // included) becomes the Nyquist frequency, which is left in the global
  // "auf".
  CFexAseModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  std::string getUsage() override { return "fex_ase + loedge=... + hiedge=... + resexp=..."; }
};
