#pragma once
// One configured extraction: reads the configuration, merges the caller's
// global settings into it, builds and checks the module graph, and then runs
// the graph once per frame and hands out the meta-sink leaves' metadata frames.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "metadata/sources/featex/config_tree.h"
#include "metadata/sources/featex/dsp_tree_node.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"
#include "signature/meta_frame.h"

// Raised by a module to end the current frame's pass through the graph; the
// extractor counts the frame with an empty result.
class IBW_Exception {};

// Told after every counted frame.
class CFexProgressListener {
 public:
  virtual ~CFexProgressListener() = default;
  virtual void frameProcessed(unsigned frameCount, unsigned frameTotal) = 0;
};

class FeatureExtractor {
 public:
  // Reads the configuration (a file with isFile, else the XML text itself),
  // adds the keys of globals that its top-level settings lack, builds the
  // graph with the registry and checks it against the given input signal
  // space. With a report stream, the graph and the global settings are
  // written to it. Failures raise simpleException or the modules' own
  // exceptions.
  FeatureExtractor(const std::string& configSource, bool isFile, const Settings& globals,
                   const std::string& inputSignalSpace, CFexModuleRegistry* registry,
                   CFexProgressListener* listener, std::ostream* report);
  FeatureExtractor(const FeatureExtractor&) = delete;
  FeatureExtractor& operator=(const FeatureExtractor&) = delete;
  // Deletes the graph (and with it the modules) before the configuration.
  ~FeatureExtractor();

  // The top-level "frameDuration" in milliseconds; -1 when the configuration
  // sets none.
  int32_t getFrameDuration() const { return frameDuration; }

  // One frame. False, with out empty, once a module has signalled the end of
  // its input; such frames are not counted.
  bool computeFeatures(HeapVector<float>& out, const void* input, int* inputType);

  // Measures each module's frame processing into timer from now on (null
  // stops it); the timer must outlive the measurement.
  void setModuleTimer(CFexModuleTimer* timer) { dspRoot->setTimer(timer); }

  // Appends the meta-sink leaves' metadata frames; returns the number of
  // frames in frames afterwards. All or nothing (DspTreeNode::collectMetaFrames).
  unsigned collectMetaFrames(std::vector<SMetaFrame>& frames, int final);

 private:
  void copyGlobalSettings(const Settings& globals);
  void writeReport(std::ostream& report);

  CFexProgressListener* listener;
  unsigned frameCount = 0;
  unsigned frameTotal = 0;
  ConfigTree configTree;
  ConfigTreeNode* configRoot = nullptr;
  std::unique_ptr<DspTreeNode> dspRoot;
  int32_t frameDuration = 0;
  bool endFlag = false;
};
