#include "metadata/sources/featex/modules/ear_transfer_to_critical_band_module.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "tests/support/fex_graph.h"

namespace {

// Each input value is its own index, so a band's sum names its range.
std::vector<float> bandsOf(unsigned samplingRate, unsigned n) {
  Settings local, global = fextest::frontEndGlobals(samplingRate);
  fextest::ModuleInstance module("fex_ear_transfer_to_critical_band", local, global);
  std::vector<float> in(n);
  std::iota(in.begin(), in.end(), 0.0f);
  return fextest::values(*module.run<BaseVector<float>>(BaseVector<float>(in.data(), n)));
}

float rangeSum(unsigned from, unsigned to) {  // from .. to - 1
  return static_cast<float>((from + to - 1) * (to - from) / 2);
}

TEST(earTransferToCriticalBandModule, BandEdgesScaleWithTheInput) {
  // 44100 Hz: 26 bands; of 513 values band 0 takes indexes 0 and 1
  // (4 * 513 >> 10 = 2) and indexes from 372 (744 * 513 >> 10) are left out.
  const std::vector<float> bands = bandsOf(44100, 513);
  ASSERT_EQ(bands.size(), 26u);
  EXPECT_EQ(bands[0], 0.0f + 1.0f);
  EXPECT_EQ(bands[1], rangeSum(2, 4));
  EXPECT_EQ(bands[25], rangeSum(582 * 513 >> 10, 372));

  // 48000 Hz: 27 bands, the last ending at the input's end.
  const std::vector<float> bands48k = bandsOf(48000, 257);
  ASSERT_EQ(bands48k.size(), 27u);
  EXPECT_EQ(bands48k[26], rangeSum(684 * 257 >> 10, 257));

  Settings local, global = fextest::frontEndGlobals(48000);
  fextest::ModuleInstance module("fex_ear_transfer_to_critical_band", local, global);
  EXPECT_EQ(module->getOutputSize(5), 27u);
  fextest::expectDescribed(module, "converts signal-space 'ear-transfer' to signal-space 'critical-band'.",
                           "ear_transfer_to_critical_band + ...", "EarTransfer", "CriticalBands");
}

}  // namespace
