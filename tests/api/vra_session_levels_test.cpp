// The shipped configurations do not group songs by how loud they are: a copy
// of every demo clip 20 dB and 10 dB quieter, and 3 dB louder clipped at full
// scale, finds its own clip first in a session of the clips
// (config/default.xml and config/similarity.xml, through the public
// interface alone).

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "examples/demo_clips.h"
#include "tests/api/api_test_support.h"
#include "tests/support/demo_signatures.h"

using namespace vemra_kivet;
using apitest::Held;

namespace {

// As kivet-synth writes the clips.
constexpr int kRate = 44100;
constexpr double kSeconds = 4.0;

// The clip with every sample scaled by the gain (samples beyond full scale
// are clipped when made 16-bit), downmixed by the library when stereo.
Held<vraISignature> extract(demo::Clip clip, double decibels) {
  const double gain = std::pow(10.0, decibels / 20.0);
  for (demo::Signal& channel : clip.channels)
    for (double& v : channel) v *= gain;
  return demotest::signatureOf(clip, kRate);
}

TEST(VraSessionLevels, EveryClipIsFoundFirstByItsCopyAtAnotherLevel) {
  const std::vector<demo::Clip> clips = demo::clips(kRate, kSeconds);
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", false));
  std::vector<unsigned> ids;
  for (const demo::Clip& clip : clips) ids.push_back(session->addSignature(extract(clip, 0.0).get()));
  ASSERT_EQ(session->getSongCount(), clips.size());

  for (const double decibels : {-20.0, -10.0, 3.0}) {
    for (size_t i = 0; i < clips.size(); ++i) {
      Held<vraIResultList> found(session->queryBySignature(extract(clips[i], decibels).get(), 3, false));
      ASSERT_GT(found->size(), 0u) << clips[i].title << " at " << decibels << " dB";
      EXPECT_EQ(found->getResult(0).id, ids[i]) << clips[i].title << " at " << decibels << " dB";
    }
  }
}

}  // namespace
