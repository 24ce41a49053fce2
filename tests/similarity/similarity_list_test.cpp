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

SimilarityList& fill(SimilarityList& list, const std::vector<float>& distances) {
  for (size_t i = 0; i < distances.size(); ++i) list.add(distances[i], i + 1, 1.0f - distances[i], -1);
  return list;
}

TEST(SimilarityList, BoundedBestFirstAddAndTruncate) {
  const struct {
    unsigned capacity;
    std::vector<float> added;
    Entries expected;
  } cases[] = {
      // Full: 3.0 (equal to the worst) is rejected, 2.5 and then 0.5 enter.
      {3, {1, 2, 3, 3, 2.5f, 0.5f}, {{0.5f, 6}, {1, 1}, {2, 2}}},
      {5, {2, 1, 2, 2}, {{1, 2}, {2, 1}, {2, 3}, {2, 4}}},  // ties in arrival order
      {4294967295u, {1}, {}},  // read as -1: keeps nothing
  };
  for (const auto& c : cases) {
    SimilarityList list("x", c.capacity);
    EXPECT_EQ(entriesOf(fill(list, c.added)), c.expected) << c.capacity;
  }
  // A full list rejects a worse or equal candidate without allocating.
  SimilarityList list("", 3);
  fill(list, {1, 1, 2, 3});
  const size_t before = allocations;
  list.add(4.0f, 9, 0.0f, -1);
  list.add(2.0f, 9, 0.0f, -1);
  EXPECT_EQ(allocations, before);
  list.add(1.5f, 9, 0.0f, -1);
  EXPECT_EQ(allocations, before + 1);
  EXPECT_EQ(list.distinctDistanceCount(), 2u);
  list.truncate(1);
  EXPECT_EQ(list.capacity, 1);
  EXPECT_EQ(entriesOf(list), (Entries{{1, 1}}));
  list.truncate(0);
  list.add(0.0f, 1, 1.0f, -1);
  EXPECT_EQ(list.distinctDistanceCount(), 0u);
}

TEST(SimilarityList, KeepCumulativeFractionAndChains) {
  // The shortest head whose distances reach 0.2 of their sum, exact matches
  // always; capacity its length.
  const std::pair<std::vector<float>, size_t> cases[] = {
      {{1, 1, 1, 1, 1}, 1}, {{0, 0, 3}, 3}, {{0}, 1}, {{0, 0}, 2}, {{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 3}, {{}, 0}};
  for (const auto& [distances, kept] : cases) {
    SimilarityList list("", 1000);
    fill(list, distances).keepCumulativeFraction(0.2f);
    EXPECT_EQ(list.size(), kept) << distances.size();
    EXPECT_EQ(list.capacity, distances.empty() ? 1000 : static_cast<int32_t>(kept));
  }

  SimilarityList head("head", 5);
  SimilarityList* second = head.appendList();
  SimilarityList* third = head.appendList();
  EXPECT_EQ(second->nextList(), third);
  EXPECT_EQ(head.chainLength(), 2u);
  EXPECT_TRUE(third->name.empty() && third->capacity == 1000);
  // Clearing the head drops the chain (the sanitizer build reports a leak).
  fill(head, {1});
  head.clear();
  EXPECT_TRUE(head.empty() && head.name.empty() && head.capacity == 1000 && head.nextList() == nullptr);
}

}  // namespace
