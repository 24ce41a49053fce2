#include "similarity/aspect_classifier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"
#include "tests/support/temp_files.h"

namespace {

using models::object;
using Entries = std::vector<std::pair<float, std::string>>;

Entries entriesOf(const ClassifyResult& result) { return Entries(result.begin(), result.end()); }

BaseMatrix<float> view(const std::vector<float>& values, unsigned rows, unsigned cols) {
  return BaseMatrix<float>(const_cast<float*>(values.data()), rows, cols);
}

TEST(AspectClassifier, ModelFileFailuresAndEmptyModels) {
  const std::string load = "AspectClassifier::AspectClassifierNN() ";
  const std::string garbage = testfiles::writeFile("garbage.sig", "no signature"), empty = testfiles::writeFile("empty.sig", "");
  std::vector<std::pair<std::string, std::string>> failures = {{"missing.sig", load + "Signature not found missing.sig"},
                                                               {garbage, load + "Signature invalid " + garbage},
                                                               {empty, load + "Signature invalid " + empty}};
  for (int leftOut = 0; leftOut < 3; ++leftOut) {  // FTM, FSM, FDM
    std::vector<CFeatureObjectBase*> objects = models::passThrough("MFCC", 1);
    const std::string tag = objects[leftOut]->getName();
    delete objects[leftOut];
    objects.erase(objects.begin() + leftOut);
    const std::string file = models::file(testfiles::tempPath("no" + tag + ".sig"), objects);
    failures.push_back({file, "AspectClassifier::AspectClassifier() " + tag + " Object missing in Signature " + file});
  }
  for (const auto& f : failures) {
    expectThrowMessage<StandardException>([&] { AspectClassifierNN("c", f.first, 0, 1.0f, 0); }, f.second);
    expectThrowMessage<StandardException>([&] { AspectClassifierGMM("c", f.first, 0); }, f.second);
  }

  // No file: no model and an empty result. Only reserved objects: no aspects.
  const auto query = models::signature({object("MFCC", {{1}})});
  AspectClassifierGMM none("none", "", 4);
  ClassifyResult result;
  none.classify(*query, result);
  EXPECT_TRUE(result.empty());
  EXPECT_EQ(none.getModelFile(), nullptr);
  std::vector<CFeatureObjectBase*> reserved = models::passThrough("MFCC", 1);
  reserved.push_back(object("FQM", {{1}}));
  AspectClassifierNN onlyReserved("r", models::file(testfiles::tempPath("reserved.sig"), reserved), 0, 1.0f, 0);
  onlyReserved.classify(*query, result);
  EXPECT_TRUE(onlyReserved.getAspects().empty());
  EXPECT_TRUE(result.empty());
}

TEST(AspectClassifierNN, SharesOfFramesWithinTheRejectRadii) {
  // Aspect "a": centroids (0, 0) radius 5 and (10, 10) radius 1; "b": (3, 4) radius 0.5.
  std::vector<CFeatureObjectBase*> objects = models::passThrough("MFCC", 2);
  objects.push_back(object("b", {{3, 4}}, {{"rejectvalue", "0.5"}, {"relevance", "1"}}));
  objects.push_back(object("a", {{0, 0}, {10, 10}}, {{"rejectvalue", "5,1"}, {"relevance", "1,1"}}));
  const std::string file = models::file(testfiles::tempPath("nn.sig"), objects);
  // Frame (3, 4) lies exactly at radius 5 of (0, 0) and on (3, 4); (10, 10.5) lies 0.5 from (10, 10).
  const std::vector<float> frames = {3, 4, 10, 10.5f};
  const std::pair<float, Entries> cases[] = {
      {1.0f, {{0.5f, "nn.b"}, {1.0f, "nn.a"}}},
      {0.5f, {{0.5f, "nn.a"}, {0.5f, "nn.b"}}},
      {0.0f, {{0.0f, "nn.a"}, {0.5f, "nn.b"}}},
  };
  for (const auto& [factor, expected] : cases) {
    ClassifyResult result;
    AspectClassifierNN("nn", file, 0, factor, 3).classify(view(frames, 2, 2), result);
    EXPECT_EQ(entriesOf(result), expected) << factor;
  }

  AspectClassifierNN classifier("nn", file, 7, 1.0f, 3);
  EXPECT_EQ(classifier.getFlag() * 1000 + classifier.getKind() * 100 + classifier.getVersion(), 1003);
  ClassifyResult adapted, empty;
  classifier.classify(*models::signature({object("MFCC", {{3, 4}, {10, 10.5f}})}), adapted);
  EXPECT_EQ(entriesOf(adapted), (Entries{{0.5f, "nn.b"}, {1.0f, "nn.a"}}));
  classifier.classify(BaseMatrix<float>(nullptr, 0, 2), empty);
  EXPECT_EQ(entriesOf(empty), (Entries{{0.0f, "nn.a"}, {0.0f, "nn.b"}}));
  expectThrowMessage<std::string>([&] { classifier.classify(view(frames, 1, 3), empty); },
                                  "AspectClassifierNN::classify() dimension of query and centroids don't fit aspect: nn.a");
}

TEST(AspectClassifierGMM, PosteriorsSurviveWhenEveryLikelihoodUnderflows) {
  // One component per aspect, unit inverse variances: mean (0, 0) for "a",
  // (1, 1) for "b". At (0, 0) ll(a) = c and ll(b) = c - 1, so the posteriors
  // are 1 / (1 + e^-1) and its complement whatever c; with c = -1000 every
  // exp(ll) is 0 in double, which the plain sum of exps would give as scores.
  const auto classifier = [](float c) {
    std::vector<CFeatureObjectBase*> objects = models::passThrough("MFCC", 2);
    objects.push_back(object("a", {{c, 0, 0, 1, 1}}));
    objects.push_back(object("b", {{c, 1, 1, 1, 1}}));
    return AspectClassifierGMM("gmm", models::file(testfiles::tempPath("gmm.sig"), objects), 0);
  };
  const double a = 1.0 / (1.0 + std::exp(-1.0));
  const std::vector<float> origin = {0, 0};
  for (float c : {0.0f, -1000.0f}) {
    ClassifyResult result;
    classifier(c).classify(view(origin, 1, 2), result);
    EXPECT_NEAR(result.get("gmm.a"), a, 1e-6) << c;
    EXPECT_NEAR(result.get("gmm.b"), 1.0 - a, 1e-6) << c;
  }
  AspectClassifierGMM gmm = classifier(0.0f);
  ClassifyResult result;
  gmm.classify(*models::signature({object("MFCC", {{0, 0}, {0, 0}})}), result);
  EXPECT_NEAR(result.get("gmm.a"), a, 1e-6);
  expectThrowMessage<std::string>([&] { gmm.classify(view(origin, 2, 1), result); },
                                  "GMM::LogLHPerFrame(): Incompatible feature");
}

TEST(AspectClassifierGMM, UnreadColumnsAndZeroInverseVariancesScoreByTheFormulas) {
  // Two components of dimension 2 each: "even" with a sixth column that is
  // not read, "zero" with inverse variances of 0 that leave a dimension out.
  const models::Rows even = {{-1, 0, 1, 2, 0.5f, -99}, {-3, 1, -1, 1, 1, 7}};
  const models::Rows zero = {{-2, 0.5f, 0, 0, 1}, {-1, 3, 3, 0.25f, 0}};
  std::vector<CFeatureObjectBase*> objects = models::passThrough("MFCC", 2);
  objects.push_back(object("even", even));
  objects.push_back(object("zero", zero));
  AspectClassifierGMM gmm("gmm", models::file(testfiles::tempPath("shapes.sig"), objects), 0);
  const std::vector<float> frames = {0, 0, 1, 2, -1, 0.5f};

  // Per frame, ln of the sum over components of
  // exp(logconst - 0.5 x sum over j < 2 of (x[j] - mean[j])^2 x ivar[j]);
  // ll is its mean over the frames, the score exp(ll - ln sum of exp(ll)).
  const auto meanLogLikelihood = [&](const models::Rows& mixture) {
    double sum = 0;
    for (unsigned f = 0; f < 3; ++f) {
      double likelihood = 0;
      for (const auto& c : mixture) {
        double distance = 0;
        for (unsigned j = 0; j < 2; ++j) distance += std::pow(frames[2 * f + j] - c[1 + j], 2) * c[3 + j];
        likelihood += std::exp(c[0] - 0.5 * distance);
      }
      sum += std::log(likelihood);
    }
    return sum / 3;
  };
  const double llEven = meanLogLikelihood(even), llZero = meanLogLikelihood(zero);
  const double logSum = std::log(std::exp(llEven) + std::exp(llZero));
  ClassifyResult result;
  gmm.classify(view(frames, 3, 2), result);
  EXPECT_NEAR(result.get("gmm.even"), std::exp(llEven - logSum), 1e-5);
  EXPECT_NEAR(result.get("gmm.zero"), std::exp(llZero - logSum), 1e-5);
  EXPECT_NEAR(result.get("gmm.even") + result.get("gmm.zero"), 1.0, 1e-6);
}

}  // namespace
