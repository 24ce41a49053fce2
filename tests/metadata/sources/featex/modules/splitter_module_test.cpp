#include "metadata/sources/featex/modules/splitter_module.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fex_graph.h"

namespace {

using fextest::values;

TEST(SplitterModule, PicksEveryStepFromStartToEnd) {
  std::vector<float> v = {10, 20, 30, 40, 50, 60}, longer = {1, 2, 3, 4, 5, 6, 7};
  const BaseVector<float> in(v.data(), 6);
  Settings local, global;
  local.setLong("startIndex", 2);
  local.setLong("endIndex", 6);
  local.setLong("stepWidth", 2);
  fextest::ModuleInstance module("fex_splitter", local, global);
  EXPECT_EQ(values(*module.run<BaseVector<float>>(in)), (std::vector<float>{20, 40, 60}));
  EXPECT_EQ(module->getOutputSize(100), 3u);
  local.setLong("endIndex", 5);  // the last step falls short of endIndex
  fextest::ModuleInstance shorter("fex_splitter", local, global);
  EXPECT_EQ(values(*shorter.run<BaseVector<float>>(in)), (std::vector<float>{20, 40}));

  Settings defaults;
  defaults.setLong("endIndex", 0);
  fextest::ModuleInstance whole("fex_splitter", defaults, global);
  EXPECT_EQ(whole->getOutputSize(6), 6u);
  EXPECT_EQ(whole.run<BaseVector<float>>(BaseVector<float>()), &SplitterModule::emptyOutput());
  EXPECT_EQ(values(*whole.run<BaseVector<float>>(in)), v);
  // endIndex is now 6: a longer vector gives six values, a shorter one is
  // refused.
  EXPECT_EQ(whole.run<BaseVector<float>>(BaseVector<float>(longer.data(), 7))->size, 6u);
  fextest::expectSimpleException([&] { whole.run<BaseVector<float>>(BaseVector<float>(v.data(), 5)); },
                                 "SplitterModule: index range does not fit the input vector");
}

TEST(SplitterModule, RangesOutsideTheInputAreRefused) {
  Settings local, global;
  fextest::expectRefused("fex_splitter", local, global, "SplitterModule: endIndex not set or below startIndex");
  local.setLong("startIndex", 4);
  local.setLong("endIndex", 3);
  fextest::expectRefused("fex_splitter", local, global, "SplitterModule: endIndex not set or below startIndex");
  local.setLong("endIndex", 0);  // becomes 3 with a 3-value vector: below startIndex
  fextest::ModuleInstance module("fex_splitter", local, global);
  std::vector<float> v = {1, 2, 3};
  fextest::expectSimpleException([&] { module.run<BaseVector<float>>(BaseVector<float>(v.data(), 3)); },
                                 "SplitterModule: index range does not fit the input vector");
  EXPECT_EQ(module->getOutputSize(2), 0u);
  EXPECT_EQ(module->getModuleKind(), FMK_plain);
  fextest::expectDescribed(module, "splits up vectors", "fex_splitter: vector index starts with 1", "", "");
}

TEST(SplitterModule, SplitsInAGraph) {
  fextest::Graph graph(
      "<featex><module name=\"fex_splitter\" instance=\"odd\" endIndex=\"0\" stepWidth=\"2\"/>"
      "<module name=\"fex_splitter\" instance=\"tail\" startIndex=\"3\" endIndex=\"4\"/></featex>");
  EXPECT_EQ(graph.push({1, 2, 3, 4, 5}), (std::vector<float>{1, 3, 5, 3, 4}));
  EXPECT_EQ(graph.push({6, 7, 8, 9, 10}), (std::vector<float>{6, 8, 10, 8, 9}));
}

}  // namespace
