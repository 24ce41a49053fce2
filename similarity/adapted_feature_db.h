#pragma once
// The session's database of adapted signatures, keyed by the 64-bit signature
// id (CAudioSignMulti::getTuid), in ascending id order; and
// AdaptedFeatureDbMatrix, which lays one feature of every entry out as the
// rows of one matrix and writes such a matrix back.
//
// The database image (integers 4 bytes little-endian, str = u32 length + bytes):
//   u32 count, u8 0 and the name as str (absent in an image without a name),
//   then count signature streams ("AUID", signature/fingerprint_stream.h) in
//   ascending id order. An entry's id is held in its "Tuid" frames only.

#include <cstdint>
#include <iosfwd>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/heap_matrix.h"
#include "signature/audio_sign_multi.h"
#include "similarity/adapted_signature_map.h"
#include "similarity/reference_row_cache.h"

class AdaptedFeatureDb {
 public:
  // Adapted signatures by id, owned by the database.
  using EntryMap = AdaptedSignatureMap;
  using iterator = EntryMap::iterator;
  using const_iterator = EntryMap::const_iterator;

  // As a largest id: none is too large.
  static constexpr uint64_t kAnyId = std::numeric_limits<uint64_t>::max();

  explicit AdaptedFeatureDb(const std::string& name);
  // Named "similaritymethod", then loadImage(in, largestId).
  explicit AdaptedFeatureDb(std::istream& in, uint64_t largestId = kAnyId);
  AdaptedFeatureDb(const AdaptedFeatureDb&) = delete;
  AdaptedFeatureDb& operator=(const AdaptedFeatureDb&) = delete;
  virtual ~AdaptedFeatureDb();

  bool contains(const uint64_t& id) const;
  // Fails with "AdaptedFeatureDb::entry() signature id does not exist in database: " + id.
  CAudioSignMulti* entry(const uint64_t& id) const;
  // Stores a copy under the signature's id. An id already present fails with
  // "AdaptedFeatureDb::add() signature id already exists in database: " + id.
  std::pair<iterator, bool> add(const CAudioSignMulti& sig);
  // The same, taking ownership of sig; on failure the caller keeps it.
  std::pair<iterator, bool> add(CAudioSignMulti* sig);
  // Takes ownership of sig and puts it in the place of the stored signature of
  // its id, which is deleted; adds it when none is stored. On failure the
  // caller keeps sig and the stored one stays.
  void replace(CAudioSignMulti* sig);
  // An absent id is no error.
  void remove(const uint64_t& id);

  // Changes whenever the stored signatures may have changed: with every add,
  // remove and load, and with markChanged, which whoever changes a stored
  // signature's values in place (through entry or an iterator) must call.
  // Revisions come from one process-wide sequence, so no two states of any
  // databases share one: what was derived from a database at one revision is
  // current exactly while the database still reports it.
  uint64_t getRevision() const { return revision; }
  // Any stored signature may have changed.
  void markChanged();
  // The signature of id has changed (or is about to: the reference rows
  // read it only when next asked for).
  void markChanged(const uint64_t& id);

  // Row 0 of a feature of every stored signature, kept in step with the
  // database (similarity/reference_row_cache.h). track makes the copies of
  // several features at once, in one walk; referenceRows makes a copy of a
  // feature not tracked yet on first use. A copy stays valid until the
  // database next changes.
  void trackReferenceRows(const std::set<std::string>& features) const;
  const ReferenceRows& referenceRows(const std::string& feature) const;

  unsigned size() const { return static_cast<unsigned>(entries.size()); }
  bool empty() const { return entries.empty(); }
  iterator begin() { return entries.begin(); }
  iterator end() { return entries.end(); }
  const_iterator begin() const { return entries.begin(); }
  const_iterator end() const { return entries.end(); }
  const EntryMap& getEntries() const { return entries; }

  const std::string& getName() const { return name; }
  // Set by loadImage when an entry could not be taken.
  bool isCorrupted() const { return corrupted; }
  void clearCorrupted() { corrupted = false; }

  void saveImage(std::ostream& out) const;
  // Adds the image's entries. An entry is left out with a line on the
  // standard output, and sets the corrupted flag, when it cannot be read or
  // holds no features; when its id is not held as saveImage writes it (a
  // "Tuid" frame of other than 8 bytes, two that disagree, or an id of 0):
  //   "AdaptedFeatureDb::loadImage() invalid signature id in image"
  // when its id is above largestId:
  //   "AdaptedFeatureDb::loadImage() signature id out of range: " + id
  // and when it is not in the longest strictly ascending run of the read
  // entries' ids (saveImage writes them in ascending order, so an entry out
  // of it carries a damaged id, or one of an entry that does):
  //   "AdaptedFeatureDb::loadImage() signature id out of order in image: " + id
  // Of several longest runs the one kept holds the smallest ids, compared
  // from its last entry back, and of two entries of one id the later. So an
  // entry whose id damage raised to or past the next entry's goes; one whose
  // id was lowered to or below the previous entry's, but above the one before
  // that, stays in the previous entry's place. An id already stored fails as
  // add does. Reading goes on while the stream has data.
  void loadImage(std::istream& in, uint64_t largestId = kAnyId);

 private:
  // Reads one signature; a failure is reported, sets corrupted and gives null.
  std::unique_ptr<CAudioSignMulti> readEntry(std::istream& in, uint64_t largestId);
  // Stores the entries read, in image order, that form the longest ascending
  // run of ids; reports the others and sets corrupted.
  void storeAscending(std::vector<std::unique_ptr<CAudioSignMulti>>& read);

  std::string name;
  EntryMap entries;
  bool corrupted = false;
  uint64_t revision;
  // Derived from the entries: reading it changes nothing stored.
  mutable ReferenceRowCache rows;
};

class AdaptedFeatureDbMatrix {
 public:
  // The feature layout of the database's first (lowest id) entry.
  explicit AdaptedFeatureDbMatrix(AdaptedFeatureDb& db);
  virtual ~AdaptedFeatureDbMatrix();

  // out becomes one row per entry, in ascending id order: row 0 of the entry's
  // float feature of that name. A feature the first entry lacks fails with
  // "AdaptedFeatureDbMatrix::submatrix() feature not found: " + name, as does
  // one that a later entry lacks (or holds with other than float elements); a
  // row of another length fails with the vector library's "unequal vector
  // size". A feature without rows has an empty row 0.
  void submatrix(const std::string& feature, HeapMatrix<float>& out) const;
  // Row r of m becomes row 0 of the r-th entry's feature (a change of the
  // database's values: its revision moves on). Every entry is
  // checked before any is changed: a row count other than the number of
  // entries fails with "AdaptedFeatureDbMatrix::assign() number of rows does
  // not fit", a missing feature ("AdaptedFeatureDbMatrix::assign() feature not
  // found: ") and a length difference as in submatrix.
  void assign(const HeapMatrix<float>& m, const std::string& feature);

 private:
  // Row 0 of every entry's feature, in id order, each checked to have the
  // feature's length; failures are reported in origin's name.
  std::vector<BaseVector<float>> featureRows(const std::string& feature, const char* origin) const;
  // The length of a feature of the first entry.
  unsigned featureLength(const std::string& feature, const char* origin) const;

  AdaptedFeatureDb* database;
  HeapVector<unsigned int> offsets;
  std::vector<std::string> featureNames;
};
