#include "similarity/aspect_similarity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "similarity/adapted_feature_db.h"
#include "similarity/session_globals.h"
#include "tests/similarity/method_support.h"
#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"
#include "tests/support/temp_files.h"

namespace {

using models::object;

std::unique_ptr<AspectSimilarity> method(const std::string& classifiers) {
  return methods::fromXml<AspectSimilarity>("<similaritymethod>" + classifiers + "</similaritymethod>",
                                            static_cast<EventHandler*>(nullptr));
}

TEST(AspectSimilarity, ConstructionAndAdaptedRows) {
  const std::string origin = "AspectSimilarity::AspectSimilarity() ";
  const std::pair<std::string, std::string> failures[] = {
      {"type=\"SVM\"", origin + "invalid classifier type: SVM"},
      {"", origin + "element \"classifier\" lacks the attribute \"type\""},
      {"type=\"GMM\" file=\"absent.sig\"", "AspectClassifier::AspectClassifierNN() Signature not found absent.sig"},
  };
  for (const auto& [attributes, message] : failures)
    expectThrowMessage<StandardException>(
        [&] { method("<classifier name=\"ok\" type=\"NN\"/><classifier name=\"x\" " + attributes + "/>"); }, message);

  // Aspects "a" (centroid 0) and "b" (centroid 10) of radius 0.5 x 2 over F:
  // of the frames 0, 0.8, 10 and 20, two are near a and one near b.
  std::vector<CFeatureObjectBase*> model = models::passThrough("F", 1);
  model.push_back(object("a", {{0}}, {{"rejectvalue", "0.5"}, {"relevance", "1"}}));
  model.push_back(object("b", {{10}}, {{"rejectvalue", "0.5"}, {"relevance", "1"}}));
  const auto aspects = method("<classifier name=\"n\" type=\"NN\" version=\"4\" rejectfactor=\"2\" file=\"" +
                              models::file(testfiles::tempPath("nn.sig"), model) + "\"/><other name=\"x\"/>");
  const struct {
    models::Rows segmentation;  // (start, end, label) in seconds
    std::vector<float> scores;  // row by row
  } cases[] = {
      {{}, {0.5f, 0.25f}},                         // label "-1" only: the whole song
      {{{0, 1, -1}}, {0.5f, 0.25f}},               // too short to be segments
      {{{0, 24, 3}}, {0.5f, 0.25f, 0.5f, 0.25f}},  // whole song and segment 3
  };
  for (const auto& c : cases) {
    std::vector<CFeatureObjectBase*> features = {object("F", {{0}, {0.8f}, {10}, {20}}, {}, {}, 6000)};
    if (!c.segmentation.empty()) features.push_back(object("SEGMENTATION", c.segmentation, {}, {}, 1000));
    const auto song = models::signature(features);
    song->getSignData()->setTuid(5, 1);
    CAudioSignMulti adapted;
    aspects->adapt(*song, adapted);
    const CFeatureObject<float>* scores = adapted.getSignData()->getFeature("n");
    const HeapMatrix<float>& m = scores->getMatrix();
    EXPECT_EQ(std::vector<float>(m.data, m.data + m.elementCount()), c.scores);
    EXPECT_TRUE(scores->getFeatureType() == 5004 && adapted.getTuid() == CSignatureID(5, 1));
  }
}

TEST(AspectSimilarity, HistogramIntersectionOfWholeSongScores) {
  AdaptedFeatureDb db("Database");
  db.add(adaptedSignature(1, {{"n", {0.6f, 0.4f}}}).release());
  db.add(adaptedSignature(2, {{"n", {0.5f, 0.5f}}}).release());
  db.add(adaptedSignature(3, {{"n", {0.1f, 0.9f}}}).release());  // a share of exactly 0.5
  db.add(adaptedSignature(4, {{"n", {1.0f}}}).release());        // shorter than the query
  db.add(adaptedSignature(5, {{"m", {1.0f, 1.0f}}}).release());  // no scores of n
  SessionGlobals globals;
  const auto aspects = method(
      "<classifier name=\"n\" type=\"NN\"/><classifier name=\"m\" type=\"NN\"/>"
      "<classifier name=\"r\" type=\"NN\"/>");
  aspects->init(db, globals);
  std::set<std::string> ids;
  aspects->collectClassifierIds(ids);
  EXPECT_EQ(ids, (std::set<std::string>{"m", "n", "r"}));
  // m sums to less than 0.5 and finds nothing; r is not in the query.
  const auto query = adaptedSignature(100, {{"n", {0.6f, 0.4f}}, {"m", {0.2f, 0.2f}}});
  QueryParameters all, two, skip;
  two.resultCount = 2;
  skip.strategy.skip = 1;
  const std::set<std::string> excluded = {"n"};
  const struct {
    const QueryParameters& params;
    const std::set<std::string>* filter;
    std::string lists;
  } cases[] = {
      {all, nullptr, "n: 0/1/1 0.1/2/0.9;m:;:;"},
      {two, nullptr, "n: 0/1/1 0.1/2/0.9;m:;:;"},
      {skip, nullptr, ":;"},
      {all, &excluded, "m:;"},  // n leaves out empty: m (and r) write into it
  };
  for (const auto& c : cases) {
    aspects->setClassifierFilter(c.filter);
    SimilarityList out("", 1000);
    aspects->process(*query, out, c.params);
    EXPECT_EQ(methods::chain(out, true), c.lists);
    EXPECT_EQ(out.capacity, c.params.resultCount == 2 ? 2 : 1000);
  }
}

}  // namespace
