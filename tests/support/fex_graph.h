#pragma once
// Test helpers for extraction modules: the global settings the front end
// computes, a module made directly through the registry, a module graph read
// from an XML text and fed frame by frame through FeatureExtractor, and an
// assertion on the framework's simpleException.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "metadata/sources/featex/feature_extractor.h"
#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

namespace fextest {

// What the extraction front end hands over for a mono stream: 10 ms frames
// without overlap.
inline Settings frontEndGlobals(unsigned samplingRate) {
  Settings globals;
  const auto windowSize = static_cast<int32_t>(std::floor(samplingRate * 10.0 * 0.001 + 0.5));
  globals.setLong("channels", 1);
  globals.setLong("samplingRate", static_cast<int32_t>(samplingRate));
  globals.setLong("windowSize", windowSize);
  globals.setLong("overlapSize", 0);
  globals.setLong("hopSize", windowSize);
  return globals;
}

// A module of a built-in type, made and deleted through the registry's handle
// as the graph does it. The settings must outlive the module.
class ModuleInstance {
 public:
  ModuleInstance(const std::string& type, Settings& local, Settings& global) {
    iface = registry.find(type);
    if (!iface) throw std::runtime_error("type not registered: " + type);
    module = iface->newInstance(&local, &global);
  }
  ModuleInstance(const ModuleInstance&) = delete;
  ModuleInstance& operator=(const ModuleInstance&) = delete;
  ~ModuleInstance() { iface->deleteInstance(module); }

  CFexModule* operator->() const { return module; }
  CFexModule& operator*() const { return *module; }

  // One process call; the output object as the module hands it on.
  template <typename Out, typename In>
  const Out* run(const In& input) {
    void* output = nullptr;
    module->process(&output, &input);
    return static_cast<const Out*>(output);
  }

  const CFexModuleInfo* info() const { return iface->getModuleInfo(); }

 private:
  CFexModuleRegistry registry;
  CFexModuleInterface* iface = nullptr;
  CFexModule* module = nullptr;
};

// A module graph read from an XML text, fed one frame at a time.
class Graph {
 public:
  explicit Graph(const std::string& xml, const Settings& globals = frontEndGlobals(44100),
                 const std::string& inputSignalSpace = "TimeMono", std::ostream* report = nullptr)
      : extractor(xml, false, globals, inputSignalSpace, &registry, nullptr, report) {}

  // One frame through the graph: the leaves' float outputs concatenated.
  // counted is computeFeatures' answer.
  std::vector<float> push(const std::vector<float>& frame, bool* counted = nullptr) {
    BaseVector<float> input(const_cast<float*>(frame.data()), static_cast<unsigned>(frame.size()));
    int type = FTI_none;
    const bool result = extractor.computeFeatures(out, &input, &type);
    if (counted) *counted = result;
    return std::vector<float>(out.begin(), out.end());
  }

  CFexModuleRegistry registry;
  FeatureExtractor extractor;

 private:
  HeapVector<float> out;
};

template <typename Call>
void expectSimpleException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected simpleException \"" << message << "\"";
  } catch (const simpleException& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

// Making a module of the type from these settings fails with the message.
inline void expectRefused(const std::string& type, Settings& local, Settings& global, const std::string& message) {
  expectSimpleException([&] { ModuleInstance module(type, local, global); }, message);
}

// The texts a module class describes itself with.
inline void expectDescribed(ModuleInstance& module, const std::string& description, const std::string& usage,
                            const std::string& inputSpace, const std::string& outputSpace) {
  EXPECT_EQ(module.info()->getDescription(), description);
  EXPECT_EQ(module.info()->getDate(), "Jul 24 2007");
  EXPECT_EQ(module.info()->getVersion(), "1.0");
  EXPECT_EQ(module->getUsage(), usage);
  EXPECT_EQ(module->getInputSignalSpace(), inputSpace);
  EXPECT_EQ(module->getOutputSignalSpace(), outputSpace);
}

inline std::vector<float> values(const BaseVector<float>& v) { return std::vector<float>(v.begin(), v.end()); }

}  // namespace fextest
