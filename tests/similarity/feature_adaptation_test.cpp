#include "similarity/feature_adaptation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"

namespace {

using models::Integers;
using models::Rows;
using models::Texts;

const std::string kSettings = "FeatureAdaptationSettings::FeatureAdaptationSettings() ";
const std::string kMerge = "FeatureAdaptation::mergeFeatures() ";

struct Model {
  std::unique_ptr<CFeatureObject<float>> ftm, fsm, fdm;
  FeatureAdaptationSettings settings() { return FeatureAdaptationSettings(*ftm, *fsm, *fdm, "cls", nullptr); }
};

Model model(const Texts& texts, const Integers& integers, const Rows& fsm, const Rows& ftm, const Rows& fdm) {
  return {std::unique_ptr<CFeatureObject<float>>(models::object("FTM", ftm, texts, integers)),
          std::unique_ptr<CFeatureObject<float>>(models::object("FSM", fsm)),
          std::unique_ptr<CFeatureObject<float>>(models::object("FDM", fdm))};
}

// A feature whose row r holds r + column / 2.
CFeatureObject<float>* ramp(const std::string& name, unsigned rows, unsigned cols, const Integers& grouping = {},
                            float msPerRow = 10.0f) {
  Rows values(rows, std::vector<float>(cols));
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c) values[r][c] = static_cast<float>(r) + static_cast<float>(c) / 2.0f;
  return models::object(name, values, {}, grouping, msPerRow);
}

Rows rowsOf(const HeapMatrix<float>& m) {
  Rows rows(m.rows, std::vector<float>(m.cols));
  for (unsigned r = 0; r < m.rows; ++r)
    for (unsigned c = 0; c < m.cols; ++c) rows[r][c] = m(r, c);
  return rows;
}

TEST(FeatureAdaptationSettings, ParametersAndModelChecks) {
  const Texts names = {{"features", "A,B"}};
  const Integers grouping = {{"groupframes", 2}, {"hopframes", 1}, {"usevar", 1}};
  const Rows stats = {{0, 0}, {1, 1}};
  const Rows two = models::identity(2);
  Model good = model(names, grouping, stats, two, models::identity(3));  // an identity first matrix is never applied
  const FeatureAdaptationSettings settings = good.settings();
  EXPECT_EQ(settings.features, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(settings.groupframes * 100 + settings.hopframes * 10 + settings.usevar, 211);
  EXPECT_EQ(settings.statistics, &good.fsm->getMatrix());
  EXPECT_EQ(settings.quantizer, nullptr);
  EXPECT_EQ(model({{"features", "A"}}, grouping, stats, two, two).settings().features, std::vector<std::string>{"A"});

  const struct {
    Texts texts;
    Integers integers;
    Rows fsm, ftm, fdm;
    std::string message;
  } failures[] = {
      {{}, grouping, stats, two, two, "no featurenames in afp specified for: cls"},
      {{{"features", ""}}, grouping, stats, two, two, "no featurenames for adaptation found for classifier: cls"},
      {names, {{"hopframes", 1}, {"usevar", 0}}, stats, two, two, "groupframes parameter missing in signature"},
      {names, {{"groupframes", 1}, {"usevar", 0}}, stats, two, two, "hopframes parameter missing in signature"},
      {names, {{"groupframes", 1}, {"hopframes", 1}}, stats, two, two, "usevar parameter missing in signature"},
      {names, {{"groupframes", 0}, {"hopframes", 1}, {"usevar", 0}}, stats, two, two,
       "groupframes and hopframes must be positive for classifier: cls"},
      {names, grouping, {{0, 0}}, two, two,
       "statistics matrix needs a row of offsets and a row of divisors for classifier: cls"},
      {names, grouping, {{0, 0}, {1, 0}}, two, two, "zero divisor in statistics matrix for classifier: cls"},
      {names, grouping, stats, models::identity(3), two,
       "transformation matrix doesn't fit statistics matrix for classifier: cls"},
      {names, grouping, stats, two, {{2, 0, 0}, {0, 2, 0}},
       "first matrix doesn't fit statistics matrix for classifier: cls"},
      {names, grouping, stats, two, {}, "first matrix doesn't fit statistics matrix for classifier: cls"},
  };
  for (const auto& failure : failures) {
    Model bad = model(failure.texts, failure.integers, failure.fsm, failure.ftm, failure.fdm);
    expectThrowMessage<StandardException>([&] { bad.settings(); }, kSettings + failure.message);
  }
}

TEST(FeatureAdaptation, MergeShapesOfTheGroupingExamples) {
  const auto signature = models::signature({ramp("A", 10, 1, {{"groupFrames", 4}, {"overlapFrames", 2}}),
                                            ramp("B", 10, 2), ramp("C", 3, 1, {{"groupFrames", 4}}),
                                            ramp("D", 8, 1), new CFeatureObject<unsigned char>("U", 0)});
  // R = 10, G = 4, O = 2: floor(8 / 2) = 4 groups of 4 rows, 2 apart.
  EXPECT_EQ(rowsOf(FeatureAdaptation::mergeFeatures(*signature, {"B", "A"}, 0)),
            (Rows{{1.5f, 2.0f, 1.5f}, {3.5f, 4.0f, 3.5f}, {5.5f, 6.0f, 5.5f}, {7.5f, 8.0f, 7.5f}}));
  // Without grouping every row stays; with variances they follow each group's means.
  EXPECT_EQ(FeatureAdaptation::mergeFeatures(*signature, {"B"}, 0).rows, 10u);
  const HeapMatrix<float> variances = FeatureAdaptation::mergeFeatures(*signature, {"A"}, 1);
  EXPECT_EQ(variances.rows * 10 + variances.cols, 42u);
  EXPECT_FLOAT_EQ(variances(0, 1), 5.0f / 3.0f);
  // Fewer rows than one group: one row.
  EXPECT_EQ(rowsOf(FeatureAdaptation::mergeFeatures(*signature, {"C"}, 0)), (Rows{{1.0f}}));

  const struct {
    std::vector<std::string> names;
    std::string message;
  } failures[] = {
      {{"A", "D"}, kMerge + "features in signature differ in rows, unwrap first!"},
      {{"A", "X"}, "CSignDataMulti::unwrap(const std::vector<std::string>&) featre not found int container: X"},
      {{"U"}, kMerge + "signature doesn't contain requested feature U"},
  };
  for (const auto& failure : failures)
    expectThrowMessage<StandardException>([&] { FeatureAdaptation::mergeFeatures(*signature, failure.names, 0); },
                                          failure.message);
  // A query of no frames still makes one group, which its features cannot fill.
  const auto silent = models::signature({ramp("Z", 0, 1)});
  expectThrowMessage<std::string>([&] { FeatureAdaptation::mergeFeatures(*silent, {"Z"}, 0); },
                                  "util::appendMatrixCols() matrix rows dont fit: 1 vs. 0");
  const auto overlapping = models::signature({ramp("A", 10, 1, {{"groupFrames", 2}, {"overlapFrames", 2}})});
  expectThrowMessage<StandardException>([&] { FeatureAdaptation::mergeFeatures(*overlapping, {"A"}, 0); },
                                        kMerge + "overlapFrames must be below groupFrames");
}

TEST(FeatureAdaptation, MergeUnwrapsACopy) {
  // 100 rows at 10 ms next to 49 groups of 4 frames, 2 apart, at 20 ms: both
  // become 100 rows, then floor((100 - 2) / 2) = 49 groups.
  const auto signature =
      models::signature({ramp("F", 100, 1), ramp("G", 49, 1, {{"groupFrames", 4}, {"overlapFrames", 2}}, 20.0f)});
  EXPECT_EQ(FeatureAdaptation::mergeFeatures(*signature, {"F", "G"}, 0).rows, 49u);
  EXPECT_EQ(signature->getSignData()->getFeature("G")->getMatrix().rows, 49u);
}

TEST(FeatureAdaptation, AdaptGroupsTransformsAndNormalises) {
  const auto signature = models::signature({models::object("A", {{1, 2}, {3, 4}, {5, 6}, {7, 8}})});
  const Texts names = {{"features", "A"}};
  const Integers pairs = {{"groupframes", 2}, {"hopframes", 2}, {"usevar", 0}};
  const Rows stats = {{4, 6}, {2, 4}};
  const Rows final = {{1, 1}, {0, 1}};
  // Groups [2, 3], [6, 7]; doubled by the first matrix: [4, 6], [12, 14];
  // normalised: [0, 0], [4, 2]; transformed: [0, 0], [4, 6].
  Model doubling = model(names, pairs, stats, final, {{2, 0}, {0, 2}});
  EXPECT_EQ(rowsOf(FeatureAdaptation::adapt(*signature, doubling.settings())), (Rows{{0, 0}, {4, 6}}));
  // An identity first matrix is skipped: [-1, -0.75], [1, 0.25] -> [-1, -1.75], [1, 1.25].
  Model identity = model(names, pairs, stats, final, models::identity(2));
  EXPECT_EQ(rowsOf(FeatureAdaptation::adapt(*signature, identity.settings())), (Rows{{-1, -1.75f}, {1, 1.25f}}));

  Model wide = model(names, pairs, {{0, 0, 0}, {1, 1, 1}}, models::identity(3), models::identity(2));
  expectThrowMessage<StandardException>(
      [&] { FeatureAdaptation::adapt(*signature, wide.settings()); },
      "FeatureAdaptation::adapt() feature matrix and feature statistic matrix don't fit");
  expectThrowMessage<StandardException>([&] { FeatureAdaptation::adapt(*signature, FeatureAdaptationSettings()); },
                                        "FeatureAdaptation::adapt() no adaptation matrices for classifier: ");
}

}  // namespace
