#include "similarity/adapted_feature_db.h"

#include <algorithm>
#include <atomic>
#include <iostream>
#include <memory>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/common/string_util.h"
#include "metadata/sources/vmtl/vmtl_exception.h"

namespace {

const char kSubmatrix[] = "AdaptedFeatureDbMatrix::submatrix()";
const char kAssign[] = "AdaptedFeatureDbMatrix::assign()";

// A stream that has failed or reached its end has no further entry to give.
bool hasData(std::istream& in) { return in && in.peek() != std::istream::traits_type::eof(); }

void report(const std::string& line) { std::cout << line << std::endl; }

uint64_t nextRevision() {
  static std::atomic<uint64_t> sequence{0};
  return ++sequence;
}

// The entries of the longest strictly ascending run of ids (patience
// sorting, n log n). ends[k] is the entry that ends a run of k + 1 entries
// with the smallest id so far, the latest of equal ids: a run is then traced
// back from the last end through the entry that ended the shorter run when
// each entry came, which gives the run of the smallest ids compared from the
// back. Preferring small ids keeps every id that damage raised out of the run
// but the last entry's, which no order can tell, while a last id can.
std::vector<bool> longestAscendingRun(const std::vector<uint64_t>& ids) {
  constexpr size_t kNone = static_cast<size_t>(-1);
  std::vector<size_t> ends;
  std::vector<size_t> before(ids.size(), kNone);
  for (size_t i = 0; i < ids.size(); ++i) {
    const auto at =
        std::lower_bound(ends.begin(), ends.end(), ids[i], [&](size_t end, uint64_t id) { return ids[end] < id; });
    if (at != ends.begin()) before[i] = *(at - 1);
    if (at == ends.end())
      ends.push_back(i);
    else
      *at = i;
  }
  std::vector<bool> kept(ids.size(), false);
  for (size_t i = ends.empty() ? kNone : ends.back(); i != kNone; i = before[i]) kept[i] = true;
  return kept;
}

}  // namespace

AdaptedFeatureDb::AdaptedFeatureDb(const std::string& name) : name(name), revision(nextRevision()) {}

AdaptedFeatureDb::AdaptedFeatureDb(std::istream& in, uint64_t largestId)
    : name("similaritymethod"), revision(nextRevision()) {
  loadImage(in, largestId);
}

AdaptedFeatureDb::~AdaptedFeatureDb() {
  for (auto& [id, sig] : entries) delete sig;
}

bool AdaptedFeatureDb::contains(const uint64_t& id) const { return entries.count(id) != 0; }

CAudioSignMulti* AdaptedFeatureDb::entry(const uint64_t& id) const {
  const auto found = entries.find(id);
  if (found == entries.end())
    throw StandardException("AdaptedFeatureDb::entry() signature id does not exist in database: " + uint64ToString(id));
  return found->second;
}

std::pair<AdaptedFeatureDb::iterator, bool> AdaptedFeatureDb::add(const CAudioSignMulti& sig) {
  auto copy = std::make_unique<CAudioSignMulti>(sig);
  auto result = add(copy.get());
  copy.release();
  return result;
}

std::pair<AdaptedFeatureDb::iterator, bool> AdaptedFeatureDb::add(CAudioSignMulti* sig) {
  if (sig == nullptr) throw StandardException("AdaptedFeatureDb::add() invalid signature");
  const uint64_t id = sig->getTuid().toUInt64();
  if (contains(id))
    throw StandardException("AdaptedFeatureDb::add() signature id already exists in database: " + uint64ToString(id));
  const auto result = entries.emplace(id, sig);
  revision = nextRevision();
  rows.added(id, *sig);
  return result;
}

void AdaptedFeatureDb::replace(CAudioSignMulti* sig) {
  if (sig == nullptr) throw StandardException("AdaptedFeatureDb::replace() invalid signature");
  const uint64_t id = sig->getTuid().toUInt64();
  const auto found = entries.find(id);
  if (found == entries.end()) {
    add(sig);
    return;
  }
  // Nothing below can fail: the stored signature goes only once its
  // successor stands in its place.
  std::unique_ptr<CAudioSignMulti> previous(found->second);
  found->second = sig;
  markChanged(id);
}

void AdaptedFeatureDb::remove(const uint64_t& id) {
  const auto found = entries.find(id);
  if (found == entries.end()) return;
  // id may be the key of the very entry erased (remove(begin()->first)).
  const uint64_t removed = id;
  delete found->second;
  entries.erase(found);
  revision = nextRevision();
  rows.removed(removed);
}

void AdaptedFeatureDb::markChanged() {
  revision = nextRevision();
  rows.changedAll();
}

void AdaptedFeatureDb::markChanged(const uint64_t& id) {
  revision = nextRevision();
  rows.changed(id);
}

void AdaptedFeatureDb::trackReferenceRows(const std::set<std::string>& features) const { rows.track(*this, features); }

const ReferenceRows& AdaptedFeatureDb::referenceRows(const std::string& feature) const {
  return rows.rows(*this, feature);
}

void AdaptedFeatureDb::saveImage(std::ostream& out) const {
  writeUInt32LE(out, size());
  out.put(0);
  writeString(out, name);
  for (const auto& [id, sig] : entries) sig->write(out);
}

void AdaptedFeatureDb::loadImage(std::istream& in, uint64_t largestId) {
  uint32_t count = 0;
  bool complete = readUInt32LE(in, count);
  if (complete && in.peek() == 0) {
    in.get();
    const std::string stored = readString(in);
    complete = static_cast<bool>(in);
    if (complete) name = stored;
  }
  // The count is not trusted: every entry takes at least one byte of the
  // stream, so a forged count ends with the data.
  std::vector<std::unique_ptr<CAudioSignMulti>> read;
  for (uint32_t i = 0; complete && i < count; ++i) {
    complete = hasData(in);
    if (!complete) break;
    if (auto sig = readEntry(in, largestId)) read.push_back(std::move(sig));
  }
  storeAscending(read);
  if (!complete) {
    corrupted = true;
    report("AdaptedFeatureDb::loadImage() unexpected end of stream");
  }
}

std::unique_ptr<CAudioSignMulti> AdaptedFeatureDb::readEntry(std::istream& in, uint64_t largestId) {
  try {
    auto sig = std::make_unique<CAudioSignMulti>(in, nullptr);
    // A signature without features (a signed stream read without its
    // verifier) could not be written back into an image.
    if (!sig->isInitialized() || sig->getSignData()->empty())
      throw StandardException("AdaptedFeatureDb::loadImage() invalid signature in image");
    // An id held otherwise than saveImage writes it has been damaged, and
    // which of its forms was the song's cannot be told.
    const uint64_t id = sig->getTuid().toUInt64();
    if (id == 0 || !sig->getSignData()->tuidFramesAgree())
      throw StandardException("AdaptedFeatureDb::loadImage() invalid signature id in image");
    if (id > largestId)
      throw StandardException("AdaptedFeatureDb::loadImage() signature id out of range: " + uint64ToString(id));
    return sig;
  } catch (const std::string& text) {
    report(text);
  } catch (const StandardException& error) {
    report(error.what());
  } catch (...) {
    std::cout << "Unknown error adding signature!\n";
  }
  corrupted = true;
  return nullptr;
}

void AdaptedFeatureDb::storeAscending(std::vector<std::unique_ptr<CAudioSignMulti>>& read) {
  std::vector<uint64_t> ids;
  ids.reserve(read.size());
  for (const auto& sig : read) ids.push_back(sig->getTuid().toUInt64());
  const std::vector<bool> kept = longestAscendingRun(ids);
  for (size_t i = 0; i < read.size(); ++i) {
    if (!kept[i]) {
      report("AdaptedFeatureDb::loadImage() signature id out of order in image: " + uint64ToString(ids[i]));
      corrupted = true;
      continue;
    }
    try {
      add(read[i].get());
      read[i].release();
    } catch (const StandardException& error) {
      // An id the database held before the image.
      report(error.what());
      corrupted = true;
    }
  }
}

AdaptedFeatureDbMatrix::AdaptedFeatureDbMatrix(AdaptedFeatureDb& db) : database(&db) {
  if (db.empty()) return;
  const CSignDataMulti* first = db.begin()->second->getSignData();
  std::vector<unsigned> lengths;
  for (const auto& [name, object] : *first) {
    FeatureDataInfo info;
    lengths.push_back(object->getDataInfo(info).cols);
    featureNames.push_back(name);
  }
  offsets.resize(static_cast<unsigned>(lengths.size()));
  unsigned sum = 0;
  for (unsigned k = 0; k < offsets.size; ++k) offsets[k] = sum += lengths[k];
}

AdaptedFeatureDbMatrix::~AdaptedFeatureDbMatrix() = default;

unsigned AdaptedFeatureDbMatrix::featureLength(const std::string& feature, const char* origin) const {
  for (unsigned k = 0; k < featureNames.size(); ++k)
    if (featureNames[k] == feature) return offsets[k] - (k == 0 ? 0 : offsets[k - 1]);
  throw StandardException(std::string(origin) + " feature not found: " + feature);
}

std::vector<BaseVector<float>> AdaptedFeatureDbMatrix::featureRows(const std::string& feature,
                                                                   const char* origin) const {
  const unsigned length = featureLength(feature, origin);
  std::vector<BaseVector<float>> rows;
  rows.reserve(database->size());
  for (const auto& [id, sig] : *database) {
    CFeatureObject<float>* object = sig->getSignData()->getFeature(feature.c_str());
    if (object == nullptr) throw StandardException(std::string(origin) + " feature not found: " + feature);
    const HeapMatrix<float>& m = object->getMatrix();
    // A feature without rows offers an empty first row.
    const BaseVector<float> row(m.data, m.rows == 0 ? 0 : m.cols);
    if (row.size != length) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 393);
    rows.push_back(row);
  }
  return rows;
}

void AdaptedFeatureDbMatrix::submatrix(const std::string& feature, HeapMatrix<float>& out) const {
  const std::vector<BaseVector<float>> rows = featureRows(feature, kSubmatrix);
  out.resize(static_cast<unsigned>(rows.size()), featureLength(feature, kSubmatrix));
  for (unsigned r = 0; r < rows.size(); ++r) std::copy(rows[r].begin(), rows[r].end(), out.getRow(r).begin());
}

void AdaptedFeatureDbMatrix::assign(const HeapMatrix<float>& m, const std::string& feature) {
  if (m.rows != database->size())
    throw StandardException("AdaptedFeatureDbMatrix::assign() number of rows does not fit");
  const std::vector<BaseVector<float>> rows = featureRows(feature, kAssign);
  if (m.cols != featureLength(feature, kAssign)) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 393);
  database->markChanged();
  for (unsigned r = 0; r < rows.size(); ++r) std::copy_n(m.getRow(r).begin(), m.cols, rows[r].begin());
}
