#pragma once
// What the log and norm loudness algorithms share: nb groups of neighbouring
// critical bands between a first band lb and an end band ub (exclusive), and
// the reading of their modules' settings.
//
// Parameter text keys: "lb" (default 0), "ub" (default: every critical band),
// "nb" (default 1), each at most the number of critical bands.

#include <cstdint>
#include <string>

#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CLoudnessBands : public CBaseModule<T> {
 public:
  unsigned setParameters(const SignalFormat& format, const char* params) override;
  // "lb" + lb + "_ub" + ub + "_nb" + nb.
  std::string getParameterName() override;

 protected:
  // Bands per group, (ub - lb) / nb; 0 when there are no groups.
  uint32_t groupWidth() const { return nb ? (ub - lb) / nb : 0; }
  // The sum, in single precision, of group g's bands; bands the input lacks
  // add nothing.
  T groupSum(const BaseVector<T>& in, unsigned g) const;

  uint32_t lb = 0;
  uint32_t ub = 0;
  uint32_t nb = 1;
  HeapVector<T> out;
};

// The settings of both loudness modules: global "samplingRate" and
// "transformSize" (at least 1), local "lb" (at least 0), "ub" (at most 26),
// "nb" (at most ub - lb) and, with dpcm, "dpcm" (on unless 0, so on when
// absent). Returns the parameter text and fills format with the sampling rate,
// the transform size and the number of critical bands.
std::string readLoudnessSettings(SettingsBase* local, SettingsBase* global, bool withDpcm, SignalFormat& format);
