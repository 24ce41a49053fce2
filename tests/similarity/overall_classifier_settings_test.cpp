#include "similarity/overall_classifier_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "tests/similarity/method_support.h"
#include "tests/support/expect_message.h"

namespace {

using Values = std::vector<float>;

OverallClassifierSettings read(const std::string& params, const std::string& name = " name=\"c\"") {
  return *methods::fromXml<OverallClassifierSettings>("<classifier" + name + ">" + params + "</classifier>", 7u);
}

std::string param(const std::string& key, const std::string& value) {
  return "<param key=\"" + key + "\" value=\"" + value + "\"/>";
}

// Restores the process-wide tempo bounds when a test ends.
struct TempoBounds {
  ~TempoBounds() { OverallClassifierSettings::lowbpm = low, OverallClassifierSettings::highbpm = high; }
  int32_t low = OverallClassifierSettings::lowbpm;
  int32_t high = OverallClassifierSettings::highbpm;
};

TEST(OverallClassifierSettings, ParamsInDocumentOrderAndFailures) {
  TempoBounds kept;
  const OverallClassifierSettings none = read("");
  EXPECT_EQ(none.name + none.metricName, "cl2norm");
  EXPECT_TRUE(none.metric == &OverallMetrics::l2norm && none.features.empty() && !none.mean && none.variance == 0);

  const OverallClassifierSettings s =
      read(param("feature", " MFCC , ,LogLoudness") + param("dropidx", "0, 3,12") + param("concat", " 4x") +
           param("variance", "2") + param("mean", "1") + param("derivative", "5") + param("pruning", "1") +
           param("normalization", "0") + param("clustering", "-1") + param("metric", "dotproduct") +
           param("metric", "melodicnorm") + param("other", "x") + param("lowbpm", "60") + param("highbpm", "180"));
  EXPECT_EQ(s.version, 7u);
  EXPECT_EQ(s.features, (std::vector<std::string>{"MFCC", "LogLoudness"}));
  EXPECT_EQ(std::vector<int>(s.dropidx.begin(), s.dropidx.end()), (std::vector<int>{0, 3, 12}));
  EXPECT_EQ(std::vector<int>({s.concat, s.variance, s.mean, s.derivative, s.pruning, s.normalization, s.clustering}),
            (std::vector<int>{4, 2, 1, 5, 1, 0, 1}));
  EXPECT_TRUE(s.metricName == "melodicnorm" && s.metric == &OverallMetrics::melodicnorm);
  EXPECT_EQ(OverallClassifierSettings::lowbpm * 1000 + OverallClassifierSettings::highbpm, 60180);

  const std::string origin = "OverallClassifierSettings::OverallClassifierSettings() ";
  const std::pair<std::string, std::string> failures[] = {
      {param("metric", "cosine"), "unknown metric for classifier: c metric: cosine"},
      {param("dropidx", "1,x"), "param \"dropidx\" of classifier c holds no readable number: \"x\""},
      {"<param key=\"mean\"/>", "param \"mean\" of classifier c holds no readable number: \"\""},
  };
  for (const auto& [params, message] : failures)
    expectThrowMessage<StandardException>([&] { read(param("lowbpm", "1") + params); }, origin + message);
  expectThrowMessage<StandardException>([] { read("", ""); },
                                        origin + "element \"classifier\" lacks the attribute \"name\"");
  EXPECT_EQ(OverallClassifierSettings::lowbpm, 60);  // failed settings write no bounds
}

// The "combinednorm" of vectors at distance l2 whose cosine, rounded to a
// float, is cosine.
float combined(double l2, double cosine) {
  const double angle = std::acos(static_cast<double>(static_cast<float>(cosine)));
  return static_cast<float>(l2) * static_cast<float>(angle * 0.31831926);
}

TEST(OverallClassifierSettings, MetricsAndAlignment) {
  MetricScratch scratch;
  const float kUnequal = -1.0f;  // the metric fails with "unequal vector size"
  const struct {
    Metric metric;
    Values r, q;
    float expected;
  } cases[] = {
      {&OverallMetrics::l2norm, {1, 2, 3}, {4, 6, 3}, 5.0f},
      {&OverallMetrics::l1norm, {1, 2, 3}, {4, 6, 3}, 7.0f},
      {&OverallMetrics::dotproduct, {3, 4}, {4, 3}, 0.96f},
      {&OverallMetrics::dotproduct, {1e-3f, 7}, {1e-3f, 7}, 1.0f},
      {&OverallMetrics::combinednorm, {1e-3f, 7}, {1e-3f, 7}, 0.0f},
      {&OverallMetrics::combinednorm, {1, 2}, {3, 6}, 0.0f},                       // parallel: angle 0, not NaN
      {&OverallMetrics::combinednorm, {0, 1}, {2, 3}, combined(std::sqrt(8.0), 3 / std::sqrt(13.0))},
      // Intervals (1, 2) against (1, 3) and lengths (0, 0) against (0, 1) both cost 1.
      {&OverallMetrics::melodicnorm, {1, 2, 0, 0}, {1, 3, 0, 1}, 1.0f},
      {&OverallMetrics::melodicnorm, {1, 2, 0, 0}, {1, 2, 5, 0, 0, 0}, 0.0f},
      {&OverallMetrics::melodicnorm, {}, {}, 0.0f},
      {&OverallMetrics::l2norm, {1, 2}, {1, 2, 3}, kUnequal},
      {&OverallMetrics::acfsimilarity, {1, 2, 3}, {1, 2}, kUnequal},
  };
  for (const auto& c : cases) {
    Values r = c.r, q = c.q;
    const BaseVector<float> reference(r.data(), static_cast<unsigned>(r.size()));
    const BaseVector<float> query(q.data(), static_cast<unsigned>(q.size()));
    if (c.expected == kUnequal)
      expectThrowMessage<VMTLException>([&] { c.metric(reference, query, scratch); }, "unequal vector size");
    else
      EXPECT_EQ(c.metric(reference, query, scratch), c.expected) << r.size() << " " << q.size();
  }

  // The costs of "melodicnorm": insertions and deletions 2, substitutions up
  // to 2, matches free. The longer sequence's surplus in front is free.
  const struct {
    std::vector<float> a, b;
    float cost;
  } alignments[] = {
      {{1, 2}, {1, 2, 5}, 0},        // found at (2, 2) of the last row
      {{1, 2, 3, 4}, {3, 4}, 0},     // found at the end of a longer one
      {{1}, {5}, 2},                 // one substitution, limited to 2
      {{1}, {1.5f}, 0.5f},           // one substitution below the limit
      {{}, {1, 2}, 0},               // the empty sequence inside any other
      {{1, 2, 3}, {}, 0},            // and the other way round
      {{4, 9}, {9, 4}, 2},           // a matched pair, reached by one move of cost 2
  };
  for (const auto& c : alignments)
    EXPECT_EQ(scratch.alignment.align(c.a.data(), static_cast<unsigned>(c.a.size()), c.b.data(),
                                      static_cast<unsigned>(c.b.size()), 2, 2, 2, 0),
              c.cost)
        << c.a.size() << " " << c.b.size();
}

TEST(OverallClassifierSettings, AcfSimilarityStretchesTheQueryPeakOntoTheReferencePeak) {
  TempoBounds kept;
  // 300 and 60 bpm: the vectors hold lags 20 to 39. The query is a tent
  // peaking at lag 28, the reference the same tent stretched to peak at lag
  // 30: a ratio of 30 / 28, within 10 %.
  Values query(20), reference(20);
  for (unsigned k = 0; k < 20; ++k) {
    query[k] = std::max(0.0f, 1.0f - std::fabs(20.0f + k - 28.0f) / 4.0f);
    reference[k] = std::max(0.0f, 1.0f - std::fabs(20.0f + k - 30.0f) / (4.0f * 30.0f / 28.0f));
  }
  const BaseVector<float> r(reference.data(), 20), q(query.data(), 20);
  MetricScratch scratch;
  const float plain = OverallMetrics::l2norm(r, q, scratch);
  ASSERT_GT(plain, 0.5f);
  const int32_t bounds[][3] = {
      {60, 300, 0},   // stretched onto the reference
      {-1, -1, 1},    // no tempo bounds, no lag window
      {60, 0, 1},     // a zero tempo
      {300, 60, 1},   // bounds the wrong way round
      {60, 3000, 1},  // from lag 2 the peaks 12 and 10 lie 20 % apart
  };
  for (const auto& [low, high, unstretched] : bounds) {
    OverallClassifierSettings::lowbpm = low, OverallClassifierSettings::highbpm = high;
    EXPECT_NEAR(OverallMetrics::acfsimilarity(r, q, scratch), unstretched * plain, 1e-4f) << low << " " << high;
  }
}

}  // namespace
