#include "examples/demo_clips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct Case {
  int rate;
  double seconds;
  double noise;
  // Frames per call of nextPcm.
  size_t block;
};

// Cuts of one frame, of an odd count and of more than a clip; a clip of one
// frame; noise over the stereo clip, whose second channel's noise goes on
// where the first's ends.
const Case kCases[] = {
    {8000, 0.5, 0.0, 1},       {8000, 0.5, 0.3, 7},   {11025, 0.4, 0.05, 1000},
    {22050, 0.3, 1.0, 100000}, {1000, 0.001, 0.5, 3},
};

// A clip made a block at a time, with noise added as it is made, is the clip
// made whole with the noise added over it.
TEST(DemoClips, MadeInBlocksAsWhole) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.seconds << " s, noise " << c.noise << ", blocks of "
                                    << c.block);
    std::vector<demo::Clip> whole = demo::clips(c.rate, c.seconds);
    std::vector<demo::ClipSource> sources = demo::clipSources(c.rate, c.seconds);
    ASSERT_EQ(sources.size(), whole.size());
    uint32_t seed = 1;
    for (size_t k = 0; k < whole.size(); ++k) {
      demo::ClipSource& source = sources[k];
      if (c.noise > 0.0) {
        demo::addNoise(whole[k], c.noise, seed);
        demo::addNoise(source, c.noise, seed++);
      }
      ASSERT_EQ(source.frames, demo::clipFrames(c.rate, c.seconds));
      const std::vector<short> expected = demo::toPcm(whole[k]);
      std::vector<short> made(expected.size());
      const size_t channels = source.channels.size();
      for (size_t done = 0; done < source.frames; done += c.block)
        demo::nextPcm(source, made.data() + done * channels, std::min(c.block, source.frames - done));
      EXPECT_EQ(made, expected) << whole[k].file;
    }
  }
}

}  // namespace
