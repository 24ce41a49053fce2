#include "metadata/sources/featex/modules/statistics_matrix_module.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"

namespace {

using fextest::values;

TEST(StatisticsMatrixModule, ColumnMeansAndVariances) {
  Settings plain, onlyMean, deviations, global;
  onlyMean.setBool("storeOnlyMean", true);
  deviations.setBool("calcSqrt", true);
  fextest::ModuleInstance module("fex_statistics_matrix", plain, global);
  fextest::ModuleInstance means("fex_statistics_matrix", onlyMean, global);
  fextest::ModuleInstance sqrt("fex_statistics_matrix", deviations, global);
  HeapMatrix<float> m(2, 2, 0.0f);
  m(0, 0) = 1, m(0, 1) = 2, m(1, 0) = 3, m(1, 1) = 4;
  EXPECT_EQ(values(*module.run<BaseVector<float>>(m)), (std::vector<float>{2, 3, 1, 1}));
  EXPECT_EQ(values(*means.run<BaseVector<float>>(m)), (std::vector<float>{2, 3}));
  m(1, 1) = 10;
  EXPECT_EQ(values(*sqrt.run<BaseVector<float>>(m)), (std::vector<float>{2, 6, 1, 4}));
  // Equal rows whose variance may round below 0 give a deviation of 0.
  const std::vector<float> flat = values(*sqrt.run<BaseVector<float>>(HeapMatrix<float>(7, 1, 0.1f)));
  EXPECT_GE(flat[1], 0.0f);
  EXPECT_LT(flat[1], 1e-3f);

  EXPECT_EQ(module.run<BaseVector<float>>(HeapMatrix<float>(0, 3, 0.0f)), &StatisticsMatrixModule::emptyOutput());
  // A matrix wider than the first gets an output of its own width.
  EXPECT_EQ(values(*module.run<BaseVector<float>>(HeapMatrix<float>(3, 5, 2.0f))),
            (std::vector<float>{2, 2, 2, 2, 2, 0, 0, 0, 0, 0}));
  EXPECT_EQ(module->getOutputSize(5), 10u);
  EXPECT_EQ(module->getInputType(), FTI_hmFlt);
  fextest::expectDescribed(module, "mean and variance calculations", "fex_statistics_matrix", "", "");
}

// Aggregated noise frames through a graph, against means and population
// variances in double over the same frames.
TEST(StatisticsMatrixModule, SummarisesAggregatedFramesInAGraph) {
  fextest::Graph graph(
      "<featex><module name=\"fex_aggregate\" instance=\"agg\" groupFrames=\"4\" overlapFrames=\"2\">"
      "<module name=\"fex_statistics_matrix\" instance=\"stats\"/></module></featex>");
  const auto frames = testsignals::frames(testsignals::noise(6 * 12, 4), 6);
  for (unsigned f = 1; f <= frames.size(); ++f) {
    const std::vector<float> out = graph.push(frames[f - 1]);
    if (f < 4 || f % 2 != 0) {
      EXPECT_TRUE(out.empty()) << f;
      continue;
    }
    ASSERT_EQ(out.size(), 12u);
    for (unsigned c = 0; c < 6; ++c) {
      double sum = 0, sumOfSquares = 0;
      for (unsigned r = f - 4; r < f; ++r) {
        sum += frames[r][c];
        sumOfSquares += static_cast<double>(frames[r][c]) * frames[r][c];
      }
      EXPECT_NEAR(out[c], sum / 4, 1e-6);
      EXPECT_NEAR(out[6 + c], sumOfSquares / 4 - (sum / 4) * (sum / 4), 1e-6);
    }
  }
}

}  // namespace
