#include "similarity/query_parameters.h"

#include <gtest/gtest.h>

TEST(QueryParameters, DefaultsAndParameterCopy) {
  const std::map<std::string, float> values = {{"tempo", 0.5f}, {"mood", 0.25f}};
  const QueryParameters plain;
  const QueryParameters withValues(values);
  for (const QueryParameters* params : {&plain, &withValues}) {
    EXPECT_EQ(params->strategy.skip, 0u);
    EXPECT_EQ(params->strategy.index, -1);
    EXPECT_TRUE(params->strategy.steps.empty());
    EXPECT_EQ(params->resultCount, 0u);
    EXPECT_FALSE(params->adaptedQuery);
    EXPECT_FALSE(params->noFusion);
    EXPECT_TRUE(params->candidateIds.empty());
    EXPECT_EQ(params->candidates, nullptr);
  }
  EXPECT_TRUE(plain.parameters.empty());
  EXPECT_EQ(withValues.parameters, values);

  // The manager sets the candidate map through parameters it holds as const.
  const AdaptedSignatureMap candidates = {{7, nullptr}};
  withValues.candidates = &candidates;
  EXPECT_EQ(withValues.candidates->begin()->first, 7u);
}
