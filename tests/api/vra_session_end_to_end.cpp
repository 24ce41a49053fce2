// The main job through the public interface alone: the demo's clips
// extracted with config/default.xml into a session configured by
// config/similarity.xml, then queried.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "examples/demo_clips.h"
#include "tests/api/api_test_support.h"

using namespace vemra_kivet;
using apitest::Held;

namespace {

constexpr int kRate = 22050;

Held<vraISignature> extract(const demo::Clip& clip) {
  Held<vraISignature> signature(CreateSignature(KIVET_CONFIG_DIR "/default.xml", kRate));
  std::vector<short> pcm = demo::toPcm(clip);
  if (clip.channels.size() == 2) {
    std::vector<short> mono(pcm.size() / 2);
    signature->downmixStereo(pcm.data(), static_cast<unsigned>(pcm.size()), mono.data());
    pcm.swap(mono);
  }
  signature->addSamples(pcm.data(), static_cast<unsigned>(pcm.size()));
  Held<vraISong>(signature->getSong())->setTitle(clip.title.c_str());
  return signature;
}

// The ids of a query's results, best first.
std::vector<unsigned> ranked(vraIResultList* results) {
  Held<vraIResultList> held(results);
  std::vector<unsigned> ids;
  for (unsigned i = 0; i < held->size(); ++i) ids.push_back(held->getResult(i).id);
  return ids;
}

}  // namespace

TEST(VraSessionEndToEnd, EverySongIsStoredAndFoundNextToItsNoisyCopy) {
  std::vector<demo::Clip> clips = demo::clips(kRate, 3.0);
  demo::Clip noisy = clips[3];
  demo::addNoise(noisy, 0.03, 99);
  noisy.title = "A minor chord, noisy";
  clips.push_back(noisy);

  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  std::map<std::string, unsigned> ids;
  for (const demo::Clip& clip : clips) ids[clip.title] = session->addSignature(extract(clip).get());
  // A song that could not be adapted would be missing here.
  ASSERT_EQ(session->getSongCount(), clips.size());

  for (const auto& [title, id] : ids) {
    const std::vector<unsigned> found = ranked(session->queryById(id, 20));
    ASSERT_FALSE(found.empty()) << title;
    EXPECT_EQ(found.front(), id) << title;
    EXPECT_EQ(Held<vraISong>(session->getSong(id))->getTitle(false), title);
  }
  const std::vector<unsigned> found = ranked(session->queryById(ids["A minor chord"], 20));
  const auto rank = [&](const char* title) {
    return std::find(found.begin(), found.end(), ids[title]) - found.begin();
  };
  EXPECT_LT(rank("A minor chord, noisy"), rank("Noise swell"));
  EXPECT_LT(rank("A minor chord, noisy"), rank("Click track"));

  // A query by a signature that is not stored finds its original first.
  demo::Clip other = clips[1];
  demo::addNoise(other, 0.01, 7);
  const std::vector<unsigned> bySignature = ranked(session->queryBySignature(extract(other).get(), 5, false));
  ASSERT_FALSE(bySignature.empty());
  EXPECT_EQ(bySignature.front(), ids["Gliding tone"]);
}
