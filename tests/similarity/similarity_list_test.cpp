#include "similarity/similarity_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

// Every allocation of this program is counted, so that a test can tell
// whether a call allocated.
namespace {
size_t allocations = 0;
}  // namespace

void* operator new(size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using Entries = std::vector<std::pair<float, uint64_t>>;

Entries entriesOf(const SimilarityList& list) {
  Entries entries;
  for (const auto& entry : list) entries.emplace_back(entry.first, entry.second.id);
  return entries;
}

void fill(SimilarityList& list, const Entries& entries) {
  for (const auto& [distance, id] : entries) list.add(distance, id, 1.0f - distance, -1);
}

TEST(SimilarityList, BoundedBestFirstAdd) {
  struct Case {
    const char* what;
    unsigned capacity;
    Entries added;
    Entries expected;
  };
  const std::vector<Case> cases = {
      {"full list: equal to the worst rejected, 2.5 and 0.5 enter",
       3,
       {{1, 1}, {2, 2}, {3, 3}, {3.0f, 4}, {2.5f, 5}, {0.5f, 6}},
       {{0.5f, 6}, {1, 1}, {2, 2}}},
      {"equal distances keep the order of arrival",
       5,
       {{2, 7}, {1, 3}, {2, 5}, {2, 1}},
       {{1, 3}, {2, 7}, {2, 5}, {2, 1}}},
      {"capacity 0 keeps nothing", 0, {{1, 1}, {0, 2}}, {}},
      {"capacity 4294967295 reads as -1 and keeps nothing", 4294967295u, {{1, 1}}, {}},
      {"a worse entry leaves a full list as it was", 2, {{1, 1}, {2, 2}, {7, 3}}, {{1, 1}, {2, 2}}},
  };
  for (const Case& c : cases) {
    SimilarityList list("x", c.capacity);
    fill(list, c.added);
    EXPECT_EQ(entriesOf(list), c.expected) << c.what;
  }

  SimilarityList list("", 2);
  list.add(0.25f, 9, 0.75f, -1);
  EXPECT_EQ(list.begin()->second.weight, 0.75f);
  EXPECT_EQ(list.begin()->second.aux, -1);
}

TEST(SimilarityList, FullListRejectsWithoutAllocating) {
  SimilarityList list("", 3);
  fill(list, {{1, 1}, {2, 2}, {3, 3}});
  const size_t before = allocations;
  list.add(4.0f, 4, 0.0f, -1);
  list.add(3.0f, 5, 0.0f, -1);
  const size_t afterRejected = allocations;
  list.add(2.5f, 6, 0.0f, -1);
  const size_t afterTaken = allocations;
  EXPECT_EQ(afterRejected, before);
  EXPECT_EQ(afterTaken, before + 1);
  EXPECT_EQ(entriesOf(list), (Entries{{1, 1}, {2, 2}, {2.5f, 6}}));
}

TEST(SimilarityList, TruncateAndCumulativeHead) {
  SimilarityList list("", 1000);
  fill(list, {{1, 1}, {2, 2}, {3, 3}, {4, 4}});
  list.truncate(2);
  EXPECT_EQ(list.capacity, 2);
  EXPECT_EQ(entriesOf(list), (Entries{{1, 1}, {2, 2}}));
  list.truncate(-3);
  EXPECT_TRUE(list.empty());
  list.truncate(0);
  list.add(0.0f, 1, 1.0f, -1);
  EXPECT_TRUE(list.empty());

  struct Case {
    std::vector<float> distances;
    size_t kept;
  };
  const std::vector<Case> cases = {
      {{1, 1, 1, 1, 1}, 1}, {{0, 0, 3}, 3}, {{0}, 0}, {{5, 1, 1, 1, 1, 1}, 2}, {{-1, 2}, 2}, {{0, 0}, 0},
  };
  for (const Case& c : cases) {
    SimilarityList head("", 1000);
    for (size_t i = 0; i < c.distances.size(); ++i) head.add(c.distances[i], i, 0.0f, -1);
    head.keepCumulativeFraction(0.2f);
    EXPECT_EQ(head.size(), c.kept) << c.distances.size() << " entries";
    EXPECT_EQ(head.capacity, static_cast<int32_t>(c.kept));
  }
  SimilarityList empty("", 17);
  empty.keepCumulativeFraction(0.2f);
  EXPECT_EQ(empty.capacity, 17);
}

TEST(SimilarityList, DistinctDistancesAndChains) {
  SimilarityList head("head", 5);
  EXPECT_EQ(head.distinctDistanceCount(), 0u);
  fill(head, {{1, 1}, {1, 2}, {2, 3}, {3, 4}, {3, 5}});
  EXPECT_EQ(head.distinctDistanceCount(), 3u);

  EXPECT_EQ(head.chainLength(), 0u);
  SimilarityList* second = head.appendList();
  SimilarityList* third = head.appendList();
  EXPECT_EQ(head.nextList(), second);
  EXPECT_EQ(second->nextList(), third);
  EXPECT_EQ(head.chainLength(), 2u);
  EXPECT_EQ(second->chainLength(), 1u);
  EXPECT_EQ(third->name, "");
  EXPECT_EQ(third->capacity, 1000);
  EXPECT_EQ(third->weight, 1.0f);
  third->add(0.5f, 8, 0.5f, -1);

  // Clearing the head drops the chain (the sanitizer build reports a leak).
  head.clear();
  EXPECT_TRUE(head.empty());
  EXPECT_EQ(head.name, "");
  EXPECT_EQ(head.capacity, 1000);
  EXPECT_EQ(head.nextList(), nullptr);

  // A long chain is freed from its head without deep recursion.
  auto* longChain = new SimilarityList("", 1);
  SimilarityList* last = longChain;
  for (int i = 0; i < 100000; ++i) last = last->appendList();
  EXPECT_EQ(longChain->chainLength(), 100000u);
  delete longChain;
}

}  // namespace
