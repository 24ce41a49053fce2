#include "api/vra_id_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/api/api_test_support.h"

using namespace vemra_kivet;

TEST(VraIDList, AddRemoveContainsAndIndex) {
  const struct {
    std::vector<unsigned> added, removed, expected;
  } cases[] = {
      {{5, 3, 5, 3}, {}, {5, 3}},        // an id present is not added again
      {{1, 2, 3, 4}, {2}, {1, 3, 4}},    // removing shifts the later ids
      {{1, 2, 3, 4}, {1, 4}, {2, 3}},    // first and last
      {{1, 2}, {9, 0}, {1, 2}},          // an absent id changes nothing
      {{0, 4294967295u, 7}, {7}, {0, 4294967295u}},
  };
  for (const auto& c : cases) {
    auto* list = new vraIDList;
    for (unsigned id : c.added) list->add(id);
    for (unsigned id : c.removed) list->remove(id);
    std::vector<unsigned> ids;
    for (unsigned i = 0; i < list->size(); ++i) ids.push_back(list->getId(i));
    EXPECT_EQ(ids, c.expected);
    for (unsigned id : c.added)
      EXPECT_EQ(list->contains(id), std::count(c.expected.begin(), c.expected.end(), id) == 1) << id;
    const vraIDList& constant = *list;
    apitest::expectCode([&] { list->getId(list->size()); }, 10);
    apitest::expectCode([&] { constant.getId(4294967295u); }, 10);
    list->addRef();   // 2
    list->release();  // 1
    static_cast<vraIIDList*>(list)->release();  // 0: deleted (the sanitizer build reports a leak otherwise)
  }
}
