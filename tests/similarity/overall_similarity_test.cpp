#include "similarity/overall_similarity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/dom_support.h"
#include "similarity/session_globals.h"
#include "similarity/session_utils.h"
#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"

namespace {

using models::object;
using Values = std::vector<float>;

std::unique_ptr<OverallSimilarity> method(const std::string& classifiers) {
  const std::string text = "<similaritymethod>" + classifiers + "</similaritymethod>";
  DomParser parser;
  return std::make_unique<OverallSimilarity>(*parser.parseMemory(text.data(), text.size()).getDocumentElement(),
                                             nullptr);
}

std::string classifier(const std::string& name, const std::string& params) {
  std::string text = "<classifier name=\"" + name + "\" version=\"3\">";
  for (const std::string& entry : split(params, ';', true)) {
    const size_t equals = entry.find('=');
    text += "<param key=\"" + entry.substr(0, equals) + "\" value=\"" + entry.substr(equals + 1) + "\"/>";
  }
  return text + "</classifier>";
}

Values row0(const CAudioSignMulti& signature, const std::string& feature) {
  const HeapMatrix<float>& m = signature.getSignData()->getFeature(feature.c_str())->getMatrix();
  return Values(m.data, m.data + (m.rows == 0 ? 0 : m.cols));
}

// One onset band: mse frames of constant energy, or a step from 1 to 100 at
// frame step.
models::Rows band(unsigned frames, unsigned step = ~0u) {
  models::Rows rows;
  for (unsigned t = 0; t < frames; ++t) rows.push_back({t < step ? 1.0f : 100.0f});
  return rows;
}

HeapMatrix<float> bandMatrix(unsigned frames, unsigned step = ~0u) {
  const std::unique_ptr<CFeatureObject<float>> feature(object("MSE", band(frames, step)));
  return feature->getMatrix();
}

// Frames (1, 10, 100) to (6, 60, 600), and the pitch track of four notes.
std::unique_ptr<CAudioSignMulti> song(const models::Rows& mse) {
  models::Rows frames;
  for (float t = 1; t <= 6; ++t) frames.push_back({t, 10 * t, 100 * t});
  return models::signature({object("MSE", mse), object("F", frames),
                            object("P", {{60}, {60}, {-1}, {-1}, {64}, {64}, {64}, {62}, {-1}}),
                            object("Silent", {{-1}, {-1}})});
}

TEST(OverallSimilarity, OnsetMask) {
  const auto overall = method("");
  EXPECT_EQ(overall->getOnsetThresholds()[0], 1.1f * 0.3587f);
  EXPECT_NEAR(overall->getOnsetWindow()[0], (1 - std::cos(0.785398163)) / 2, 1e-4);
  EXPECT_NEAR(overall->getOnsetWindow()[3], 1.0, 1e-4);
  HeapVector<bool> mask;
  const HeapMatrix<float> flat = bandMatrix(20);
  EXPECT_TRUE(overall->createOnsetMask(flat, mask, 0.9f));
  EXPECT_EQ(std::vector<bool>(mask.begin(), mask.end()), std::vector<bool>(22, false));
  // The log energy rises by ln 100 over the smoothing window around frame 10;
  // the rise holds on, fading, for some frames.
  const HeapMatrix<float> step = bandMatrix(20, 10);
  EXPECT_FALSE(overall->createOnsetMask(step, mask, 0.9f));
  EXPECT_FALSE(mask[0] || mask[1] || mask[2] || mask[2 + 4]);
  EXPECT_TRUE(mask[2 + 7] && mask[2 + 9]);
  EXPECT_FALSE(mask[2 + 19]);
  expectThrowMessage<StandardException>(
      [&] { overall->createOnsetMask(HeapMatrix<float>(4, 15, 1.0f), mask, 0.9f); },
      "OverallSimilarity::createOnsetMask() MSE has 15 bands, more than the 14 onset thresholds");
}

TEST(OverallSimilarity, AdaptSummarisesEachClassifier) {
  const auto flat = song(band(4));
  const auto onsets = song(band(4, 2));
  HeapVector<bool> mask;
  ASSERT_FALSE(method("")->createOnsetMask(bandMatrix(4, 2), mask, 0.9f));
  Values pruned(3, 0.0f);  // the column means of the frames at onsets
  unsigned selected = 0;
  for (unsigned t = 0; t < 6; ++t) {
    if (!mask[t]) continue;
    ++selected;
    for (unsigned c = 0; c < 3; ++c) pruned[c] += static_cast<float>(t + 1) * std::pow(10.0f, static_cast<float>(c));
  }
  for (float& value : pruned) value /= static_cast<float>(selected);
  ASSERT_TRUE(selected > 0 && selected < 6);

  const struct {
    std::string params;
    const CAudioSignMulti& song;
    Values expected;
  } cases[] = {
      {"feature=F;mean=1", *flat, {3.5f, 35, 350}},
      {"feature=F;variance=1", *flat, {3.5f, 350, 35000}},
      {"feature=F,F;mean=1;variance=1;dropidx=0,2", *flat, {35, 350, 35, 350}},
      {"feature=F;mean=1;concat=2", *flat, {3, 30, 300, 4, 40, 400}},
      {"feature=F;variance=2", *flat, {0.5f, 50, 5000}},                      // blocks of 2 rows
      {"feature=F;variance=4", *flat, {5 / 3.0f, 500 / 3.0f, 50000 / 3.0f}},  // one block; rows 5 and 6 left out
      {"feature=F;variance=10", *flat, {3.5f, 350, 35000}},                   // one block of all rows
      {"feature=F;mean=1;variance=1;normalization=1", *flat, {0, 0, 0, 1, 1, 1}},
      {"feature=F;mean=1;pruning=1", *flat, {3.5f, 35, 350}},  // no onset: every frame
      {"feature=F;mean=1;pruning=1", *onsets, pruned},
      // Notes (60, 2), (64, 3), (62, 1), (-1, 1): the -1 run before 64 is no note.
      {"feature=P;metric=melodicnorm", *flat, {4, -2, -63, std::log(1.5f), std::log(3.0f), 0}},
      {"feature=Silent,P;metric=melodicnorm;mean=1", *flat, {4, -2, -63, std::log(1.5f), std::log(3.0f), 0}},
  };
  for (const auto& c : cases) {
    CAudioSignMulti adapted;
    method(classifier("c", c.params))->adapt(c.song, adapted);
    const CFeatureObject<float>* feature = adapted.getSignData()->getFeature("c");
    EXPECT_EQ(feature->getFeatureType() * 10 + feature->getMatrix().rows, 50031);
    const Values vector = row0(adapted, "c");
    ASSERT_EQ(vector.size(), c.expected.size()) << c.params;
    for (size_t i = 0; i < vector.size(); ++i) EXPECT_NEAR(vector[i], c.expected[i], 1e-3f) << c.params << " " << i;
  }
}

TEST(OverallSimilarity, AdaptSegmentRowsAndFailures) {
  // 24 seconds, one row per second, segments labelled 3 and 5.
  models::Rows frames, mse;
  for (float t = 0; t < 24; ++t) frames.push_back({t});
  for (unsigned t = 0; t < 22; ++t) mse.push_back({1.0f});
  const auto segmented = models::signature({object("F", frames, {}, {}, 1000), object("MSE", mse, {}, {}, 1000),
                                            object("SEGMENTATION", {{0, 12, 3}, {12, 24, 5}}, {}, {}, 1000)});
  segmented->getSignData()->setTuid(9, 0);
  CAudioSignMulti adapted(new CSignDataMulti);
  adapted.getSignData()->insert(object("kept", {{1}}));
  method(classifier("c", "feature=F;mean=1"))->adapt(*segmented, adapted);
  const HeapMatrix<float>& rows = adapted.getSignData()->getFeature("c")->getMatrix();
  EXPECT_EQ(Values(rows.data, rows.data + rows.elementCount()), (Values{11.5f, 5.5f, 17.5f}));
  EXPECT_NE(adapted.getSignData()->getFeature("kept"), nullptr);

  const auto flat = song(band(4));
  const std::string adapt = "OverallSimilarity::adapt() ";
  const std::pair<std::string, std::string> failures[] = {
      {"feature=G;mean=1", adapt + "feature not found in signature G"},
      {"feature=F", adapt + "invalid classifier settings, no grouping given in: c"},
      {"", adapt + "invalid classifier settings, no grouping given in: c"},
      {"feature=F;mean=1;dropidx=3", adapt + "dropidx 3 does not fit the 3 columns of feature F in: c"},
      {"feature=F;mean=1;dropidx=1,1", adapt + "dropidx 1 does not fit the 3 columns of feature F in: c"},
      {"feature=F;mean=1;concat=-2", adapt + "invalid classifier settings, negative concat or variance in: c"},
  };
  for (const auto& [params, message] : failures) {
    CAudioSignMulti out;
    expectThrowMessage<StandardException>([&] { method(classifier("c", params))->adapt(*flat, out); }, message);
    EXPECT_FALSE(out.isInitialized());
  }
  CAudioSignMulti out;
  expectThrowMessage<VMTLException>(
      [&] { method(classifier("c", "feature=F;mean=1;pruning=1"))->adapt(*song(band(5)), out); },
      "HeapMatrix<Type>::operator[](BaseVector<uint>) logical-vector and matrix do not fit");
  expectThrowMessage<StandardException>([&] { method("")->adapt(*models::signature({object("F", {{1}})}), out); },
                                        adapt + "MSE could not be found in signature to create onset mask");
  expectThrowMessage<StandardException>([] { method("<classifier name=\"c\" version=\"v\"/>"); },
                                        "OverallSimilarity::OverallSimilarity() attribute \"version\" of element "
                                        "\"classifier\" holds no readable number: \"v\"");
}

// References 1 to 3 of classifiers "c" (l2norm) and "d" (l1norm), id 4
// without "d".
class OverallQuery : public testing::Test {
 protected:
  void SetUp() override {
    db.add(adaptedSignature(1, {{"c", {3, 4}}, {"d", {1, 1}}}).release());
    db.add(adaptedSignature(2, {{"c", {0, 1}}, {"d", {0, 0}}}).release());
    db.add(adaptedSignature(3, {{"c", {6, 8}}, {"d", {0, 3}}}).release());
    overall->init(db, globals);
  }

  // Each list of the chain: its name and (distance, id) entries.
  std::string run(const CAudioSignMulti& query, const QueryParameters& params) {
    SimilarityList out("", 1000);
    overall->process(query, out, params);
    std::ostringstream text;
    for (const SimilarityList* list = &out; list != nullptr; list = list->nextList()) {
      text << list->name << ":";
      for (const auto& entry : *list) text << " " << entry.first << "/" << entry.second.id;
      text << ";";
    }
    return text.str();
  }

  std::unique_ptr<OverallSimilarity> overall =
      method(classifier("c", "feature=F;mean=1") + classifier("d", "feature=F;mean=1;metric=l1norm"));
  AdaptedFeatureDb db{"Database"};
  SessionGlobals globals;
};

TEST_F(OverallQuery, ListsPerClassifier) {
  const auto query = adaptedSignature(100, {{"c", {0, 0}}, {"d", {0, 0}}});
  QueryParameters ten;
  ten.resultCount = 10;
  QueryParameters skip;
  skip.strategy.skip = 1;
  const AdaptedSignatureMap candidates = {{3, db.entry(3)}, {1, db.entry(1)}};
  QueryParameters restricted;
  restricted.candidates = &candidates;
  restricted.resultCount = 10;
  const std::set<std::string> excluded = {"c"};
  const struct {
    const QueryParameters& params;
    const std::set<std::string>* filter;
    std::string lists;
  } cases[] = {
      {ten, nullptr, "c: 1/2 5/1 10/3;d: 0/2 2/1 3/3;"},
      // Cut to the head that reaches a fifth of the summed distances.
      {QueryParameters(), nullptr, "c: 1/2 5/1;d: 0/2 2/1;"},
      {skip, nullptr, ":;"},
      {restricted, nullptr, "c: 5/1 10/3;d: 2/1 3/3;"},
      // The excluded classifier leaves out empty; the next one writes into it.
      {ten, &excluded, "d: 0/2 2/1 3/3;"},
  };
  for (const auto& c : cases) {
    overall->setClassifierFilter(c.filter);
    EXPECT_EQ(run(*query, c.params), c.lists);
  }
  overall->setClassifierFilter(nullptr);

  // The references follow the database.
  db.remove(1);
  db.add(adaptedSignature(4, {{"c", {0, 2}}, {"d", {5, 5}}}).release());
  EXPECT_EQ(run(*query, ten), "c: 1/2 2/4 10/3;d: 0/2 3/3 10/4;");
  db.add(adaptedSignature(5, {{"c", {1, 1, 1}}, {"d", {0, 0}}}).release());
  testing::internal::CaptureStdout();
  EXPECT_EQ(run(*query, ten), "c: 1/2 2/4 10/3;d: 0/2 0/5 3/3 10/4;");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "unequal vector size\nFeature: c Tuid: 5\n");

  db.add(adaptedSignature(6, {{"c", {0, 0}}}).release());
  expectThrowMessage<StandardException>([&] { run(*query, ten); },
                                        "OverallSimilarity::process() feature-space not found in reference: d");
  expectThrowMessage<StandardException>(
      [&] {
        run(*adaptedSignature(100, {{"c", {0, 0}}}), ten);
      },
      "OverallSimilarity::process() could not find classifier-id in query-signature: d");
}

TEST_F(OverallQuery, TransformsTheQueryOnceAndDistancesThatAreNoNumbers) {
  // "NRM" for "c": subtract (0, 0), divide by (2, 2).
  ByteBuilder b;
  std::istringstream block(tableMap(b.u8(0).text("NRM"), 9, "c", 2, 2, {0, 0, 2, 2}).text("END").image());
  globals.read(block);
  const auto query = adaptedSignature(100, {{"c", {6, 8}}, {"d", {0, 0}}});
  QueryParameters ten;
  ten.resultCount = 10;
  EXPECT_EQ(run(*query, ten), "c: 0/1 4.24264/2 5/3;d: 0/2 2/1 3/3;");
  EXPECT_EQ(row0(*query, "c"), (Values{3, 4}));
  EXPECT_EQ(SessionUtils::transformFlags(*query), SessionUtils::kNormalizedFlag);
  EXPECT_EQ(run(*query, ten), "c: 0/1 4.24264/2 5/3;d: 0/2 2/1 3/3;");  // not again

  // A stored query changes in the database too: the next query sees it.
  SimilarityList out("", 1000);
  overall->processById(3, out, ten);
  EXPECT_EQ(row0(*db.entry(3), "c"), (Values{3, 4}));
  EXPECT_EQ(run(*query, ten), "c: 0/1 0/3 4.24264/2;d: 0/2 2/1 3/3;");

  // Zero vectors have no angle: no distance to rank by.
  const auto cosine = method(classifier("c", "feature=F;mean=1;metric=dotproduct"));
  cosine->init(db, globals);
  SimilarityList list("", 1000);
  testing::internal::CaptureStdout();
  cosine->process(*adaptedSignature(100, {{"c", {0, 0}}}), list, ten);
  std::string reports;
  for (const char* id : {"1", "2", "3"})
    reports += std::string("OverallSimilarity::process() distance is not a number\nFeature: c Tuid: ") + id + "\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), reports);
  EXPECT_TRUE(list.empty());
}

}  // namespace
