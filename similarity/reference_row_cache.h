#pragma once
// Row 0 of named features of every signature in a feature database, each
// feature's rows copied into one contiguous block in ascending id order. A
// query compares its vector with thousands of references: read through the
// database, every reference costs a walk of the id map, of the signature's
// feature map (by name) and a jump to the row's own allocation; read from
// here it is the next few cache lines.
//
// ReferenceRows is one feature's copy; ReferenceRowCache, which the database
// owns, keeps the copies of every feature asked for in step with the
// database: the database reports each change (an entry added, removed or
// changed in place, or anything at all) and the cache brings its copies in
// line before they are next read. An entry added above every held id is
// appended at once; a removal leaves a gap that scans pass over (closed
// when gaps grow many); other changes are noted and applied when a copy is
// next read, in place where the rows keep their lengths, else in one pass
// that moves the copies' rows over. A change to everything, or more noted
// changes than entries, makes the copies again, all features in one walk of
// the database.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/base_vector.h"

class AdaptedFeatureDb;
class CAudioSignMulti;
template <typename T>
class CFeatureObject;

class ReferenceRows {
 public:
  enum State : uint8_t {
    // The signature has no float feature of the name.
    kMissing,
    kPresent,
    // The signature has left the database: a gap to pass over.
    kRemoved,
  };

  explicit ReferenceRows(const std::string& feature);
  ReferenceRows(const ReferenceRows&) = delete;
  ReferenceRows& operator=(const ReferenceRows&) = delete;

  const std::string& feature() const { return name; }
  // Positions, gaps included, in ascending id order.
  unsigned size() const { return static_cast<unsigned>(states.size()); }
  uint64_t id(unsigned i) const { return (*ids)[i]; }
  State state(unsigned i) const { return static_cast<State>(states[i]); }
  bool hasFeature(unsigned i) const { return states[i] == kPresent; }
  bool isRemoved(unsigned i) const { return states[i] == kRemoved; }
  // Row 0 of the feature: length(i) values at data(i); rows of consecutive
  // positions follow one another. Empty for a feature without rows and a
  // missing feature; a gap keeps the row it had (a song stored again under
  // its id takes the place back when its row has that length).
  unsigned length(unsigned i) const { return offsets[i + 1] - offsets[i]; }
  const float* data(unsigned i) const { return values.data() + offsets[i]; }
  BaseVector<float> row(unsigned i) const { return BaseVector<float>(const_cast<float*>(data(i)), length(i)); }
  // The row's Euclidean length, sqrt(sum of squares) in the distance
  // kernels' order (similarity/distance_kernels.h).
  double norm(unsigned i) const { return norms[i]; }
  // The position of the first signature at or after position from whose id
  // is not below id; size() when there is none.
  unsigned lowerBound(uint64_t id, unsigned from) const;

 private:
  friend class ReferenceRowCache;

  void clear();
  void reserve(size_t rows, size_t rowValues);
  // Appends the row of a feature (null: missing).
  void append(const CFeatureObject<float>* feature);
  // Appends position i of other, a gap as a gap.
  void appendFrom(const ReferenceRows& other, unsigned i);
  // Whether the feature's row (null: missing) has the length of position i's.
  bool fits(unsigned i, const CFeatureObject<float>* feature) const;
  // Position i takes the feature's row, which fits.
  void overwrite(unsigned i, const CFeatureObject<float>* feature);
  void markRemoved(unsigned i) { states[i] = kRemoved; }
  void swap(ReferenceRows& other);

  std::string name;
  // The cache's ids, shared by all its copies.
  const std::vector<uint64_t>* ids = nullptr;
  std::vector<uint8_t> states;
  // Position i is values[offsets[i] .. offsets[i + 1]).
  std::vector<uint32_t> offsets;
  std::vector<float> values;
  std::vector<double> norms;
};

class ReferenceRowCache {
 public:
  ReferenceRowCache();
  ReferenceRowCache(const ReferenceRowCache&) = delete;
  ReferenceRowCache& operator=(const ReferenceRowCache&) = delete;
  ~ReferenceRowCache();

  // The database's reports, each made once the change is done (changed may
  // come before: the rows are read only when a copy is next read). None of
  // them fails: a copy that cannot be kept up is made again when next read.
  void added(uint64_t id, const CAudioSignMulti& signature) noexcept;
  void removed(uint64_t id) noexcept;
  void changed(uint64_t id) noexcept;
  void changedAll() noexcept;

  // Holds copies of these features from now on, made at once, in one walk of
  // db for all that are new.
  void track(const AdaptedFeatureDb& db, const std::set<std::string>& features);
  // The copy of feature, in line with db; held from now on.
  const ReferenceRows& rows(const AdaptedFeatureDb& db, const std::string& feature);

  // The ids of every held position, gaps included.
  const std::vector<uint64_t>& heldIds() const { return ids; }

 private:
  ReferenceRows& copyOf(const std::string& feature);
  void refresh(const AdaptedFeatureDb& db);
  void rebuild(const AdaptedFeatureDb& db);
  // Applies the noted changes (sorted, each once); false, with nothing
  // changed, when they cannot all be applied in place.
  bool applyInPlace(const AdaptedFeatureDb& db);
  // Moves every copy's rows into new blocks, with the noted changes and
  // without gaps.
  void mergeNoted(const AdaptedFeatureDb& db);
  void openGap(unsigned i) noexcept;
  // found[k] := the float feature of signature (null: none) named as copy k.
  void findFeatures(const CAudioSignMulti* signature);
  void appendEntry(uint64_t id, const CAudioSignMulti* signature);
  void note(uint64_t id) noexcept;

  std::vector<uint64_t> ids;
  // Ordered by name, as a signature's features are, so that one walk of a
  // signature's features finds every copy's.
  std::vector<std::unique_ptr<ReferenceRows>> copies;
  std::vector<const CFeatureObject<float>*> found;
  // Ids whose rows are to be brought in line, in the order reported.
  std::vector<uint64_t> noted;
  // The copies are to be made again from the database.
  bool stale = true;
  unsigned gaps = 0;
};
