#include "similarity/feature_adaptation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"

namespace {

using models::Integers;
using models::Rows;

const Integers kPairs = {{"groupframes", 2}, {"hopframes", 2}, {"usevar", 0}};

struct Model {
  std::unique_ptr<CFeatureObject<float>> ftm, fsm, fdm;
  FeatureAdaptationSettings settings() { return FeatureAdaptationSettings(*ftm, *fsm, *fdm, "cls", nullptr); }
};

Model model(const std::string& features, const Integers& integers, const Rows& fsm, const Rows& ftm, const Rows& fdm) {
  const models::Texts texts = features == "-" ? models::Texts{} : models::Texts{{"features", features}};
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
  for (unsigned r = 0; r < m.rows; ++r) std::copy_n(m.getRow(r).data, m.cols, rows[r].begin());
  return rows;
}

TEST(FeatureAdaptationSettings, ParametersAndRefusedModels) {
  const Rows stats = {{0, 0}, {1, 1}}, two = models::identity(2);
  const Integers ints = {{"groupframes", 2}, {"hopframes", 1}, {"usevar", 1}};
  for (const auto& [text, names] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"A,B", {"A", "B"}}, {" A", {" A"}}, {"A, B,", {"A", " B"}}}) {
    const FeatureAdaptationSettings settings = model(text, ints, stats, two, two).settings();
    EXPECT_EQ(settings.features, names) << text;
    EXPECT_EQ(settings.groupframes * 100 + settings.hopframes * 10 + settings.usevar, 211);
  }

  // A model file comes from outside: a model that could never adapt a
  // signature is refused when it is loaded, not song by song afterwards.
  const Rows three = models::identity(3);
  const std::tuple<std::string, Integers, Rows, Rows, Rows, std::string> failures[] = {
      {"-", kPairs, stats, two, two, "no featurenames in afp specified for: cls"},
      {"", kPairs, stats, two, two, "no featurenames for adaptation found for classifier: cls"},
      {"A", {{"hopframes", 1}, {"usevar", 0}}, stats, two, two, "groupframes parameter missing in signature"},
      {"A", {{"groupframes", 1}, {"usevar", 0}}, stats, two, two, "hopframes parameter missing in signature"},
      {"A", {{"groupframes", 1}, {"hopframes", 1}}, stats, two, two, "usevar parameter missing in signature"},
      {"A", {{"groupframes", 0}, {"hopframes", 1}, {"usevar", 0}}, stats, two, two,
       "groupframes and hopframes must be positive for classifier: cls"},
      {"A", kPairs, {{0, 0}}, two, two, "statistics matrix needs a row of offsets and a row of divisors for classifier: cls"},
      {"A", kPairs, {{0, 0}, {1, 0}}, two, two, "zero divisor in statistics matrix for classifier: cls"},
      {"A", kPairs, stats, three, two, "transformation matrix doesn't fit statistics matrix for classifier: cls"},
      {"A", kPairs, stats, two, {{2, 0, 0}, {0, 2, 0}}, "first matrix doesn't fit statistics matrix for classifier: cls"},
      {"A", kPairs, stats, two, {}, "first matrix doesn't fit statistics matrix for classifier: cls"},
  };
  for (const auto& f : failures)
    expectThrowMessage<StandardException>(
        [&] { model(std::get<0>(f), std::get<1>(f), std::get<2>(f), std::get<3>(f), std::get<4>(f)).settings(); },
        "FeatureAdaptationSettings::FeatureAdaptationSettings() " + std::get<5>(f));
}

TEST(FeatureAdaptation, MergeShapesAndFailures) {
  const auto signature = models::signature({ramp("A", 10, 1, {{"groupFrames", 4}, {"overlapFrames", 2}}),
                                            ramp("B", 10, 2), ramp("C", 3, 1, {{"groupFrames", 4}}),
                                            ramp("D", 8, 1), new CFeatureObject<unsigned char>("U", 0)});
  const auto merge = [&](const std::vector<std::string>& names, int variance) {
    return FeatureAdaptation::mergeFeatures(*signature, names, variance);
  };
  // R = 10, G = 4, O = 2: floor(8 / 2) = 4 groups of 4 rows, 2 apart, joined in the order asked.
  EXPECT_EQ(rowsOf(merge({"B", "A"}, 0)),
            (Rows{{1.5f, 2.0f, 1.5f}, {3.5f, 4.0f, 3.5f}, {5.5f, 6.0f, 5.5f}, {7.5f, 8.0f, 7.5f}}));
  EXPECT_EQ(merge({"B"}, 0).rows, 10u);                // no grouping: N = R
  EXPECT_EQ(rowsOf(merge({"C"}, 0)), (Rows{{1.0f}}));  // R < G: one row
  EXPECT_EQ(rowsOf(merge({"A"}, 1))[0], (std::vector<float>{1.5f, 5.0f / 3.0f}));

  const std::string origin = "FeatureAdaptation::mergeFeatures() ";
  const std::pair<std::vector<std::string>, std::string> failures[] = {
      {{"A", "D"}, origin + "features in signature differ in rows, unwrap first!"},
      {{"A", "X"}, "CSignDataMulti::unwrap(const std::vector<std::string>&) featre not found int container: X"},
      {{"U"}, origin + "signature doesn't contain requested feature U"},
  };
  for (const auto& f : failures) expectThrowMessage<StandardException>([&] { merge(f.first, 0); }, f.second);
  // A hop of no frames would never move on.
  const auto overlapping = models::signature({ramp("A", 10, 1, {{"groupFrames", 2}, {"overlapFrames", 2}})});
  expectThrowMessage<StandardException>([&] { FeatureAdaptation::mergeFeatures(*overlapping, {"A"}, 0); },
                                        origin + "overlapFrames must be below groupFrames");
  // No frames still make one group, which the feature cannot fill.
  expectThrowMessage<std::string>([&] { FeatureAdaptation::mergeFeatures(*models::signature({ramp("Z", 0, 1)}), {"Z"}, 0); },
                                  "util::appendMatrixCols() matrix rows dont fit: 1 vs. 0");

  // 100 rows at 10 ms next to 49 groups of 4 frames, 2 apart, at 20 ms: both
  // are unwrapped to 100 rows, then grouped again; the signature keeps its own.
  const auto mixed =
      models::signature({ramp("F", 100, 1), ramp("G", 49, 1, {{"groupFrames", 4}, {"overlapFrames", 2}}, 20.0f)});
  EXPECT_EQ(FeatureAdaptation::mergeFeatures(*mixed, {"F", "G"}, 0).rows, 49u);
  EXPECT_EQ(mixed->getSignData()->getFeature("G")->getMatrix().rows, 49u);
}

TEST(FeatureAdaptation, AdaptGroupsTransformsAndNormalises) {
  const auto signature = models::signature({models::object("A", {{1, 2}, {3, 4}, {5, 6}, {7, 8}})});
  const Rows stats = {{4, 6}, {2, 4}}, final = {{1, 1}, {0, 1}}, two = models::identity(2);
  const auto adapt = [&](Model m) { return rowsOf(FeatureAdaptation::adapt(*signature, m.settings())); };
  // Groups [2, 3], [6, 7]; doubled by the first matrix: [4, 6], [12, 14];
  // normalised: [0, 0], [4, 2]; transformed: [0, 0], [4, 6].
  EXPECT_EQ(adapt(model("A", kPairs, stats, final, {{2, 0}, {0, 2}})), (Rows{{0, 0}, {4, 6}}));
  // A first matrix whose diagonal has the mean 1.0 is skipped, identity or not:
  // [-1, -0.75], [1, 0.25] -> [-1, -1.75], [1, 1.25].
  EXPECT_EQ(adapt(model("A", kPairs, stats, final, {{2, 5}, {7, 0}})), (Rows{{-1, -1.75f}, {1, 1.25f}}));

  // A model for three columns loads, and fails on a signature of two.
  expectThrowMessage<StandardException>(
      [&] { adapt(model("A", kPairs, {{0, 0, 0}, {1, 1, 1}}, models::identity(3), models::identity(3))); },
      "FeatureAdaptation::adapt() feature matrix and feature statistic matrix don't fit");
  expectThrowMessage<StandardException>([&] { FeatureAdaptation::adapt(*signature, FeatureAdaptationSettings()); },
                                        "FeatureAdaptation::adapt() no adaptation matrices for classifier: ");
}

}  // namespace
