#pragma once
// "fex_statistics": summarises blocks of sr consecutive feature vectors into
// their column means and variances, or hands on the sr vectors concatenated.
// Blocks do not overlap; between blocks the children see the shared empty
// vector, and in the concatenating mode the frame's pass through the graph
// ends here.

#include <cstdint>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class StatisticsModuleInfo : public CFexProjectModuleInfo {
 public:
  StatisticsModuleInfo();
};

class StatisticsModule : public CFexModuleOld {
 public:
  // Local "sr" (block length in frames, at least 1), "storeOnlyMean",
  // "storeOrigSamples" (not both) and "changeGlobalParams", which multiplies
  // the global "windowSize", "overlapSize" and "hopSize" by sr so that later
  // modules see the geometry of the blocks.
  StatisticsModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Every vector must have the length of the first (another length is
  // refused with simpleException). An empty vector (a parent that has
  // nothing this frame) is not a frame of a block: it is not counted and
  // gives the shared empty vector. With storeOrigSamples a frame that does not
  // complete a block raises IBW_Exception.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  unsigned getOutputSize(unsigned inputSize) override { return 2 * inputSize; }
  std::string getUsage() override { return "fex_statistics: sr=scaleratio"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

  // The empty vector that every statistics module hands on between blocks.
  static HeapVector<float>& emptyOutput();

 private:
  void prepare(unsigned frameLength);

  uint32_t sr;
  bool storeOnlyMean;
  bool storeOrigSamples;
  uint32_t counter = 0;
  unsigned frameLength = 0;  // 0 until the first frame
  HeapMatrix<float> values;
  HeapMatrix<float> squares;
  HeapVector<float> out;
};
