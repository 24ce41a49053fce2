#include "similarity/aggregator.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "tests/support/expect_message.h"
#include "tests/support/reference_fusion.h"

namespace {

using Lists = std::vector<std::vector<std::pair<uint64_t, float>>>;  // per list: (song id, distance)
using Fused = std::vector<std::tuple<uint64_t, float, float>>;       // (song id, distance, weight)

SimilarityList& build(SimilarityList& head, const Lists& lists) {
  SimilarityList* list = &head;
  for (size_t i = 0; i < lists.size(); ++i) {
    if (i > 0) list = list->appendList();
    for (const auto& [id, distance] : lists[i]) list->add(distance, id, 1.0f - distance, -1);
  }
  return head;
}

Fused fusedOf(const SimilarityList& list) {
  Fused fused;
  for (const auto& entry : list) fused.emplace_back(entry.second.id, entry.first, entry.second.weight);
  return fused;
}

TEST(Aggregator, FusesByDenseRanksAndCounts) {
  const struct {
    Lists lists;
    unsigned capacity;
    Fused expected;
  } cases[] = {
      // A ranks s1 0, s2 1, s3 1 of 3; B ranks s2 0, s1 1 of 2.
      {{{{1, 0.1f}, {2, 0.2f}, {3, 0.2f}}, {{2, 0.5f}, {1, 0.9f}}},
       1000,
       {{2, 1.0f / 12, 11.0f / 12}, {1, 0.125f, 0.875f}, {3, 5.0f / 12, 7.0f / 12}}},
      // s1 twice in A, both times at rank 0: count 3, sum 3.
      {{{{1, 0.1f}, {2, 0.2f}, {1, 0.3f}}, {{1, 0.5f}}}, 1000, {{1, -0.25f, 1.25f}, {2, 5.0f / 12, 7.0f / 12}}},
      // All at d 0.25: arrival order (ascending count, then id) decides who fits.
      {{{{9, 0.1f}, {5, 0.1f}}, {{7, 0.3f}, {3, 0.3f}}}, 3, {{3, 0.25f, 0.75f}, {5, 0.25f, 0.75f}, {7, 0.25f, 0.75f}}},
      {{{}, {{4, 1.0f}}, {}, {{4, 2.0f}}}, 1000, {{4, 0.0f, 1.0f}}},  // empty lists do not count
      // One list alone: d = r / 2n, ranks 0, 1, 1, 2 of 4.
      {{{}, {{1, 0.1f}, {2, 0.2f}, {3, 0.2f}, {4, 0.4f}}, {}},
       1000,
       {{1, 0.0f, 1.0f}, {2, 0.125f, 0.875f}, {3, 0.125f, 0.875f}, {4, 0.25f, 0.75f}}},
  };
  for (const auto& c : cases) {
    SimilarityList head("", 1000), out("", c.capacity);
    Aggregator().aggregate(build(head, c.lists), out);
    const Fused fused = fusedOf(out);
    ASSERT_EQ(fused.size(), c.expected.size());
    for (size_t i = 0; i < fused.size(); ++i) {
      EXPECT_EQ(std::get<0>(fused[i]), std::get<0>(c.expected[i])) << i;
      EXPECT_FLOAT_EQ(std::get<1>(fused[i]), std::get<1>(c.expected[i])) << i;
      EXPECT_FLOAT_EQ(std::get<2>(fused[i]), std::get<2>(c.expected[i])) << i;
    }
  }
}

TEST(Aggregator, OutputListRules) {
  Aggregator aggregator;
  const Lists two = {{{1, 0.1f}, {2, 0.2f}}, {{2, 0.1f}, {3, 0.2f}}};
  // The same list as input and output: the chain is read before it is dropped.
  SimilarityList head("head", 1000);
  aggregator.aggregate(build(head, two), head);
  EXPECT_TRUE(head.size() == 3 && head.name.empty() && head.nextList() == nullptr);
  // An empty head keeps capacity, name and chain: song 2 (twice) and song 1 stay.
  SimilarityList emptyHead("kept", 2);
  aggregator.aggregate(build(emptyHead, {{}, two[0], two[1]}), emptyHead);
  EXPECT_EQ(fusedOf(emptyHead), (Fused{{2, 0.125f, 0.875f}, {1, 0.25f, 0.75f}}));
  EXPECT_TRUE(emptyHead.name == "kept" && emptyHead.chainLength() == 2);
  // No contributing list: out is left exactly as it was.
  for (const Lists& lists : {Lists{{}, {}, {}}, Lists(1)}) {
    SimilarityList chain("", 1000), out("before", 1000);
    out.add(0.5f, 42, 0.5f, -1);
    build(chain, lists);
    for (SimilarityList* target : {&out, &chain})
      expectThrowMessage<StandardException>(
          [&] { aggregator.aggregate(chain, *target); },
          "Aggregator::aggregate() need more than one list to apply aggregation, or contributing lists");
    EXPECT_TRUE(out.name == "before" && fusedOf(out) == (Fused{{42, 0.5f, 0.5f}}));
    EXPECT_EQ(chain.chainLength(), lists.size() - 1);
  }
}

// The one-pass ranks against the literal walk, on random chains full of ties
// and of songs repeated within a list, into lists of several capacities.
TEST(Aggregator, SameListsAsTheLiteralQuadraticForm) {
  std::mt19937 random(15);
  for (int round = 0; round < 400; ++round) {
    Lists lists(1 + random() % 5);
    for (auto& list : lists)
      for (unsigned i = random() % 40; i > 0; --i) list.emplace_back(random() % 30, (random() % 6) * 0.125f);
    SimilarityList head("", 1000);
    build(head, lists);
    const unsigned capacity = round % 4 == 0 ? 5 : round % 4 == 1 ? 1 : 1000;
    SimilarityList fast("", capacity), literal("", capacity);
    std::string failures[2];
    try {
      Aggregator().aggregate(head, fast);
    } catch (const StandardException& e) {
      failures[0] = e.what();
    }
    try {
      referencefusion::aggregate(head, literal);
    } catch (const StandardException& e) {
      failures[1] = e.what();
    }
    EXPECT_EQ(failures[0], failures[1]) << round;
    EXPECT_EQ(fusedOf(fast), fusedOf(literal)) << round;
  }
}

}  // namespace
