#include "metadata/sources/featex/modules/statistics_module.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"

namespace {

std::string statisticsXml(const std::string& attributes, const std::string& siblings = "") {
  return "<featex><module name=\"fex_statistics\" instance=\"stats\" " + attributes + "/>" + siblings + "</featex>";
}

TEST(StatisticsModule, BlocksOfFramesGiveMeanAndVariance) {
  fextest::Graph graph(statisticsXml("sr=\"2\""));
  EXPECT_TRUE(graph.push({1}).empty());
  EXPECT_EQ(graph.push({3}), (std::vector<float>{2, 1}));
  EXPECT_TRUE(graph.push({5}).empty());
  EXPECT_EQ(graph.push({7}), (std::vector<float>{6, 1}));

  fextest::Graph means(statisticsXml("sr=\"2\" storeOnlyMean=\"true\""));
  means.push({1, 10});
  EXPECT_EQ(means.push({3, 20}), (std::vector<float>{2, 15}));

}

// With storeOrigSamples a frame that does not complete a block ends the whole
// pass (a sibling leaf after the module gets nothing either) and still counts.
TEST(StatisticsModule, OriginalSamplesEndThePassBetweenBlocks) {
  fextest::Graph graph(statisticsXml("sr=\"3\" storeOrigSamples=\"true\"",
                                     "<module name=\"fex_zerocrossing\" instance=\"zc\"/>"));
  bool counted = false;
  EXPECT_TRUE(graph.push({1, -1}, &counted).empty());
  EXPECT_TRUE(counted);
  EXPECT_TRUE(graph.push({2, -2}).empty());
  EXPECT_EQ(graph.push({3, 3}), (std::vector<float>{1, -1, 2, -2, 3, 3, 0}));
  EXPECT_TRUE(graph.push({4, 4}).empty());
}

TEST(StatisticsModule, SettingsAndGlobalFrameGeometry) {
  Settings local, global;
  fextest::expectRefused("fex_statistics", local, global, "scale ratio not set (sr=..)");
  local.setLong("sr", 0);
  fextest::expectRefused("fex_statistics", local, global, "scale ratio not set (sr=..)");
  local.setLong("sr", 4);
  local.setBool("storeOnlyMean", true);
  local.setBool("storeOrigSamples", true);
  fextest::expectRefused("fex_statistics", local, global, "StatisticsModule: use storeOnlyMean OR storeOrigSamples!!!");
  local.setBool("storeOnlyMean", false);
  local.setBool("changeGlobalParams", true);
  global.setLong("windowSize", 441);
  global.setLong("hopSize", 1 << 30);  // wraps in 32 bits: 2^32 is 0
  fextest::ModuleInstance module("fex_statistics", local, global);
  EXPECT_EQ(global.getString("windowSize"), "1764");
  EXPECT_EQ(global.getString("overlapSize"), "0");  // absent reads as 0
  EXPECT_EQ(global.getString("hopSize"), "0");
  EXPECT_EQ(module->getOutputSize(3), 6u);
  fextest::expectDescribed(module, "mean and variance calculations", "fex_statistics: sr=scaleratio", "", "");

  // Empty vectors are not frames; another length is refused.
  std::vector<float> frame = {1, 2};
  EXPECT_THROW(module.run<BaseVector<float>>(BaseVector<float>(frame.data(), 2)), IBW_Exception);
  EXPECT_EQ(module.run<BaseVector<float>>(BaseVector<float>()), &StatisticsModule::emptyOutput());
  fextest::expectSimpleException([&] { module.run<BaseVector<float>>(BaseVector<float>(frame.data(), 1)); },
                                 "StatisticsModule: frame length differs from the first frame");

  // In a graph, a later module sees the geometry of the blocks.
  std::ostringstream report;
  fextest::Graph graph(
      "<featex><module name=\"fex_statistics\" instance=\"s\" sr=\"2\" changeGlobalParams=\"true\">"
      "<module name=\"fex_time_to_weighted_time\" instance=\"w\" window=\"Rectangle\"/></module></featex>",
      fextest::frontEndGlobals(8000), "TimeMono", &report);
  EXPECT_NE(report.str().find("related output-size: 160\n"), std::string::npos);
  EXPECT_NE(report.str().find("hopSize\t = 160\n"), std::string::npos);
}

}  // namespace
