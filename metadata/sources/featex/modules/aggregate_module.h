#pragma once
// "fex_aggregate": collects the stream of feature vectors and hands on a
// matrix of the last groupFrames vectors every hop frames, hop being
// groupFrames - overlapFrames. Between matrices its children see the shared
// empty matrix.

#include <cstdint>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class AggregateModuleInfo : public CFexProjectModuleInfo {
 public:
  AggregateModuleInfo();
};

class AggregateModule : public CFexModule {
 public:
  // Local "groupFrames" (at least 1) and "overlapFrames" (below
  // groupFrames; absent it reads as -1, which makes the hop groupFrames + 1).
  AggregateModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Only the last groupFrames vectors are ever handed on, so only they are
  // kept, in a ring. Every vector must have the length of the first; another length is refused with
  // simpleException. An empty vector (a parent that has nothing this frame)
  // is not a frame: it is not counted and gives the shared empty matrix.
  unsigned process(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  int getInputType() override { return FTI_bvFlt; }
  int getOutputType() override { return FTI_hmFlt; }
  unsigned getOutputSize(unsigned inputSize) override { return inputSize; }
  std::string getUsage() override { return "fex_aggregate: groupFrames=number of frames, overlapFrames=frame overlap"; }

  // The empty matrix that every aggregate module hands on between results.
  static HeapMatrix<float>& emptyOutput();

 private:
  uint32_t groupFrames;
  int32_t overlapFrames;
  uint32_t hop;
  uint32_t counter = 0;
  // The last frames, up to groupFrames of them; once full, the next frame
  // replaces the oldest, at row oldest.
  HeapMatrix<float> recent;
  uint32_t oldest = 0;
  HeapMatrix<float> out;
};
