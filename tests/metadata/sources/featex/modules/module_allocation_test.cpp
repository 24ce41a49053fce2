// Once the first frames have sized every buffer, a frame's pass through the
// built-in modules allocates nothing. The graph is run node by node (the
// extractor's feature vector, which follows the changing number of leaf
// values, is not the modules' to keep).

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "metadata/sources/featex/config_tree.h"
#include "metadata/sources/featex/dsp_tree_node.h"
#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"

namespace {
std::atomic<unsigned long> allocationCount{0};
}  // namespace

// The replacements pair malloc with free; the compiler cannot see that they
// replace the library's pair and would report each free as mismatched.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++allocationCount;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

TEST(ModuleAllocation, SteadyFramesAllocateNothing) {
  const std::string xml =
      "<featex>"
      "<module name=\"fex_filter\" instance=\"hp\">"
      "  <module name=\"fex_time_to_weighted_time\" instance=\"win\" window=\"Hamming\">"
      "    <module name=\"fex_weighted_time_to_complex_spectrum\" instance=\"fft\">"
      "      <module name=\"fex_complex_spectrum_to_psd\" instance=\"psd\" considerAngle=\"1\">"
      "        <module name=\"fex_splitter\" instance=\"low\" startIndex=\"1\" endIndex=\"40\" stepWidth=\"3\"/>"
      "        <module name=\"fex_statistics\" instance=\"stats\" sr=\"3\"/>"
      "        <module name=\"fex_aggregate\" instance=\"agg\" groupFrames=\"4\" overlapFrames=\"2\">"
      "          <module name=\"fex_statistics_matrix\" instance=\"sm\" calcSqrt=\"true\"/>"
      "        </module>"
      "      </module>"
      "    </module>"
      "  </module>"
      "</module>"
      "<module name=\"fex_filter\" instance=\"dc\" DcRejection=\"true\"/>"
      "<module name=\"fex_zerocrossing\" instance=\"zc\"/>"
      "</featex>";
  ConfigTree config;
  ConfigTreeNode* root = config.load(xml, false, 512);
  Settings& globals = root->settings;
  const Settings frontEnd = fextest::frontEndGlobals(44100);
  std::string key;
  for (unsigned i = 0; i < frontEnd.size(); ++i) {
    key = frontEnd.getNextKey(key);
    globals.setString(key, frontEnd.getString(key));
  }
  CFexModuleRegistry registry;
  bool endFlag = false;
  DspTreeNode graph(*root, &globals, &registry, &endFlag);
  graph.check("TimeMono", FTI_none);

  const auto frames = testsignals::frames(testsignals::noise(441 * 40, 8), 441);
  auto pass = [&](unsigned f) {
    const void* input = nullptr;
    BaseVector<float> frame(const_cast<float*>(frames[f].data()), 441);
    input = &frame;
    int type = FTI_none;
    return graph.process(&input, &type);
  };
  // Enough frames for every block and group to have completed once.
  for (unsigned f = 0; f < 12; ++f) pass(f);
  const unsigned long before = allocationCount;
  unsigned most = 0;
  for (unsigned f = 12; f < frames.size(); ++f) most = std::max(most, pass(f));
  EXPECT_EQ(allocationCount - before, 0u);
  EXPECT_EQ(most, 14u + 2 * 514u + 2 * 514u + 441u + 1u);  // splitter, statistics, aggregate, dc, zc
}

}  // namespace
