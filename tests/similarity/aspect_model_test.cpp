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
      object("even", {{-1, 0, 1, 2}}),
      object("narrow", {{-1, 0}}),
      object("none", {}),
      object("zero", {{-1, 0, 1, 2, 0}}),
      object("negative", {{-1, 0, 1, -2, 3}}),
      object("infinite", {{-1, 0, 1, 2, INFINITY}}),
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
  // A mixture from outside must have whole components and usable inverse
  // variances: it is refused when loaded rather than failing song by song.
  const std::string shape = "AspectModelGMM::set() mixture matrix is not components x (1 + 2 x dimension) in class ";
  const std::string variances = "AspectModelGMM::set() inverse variances must be positive in class ";
  for (const char* id : {"even", "narrow", "none"})
    expectThrowMessage<StandardException>([&] { AspectModelGMM().set(*file, id); }, shape + id);
  for (const char* id : {"zero", "negative", "infinite"})
    expectThrowMessage<StandardException>([&] { AspectModelGMM().set(*file, id); }, variances + id);
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
