#include "metadata/sources/featex/modules/spectral_bands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "metadata/sources/featex/modules/scf_module.h"
#include "tests/support/spectral_reference.h"

namespace {

using spectest::expectModuleException;

// The crest factor stands for every algorithm on the shared band layout.
struct Layout {
  CCrestFactor<float> bands;
  unsigned count;
  Layout(uint32_t fs, uint32_t transformSize, const char* params)
      : count(bands.setParameters({fs, 0, 0, transformSize, 0}, params)) {}
};

TEST(SpectralBands, LinearLayout) {
  // Defaults at 44100 Hz and 1024 points: bins 4 to 92 in 16 bands of 5.
  Layout defaults(44100, 1024, "");
  ASSERT_EQ(defaults.count, 16u);
  const auto& bands = defaults.bands.getBands();
  ASSERT_EQ(bands.size(), 16u);
  for (unsigned b = 0; b < 16; ++b) {
    EXPECT_EQ(bands[b].first, 4 + 5 * b);
    EXPECT_EQ(bands[b].last, 8 + 5 * b);
  }
  EXPECT_EQ(defaults.bands.getParameterName(), "lf4_uf92_nb16");

  // Fewer bins than bands: every band is empty.
  Layout narrow(44100, 512, "lf=250 uf=300 nb=4 ");
  for (const auto& band : narrow.bands.getBands()) EXPECT_EQ(band.last + 1, band.first);
}

TEST(SpectralBands, LogarithmicLayoutOverlapsNeighbours) {
  Layout layout(44100, 512, "lf=250 (uf=16000) nb=24 rs=4 ln=1");
  ASSERT_EQ(layout.count, 24u);
  const float df = 44100.0f / 512.0f;
  const float step = std::pow(2.0f, 0.25f);
  float edge = 250.0f;
  for (const auto& band : layout.bands.getBands()) {
    const float next = edge * step;
    EXPECT_EQ(band.first, spectest::roundHalfUp(0.95 * edge / df));
    EXPECT_EQ(band.last, spectest::roundHalfUp(1.05 * next / df));
    edge = next;
  }
  // The upper edge in parentheses is found but not used: ufBin keeps 0.
  EXPECT_EQ(layout.bands.getParameterName(), "lf2_uf0_nb24");

  testing::internal::CaptureStderr();
  Layout coarse(8000, 64, "lf=125 nb=2 rs=24 ln=1");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Resolution of log-scaling to small\n");
  EXPECT_EQ(coarse.bands.getBands()[0].first, coarse.bands.getBands()[0].last);
}

TEST(SpectralBands, BandsPastTheInputAreCutThere) {
  // 24 bands from 1000 Hz end at 64000 Hz, far above the 257 bins of 44100
  // Hz and 512 points.
  Layout layout(44100, 512, "lf=1000 nb=24 rs=4 ln=1");
  const auto& bands = layout.bands.getBands();
  unsigned straddling = 0;
  while (bands[straddling].last < 256) ++straddling;
  ASSERT_LT(bands[straddling].first, 256u);
  std::vector<float> psd(257, 1.0f);
  psd[256] = 4.0f;
  const std::vector<float> out =
      fextest::values(layout.bands.process(BaseVector<float>(psd.data(), static_cast<unsigned>(psd.size()))));
  const double present = 257.0 - bands[straddling].first;
  EXPECT_FLOAT_EQ(out[straddling], 4.0 / ((present + 3.0) / present));
  EXPECT_EQ(out[23], 0.0f);  // nothing of the band is there
}

TEST(SpectralBands, RefusedRanges) {
  CCrestFactor<float> bands;
  const SignalFormat format{44100, 0, 0, 1024, 0};
  expectModuleException([&] { bands.setParameters(format, "lf=22100 "); }, "Lower frequency value too large");
  expectModuleException([&] { bands.setParameters(format, "uf=22100 "); }, "Upper frequency value too large");
  expectModuleException([&] { bands.setParameters(format, "lf=3000 uf=2000 "); },
                        "Lower frequency greater than upper frequency");
  // A band count the 32-bit target could not allocate fails as it did.
  EXPECT_THROW(bands.setParameters(format, "nb=-1 "), std::bad_alloc);
}

}  // namespace
