#include "api/vra_result_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/api/api_test_support.h"

using namespace vemra_kivet;

namespace {

using Entries = std::vector<std::pair<unsigned, float>>;

Entries entriesOf(vraResultList& list) {
  Entries entries;
  for (unsigned i = 0; i < list.size(); ++i) entries.emplace_back(list.getResult(i).id, list.getResult(i).score);
  return entries;
}

TEST(VraResultList, MoveToFront) {
  const Entries ranked = {{4, 0.9f}, {2, 0.8f}, {7, 0.5f}, {3, 0.25f}};
  const struct {
    const char* name;
    unsigned firstId;
    unsigned id;
    Entries expected;
  } cases[] = {
      {"the entry of id swaps places with the first", 4, 7, {{7, 0.5f}, {2, 0.8f}, {4, 0.9f}, {3, 0.25f}}},
      {"from the end", 4, 3, {{3, 0.25f}, {2, 0.8f}, {7, 0.5f}, {4, 0.9f}}},
      {"an absent id changes nothing", 4, 9, ranked},
      {"id already first changes nothing", 4, 4, ranked},
      {"an absent first id changes nothing", 9, 7, ranked},
      {"any two entries swap", 2, 3, {{4, 0.9f}, {3, 0.25f}, {7, 0.5f}, {2, 0.8f}}},
  };
  for (const auto& c : cases) {
    vraResultList list;
    for (const auto& [id, score] : ranked) list.append(id, score);
    list.moveToFront(c.firstId, c.id);
    EXPECT_EQ(entriesOf(list), c.expected) << c.name;
  }
  vraResultList empty;
  empty.moveToFront(0, 0);
  EXPECT_EQ(empty.size(), 0u);
}

TEST(VraResultList, IndexPastTheEndAndReferences) {
  auto* list = new vraResultList;  // count 1
  apitest::expectCode([&] { list->getResult(0); }, 10);
  list->append(12, 1.0f);
  const vraResultList& constant = *list;
  const vraResult result = constant.getResult(0);
  EXPECT_EQ(result.id, 12u);
  EXPECT_EQ(result.score, 1.0f);
  apitest::expectCode([&] { list->getResult(1); }, 10);
  apitest::expectCode([&] { constant.getResult(1); }, 10);
  list->addRef();   // 2
  list->release();  // 1
  EXPECT_EQ(list->size(), 1u);
  static_cast<vraIResultList*>(list)->release();  // 0: deleted
}

}  // namespace
