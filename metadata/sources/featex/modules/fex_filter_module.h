#pragma once
// "fex_filter": filters the mono frame with the DC blocker or with a
// second-order high- or low-pass section. The filter state carries on from
// frame to frame, so the stream is filtered as one signal.

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/filter.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class CFexFilterModuleInfo : public CFexProjectModuleInfo {
 public:
  CFexFilterModuleInfo();
};

class CFexFilterModule : public CFexModuleOld {
 public:
  // Local "DcRejection" (the DC blocker instead of the section),
  // "cutOffFrequency" (Hz, 10000 when absent) and "hpSwitch" (0: low-pass,
  // anything else or absent: high-pass); global "samplingRate" (Hz). The
  // section is designed whether or not the DC blocker replaces it.
  CFexFilterModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned inputSize) override { return inputSize; }
  std::string getUsage() override { return "fex_filter"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

  const SecondOrderSection& getSection() const { return section; }

 private:
  bool dcRejection;
  uint32_t cutOffFrequency;
  uint32_t samplingRate;
  bool highpass;
  SecondOrderSection section;
  std::unique_ptr<IIRFilter<float>> filter;
  DcBlocker dcBlocker;
  HeapVector<float> out;
};
