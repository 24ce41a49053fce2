#pragma once
// "fex_stereo_to_mono": reduces an interleaved two-channel frame to one
// channel (the mix, the difference, or one side), optionally followed by the
// DC blocker. A one-channel frame passes unchanged.

#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/modules/filter.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class StereoToMonoModuleInfo : public CFexProjectModuleInfo {
 public:
  StereoToMonoModuleInfo();
};

class StereoToMonoModule : public CFexModuleOld {
 public:
  enum class Mode { mix, diff, left, right };

  // Global "channels" (1 or 2); local "chan" (mix, diff, left or right; mix
  // when empty) and "dcr" (the DC blocker, which needs a global
  // "overlapSize" of 0).
  StereoToMonoModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned inputSize) override;
  std::string getUsage() override;
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  unsigned channels;
  Mode mode = Mode::mix;
  bool dcRejection;
  DcBlocker dcBlocker;
  HeapVector<float> out;
};
