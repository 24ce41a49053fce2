#include "metadata/sources/featex/modules/zerocrossing_module.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <vector>

#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"

namespace {

TEST(CFexZeroCrossingModule, CountsSignChangesOnly) {
  Settings local, global;
  fextest::ModuleInstance module("fex_zerocrossing", local, global);
  auto crossings = [&](std::vector<float> frame) {
    const auto* out = module.run<BaseVector<float>>(BaseVector<float>(frame.data(), static_cast<unsigned>(frame.size())));
    EXPECT_EQ(out->size, 1u);
    return (*out)[0];
  };
  EXPECT_EQ(crossings({1, -1, 1, -1}), 3.0f);
  EXPECT_EQ(crossings({1, 0, -1}), 0.0f);
  EXPECT_EQ(crossings({-4}), 0.0f);
  EXPECT_EQ(crossings({}), 0.0f);
  EXPECT_EQ(crossings({1, std::numeric_limits<float>::quiet_NaN(), -1, 2}), 1.0f);
  EXPECT_EQ(crossings({1e-30f, -1e-30f}), 1.0f);  // the product is taken in double
  EXPECT_EQ(module->getOutputSize(441), 1u);
  fextest::expectDescribed(module, "zero crossing calculation", "fex_zerocrossing", "TimeMono", "ZeroCrossingRate");
}

TEST(CFexZeroCrossingModule, CountsPerFrameInAGraph) {
  std::ostringstream report;
  fextest::Graph graph("<featex><module name=\"fex_zerocrossing\" instance=\"zc\"/></featex>",
                       fextest::frontEndGlobals(44100), "TimeMono", &report);
  // A 1000 Hz tone, phase-shifted so that no sample is 0: about 20 changes in
  // 441 samples.
  for (const std::vector<float>& frame : testsignals::frames(testsignals::sine(441 * 3, 1000, 44100, 1.0, 0.1), 441)) {
    unsigned expected = 0;
    for (size_t i = 0; i + 1 < frame.size(); ++i) expected += (frame[i] < 0) != (frame[i + 1] < 0);
    EXPECT_EQ(graph.push(frame), std::vector<float>{static_cast<float>(expected)});
    EXPECT_NEAR(expected, 20, 1);
  }
  const std::string dump = report.str();
  EXPECT_EQ(dump.substr(0, dump.find("Global settings:")),
            "<featex>\n <CFexModule name = zc, interface = fex_zerocrossing>\n </CFexModule>\n</featex>\n\n"
            "tree-size: 2\ntree-depth: 1\nrelated output-size: 1\n");
}

}  // namespace
