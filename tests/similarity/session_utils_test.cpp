#include "similarity/session_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
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

// Each case runs on the matrix form and, row by row, on the vector form: the
// same values come out, or the same failure leaves the same values behind.
TEST(SessionUtils, TransformsOfVectorsAndMatrices) {
  const std::string rowCount = "SessionUtils::applyLinearizationLookup() lookup table has invalid number of rows";
  const struct {
    bool linearize;
    HeapMatrix<float> table;
    HeapMatrix<float> in;
    Values out;
    std::string failure;
  } cases[] = {
      {true, matrixOf(2, 2, {1, 5, 10, 50}), matrixOf(1, 2, {0.5f, 5}), {10, 50}, ""},
      // Thresholds (0, 1) and (10, 2); past the last one, and NaN, take the last level.
      {true, matrixOf(4, 2, {0, 1, 10, 2, -1, -2, -10, -20}), matrixOf(2, 2, {0, 1.5f, 11, std::nanf("")}),
       {-1, -20, -10, -20}, ""},
      {true, matrixOf(3, 2, {}), matrixOf(1, 2, {1, 2}), {1, 2}, rowCount},
      {true, HeapMatrix<float>(0, 2, 0.0f), matrixOf(1, 2, {1, 2}), {1, 2}, rowCount},
      {true, matrixOf(2, 1, {}), matrixOf(1, 2, {1, 2}), {1, 2},
       "SessionUtils::applyLinearizationLookup() lookup table has too few columns"},
      {false, matrixOf(2, 2, {1, 1, 2, 4}), matrixOf(2, 2, {3, 5, 1, 9}), {1, 1, 0, 2}, ""},
      {false, matrixOf(2, 3, {1, 1, 1, 2, 0, 2}), matrixOf(1, 3, {3, 5, 7}), {1, 4, 6}, "vmtl: attempt to divide by zero"},
      {false, matrixOf(2, 2, {}), matrixOf(1, 3, {3, 5, 7}), {3, 5, 7}, "vmtl: unequal vector size"},
      {false, matrixOf(1, 3, {}), matrixOf(1, 3, {3, 5, 7}), {3, 5, 7},
       "SessionUtils::applyNormalization() normalization table has invalid number of rows"},
  };
  for (const auto& c : cases) {
    for (const bool byRow : {false, true}) {
      HeapMatrix<float> m = c.in;
      std::string failure;
      try {
        if (!byRow) c.linearize ? applyLinearizationLookup(m, c.table) : applyNormalization(m, c.table);
        for (unsigned r = 0; byRow && r < m.rows; ++r) {
          BaseVector<float> row = m.getRow(r);
          c.linearize ? applyLinearizationLookup(row, c.table) : applyNormalization(row, c.table);
        }
      } catch (const StandardException& e) {
        failure = e.what();
      } catch (const VMTLException& e) {
        failure = std::string("vmtl: ") + e.what();
      }
      EXPECT_EQ(failure, c.failure);
      EXPECT_EQ(elements(m), c.out);
    }
  }
}

// Signature 2 has had the lookup already; a database saved after the passes
// and loaded again is not transformed twice.
TEST(SessionUtils, DatabasePassesTransformEachSignatureOnce) {
  ByteBuilder b;
  tableMap(b.u8(0).text("LLT"), 9, "ov", 4, 2, {0.5f, 0.5f, 1.0f, 1.0f, 1.0f, 2.0f, 3.0f, 4.0f});
  std::istringstream block(tableMap(b.text("NRM"), 9, "ov", 2, 2, {1.0f, 1.0f, 2.0f, 4.0f}).text("END").image());
  SessionGlobals globals;
  globals.read(block);
  auto db = std::make_unique<AdaptedFeatureDb>("Database");
  db->add(*adaptedSignature(1, {{"ov", {0.2f, 0.9f}}}));
  auto linearized = adaptedSignature(2, {{"ov", {0.7f, 0.1f}}});
  setTransformFlag(*linearized, kLinearizedFlag);
  db->add(linearized.release());
  const std::vector<Values> expected = {{0.0f, 0.75f}, {(0.7f - 1.0f) / 2.0f, (0.1f - 1.0f) / 4.0f}};
  for (int load = 0; load < 2; ++load) {
    applyLinearizationLookup(*db, globals);
    applyNormalization(*db, globals);
    std::vector<Values> rows;
    for (const auto& [id, sig] : *db) {
      EXPECT_EQ(transformFlags(*sig), kLinearizedFlag | kNormalizedFlag);
      rows.push_back(elements(sig->getSignData()->getFeature("ov")->getMatrix()));
    }
    EXPECT_EQ(rows, expected);
    std::stringstream image;
    db->saveImage(image);
    db = std::make_unique<AdaptedFeatureDb>(image);
  }

  // Nothing to do in an empty database; a signature without a table's feature fails.
  db = std::make_unique<AdaptedFeatureDb>("Database");
  applyLinearizationLookup(*db, globals);
  db->add(*adaptedSignature(3, {{"xy", {0.0f}}}));
  expectThrowMessage<StandardException>([&] { applyNormalization(*db, globals); },
                                        "AdaptedFeatureDbMatrix::submatrix() feature not found: ov");
}

}  // namespace
