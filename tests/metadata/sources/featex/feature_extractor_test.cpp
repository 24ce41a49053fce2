#include "metadata/sources/featex/feature_extractor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/shared_library.h"
#include "tests/metadata/sources/featex/fex_test_modules.h"
#include "tests/support/temp_files.h"

namespace {

// The global settings the extraction front end computes for 44100 Hz.
Settings frontEndGlobals() {
  Settings globals;
  globals.setLong("channels", 1);
  globals.setLong("samplingRate", 44100);
  globals.setLong("windowSize", 441);
  globals.setLong("overlapSize", 0);
  globals.setLong("hopSize", 441);
  return globals;
}

class RecordingListener : public CFexProgressListener {
 public:
  void frameProcessed(unsigned frameCount, unsigned frameTotal) override { calls.emplace_back(frameCount, frameTotal); }
  std::vector<std::pair<unsigned, unsigned>> calls;
};

class FeatureExtractorTest : public ::testing::Test {
 protected:
  FeatureExtractorTest() { addTestModules(registry); }

  std::unique_ptr<FeatureExtractor> make(const std::string& xml, std::ostream* report = nullptr) {
    return std::make_unique<FeatureExtractor>(xml, false, frontEndGlobals(), "TimeMono", &registry, &listener,
                                              report);
  }

  std::string constructionFailure(const std::string& xml) {
    try {
      make(xml);
    } catch (const simpleException& e) {
      return e.what();
    }
    return "no exception";
  }

  CFexModuleRegistry registry;
  RecordingListener listener;
};

HeapVector<float> frameOf(std::initializer_list<float> list) {
  HeapVector<float> frame(static_cast<unsigned>(list.size()));
  std::copy(list.begin(), list.end(), frame.data);
  return frame;
}

}  // namespace

TEST_F(FeatureExtractorTest, ReportOfASingleModule) {
  std::ostringstream report;
  make("<module name=\"fex_zerocrossing\" instance=\"zc\"/>", &report);
  EXPECT_EQ(report.str(),
            "<featex>\n"
            " <CFexModule name = zc, interface = fex_zerocrossing>\n"
            " </CFexModule>\n"
            "</featex>\n"
            "\n"
            "tree-size: 2\n"
            "tree-depth: 1\n"
            "related output-size: 0\n"
            "Global settings:\n"
            "channels\t = 1\n"
            "hopSize\t = 441\n"
            "overlapSize\t = 0\n"
            "samplingRate\t = 44100\n"
            "windowSize\t = 441\n");
}

TEST_F(FeatureExtractorTest, FileSettingsWinOverTheCallersGlobals) {
  const std::string path = testfiles::tempPath("config.xml");
  std::ofstream(path) << "<config>\n  <param windowSize=\"1024\" frameDuration=\"10\"/>\n"
                         "  <module name=\"test_module\" instance=\"m\"/>\n</config>\n";
  FeatureExtractor extractor(path, true, frontEndGlobals(), "TimeMono", &registry, nullptr, nullptr);
  EXPECT_EQ(extractor.getFrameDuration(), 10);
  std::ostringstream report;
  FeatureExtractor reported(path, true, frontEndGlobals(), "TimeMono", &registry, nullptr, &report);
  EXPECT_NE(report.str().find("windowSize\t = 1024\n"), std::string::npos);
  EXPECT_NE(report.str().find("hopSize\t = 441\n"), std::string::npos);
  EXPECT_NE(report.str().find("frameDuration\t = 10\n"), std::string::npos);

  auto withoutDuration = make("<module name='test_module'/>");
  EXPECT_EQ(withoutDuration->getFrameDuration(), -1);
}

TEST_F(FeatureExtractorTest, ModulesWriteTheSharedGlobals) {
  // A module that writes a global leaves it in the root settings for the
  // modules built after it and for the report.
  std::ostringstream report;
  make("<c><module name='test_module' setGlobal='transformSize'/></c>", &report);
  EXPECT_NE(report.str().find("transformSize\t = 99\n"), std::string::npos);
}

TEST_F(FeatureExtractorTest, FramesCountUntilTheEnd) {
  auto extractor = make(
      "<c>"
      "<module name='test_module' instance='ender' endAt='3' size='0'/>"
      "<module name='test_module' instance='ibw' ibwAt='1'><module name='test_module' add='1'/></module>"
      "<module name='test_sink' instance='S'/>"
      "</c>");
  HeapVector<float> frame = frameOf({1, 2});
  HeapVector<float> out;
  int type = FTI_none;

  EXPECT_TRUE(extractor->computeFeatures(out, &frame, &type));
  EXPECT_EQ(std::vector<float>(out.begin(), out.end()), (std::vector<float>{2, 3}));
  // The module raising IBW_Exception costs this frame its output only.
  EXPECT_TRUE(extractor->computeFeatures(out, &frame, &type));
  EXPECT_EQ(out.size, 0u);
  EXPECT_TRUE(extractor->computeFeatures(out, &frame, &type));
  EXPECT_EQ(out.size, 2u);
  // The end: no output, and the frame does not count, now or later.
  EXPECT_FALSE(extractor->computeFeatures(out, &frame, &type));
  EXPECT_EQ(out.size, 0u);
  EXPECT_FALSE(extractor->computeFeatures(out, &frame, &type));
  EXPECT_EQ(out.size, 0u);
  EXPECT_EQ(listener.calls, (std::vector<std::pair<unsigned, unsigned>>{{1, 0}, {2, 0}, {3, 0}}));

  // The sink was skipped by the IBW_Exception pass only.
  std::vector<SMetaFrame> frames(2);
  EXPECT_EQ(extractor->collectMetaFrames(frames, 1), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(frames[2].data), frames[2].dataLen), "S:4");
}

TEST_F(FeatureExtractorTest, IbwAfterTheEndDoesNotCount) {
  auto extractor = make(
      "<c><module name='test_module' endAt='0'/><module name='test_module' ibwAt='1'/></c>");
  HeapVector<float> frame = frameOf({1});
  HeapVector<float> out;
  int type = FTI_none;
  EXPECT_FALSE(extractor->computeFeatures(out, &frame, &type));
  EXPECT_FALSE(extractor->computeFeatures(out, &frame, &type));
  EXPECT_EQ(out.size, 0u);
  EXPECT_TRUE(listener.calls.empty());
}

TEST_F(FeatureExtractorTest, OtherFrameErrorsPassToTheCaller) {
  auto extractor = make("<c><module name='test_module' failAt='0'/></c>");
  HeapVector<float> frame = frameOf({1});
  HeapVector<float> out;
  int type = FTI_none;
  EXPECT_THROW(extractor->computeFeatures(out, &frame, &type), simpleException);
  EXPECT_TRUE(listener.calls.empty());
}

TEST_F(FeatureExtractorTest, ConstructionFailuresPropagate) {
  EXPECT_EQ(constructionFailure("<c>"), "no element found at (line, col) = (0, 2).");
  EXPECT_EQ(constructionFailure("<c/>"), "missing CFexModule-interface at leaf.");
  EXPECT_EQ(constructionFailure("<c><module name='test_module' in='Spec' instance='s'/></c>"),
            "wrong input-signal-space for CFexModule-instance s.");
  // The output size for an input of 1000000 values is asked for once.
  EXPECT_EQ(constructionFailure("<c><module name='test_module' maxInput='999999'/></c>"), "range");
  EXPECT_EQ(constructionFailure("<c><module name='test_module' maxInput='1000000'/></c>"), "no exception");
  // An inner node whose type gave no module passes the checks; the output
  // size then finds it.
  EXPECT_EQ(constructionFailure("<c><module name='test_null'><module name='test_module'/></module></c>"),
            "CFexModule not loaded.");
  EXPECT_EQ(constructionFailure("<c><module name='FEX_ZEROCROSSING'/></c>"),
            std::string("shared-library-exception: couldn't load library: FEX_ZEROCROSSING") +
                platform::kSharedLibrarySuffix + " (code=126)");
  EXPECT_EQ(TestModule::live, 0);
}

TEST_F(FeatureExtractorTest, ModuleTimerCountsEachModulesFrames) {
  auto extractor = make(
      "<c>"
      "<module name='test_module' instance='ender' endAt='3' size='0'/>"
      "<module instance='untyped'><module name='test_module' instance='ibw' ibwAt='1'>"
      "<module name='test_module' instance='child' add='1'/></module></module>"
      "<module name='test_sink' instance='S'/>"
      "</c>");
  CFexModuleTimer timer;
  extractor->setModuleTimer(&timer);
  HeapVector<float> frame = frameOf({1, 2});
  HeapVector<float> out;
  int type = FTI_none;
  for (int i = 0; i < 5; ++i) extractor->computeFeatures(out, &frame, &type);
  // Depth first, modules only; a process call that raises is not counted,
  // nor are the modules that its frame's pass skipped.
  const struct {
    const char* instance;
    const char* type;
    uint64_t frames;
  } expected[] = {{"ender", "test_module", 5}, {"ibw", "test_module", 4}, {"child", "test_module", 4},
                  {"S", "test_sink", 4}};
  ASSERT_EQ(timer.getEntries().size(), 4u);
  CFexModuleTimer::Clock::duration sum(0);
  for (size_t i = 0; i < 4; ++i) {
    const CFexModuleTimer::Entry& entry = timer.getEntries()[i];
    EXPECT_EQ(entry.instance, expected[i].instance);
    EXPECT_EQ(entry.type, expected[i].type);
    EXPECT_EQ(entry.frames, expected[i].frames) << entry.instance;
    sum += entry.spent;
  }
  EXPECT_EQ(timer.total(), sum);

  extractor->setModuleTimer(nullptr);
  extractor->computeFeatures(out, &frame, &type);
  EXPECT_EQ(timer.getEntries()[0].frames, 5u);
}
