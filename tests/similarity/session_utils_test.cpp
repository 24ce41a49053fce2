#include "similarity/session_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/session_globals.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"

namespace {

using namespace SessionUtils;
using Values = std::vector<float>;

HeapMatrix<float> matrixOf(unsigned rows, unsigned cols, Values values) {
  HeapMatrix<float> m(rows, cols, 0.0f);
  std::copy(values.begin(), values.end(), m.data);
  return m;
}

Values elements(const BaseMatrix<float>& m) { return Values(m.data, m.data + m.elementCount()); }

TEST(SessionUtils, LinearizationTakesTheFirstLevelAtOrAboveEachElement) {
  HeapMatrix<float> v = matrixOf(1, 2, {0.5f, 5.0f});
  BaseVector<float> row = v.getRow(0);
  applyLinearizationLookup(row, matrixOf(2, 2, {1.0f, 5.0f, 10.0f, 50.0f}));
  EXPECT_EQ(elements(v), (Values{10.0f, 50.0f}));

  // Thresholds (0, 1) and (10, 2); past the last one, and NaN, take the last level.
  HeapMatrix<float> m = matrixOf(2, 2, {0.0f, 1.5f, 11.0f, std::nanf("")});
  applyLinearizationLookup(m, matrixOf(4, 2, {0.0f, 1.0f, 10.0f, 2.0f, -1.0f, -2.0f, -10.0f, -20.0f}));
  const Values expected = {-1.0f, -20.0f, -10.0f, -20.0f};
  EXPECT_EQ(elements(m), expected);

  const std::string odd = "SessionUtils::applyLinearizationLookup() lookup table has invalid number of rows";
  const std::pair<HeapMatrix<float>, std::string> bad[] = {
      {matrixOf(3, 2, {}), odd},
      {HeapMatrix<float>(0, 2, 0.0f), odd},
      {matrixOf(2, 1, {}), "SessionUtils::applyLinearizationLookup() lookup table has too few columns"}};
  for (const auto& [table, message] : bad) {
    expectThrowMessage<StandardException>([&] { applyLinearizationLookup(m, table); }, message);
    expectThrowMessage<StandardException>([&] { applyLinearizationLookup(row, table); }, message);
  }
  EXPECT_EQ(elements(m), expected);
}

TEST(SessionUtils, NormalizationSubtractsRowZeroAndDividesByRowOne) {
  HeapMatrix<float> m = matrixOf(2, 2, {3.0f, 5.0f, 1.0f, 9.0f});
  applyNormalization(m, matrixOf(2, 2, {1.0f, 1.0f, 2.0f, 4.0f}));
  EXPECT_EQ(elements(m), (Values{1.0f, 1.0f, 0.0f, 2.0f}));

  HeapMatrix<float> v = matrixOf(1, 3, {3.0f, 5.0f, 7.0f});
  BaseVector<float> row = v.getRow(0);
  const HeapMatrix<float> zero = matrixOf(2, 3, {1, 1, 1, 2, 0, 2});
  expectThrowMessage<VMTLException>([&] { applyNormalization(row, zero); }, "attempt to divide by zero");
  EXPECT_EQ(elements(v), (Values{1.0f, 4.0f, 6.0f}));
  expectThrowMessage<VMTLException>([&] { applyNormalization(row, matrixOf(2, 2, {})); }, "unequal vector size");
  expectThrowMessage<StandardException>(
      [&] { applyNormalization(v, matrixOf(1, 3, {})); },
      "SessionUtils::applyNormalization() normalization table has invalid number of rows");
}

// Globals with a two-level lookup table and a normalisation table for "ov".
std::string globalsBlock() {
  ByteBuilder b;
  tableMap(b.u8(0).text("LLT"), 9, "ov", 4, 2, {0.5f, 0.5f, 1.0f, 1.0f, 1.0f, 2.0f, 3.0f, 4.0f});
  return tableMap(b.text("NRM"), 9, "ov", 2, 2, {1.0f, 1.0f, 2.0f, 4.0f}).text("END").image();
}

// Loads a session body as the session store does, then saves it again.
std::string loadAndSave(const std::string& body, std::vector<Values>* rows = nullptr) {
  std::istringstream in(body);
  SessionGlobals globals;
  globals.read(in);
  AdaptedFeatureDb db(in);
  applyLinearizationLookup(db, globals);
  applyNormalization(db, globals);
  for (const auto& [id, sig] : db) {
    EXPECT_EQ(transformFlags(*sig), kLinearizedFlag | kNormalizedFlag);
    if (rows) rows->push_back(elements(sig->getSignData()->getFeature("ov")->getMatrix()));
  }
  std::ostringstream out;
  globals.write(out);
  db.saveImage(out);
  return out.str();
}

TEST(SessionUtils, DatabasePassesTransformEachSignatureOnce) {
  AdaptedFeatureDb db("Database");
  db.add(*adaptedSignature(1, {{"ov", {0.2f, 0.9f}}}));
  auto linearized = adaptedSignature(2, {{"ov", {0.7f, 0.1f}}});
  setTransformFlag(*linearized, kLinearizedFlag);
  db.add(linearized.release());
  std::ostringstream body;
  body << globalsBlock();
  db.saveImage(body);

  std::vector<Values> rows;
  const std::string once = loadAndSave(body.str(), &rows);
  EXPECT_EQ(rows, (std::vector<Values>{{0.0f, 0.75f}, {(0.7f - 1.0f) / 2.0f, (0.1f - 1.0f) / 4.0f}}));
  EXPECT_EQ(loadAndSave(once), once);

  // Nothing to do in an empty database; a signature without a table's feature fails.
  SessionGlobals globals;
  std::istringstream in(globalsBlock());
  globals.read(in);
  AdaptedFeatureDb other("Database");
  applyLinearizationLookup(other, globals);
  other.add(*adaptedSignature(3, {{"xy", {0.0f}}}));
  expectThrowMessage<StandardException>([&] { applyNormalization(other, globals); },
                                        "AdaptedFeatureDbMatrix::submatrix() feature not found: ov");
}

}  // namespace
