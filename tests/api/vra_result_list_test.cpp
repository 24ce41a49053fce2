#include "api/vra_result_list.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/api/api_test_support.h"

using namespace vemra_kivet;

TEST(VraResultList, MoveToFrontIndexAndReferences) {
  using Entries = std::vector<std::pair<unsigned, float>>;
  const Entries ranked = {{4, 0.9f}, {2, 0.8f}, {7, 0.5f}, {3, 0.25f}};
  const struct {
    unsigned firstId, id;
    Entries expected;
  } cases[] = {
      {4, 7, {{7, 0.5f}, {2, 0.8f}, {4, 0.9f}, {3, 0.25f}}},
      {4, 3, {{3, 0.25f}, {2, 0.8f}, {7, 0.5f}, {4, 0.9f}}},
      {4, 9, ranked},  // an absent id
      {4, 4, ranked},  // already first
      {9, 7, ranked},  // an absent first id
      {2, 3, {{4, 0.9f}, {3, 0.25f}, {7, 0.5f}, {2, 0.8f}}},
  };
  for (const auto& c : cases) {
    auto* list = new vraResultList;
    for (const auto& [id, score] : ranked) list->append(id, score);
    list->moveToFront(c.firstId, c.id);
    Entries entries;
    const vraResultList& constant = *list;
    for (unsigned i = 0; i < list->size(); ++i)
      entries.emplace_back(list->getResult(i).id, constant.getResult(i).score);
    EXPECT_EQ(entries, c.expected) << c.firstId << " " << c.id;
    apitest::expectCode([&] { list->getResult(4); }, 10);
    apitest::expectCode([&] { constant.getResult(4294967295u); }, 10);
    list->addRef();                                 // 2
    list->release();                                // 1
    static_cast<vraIResultList*>(list)->release();  // 0: deleted
  }
  vraResultList empty;
  empty.moveToFront(0, 0);
  apitest::expectCode([&] { empty.getResult(0); }, 10);
}
