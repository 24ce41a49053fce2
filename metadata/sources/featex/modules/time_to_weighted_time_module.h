#pragma once
// "fex_time_to_weighted_time": multiplies each time frame by an analysis
// window of the global "windowSize" points.

#include <memory>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/window.h"

class TimeToWeightedTimeModuleInfo : public CFexProjectModuleInfo {
 public:
  TimeToWeightedTimeModuleInfo();
};

class TimeToWeightedTimeModule : public CFexModuleOld {
 public:
  enum WindowType { Hann = 0, Hamming = 1, Sine = 2, Blackman = 3, Rectangle = 6 };

  // Global "windowSize"; local "window": "Hamming", "Rectangle", "Hann",
  // "Sine" or "Blackman", exactly so spelt.
  TimeToWeightedTimeModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Frames must have the window's length (else the vector library's
  // "unequal vector size").
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned) override { return windowSize; }
  std::string getUsage() override { return "fex_time_to_weighted_time + ..."; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

  WindowType getWindowType() const { return windowType; }

 private:
  unsigned windowSize;
  WindowType windowType = Hann;
  std::unique_ptr<Window<float>> window;
  HeapVector<float> out;
};
