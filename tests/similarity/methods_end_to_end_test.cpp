// Signatures extracted from generated audio with the default configuration,
// adapted by both similarity methods into one database and queried.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "api/vra_signature.h"
#include "metadata/sources/vmtl/matrix_func.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/aspect_similarity.h"
#include "similarity/overall_similarity.h"
#include "similarity/session_globals.h"
#include "tests/similarity/method_support.h"
#include "tests/similarity/model_files.h"
#include "tests/support/signals.h"
#include "tests/support/temp_files.h"

namespace {

using Signal = std::vector<float>;
using vemra_kivet::vraSignature;

// A chord over quiet noise, with a click every half second.
Signal chordWithClicks(unsigned rate, unsigned seconds) {
  Signal x = testsignals::noise(rate * seconds, 12345, 0.02);
  for (size_t i = 0; i < x.size(); ++i) {
    for (double f : {220.0, 277.18, 329.63})
      x[i] += static_cast<float>(0.15 * std::sin(2 * testsignals::kPi * f * i / rate));
    if (i % (rate / 2) < 40) x[i] += 0.5f;
  }
  return x;
}

// The signature of the sum of signals with the default configuration, under id.
std::unique_ptr<CAudioSignMulti> extract(const std::vector<Signal>& signals, unsigned rate, uint32_t id) {
  std::vector<short> samples(signals[0].size());
  for (size_t i = 0; i < samples.size(); ++i) {
    float sum = 0.0f;
    for (const Signal& signal : signals) sum += signal[i];
    samples[i] = static_cast<short>(std::lround(std::clamp(sum, -1.0f, 1.0f) * 32767.0f));
  }
  std::unique_ptr<vraSignature, void (*)(vraSignature*)> extractor(new vraSignature,
                                                                 [](vraSignature* s) { s->release(); });
  extractor->init(KIVET_CONFIG_DIR "/default.xml", rate);
  extractor->addSamples(samples.data(), static_cast<unsigned>(samples.size()));
  auto signature = std::make_unique<CAudioSignMulti>(*extractor->toMultiSignature());
  signature->getSignData()->setTuid(id, 0);
  return signature;
}

const HeapMatrix<float>& matrixOf(const CAudioSignMulti& signature, const char* feature) {
  return signature.getSignData()->getFeature(feature)->getMatrix();
}

const char kOverall[] =
    "<similaritymethod module=\"overallsimilarity\">"
    "<classifier name=\"timbre\" version=\"1\"><param key=\"feature\" value=\"MFCC, LogLoudness\"/>"
    "<param key=\"mean\" value=\"1\"/><param key=\"variance\" value=\"1\"/></classifier>"
    "<classifier name=\"attacks\" version=\"2\"><param key=\"feature\" value=\"MFCC\"/>"
    "<param key=\"mean\" value=\"1\"/><param key=\"pruning\" value=\"1\"/><param key=\"metric\" value=\"l1norm\"/>"
    "</classifier></similaritymethod>";

// A nearest-centroid model over the 13 MFCC columns: per song of songs, one
// aspect whose centroid is the song's mean frame and whose radius takes in
// nine in ten of its frames.
std::string modelFile(const std::vector<const CAudioSignMulti*>& songs) {
  std::vector<CFeatureObjectBase*> objects = models::passThrough("MFCC", 13);
  for (size_t s = 0; s < songs.size(); ++s) {
    const HeapMatrix<float>& frames = matrixOf(*songs[s], "MFCC");
    const HeapVector<float> centre = mean(frames, 1);
    std::vector<double> distances;
    for (unsigned r = 0; r < frames.rows; ++r)
      distances.push_back(std::sqrt(squaredEuclideanDistance(frames.getRow(r).data, centre.data, 13)));
    std::sort(distances.begin(), distances.end());
    const std::string radius = std::to_string(distances[distances.size() * 9 / 10]);
    objects.push_back(models::object("song" + std::to_string(s), {std::vector<float>(centre.begin(), centre.end())},
                                     {{"rejectvalue", radius}, {"relevance", "1"}}));
  }
  return models::file(testfiles::tempPath("nn.sig"), objects);
}

TEST(MethodsEndToEnd, OnsetBandsFitTheFrameFeaturesAtEveryRate) {
  const auto overall = methods::fromXml<OverallSimilarity>(kOverall, static_cast<EventHandler*>(nullptr));
  for (unsigned rate : {8000u, 16000u, 22050u, 32000u, 44100u, 48000u}) {
    const std::unique_ptr<CAudioSignMulti> song = extract({chordWithClicks(rate, 2)}, rate, 1);
    const HeapMatrix<float>& mse = matrixOf(*song, "MSE");
    EXPECT_EQ(mse.rows + 2, matrixOf(*song, "MFCC").rows) << rate;
    EXPECT_EQ(mse.rows + 2, matrixOf(*song, "LogLoudness").rows) << rate;
    EXPECT_EQ(mse.cols, rate >= 22050 ? 14u : rate == 16000 ? 13u : 11u) << rate;
    HeapVector<bool> mask;
    EXPECT_FALSE(overall->createOnsetMask(mse, mask, 0.9f)) << "the clicks are onsets at " << rate;
    CAudioSignMulti adapted;
    overall->adapt(*song, adapted);
    EXPECT_EQ(matrixOf(adapted, "attacks").cols, 13u) << rate;
  }
}

TEST(MethodsEndToEnd, NearestIsTheSongItselfAndANoisyCopyBeatsAnUnrelatedSong) {
  const unsigned rate = 22050;
  const Signal chord = chordWithClicks(rate, 3);
  const unsigned n = rate * 3;
  // The song, an unrelated noisy tone, the song with a little noise, a low hum.
  std::vector<std::unique_ptr<CAudioSignMulti>> songs;
  songs.push_back(extract({chord}, rate, 1));
  songs.push_back(extract({testsignals::noise(n, 7, 0.3), testsignals::sine(n, 1000, rate, 0.3)}, rate, 2));
  songs.push_back(extract({chord, testsignals::noise(n, 3, 0.01)}, rate, 3));
  songs.push_back(extract({testsignals::sine(n, 110, rate, 0.5), testsignals::noise(n, 5, 0.05)}, rate, 4));

  const auto aspects = methods::fromXml<AspectSimilarity>(
      "<similaritymethod module=\"aspectsimilarity\"><classifier name=\"genre\" type=\"NN\" file=\"" +
          modelFile({songs[0].get(), songs[1].get(), songs[3].get()}) + "\"/></similaritymethod>",
      static_cast<EventHandler*>(nullptr));
  const auto overall = methods::fromXml<OverallSimilarity>(kOverall, static_cast<EventHandler*>(nullptr));
  AdaptedFeatureDb db("Database");
  for (const auto& song : songs) {
    // As the session adapts a song: every method into one signature.
    CAudioSignMulti adapted;
    aspects->adapt(*song, adapted);
    overall->adapt(*song, adapted);
    db.add(adapted);
  }
  SessionGlobals globals;
  aspects->init(db, globals);
  overall->init(db, globals);

  QueryParameters params;
  params.resultCount = 10;
  SimilarityList out("", 1000);
  aspects->processById(1, out, params);
  overall->processById(1, out, params);
  // Each list of the chain ranks the song first and its noisy copy second.
  std::string heads;
  for (const SimilarityList* list = &out; list != nullptr; list = list->nextList()) {
    std::string ids;
    for (const auto& entry : *list) ids += " " + std::to_string(entry.second.id);
    heads += list->name + ":" + ids.substr(0, 4) + ";";
  }
  EXPECT_EQ(heads, "genre: 1 3;timbre: 1 3;attacks: 1 3;");
}

}  // namespace
