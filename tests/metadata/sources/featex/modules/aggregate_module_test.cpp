#include "metadata/sources/featex/modules/aggregate_module.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fex_graph.h"

namespace {

// Pushes frames 1 .. count, frame f being (f, -f); returns the frames after
// which a matrix came, checking that each holds the last groupFrames frames.
std::vector<unsigned> emissions(int32_t groupFrames, int32_t overlapFrames, unsigned count) {
  Settings local, global;
  local.setLong("groupFrames", groupFrames);
  if (overlapFrames != -1) local.setLong("overlapFrames", overlapFrames);
  fextest::ModuleInstance module("fex_aggregate", local, global);
  std::vector<unsigned> after;
  for (unsigned f = 1; f <= count; ++f) {
    std::vector<float> frame = {static_cast<float>(f), -static_cast<float>(f)};
    const auto* out = module.run<BaseMatrix<float>>(BaseVector<float>(frame.data(), 2));
    if (out == &AggregateModule::emptyOutput()) continue;
    after.push_back(f);
    EXPECT_EQ(out->rows, static_cast<unsigned>(groupFrames));
    EXPECT_EQ(out->cols, 2u);
    for (unsigned r = 0; r < out->rows; ++r) {
      EXPECT_EQ((*out)(r, 0), static_cast<float>(f + 1 + r - groupFrames)) << "after frame " << f;
      EXPECT_EQ((*out)(r, 1), -(*out)(r, 0));
    }
  }
  EXPECT_TRUE(AggregateModule::emptyOutput().empty());
  return after;
}

TEST(AggregateModule, EmitsTheLastGroupEveryHop) {
  EXPECT_EQ(emissions(3, 1, 8), (std::vector<unsigned>{3, 5, 7}));
  EXPECT_EQ(emissions(3, -1, 12), (std::vector<unsigned>{3, 7, 11}));  // absent: hop groupFrames + 1
  EXPECT_EQ(emissions(1, 0, 3), (std::vector<unsigned>{1, 2, 3}));
  // The kept frames wrap around in their ring at every place; a long group
  // is kept whole.
  EXPECT_EQ(emissions(4, 1, 20), (std::vector<unsigned>{4, 7, 10, 13, 16, 19}));
  EXPECT_EQ(emissions(5, 0, 23), (std::vector<unsigned>{5, 10, 15, 20}));
  EXPECT_EQ(emissions(5000, 4000, 9000), (std::vector<unsigned>{5000, 6000, 7000, 8000, 9000}));
}

TEST(AggregateModule, SettingsAndFrameLengths) {
  Settings local, global;
  fextest::expectRefused("fex_aggregate", local, global, "AggregateModule: parameter \"groupFrames\" not set!");
  local.setLong("groupFrames", 0);
  fextest::expectRefused("fex_aggregate", local, global, "AggregateModule: parameter \"groupFrames\" not set!");
  local.setLong("groupFrames", 2);
  local.setLong("overlapFrames", 2);
  fextest::expectRefused("fex_aggregate", local, global, "AggregateModule: overlap too big!");
  local.setLong("overlapFrames", 1);
  fextest::ModuleInstance module("fex_aggregate", local, global);
  EXPECT_EQ(module->getModuleKind(), FMK_plain);
  EXPECT_EQ(module->getInputType(), FTI_bvFlt);
  EXPECT_EQ(module->getOutputType(), FTI_hmFlt);
  EXPECT_EQ(module->getOutputSize(12), 12u);
  fextest::expectDescribed(module, "collects vectors and concatenates them to matrices",
                           "fex_aggregate: groupFrames=number of frames, overlapFrames=frame overlap", "", "");

  std::vector<float> frame = {1, 2, 3};
  module.run<BaseMatrix<float>>(BaseVector<float>(frame.data(), 3));
  // An empty vector is no frame; a vector of another length is refused.
  EXPECT_EQ(module.run<BaseMatrix<float>>(BaseVector<float>()), &AggregateModule::emptyOutput());
  fextest::expectSimpleException([&] { module.run<BaseMatrix<float>>(BaseVector<float>(frame.data(), 2)); },
                                 "AggregateModule: frame length differs from the first frame");
  EXPECT_EQ(module.run<BaseMatrix<float>>(BaseVector<float>(frame.data(), 3))->rows, 2u);
}

}  // namespace
