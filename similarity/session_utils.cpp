#include "similarity/session_utils.h"

#include <set>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/session_globals.h"

namespace SessionUtils {

namespace {

const char kFlagTag[] = "F";

void checkLookupTable(const HeapMatrix<float>& table, unsigned cols) {
  if (table.rows == 0 || table.rows % 2 != 0)
    throw StandardException("SessionUtils::applyLinearizationLookup() lookup table has invalid number of rows");
  if (table.cols < cols)
    throw StandardException("SessionUtils::applyLinearizationLookup() lookup table has too few columns");
}

void checkNormalizationTable(const HeapMatrix<float>& table) {
  if (table.rows < 2)
    throw StandardException("SessionUtils::applyNormalization() normalization table has invalid number of rows");
}

// The table is checked. The last level takes every element that passes the
// thresholds before it, so no element is left without a value.
void lookUp(float* x, unsigned n, const HeapMatrix<float>& table) {
  const unsigned levels = table.rows / 2;
  for (unsigned c = 0; c < n; ++c) {
    unsigned k = 0;
    while (k + 1 < levels && !(x[c] <= table(k, c))) ++k;
    x[c] = table(levels + k, c);
  }
}

// Runs transform over row 0 of every table name's feature in the signatures
// that lack flag, then gives them the flag.
template <typename TableOf, typename Transform>
void transformDatabase(AdaptedFeatureDb& db, const std::set<std::string>& names, TableOf tableOf, uint8_t flag,
                       Transform transform) {
  std::vector<bool> pending;
  bool anyPending = false;
  for (const auto& [id, sig] : db) {
    pending.push_back((transformFlags(*sig) & flag) == 0);
    anyPending = anyPending || pending.back();
  }
  if (!anyPending) return;

  AdaptedFeatureDbMatrix matrix(db);
  HeapMatrix<float> features;
  for (const std::string& name : names) {
    matrix.submatrix(name, features);
    const HeapMatrix<float>& table = *tableOf(name);
    for (unsigned r = 0; r < features.rows; ++r) {
      if (!pending[r]) continue;
      BaseVector<float> row = features.getRow(r);
      transform(row, table);
    }
    matrix.assign(features, name);
  }
  unsigned r = 0;
  for (const auto& [id, sig] : db)
    if (pending[r++]) setTransformFlag(*sig, flag);
}

}  // namespace

void applyLinearizationLookup(BaseVector<float>& v, const HeapMatrix<float>& table) {
  checkLookupTable(table, v.size);
  lookUp(v.data, v.size, table);
}

void applyLinearizationLookup(HeapMatrix<float>& m, const HeapMatrix<float>& table) {
  checkLookupTable(table, m.cols);
  for (unsigned r = 0; r < m.rows; ++r) lookUp(m.getRow(r).data, m.cols, table);
}

void applyNormalization(BaseVector<float>& v, const HeapMatrix<float>& table) {
  checkNormalizationTable(table);
  subtractInPlace(v, table.getRow(0));
  v /= table.getRow(1);
}

void applyNormalization(HeapMatrix<float>& m, const HeapMatrix<float>& table) {
  checkNormalizationTable(table);
  for (unsigned r = 0; r < m.rows; ++r) {
    BaseVector<float> row = m.getRow(r);
    applyNormalization(row, table);
  }
}

void applyLinearizationLookup(AdaptedFeatureDb& db, const SessionGlobals& globals) {
  if (!globals.hasLLT()) return;
  transformDatabase(
      db, globals.linearizationNames(), [&](const std::string& name) { return globals.getLinearizationTable(name); },
      kLinearizedFlag,
      [](BaseVector<float>& row, const HeapMatrix<float>& table) { applyLinearizationLookup(row, table); });
}

void applyNormalization(AdaptedFeatureDb& db, const SessionGlobals& globals) {
  if (!globals.hasNRM()) return;
  transformDatabase(
      db, globals.normalizationNames(), [&](const std::string& name) { return globals.getNormalizationTable(name); },
      kNormalizedFlag, [](BaseVector<float>& row, const HeapMatrix<float>& table) { applyNormalization(row, table); });
}

uint8_t transformFlags(const CAudioSignMulti& sig) {
  const CSignDataMulti* data = sig.getSignData();
  const SMetaFrame* frame = data ? data->findMetaFrame(kFlagTag) : nullptr;
  return frame != nullptr && frame->dataLen > 0 ? frame->data[0] : 0;
}

void setTransformFlag(CAudioSignMulti& sig, uint8_t flag) {
  CSignDataMulti* data = sig.getSignData();
  if (data == nullptr) return;
  SMetaFrame* frame = data->findMetaFrame(kFlagTag);
  if (frame == nullptr) {
    data->addMetaFrame(SMetaFrame(1, 1, kFlagTag, &flag));
  } else if (frame->dataLen == 0) {
    // A frame without its byte gets one rather than a write past its data.
    frame->set(1, 1, kFlagTag, &flag);
  } else {
    frame->data[0] |= flag;
  }
}

}  // namespace SessionUtils
