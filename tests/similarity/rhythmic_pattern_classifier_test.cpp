#include "similarity/rhythmic_pattern_classifier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"

namespace {

using models::Integers;
using models::object;
using Entries = std::vector<std::pair<float, std::string>>;

const std::string kClassify = "RhythmicPatternClassifier::classify() ";
// 10 ms per row, one frame per row: 100 lags per second. 300 and 100 BPM
// bound the window to lags 20 .. 59.
const Integers kBounds = {{"loBPM", 100}, {"hiBPM", 300}, {"groupFrames", 1}, {"overlapFrames", 0}};

// length values with a triangle of height 1 and half-width 10 at index peak.
std::vector<float> triangle(unsigned length, unsigned peak) {
  std::vector<float> values(length);
  for (unsigned k = 0; k < length; ++k) values[k] = std::max(0.0f, 1.0f - std::fabs(float(k) - float(peak)) / 10.0f);
  return values;
}

CFeatureObject<float>* aspectObject(const char* id, const models::Rows& patterns, const std::string& peaks) {
  return object(id, patterns, {{"peaks", peaks}, {"tempi", "120"}});
}

Entries classify(const std::string& file, const models::Rows& rows, const Integers& parameters = kBounds) {
  RhythmicPatternClassifier classifier("rp", file, 0);
  ClassifyResult result;
  classifier.classify(*models::signature({object("MSE_ACF_EXC", rows, {}, parameters)}), result);
  return Entries(result.begin(), result.end());
}

TEST(RhythmicPatternClassifier, VotesOfTheRows) {
  // "fast" holds the query's shape, peak at lag 30; "slow" a pattern peaking at lag 36.
  const std::string file = models::file(
      "rp.sig", {aspectObject("fast", {triangle(60, 30)}, "30"), aspectObject("slow", {triangle(60, 36)}, " 36 ")});
  const std::vector<float> atLag30 = triangle(40, 10);
  EXPECT_EQ(classify(file, {atLag30, atLag30}), (Entries{{1.0f, "rp.fast"}}));
  // A row peaking at lag 55 fits neither pattern's tempo (ratios 0.55, 0.65): no vote.
  EXPECT_EQ(classify(file, {atLag30, triangle(40, 35)}), (Entries{{0.5f, "rp.fast"}}));
  EXPECT_EQ(classify(file, {}), Entries{});

  // Peak ratios of exactly 0.7 and 1.3 are out of bounds.
  const std::string edges = models::file("edges.sig", {aspectObject("e", {triangle(60, 21), triangle(60, 39)}, "21,39")});
  EXPECT_EQ(classify(edges, {atLag30}), Entries{});
  // Equally near patterns: the first aspect wins.
  const std::string equal = models::file(
      "equal.sig", {aspectObject("b", {triangle(60, 31)}, "31"), aspectObject("a", {triangle(60, 31)}, "31")});
  EXPECT_EQ(classify(equal, {atLag30}), (Entries{{1.0f, "rp.a"}}));

  RhythmicPatternClassifier classifier("rp", file, 2);
  EXPECT_EQ(classifier.getKind(), 3);
  EXPECT_EQ(classifier.getModelFile(), nullptr);
  EXPECT_EQ(classifier.getLowerRatio(), 0.7f);
  EXPECT_EQ(classifier.getUpperRatio(), 1.3f);
  const auto& model = classifier.getAspects()[1]->model<RhythmicPatternModel>();
  EXPECT_EQ(model.peaks[0] * 1000 + model.tempi[0], 36120u);
  ClassifyResult result;
  expectThrowMessage<StandardException>(
      [&] { classifier.classify(BaseMatrix<float>(), result); },
      "RhythmicPatternClassifier::classify(const BaseMatrix<float>&, ClassifyResult&) Error this method should not be "
      "invoked from anywhere");
}

TEST(RhythmicPatternClassifier, PeakSearchAndStretching) {
  const struct {
    std::vector<float> row;
    unsigned lag;
  } peaks[] = {
      {{0, 1, 0}, 6}, {{}, 5}, {{2, 1}, 5}, {{0, 3, 0, 5, 0}, 8}, {{0, 5, 0, 3, 0}, 6}, {{0, 2, 2, 0}, 5}, {{0, -1, -2}, 5},
  };
  for (const auto& p : peaks)
    EXPECT_EQ(mainPeakLag(BaseVector<float>(const_cast<float*>(p.row.data()), unsigned(p.row.size())), 5), p.lag);

  std::vector<float> window = {1, 2, 3, 4};
  const struct {
    float ratio;
    std::vector<float> stretched;
  } stretches[] = {{2.0f, {0, 0.5f, 1, 1.5f}}, {0.5f, {3, 0, 0, 0}}, {1.0f, {1, 2, 3, 4}}};
  for (const auto& s : stretches) {
    std::vector<float> out(4);
    BaseVector<float> view(out.data(), 4);
    stretchWindow(BaseVector<float>(window.data(), 4), 2, s.ratio, view);
    EXPECT_EQ(out, s.stretched) << s.ratio;
  }
}

TEST(RhythmicPatternClassifier, ModelAndQueryFailures) {
  const std::string ctor = "RhythmicPatternClassifier::RhythmicPatternClassifier() ";
  std::ofstream("garbage.ryt") << "not a signature";
  expectThrowMessage<StandardException>([] { RhythmicPatternClassifier("rp", "missing.ryt", 0); },
                                        ctor + "Signature not found missing.ryt");
  expectThrowMessage<StandardException>([] { RhythmicPatternClassifier("rp", "garbage.ryt", 0); },
                                        ctor + "Signature invalid garbage.ryt");
  const struct {
    CFeatureObject<float>* object;
    std::string message;
  } broken[] = {
      {object("p", {{1}}, {{"tempi", "1"}}), "RhythmicPatternModel::set() Parameter 'peaks' not found in class: p"},
      {object("t", {{1}}, {{"peaks", "1"}}), "RhythmicPatternModel::set() Parameter 'tempi' not found in class: t"},
      {aspectObject("f", {{1}, {2}}, "4"), "RhythmicPatternModel::set() fewer peaks than patterns in class: f"},
  };
  for (const auto& m : broken) {
    const std::string file = models::file("bad.ryt", {m.object});
    expectThrowMessage<StandardException>([&] { RhythmicPatternClassifier("rp", file, 0); }, m.message);
  }
  const auto unrelated = models::signature({object("x", {{1}})});
  expectThrowMessage<StandardException>([&] { RhythmicPatternModel().set(*unrelated, "y"); },
                                        "RhythmicPatternModel::set() aspect-id not found in class: y");

  const std::string file = models::file("rp.sig", {aspectObject("fast", {triangle(60, 30)}, "30")});
  const std::string shortFile = models::file("short.sig", {aspectObject("short", {triangle(59, 30)}, "30")});
  const models::Rows row = {triangle(40, 10)};
  for (const char* name : {"loBPM", "hiBPM", "groupFrames", "overlapFrames"}) {
    Integers missing = kBounds;
    missing.erase(name);
    expectThrowMessage<StandardException>(
        [&] { classify(file, row, missing); },
        kClassify + name + " Parameter missing in MSE_ACF_EXC of query signature");
  }
  Integers noTempo = kBounds, reversed = kBounds;
  noTempo["hiBPM"] = 0;
  reversed["hiBPM"] = 50;
  for (const Integers& bounds : {noTempo, reversed})
    expectThrowMessage<StandardException>([&] { classify(file, row, bounds); },
                                          kClassify + "tempo bounds of MSE_ACF_EXC give no lag window");
  expectThrowMessage<StandardException>([&] { classify(file, {triangle(39, 10)}); },
                                        kClassify + "MSE_ACF_EXC rows are shorter than the lag window");
  expectThrowMessage<StandardException>([&] { classify(shortFile, row); },
                                        kClassify + "patterns of rp.short end before the lag window");
  RhythmicPatternClassifier classifier("rp", file, 0);
  ClassifyResult result;
  expectThrowMessage<StandardException>([&] { classifier.classify(*models::signature({object("ACF", row)}), result); },
                                        kClassify + "could not find MSE_ACF_EXC feature in query signature");
}

}  // namespace
