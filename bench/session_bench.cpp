// The session's main operations through the session object, over sessions of
// 1 000, 10 000 and 100 000 songs configured by config/similarity.xml: adding
// a song (adaptation by every classifier and storage), a query by id (steady,
// and the first one after an add, a removal and a load, which bring the
// change into the reference copies), saving and loading the session; with
// the bytes each song takes in memory and on disk (session file and metadata
// file).
//
// Songs are synthesised in memory: one song of generated audio (a chord over
// a click track, 3 s at 22050 Hz) is extracted with config/default.xml once,
// and every song is that signature with each column of each feature scaled by
// a factor of its own, so that every song adapts to vectors of its own at the
// cost of a real song of that length.
//
//   session_bench [songs ...]        default: 1000 10000 100000

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/held.h"
#include "bench/bench_support.h"
#include "api/vra_session.h"
#include "api/vra_signature.h"
#include "signature/audio_sign_tag_writer.h"
#include "signature/feature_object.h"

using namespace vemra_kivet;
using bench::Clock;
using bench::heapInUse;
using bench::secondsSince;

namespace {

constexpr unsigned kRate = 22050;
constexpr unsigned kSeconds = 3;
constexpr int kQueries = 20;


// A chord over clicks twice a second, as 16-bit samples.
std::vector<short> song() {
  std::vector<short> samples(kRate * kSeconds);
  for (size_t i = 0; i < samples.size(); ++i) {
    double v = 0.0;
    for (double f : {220.0, 277.18, 329.63}) v += 0.15 * std::sin(2 * 3.14159265358979 * f * i / kRate);
    if (i % (kRate / 2) < 40) v += 0.5;
    samples[i] = static_cast<short>(std::lround(v * 32767.0));
  }
  return samples;
}

// The template's features, scaled column by column, under no id yet.
class SongMaker {
 public:
  SongMaker() : signature(static_cast<vraSignature*>(CreateSignature(KIVET_CONFIG_DIR "/default.xml", kRate))) {
    const std::vector<short> samples = song();
    signature->addSamples(samples.data(), static_cast<unsigned>(samples.size()));
    for (const auto& entry : *data())
      if (auto* feature = dynamic_cast<CFeatureObject<float>*>(entry.second.get()))
        originals.emplace_back(feature, feature->getMatrix());
  }

  vraSignature* make(unsigned number, uint32_t& state) {
    for (auto& [feature, original] : originals) {
      HeapMatrix<float>& m = feature->getMatrix();
      for (unsigned c = 0; c < m.cols; ++c) {
        const float factor = 0.5f + static_cast<float>(bench::nextRandom(state) >> 8) / (1u << 24);
        for (unsigned r = 0; r < m.rows; ++r) m.data[r * m.cols + c] = original.data[r * m.cols + c] * factor;
      }
    }
    data()->setTuid(0, 0);
    CAudioSignTagWriter tags;
    tags.setSignature(signature->toMultiSignature());
    tags.setTag("TIT2", "Song " + std::to_string(number));
    return signature.get();
  }

 private:
  CSignDataMulti* data() { return signature->toMultiSignature()->getSignData(); }

  Held<vraSignature> signature;
  std::vector<std::pair<CFeatureObject<float>*, HeapMatrix<float>>> originals;
};

void run(unsigned songs) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("kivet_session_bench_" + std::to_string(getpid()) + ".ses")).string();
  const std::string metaPath = path.substr(0, path.size() - 4) + ".meta";
  SongMaker maker;
  uint32_t state = 12345;

  const size_t before = heapInUse();
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  double adding = 0.0;
  for (unsigned i = 1; i <= songs; ++i) {
    vraSignature* signature = maker.make(i, state);
    const Clock::time_point start = Clock::now();
    session->addSignature(signature);
    adding += secondsSince(start);
  }
  const size_t memory = heapInUse() - before;
  if (session->getSongCount() != songs) std::printf("only %u songs were stored\n", session->getSongCount());

  const auto timedQuery = [&](vraISession& s, unsigned id) {
    const Clock::time_point begin = Clock::now();
    Held<vraIResultList>(s.queryById(id, 10));
    return secondsSince(begin);
  };
  const double firstQuery = timedQuery(*session, 1);
  double query = 0.0;
  for (int q = 0; q < kQueries; ++q) query += timedQuery(*session, 1 + bench::nextRandom(state) % songs) / kQueries;
  const unsigned added = session->addSignature(maker.make(songs + 1, state));
  const double afterAdd = timedQuery(*session, added);
  session->removeSong(added);
  const double afterRemoval = timedQuery(*session, 1);
  Clock::time_point start;

  start = Clock::now();
  session->saveSession(path.c_str());
  const double saving = secondsSince(start);
  const auto fileBytes = static_cast<double>(std::filesystem::file_size(path));
  const auto metaBytes = static_cast<double>(std::filesystem::file_size(metaPath));

  Held<vraISession> loaded(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  start = Clock::now();
  loaded->loadSession(path.c_str());
  const double loading = secondsSince(start);
  const double afterLoad = timedQuery(*loaded, 2);
  std::filesystem::remove(path);
  std::filesystem::remove(metaPath);

  std::printf("%7u songs  add %7.1f us/song  query by id %8.2f ms  save %6.2f s  load %6.2f s\n", songs,
              adding / songs * 1e6, query * 1e3, saving, loading);
  std::printf("%7s        first query after the adds %6.2f ms, after an add %6.2f ms, a removal %6.2f ms, a load %6.2f ms\n",
              "", firstQuery * 1e3, afterAdd * 1e3, afterRemoval * 1e3, afterLoad * 1e3);
  std::printf("%7s        memory %6.0f bytes/song  session file %6.0f bytes/song  metadata file %4.0f bytes/song\n",
              "", static_cast<double>(memory) / songs, fileBytes / songs, metaBytes / songs);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  for (unsigned songs : bench::songCounts(argc, argv, {1000, 10000, 100000})) run(songs);
  return 0;
}
