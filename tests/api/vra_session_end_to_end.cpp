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
#include "tests/support/demo_signatures.h"

using namespace vemra_kivet;
using apitest::Held;

namespace {

constexpr int kRate = 22050;

Held<vraISignature> extract(demo::Clip clip, double noise = 0.0) {
  if (noise > 0.0) demo::addNoise(clip, noise, 99);
  Held<vraISignature> signature = demotest::signatureOf(clip, kRate);
  Held<vraISong>(signature->getSong())->setTitle((clip.title + (noise > 0.0 ? ", noisy" : "")).c_str());
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
  const std::vector<demo::Clip> clips = demo::clips(kRate, 3.0);
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  std::map<std::string, unsigned> ids;
  for (const demo::Clip& clip : clips) ids[clip.title] = session->addSignature(extract(clip).get());
  ids["A minor chord, noisy"] = session->addSignature(extract(clips[3], 0.03).get());
  // A song that could not be adapted would be missing here.
  ASSERT_EQ(session->getSongCount(), clips.size() + 1);

  for (const auto& [title, id] : ids) {
    const std::vector<unsigned> found = ranked(session->queryById(id, 20));
    EXPECT_EQ(found.empty() ? 0u : found.front(), id) << title;
    EXPECT_EQ(Held<vraISong>(session->getSong(id))->getTitle(false), title);
  }
  const std::vector<unsigned> found = ranked(session->queryById(ids["A minor chord"], 20));
  const auto rank = [&](const char* title) { return std::find(found.begin(), found.end(), ids[title]) - found.begin(); };
  EXPECT_LT(rank("A minor chord, noisy"), std::min(rank("Noise swell"), rank("Click track")));

  // A query by a signature that is not stored finds its original first.
  const std::vector<unsigned> bySignature = ranked(session->queryBySignature(extract(clips[1], 0.01).get(), 5, false));
  EXPECT_EQ(bySignature.empty() ? 0u : bySignature.front(), ids["Gliding tone"]);
}

// Signatures the session cannot compare with its songs, of another extraction
// configuration and of another sampling rate (more spectrum-envelope bands),
// are refused.
TEST(VraSessionEndToEnd, SongsOfAnotherConfigurationOrRateAreRefused) {
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  for (int i : {1, 3}) session->addSignature(extract(demo::clips(kRate, 3.0)[i]).get());
  for (const auto& [config, rate] : {std::pair<const char*, unsigned>{KIVET_CONFIG_DIR "/mfcc.xml", kRate},
                                     std::pair<const char*, unsigned>{KIVET_CONFIG_DIR "/default.xml", 44100}}) {
    Held<vraISignature> other(CreateSignature(config, rate));
    const std::vector<short> pcm = demo::toPcm(demo::clips(static_cast<int>(rate), 3.0)[1]);
    other->addSamples(pcm.data(), static_cast<unsigned>(pcm.size()));
    testing::internal::CaptureStdout();
    apitest::expectCode([&] { session->addSignature(other.get()); }, 6);
    testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(session->getSongCount(), 2u);
}

// A signature too short for any frame to reach one of its features (no
// samples, 0.5 s, or 1.2 s, short of the 1.28 s that the modulation features
// group into a row) holds no data: saving it, adding it and querying by it
// raise code 6, and neither the file nor the session changes.
TEST(VraSessionEndToEnd, SignaturesWithoutDataAreInvalid) {
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  const unsigned stored = session->addSignature(extract(demo::clips(kRate, 3.0)[1]).get());
  const std::vector<short> pcm = demo::toPcm(demo::clips(kRate, 2.0)[1]);
  const std::string path = apitest::writeFile("short.sig", "an earlier signature file");
  for (const double seconds : {0.0, 0.5, 1.2}) {
    Held<vraISignature> signature(CreateSignature(KIVET_CONFIG_DIR "/default.xml", kRate));
    const auto count = static_cast<unsigned>(seconds * kRate);
    if (count > 0) signature->addSamples(pcm.data(), count);
    apitest::expectCode([&] { signature->save(path.c_str()); }, 6);
    apitest::expectCode([&] { session->addSignature(signature.get()); }, 6);
    apitest::expectCode([&] { session->queryBySignature(signature.get(), 5, true); }, 6);
    EXPECT_EQ(apitest::readFile(path), "an earlier signature file") << seconds;
    EXPECT_EQ(session->getSongCount(), 1u) << seconds;
  }
  EXPECT_EQ(ranked(session->queryById(stored, 5)), std::vector<unsigned>{stored});
}
