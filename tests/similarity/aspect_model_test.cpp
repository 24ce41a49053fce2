#include "similarity/aspect_model.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"

namespace {

using models::object;

std::vector<float> valuesOf(const BaseVector<float>& v) { return std::vector<float>(v.begin(), v.end()); }

TEST(AspectModel, NearestCentroidModelAndItsChecks) {
  const auto file = models::signature({
      object("a", {{0, 0}, {1, 1}}, {{"rejectvalue", "5,1.5"}, {"relevance", "0.25"}}),
      object("few", {{0, 0}, {1, 1}}, {{"rejectvalue", "5"}, {"relevance", "1"}}),
      object("norv", {{0, 0}}, {{"relevance", "1"}}),
      object("norel", {{0, 0}}, {{"rejectvalue", "1"}}),
  });
  AspectModelNN model;
  model.set(*file, "a");
  EXPECT_EQ(valuesOf(model.rejectValues), (std::vector<float>{5.0f, 1.5f}));
  EXPECT_EQ(valuesOf(model.relevances), std::vector<float>{0.25f});
  EXPECT_EQ(model.centroids.rows * 10 + model.centroids.cols, 22u);
  const std::unique_ptr<AspectModel> copy(model.clone());
  EXPECT_NE(static_cast<AspectModelNN&>(*copy).centroids.data, model.centroids.data);

  const struct {
    const char* id;
    std::string message;
  } failures[] = {
      {"x", "AspectModelNN::set() aspect-id not found in afp: x"},
      {"few", "AspectModelNN::set() fewer reject-values than centroids in class few"},
      {"norv", "AspectClassifierNN::set() No reject-values found in class norv"},
      {"norel", "AspectClassifierNN::set() No relevance-values found in class norel"},
  };
  for (const auto& failure : failures)
    expectThrowMessage<StandardException>([&] { AspectModelNN().set(*file, failure.id); }, failure.message);
}

TEST(AspectModel, MixtureModelAndItsChecks) {
  const std::string shape = " is not components x (1 + 2 x dimension) in class ";
  const auto file = models::signature({
      object("g", {{-1, 0, 1, 2, 3}, {-2, 1, 1, 1, 1}}),
      object("even", {{-1, 0, 1, 2}}),
      object("narrow", {{-1, 0}}),
      object("none", {}),
      object("zero", {{-1, 0, 1, 2, 0}}),
      object("negative", {{-1, 0, 1, -2, 3}}),
      object("infinite", {{-1, 0, 1, 2, INFINITY}}),
  });
  AspectModelGMM model;
  model.set(*file, "g");
  EXPECT_EQ(model.gmm.getComponentCount() * 10 + model.gmm.getDimension(), 22);
  EXPECT_EQ(model.gmm.getInverseVariances()[1], 3.0f);
  const std::unique_ptr<AspectModel> copy(model.clone());
  EXPECT_NE(static_cast<AspectModelGMM&>(*copy).gmm.getMeans(), model.gmm.getMeans());

  expectThrowMessage<StandardException>([&] { AspectModelGMM().set(*file, "x"); },
                                        "AspectModelGMM::set() aspect-id not found in afp: x");
  for (const char* id : {"even", "narrow", "none"})
    expectThrowMessage<StandardException>([&] { AspectModelGMM().set(*file, id); },
                                          "AspectModelGMM::set() mixture matrix" + shape + id);
  for (const char* id : {"zero", "negative", "infinite"})
    expectThrowMessage<StandardException>([&] { AspectModelGMM().set(*file, id); },
                                          std::string("AspectModelGMM::set() inverse variances must be positive in class ") + id);
}

TEST(Aspect, NameAndTypedModel) {
  const auto file = models::signature({object("7", {{0}}, {{"rejectvalue", "1"}, {"relevance", "1"}})});
  const Aspect aspect(new AspectModelNN, *file, "genre", "7");
  EXPECT_EQ(aspect.getName(), "genre.7");
  EXPECT_EQ(aspect.model<AspectModelNN>().centroids.rows, 1u);
  expectThrowMessage<StandardException>([&] { aspect.model<AspectModelGMM>(); },
                                        "Aspect::model() invalid cast - requested aspect-model not available!");
}

}  // namespace
