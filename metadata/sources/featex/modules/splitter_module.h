#pragma once
// "fex_splitter": picks the elements startIndex, startIndex + stepWidth, ...
// up to endIndex out of each vector; indices count from 1.

#include <cstdint>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

class SplitterModuleInfo : public CFexProjectModuleInfo {
 public:
  SplitterModuleInfo();
};

class SplitterModule : public CFexModule {
 public:
  // Local "startIndex" (below 1 becomes 1), "endIndex" (0: the length of the
  // first non-empty vector) and "stepWidth" (below 1 becomes 1). An endIndex
  // that is absent or below startIndex selects nothing and is refused with
  // simpleException.
  SplitterModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // An empty vector gives the shared empty vector. A vector that does not
  // reach endIndex (or, with endIndex 0, whose length fixes an endIndex below
  // startIndex) is refused with simpleException.
  unsigned process(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  int getInputType() override { return FTI_bvFlt; }
  int getOutputType() override { return FTI_bvFlt; }
  // (endIndex - startIndex) / stepWidth + 1; while endIndex still waits for
  // the first vector, inputSize stands for it. Never below 0.
  unsigned getOutputSize(unsigned inputSize) override;
  std::string getUsage() override { return "fex_splitter: vector index starts with 1"; }

  // The empty vector that every splitter hands on for an empty vector.
  static HeapVector<float>& emptyOutput();

 private:
  static int64_t countOf(int64_t start, int64_t end, int64_t step);

  int32_t startIndex;
  int32_t endIndex;
  int32_t stepWidth;
  HeapVector<float> out;
};
