#include "similarity/aspect_classifier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"

namespace {

using models::object;
using Entries = std::vector<std::pair<float, std::string>>;

Entries entriesOf(const ClassifyResult& result) { return Entries(result.begin(), result.end()); }

// Aspects "a" (centroids (0, 0) radius 5 and (10, 10) radius 1) and "b"
// (centroid (3, 4) radius 0.5) over two "MFCC" columns passed through.
std::string nearestCentroidFile() {
  std::vector<CFeatureObjectBase*> objects = models::passThrough("MFCC", 2);
  objects.push_back(object("b", {{3, 4}}, {{"rejectvalue", "0.5"}, {"relevance", "1"}}));
  objects.push_back(object("a", {{0, 0}, {10, 10}}, {{"rejectvalue", "5,1"}, {"relevance", "1,1"}}));
  objects.push_back(object("FQM", {{1}}));
  return models::file("nn.sig", objects);
}

// One component per aspect: mean (0, 0) for "a", (1, 1) for "b", unit
// inverse variances, both with the given log constant.
std::string mixtureFile(float logConstant) {
  std::vector<CFeatureObjectBase*> objects = models::passThrough("MFCC", 2);
  objects.push_back(object("a", {{logConstant, 0, 0, 1, 1}}));
  objects.push_back(object("b", {{logConstant, 1, 1, 1, 1}}));
  return models::file("gmm.sig", objects);
}

TEST(AspectClassifier, ModelFileFailuresAndEmptyModels) {
  const std::string load = "AspectClassifier::AspectClassifierNN() ";
  std::ofstream("garbage.sig") << "no signature";
  std::ofstream("empty.sig").flush();
  const auto adaptation = [](const char* leaveOut) {
    std::vector<CFeatureObjectBase*> objects;
    for (CFeatureObjectBase* o : models::passThrough("MFCC", 1)) {
      if (o->getName() == leaveOut)
        delete o;
      else
        objects.push_back(o);
    }
    return models::file(std::string("no") + leaveOut + ".sig", objects);
  };
  const struct {
    std::string file;
    std::string message;
  } failures[] = {
      {"missing.sig", load + "Signature not found missing.sig"},
      {"garbage.sig", load + "Signature invalid garbage.sig"},
      {"empty.sig", load + "Signature invalid empty.sig"},
      {adaptation("FTM"), "AspectClassifier::AspectClassifier() FTM Object missing in Signature noFTM.sig"},
      {adaptation("FSM"), "AspectClassifier::AspectClassifier() FSM Object missing in Signature noFSM.sig"},
      {adaptation("FDM"), "AspectClassifier::AspectClassifier() FDM Object missing in Signature noFDM.sig"},
  };
  for (const auto& failure : failures) {
    expectThrowMessage<StandardException>([&] { AspectClassifierNN("c", failure.file, 0, 1.0f, 0); }, failure.message);
    expectThrowMessage<StandardException>([&] { AspectClassifierGMM("c", failure.file, 0); }, failure.message);
  }

  // No file: no model, no aspects, an empty result. Only reserved objects: no aspects.
  const auto query = models::signature({object("MFCC", {{1}})});
  AspectClassifierGMM none("none", "", 4);
  ClassifyResult result;
  none.classify(*query, result);
  EXPECT_TRUE(result.empty());
  EXPECT_EQ(none.getModelFile(), nullptr);
  std::vector<CFeatureObjectBase*> reserved = models::passThrough("MFCC", 1);
  reserved.push_back(object("FQM", {{1}}));
  AspectClassifierNN onlyReserved("r", models::file("reserved.sig", reserved), 0, 1.0f, 0);
  onlyReserved.classify(*query, result);
  EXPECT_TRUE(onlyReserved.getAspects().empty());
  EXPECT_TRUE(result.empty());
}

TEST(AspectClassifierNN, SharesOfFramesWithinTheRejectRadii) {
  const std::string file = nearestCentroidFile();
  // Frame (3, 4) lies exactly at radius 5 of (0, 0) and on (3, 4); frame
  // (10, 10.5) lies 0.5 from (10, 10).
  const std::vector<float> frames = {3, 4, 10, 10.5f};
  const BaseMatrix<float> input(const_cast<float*>(frames.data()), 2, 2);
  const struct {
    float factor;
    Entries expected;
  } cases[] = {
      {1.0f, {{0.5f, "nn.b"}, {1.0f, "nn.a"}}},
      {0.5f, {{0.5f, "nn.a"}, {0.5f, "nn.b"}}},
      {0.0f, {{0.0f, "nn.a"}, {0.5f, "nn.b"}}},
  };
  for (const auto& c : cases) {
    AspectClassifierNN classifier("nn", file, 0, c.factor, 3);
    ClassifyResult result;
    classifier.classify(input, result);
    EXPECT_EQ(entriesOf(result), c.expected) << c.factor;
  }

  AspectClassifierNN classifier("nn", file, 7, 1.0f, 3);
  EXPECT_EQ(classifier.getFlag() * 1000 + classifier.getKind() * 100 + classifier.getVersion(), 1003);
  // Through the adaptation of a signature: the same shares.
  ClassifyResult adapted;
  classifier.classify(*models::signature({object("MFCC", {{3, 4}, {10, 10.5f}})}), adapted);
  EXPECT_EQ(entriesOf(adapted), (Entries{{0.5f, "nn.b"}, {1.0f, "nn.a"}}));
  ClassifyResult empty;
  classifier.classify(BaseMatrix<float>(nullptr, 0, 2), empty);
  EXPECT_EQ(entriesOf(empty), (Entries{{0.0f, "nn.a"}, {0.0f, "nn.b"}}));
  expectThrowMessage<std::string>([&] { classifier.classify(BaseMatrix<float>(const_cast<float*>(frames.data()), 1, 3), empty); },
                                  "AspectClassifierNN::classify() dimension of query and centroids don't fit aspect: nn.a");
}

TEST(AspectClassifierGMM, PosteriorsSurviveWhenEveryLikelihoodUnderflows) {
  // At (0, 0): ll(a) = c, ll(b) = c - 1, so the posteriors are 1 / (1 + e^-1)
  // and e^-1 / (1 + e^-1) whatever c. With c = -1000 every exp(ll) is 0 in double.
  const double a = 1.0 / (1.0 + std::exp(-1.0));
  const float origin[2] = {0, 0};
  for (float logConstant : {0.0f, -3.0f, -1000.0f}) {
    AspectClassifierGMM classifier("gmm", mixtureFile(logConstant), 0);
    ClassifyResult result;
    classifier.classify(BaseMatrix<float>(const_cast<float*>(origin), 1, 2), result);
    EXPECT_NEAR(result.get("gmm.a"), a, 1e-6) << logConstant;
    EXPECT_NEAR(result.get("gmm.b"), 1.0 - a, 1e-6) << logConstant;
    if (logConstant > -700.0f) {
      // Where nothing underflows, the plain formula gives the same scores.
      const double sum = std::exp(static_cast<double>(logConstant)) + std::exp(logConstant - 1.0);
      EXPECT_NEAR(result.get("gmm.a"), std::exp(logConstant - std::log(sum)), 1e-6);
    }
  }
  AspectClassifierGMM classifier("gmm", mixtureFile(0.0f), 0);
  ClassifyResult result;
  classifier.classify(*models::signature({object("MFCC", {{0, 0}, {0, 0}})}), result);
  EXPECT_NEAR(result.get("gmm.a"), a, 1e-6);
  expectThrowMessage<std::string>([&] { classifier.classify(BaseMatrix<float>(const_cast<float*>(origin), 2, 1), result); },
                                  "GMM::LogLHPerFrame(): Incompatible feature");
}

}  // namespace
