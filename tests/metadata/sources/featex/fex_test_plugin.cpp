// A plug-in module library as a third party would write it: one module type,
// "fex_test_plugin", that scales float vectors by its node's setting "gain".
// Built a second time without deleteInstance (FEX_TEST_PLUGIN_WITHOUT_DELETE)
// to stand for a library that breaks the contract.

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

#ifdef _WIN32
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

int live = 0;

const CFexProjectModuleInfo& descriptor() {
  static const CFexProjectModuleInfo moduleInfo("scales float vectors by 'gain'.");
  return moduleInfo;
}

class ScaleModule : public CFexModuleOld {
 public:
  ScaleModule(SettingsBase* local, SettingsBase* global)
      : CFexModuleOld(local, global, &descriptor()), gain(static_cast<float>(local->getDouble("gain", 1.0))) {
    ++live;
  }
  ~ScaleModule() override { --live; }

  unsigned processRR(void** output, const void* input) override {
    const auto& in = *static_cast<const BaseVector<float>*>(input);
    result.resize(in.size);
    for (unsigned i = 0; i < in.size; ++i) result[i] = in[i] * gain;
    *output = &result;
    return result.size;
  }
  const std::string& getInputSignalSpace() override { return space; }
  const std::string& getOutputSignalSpace() override { return space; }
  unsigned getOutputSize(unsigned inputSize) override { return inputSize; }
  std::string getUsage() override { return "fex_test_plugin: gain=factor"; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 private:
  float gain;
  HeapVector<float> result;
  std::string space;
};

}  // namespace

PLUGIN_EXPORT CFexModule* newInstance(SettingsBase* local, SettingsBase* global) {
  return new ScaleModule(local, global);
}

#ifndef FEX_TEST_PLUGIN_WITHOUT_DELETE
PLUGIN_EXPORT void deleteInstance(CFexModule* module) { delete module; }
#endif

PLUGIN_EXPORT const CFexModuleInfo* getModuleInfo() { return &descriptor(); }

// Lets the tests see that the graph deleted the modules it made.
PLUGIN_EXPORT int liveInstances() { return live; }
