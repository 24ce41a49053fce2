// One query of the overall similarity (one classifier of 40 values, top 100)
// over 100 000 and 1 000 000 songs, next to FAISS's exact (flat) indexes on
// the same vectors in the same process: IndexFlatL2 for l2norm, IndexFlat with
// METRIC_L1 for l1norm and IndexFlatIP over normalised vectors for
// dotproduct (searched with the negated query: dotproduct ranks the
// smallest cosines first). The searches are interleaved, query by query, and
// FAISS runs on one thread. Prints the median milliseconds per query of each,
// kivet's time divided by FAISS's, and in how many queries the two top 100
// hold the same songs. FAISS (Debian libfaiss-dev) is optional: without it
// only kivet's times are printed. Then, for every form of the distance
// kernels this processor runs (the query uses the last), the squared
// differences of all rows alone, as the scan asks for them.
//
// The machine's load shows in the times: run it on one idle core,
//   taskset -c 3 query_bench [songs ...]        default: 100000 1000000

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/distance_kernels.h"
#include "similarity/dom_support.h"
#include "similarity/overall_similarity.h"
#include "similarity/session_globals.h"
#include "tests/support/session_blocks.h"

#ifdef KIVET_WITH_FAISS
#include <faiss/IndexFlat.h>
#include <omp.h>
#endif

namespace {

constexpr unsigned kValues = 40;
constexpr unsigned kResults = 100;
constexpr int kQueries = 10;
constexpr int kRounds = 3;
const char* const kMetrics[] = {"l2norm", "l1norm", "dotproduct"};

using bench::Clock;
using bench::millisecondsSince;

std::vector<float> randomVector(uint32_t& state) { return bench::randomVector(state, kValues); }

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::unique_ptr<OverallSimilarity> method(const char* metric) {
  const std::string text = std::string("<similaritymethod><classifier name=\"timbre\" version=\"1\">") +
                           "<param key=\"metric\" value=\"" + metric + "\"/></classifier></similaritymethod>";
  DomParser parser;
  return std::make_unique<OverallSimilarity>(*parser.parseMemory(text.data(), text.size()).getDocumentElement(),
                                             nullptr);
}

// The songs of a kivet list, as FAISS numbers them (id - 1).
std::set<int64_t> songsOf(const SimilarityList& list) {
  std::set<int64_t> songs;
  for (const auto& entry : list) songs.insert(static_cast<int64_t>(entry.second.id) - 1);
  return songs;
}

#ifdef KIVET_WITH_FAISS
// One FAISS index per metric over the same vectors; the dotproduct index
// holds them normalised.
struct FaissIndexes {
  faiss::IndexFlatL2 l2{kValues};
  faiss::IndexFlat l1{kValues, faiss::METRIC_L1};
  faiss::IndexFlatIP ip{kValues};

  explicit FaissIndexes(const std::vector<float>& vectors) {
    const auto count = static_cast<faiss::Index::idx_t>(vectors.size() / kValues);
    l2.add(count, vectors.data());
    l1.add(count, vectors.data());
    ip.add(count, normalised(vectors).data());
  }

  static std::vector<float> normalised(std::vector<float> v) {
    for (size_t row = 0; row < v.size(); row += kValues) {
      double squares = 0.0;
      for (unsigned i = 0; i < kValues; ++i) squares += static_cast<double>(v[row + i]) * v[row + i];
      const auto scale = static_cast<float>(1.0 / std::sqrt(squares));
      for (unsigned i = 0; i < kValues; ++i) v[row + i] *= scale;
    }
    return v;
  }

  // The top kResults of one metric for query.
  std::set<int64_t> search(unsigned metric, const std::vector<float>& query) {
    std::vector<float> distances(kResults);
    std::vector<faiss::Index::idx_t> labels(kResults);
    if (metric == 0) l2.search(1, query.data(), kResults, distances.data(), labels.data());
    if (metric == 1) l1.search(1, query.data(), kResults, distances.data(), labels.data());
    if (metric == 2) {
      std::vector<float> negated = normalised(query);
      for (float& value : negated) value = -value;
      ip.search(1, negated.data(), kResults, distances.data(), labels.data());
    }
    return std::set<int64_t>(labels.begin(), labels.end());
  }
};
#endif

void run(unsigned songs) {
  uint32_t state = 12345;
  std::vector<float> vectors;
  vectors.reserve(static_cast<size_t>(songs) * kValues);
  AdaptedFeatureDb db("Database");
  for (unsigned id = 1; id <= songs; ++id) {
    const std::vector<float> v = randomVector(state);
    vectors.insert(vectors.end(), v.begin(), v.end());
    db.add(adaptedSignature(id, {{"timbre", v}}).release());
  }
  SessionGlobals globals;
  std::vector<std::unique_ptr<OverallSimilarity>> methods;
  for (const char* metric : kMetrics) {
    methods.push_back(method(metric));
    methods.back()->init(db, globals);
  }
  std::vector<std::unique_ptr<CAudioSignMulti>> queries;
  std::vector<std::vector<float>> queryVectors;
  for (int q = 0; q < kQueries; ++q) {
    queryVectors.push_back(randomVector(state));
    queries.push_back(adaptedSignature(songs + 1, {{"timbre", queryVectors.back()}}));
  }
#ifdef KIVET_WITH_FAISS
  omp_set_num_threads(1);
  FaissIndexes faiss(vectors);
#endif
  vectors = std::vector<float>();

  QueryParameters params;
  params.resultCount = kResults;
  std::vector<double> kivetTimes[3], faissTimes[3];
  int agreeing[3] = {0, 0, 0};
  for (int round = 0; round < kRounds; ++round) {
    for (int q = 0; q < kQueries; ++q) {
      for (unsigned m = 0; m < 3; ++m) {
        SimilarityList out("", 1000);
        Clock::time_point start = Clock::now();
        methods[m]->process(*queries[q], out, params);
        kivetTimes[m].push_back(millisecondsSince(start));
#ifdef KIVET_WITH_FAISS
        start = Clock::now();
        const std::set<int64_t> theirs = faiss.search(m, queryVectors[q]);
        faissTimes[m].push_back(millisecondsSince(start));
        if (round == 0 && theirs == songsOf(out)) ++agreeing[m];
#endif
      }
    }
  }
  const ReferenceRows& rows = db.referenceRows("timbre");
  const std::vector<double> query(queryVectors[0].begin(), queryVectors[0].end());
  std::vector<double> sums(256);
  for (const DistanceKernels* form : availableDistanceKernels()) {
    std::vector<double> times;
    for (int q = 0; q < kQueries; ++q) {
      const Clock::time_point start = Clock::now();
      for (unsigned i = 0; i < rows.size(); i += 256)
        form->squaredDifferences(rows.data(i), std::min(256u, rows.size() - i), kValues, query.data(), sums.data());
      times.push_back(millisecondsSince(start));
    }
    std::printf("%8u  kernel %-5s  %7.2f\n", songs, form->name, median(times));
  }
  for (unsigned m = 0; m < 3; ++m) {
    const double kivet = median(kivetTimes[m]);
    if (faissTimes[m].empty()) {
      std::printf("%8u  %-10s  %9.2f\n", songs, kMetrics[m], kivet);
      continue;
    }
    const double faiss = median(faissTimes[m]);
    std::printf("%8u  %-10s  %9.2f  %9.2f  %6.2f  %5d/%d\n", songs, kMetrics[m], kivet, faiss, kivet / faiss,
                agreeing[m], kQueries);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<unsigned> sizes = bench::songCounts(argc, argv, {100000, 1000000});
  std::printf("distance kernels: %s; median of %d queries x %d rounds, top %u\n", distanceKernels().name, kQueries,
              kRounds, kResults);
#ifdef KIVET_WITH_FAISS
  std::printf("   songs  metric       kivet ms   FAISS ms   ratio  same top %u\n", kResults);
#else
  std::printf("   songs  metric       kivet ms   (built without FAISS)\n");
#endif
  for (unsigned songs : sizes) run(songs);
  return 0;
}
