// One query of the overall similarity over 100 000 and 1 000 000 adapted
// signatures, each holding one 40-value vector of one classifier (l2norm of
// the means), built in memory. Reports the memory each song takes in the
// feature database and in the database's copy of the reference vectors, the
// time the method's init takes to make that copy (one walk of the database),
// the milliseconds per query, the first query after an add, a removal and a
// change of a stored song in place (each brought into the copy, not copied
// anew), and for comparison a plain walk of the database's map of
// signatures. kivet next to FAISS: query_bench.
//
//   overall_query_bench [songs ...]        default: 100000 1000000

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "metadata/sources/vmtl/vector_ops.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/dom_support.h"
#include "similarity/overall_similarity.h"
#include "similarity/session_globals.h"
#include "tests/support/session_blocks.h"

namespace {

constexpr unsigned kValues = 40;
constexpr int kQueries = 20;

using bench::heapInUse;
using bench::millisecondsSince;

std::vector<float> randomVector(uint32_t& state) { return bench::randomVector(state, kValues); }

// Milliseconds per query with the given result count (0: the head cut).
double timeQueries(OverallSimilarity& method, const CAudioSignMulti& query, uint32_t resultCount) {
  QueryParameters params;
  params.resultCount = resultCount;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kQueries; ++i) {
    SimilarityList out("", 1000);
    method.process(query, out, params);
  }
  return millisecondsSince(start) / kQueries;
}

// The same distances read through the database's map, feature by name.
double timeMapWalk(const AdaptedFeatureDb& db, const CAudioSignMulti& query) {
  const BaseVector<float> q = query.getSignData()->getFeature("timbre")->getMatrix().getRow(0);
  double sum = 0.0;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& entry : db) {
    const BaseVector<float> r = entry.second->getSignData()->getFeature("timbre")->getMatrix().getRow(0);
    sum += euclideanDistance(r, q);
  }
  const double ms = millisecondsSince(start);
  if (sum < 0.0) std::puts("");  // keeps the loop
  return ms;
}

void run(unsigned songs) {
  const std::string text =
      "<similaritymethod><classifier name=\"timbre\" version=\"1\">"
      "<param key=\"feature\" value=\"MFCC\"/><param key=\"mean\" value=\"1\"/></classifier></similaritymethod>";
  DomParser parser;
  OverallSimilarity method(*parser.parseMemory(text.data(), text.size()).getDocumentElement(), nullptr);

  uint32_t state = 12345;
  const size_t empty = heapInUse();
  AdaptedFeatureDb db("Database");
  for (unsigned id = 1; id <= songs; ++id) db.add(adaptedSignature(id, {{"timbre", randomVector(state)}}).release());
  const size_t filled = heapInUse();
  SessionGlobals globals;
  auto start = std::chrono::steady_clock::now();
  method.init(db, globals);
  const double copying = millisecondsSince(start);
  const size_t copied = heapInUse();
  const auto query = adaptedSignature(songs + 1, {{"timbre", randomVector(state)}});

  // The first query after each change, which brings it into the copy.
  const auto firstQuery = [&] {
    QueryParameters params;
    params.resultCount = 100;
    SimilarityList out("", 1000);
    const auto begin = std::chrono::steady_clock::now();
    method.process(*query, out, params);
    return millisecondsSince(begin);
  };
  const double first = firstQuery();
  db.add(adaptedSignature(songs + 2, {{"timbre", randomVector(state)}}).release());
  const double afterAdd = firstQuery();
  db.remove(songs / 2);
  const double afterRemoval = firstQuery();
  db.entry(songs / 3)->getSignData()->getFeature("timbre")->getMatrix()(0, 0) = 0.5f;
  db.markChanged(songs / 3);
  const double afterChange = firstQuery();

  std::printf("%8u songs: database %5.0f bytes/song, reference copy %4.0f bytes/song\n", songs,
              static_cast<double>(filled - empty) / songs, static_cast<double>(copied - filled) / songs);
  std::printf("%8s copy of the references (init)        %8.2f ms\n", "", copying);
  std::printf("%8s query, 100 results                   %8.2f ms\n", "", timeQueries(method, *query, 100));
  std::printf("%8s query, head cut (no result count)     %8.2f ms\n", "", timeQueries(method, *query, 0));
  std::printf("%8s first query, after init / an add / a removal / a change in place  %.2f / %.2f / %.2f / %.2f ms\n",
              "", first, afterAdd, afterRemoval, afterChange);
  std::printf("%8s walk of the database map, for scale   %8.2f ms\n", "", timeMapWalk(db, *query));
}

}  // namespace

int main(int argc, char** argv) {
  for (unsigned songs : bench::songCounts(argc, argv, {100000, 1000000})) run(songs);
  return 0;
}
