#include "api/vra_extractor.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/api/api_test_support.h"

using namespace vemra_kivet;
using apitest::expectCode;
using apitest::writeFile;

namespace {

// Frames pass the rectangle window unchanged, but only when they are as long
// as the window, i.e. the global "windowSize".
const char* const kWindowedFramesConfig =
    "<featex><param frameDuration=\"10\"/>"
    "<module name=\"fex_time_to_weighted_time\" instance=\"w\" window=\"Rectangle\">"
    "<module name=\"fex_feature_object\" instance=\"out\" featname=\"Windowed\" featver=\"100\"/>"
    "</module></featex>";

}  // namespace

TEST(VraExtractor, WindowIsTenMillisecondsRoundedHalfUp) {
  const std::string config = writeFile("windowed.xml", kWindowedFramesConfig);
  const struct {
    unsigned rate;
    unsigned window;
  } cases[] = {{44100, 441}, {22050, 221}, {8000, 80}, {48000, 480}};
  for (const auto& c : cases) {
    vraExtractor extractor;
    extractor.init(config.c_str(), c.rate);
    std::vector<float> samples(c.window, 0.25f);
    extractor.processFrame(BaseVector<float>(samples.data(), c.window));
    // One sample short of the window does not fit the window module.
    std::vector<float> shorter(c.window - 1, 0.25f);
    EXPECT_ANY_THROW(extractor.processFrame(BaseVector<float>(shorter.data(), c.window - 1))) << c.rate;
    const CAudioSignMulti signature = extractor.getSignature();
    const HeapMatrix<float>& rows = apitest::featureMatrix(signature, "Windowed");
    EXPECT_EQ(rows.rows, 1u) << c.rate;
    EXPECT_EQ(rows.cols, c.window) << c.rate;
    EXPECT_FLOAT_EQ(rows.data[0], 0.25f);
  }
}

TEST(VraExtractor, ConfigurationOverridesTheComputedWindow) {
  const std::string config = writeFile(
      "override.xml",
      "<featex><param frameDuration=\"10\" windowSize=\"100\"/>"
      "<module name=\"fex_time_to_weighted_time\" instance=\"w\" window=\"Rectangle\">"
      "<module name=\"fex_feature_object\" instance=\"out\" featname=\"Windowed\" featver=\"100\"/>"
      "</module></featex>");
  vraExtractor extractor;
  extractor.init(config.c_str(), 44100);
  std::vector<float> samples(100, 0.5f);
  extractor.processFrame(BaseVector<float>(samples.data(), 100));
  EXPECT_EQ(apitest::featureMatrix(extractor.getSignature(), "Windowed").cols, 100u);
}

TEST(VraExtractor, FrameDuration) {
  vraExtractor extractor;
  EXPECT_EQ(extractor.getFrameDuration(), -1);
  extractor.init(writeFile("fd25.xml", apitest::rawFramesConfig("<param frameDuration=\"25\"/>")).c_str(), 44100);
  EXPECT_EQ(extractor.getFrameDuration(), 25);
  extractor.init(writeFile("fdnone.xml", apitest::rawFramesConfig("")).c_str(), 44100);
  EXPECT_EQ(extractor.getFrameDuration(), -1);
}

TEST(VraExtractor, MissingFileIsCode4AndDropsThePreviousGraph) {
  vraExtractor extractor;
  extractor.init(writeFile("raw.xml", apitest::rawFramesConfig()).c_str(), 44100);
  EXPECT_EQ(extractor.getFrameDuration(), 10);
  expectCode([&] { extractor.init(apitest::tempPath("no such config.xml").c_str(), 44100); }, 4);
  EXPECT_EQ(extractor.getFrameDuration(), -1);
  std::vector<float> frame(441, 0.0f);
  expectCode([&] { extractor.processFrame(BaseVector<float>(frame.data(), 441)); }, 8);
  expectCode([&] { extractor.init(nullptr, 44100); }, 4);
}

TEST(VraExtractor, FrameworkRefusalsAreCode12) {
  vraExtractor extractor;
  expectCode([&] { extractor.init(writeFile("broken.xml", "<featex><module name=").c_str(), 44100); }, 12);
  expectCode(
      [&] {
        extractor.init(writeFile("unknown.xml", "<featex><module name=\"fex_no_such_module\"/></featex>").c_str(),
                       44100);
      },
      12);
  // The feature-object module refuses a leaf without a feature name.
  expectCode(
      [&] {
        extractor.init(
            writeFile("noname.xml", "<featex><module name=\"fex_feature_object\" featver=\"1\"/></featex>").c_str(),
            44100);
      },
      12);
}

TEST(VraExtractor, NoMetaSinkLeafIsCode6) {
  vraExtractor extractor;
  extractor.init(writeFile("zc.xml",
                           "<featex><param frameDuration=\"10\"/>"
                           "<module name=\"fex_zerocrossing\" instance=\"zc\"/></featex>")
                     .c_str(),
                 44100);
  std::vector<float> frame(441, 0.1f);
  extractor.processFrame(BaseVector<float>(frame.data(), 441));
  expectCode([&] { extractor.getSignature(); }, 6);
}
