#include "metadata/sources/featex/dsp_tree_node.h"

#include <algorithm>
#include <cstddef>
#include <utility>

DspTreeNode::DspTreeNode(ConfigTreeNode& cfg, SettingsBase* global, CFexModuleRegistry* registry, bool* endFlag)
    : registry(registry), endFlag(endFlag) {
  try {
    build(cfg, global, registry);
  } catch (...) {
    release();
    throw;
  }
}

DspTreeNode::~DspTreeNode() { release(); }

void DspTreeNode::build(ConfigTreeNode& cfg, SettingsBase* global, CFexModuleRegistry* givenRegistry) {
  type = cfg.settings.getString("name");
  if (!type.empty()) {
    if (registry) iface = registry->find(type);
    if (!iface) {
      iface = new CFexPlugInInterface(type);
      // Later nodes of the same type find the library loaded.
      if (registry) registry->add(type, iface);
    }
    instance = cfg.settings.getString("instance");
    module = iface->newInstance(&cfg.settings, global);
    if (module) {
      moduleInputType = module->getInputType();
      moduleOutputType = module->getOutputType();
    }
  } else {
    registry = nullptr;
  }
  children.reserve(cfg.children.size());
  for (ConfigTreeNode* child : cfg.children)
    children.push_back(new DspTreeNode(*child, global, givenRegistry, endFlag));
}

void DspTreeNode::release() {
  if (iface) iface->deleteInstance(module);
  module = nullptr;
  output = nullptr;
  if (!registry) delete iface;
  iface = nullptr;
  for (DspTreeNode* child : children) delete child;
  children.clear();
  leaves.clear();
}

void DspTreeNode::check(const std::string& inputSignalSpace, int inputType) {
  checkLeaves();
  checkLeafTypes();
  checkSignalSpaces(inputSignalSpace);
  checkTypes(inputType);
}

void DspTreeNode::checkLeaves() {
  if (children.empty()) {
    if (!iface) throw simpleException("missing CFexModule-interface at leaf.");
    if (!module) throw simpleException("missing CFexModule-instance at leaf.");
  }
  for (DspTreeNode* child : children) child->checkLeaves();
}

void DspTreeNode::checkLeafTypes() {
  if (children.empty() && module) {
    const int outputType = module->getOutputType();
    if (outputType != FTI_bvFlt && outputType != FTI_none)
      throw simpleException("wrong feature type at leaf! (alloed: FTI_bvFlt,FTI_none)");
  }
  for (DspTreeNode* child : children) child->checkLeafTypes();
}

// An inner node whose interface gave no module is passed through like a node
// without a type; the frame pass and getOutputSize report it.
void DspTreeNode::checkSignalSpaces(const std::string& inputSignalSpace) {
  const std::string* childSpace = &inputSignalSpace;
  if (iface && module) {
    if (!signalSpacesMatch(module->getInputSignalSpace(), inputSignalSpace))
      throw simpleException("wrong input-signal-space for CFexModule-instance " + instance + ".");
    childSpace = &module->getOutputSignalSpace();
  }
  for (DspTreeNode* child : children) child->checkSignalSpaces(*childSpace);
}

void DspTreeNode::checkTypes(int inputType) {
  int childType = inputType;
  if (iface && module) {
    const int moduleInputType = module->getInputType();
    if (inputType != FTI_none && moduleInputType != inputType && moduleInputType != FTI_any)
      throw simpleException("Input type mismatch for CFexModule instance " + instance);
    childType = module->getOutputType();
  }
  for (DspTreeNode* child : children) child->checkTypes(childType);
}

bool DspTreeNode::signalSpacesMatch(const std::string& a, const std::string& b) {
  return a.empty() || b.empty() || a == b;
}

void DspTreeNode::collectLeaves(std::vector<DspTreeNode*>& leafList) {
  if (children.empty()) leafList.push_back(this);
  for (DspTreeNode* child : children) child->collectLeaves(leafList);
}

unsigned DspTreeNode::process(const void** input, int* inputType) {
  const void* data = *input;
  unsigned size = 0;
  if (iface) {
    if (!module) throw simpleException("CFexModule not loaded.");
    if (*inputType != moduleInputType && *inputType != FTI_none && moduleInputType != FTI_any)
      throw simpleException("Types missmatch.");
    if (timer) {
      const CFexModuleTimer::Clock::time_point start = CFexModuleTimer::Clock::now();
      module->process(&output, data);
      timer->add(timerEntry, CFexModuleTimer::Clock::now() - start);
    } else {
      module->process(&output, data);
    }
    if (module->isEndSignaled()) {
      if (endFlag) *endFlag = true;
      clearOutputs();
      return 0;
    }
    if (children.empty() && output && moduleOutputType == FTI_bvFlt)
      size = static_cast<const BaseVector<float>*>(output)->size;
    data = output;
  } else {
    output = nullptr;
  }
  int childType = module ? moduleOutputType : *inputType;
  for (DspTreeNode* child : children) size += child->process(&data, &childType);
  return size;
}

void DspTreeNode::clearOutputs() {
  output = nullptr;
  for (DspTreeNode* child : children) child->clearOutputs();
}

unsigned DspTreeNode::processFrame(HeapVector<float>& out, const void* input, int* inputType) {
  const unsigned count = process(&input, inputType);
  out.resize(count);
  return count == 0 ? 0 : collectOutput(out);
}

// Only float-vector leaves count, as in process, and the copy stops at the end
// of out: a module that hands on more than it was counted for cannot write
// past it.
unsigned DspTreeNode::collectOutput(BaseVector<float>& out) {
  unsigned offset = 0;
  for (DspTreeNode* leaf : leaves) {
    if (!leaf->output || !leaf->module || leaf->moduleOutputType != FTI_bvFlt) continue;
    const auto* values = static_cast<const BaseVector<float>*>(leaf->output);
    const unsigned count = std::min(values->size, out.size - offset);
    std::copy_n(values->data, count, out.data + offset);
    offset += count;
  }
  return offset;
}

CFexMetaSinkModule* DspTreeNode::metaSink() const {
  if (!module || module->getModuleKind() != FMK_metaSink) return nullptr;
  return static_cast<CFexMetaSinkModule*>(module);
}

// A plug-in library may have been built without type information, so its
// modules are never asked what else they derive from.
CFexRestorableMetaSink* DspTreeNode::restorableSink() const {
  if (!metaSink() || dynamic_cast<CFexPlugInInterface*>(iface)) return nullptr;
  return dynamic_cast<CFexRestorableMetaSink*>(module);
}

unsigned DspTreeNode::collectMetaFrames(std::vector<SMetaFrame>& frames, int final) {
  if (final) tryFinalDeliveries();
  // Room for every leaf's frame first: once the leaves have delivered,
  // keeping what they delivered must not fail. A collection that fails
  // nevertheless appends nothing.
  const size_t before = frames.size();
  frames.reserve(before + leaves.size());
  size_t asked = 0;
  try {
    for (; asked < leaves.size(); ++asked) {
      DspTreeNode* leaf = leaves[asked];
      CFexMetaSinkModule* sink = leaf->metaSink();
      if (!sink) continue;
      SMetaFrame frame;
      CFexRestorableMetaSink* restorable = final ? leaf->restorableSink() : nullptr;
      if (restorable)
        restorable->deliverFinalSettingAside(frame);
      else
        sink->getMetaFrame(frame, final);
      if (frame.data) frames.push_back(std::move(frame));
    }
  } catch (...) {
    frames.erase(frames.begin() + static_cast<std::ptrdiff_t>(before), frames.end());
    if (final) endFinalDeliveries(asked, true);
    throw;
  }
  if (final) endFinalDeliveries(asked, false);
  return static_cast<unsigned>(frames.size() - before);
}

// A final delivery makes a leaf forget its rows, and the leaves deliver one
// after the other: should a later one fail, the earlier ones must not have
// lost theirs, or more samples with a later collection would give features
// without the start of the song. A restorable leaf sets its rows aside until
// every leaf has delivered; any other first delivers without final, which
// leaves it as it was, and what it delivers is dropped at once. Only such a
// leaf that delivers in this trial and then fails its final delivery can
// still leave the other leaves of its kind before it emptied.
void DspTreeNode::tryFinalDeliveries() {
  for (DspTreeNode* leaf : leaves) {
    CFexMetaSinkModule* sink = leaf->metaSink();
    if (!sink || leaf->restorableSink()) continue;
    SMetaFrame trial;
    sink->getMetaFrame(trial, 0);
  }
}

void DspTreeNode::endFinalDeliveries(size_t delivered, bool restore) {
  for (size_t i = 0; i < delivered; ++i) {
    CFexRestorableMetaSink* restorable = leaves[i]->restorableSink();
    if (!restorable) continue;
    if (restore)
      restorable->restoreSetAside();
    else
      restorable->forgetSetAside();
  }
}

void DspTreeNode::setTimer(CFexModuleTimer* newTimer) {
  timer = module ? newTimer : nullptr;
  if (timer) timerEntry = timer->enroll(instance, type);
  for (DspTreeNode* child : children) child->setTimer(newTimer);
}

unsigned DspTreeNode::getOutputSize(unsigned inputSize) {
  if (iface && !module) throw simpleException("CFexModule not loaded.");
  if (children.empty()) return module ? module->getOutputSize(inputSize) : 0;
  const unsigned childInputSize = module ? module->getOutputSize(inputSize) : inputSize;
  unsigned size = 0;
  for (DspTreeNode* child : children) size += child->getOutputSize(childInputSize);
  return size;
}

unsigned DspTreeNode::getSize() const {
  unsigned size = 1;
  for (const DspTreeNode* child : children) size += child->getSize();
  return size;
}

unsigned DspTreeNode::getDepth() const {
  unsigned depth = 0;
  for (const DspTreeNode* child : children) depth = std::max(depth, child->getDepth() + 1);
  return depth;
}

void DspTreeNode::writeXml(std::ostream& os, unsigned indent) const {
  const std::string blanks(indent, ' ');
  if (iface)
    os << blanks << "<CFexModule name = " << instance << ", interface = " << type << ">" << std::endl;
  else
    os << blanks << blanks << "<featex>" << std::endl;
  for (const DspTreeNode* child : children) child->writeXml(os, indent + 1);
  os << blanks << "</" << (iface ? "CFexModule>" : "featex>") << "\n";
}
