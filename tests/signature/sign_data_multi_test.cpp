#include "signature/sign_data_multi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "signature/audio_sign_multi.h"
#include "signature/audio_sign_tag_writer.h"
#include "signature/fingerprint_stream.h"
#include "signature/sign_data_ase_sfm.h"
#include "tests/support/expect_message.h"

namespace {

const std::string kPrefix = "CFeatureObject: ";

template <typename T>
CFeatureObject<T>* feature(const std::string& name, float msPerRow, unsigned rows, unsigned cols,
                           const std::function<double(unsigned, unsigned)>& value, unsigned short type = 0) {
  auto* object = new CFeatureObject<T>(name, type);
  object->setParameter("msPerRow", std::to_string(msPerRow));
  object->readParameters();
  object->getMatrix().resize(rows, cols);
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c) object->getMatrix()(r, c) = static_cast<T>(value(r, c));
  return object;
}

double rowValue(unsigned r, unsigned c) { return r * 10.0 + c; }

template <typename T>
const HeapMatrix<T>& matrixOf(const CFeatObjMap& map, const char* name) {
  auto* typed = dynamic_cast<CFeatureObject<T>*>(map.find(name));
  EXPECT_NE(typed, nullptr) << name;
  return typed->getMatrix();
}

std::vector<std::string> namesOf(const CFeatObjMap& map) {
  std::vector<std::string> names;
  for (const auto& entry : map) names.push_back(entry.first);
  return names;
}

CMetaVec framesWith(const std::vector<std::pair<std::string, std::vector<unsigned char>>>& frames) {
  CMetaVec list;
  for (const auto& frame : frames)
    list.add(static_cast<unsigned>(frame.first.size()), frame.first.data(), static_cast<unsigned>(frame.second.size()),
             frame.second.data());
  return list;
}

std::string frameText(const SMetaFrame* frame) {
  return frame == nullptr ? "<none>" : std::string(reinterpret_cast<const char*>(frame->data), frame->dataLen);
}

TEST(FeatObjMap, InsertFindCopyAndAppend) {
  CFeatObjMap map;
  expectThrowMessage<FeatureObjException>([&] { map.insert(nullptr); }, kPrefix + "feature object is invalid");
  auto* first = feature<float>("b", 10, 2, 1, rowValue);
  map.insert(first);
  map.insert(first);  // the held object again: kept, not deleted
  EXPECT_EQ(map.find("b"), first);
  map.insert(feature<float>("b", 10, 3, 1, rowValue));  // replaces (and deletes) the first
  map.insert(feature<unsigned char>("a", 10, 1, 2, rowValue));
  EXPECT_EQ(namesOf(map), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(matrixOf<float>(map, "b").rows, 3u);
  EXPECT_EQ(map.find(nullptr), nullptr);
  expectThrowMessage<FeatureObjException>([&] { map.newFeatureObject(0, "dbl"); },
                                          kPrefix + "unsupported feature object type");

  // Excerpts of one or every feature; an empty result names what was missing.
  CFeatObjMap excerpt(map, 10, 0, "b");
  EXPECT_EQ(namesOf(excerpt), std::vector<std::string>{"b"});
  EXPECT_EQ(matrixOf<float>(excerpt, "b").rows, 2u);
  expectThrowMessage<FeatureObjException>([&] { CFeatObjMap(map, 0, 0, "zz"); },
                                          kPrefix + "feature zz not found in map");
  CFeatObjMap empty;
  expectThrowMessage<FeatureObjException>([&] { CFeatObjMap(empty, 0, 0, nullptr); },
                                          kPrefix + "feature map is empty");

  // Append: a present feature takes the rows, an absent one is copied whole.
  CFeatObjMap more;
  more.insert(feature<float>("b", 10, 2, 1, rowValue));
  more.insert(feature<unsigned int>("c", 10, 1, 1, rowValue));
  map.append(more);
  EXPECT_EQ(matrixOf<float>(map, "b").rows, 5u);
  EXPECT_NE(map.find("c"), more.find("c"));
}

TEST(SignDataMulti, FactoryByFeatureTypeAndFrameConversions) {
  CSignDataMulti data;
  std::unique_ptr<CFeatureObjectBase> sfm(data.newFeatureObject(1, "uchr"));
  std::unique_ptr<CFeatureObjectBase> ase(data.newFeatureObject(3, "flt"));
  std::unique_ptr<CFeatureObjectBase> other(data.newFeatureObject(7, "uchr"));
  EXPECT_NE(dynamic_cast<CSignDataSFM*>(sfm.get()), nullptr);
  EXPECT_NE(dynamic_cast<CSignDataASE*>(ase.get()), nullptr);
  EXPECT_NE(dynamic_cast<CFeatureObject<unsigned char>*>(other.get()), nullptr);

  CSignDataMulti source;
  source.insert(feature<float>("B", 20, 2, 2, rowValue, 5));
  source.insert(feature<unsigned char>("A", 10, 3, 1, rowValue));
  CMetaVec frames = framesWith({{"TIT2", {'t'}}});
  EXPECT_EQ(source.writeMetaVec(frames), 2u);
  CFeatObjMap plain;
  plain.readMetaVec(frames, "B");
  EXPECT_EQ(namesOf(plain), std::vector<std::string>{"B"});
  EXPECT_EQ(matrixOf<float>(plain, "B")(1, 1), 11.0f);
  EXPECT_FLOAT_EQ(plain.find("B")->getMsPerRow(), 20.0f);
  expectThrowMessage<FeatureObjException>([&] { CFeatObjMap().readMetaVec(frames, "C"); },
                                          kPrefix + "feature C not found in stream");
  expectThrowMessage<FeatureObjException>([&] { CFeatObjMap().readMetaVec(framesWith({{"TIT2", {}}}), nullptr); },
                                          kPrefix + "feature map is empty");
  // A frame too short to name its feature; one with an element tag that no
  // object has, which leaves what was stored before it.
  expectThrowMessage<FeatureObjException>(
      [&] { CFeatObjMap().readMetaVec(framesWith({{"FeatObj", {0, 3, 0, 0, 9, 'D'}}}), nullptr); },
      kPrefix + "format error in input stream");
  const std::vector<unsigned char> dbl = {0, 3, 0, 0, 1, 'D', 3, 'd', 'b', 'l'};
  CMetaVec mixed;
  source.writeMetaVec(mixed);
  mixed.add(7, "FeatObj", static_cast<unsigned>(dbl.size()), dbl.data());
  CFeatObjMap partial;
  expectThrowMessage<FeatureObjException>([&] { partial.readMetaVec(mixed, nullptr); },
                                          kPrefix + "unsupported feature object type");
  EXPECT_EQ(namesOf(partial), (std::vector<std::string>{"A", "B"}));
  // A damaged frame of another feature (cut behind its name) is passed over
  // when one feature is asked for.
  CMetaVec damaged = framesWith({{"FeatObj", {0, 3, 0, 0, 1, 'X'}}});
  source.writeMetaVec(damaged);
  CFeatObjMap wanted;
  wanted.readMetaVec(damaged, "B");
  EXPECT_EQ(namesOf(wanted), std::vector<std::string>{"B"});
}

TEST(SignDataMulti, TimeTuidAndMetaFrames) {
  CSignDataMulti data;
  data.setMetaVec(framesWith({{"TIME", {0, 0, 1, 2}}, {"FeatObj", {1}}, {"TIME", {0, 0, 0, 9}}, {"TIT2", {'x'}}}));
  EXPECT_EQ(data.getTime(), 0x102u);
  // The first TIME frame became the time; the FeatObj frame never enters.
  ASSERT_EQ(data.getMetaVec().size(), 2u);
  EXPECT_EQ(std::string(data.getMetaVec().frame(0)->tag), "TIME");

  CMetaVec out = framesWith({{"TIME", {1, 1, 1, 1}}, {"TLEN", {'5'}}});
  data.writeTime(out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(std::string(out.frame(1)->tag), "TIME");
  EXPECT_EQ(std::vector<unsigned char>(out.frame(1)->data, out.frame(1)->data + 4),
            (std::vector<unsigned char>{0, 0, 1, 2}));

  EXPECT_EQ(data.getTuid(), 0u);
  data.setTuid(0x05060708, 0x01020304);
  data.setTuid(0x05060708, 0x01020304);
  const SMetaFrame* tuid = data.findMetaFrame("Tuid");
  ASSERT_NE(tuid, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(tuid->data, tuid->data + tuid->dataLen),
            (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(data.getTuid(), 0x0102030405060708ull);
  EXPECT_EQ(data.addMetaFrame(SMetaFrame(4, 1, "TALB", reinterpret_cast<const unsigned char*>("y"))), 4u);
  EXPECT_EQ(frameText(data.findMetaFrame("TALB")), "y");
}

TEST(SignDataMulti, ExcerptCopiesActiveFeatureAndAssignment) {
  CSignDataMulti source;
  source.setMetaVec(framesWith({{"TIME", {0, 0, 0, 10}}, {"TIT2", {'t'}}}));
  source.insert(feature<float>("A", 10, 300, 1, rowValue));
  source.insert(feature<unsigned char>("U", 10, 300, 1, [](unsigned r, unsigned) { return r % 200; }));

  // The skip moves the time on by whole seconds, rounded: 1499 ms -> 1 s, 1500 ms -> 2 s.
  const CSignDataMulti early(source, 1499, 0, nullptr);
  const CSignDataMulti late(source, 1500, 1000, nullptr);
  EXPECT_EQ(early.getTime(), 11u);
  EXPECT_EQ(late.getTime(), 12u);
  EXPECT_EQ(matrixOf<float>(early, "A")(0, 0), 1500.0f);  // row (1499 + 5) / 10 = 150
  EXPECT_EQ(matrixOf<float>(late, "A").rows, 100u);
  EXPECT_EQ(frameText(late.findMetaFrame("TIT2")), "t");
  EXPECT_EQ(early.getFeature(), nullptr);  // no name, no active feature

  const CSignDataMulti onlyA(source, 0, 0, "A");
  ASSERT_NE(onlyA.getFeature(), nullptr);
  EXPECT_EQ(onlyA.getFeature()->getName(), "A");
  EXPECT_EQ(CSignDataMulti(source, 0, 0, "U").getFeature(), nullptr);  // not a float feature
  EXPECT_EQ(source.getFeature("U"), nullptr);

  // Assignment copies only the active feature when there is one.
  CSignDataMulti target;
  target.insert(feature<float>("Z", 10, 1, 1, rowValue));
  target = onlyA;
  EXPECT_EQ(namesOf(target), std::vector<std::string>{"A"});
  ASSERT_NE(target.getFeature(), nullptr);
  EXPECT_NE(target.getFeature(), onlyA.getFeature());
  target = source;
  EXPECT_EQ(namesOf(target), (std::vector<std::string>{"A", "U"}));
  EXPECT_EQ(target.getFeature(), nullptr);
  EXPECT_EQ(target.getTime(), 10u);

  // Replacing the active feature's object never leaves a dangling feature.
  CSignDataMulti active(source, 0, 0, "A");
  active.insert(feature<unsigned char>("A", 10, 1, 1, rowValue));
  EXPECT_EQ(active.getFeature(), nullptr);
}

TEST(SignDataMulti, WriteStreamOrderAndNoFeatures) {
  CSignDataMulti data;
  CFingerprintStream out;
  expectThrowMessage<FeatureObjException>([&] { data.writeStream(out, nullptr); },
                                          kPrefix + "no feature object to stream");
  data.setMetaVec(framesWith({{"TIME", {0, 0, 0, 3}}, {"TIT2", {'t'}}}));
  data.insert(feature<float>("b", 10, 1, 1, rowValue));
  data.insert(feature<float>("a", 10, 1, 1, rowValue));
  out.add(4, "TPE1", 0, nullptr);  // emptied first
  data.writeStream(out, nullptr);
  std::vector<std::string> tags;
  for (unsigned i = 0; i < out.size(); ++i) tags.push_back(out.frame(static_cast<int>(i))->tag);
  EXPECT_EQ(tags, (std::vector<std::string>{"TIT2", "TIME", "FeatObj", "FeatObj"}));
  EXPECT_EQ(out.frame(2)->data[5], 'a');
}

// Output row i of a grouped feature, computed plainly from the rule.
std::vector<double> expectedUnwrapRow(const HeapMatrix<float>& src, int group, int overlap, int i, bool interpolate) {
  const int hop = group - overlap;
  const int steps = static_cast<int>(std::ceil(double(group) / hop)) - 1;
  const int s = i / hop;
  const int f = i - hop * s + 1;
  const int last = static_cast<int>(src.rows) - 1;
  std::vector<double> row(src.cols);
  for (unsigned c = 0; c < src.cols; ++c) {
    if (!interpolate || i < hop || s > last) {
      row[c] = src(static_cast<unsigned>(std::min(s, last)), c);
      continue;
    }
    double sum = f * double(src(s, c));
    double weights = f;
    for (int j = 1; j <= steps; ++j) {
      if (s - j < 0) continue;
      const double w = std::max(0, hop * (s - j) + group - i);
      sum += w * src(s - j, c);
      weights += w;
    }
    row[c] = sum / weights;
  }
  return row;
}

TEST(SignDataMulti, UnwrapBringsGroupedFeaturesToTheBaseRate) {
  auto grouped = [](const char* name) {
    auto* object = feature<float>(name, 20, 49, 2, [](unsigned r, unsigned c) { return c ? r * r + 1.0 : r * 3.0; });
    object->setParameter("groupFrames", 4);
    object->setParameter("overlapFrames", std::string("2"));
    return object;
  };
  for (const bool interpolate : {false, true}) {
    CSignDataMulti data;
    data.insert(feature<float>("base", 10, 100, 1, rowValue));
    data.insert(grouped("grp"));
    data.insert(feature<unsigned char>("one", 30, 1, 3, rowValue));
    data.insert(feature<float>("SEGMENTATION", 0, 1, 3, rowValue));
    const HeapMatrix<float> source = matrixOf<float>(data, "grp");
    data.unwrap({"base", "grp", "one", "grp", "SEGMENTATION"}, interpolate);

    const HeapMatrix<float>& grp = matrixOf<float>(data, "grp");
    ASSERT_EQ(grp.rows, 100u);
    EXPECT_FLOAT_EQ(data.find("grp")->getMsPerRow(), 10.0f);
    for (int i = 0; i < 100; ++i) {
      const std::vector<double> expected = expectedUnwrapRow(source, 4, 2, i, interpolate);
      for (unsigned c = 0; c < 2; ++c) EXPECT_NEAR(grp(i, c), expected[c], 1e-4) << "row " << i;
    }
    // Row 5 comes from source row 2 (f = 2), mixed with row 1 (weight 1).
    const float row5 = interpolate ? (2 * source(2, 1) + source(1, 1)) / 3 : source(2, 1);
    EXPECT_FLOAT_EQ(grp(5, 1), row5);
    EXPECT_EQ(grp(99, 0), source(48, 0));

    const HeapMatrix<unsigned char>& one = matrixOf<unsigned char>(data, "one");
    ASSERT_EQ(one.rows, 100u);
    EXPECT_EQ(one(99, 2), 2);
    EXPECT_FLOAT_EQ(data.find("one")->getMsPerRow(), 10.0f);
    EXPECT_EQ(matrixOf<float>(data, "base").rows, 100u);
    EXPECT_EQ(matrixOf<float>(data, "SEGMENTATION").rows, 1u);
  }

  // Features at one rate stay as they are.
  CSignDataMulti uniform;
  uniform.insert(feature<float>("a", 10, 100, 1, rowValue));
  uniform.insert(feature<float>("b", 10, 1, 1, rowValue));
  uniform.unwrap({"a", "b"}, true);
  EXPECT_EQ(matrixOf<float>(uniform, "b").rows, 1u);

  expectThrowMessage<StandardException>(
      [&] { uniform.unwrap({"a", "missing"}, true); },
      "CSignDataMulti::unwrap(const std::vector<std::string>&) featre not found int container: missing");
  // A hop of 0 or less is refused before anything changes.
  CSignDataMulti bad;
  bad.insert(feature<float>("base", 10, 100, 1, rowValue));
  bad.insert(feature<float>("one", 30, 1, 1, rowValue));
  auto* overlapping = grouped("grp");
  overlapping->setParameter("overlapFrames", 4);
  bad.insert(overlapping);
  expectThrowMessage<StandardException>(
      [&] { bad.unwrap({"one", "base", "grp"}, false); },
      "CSignDataMulti::unwrap(const std::vector<std::string>&) overlapFrames must be below groupFrames in feature: grp");
  EXPECT_EQ(matrixOf<float>(bad, "one").rows, 1u);
}

TEST(SignDataMulti, UnwrapSetsOnlyTheFramePeriodOfAFlatnessObject) {
  // A flatness object whose stored period (60 ms) does not follow its
  // resolution (1, that is 30 ms): readable, but not writable again.
  CFeatureObject<float> stored("SFM", 2);
  stored.setParameter("lf", 250);
  stored.setParameter("uf", 4000);
  stored.setParameter("sr", 1);
  stored.setParameter("msPerRow", std::string("60"));
  stored.getMatrix().resize(1, 2);
  stored.getMatrix()(0, 0) = 0.5f;
  stored.getMatrix()(0, 1) = 0.05f;
  std::vector<unsigned char> bytes(stored.getStreamSize());
  stored.write(bytes.data(), static_cast<unsigned>(bytes.size()));
  auto* sfm = new CSignDataSFM();
  sfm->read(bytes.data(), static_cast<unsigned>(bytes.size()));
  const float first = sfm->getMatrix()(0, 0);

  CSignDataMulti data;
  data.insert(sfm);
  data.insert(feature<float>("base", 10, 4, 1, rowValue));
  data.unwrap({"base", "SFM"}, false);
  const auto* unwrapped = dynamic_cast<const CSignDataSFM*>(data.find("SFM"));
  ASSERT_NE(unwrapped, nullptr);
  EXPECT_EQ(unwrapped->getMsPerRow(), 10.0f);
  ASSERT_EQ(unwrapped->getMatrix().rows, 4u);
  EXPECT_EQ(unwrapped->getMatrix()(3, 0), first);
  EXPECT_EQ(unwrapped->getLowBand(), 0);
  EXPECT_EQ(unwrapped->getHighBand(), 15);
  EXPECT_EQ(unwrapped->getTemporalResolution(), 1);
}

TEST(SignDataMulti, SplitSegmentationKeepsTheRowsOfOneLabel) {
  CSignDataMulti data;
  data.insert(feature<float>("F", 1000, 10, 2, rowValue));
  data.insert(feature<unsigned int>("U", 500, 20, 1, rowValue));
  // start, end (seconds), label; the last three lie beyond the rows, end
  // before they start, or are a single instant.
  const std::vector<std::vector<float>> segments = {{0, 3, 1}, {3, 6, 2}, {6, 20, 1}, {12, 12, 1}, {8, 5, 1}, {4, 4, 1}};
  data.insert(feature<float>("SEGMENTATION", 0, 6, 3, [&](unsigned r, unsigned c) { return segments[r][c]; }));

  CSignDataMulti out;
  EXPECT_FALSE(data.splitSegmentation(out, 7.0f));
  EXPECT_EQ(matrixOf<float>(out, "F").rows, 10u);

  ASSERT_TRUE(data.splitSegmentation(out, 1.0f));
  // An end beyond the rows becomes the last row, which the range then excludes.
  std::vector<float> kept;
  const HeapMatrix<float>& f = matrixOf<float>(out, "F");
  for (unsigned r = 0; r < f.rows; ++r) kept.push_back(f(r, 0) / 10);
  EXPECT_EQ(kept, (std::vector<float>{0, 1, 2, 6, 7, 8, 4}));
  EXPECT_EQ(f(3, 1), 61.0f);
  const HeapMatrix<unsigned int>& u = matrixOf<unsigned int>(out, "U");
  ASSERT_EQ(u.rows, 6u + 7u + 1u);  // rows 0-5, 12-18 (end 40 -> 19), row 8
  EXPECT_EQ(u(6, 0), 120u);
  EXPECT_EQ(u(13, 0), 80u);
  EXPECT_EQ(matrixOf<float>(out, "SEGMENTATION").rows, 6u);
  EXPECT_EQ(matrixOf<float>(data, "F").rows, 10u);
  // The same rows of whatever is read beside a feature of that period and length.
  std::vector<CSignDataMulti::RowRange> ranges;
  ASSERT_TRUE(data.segmentRows(1.0f, 1000, 10, ranges));
  std::vector<unsigned> rows;
  for (const auto& range : ranges)
    for (unsigned i = 0; i < range.count; ++i) rows.push_back(range.first + i);
  EXPECT_EQ(rows, (std::vector<unsigned>{0, 1, 2, 6, 7, 8, 4}));
  EXPECT_FALSE(data.segmentRows(7.0f, 1000, 10, ranges) || data.segmentRows(1.0f, 0, 10, ranges));
  EXPECT_TRUE(ranges.empty());

  // Splitting a signature into itself.
  ASSERT_TRUE(data.splitSegmentation(data, 2.0f));
  EXPECT_EQ(matrixOf<float>(data, "F").rows, 3u);

  CSignDataMulti plain;
  plain.insert(feature<float>("F", 1000, 10, 2, rowValue));
  EXPECT_FALSE(plain.splitSegmentation(out, 1.0f));
}

TEST(AudioSignTagWriter, SetsOrReplacesTextTags) {
  CAudioSignTagWriter writer;
  const std::string notInitialized = "Error, AudioSignMulti not initialized!";
  expectThrowMessage<std::string>([&] { writer.setTag("TIT2", "x"); }, notInitialized);
  CAudioSignMulti signature;
  writer.setSignature(&signature);
  expectThrowMessage<std::string>([&] { writer.setTag("TIT2", "x"); }, notInitialized);

  signature.setSignData(new CSignDataMulti());
  signature.getSignData()->setMetaVec(framesWith({{"TIME", {0, 0, 0, 5}}}));
  writer.setTag("TIT2", "first");
  writer.setTag("TLEN", "1234");
  writer.setTag("TIT2", "second title");
  const CSignDataMulti& data = *signature.getSignData();
  EXPECT_EQ(data.getMetaVec().size(), 2u);
  EXPECT_EQ(frameText(data.findMetaFrame("TIT2")), "second title");
  EXPECT_EQ(data.getTime(), 5u);
}

}  // namespace
