#include "similarity/similarity_candidates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "similarity/similarity_list.h"

namespace {

using Hits = std::map<uint64_t, std::pair<uint32_t, float>>;

SimilarityCandidates candidates(uint32_t lists, const Hits& hits) {
  SimilarityCandidates c;
  c.lists = lists;
  for (const auto& [id, entry] : hits) c.entries[id] = {entry.first, entry.second};
  return c;
}

Hits hitsOf(const SimilarityCandidates& c) {
  Hits hits;
  for (const auto& [id, entry] : c.entries) hits[id] = {entry.hits, entry.sum};
  return hits;
}

TEST(SimilarityCandidates, AddAndAddWeighted) {
  const SimilarityCandidates other = candidates(3, {{1, {1, 0.5f}}, {2, {2, 0.25f}}});
  // Every case starts from lists 10 and song 1 at (1, 1.0). w NAN stands for
  // the plain add; an empty other for an object without entries.
  const std::tuple<float, SimilarityCandidates, uint32_t, Hits> cases[] = {
      {NAN, other, 13, {{1, {2, 1.5f}}, {2, {2, 0.25f}}}},
      {-1.0f, other, 10, {{1, {1, 1.0f}}}},                                      // w -1 changes nothing
      {0.5f, SimilarityCandidates(), 10, {{1, {1, 1.0f}}}},                      // nothing to add
      {0.5f, other, 15, {{1, {3, 1.5f}}, {2, {3, 0.25f}}}},                      // counts x 1.5 rounded up
      {-3.0f, other, 4, {{1, {4294967295u, 1.5f}}, {2, {4294967292u, 0.25f}}}},  // x -2, modulo 2^32
  };
  for (const auto& [w, from, lists, hits] : cases) {
    SimilarityCandidates mine = candidates(10, {{1, {1, 1.0f}}});
    std::isnan(w) ? mine.add(from) : mine.addWeighted(from, w);
    EXPECT_EQ(mine.lists, lists) << w;
    EXPECT_EQ(hitsOf(mine), hits) << w;
  }
  SimilarityCandidates mine = candidates(10, {{1, {1, 1.0f}}});
  mine.addWeighted(other, NAN);  // no count added, the sums are
  EXPECT_EQ(mine.lists, 10u);
  EXPECT_EQ(hitsOf(mine), (Hits{{1, {1, 1.5f}}, {2, {0, 0.25f}}}));
}

TEST(SimilarityCandidates, ToListAndPrune) {
  // lists 4, (hits 2, sum 0.5): 0.5 x 0.5 + 0.5 x 0.25 = 0.375. Song 9 has
  // no hits and no rank: it is left out, as is every song of an object
  // without lists.
  const SimilarityCandidates c = candidates(4, {{7, {2, 0.5f}}, {3, {4, 0.0f}}, {5, {1, 0.9f}}, {9, {0, 0.0f}}});
  SimilarityList out("", 1000);
  c.toList(out);
  candidates(0, {{1, {1, 0.0f}}}).toList(out);
  const float d5 = static_cast<float>(0.5 * 0.75 + 0.5 * 0.9f);
  std::vector<std::tuple<uint64_t, float, float>> fused;
  for (const auto& entry : out) fused.emplace_back(entry.second.id, entry.first, entry.second.weight);
  EXPECT_EQ(fused, (decltype(fused){{3, 0.0f, 1.0f}, {7, 0.375f, 0.625f}, {5, d5, static_cast<float>(1.0 - d5)}}));

  // prune(n) keeps positions 0 to n of the fused order, and songs beyond its
  // 1000 entries.
  SimilarityCandidates pruned = c;
  pruned.prune(1);
  EXPECT_EQ(hitsOf(pruned), (Hits{{3, {4, 0.0f}}, {7, {2, 0.5f}}, {9, {0, 0.0f}}}));
  SimilarityCandidates many;
  many.lists = 1;
  for (uint64_t id = 0; id < 1002; ++id) many.entries[id] = {1, static_cast<float>(id)};
  many.prune(0);
  EXPECT_EQ(hitsOf(many), (Hits{{0, {1, 0.0f}}, {1000, {1, 1000.0f}}, {1001, {1, 1001.0f}}}));
}

}  // namespace
