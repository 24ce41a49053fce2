#pragma once
// "fex_feature_object": the leaf that ends every branch whose output goes into
// a signature. It hands nothing on; it collects its parent's float vectors, one
// row per frame, and when the graph gathers the meta frames it delivers them as
// one named, typed and optionally quantised feature object, serialised in a
// "FeatObj" frame. Everything that describes the feature (its name and type
// code, the node's settings, the frame period, the quantiser) travels inside
// the feature object.

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/restorable_meta_sink.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/heap_matrix.h"
#include "signature/feature_object.h"

class CFexFeatureObjectModuleInfo : public CFexProjectModuleInfo {
 public:
  CFexFeatureObjectModuleInfo();
};

class CFexFeatureObjectModule : public CFexMetaSinkModule, public CFexRestorableMetaSink {
 public:
  // Local: "featname" and "featver" (required), the column range "sc"/"ec"
  // (inclusive; used only when both are given), the quantiser "quantLine"
  // ("uniform", "log", "sin", "polynomial"), "quantMin"/"quantMax" (both
  // absent: each division's range is taken from the data), "rising1",
  // "rising2", "nrOfDivisions", "firstBandEx", and the frame-period settings
  // "groupFrames", "overlapFrames", "msPerRow". Global: "auf" (taken out of the
  // global settings so that no later module sees it), "frameDuration",
  // "frameOverlap".
  CFexFeatureObjectModule(SettingsBase* local, SettingsBase* global);
  ~CFexFeatureObjectModule() override;

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // Appends the frame's row (the kept columns); an empty vector adds nothing.
  // The output is always null.
  unsigned process(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  int getInputType() override { return FTI_bvFlt; }
  int getOutputType() override { return FTI_none; }
  // Refuses a column range that reaches beyond inputSize values; 0 otherwise.
  unsigned getOutputSize(unsigned inputSize) override;
  std::string getUsage() override { return "fex_feature_object + name=... + version=..."; }

  // Delivers the rows collected so far as one "FeatObj" frame. With final set
  // the collection starts anew; otherwise a later call delivers these rows
  // again, followed by the newer ones.
  void getMetaFrame(SMetaFrame& frame, int final) override;
  bool hasMetaFrame(int) override { return false; }

  void deliverFinalSettingAside(SMetaFrame& frame) override;
  void restoreSetAside() noexcept override;
  void forgetSetAside() noexcept override;

 private:
  // getMetaFrame, but a final delivery keeps the rows it handed over set
  // aside.
  void deliver(SMetaFrame& frame, int final);
  // Builds the quantiser block for rows: one quantiser per division, each over
  // its own division's columns; null without a quantiser characteristic.
  std::unique_ptr<CQuantModule<float>> makeQuantModule(const HeapMatrix<float>& rows) const;
  // The columns [start, end) of division i of a row of columns values.
  void divisionColumns(unsigned columns, unsigned i, unsigned& start, unsigned& end) const;
  // The frame period written with the feature.
  float rowPeriod() const;

  std::string inputSpace;
  std::string outputSpace;
  std::unique_ptr<CFeatureObject<float>> templateObject;
  HeapMatrix<float> collected;
  HeapMatrix<float> setAside;  // what the last final delivery handed over, until forgotten
  int32_t startColumn;
  int32_t endColumn;
  std::string quantLine;
  float quantMin;
  float quantMax;
  float rising1;
  float rising2;
  float auf;
  uint32_t nrOfDivisions;
  int32_t frameDuration;
  int32_t frameOverlap;
  int32_t groupFrames = 1;
  int32_t overlapFrames;
  int32_t msPerRow;
  bool rangeSet;
  bool firstBandEx;
};
