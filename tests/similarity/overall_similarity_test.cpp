#include "similarity/overall_similarity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/session_globals.h"
#include "similarity/session_utils.h"
#include "tests/similarity/method_support.h"
#include "tests/similarity/model_files.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"

namespace {

using models::object;
using Values = std::vector<float>;

// Classifiers from "name:key=value;key=value" texts, version 3.
std::unique_ptr<OverallSimilarity> method(const std::vector<std::string>& classifiers) {
  std::string text = "<similaritymethod>";
  for (const std::string& c : classifiers) {
    text += "<classifier name=\"" + c.substr(0, c.find(':')) + "\" version=\"3\">";
    for (const std::string& param : split(c.substr(c.find(':') + 1), ';', true))
      text += "<param key=\"" + param.substr(0, param.find('=')) + "\" value=\"" + param.substr(param.find('=') + 1) +
              "\"/>";
    text += "</classifier>";
  }
  return methods::fromXml<OverallSimilarity>(text + "</similaritymethod>", static_cast<EventHandler*>(nullptr));
}

Values row0(const CAudioSignMulti& signature, const char* feature) {
  const HeapMatrix<float>& m = signature.getSignData()->getFeature(feature)->getMatrix();
  return Values(m.data, m.data + (m.rows == 0 ? 0 : m.cols));
}

// One onset band: energy 1, rising to 100 from frame step on.
models::Rows band(unsigned frames, unsigned step = ~0u) {
  models::Rows rows;
  for (unsigned t = 0; t < frames; ++t) rows.push_back({t < step ? 1.0f : 100.0f});
  return rows;
}

HeapMatrix<float> matrixOf(const models::Rows& rows) {
  return std::unique_ptr<CFeatureObject<float>>(object("M", rows))->getMatrix();
}

// Frames (1, 10, 100) to (6, 60, 600); a pitch track of four notes.
std::unique_ptr<CAudioSignMulti> song(const models::Rows& mse) {
  models::Rows frames;
  for (float t = 1; t <= 6; ++t) frames.push_back({t, 10 * t, 100 * t});
  return models::signature({object("MSE", mse), object("F", frames), object("Silent", {{-1}, {-1}}),
                            object("P", {{60}, {60}, {-1}, {-1}, {64}, {64}, {64}, {62}, {-1}})});
}

TEST(OverallSimilarity, OnsetMask) {
  const auto overall = method({});
  EXPECT_EQ(overall->getOnsetThresholds()[0] + overall->getOnsetThresholds()[13], 1.1f * 0.3587f + 1.1f * 0.2284f);
  for (unsigned k = 0; k < 7; ++k)
    EXPECT_EQ(overall->getOnsetWindow()[k], static_cast<float>((1 - std::cos((k + 1) * 0.125 * 6.2832)) * 0.5)) << k;
  HeapVector<bool> mask;
  EXPECT_TRUE(overall->createOnsetMask(matrixOf(band(20)), mask, 0.9f));
  EXPECT_EQ(std::vector<bool>(mask.begin(), mask.end()), std::vector<bool>(22, false));
  // The smoothed log energy rises by ln 100 around frame 10; the rise holds
  // on, fading, for some frames.
  EXPECT_FALSE(overall->createOnsetMask(matrixOf(band(20, 10)), mask, 0.9f));
  EXPECT_FALSE(mask[0] || mask[1] || mask[2] || mask[2 + 4] || mask[2 + 19]);
  EXPECT_TRUE(mask[2 + 7] && mask[2 + 9]);
  expectThrowMessage<StandardException>(
      [&] { overall->createOnsetMask(HeapMatrix<float>(4, 15, 1.0f), mask, 0.9f); },
      "OverallSimilarity::createOnsetMask() MSE has 15 bands, more than the 14 onset thresholds");
}

TEST(OverallSimilarity, AdaptSummarisesEachClassifier) {
  const auto flat = song(band(4));
  // The energy steps up at the third of four onset frames: the rise (seen
  // from the first frame on, through the smoothing) holds on over all four,
  // which stand for frames 3 to 6.
  const auto onsets = song(band(4, 2));
  // Columns whose normalised values and mean block variance round
  // differently when divided than when scaled by a reciprocal: G of mean
  // 1.75 and deviation 3.5, H of block variances 0.5, 2 and 4.5.
  const auto scaled = [](float x) { return (x - 1.75f) * (1.0f / 3.5f); };
  const auto rounding = models::signature(
      {object("MSE", band(2)), object("G", {{0}, {0}, {0}, {7}}), object("H", {{0}, {1}, {0}, {2}, {0}, {3}})});

  const Values melody = {4, -2, -63, std::log(1.5f), std::log(3.0f), 0};  // notes 60, 64, 62, -1 of 2, 3, 1, 1 frames
  const struct {
    std::string params;
    const CAudioSignMulti& song;
    Values expected;
    float tolerance = 1e-3f;
  } cases[] = {
      {"feature=F,F;mean=1;variance=1;dropidx=0,2", *flat, {35, 350, 35, 350}},
      {"feature=F;mean=1;concat=2", *flat, {3, 30, 300, 4, 40, 400}},
      {"feature=F;variance=4", *flat, {5 / 3.0f, 500 / 3.0f, 50000 / 3.0f}},  // rows 5 and 6 left out
      {"feature=G;mean=1;normalization=1;concat=4", *rounding, {scaled(0), scaled(0), scaled(0), scaled(7)}, 0},
      {"feature=H;variance=2", *rounding, {(0.5f + 2 + 4.5f) * (1.0f / 3)}, 0},
      {"feature=F;mean=1;pruning=1", *flat, {3.5f, 35, 350}},  // no onset: every frame
      {"feature=F;mean=1;pruning=1", *onsets, {4.5f, 45, 450}},
      {"feature=Silent,P;metric=melodicnorm", *flat, melody},  // a track of no notes adds nothing
  };
  for (const auto& c : cases) {
    CAudioSignMulti adapted;
    method({"c:" + c.params})->adapt(c.song, adapted);
    const CFeatureObject<float>* feature = adapted.getSignData()->getFeature("c");
    EXPECT_EQ(feature->getFeatureType() * 10 + feature->getMatrix().rows, 50031);
    const Values vector = row0(adapted, "c");
    ASSERT_EQ(vector.size(), c.expected.size()) << c.params;
    for (size_t i = 0; i < vector.size(); ++i)
      EXPECT_NEAR(vector[i], c.expected[i], c.tolerance) << c.params << " " << i;
  }
}

TEST(OverallSimilarity, AdaptSegmentRowsAndFailures) {
  // 24 seconds, one row per second, segments labelled 3 and 5.
  models::Rows frames;
  for (float t = 0; t < 24; ++t) frames.push_back({t});
  const auto segmented = models::signature({object("F", frames, {}, {}, 1000), object("MSE", band(22), {}, {}, 1000),
                                            object("SEGMENTATION", {{0, 12, 3}, {12, 24, 5}}, {}, {}, 1000)});
  CAudioSignMulti adapted(new CSignDataMulti);
  adapted.getSignData()->insert(object("kept", {{1}}));
  method({"c:feature=F;mean=1"})->adapt(*segmented, adapted);
  const HeapMatrix<float>& rows = adapted.getSignData()->getFeature("c")->getMatrix();
  EXPECT_EQ(Values(rows.data, rows.data + rows.elementCount()), (Values{11.5f, 5.5f, 17.5f}));
  EXPECT_NE(adapted.getSignData()->getFeature("kept"), nullptr);

  const std::string adapt = "OverallSimilarity::adapt() ";
  const std::pair<std::string, std::string> failures[] = {
      {"feature=G;mean=1", "feature not found in signature G"},
      {"feature=F", "invalid classifier settings, no grouping given in: c"},
      {"", "invalid classifier settings, no grouping given in: c"},
      {"feature=F;mean=1;dropidx=3", "dropidx 3 does not fit the 3 columns of feature F in: c"},
      {"feature=F;mean=1;dropidx=1,1", "dropidx 1 does not fit the 3 columns of feature F in: c"},
      {"feature=F;mean=1;concat=-2", "invalid classifier settings, negative concat or variance in: c"},
  };
  CAudioSignMulti out;
  for (const auto& [params, message] : failures)
    expectThrowMessage<StandardException>([&] { method({"c:" + params})->adapt(*song(band(4)), out); },
                                          adapt + message);
  EXPECT_FALSE(out.isInitialized());
  expectThrowMessage<VMTLException>(
      [&] { method({"c:feature=F;mean=1;pruning=1"})->adapt(*song(band(5)), out); },
      "HeapMatrix<Type>::operator[](BaseVector<uint>) logical-vector and matrix do not fit");
  expectThrowMessage<StandardException>([&] { method({})->adapt(*models::signature({object("F", {{1}})}), out); },
                                        adapt + "MSE could not be found in signature to create onset mask");
}

TEST(OverallSimilarity, PruningKeepsTheOnsetsOfEachSegment) {
  // 24 seconds, one frame per second, F = the frame's index; segments
  // labelled 3 (0 to 12 s) and 5 (12 to 24 s): rows 0 (whole song), 1 and 2.
  models::Rows frames;
  for (float t = 0; t < 24; ++t) frames.push_back({t});
  const unsigned bounds[][2] = {{0, 24}, {0, 12}, {12, 24}};
  // One onset band whose energy rises a hundredfold at each listed frame.
  const auto rising = [](const std::vector<unsigned>& at) {
    models::Rows rows;
    float energy = 1;
    for (unsigned t = 0; t < 22; ++t) {
      if (std::count(at.begin(), at.end(), t) != 0) energy *= 100;
      rows.push_back({energy});
    }
    return rows;
  };
  const auto overall = method({"c:feature=F;mean=1", "p:feature=F;mean=1;pruning=1"});
  // Onsets: none; one in each segment; only in the second.
  const struct {
    std::vector<unsigned> steps;
    bool onsetIn[3];
  } cases[] = {{{}, {false, false, false}}, {{4, 14}, {true, true, true}}, {{15}, {true, false, true}}};
  for (const auto& c : cases) {
    const models::Rows mse = rising(c.steps);
    HeapVector<bool> mask;
    overall->createOnsetMask(matrixOf(mse), mask, 0.9f);
    CAudioSignMulti adapted;
    overall->adapt(*models::signature({object("F", frames, {}, {}, 1000), object("MSE", mse, {}, {}, 1000),
                                       object("SEGMENTATION", {{0, 12, 3}, {12, 24, 5}}, {}, {}, 1000)}),
                   adapted);
    const HeapMatrix<float>& all = adapted.getSignData()->getFeature("c")->getMatrix();
    const HeapMatrix<float>& pruned = adapted.getSignData()->getFeature("p")->getMatrix();
    ASSERT_EQ(pruned.rows, 3u);
    for (unsigned r = 0; r < 3; ++r) {
      // Each row's mean of the onset frames it holds, of all of its frames when it holds none.
      float sum = 0, count = 0;
      for (unsigned t = bounds[r][0]; t < bounds[r][1]; ++t)
        if (mask[t]) sum += t, ++count;
      ASSERT_EQ(count > 0, c.onsetIn[r]) << c.steps.size() << " " << r;
      const float middle = (bounds[r][0] + bounds[r][1] - 1) / 2.0f;
      EXPECT_EQ(all(r, 0), middle);
      EXPECT_FLOAT_EQ(pruned(r, 0), count > 0 ? sum / count : middle) << c.steps.size() << " " << r;
    }
  }
}

TEST(OverallSimilarity, ProcessListsTransformsAndFailures) {
  AdaptedFeatureDb db("Database");
  db.add(adaptedSignature(1, {{"c", {3, 4}}, {"d", {1, 1}}}).release());
  db.add(adaptedSignature(2, {{"c", {0, 1}}, {"d", {0, 0}}}).release());
  db.add(adaptedSignature(3, {{"c", {6, 8}}, {"d", {0, 3}}}).release());
  SessionGlobals globals;
  const auto overall = method({"c:feature=F;mean=1", "d:feature=F;mean=1;metric=l1norm"});
  overall->init(db, globals);
  const auto run = [&](const CAudioSignMulti& query, const QueryParameters& params) {
    SimilarityList out("", 1000);
    overall->process(query, out, params);
    return methods::chain(out);
  };
  const auto query = adaptedSignature(100, {{"c", {0, 0}}, {"d", {0, 0}}});
  QueryParameters ten, skip, restricted;
  ten.resultCount = restricted.resultCount = 10;
  skip.strategy.skip = 1;
  const AdaptedSignatureMap candidates = {{3, db.entry(3)}, {1, db.entry(1)}};
  restricted.candidates = &candidates;
  const std::set<std::string> excluded = {"c"};
  const struct {
    const QueryParameters& params;
    const std::set<std::string>* filter;
    std::string lists;
  } cases[] = {
      {ten, nullptr, "c: 1/2 5/1 10/3;d: 0/2 2/1 3/3;"},
      {QueryParameters(), nullptr, "c: 1/2 5/1;d: 0/2 2/1;"},  // the head that reaches a fifth of the sum
      {skip, nullptr, ":;"},
      {restricted, nullptr, "c: 5/1 10/3;d: 2/1 3/3;"},
      {ten, &excluded, "d: 0/2 2/1 3/3;"},  // c leaves out empty: d writes into it
  };
  for (const auto& c : cases) {
    overall->setClassifierFilter(c.filter);
    EXPECT_EQ(run(*query, c.params), c.lists);
  }

  // "NRM" for "c" (subtract 0, divide by 2) transforms a query once, also
  // while c is left out of it; a stored query changes in the database too,
  // and the next query sees it.
  ByteBuilder b;
  std::istringstream block(tableMap(b.u8(0).text("NRM"), 9, "c", 2, 2, {0, 0, 2, 2}).text("END").image());
  globals.read(block);
  const auto far = adaptedSignature(100, {{"c", {6, 8}}, {"d", {0, 0}}});
  EXPECT_EQ(run(*far, ten), "d: 0/2 2/1 3/3;");
  overall->setClassifierFilter(nullptr);
  for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(run(*far, ten), "c: 0/1 4.24264/2 5/3;d: 0/2 2/1 3/3;");
  EXPECT_EQ(row0(*far, "c"), (Values{3, 4}));
  EXPECT_EQ(SessionUtils::transformFlags(*far), SessionUtils::kNormalizedFlag);
  SimilarityList out("", 1000);
  overall->processById(3, out, ten);
  EXPECT_EQ(run(*far, ten), "c: 0/1 0/3 4.24264/2;d: 0/2 2/1 3/3;");

  // The references follow the database. One of another length, or a
  // distance that is no number, is reported and left out; a reference or a
  // query without the classifier fails the query.
  db.remove(1);
  db.add(adaptedSignature(5, {{"c", {1, 1, 1}}, {"d", {0, 0}}}).release());
  testing::internal::CaptureStdout();
  EXPECT_EQ(run(*query, ten), "c: 1/2 5/3;d: 0/2 0/5 3/3;");
  const auto cosine = method({"c:feature=F;mean=1;metric=dotproduct"});
  cosine->init(db, globals);
  cosine->process(*adaptedSignature(100, {{"c", {0, 0}}}), out, ten);
  const std::string notANumber = "OverallSimilarity::process() distance is not a number\nFeature: c Tuid: ";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "unequal vector size\nFeature: c Tuid: 5\n" + notANumber + "2\n" +
                                                        notANumber + "3\nunequal vector size\nFeature: c Tuid: 5\n");
  db.add(adaptedSignature(6, {{"c", {0, 0}}}).release());
  expectThrowMessage<StandardException>([&] { run(*query, ten); },
                                        "OverallSimilarity::process() feature-space not found in reference: d");
  const auto partial = adaptedSignature(100, {{"c", {0, 0}}});
  expectThrowMessage<StandardException>(
      [&] { run(*partial, ten); }, "OverallSimilarity::process() could not find classifier-id in query-signature: d");
}

}  // namespace
