#include "similarity/distance_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "similarity/adapted_feature_db.h"
#include "similarity/overall_similarity.h"
#include "similarity/session_globals.h"
#include "tests/similarity/method_support.h"
#include "tests/support/session_blocks.h"

namespace {

using Values = std::vector<float>;
const std::vector<std::string> kMetrics = {"l2norm", "l1norm", "dotproduct", "combinednorm"};

// Every list of the chain, entry by entry, with the distances' bits.
std::string exactly(const SimilarityList& head) {
  std::ostringstream text;
  text.precision(9);
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
    text << list->name << ":";
    for (const auto& [distance, item] : *list) text << " " << distance << "/" << item.id;
    text << ";";
  }
  return text.str();
}

// What process gave before the scan: one metric call per reference of range,
// in id order, each offered to the list.
std::string oneByOne(const OverallSimilarity& method, const AdaptedSignatureMap& range, const CAudioSignMulti& query,
                     uint32_t resultCount) {
  SimilarityList out("", 1000);
  MetricScratch scratch;
  for (const OverallClassifierSettings& c : method.getClassifiers()) {
    SimilarityList& list = out.empty() ? out : *out.appendList();
    list.name = c.name;
    if (resultCount != 0) list.truncate(static_cast<int>(resultCount));
    const HeapMatrix<float>& q = query.getSignData()->getFeature(c.name.c_str())->getMatrix();
    for (const auto& [id, signature] : range) {
      const HeapMatrix<float>& r = signature->getSignData()->getFeature(c.name.c_str())->getMatrix();
      try {
        const float distance = c.metric(r.getRow(0), q.getRow(0), scratch);
        if (std::isnan(distance)) throw std::domain_error("OverallSimilarity::process() distance is not a number");
        list.add(distance, id, 1.0f, -1);
      } catch (const std::exception& error) {
        std::cout << error.what() << "\nFeature: " << c.name << " Tuid: " << id << std::endl;
      }
    }
    if (resultCount == 0) list.keepCumulativeFraction(0.2f);
  }
  return exactly(out);
}

Values randomValues(uint32_t& state, unsigned n) {
  Values v(n);
  for (float& x : v) {
    state = state * 1664525u + 1013904223u;
    x = static_cast<float>(state >> 8) / 16777216.0f - 0.25f;
  }
  return v;
}

// A song whose vector is the same for every metric's classifier.
std::unique_ptr<CAudioSignMulti> song(uint64_t id, const Values& v) {
  FeatureRows rows;
  for (const std::string& metric : kMetrics) rows.push_back({metric, v});
  return adaptedSignature(id, rows);
}

// The blocks, the early refusals and the kept lengths give the lists and
// reports of one metric call per reference, exactly: over the whole database
// and a candidate set, for list lengths from one to more than the songs, with
// ties, exact matches, zero vectors, NaNs, infinities, vectors of another
// length and a removed song among the references.
TEST(DistanceScan, ListsAsOneMetricCallPerReference) {
  uint32_t state = 99;
  const Values query = randomValues(state, 13);
  AdaptedFeatureDb db("Database");
  Values previous = query;
  for (uint64_t id = 1; id <= 1600; ++id) {
    Values v = randomValues(state, 13);
    if (id % 50 == 0) v = previous;  // the same distance as the song before
    if (id % 150 == 0) v.pop_back();
    if (id % 170 == 0) v[id % 13] = std::numeric_limits<float>::quiet_NaN();
    if (id % 190 == 0) v[3] = std::numeric_limits<float>::infinity();
    if (id % 210 == 0) v.assign(13, 0.0f);
    if (id == 777 || id == 1333) v = query;
    db.add(song(id * 3, v).release());
    previous = v;
  }
  std::string classifiers = "<similaritymethod>";
  for (const std::string& metric : kMetrics)
    classifiers += "<classifier name=\"" + metric + "\"><param key=\"metric\" value=\"" + metric + "\"/></classifier>";
  const auto method = methods::fromXml<OverallSimilarity>(classifiers + "</similaritymethod>", nullptr);
  SessionGlobals globals;
  method->init(db, globals);
  db.remove(3 * 400);
  const auto q = song(1, query);

  AdaptedSignatureMap candidates;
  for (const auto& [id, signature] : db)
    if (id % 7 < 3) candidates.emplace(id, signature);
  for (const AdaptedSignatureMap* range : {&db.getEntries(), static_cast<const AdaptedSignatureMap*>(&candidates)}) {
    for (const uint32_t resultCount : {10u, 0u, 1u, 3000u}) {
      QueryParameters params;
      params.resultCount = resultCount;
      params.candidates = range == &candidates ? &candidates : nullptr;
      testing::internal::CaptureStdout();
      const std::string expected = oneByOne(*method, *range, *q, resultCount);
      const std::string expectedReports = testing::internal::GetCapturedStdout();
      SimilarityList out("", 1000);
      testing::internal::CaptureStdout();
      method->process(*q, out, params);
      const std::string reports = testing::internal::GetCapturedStdout();
      EXPECT_EQ(exactly(out), expected) << resultCount << " " << range->size();
      EXPECT_EQ(reports, expectedReports);
      EXPECT_EQ(out.chainLength(), 3u);
    }
  }
}

}  // namespace
