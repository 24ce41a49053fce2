#pragma once
// Row 0 of one named feature of every signature in a feature database, copied
// into one contiguous block in ascending id order. A query compares its vector
// with thousands of references: read through the database, every reference
// costs a walk of the id map, of the signature's feature map (by name) and a
// jump to the row's own allocation; read from here it is the next few cache
// lines.
//
// The copy follows the database by its revision (adapted_feature_db.h): every
// access through update() rebuilds it when the database has changed since, so
// a caller cannot read rows of another state of the database.

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/base_vector.h"

class AdaptedFeatureDb;

class ReferenceRowCache {
 public:
  explicit ReferenceRowCache(const std::string& feature);

  // Rebuilds the rows from db unless they were made from db at its current
  // revision.
  void update(const AdaptedFeatureDb& db);

  // The signatures of the database, in ascending id order.
  unsigned size() const { return static_cast<unsigned>(ids.size()); }
  uint64_t id(unsigned i) const { return ids[i]; }
  // False when the i-th signature has no float feature of the name.
  bool hasFeature(unsigned i) const { return present[i] != 0; }
  // Row 0 of the i-th signature's feature; empty for a feature without rows
  // (and when hasFeature is false).
  BaseVector<float> row(unsigned i) const {
    return BaseVector<float>(const_cast<float*>(values.data()) + offsets[i], offsets[i + 1] - offsets[i]);
  }
  // The position of the first signature at or after position from whose id
  // is not below id; size() when there is none.
  unsigned lowerBound(uint64_t id, unsigned from) const;

  const std::string& feature() const { return name; }

 private:
  std::string name;
  bool built = false;
  uint64_t revision = 0;
  std::vector<uint64_t> ids;
  std::vector<uint8_t> present;
  // Row i is values[offsets[i] .. offsets[i + 1]).
  std::vector<uint32_t> offsets;
  std::vector<float> values;
};
