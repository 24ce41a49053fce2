#include "metadata/sources/featex/feature_extractor.h"

FeatureExtractor::FeatureExtractor(const std::string& configSource, bool isFile, const Settings& globals,
                                   const std::string& inputSignalSpace, CFexModuleRegistry* registry,
                                   CFexProgressListener* listener, std::ostream* report)
    : listener(listener) {
  configRoot = configTree.load(configSource, isFile, 512);
  copyGlobalSettings(globals);
  // The root's settings are every module's global settings.
  dspRoot = std::make_unique<DspTreeNode>(*configRoot, &configRoot->settings, registry, &endFlag);
  dspRoot->check(inputSignalSpace, FTI_none);
  dspRoot->collectLeaves(dspRoot->leaves);
  // Evaluated for the modules' own range checks; the size itself is not kept.
  dspRoot->getOutputSize(1000000);
  frameDuration = configRoot->settings.getLong("frameDuration", -1);
  if (report) writeReport(*report);
}

FeatureExtractor::~FeatureExtractor() {
  dspRoot.reset();
  configTree.release();
}

// Keys that the configuration's top-level "param" elements set keep the
// file's values, so the file can override the caller's computed settings.
void FeatureExtractor::copyGlobalSettings(const Settings& globals) {
  Settings& settings = configRoot->settings;
  std::string key;
  for (unsigned i = 0; i < globals.size(); ++i) {
    key = globals.getNextKey(key);
    if (!settings.contains(key)) settings.setString(key, globals.getString(key));
  }
}

void FeatureExtractor::writeReport(std::ostream& report) {
  dspRoot->writeXml(report, 0);
  report << "\n";
  report << "tree-size: " << dspRoot->getSize() << std::endl;
  report << "tree-depth: " << dspRoot->getDepth() << std::endl;
  report << "related output-size: " << dspRoot->getOutputSize(0) << std::endl;
  report << "Global settings:" << std::endl;
  configRoot->settings.print(report);
}

bool FeatureExtractor::computeFeatures(HeapVector<float>& out, const void* input, int* inputType) {
  try {
    dspRoot->processFrame(out, input, inputType);
  } catch (const IBW_Exception&) {
    out.resize(0);
  }
  // Once raised the end flag stays raised: no later frame counts, whether or
  // not a module cut its pass short.
  if (endFlag) {
    out.resize(0);
    return false;
  }
  ++frameCount;
  if (listener) listener->frameProcessed(frameCount, frameTotal);
  return true;
}

unsigned FeatureExtractor::collectMetaFrames(std::vector<SMetaFrame>& frames, int final) {
  dspRoot->collectMetaFrames(frames, final);
  return static_cast<unsigned>(frames.size());
}
