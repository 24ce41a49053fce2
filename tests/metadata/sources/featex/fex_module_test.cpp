#include "metadata/sources/featex/fex_module.h"

#include <gtest/gtest.h>

#include <string>

#include "metadata/sources/featex/settings.h"

namespace {

const CFexProjectModuleInfo oldInfo("converts signal-space 'a' to signal-space 'b'.");

// Supports only real-to-real processing; the complex flags are chosen per test.
class RealOnlyModule : public CFexModuleOld {
 public:
  RealOnlyModule(bool complexIn, bool complexOut, const CFexModuleInfo* info = &oldInfo)
      : CFexModuleOld(nullptr, nullptr, info), complexIn(complexIn), complexOut(complexOut) {}

  unsigned processRR(void** output, const void* input) override {
    *output = const_cast<void*>(input);
    return 7;
  }
  const std::string& getInputSignalSpace() override { return space; }
  const std::string& getOutputSignalSpace() override { return space; }
  unsigned getOutputSize(unsigned inputSize) override { return inputSize; }
  std::string getUsage() override { return "real only"; }
  bool isInputComplex() override { return complexIn; }
  bool isOutputComplex() override { return complexOut; }

 private:
  bool complexIn;
  bool complexOut;
  std::string space;
};

class DestructionCountingModule : public CFexModule {
 public:
  explicit DestructionCountingModule(int& destroyed) : CFexModule(nullptr, nullptr, nullptr), destroyed(destroyed) {}
  ~DestructionCountingModule() override { ++destroyed; }
  unsigned process(void**, const void*) override { return 0; }
  const std::string& getInputSignalSpace() override { return space; }
  const std::string& getOutputSignalSpace() override { return space; }
  int getInputType() override { return FTI_bvFlt; }
  int getOutputType() override { return FTI_bvFlt; }
  unsigned getOutputSize(unsigned) override { return 0; }
  std::string getUsage() override { return ""; }

 private:
  int& destroyed;
  std::string space;
};

std::string processFailure(CFexModule& module) {
  void* output = nullptr;
  int input = 0;
  try {
    module.process(&output, &input);
  } catch (const simpleException& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace

TEST(FexModuleTest, OldModuleDispatchesOnItsTypes) {
  const std::string description = "converts signal-space 'a' to signal-space 'b'.";
  RealOnlyModule complexToReal(true, false);
  EXPECT_EQ(complexToReal.getInputType(), FTI_bvCplx);
  EXPECT_EQ(complexToReal.getOutputType(), FTI_bvFlt);
  EXPECT_EQ(processFailure(complexToReal), "process : C->R not defined. " + description);

  RealOnlyModule complexToComplex(true, true);
  EXPECT_EQ(processFailure(complexToComplex), "process : C->C not defined. " + description);
  RealOnlyModule realToComplex(false, true);
  EXPECT_EQ(processFailure(realToComplex), "process : R->C not defined. " + description);

  RealOnlyModule realToReal(false, false);
  void* output = nullptr;
  int input = 0;
  EXPECT_EQ(realToReal.process(&output, &input), 7u);
  EXPECT_EQ(output, &input);
  EXPECT_EQ(realToReal.getModuleKind(), FMK_old);
}

TEST(FexModuleTest, DefaultProcessVariantsRaiseEachTheirMessage) {
  RealOnlyModule module(false, false);
  void* output = nullptr;
  const std::string tail = "not defined. converts signal-space 'a' to signal-space 'b'.";
  auto message = [&](auto call) {
    try {
      call();
    } catch (const simpleException& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([&] { module.processCC(&output, nullptr); }), "process : C->C " + tail);
  EXPECT_EQ(message([&] { module.processRC(&output, nullptr); }), "process : R->C " + tail);
  EXPECT_EQ(message([&] { module.processCR(&output, nullptr); }), "process : C->R " + tail);

  // A module without a descriptor still reports the kind of conversion.
  RealOnlyModule bare(true, true, nullptr);
  EXPECT_EQ(processFailure(bare), "process : C->C not defined. ");
}

TEST(FexModuleTest, EndFlagIsSetOnceAndStays) {
  int destroyed = 0;
  DestructionCountingModule module(destroyed);
  EXPECT_FALSE(module.isEndSignaled());
  module.signalEnd();
  EXPECT_TRUE(module.isEndSignaled());
  module.signalEnd();
  EXPECT_TRUE(module.isEndSignaled());
  EXPECT_EQ(module.getModuleKind(), FMK_plain);
}

TEST(FexModuleTest, DeleteInstanceDeletesThroughTheVirtualDestructor) {
  CFexModule::deleteInstance(nullptr);
  int destroyed = 0;
  CFexModule::deleteInstance(new DestructionCountingModule(destroyed));
  EXPECT_EQ(destroyed, 1);
}

TEST(FexModuleTest, ProjectDescriptor) {
  const CFexProjectModuleInfo usual("collects vectors and concatenates them to matrices");
  const CFexProjectModuleInfo later("... create feature object", "Aug 14 2007");
  const CFexModuleInfo& info = usual;
  EXPECT_EQ(info.getDescription(), "collects vectors and concatenates them to matrices");
  EXPECT_EQ(info.getDate(), "Jul 24 2007");
  EXPECT_EQ(info.getVersion(), "1.0");
  EXPECT_EQ(later.getDate(), "Aug 14 2007");
  EXPECT_EQ(later.getDescription(), "... create feature object");
  EXPECT_NE(info.getAuthor().find("kivet"), std::string::npos);
  EXPECT_NE(info.getOrganization().find("kivet"), std::string::npos);
}

TEST(FexModuleTest, SimpleExceptionCarriesItsMessage) {
  const simpleException original("shared-library-exception: x");
  const simpleException copy(original);
  EXPECT_STREQ(copy.what(), "shared-library-exception: x");
  const std::exception& base = copy;
  EXPECT_STREQ(base.what(), "shared-library-exception: x");
}
