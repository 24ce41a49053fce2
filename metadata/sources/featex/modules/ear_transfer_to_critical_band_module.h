#pragma once
// "fex_ear_transfer_to_critical_band": sums an ear-weighted spectrum over the
// critical bands of the sampling rate.

#include <cstdint>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class earTransferToCriticalBandModuleInfo : public CFexProjectModuleInfo {
 public:
  earTransferToCriticalBandModuleInfo();
};

class earTransferToCriticalBandModule : public CFexModuleOld {
 public:
  // Global "samplingRate" chooses the band edges.
  earTransferToCriticalBandModule(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Band b of an input of n values sums the input from index
  // edge[b] * n >> 10 up to edge[b + 1] * n >> 10 (exclusive), in float;
  // values beyond the last edge are left out.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned) override { return out.size; }
  std::string getUsage() override { return "ear_transfer_to_critical_band + ..."; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  const BaseVector<const uint32_t>& edges;
  HeapVector<float> out;
};
