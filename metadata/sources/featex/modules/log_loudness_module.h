#pragma once
// "fex_log_loudness": the base-10 logarithm of the loudness of groups of
// neighbouring critical bands, optionally as the change from the previous
// frame (DPCM).

#include <complex>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/modules/loudness_bands.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CLogLoudness : public CLoudnessBands<T> {
 public:
  // As CLoudnessBands; a text containing "DPCM" anywhere switches DPCM on.
  // The previous logarithms start at 0.
  unsigned setParameters(const SignalFormat& format, const char* params) override;
  // "DPCM" (when on) + "lb" + lb + "_ub" + ub + "_nb" + nb.
  std::string getParameterName() override;
  // Per group with sum s: 0 when s < 1 (or the group is empty); else
  // log10(s), or with DPCM its change from the group's previous logarithm (0
  // while that is 0). A group below 1 keeps its previous logarithm.
  const BaseVector<T>& process(const BaseVector<T>& in) override;
  const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) override;

 private:
  bool dpcm = false;
  HeapVector<T> prev;
};

class LogLoudnessModuleInfo : public CFexProjectModuleInfo {
 public:
  LogLoudnessModuleInfo();
};

class LogLoudnessModule : public CFexAlgorithmModule<CLogLoudness<float>> {
 public:
  // Settings as readLoudnessSettings describes, with "dpcm".
  LogLoudnessModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  std::string getUsage() override { return "fex_logLoudness + lf=... + uf=... + nb=... + dpcm"; }
};
