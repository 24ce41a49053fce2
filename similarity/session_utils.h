#pragma once
// The two per-feature value transforms a session can carry in its globals: a
// linearisation by lookup table ("LLT") and a normalisation by offset and
// scale ("NRM"), for one vector, a matrix, or every stored signature of a
// feature database.
//
// A linearisation table has 2L rows and a column per vector element: rows 0 to
// L-1 are thresholds, row L + k the value that replaces an element at or below
// threshold k (the first such level counts). A normalisation table's row 0 is
// subtracted and its row 1 divided by, element by element.
//
// Each stored signature records the transforms its features have received in
// its "F" meta frame: one data byte, bit value 1 for the linearisation, 2 for
// the normalisation.

#include <cstdint>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class AdaptedFeatureDb;
class CAudioSignMulti;
class SessionGlobals;

namespace SessionUtils {

constexpr uint8_t kLinearizedFlag = 1;
constexpr uint8_t kNormalizedFlag = 2;

// Element i uses table column i. A table with an odd number of rows, or none,
// fails with "SessionUtils::applyLinearizationLookup() lookup table has
// invalid number of rows"; one with fewer columns than the vector with
// "SessionUtils::applyLinearizationLookup() lookup table has too few columns".
// An element above every threshold of its column (or NaN) takes the value of
// the last level. Nothing changes when the call fails.
void applyLinearizationLookup(BaseVector<float>& v, const HeapMatrix<float>& table);
void applyLinearizationLookup(HeapMatrix<float>& m, const HeapMatrix<float>& table);

// v := (v - row 0) / row 1. A table with fewer than 2 rows fails with
// "SessionUtils::applyNormalization() normalization table has invalid number
// of rows"; a length difference with "unequal vector size", a zero divisor
// with "attempt to divide by zero" (the elements before it already divided).
// The matrix form normalises every row.
void applyNormalization(BaseVector<float>& v, const HeapMatrix<float>& table);
void applyNormalization(HeapMatrix<float>& m, const HeapMatrix<float>& table);

// The whole-database passes with the globals' tables, for every table name:
// only the signatures whose "F" frame lacks the transform's bit are
// transformed, and then carry the bit, so a database that is loaded, saved
// and loaded again is not transformed twice. Nothing happens without the
// globals' table block. A table name that the stored signatures do not carry
// fails with "AdaptedFeatureDbMatrix::submatrix() feature not found: " + name
// when a signature needs the transform; features already written back stay.
void applyLinearizationLookup(AdaptedFeatureDb& db, const SessionGlobals& globals);
void applyNormalization(AdaptedFeatureDb& db, const SessionGlobals& globals);

// The transform bits of a signature's "F" frame; 0 without one.
uint8_t transformFlags(const CAudioSignMulti& sig);
// Sets a bit in the "F" frame, adding the frame when there is none.
void setTransformFlag(CAudioSignMulti& sig, uint8_t flag);

}  // namespace SessionUtils
