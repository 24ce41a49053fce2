#pragma once
// "fex_zerocrossing": the number of sign changes between neighbouring samples
// of the frame, as a one-value vector (a count, not a rate per sample).

#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class CFexZeroCrossingModuleInfo : public CFexProjectModuleInfo {
 public:
  CFexZeroCrossingModuleInfo();
};

class CFexZeroCrossingModule : public CFexModuleOld {
 public:
  // Reads no settings.
  CFexZeroCrossingModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // A pair counts when the product of its samples is below 0: a zero sample
  // or a NaN does not cross. An empty frame, like a one-sample frame, has
  // no pair and gives 0.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned) override { return 1; }
  std::string getUsage() override { return "fex_zerocrossing"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  HeapVector<float> out;
};
