// Fusion of a query's chain of per-classifier lists: 5 lists of 1000 entries
// each, the songs drawn from a pool of 3000 with many ties in distance, fused
// by the aggregator and by the literal walk to each song's first occurrence
// (quadratic in the list length). Times are microseconds per fusion.

#include <benchmark/benchmark.h>

#include <random>

#include "similarity/aggregator.h"
#include "tests/support/reference_fusion.h"

namespace {

constexpr int kLists = 5;
constexpr int kEntries = 1000;

void buildChain(SimilarityList& head) {
  std::mt19937 random(5);
  SimilarityList* list = &head;
  for (int l = 0; l < kLists; ++l) {
    if (l > 0) list = list->appendList();
    for (int i = 0; i < kEntries; ++i)
      list->add(static_cast<float>(random() % 200) * 0.01f, random() % 3000, 0.0f, -1);
  }
}

void aggregator(benchmark::State& state) {
  SimilarityList head("", 1000);
  buildChain(head);
  Aggregator fusion;
  SimilarityList out("", 1000);
  for (auto _ : state) {
    fusion.aggregate(head, out);
    benchmark::DoNotOptimize(out.size());
  }
}

void literalWalk(benchmark::State& state) {
  SimilarityList head("", 1000);
  buildChain(head);
  SimilarityList out("", 1000);
  for (auto _ : state) {
    referencefusion::aggregate(head, out);
    benchmark::DoNotOptimize(out.size());
  }
}

}  // namespace

BENCHMARK(aggregator)->Unit(benchmark::kMicrosecond);
BENCHMARK(literalWalk)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
