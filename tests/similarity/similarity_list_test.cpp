#include "similarity/similarity_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

// Every allocation of this program is counted, so that a test can tell
// whether a call allocated.
static size_t allocations = 0;
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

SimilarityList& fill(SimilarityList& list, const Entries& entries) {
  for (const auto& [distance, id] : entries) list.add(distance, id, 1.0f - distance, -1);
  return list;
}

TEST(SimilarityList, BoundedBestFirstAdd) {
  const struct {
    unsigned capacity;
    Entries added, expected;
  } cases[] = {
      // Full: 3.0 (equal to the worst) is rejected, 2.5 and then 0.5 enter.
      {3, {{1, 1}, {2, 2}, {3, 3}, {3, 4}, {2.5f, 5}, {0.5f, 6}}, {{0.5f, 6}, {1, 1}, {2, 2}}},
      {5, {{2, 7}, {1, 3}, {2, 5}, {2, 1}}, {{1, 3}, {2, 7}, {2, 5}, {2, 1}}},  // ties in arrival order
      {0, {{1, 1}, {0, 2}}, {}},
      {4294967295u, {{1, 1}}, {}},  // read as -1: keeps nothing
  };
  for (const auto& c : cases) {
    SimilarityList list("x", c.capacity);
    EXPECT_EQ(entriesOf(fill(list, c.added)), c.expected) << c.capacity;
  }
  // A full list rejects a worse or equal candidate without allocating.
  SimilarityList list("", 3);
  fill(list, {{1, 1}, {2, 2}, {3, 3}});
  const size_t before = allocations;
  list.add(4.0f, 4, 0.0f, -1);
  list.add(3.0f, 5, 0.0f, -1);
  const size_t afterRejected = allocations;
  list.add(2.5f, 6, 0.25f, -1);
  EXPECT_EQ(afterRejected, before);
  EXPECT_EQ(allocations, before + 1);
  EXPECT_EQ(entriesOf(list), (Entries{{1, 1}, {2, 2}, {2.5f, 6}}));
  EXPECT_EQ(std::prev(list.end())->second.weight, 0.25f);
}

TEST(SimilarityList, TruncateCumulativeHeadAndDistinctDistances) {
  SimilarityList list("", 1000);
  fill(list, {{1, 1}, {1, 2}, {2, 3}, {3, 4}, {3, 5}});
  EXPECT_EQ(list.distinctDistanceCount(), 3u);
  list.truncate(2);
  EXPECT_EQ(list.capacity, 2);
  EXPECT_EQ(entriesOf(list), (Entries{{1, 1}, {1, 2}}));
  list.truncate(0);
  list.add(0.0f, 1, 1.0f, -1);
  EXPECT_EQ(list.distinctDistanceCount(), 0u);

  const struct {
    std::vector<float> distances;
    size_t kept;
  } cases[] = {{{1, 1, 1, 1, 1}, 1}, {{0, 0, 3}, 3}, {{0}, 0}, {{5, 1, 1, 1, 1, 1}, 2}, {{-1, 2}, 2}, {{}, 0}};
  for (const auto& c : cases) {
    SimilarityList head("", 1000);
    for (size_t i = 0; i < c.distances.size(); ++i) head.add(c.distances[i], i, 0.0f, -1);
    head.keepCumulativeFraction(0.2f);
    EXPECT_EQ(head.size(), c.kept) << c.distances.size();
    EXPECT_EQ(head.capacity, c.distances.empty() ? 1000 : static_cast<int32_t>(c.kept));
  }
}

TEST(SimilarityList, Chains) {
  SimilarityList head("head", 5);
  SimilarityList* second = head.appendList();
  SimilarityList* third = head.appendList();
  EXPECT_EQ(second->nextList(), third);
  EXPECT_EQ(head.chainLength(), 2u);
  EXPECT_EQ(third->name, "");
  EXPECT_EQ(third->capacity, 1000);
  // Clearing the head drops the chain (the sanitizer build reports a leak).
  fill(head, {{1, 1}});
  head.clear();
  EXPECT_TRUE(head.empty() && head.name.empty() && head.capacity == 1000 && head.nextList() == nullptr);
  // A long chain is freed from its head without deep recursion.
  auto* longChain = new SimilarityList("", 1);
  SimilarityList* last = longChain;
  for (int i = 0; i < 100000; ++i) last = last->appendList();
  EXPECT_EQ(longChain->chainLength(), 100000u);
  delete longChain;
}

}  // namespace
