#include "metadata/sources/featex/modules/feature_input_module.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "signature/audio_sign_multi.h"
#include "signature/fingerprint_stream.h"
#include "signature/meta_frame.h"
#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"
#include "tests/support/temp_files.h"

namespace {

using Rows = std::vector<std::vector<float>>;

// A file in the test's own folder, which goes with the test.
struct TempFile {
  explicit TempFile(const std::string& name) : path(testfiles::tempPath(name)) {}
  const std::string path;
};

// A "FeatObj" frame of the object as the feature-object module makes it.
template <typename T>
SMetaFrame frameOf(CFeatureObject<T>& object) {
  SMetaFrame frame;
  const unsigned size = object.getStreamSize();
  object.write(frame.set(7, size, "FeatObj", nullptr), size);
  return frame;
}

// A signature file holding one float feature with these rows and period.
void writeSignature(const std::string& path, const std::string& name, const Rows& rows, float msPerRow) {
  CFeatureObject<float> object(name, 7);
  for (const auto& row : rows)
    object.getMatrix().appendRow(BaseVector<float>(const_cast<float*>(row.data()), static_cast<unsigned>(row.size())));
  object.setParameter("msPerRow", msPerRow);
  CFingerprintStream stream;
  stream.add(frameOf(object));
  CFeatureObject<unsigned char> bytes("bytes", 8);
  std::vector<unsigned char> code = {1, 2};
  bytes.getMatrix().appendRow(BaseVector<unsigned char>(code.data(), 2));
  stream.add(frameOf(bytes));
  std::ofstream out(path, std::ios::binary);
  stream.write(out);
}

Settings inputGlobals(const std::string& path) {
  Settings globals = fextest::frontEndGlobals(44100);
  globals.setString("input", path);
  return globals;
}

// The feature-input module is a graph's first module and reads no audio: the
// graph is fed in the signal space "None".
std::unique_ptr<fextest::Graph> inputGraph(const std::string& path, const std::string& attributes,
                                           const std::string& children = "") {
  return std::make_unique<fextest::Graph>("<featex><module name=\"fex_feature_input_module\" instance=\"in\" " +
                                              attributes + ">" + children + "</module></featex>",
                                          inputGlobals(path), "None");
}

TEST(FeatureInputModule, SettingsAndPublishedFrameDuration) {
  TempFile file("settings");
  writeSignature(file.path, "F", {{1, 2, 3, 4}}, 23.2f);

  Settings local, global;
  local.setLong("numBands", 3);
  fextest::expectRefused("fex_feature_input_module", local, global, "numBands must be even");
  local.setLong("numBands", -2);
  fextest::expectRefused("fex_feature_input_module", local, global, "FeatureInputModule: 'input' undefined");
  global.setString("input", file.path);
  fextest::expectRefused("fex_feature_input_module", local, global, "FeatureInputModule: 'FeatureName' undefined");
  local.setString("FeatureName", "G");
  const std::string missing = "Error, FeatureObject does not contain the required feature!";
  fextest::expectRefused("fex_feature_input_module", local, global, missing);
  local.setString("FeatureName", "bytes");  // not a float feature
  fextest::expectRefused("fex_feature_input_module", local, global, missing);

  // Errors of the signature reader pass through.
  Settings missingFile = global;
  missingFile.setString("input", file.path + ".absent");
  try {
    fextest::ModuleInstance module("fex_feature_input_module", local, missingFile);
    ADD_FAILURE() << "expected AudioSignException";
  } catch (const AudioSignException& e) {
    EXPECT_STREQ(e.what(), "could not open audio signature istream");
  }

  local.setString("FeatureName", "F");
  global.setString("frameOverlap", "5");
  fextest::ModuleInstance module("fex_feature_input_module", local, global);
  EXPECT_EQ(global.getString("frameDuration"), "23");
  EXPECT_EQ(global.getString("frameOverlap"), "0");
  EXPECT_EQ(module.info()->getDescription() + "|" + module.info()->getDate() + "|" + module.info()->getVersion(),
            "read feature data|Aug 14 2007|1.0");
  EXPECT_EQ(module->getUsage(), "fex_feature_input: input");
  EXPECT_EQ(module->getInputSignalSpace() + module->getOutputSignalSpace(), "NoneNone");
  EXPECT_EQ(module->getOutputSize(0), 4u);
  // A negative even count is never smaller than a row: no folding.
  EXPECT_EQ(fextest::values(*module.run<BaseVector<float>>(BaseVector<float>())), (std::vector<float>{1, 2, 3, 4}));
}

TEST(FeatureInputModule, FoldsRowsToNumBands) {
  TempFile file("fold");
  const std::vector<float> x = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};
  writeSignature(file.path, "F", {x, x}, 10.0f);
  auto folded = [&](int numBands) {
    Settings local, global;
    local.setString("FeatureName", "F");
    local.setLong("numBands", numBands);
    global.setString("input", file.path);
    fextest::ModuleInstance module("fex_feature_input_module", local, global);
    EXPECT_EQ(module->getOutputSize(0), 10u);
    return fextest::values(*module.run<BaseVector<float>>(BaseVector<float>()));
  };
  // d = 2, h = 1: x8 takes part in no value.
  EXPECT_EQ(folded(8), (std::vector<float>{x[0] + x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[9]}));
  // d = 4, h = 2: x2 is summed and shifted both.
  EXPECT_EQ(folded(6), (std::vector<float>{x[0] + x[1] + x[2], x[2], x[3], x[4], x[5], x[7] + x[8] + x[9]}));
  EXPECT_EQ(folded(2), (std::vector<float>{x[0] + x[1] + x[2] + x[3] + x[4], x[3] + x[4] + x[5] + x[6] + x[7] + x[8] + x[9]}));
  EXPECT_EQ(folded(10), x);
  EXPECT_EQ(folded(12), x);
  EXPECT_EQ(folded(0), x);
}

// Every row reaches the children: the end is signalled by the call after the
// last row, which hands on nothing.
TEST(FeatureInputModule, DeliversEveryRowThenSignalsTheEnd) {
  TempFile file("five");
  const Rows rows = {{0, 1}, {10, 11}, {20, 21}, {30, 31}, {40, 41}};
  writeSignature(file.path, "F", rows, 20.0f);

  auto leaf = inputGraph(file.path, "FeatureName=\"F\"");
  EXPECT_EQ(leaf->extractor.getFrameDuration(), 20);
  bool counted = false;
  for (const auto& row : rows) {
    EXPECT_EQ(leaf->push({}, &counted), row);
    EXPECT_TRUE(counted);
  }
  for (int after = 0; after < 2; ++after) {
    EXPECT_TRUE(leaf->push({}, &counted).empty());
    EXPECT_FALSE(counted);
  }

  // A child collects all five rows, the last one included.
  auto tree = inputGraph(file.path, "FeatureName=\"F\"",
                         "<module name=\"fex_feature_object\" instance=\"fo\" featname=\"copy\" featver=\"1\"/>");
  for (int frame = 0; frame < 6; ++frame) tree->push({});
  std::vector<SMetaFrame> frames;
  ASSERT_EQ(tree->extractor.collectMetaFrames(frames, 1), 1u);
  CFeatureObject<float> copy;
  copy.read(frames[0].data, frames[0].dataLen);
  const HeapMatrix<float>& m = copy.getMatrix();
  ASSERT_EQ(m.rows, 5u);
  for (unsigned r = 0; r < 5; ++r) EXPECT_EQ(fextest::values(m.getRow(r)), rows[r]);
  EXPECT_EQ(copy.getMsPerRow(), 20.0f);  // the published frame duration
}

// One graph writes a feature into a signature file; a second graph starting
// at the feature-input module reads it back row by row.
TEST(FeatureInputModule, RoundTripThroughASignatureFile) {
  TempFile file("roundtrip");
  fextest::Graph writer(
      "<featex><param frameDuration=\"10\"/>"
      "<module name=\"fex_feature_object\" instance=\"fo\" featname=\"noise\" featver=\"42\"/></featex>");
  const auto frames = testsignals::frames(testsignals::noise(12 * 50, 5), 12);
  for (const auto& f : frames) writer.push(f);
  std::vector<SMetaFrame> metaFrames;
  ASSERT_EQ(writer.extractor.collectMetaFrames(metaFrames, 1), 1u);
  CFingerprintStream stream;
  for (const auto& frame : metaFrames) stream.add(frame);
  CAudioSignMulti signature(new CSignDataMulti(stream));
  {
    std::ofstream out(file.path, std::ios::binary);
    EXPECT_EQ(signature.write(out), 0);
  }

  auto reader = inputGraph(file.path, "FeatureName=\"noise\"");
  EXPECT_EQ(reader->extractor.getFrameDuration(), 10);
  for (const auto& f : frames) EXPECT_EQ(reader->push({}), f);
  bool counted = true;
  EXPECT_TRUE(reader->push({}, &counted).empty());
  EXPECT_FALSE(counted);
}

// The last of the built-in types are bound: a registry offers all 24.
TEST(FeatureInputModule, RegistryOffersEveryBuiltInType) {
  CFexModuleRegistry registry;
  for (const char* type : kFexBuiltinModuleTypes) EXPECT_NE(registry.find(type), nullptr) << type;
}

}  // namespace
