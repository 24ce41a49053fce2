#include "similarity/aspect_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"

namespace {

using models::object;

// Models that load are read and used by the classifiers' tests; these are the
// checks a classifier's loader cannot reach or that no classification shows.
TEST(AspectModel, ModelChecks) {
  const auto file = models::signature({
      object("few", {{0, 0}, {1, 1}}, {{"rejectvalue", "5"}, {"relevance", "1"}}),
      object("norv", {{0, 0}}, {{"relevance", "1"}}),
      object("norel", {{0, 0}}, {{"rejectvalue", "1"}}),
      object("even", {{-1, 0, 1, NAN}}),  // dimension 1; the last column is not read
      object("zero", {{-1, 0, 1, 2, 0}}),
      object("narrow", {{-1, 0}}),
      object("none", {}),
      object("negative", {{-1, 0, 1, -2, 3}}),
      object("infinite", {{-1, 0, 1, 2, INFINITY}}),
      object("nan", {{-1, NAN, 1, 2, 3}}),
      object("unbounded", {{-INFINITY, 0, 1, 2, 3}}),
  });
  const std::pair<const char*, std::string> failures[] = {
      {"x", "AspectModelNN::set() aspect-id not found in afp: x"},
      {"few", "AspectModelNN::set() fewer reject-values than centroids in class few"},
      {"norv", "AspectClassifierNN::set() No reject-values found in class norv"},
      {"norel", "AspectClassifierNN::set() No relevance-values found in class norel"},
  };
  for (const auto& f : failures)
    expectThrowMessage<StandardException>([&] { AspectModelNN().set(*file, f.first); }, f.second);
  expectThrowMessage<StandardException>([&] { AspectModelGMM().set(*file, "x"); },
                                        "AspectModelGMM::set() aspect-id not found in afp: x");
  // A mixture from outside that cannot be evaluated is refused when loaded
  // rather than failing song by song; the others are scored in
  // aspect_classifier_test.
  const std::pair<const char*, std::string> mixtureFailures[] = {
      {"narrow", "mixture matrix is not components x (1 + 2 x dimension)"},
      {"none", "mixture matrix is not components x (1 + 2 x dimension)"},
      {"negative", "inverse variances must not be negative"},
      {"infinite", "mixture values must be finite numbers"},
      {"nan", "mixture values must be finite numbers"},
      {"unbounded", "mixture values must be finite numbers"},
  };
  for (const auto& f : mixtureFailures)
    expectThrowMessage<StandardException>([&] { AspectModelGMM().set(*file, f.first); },
                                          "AspectModelGMM::set() " + f.second + " in class " + f.first);
  for (const char* id : {"even", "zero"}) EXPECT_NO_THROW(AspectModelGMM().set(*file, id)) << id;
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
