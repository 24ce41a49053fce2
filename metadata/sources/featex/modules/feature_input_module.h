#pragma once
// "fex_feature_input_module": starts a module graph from a feature stored in a
// signature file instead of from audio. At construction it reads the
// signature, copies the matrix of the named feature and publishes that
// feature's frame period as the graph's frame duration; then every frame hands
// on the next row, optionally folded to fewer values. Its input is ignored.

#include <cstdint>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class FeatureInputModuleInfo : public CFexProjectModuleInfo {
 public:
  FeatureInputModuleInfo();
};

class FeatureInputModule : public CFexModuleOld {
 public:
  // Local "numBands" (even; 0 = no folding) and "FeatureName"; global
  // "input", the path of the signature file. Writes the global
  // "frameDuration" (the feature's frame period, truncated) and
  // "frameOverlap" (0). Errors of the signature reader pass through.
  FeatureInputModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Hands on the next row. Once every row has been handed on, the next call
  // signals the end with an empty output: the graph does not visit the
  // children on the frame that signals the end, so signalling it with the
  // last row would lose that row.
  unsigned processRR(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  // The feature's column count, also when folding shortens the rows.
  unsigned getOutputSize(unsigned) override { return feature.cols; }
  std::string getUsage() override { return "fex_feature_input: input"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  // Folds the row in out to numBands values in place: the first value sums
  // the leading values, the last one the trailing values, and the ones
  // between are taken shifted by one place.
  void fold();

  HeapVector<float> row;  // feature.cols values, reused for every frame
  BaseVector<float> out;  // the handed-on view of row
  HeapMatrix<float> feature;
  uint32_t nextRow = 0;
  uint32_t numBands;
};
