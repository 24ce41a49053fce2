#include "metadata/sources/featex/modules/stereo_to_mono_module.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fex_graph.h"

namespace {

using fextest::ModuleInstance;

std::vector<float> downmix(const std::string& chan, unsigned channels, std::vector<float> frame) {
  Settings local, global;
  global.setLong("channels", static_cast<int32_t>(channels));
  if (!chan.empty()) local.setString("chan", chan);
  ModuleInstance module("fex_stereo_to_mono", local, global);
  return fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(frame.data(), static_cast<unsigned>(frame.size()))));
}

TEST(StereoToMonoModule, ModesOfTwoChannelsAndThePassOfOne) {
  const std::vector<float> frame = {1, 3, -2, 2};
  EXPECT_EQ(downmix("", 2, frame), (std::vector<float>{2, 0}));
  EXPECT_EQ(downmix("mix", 2, frame), (std::vector<float>{2, 0}));
  EXPECT_EQ(downmix("diff", 2, frame), (std::vector<float>{-2, -4}));
  EXPECT_EQ(downmix("left", 2, frame), (std::vector<float>{1, -2}));
  EXPECT_EQ(downmix("right", 2, frame), (std::vector<float>{3, 2}));
  EXPECT_EQ(downmix("mix", 2, {1, 3, -2, 2, 9}), (std::vector<float>{2, 0}));  // odd tail ignored
  EXPECT_EQ(downmix("diff", 1, frame), frame);
}

TEST(StereoToMonoModule, SettingsAreCheckedInOrder) {
  Settings local, global;
  local.setString("chan", "Mix");
  fextest::expectRefused("fex_stereo_to_mono", local, global, "StereoToMonoModule: 'channels' undefined or invalid");
  global.setLong("channels", 3);
  fextest::expectRefused("fex_stereo_to_mono", local, global, "StereoToMonoModule: 'channels' undefined or invalid");
  global.setLong("channels", 2);
  fextest::expectRefused("fex_stereo_to_mono", local, global, "StereoToMonoModule: unsupported mode");
  local.setString("chan", "left");
  local.setBool("dcr", true);
  fextest::expectRefused("fex_stereo_to_mono", local, global, "TODO: dcr with overlapSize not yet implemented!");
  global.setLong("overlapSize", 0);
  ModuleInstance module("fex_stereo_to_mono", local, global);
  EXPECT_EQ(module->getOutputSize(441), 220u);
  fextest::expectDescribed(module, "converts stereo to mono",
                           "fex_stereo_to_mono: chan=[mix|diff|left|right], dcr=[false|true]", "TimeArbitrary",
                           "TimeMono");
}

// The DC-blocked mix in a graph: y[n] = g (x[n] - x[n-1]) + a y[n-1] runs on
// across the frame boundary.
TEST(StereoToMonoModule, DcBlockedMixInAGraph) {
  fextest::Graph graph(
      "<featex><param channels=\"2\"/><module name=\"fex_stereo_to_mono\" instance=\"m\" dcr=\"true\"/></featex>",
      fextest::frontEndGlobals(44100), "TimeArbitrary");
  const double g = 0.9921875, a = 0.984375;
  const std::vector<float> first = graph.push({1, 3, 0, 0, 5, 7});  // mixes 2, 0, 6
  const std::vector<float> second = graph.push({2, 2});             // mix 2
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NEAR(first[0], g * 2, 1e-6);
  EXPECT_NEAR(first[1], g * (0 - 2) + a * first[0], 1e-6);
  EXPECT_NEAR(first[2], g * (6 - 0) + a * first[1], 1e-6);
  EXPECT_NEAR(second[0], g * (2 - 6) + a * first[2], 1e-6);
}

}  // namespace
