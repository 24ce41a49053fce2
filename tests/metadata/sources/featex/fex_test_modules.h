#pragma once
// Small modules for the graph and extractor tests, configured through their
// node's settings:
//   TestModule ("test_module"): in, out (signal spaces, default empty);
//     inType, outType (default 1); size (fixed output length, the values then
//     being the frame number; default: the input's length, the values being
//     the input's); add (added to every value); endAt, ibwAt, failAt (the
//     call, counted from 0, that signals the end, raises IBW_Exception or
//     raises simpleException "test failure"); maxInput (getOutputSize of a
//     larger input raises simpleException "range"); setGlobal (a global key
//     set to 99 by the constructor). It notes the global "windowSize" it saw.
//   TestMetaSink ("test_sink"): counts the rows it is given and delivers a
//     "FeatObj" frame holding instance ":" rows, none before the first row;
//     a final delivery forgets the rows, as the feature-object leaf does.
//     minRows: with fewer rows, a delivery raises simpleException "too few
//     rows" and changes nothing. failFinal (true): while failFinal is set, a
//     final delivery raises simpleException "final refused" and changes
//     nothing.
//   "test_null": a factory that gives no module; "test_bad": a factory whose
//     module constructor fails with simpleException "bad setting".

#include <memory>
#include <string>

#include "metadata/sources/featex/feature_extractor.h"
#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class TestModule : public CFexModule {
 public:
  TestModule(SettingsBase* local, SettingsBase* global)
      : CFexModule(local, global, &descriptor()),
        inSpace(local->getString("in")),
        outSpace(local->getString("out")),
        inType(local->getLong("inType", FTI_bvFlt)),
        outType(local->getLong("outType", FTI_bvFlt)),
        fixedSize(local->getLong("size", -1)),
        add(static_cast<float>(local->getDouble("add", 0.0))),
        endAt(local->getLong("endAt", -1)),
        ibwAt(local->getLong("ibwAt", -1)),
        failAt(local->getLong("failAt", -1)),
        maxInput(local->getLong("maxInput", -1)) {
    seenWindowSize = global ? global->getLong("windowSize", -1) : -1;
    if (!local->getString("setGlobal").empty()) global->setLong(local->getString("setGlobal"), 99);
    ++live;
  }
  ~TestModule() override { --live; }

  unsigned process(void** output, const void* input) override {
    const int frame = calls++;
    lastInput = input;
    if (frame == ibwAt) throw IBW_Exception();
    if (frame == failAt) throw simpleException("test failure");
    unsigned n = fixedSize >= 0 ? static_cast<unsigned>(fixedSize) : 0;
    if (fixedSize < 0 && input && inType == FTI_bvFlt) n = static_cast<const BaseVector<float>*>(input)->size;
    vector.resize(n);
    for (unsigned i = 0; i < n; ++i)
      vector[i] = add + (fixedSize >= 0 ? static_cast<float>(frame) : static_cast<const BaseVector<float>*>(input)->data[i]);
    if (outType == FTI_none) {
      *output = nullptr;
    } else if (outType == FTI_hmFlt) {
      matrix = HeapMatrix<float>(vector, 1);
      *output = &matrix;
    } else {
      *output = &vector;
    }
    if (frame == endAt) signalEnd();
    return n;
  }
  const std::string& getInputSignalSpace() override { return inSpace; }
  const std::string& getOutputSignalSpace() override { return outSpace; }
  int getInputType() override { return inType; }
  int getOutputType() override { return outType; }
  unsigned getOutputSize(unsigned inputSize) override {
    if (maxInput >= 0 && inputSize > static_cast<unsigned>(maxInput)) throw simpleException("range");
    return fixedSize >= 0 ? static_cast<unsigned>(fixedSize) : inputSize;
  }
  std::string getUsage() override { return "test_module: in, out, inType, outType, size, add"; }

  static CFexModule* newInstance(SettingsBase* local, SettingsBase* global) { return new TestModule(local, global); }
  static const CFexModuleInfo* getModuleInfo() { return &descriptor(); }
  static const CFexModuleInfo& descriptor() {
    static const CFexProjectModuleInfo moduleInfo("test module");
    return moduleInfo;
  }

  static inline int live = 0;
  int calls = 0;
  const void* lastInput = nullptr;
  int seenWindowSize = -1;

 private:
  std::string inSpace;
  std::string outSpace;
  int inType;
  int outType;
  int fixedSize;
  float add;
  int endAt;
  int ibwAt;
  int failAt;
  int maxInput;
  HeapVector<float> vector;
  HeapMatrix<float> matrix;
};

class TestMetaSink : public CFexMetaSinkModule {
 public:
  TestMetaSink(SettingsBase* local, SettingsBase* global)
      : CFexMetaSinkModule(local, global, &descriptor()),
        failFinal(local->getBool("failFinal")),
        name(local->getString("instance")),
        minRows(local->getLong("minRows", 0)) {
    ++TestModule::live;
  }
  ~TestMetaSink() override { --TestModule::live; }

  unsigned process(void** output, const void* input) override {
    if (input && static_cast<const BaseVector<float>*>(input)->size > 0) lastValue = static_cast<const BaseVector<float>*>(input)->data[0];
    ++rows;
    *output = nullptr;
    return 0;
  }
  const std::string& getInputSignalSpace() override { return space; }
  const std::string& getOutputSignalSpace() override { return space; }
  int getInputType() override { return FTI_bvFlt; }
  int getOutputType() override { return FTI_none; }
  unsigned getOutputSize(unsigned) override { return 0; }
  std::string getUsage() override { return "test_sink"; }
  void getMetaFrame(SMetaFrame& frame, int final) override {
    lastFinal = final;
    if (rows < minRows) throw simpleException("too few rows");
    if (final && failFinal) throw simpleException("final refused");
    if (rows == 0) return;
    const std::string text = name + ":" + std::to_string(rows);
    frame.set(7, static_cast<uint32_t>(text.size()), "FeatObj", reinterpret_cast<const unsigned char*>(text.data()));
    if (final) rows = 0;
  }
  bool hasMetaFrame(int) override { return false; }

  static CFexModule* newInstance(SettingsBase* local, SettingsBase* global) { return new TestMetaSink(local, global); }
  static const CFexModuleInfo* getModuleInfo() { return &descriptor(); }
  static const CFexModuleInfo& descriptor() {
    static const CFexProjectModuleInfo moduleInfo("test meta sink");
    return moduleInfo;
  }

  bool failFinal;
  int rows = 0;
  int lastFinal = -1;
  float lastValue = 0;

 private:
  std::string name;
  int minRows;
  std::string space;
};

inline CFexModule* newNoModule(SettingsBase*, SettingsBase*) { return nullptr; }
inline CFexModule* newFailingModule(SettingsBase*, SettingsBase*) { throw simpleException("bad setting"); }

template <class Module>
CFexModuleInterface* testInterface() {
  return new CFexModuleInterface(&Module::newInstance, &CFexModule::deleteInstance, &Module::getModuleInfo);
}

// Registers the test modules; "fex_zerocrossing" stands for a built-in type.
inline void addTestModules(CFexModuleRegistry& registry) {
  registry.add("test_module", testInterface<TestModule>());
  registry.add("test_sink", testInterface<TestMetaSink>());
  registry.add("fex_zerocrossing", testInterface<TestModule>());
  registry.add("test_null",
               new CFexModuleInterface(&newNoModule, &CFexModule::deleteInstance, &TestModule::getModuleInfo));
  registry.add("test_bad",
               new CFexModuleInterface(&newFailingModule, &CFexModule::deleteInstance, &TestModule::getModuleInfo));
}
