#pragma once
// The module graph ("dsp-tree"): one node per configuration node, each running
// its module on its parent's output and handing its own output to its
// children. The float outputs of the leaves, in leaf order, are a frame's
// feature vector; the meta-sink leaves deliver the metadata frames of the
// signature.
//
// A node whose configuration names no module type has no module: it passes
// its input, type and signal space through unchanged.

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "metadata/sources/featex/config_tree.h"
#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/module_timer.h"
#include "metadata/sources/featex/restorable_meta_sink.h"
#include "metadata/sources/vmtl/base_vector.h"
#include "signature/meta_frame.h"

class DspTreeNode {
 public:
  // Builds the node and its subtree. The module type named by cfg's "name"
  // is taken from the registry, or else loaded from a plug-in library and
  // added to the registry; each module gets its node's settings and global.
  // Both settings objects must outlive the tree.
  DspTreeNode(ConfigTreeNode& cfg, SettingsBase* global, CFexModuleRegistry* registry, bool* endFlag);
  DspTreeNode(const DspTreeNode&) = delete;
  DspTreeNode& operator=(const DspTreeNode&) = delete;
  // Deletes the module through its interface before anything else.
  ~DspTreeNode();

  // The four checks in order; the first failure raises simpleException.
  void check(const std::string& inputSignalSpace, int inputType);
  void checkLeaves();
  void checkLeafTypes();
  void checkSignalSpaces(const std::string& inputSignalSpace);
  void checkTypes(int inputType);

  // Appends every leaf of the subtree, depth first, children in order.
  void collectLeaves(std::vector<DspTreeNode*>& leafList);

  // One frame's pass through the subtree; the summed float output length of
  // the leaves reached.
  unsigned process(const void** input, int* inputType);
  // One frame from the root: out receives the leaves' float outputs in leaf
  // order. Returns the number of floats written.
  unsigned processFrame(HeapVector<float>& out, const void* input, int* inputType);
  // Concatenates the float outputs of the root's leaves into out, never past
  // its end. Returns the number of floats written.
  unsigned collectOutput(BaseVector<float>& out);
  // Appends the metadata frames that the meta-sink leaves deliver; returns
  // how many were appended. With final set the leaves forget what they
  // delivered, but only once every one of them has delivered: a collection
  // that fails, final or not, appends nothing and leaves every leaf's rows as
  // they were, whichever leaf failed, but for a plug-in's sink that fails its
  // final delivery after its trial (see tryFinalDeliveries).
  unsigned collectMetaFrames(std::vector<SMetaFrame>& frames, int final);

  // Enrolls every module of the subtree with timer, which then receives the
  // time of each module's frame processing; null stops the measurement.
  void setTimer(CFexModuleTimer* timer);

  unsigned getOutputSize(unsigned inputSize);
  unsigned getSize() const;
  unsigned getDepth() const;
  void writeXml(std::ostream& os, unsigned indent) const;

  // An empty signal space matches every other.
  static bool signalSpacesMatch(const std::string& a, const std::string& b);

  std::vector<DspTreeNode*> children;  // owned
  std::vector<DspTreeNode*> leaves;    // filled in the root only; not owned
  void* output = nullptr;              // the module's current output, owned by the module
  CFexModule* module = nullptr;
  std::string instance;
  CFexModuleInterface* iface = nullptr;  // owned by the node only when registry is null
  CFexModuleRegistry* registry;
  std::string type;
  bool* endFlag;
  CFexModuleTimer* timer = nullptr;
  unsigned timerEntry = 0;
  // The module's data types, asked once when it is made: a frame's pass
  // reads them at every node.
  int moduleInputType = FTI_none;
  int moduleOutputType = FTI_none;

 private:
  // Children get the registry given to this node, even when this node, having
  // no type, keeps none.
  void build(ConfigTreeNode& cfg, SettingsBase* global, CFexModuleRegistry* givenRegistry);
  void release();
  // The module when it is a meta sink, else null.
  CFexMetaSinkModule* metaSink() const;
  // The module when it is a meta sink whose final delivery can be taken
  // back, else null.
  CFexRestorableMetaSink* restorableSink() const;
  // The trial delivery of every meta-sink leaf that is not restorable.
  void tryFinalDeliveries();
  // The restorable leaves among the first delivered leaves take back the
  // rows they set aside (restore), or forget them.
  void endFinalDeliveries(size_t delivered, bool restore);
  // Forgets the outputs of this subtree, so that leaves skipped this frame
  // hand on nothing left over from an earlier frame.
  void clearOutputs();
};
