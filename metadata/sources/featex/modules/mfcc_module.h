#pragma once
// "fex_mfcc": mel-frequency cepstral coefficients of a complex spectrum: 40
// triangular filters (13 edges 66.67 Hz apart from 133.33 Hz, then 29 edges
// a factor 1.0711703 apart), the base-10 logarithm of each filter's output
// magnitude, and a DCT of which coefficients 1 to nc are handed on.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CMelCepstrum : public CBaseModule<T> {
 public:
  static constexpr unsigned kFilterCount = 40;
  static constexpr unsigned kEdgeCount = kFilterCount + 2;
  static constexpr unsigned kMaxCoefficients = 64;

  // Parameter text key "nc" (coefficients, default 12, at most 64); the
  // format's samplingRate and transformSize place the bins.
  unsigned setParameters(const SignalFormat& format, const char* params) override;
  // "nc" + the coefficient count.
  std::string getParameterName() override;
  const BaseVector<T>& process(const BaseVector<T>& in) override;
  // The filters weigh the complex bins 0 to N/2 - 1 (not the Nyquist bin;
  // bins the input lacks add nothing); a filter output of magnitude at most
  // 1e-10 has the logarithm -10.
  const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) override;

  const float* getEdges() const { return edges; }
  // Filter j's weight of bin k; 0 outside its triangle.
  float getWeight(unsigned j, uint32_t k) const;

 private:
  // A filter's weights are 0 outside its triangle: only the bins from first
  // on where it is not are kept, at weights[offset ...].
  struct FilterSpan {
    uint32_t first;
    uint32_t count;
    size_t offset;
  };

  uint32_t nc = 12;
  uint32_t transformSize = 0;
  float edges[kEdgeCount] = {};
  FilterSpan spans[kFilterCount] = {};
  std::vector<float> weights;
  // Rows 1 to nc of the DCT, stored by filter: the nc values of filter j
  // from j * nc on. Row 0 is not handed on and so not kept.
  std::vector<float> dct;
  double logEnergies[kFilterCount] = {};
  HeapVector<T> out;
};

class CFexMfccModuleInfo : public CFexProjectModuleInfo {
 public:
  CFexMfccModuleInfo();
};

class CFexMfccModule : public CFexAlgorithmModule<CMelCepstrum<float>> {
 public:
  // Global "samplingRate", "transformSize"; local "numCoef" (required in
  // practice: absent, it reads as -1, which is beyond the 64 limit).
  CFexMfccModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  unsigned processCR(void** output, const void* input) override;
  bool isInputComplex() override { return true; }
  std::string getUsage() override { return "fex_mfcc + numCoef=..."; }
};
