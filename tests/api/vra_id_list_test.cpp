#include "api/vra_id_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/api/api_test_support.h"

using namespace vemra_kivet;

namespace {

std::vector<unsigned> idsOf(vraIDList& list) {
  std::vector<unsigned> ids;
  for (unsigned i = 0; i < list.size(); ++i) ids.push_back(list.getId(i));
  return ids;
}

TEST(VraIDList, AddAndRemoveKeepOrderWithoutDuplicates) {
  const struct {
    const char* name;
    std::vector<unsigned> added;
    std::vector<unsigned> removed;
    std::vector<unsigned> expected;
  } cases[] = {
      {"an id already present is not added again", {5, 3, 5, 3}, {}, {5, 3}},
      {"removing shifts the later ids", {1, 2, 3, 4}, {2}, {1, 3, 4}},
      {"first and last", {1, 2, 3, 4}, {1, 4}, {2, 3}},
      {"an absent id changes nothing", {1, 2}, {9, 0}, {1, 2}},
      {"ids of the whole unsigned range", {0, 4294967295u, 7}, {7}, {0, 4294967295u}},
      {"removed ids may come back, at the end", {1, 2, 3}, {1, 3}, {2}},
  };
  for (const auto& c : cases) {
    vraIDList list;
    for (unsigned id : c.added) list.add(id);
    for (unsigned id : c.removed) list.remove(id);
    EXPECT_EQ(idsOf(list), c.expected) << c.name;
    for (unsigned id : c.added)
      EXPECT_EQ(list.contains(id), std::find(c.expected.begin(), c.expected.end(), id) != c.expected.end())
          << c.name << ", id " << id;
  }
}

TEST(VraIDList, IndexPastTheEndAndReferences) {
  auto* list = new vraIDList;  // count 1
  apitest::expectCode([&] { list->getId(0); }, 10);
  list->add(8);
  list->add(9);
  const vraIDList& constant = *list;
  EXPECT_EQ(constant.getId(1), 9u);
  apitest::expectCode([&] { list->getId(2); }, 10);
  apitest::expectCode([&] { constant.getId(4294967295u); }, 10);
  list->addRef();   // 2
  list->release();  // 1
  EXPECT_EQ(list->size(), 2u);
  static_cast<vraIIDList*>(list)->release();  // 0: deleted (the sanitizer build reports a leak otherwise)
}

}  // namespace
