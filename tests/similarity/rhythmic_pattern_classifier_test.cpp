#include "similarity/rhythmic_pattern_classifier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"
#include "tests/support/temp_files.h"

namespace {

using models::Integers;
using models::object;
using Entries = std::vector<std::pair<float, std::string>>;

const std::string kClassify = "RhythmicPatternClassifier::classify() ";
// 10 ms per row, one frame per row: 100 lags per second. 300 and 100 BPM
// bound the window to lags 20 .. 59.
const Integers kBounds = {{"loBPM", 100}, {"hiBPM", 300}, {"groupFrames", 1}, {"overlapFrames", 0}};

// length values with a triangle of the given height and half-width 10 at index peak.
std::vector<float> triangle(unsigned length, unsigned peak, float height = 1.0f) {
  std::vector<float> values(length);
  for (unsigned k = 0; k < length; ++k)
    values[k] = height * std::max(0.0f, 1.0f - std::fabs(float(k) - float(peak)) / 10.0f);
  return values;
}

std::string modelFile(const std::string& path, const std::vector<std::pair<const char*, models::Rows>>& aspects,
                      const std::vector<std::string>& peaks) {
  std::vector<CFeatureObjectBase*> objects;
  for (size_t i = 0; i < aspects.size(); ++i)
    objects.push_back(object(aspects[i].first, aspects[i].second, {{"peaks", peaks[i]}, {"tempi", "120"}}));
  return models::file(testfiles::tempPath(path), objects);
}

Entries classify(const std::string& file, const models::Rows& rows, const Integers& parameters = kBounds,
                 const char* feature = "MSE_ACF_EXC") {
  RhythmicPatternClassifier classifier("rp", file, 0);
  ClassifyResult result;
  classifier.classify(*models::signature({object(feature, rows, {}, parameters)}), result);
  return Entries(result.begin(), result.end());
}

TEST(RhythmicPatternClassifier, VotesOfTheRows) {
  // Rows of the window (lag 20 on) peaking at lags 30 and 55.
  const std::vector<float> at30 = triangle(40, 10), at55 = triangle(40, 35);
  const std::string two = modelFile("rp.sig", {{"fast", {triangle(60, 30)}}, {"slow", {triangle(60, 36)}}}, {"30", " 36 "});
  // "near" peaks at lag 36 and fits only once the row is stretched onto it;
  // "flat" (a lower copy of the row) is nearer to the row as it is.
  const std::string stretch =
      modelFile("stretch.sig", {{"near", {triangle(60, 36)}}, {"flat", {triangle(60, 30, 0.5f)}}}, {"36", "30"});
  // Peak ratios of exactly 0.7 and 1.3 are out of bounds; an aspect without patterns takes no part.
  const std::string edges =
      modelFile("edges.sig", {{"e", {triangle(60, 21), triangle(60, 39)}}, {"f", {}}}, {"21,39", ""});
  // Equally near patterns: the first aspect (in name order) wins.
  const std::string equal = modelFile("equal.sig", {{"b", {triangle(60, 31)}}, {"a", {triangle(60, 31)}}}, {"31", "31"});
  const std::tuple<std::string, models::Rows, Entries> cases[] = {
      {two, {at30, at30}, {{1.0f, "rp.fast"}}},
      {two, {at30, at55}, {{0.5f, "rp.fast"}}},  // ratios 0.55 and 0.65 for lag 55: no vote
      {two, {}, {}},
      {stretch, {at30}, {{1.0f, "rp.near"}}},
      {edges, {at30}, {}},
      {equal, {at30}, {{1.0f, "rp.a"}}},
  };
  for (const auto& [file, rows, expected] : cases) EXPECT_EQ(classify(file, rows), expected) << file << " " << rows.size();

  RhythmicPatternClassifier classifier("rp", two, 2);
  EXPECT_EQ(classifier.getKind(), 3);
  EXPECT_EQ(classifier.getModelFile(), nullptr);
  const auto& model = classifier.getAspects()[1]->model<RhythmicPatternModel>();
  EXPECT_EQ(model.peaks[0] * 1000 + model.tempi[0], 36120u);  // parts trimmed
}

TEST(RhythmicPatternClassifier, PeakSearchAndStretching) {
  const std::pair<std::vector<float>, unsigned> peaks[] = {
      {{0, 1, 0}, 6},          {{}, 5}, {{2, 1}, 5}, {{0, 3, 0, 5, 0}, 8}, {{0, 5, 0, 3, 0}, 6}, {{0, 2, 2, 0}, 5},
      {{0, -1, -2}, 5},
  };
  for (const auto& [row, lag] : peaks)
    EXPECT_EQ(mainPeakLag(BaseVector<float>(const_cast<float*>(row.data()), unsigned(row.size())), 5), lag);

  // Lags 2 .. 5; positions outside them read 0.
  std::vector<float> window = {1, 2, 3, 4};
  const std::pair<float, std::vector<float>> stretches[] = {
      {2.0f, {0, 0.5f, 1, 1.5f}}, {0.5f, {3, 0, 0, 0}}, {1.0f, {1, 2, 3, 4}}};
  for (const auto& [ratio, stretched] : stretches) {
    std::vector<float> out(4);
    BaseVector<float> view(out.data(), 4);
    stretchWindow(BaseVector<float>(window.data(), 4), 2, ratio, view);
    EXPECT_EQ(out, stretched) << ratio;
  }
}

TEST(RhythmicPatternClassifier, ModelAndQueryFailures) {
  const std::string ctor = "RhythmicPatternClassifier::RhythmicPatternClassifier() ";
  const std::string garbage = testfiles::writeFile("garbage.ryt", "not a signature");
  const std::string file = modelFile("rp.sig", {{"fast", {triangle(60, 30)}}}, {"30"});
  const models::Rows row = {triangle(40, 10)};
  const auto broken = [](const char* id, const models::Texts& texts) {
    return models::file(testfiles::tempPath(std::string(id) + ".ryt"), {object(id, {{1}, {2}}, texts)});
  };
  Integers noTempo = kBounds, reversed = kBounds;
  noTempo["hiBPM"] = 0;
  reversed["hiBPM"] = 50;
  const std::tuple<std::string, models::Rows, Integers, std::string> failures[] = {
      {"missing.ryt", row, kBounds, ctor + "Signature not found missing.ryt"},
      {garbage, row, kBounds, ctor + "Signature invalid " + garbage},
      {broken("p", {{"tempi", "1"}}), row, kBounds, "RhythmicPatternModel::set() Parameter 'peaks' not found in class: p"},
      {broken("t", {{"peaks", "1"}}), row, kBounds, "RhythmicPatternModel::set() Parameter 'tempi' not found in class: t"},
      {broken("f", {{"peaks", "1"}, {"tempi", ""}}), row, kBounds,
       "RhythmicPatternModel::set() fewer peaks than patterns in class: f"},
      {file, row, noTempo, kClassify + "tempo bounds of MSE_ACF_EXC give no lag window"},
      {file, row, reversed, kClassify + "tempo bounds of MSE_ACF_EXC give no lag window"},
      {file, {triangle(39, 10)}, kBounds, kClassify + "MSE_ACF_EXC rows are shorter than the lag window"},
      {modelFile("short.ryt", {{"short", {triangle(59, 30)}}}, {"30"}), row, kBounds,
       kClassify + "patterns of rp.short end before the lag window"},
  };
  for (const auto& f : failures)
    expectThrowMessage<StandardException>([&] { classify(std::get<0>(f), std::get<1>(f), std::get<2>(f)); },
                                          std::get<3>(f));
  for (const char* name : {"loBPM", "hiBPM", "groupFrames", "overlapFrames"}) {
    Integers missing = kBounds;
    missing.erase(name);
    expectThrowMessage<StandardException>([&] { classify(file, row, missing); },
                                          kClassify + name + " Parameter missing in MSE_ACF_EXC of query signature");
  }
  expectThrowMessage<StandardException>([&] { classify(file, row, kBounds, "ACF"); },
                                        kClassify + "could not find MSE_ACF_EXC feature in query signature");
  expectThrowMessage<StandardException>([&] { RhythmicPatternModel().set(*models::signature({object("x", {{1}})}), "y"); },
                                        "RhythmicPatternModel::set() aspect-id not found in class: y");
  ClassifyResult result;
  expectThrowMessage<StandardException>(
      [&] { RhythmicPatternClassifier("rp", file, 0).classify(BaseMatrix<float>(), result); },
      "RhythmicPatternClassifier::classify(const BaseMatrix<float>&, ClassifyResult&) Error this method should not be "
      "invoked from anywhere");
}

}  // namespace
