#include "similarity/similarity_candidates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
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
  struct Case {
    const char* what;
    float w;
    bool weighted;
    uint32_t lists;
    Hits hits;
  };
  // Every case starts from lists 10 and song 1 at (1, 1.0).
  const std::vector<Case> cases = {
      {"plain add", 0.0f, false, 13, {{1, {2, 1.5f}}, {2, {2, 0.25f}}}},
      {"w -1 changes nothing", -1.0f, true, 10, {{1, {1, 1.0f}}}},
      {"w 0.5: counts times 1.5 rounded up, sums unscaled", 0.5f, true, 15, {{1, {3, 1.5f}}, {2, {3, 0.25f}}}},
      {"w 0: counts as they are", 0.0f, true, 13, {{1, {2, 1.5f}}, {2, {2, 0.25f}}}},
      // A factor below 0 subtracts, modulo 2^32 as a 32-bit count takes it.
      {"w -3: factor -2", -3.0f, true, 4, {{1, {4294967295u, 1.5f}}, {2, {4294967292u, 0.25f}}}},
      {"w NaN: no count added", std::nanf(""), true, 10, {{1, {1, 1.5f}}, {2, {0, 0.25f}}}},
  };
  for (const Case& c : cases) {
    SimilarityCandidates mine = candidates(10, {{1, {1, 1.0f}}});
    mine.name = "class";
    if (c.weighted)
      mine.addWeighted(other, c.w);
    else
      mine.add(other);
    EXPECT_EQ(mine.lists, c.lists) << c.what;
    EXPECT_EQ(hitsOf(mine), c.hits) << c.what;
    EXPECT_EQ(mine.name, "class") << c.what;
  }
  SimilarityCandidates mine = candidates(10, {{1, {1, 1.0f}}});
  mine.addWeighted(SimilarityCandidates(), 0.5f);
  EXPECT_EQ(mine.lists, 10u);
  EXPECT_EQ(hitsOf(mine), (Hits{{1, {1, 1.0f}}}));
}

TEST(SimilarityCandidates, ToListAndPrune) {
  // lists 4, (hits 2, sum 0.5): 0.5 x 0.5 + 0.5 x 0.25 = 0.375.
  SimilarityCandidates c = candidates(4, {{7, {2, 0.5f}}, {3, {4, 0.0f}}, {5, {1, 0.9f}}, {9, {0, 0.0f}}});
  SimilarityList out("", 1000);
  c.toList(out);
  std::vector<std::tuple<uint64_t, float, float>> fused;
  for (const auto& entry : out) fused.emplace_back(entry.second.id, entry.first, entry.second.weight);
  // Song 9 has no hits and no rank: it is left out.
  const std::vector<std::tuple<uint64_t, float, float>> expected = {
      {3, 0.0f, 1.0f}, {7, 0.375f, 0.625f}, {5, static_cast<float>(0.5 * 0.75 + 0.5 * 0.9f), 0.0f}};
  ASSERT_EQ(fused.size(), expected.size());
  for (size_t i = 0; i < fused.size(); ++i) {
    EXPECT_EQ(std::get<0>(fused[i]), std::get<0>(expected[i]));
    EXPECT_FLOAT_EQ(std::get<1>(fused[i]), std::get<1>(expected[i]));
  }
  EXPECT_FLOAT_EQ(std::get<2>(fused[1]), 0.625f);
  EXPECT_FLOAT_EQ(std::get<2>(fused[2]), 1.0f - std::get<1>(expected[2]));

  SimilarityList none("", 1000);
  candidates(0, {{1, {1, 0.0f}}}).toList(none);
  EXPECT_TRUE(none.empty());

  // prune(n) keeps positions 0 to n of the fused order.
  SimilarityCandidates pruned = c;
  pruned.prune(1);
  EXPECT_EQ(hitsOf(pruned), (Hits{{3, {4, 0.0f}}, {7, {2, 0.5f}}, {9, {0, 0.0f}}}));
  pruned = c;
  pruned.prune(5);
  EXPECT_EQ(hitsOf(pruned), hitsOf(c));

  // Songs beyond the 1000-entry working list stay.
  SimilarityCandidates many;
  many.lists = 1;
  for (uint64_t id = 0; id < 1002; ++id) many.entries[id] = {1, static_cast<float>(id)};
  many.prune(0);
  EXPECT_EQ(hitsOf(many), (Hits{{0, {1, 0.0f}}, {1000, {1, 1000.0f}}, {1001, {1, 1001.0f}}}));
}

}  // namespace
