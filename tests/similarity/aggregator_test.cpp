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

const char kTooFew[] = "Aggregator::aggregate() need more than one list to apply aggregation, or contributing lists";

using Entry = std::pair<uint64_t, float>;  // song id, distance

// A chain with one list per element of lists, the first being head.
void build(SimilarityList& head, const std::vector<std::vector<Entry>>& lists) {
  SimilarityList* list = &head;
  for (size_t i = 0; i < lists.size(); ++i) {
    if (i > 0) list = list->appendList();
    for (const auto& [id, distance] : lists[i]) list->add(distance, id, 1.0f - distance, -1);
  }
}

struct Fused {
  uint64_t id;
  float distance;
  float weight;
};

std::vector<Fused> fusedOf(const SimilarityList& list) {
  std::vector<Fused> fused;
  for (const auto& entry : list) fused.push_back({entry.second.id, entry.first, entry.second.weight});
  return fused;
}

TEST(Aggregator, FusesByDenseRanksAndCounts) {
  struct Case {
    const char* what;
    std::vector<std::vector<Entry>> lists;
    std::vector<Fused> expected;
  };
  const std::vector<Case> cases = {
      // A ranks s1 0, s2 1, s3 1 of 3; B ranks s2 0, s1 1 of 2.
      {"two lists with a tie",
       {{{1, 0.1f}, {2, 0.2f}, {3, 0.2f}}, {{2, 0.5f}, {1, 0.9f}}},
       {{2, 1.0f / 12, 11.0f / 12}, {1, 0.125f, 0.875f}, {3, 5.0f / 12, 7.0f / 12}}},
      // s1 twice in A, both times with rank 0: count 3, sum 3.
      {"a song twice in one list",
       {{{1, 0.1f}, {2, 0.2f}, {1, 0.3f}}, {{1, 0.5f}}},
       {{1, -0.25f, 1.25f}, {2, 5.0f / 12, 7.0f / 12}}},
      // All four at d 0.25: arrival order is ascending count, then id.
      {"equal fused distances in id order",
       {{{9, 0.1f}, {5, 0.1f}}, {{7, 0.3f}, {3, 0.3f}}},
       {{3, 0.25f, 0.75f}, {5, 0.25f, 0.75f}, {7, 0.25f, 0.75f}, {9, 0.25f, 0.75f}}},
      // Empty lists do not count towards the number of lists.
      {"empty lists between", {{}, {{4, 1.0f}}, {}, {{4, 2.0f}}}, {{4, 0.0f, 1.0f}}},
  };
  for (const Case& c : cases) {
    SimilarityList head("", 1000);
    build(head, c.lists);
    SimilarityList out("", 1000);
    Aggregator().aggregate(head, out);
    const std::vector<Fused> fused = fusedOf(out);
    ASSERT_EQ(fused.size(), c.expected.size()) << c.what;
    for (size_t i = 0; i < fused.size(); ++i) {
      EXPECT_EQ(fused[i].id, c.expected[i].id) << c.what << " #" << i;
      EXPECT_FLOAT_EQ(fused[i].distance, c.expected[i].distance) << c.what << " #" << i;
      EXPECT_FLOAT_EQ(fused[i].weight, c.expected[i].weight) << c.what << " #" << i;
    }
  }
}

TEST(Aggregator, OutputListRules) {
  Aggregator aggregator;
  const std::vector<std::vector<Entry>> two = {{{1, 0.1f}, {2, 0.2f}}, {{2, 0.1f}, {3, 0.2f}}};

  // The same list as input and output: the chain is read before it is dropped.
  SimilarityList head("", 1000);
  build(head, two);
  head.name = "head";
  aggregator.aggregate(head, head);
  EXPECT_EQ(head.size(), 3u);
  EXPECT_EQ(head.name, "");
  EXPECT_EQ(head.nextList(), nullptr);

  // An empty head as output keeps its capacity, name and chain.
  SimilarityList emptyHead("kept", 2);
  build(emptyHead, {{}, two[0], two[1]});
  aggregator.aggregate(emptyHead, emptyHead);
  EXPECT_EQ(emptyHead.size(), 2u);
  EXPECT_EQ(emptyHead.capacity, 2);
  EXPECT_EQ(emptyHead.name, "kept");
  EXPECT_EQ(emptyHead.chainLength(), 2u);
  // Song 2 (met twice) is best; of the two met once, id 1 arrived first.
  EXPECT_EQ(emptyHead.begin()->second.id, 2u);
  EXPECT_EQ(std::next(emptyHead.begin())->second.id, 1u);

  // Fewer than two contributing lists: out is left exactly as it was.
  const std::vector<std::vector<std::vector<Entry>>> tooFew = {
      {{}, {{5, 1.0f}}, {}}, std::vector<std::vector<Entry>>(1), {two[0]}};
  for (const auto& lists : tooFew) {
    SimilarityList chain("", 1000);
    build(chain, lists);
    SimilarityList out("before", 1000);
    out.add(0.5f, 42, 0.5f, -1);
    expectThrowMessage<StandardException>([&] { aggregator.aggregate(chain, out); }, kTooFew);
    expectThrowMessage<StandardException>([&] { aggregator.aggregate(chain, chain); }, kTooFew);
    EXPECT_EQ(out.name, "before");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.begin()->second.id, 42u);
    EXPECT_EQ(chain.chainLength(), lists.size() - 1);
  }
}

// The one-pass ranks against the literal walk, on random chains full of ties
// and of songs repeated within a list, into lists of several capacities.
TEST(Aggregator, SameListsAsTheLiteralQuadraticForm) {
  std::mt19937 random(15);
  for (int round = 0; round < 400; ++round) {
    const int listCount = 1 + static_cast<int>(random() % 5);
    std::vector<std::vector<Entry>> lists(static_cast<size_t>(listCount));
    for (auto& list : lists) {
      const unsigned length = random() % 40;
      for (unsigned i = 0; i < length; ++i) list.emplace_back(random() % 30, static_cast<float>(random() % 6) * 0.125f);
    }
    SimilarityList head("", 1000);
    build(head, lists);
    const unsigned capacity = round % 4 == 0 ? 5 : round % 4 == 1 ? 1 : 1000;
    SimilarityList fast("", capacity);
    SimilarityList literal("", capacity);
    std::string fastFailure;
    std::string literalFailure;
    try {
      Aggregator().aggregate(head, fast);
    } catch (const StandardException& e) {
      fastFailure = e.what();
    }
    try {
      referencefusion::aggregate(head, literal);
    } catch (const StandardException& e) {
      literalFailure = e.what();
    }
    ASSERT_EQ(fastFailure, literalFailure) << "round " << round;
    const std::vector<Fused> a = fusedOf(fast);
    const std::vector<Fused> b = fusedOf(literal);
    ASSERT_EQ(a.size(), b.size()) << "round " << round;
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(std::tie(a[i].id, a[i].distance, a[i].weight), std::tie(b[i].id, b[i].distance, b[i].weight))
          << "round " << round << " #" << i;
    }
  }
}

}  // namespace
