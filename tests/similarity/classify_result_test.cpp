#include "similarity/classify_result.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(ClassifyResult, AscendingScoresAndLookupOfTheFirstByName) {
  ClassifyResult result;
  EXPECT_EQ(result.get("c.a"), 0.0f);
  result.insert(0.5f, "c.b");
  result.insert(0.25f, "c.a");
  result.insert(0.5f, "c.a");
  result.insert(0.125f, "c.c");
  const std::vector<std::pair<float, std::string>> entries(result.begin(), result.end());
  const std::vector<std::pair<float, std::string>> expected = {
      {0.125f, "c.c"}, {0.25f, "c.a"}, {0.5f, "c.b"}, {0.5f, "c.a"}};
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(result.get("c.a"), 0.25f);  // the lower of its two scores comes first
  EXPECT_EQ(result.get("c.b"), 0.5f);
  EXPECT_EQ(result.get("c"), 0.0f);
  result.clear();
  EXPECT_TRUE(result.empty());
}
