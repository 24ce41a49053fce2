#include "metadata/sources/featex/modules/fex_feature_object_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "signature/meta_frame.h"
#include "signature/quant_module.h"
#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"

namespace {

using Rows = std::vector<std::vector<float>>;

struct Division {
  unsigned width;
  float min, max;
  bool operator==(const Division& o) const { return width == o.width && min == o.min && max == o.max; }
};

// A module fed with rows; what it delivers, read back as a feature object.
struct Sink {
  Sink(Settings l, Settings g = Settings()) : local(std::move(l)), global(std::move(g)) {
    module = std::make_unique<fextest::ModuleInstance>("fex_feature_object", local, global);
  }
  void feed(const Rows& rows) {
    for (const auto& row : rows)
      EXPECT_EQ(module->run<void>(BaseVector<float>(const_cast<float*>(row.data()), unsigned(row.size()))), nullptr);
  }
  CFeatureObject<float>& deliver(int final = 1) {
    frame = SMetaFrame();
    static_cast<CFexMetaSinkModule&>(**module).getMetaFrame(frame, final);
    EXPECT_EQ(std::string(frame.tag, frame.tagLen), "FeatObj");
    EXPECT_EQ(object.read(frame.data, frame.dataLen), frame.dataLen);
    return object;
  }
  Rows rows() const {
    Rows result;
    for (unsigned r = 0; r < object.getMatrix().rows; ++r) result.push_back(fextest::values(object.getMatrix().getRow(r)));
    return result;
  }
  // The quantisers stored with the feature.
  std::vector<Division> divisions() const {
    const auto& blob = object.getQuantBlob();
    std::vector<Division> result;
    auto block = readQuantBlock(blob.data(), unsigned(blob.size()), object.getMatrix().cols);
    for (unsigned i = 0; i < block->quantizerCount(); ++i)
      result.push_back({block->getWidth(i), block->getQuantizer(i).getMin(), block->getQuantizer(i).getMax()});
    return result;
  }
  bool streamHolds(const std::string& text) const {
    return std::search(frame.data, frame.data + frame.dataLen, text.begin(), text.end()) != frame.data + frame.dataLen;
  }

  Settings local, global;
  std::unique_ptr<fextest::ModuleInstance> module;
  SMetaFrame frame;
  CFeatureObject<float> object;
};

Settings feature(const std::vector<std::pair<std::string, std::string>>& more = {}) {
  Settings local;
  local.setString("featname", "F");
  local.setLong("featver", 7);
  for (const auto& [key, value] : more) local.setString(key, value);
  return local;
}

TEST(FexFeatureObjectModule, DescriptionAndRefusedSettings) {
  Sink sink(feature());
  auto& module = *sink.module;
  EXPECT_EQ(module.info()->getDescription(), "... create feature object");
  EXPECT_EQ(module.info()->getDate(), "Aug 14 2007");
  EXPECT_EQ(module.info()->getVersion(), "1.0");
  EXPECT_EQ(module->getUsage(), "fex_feature_object + name=... + version=...");
  EXPECT_EQ(module->getInputSignalSpace() + module->getOutputSignalSpace(), "");
  EXPECT_FALSE(static_cast<CFexMetaSinkModule&>(*module).hasMetaFrame(1));
  EXPECT_EQ(module->getModuleKind(), FMK_metaSink);
  EXPECT_EQ(module->getInputType(), FTI_bvFlt);
  EXPECT_EQ(module->getOutputType(), FTI_none);

  Settings local, global;
  fextest::expectRefused("fex_feature_object", local, global, "unspecified param: featname");
  local.setString("featname", "F");
  local.setLong("featver", -2);
  fextest::expectRefused("fex_feature_object", local, global, "unspecified param: featver");
  const std::string rising = "rising1 and rising2 are parameters only for polynomial quantizer";
  fextest::expectRefused("fex_feature_object", local = feature({{"quantLine", "polynomial"}}), global, rising);
  fextest::expectRefused("fex_feature_object", local = feature({{"quantLine", "polynomial"}, {"rising1", "2"}}), global,
                         rising);
  const std::string border = "invalid range border in featureObject";
  fextest::expectRefused("fex_feature_object", local = feature({{"sc", "4"}, {"ec", "4"}}), global, border);
  fextest::expectRefused("fex_feature_object", local = feature({{"sc", "4"}, {"ec", "3"}}), global, border);

  Sink range(feature({{"sc", "2"}, {"ec", "6"}}));
  fextest::expectSimpleException([&] { (*range.module)->getOutputSize(6); },
                                 "invalid range border \"ec\" in featureObject");
  EXPECT_EQ((*range.module)->getOutputSize(7), 0u);
}

TEST(FexFeatureObjectModule, CollectsWholeRowsOrAColumnRange) {
  const Rows input = {{0, 1, 2, 3, 4, 5}, {10, 11, 12, 13, 14, 15}, {}, {20, 21, 22, 23, 24, 25}};
  Sink whole(feature({{"sc", "2"}}));  // without "ec" there is no range
  whole.feed(input);
  whole.deliver();
  EXPECT_EQ(whole.rows(), (Rows{input[0], input[1], input[3]}));  // an empty vector adds nothing

  Sink range(feature({{"sc", "2"}, {"ec", "4"}, {"name", "fex_feature_object"}, {"instance", "fo"}, {"groupFrames", "2"}}));
  range.feed(input);
  CFeatureObject<float>& object = range.deliver();
  EXPECT_EQ(range.rows(), (Rows{{2, 3, 4}, {12, 13, 14}, {22, 23, 24}}));
  EXPECT_EQ(object.getName(), "F");
  EXPECT_EQ(object.getFeatureType(), 7);
  // The node's settings travel with the feature, but for name, type and node.
  std::string text;
  EXPECT_TRUE(object.getParameter(text, "groupFrames", false) && text == "2");
  EXPECT_TRUE(object.getParameter(text, "ec", false) && text == "4");
  for (const char* key : {"featname", "featver", "name", "instance"}) EXPECT_FALSE(object.getParameter(text, key, false));

  // Many rows through a graph (the collection grows past its reserve).
  fextest::Graph graph("<featex><module name=\"fex_feature_object\" featname=\"n\" featver=\"9\"/></featex>");
  const auto frames = testsignals::frames(testsignals::noise(16 * 300, 3), 16);
  for (const auto& f : frames) EXPECT_TRUE(graph.push(f).empty());
  std::vector<SMetaFrame> metaFrames;
  ASSERT_EQ(graph.extractor.collectMetaFrames(metaFrames, 1), 1u);
  EXPECT_EQ(object.read(metaFrames[0].data, metaFrames[0].dataLen), metaFrames[0].dataLen);
  EXPECT_EQ(object.getMatrix().rows, 300u);
  EXPECT_EQ(fextest::values(object.getMatrix().getRow(299)), frames[299]);
}

TEST(FexFeatureObjectModule, AufMovesFromTheGlobalsIntoTheFeature) {
  Settings global;
  global.setString("auf", "1234.5");
  Sink sink(feature(), global);
  EXPECT_FALSE(sink.global.contains("auf"));
  sink.feed({{1}});
  std::string text;
  EXPECT_TRUE(sink.deliver().getParameter(text, "auf", false) && text == "1234.5");

  global.setString("auf", "0");  // none: it stays for later modules and is not written
  Sink none(feature(), global);
  EXPECT_TRUE(none.global.contains("auf"));
  none.feed({{1}});
  none.deliver();
  EXPECT_FALSE(none.streamHolds("auf"));
}

TEST(FexFeatureObjectModule, DivisionsWithAutomaticOrGivenRange) {
  const Rows input = {{5, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {-1, 0, 9, 3, 8, 5, 7, 7, 2, 20}, {2, 3, 4, 5, 6, 7, 8, 9, 0, 1}};
  auto divisions = [&](const std::string& firstBandEx, bool given) {
    Settings local = feature({{"quantLine", "uniform"}, {"nrOfDivisions", "3"}, {"firstBandEx", firstBandEx}});
    if (given) local.setString("quantMin", "-1"), local.setString("quantMax", "20");
    Sink sink(local);
    sink.feed(input);
    sink.deliver();
    return sink.divisions();
  };
  // Each division's range comes from its own columns, over all rows.
  auto automatic = [&](std::vector<std::pair<unsigned, unsigned>> ranges) {
    std::vector<Division> result;
    for (auto [start, end] : ranges) {
      Division d{end - start, input[0][start], input[0][start]};
      for (const auto& row : input)
        for (unsigned c = start; c < end; ++c) d.min = std::min(d.min, row[c]), d.max = std::max(d.max, row[c]);
      result.push_back(d);
    }
    return result;
  };
  EXPECT_EQ(divisions("false", false), automatic({{0, 3}, {3, 6}, {6, 10}}));
  EXPECT_EQ(divisions("true", false), automatic({{0, 1}, {1, 6}, {6, 10}}));
  // A given range serves every division, each over its own columns, so the
  // widths add up to the row.
  EXPECT_EQ(divisions("false", true), (std::vector<Division>{{3, -1, 20}, {3, -1, 20}, {4, -1, 20}}));
  EXPECT_EQ(divisions("true", true), (std::vector<Division>{{1, -1, 20}, {5, -1, 20}, {4, -1, 20}}));
  Sink coded(feature({{"quantLine", "uniform"}, {"nrOfDivisions", "3"}, {"quantMin", "0"}, {"quantMax", "10"}}));
  coded.feed({{0.1f, 1.1f, 2.1f, 3.1f, 4.1f, 5.1f, 6.1f, 7.1f, 8.1f, 9.1f}});
  coded.deliver();
  for (unsigned c = 0; c < 10; ++c)  // every value back from its own code: the middle of its step
    EXPECT_NEAR(coded.rows()[0][c], (std::floor((c + 0.1) / (10.0 / 256)) + 0.5) * (10.0 / 256), 1e-5) << c;
}

TEST(FexFeatureObjectModule, QuantiserCharacteristics) {
  auto stored = [](Settings local, const Rows& rows) {
    Sink sink(local);
    sink.feed(rows);
    sink.deliver();
    return sink.object.getQuantBlob().empty() ? std::vector<Division>{{0, 0, 0}} : sink.divisions();
  };
  EXPECT_EQ(stored(feature(), {{1, 2}}), (std::vector<Division>{{0, 0, 0}}));  // no block without "quantLine"
  // Equal ends, given or found, are widened by 0.00001.
  EXPECT_EQ(stored(feature({{"quantLine", "uniform"}, {"quantMin", "5"}, {"quantMax", "5"}}), {{5, 5}}),
            (std::vector<Division>{{2, 5, 5 + 0.00001f}}));
  EXPECT_EQ(stored(feature({{"quantLine", "log"}}), {{-2, -2}, {-2, -2}}), (std::vector<Division>{{2, -2, -2 + 0.00001f}}));
  // Where 0.00001 is lost in the float's rounding, a constant feature of large
  // values is widened by that fraction of its magnitude instead, and its
  // values come back unchanged.
  for (const auto& [value, widened] : {std::pair<float, float>{1000, 1000.01f}, {-1e8f, -99999000.0f}}) {
    Sink sink(feature({{"quantLine", "uniform"}}));
    sink.feed({{value, value}, {value, value}});
    sink.deliver();
    EXPECT_EQ(sink.divisions(), (std::vector<Division>{{2, value, widened}}));
    EXPECT_EQ(sink.rows(), (Rows{{value, value}, {value, value}}));
  }
  EXPECT_EQ(stored(feature({{"quantLine", "sin"}, {"quantMin", "1000"}, {"quantMax", "1000"}}), {{1, 2}}),
            (std::vector<Division>{{2, 1000, 1000.01f}}));
  // At the top of the float range the widening goes downwards.
  const auto top = stored(feature({{"quantLine", "uniform"}}), {{FLT_MAX}});
  ASSERT_EQ(top.size(), 1u);
  EXPECT_TRUE(top[0].max == FLT_MAX && top[0].min < FLT_MAX && top[0].min > 0.9999f * FLT_MAX);
  // Other spellings create no quantiser; neither do zero divisions.
  EXPECT_TRUE(stored(feature({{"quantLine", "Uniform"}}), {{1, 2}}).empty());
  EXPECT_TRUE(stored(feature({{"quantLine", "uniform"}, {"nrOfDivisions", "0"}}), {{1, 2}}).empty());

  const std::vector<std::pair<std::string, int>> kinds = {{"uniform", 1}, {"log", 2}, {"sin", 3}, {"polynomial", 4}};
  for (const auto& [name, code] : kinds) {
    Sink sink(feature({{"quantLine", name}, {"rising1", "2"}, {"rising2", "0"}}));
    sink.feed({{1, 2, 3, 4}, {5, 6, 7, 8}});
    sink.deliver();
    const auto& blob = sink.object.getQuantBlob();
    auto block = readQuantBlock(blob.data(), unsigned(blob.size()), 4);
    ASSERT_EQ(block->quantizerCount(), 1u);
    EXPECT_EQ(quantizerTypeCode(*block, 0), code);
    const CQuant& q = block->getQuantizer(0);
    EXPECT_TRUE(q.getSteps() == 256 && !q.getFlag() && q.getMin() == 1 && q.getMax() == 8) << name;
    EXPECT_TRUE(code != 4 || (q.getRising1() == 2 && q.getRising2() == 0));
  }

  const std::string tooMany = "not more number of divisions than number of bands are allowed";
  fextest::expectSimpleException([&] { stored(feature({{"nrOfDivisions", "3"}}), {{1, 2}}); }, tooMany);
  fextest::expectSimpleException([&] { stored(feature(), {}); }, tooMany);  // nothing collected
}

TEST(FexFeatureObjectModule, FramePeriod) {
  auto period = [](const std::string& globals, const std::string& locals) {
    fextest::Graph graph("<featex>" + globals + "<module name=\"fex_feature_object\" featname=\"F\" featver=\"1\" " +
                         locals + "/></featex>");
    graph.push({1, 2});
    std::vector<SMetaFrame> frames;
    graph.extractor.collectMetaFrames(frames, 1);
    const std::string key = "msPerRow";
    if (std::search(frames[0].data, frames[0].data + frames[0].dataLen, key.begin(), key.end()) ==
        frames[0].data + frames[0].dataLen)
      return -1.0f;
    CFeatureObject<float> object;
    object.read(frames[0].data, frames[0].dataLen);
    return object.getMsPerRow();
  };
  const std::string tenMs = "<param frameDuration=\"10\" frameOverlap=\"0\"/>";
  EXPECT_EQ(period(tenMs, "groupFrames=\"4\" overlapFrames=\"2\""), 20.0f);
  EXPECT_EQ(period(tenMs, "groupFrames=\"4\" overlapFrames=\"2\" msPerRow=\"25\""), 25.0f);
  EXPECT_EQ(period(tenMs, "groupFrames=\"0\""), 10.0f);  // 0 frames per row count as 1
  EXPECT_EQ(period("<param frameDuration=\"23.9\" frameOverlap=\"3.9\"/>", ""), 20.0f);  // both truncated
  EXPECT_EQ(period("", ""), 30.0f);  // no frame duration: 30 ms
  EXPECT_EQ(period("<param frameDuration=\"0\"/>", "groupFrames=\"4\""), -1.0f);  // no parameter at all
}

TEST(FexFeatureObjectModule, FinalDeliveryStartsANewCollection) {
  Sink sink(feature());
  sink.feed({{1, 2}});
  sink.deliver(0);
  sink.deliver(0);
  EXPECT_EQ(sink.rows(), (Rows{{1, 2}}));
  sink.feed({{3, 4}});
  sink.deliver(1);
  EXPECT_EQ(sink.rows(), (Rows{{1, 2}, {3, 4}}));
  sink.feed({{5, 6, 7}});  // a new column count
  sink.deliver(1);
  EXPECT_EQ(sink.rows(), (Rows{{5, 6, 7}}));
  fextest::expectSimpleException([&] { sink.deliver(1); }, "not more number of divisions than number of bands are allowed");

  // A long collection grows through many steps; the final delivery hands
  // over the same rows that a delivery before it copied.
  Rows many;
  for (unsigned r = 0; r < 5000; ++r) many.push_back({static_cast<float>(r), -static_cast<float>(r)});
  Sink longer(feature());
  longer.feed(many);
  longer.deliver(0);
  EXPECT_EQ(longer.rows(), many);
  const std::vector<unsigned char> copied(longer.frame.data, longer.frame.data + longer.frame.dataLen);
  longer.deliver(1);
  EXPECT_EQ(std::vector<unsigned char>(longer.frame.data, longer.frame.data + longer.frame.dataLen), copied);
  longer.feed({{1, 2}});
  longer.deliver(1);
  EXPECT_EQ(longer.rows(), (Rows{{1, 2}}));
}

}  // namespace
