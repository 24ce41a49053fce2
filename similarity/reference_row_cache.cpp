#include "similarity/reference_row_cache.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>

#include "signature/audio_sign_multi.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/distance_kernels.h"

namespace {

// Noted changes beyond the number of held entries (and at least this many)
// cost more to apply one by one than a walk of the database.
constexpr size_t kNotedMinimum = 1024;
// Gaps are closed when they make more than an eighth of the positions (and
// more than this many): a scan then passes over little.
constexpr unsigned kGapMinimum = 64;

// Row 0 of a feature; empty for a feature without rows or none at all.
BaseVector<float> firstRow(const CFeatureObject<float>* feature) {
  if (feature == nullptr || feature->getMatrix().rows == 0) return BaseVector<float>();
  const HeapMatrix<float>& m = feature->getMatrix();
  return BaseVector<float>(m.data, m.cols);
}

double euclideanLength(const float* values, unsigned n) {
  double squares = 0.0;
  distanceKernels().squares(values, 1, n, &squares);
  return std::sqrt(squares);
}

}  // namespace

ReferenceRows::ReferenceRows(const std::string& feature) : name(feature), offsets(1, 0) {}

unsigned ReferenceRows::lowerBound(uint64_t id, unsigned from) const {
  return static_cast<unsigned>(std::lower_bound(ids->begin() + from, ids->end(), id) - ids->begin());
}

void ReferenceRows::clear() {
  states.clear();
  offsets.assign(1, 0);
  values.clear();
  norms.clear();
}

void ReferenceRows::reserve(size_t rows, size_t rowValues) {
  states.reserve(rows);
  offsets.reserve(rows + 1);
  values.reserve(rowValues);
  norms.reserve(rows);
}

void ReferenceRows::append(const CFeatureObject<float>* feature) {
  const BaseVector<float> row = firstRow(feature);
  // Offsets are 32-bit: a copy beyond 4G values would be no copy at all.
  if (values.size() + row.size > UINT32_MAX) throw std::bad_array_new_length();
  values.insert(values.end(), row.begin(), row.end());
  offsets.push_back(static_cast<uint32_t>(values.size()));
  norms.push_back(euclideanLength(row.data, row.size));
  states.push_back(feature != nullptr ? kPresent : kMissing);
}

void ReferenceRows::appendFrom(const ReferenceRows& other, unsigned i) {
  const unsigned n = other.length(i);
  if (values.size() + n > UINT32_MAX) throw std::bad_array_new_length();
  values.insert(values.end(), other.data(i), other.data(i) + n);
  offsets.push_back(static_cast<uint32_t>(values.size()));
  norms.push_back(other.norms[i]);
  states.push_back(other.states[i]);
}

bool ReferenceRows::fits(unsigned i, const CFeatureObject<float>* feature) const {
  return firstRow(feature).size == length(i);
}

void ReferenceRows::overwrite(unsigned i, const CFeatureObject<float>* feature) {
  const BaseVector<float> row = firstRow(feature);
  std::copy(row.begin(), row.end(), values.begin() + offsets[i]);
  norms[i] = euclideanLength(row.data, row.size);
  states[i] = feature != nullptr ? kPresent : kMissing;
}

void ReferenceRows::swap(ReferenceRows& other) {
  states.swap(other.states);
  offsets.swap(other.offsets);
  values.swap(other.values);
  norms.swap(other.norms);
}

ReferenceRowCache::ReferenceRowCache() = default;

ReferenceRowCache::~ReferenceRowCache() = default;

void ReferenceRowCache::added(uint64_t id, const CAudioSignMulti& signature) noexcept {
  if (copies.empty() || stale) return;
  if (!noted.empty() || (!ids.empty() && id <= ids.back())) {
    note(id);
    return;
  }
  try {
    appendEntry(id, &signature);
  } catch (...) {
    // Copies left of unequal lengths: only a new walk can set them right.
    stale = true;
  }
}

void ReferenceRowCache::removed(uint64_t id) noexcept {
  if (copies.empty() || stale) return;
  const auto position = std::lower_bound(ids.begin(), ids.end(), id);
  // An id not held yet may still be noted: it is found gone when applied.
  if (position == ids.end() || *position != id) return;
  openGap(static_cast<unsigned>(position - ids.begin()));
}

void ReferenceRowCache::openGap(unsigned i) noexcept {
  if (copies.front()->isRemoved(i)) return;
  for (auto& copy : copies) copy->markRemoved(i);
  ++gaps;
}

void ReferenceRowCache::changed(uint64_t id) noexcept {
  if (copies.empty() || stale) return;
  note(id);
}

void ReferenceRowCache::changedAll() noexcept { stale = true; }

void ReferenceRowCache::note(uint64_t id) noexcept {
  if (noted.size() >= std::max(kNotedMinimum, ids.size())) {
    stale = true;
    return;
  }
  try {
    noted.push_back(id);
  } catch (...) {
    stale = true;
  }
}

ReferenceRows& ReferenceRowCache::copyOf(const std::string& feature) {
  const auto position = std::lower_bound(copies.begin(), copies.end(), feature,
                                         [](const auto& copy, const std::string& name) { return copy->name < name; });
  if (position != copies.end() && (*position)->name == feature) return **position;
  auto copy = std::make_unique<ReferenceRows>(feature);
  copy->ids = &ids;
  // A new copy is made with all others in one walk.
  stale = true;
  return **copies.insert(position, std::move(copy));
}

void ReferenceRowCache::track(const AdaptedFeatureDb& db, const std::set<std::string>& features) {
  for (const std::string& feature : features) copyOf(feature);
  refresh(db);
}

const ReferenceRows& ReferenceRowCache::rows(const AdaptedFeatureDb& db, const std::string& feature) {
  ReferenceRows& copy = copyOf(feature);
  refresh(db);
  return copy;
}

void ReferenceRowCache::refresh(const AdaptedFeatureDb& db) {
  // Without copies there is nothing to walk the database for.
  if (copies.empty()) return;
  if (stale) {
    rebuild(db);
    return;
  }
  const bool manyGaps = gaps > kGapMinimum && gaps > ids.size() / 8;
  if (noted.empty() && !manyGaps) return;
  // Stale until the copies are in line: a failure half-way leaves them to be
  // made again.
  stale = true;
  std::sort(noted.begin(), noted.end());
  noted.erase(std::unique(noted.begin(), noted.end()), noted.end());
  if (manyGaps || !applyInPlace(db)) mergeNoted(db);
  noted.clear();
  stale = false;
}

void ReferenceRowCache::findFeatures(const CAudioSignMulti* signature) {
  found.assign(copies.size(), nullptr);
  const CSignDataMulti* data = signature != nullptr ? signature->getSignData() : nullptr;
  if (data == nullptr) return;
  // Both run in name order: one step through each finds every copy's feature.
  auto feature = data->begin();
  for (size_t k = 0; k < copies.size() && feature != data->end(); ++k) {
    const std::string& name = copies[k]->name;
    while (feature != data->end() && feature->first < name) ++feature;
    if (feature != data->end() && feature->first == name)
      found[k] = dynamic_cast<const CFeatureObject<float>*>(feature->second.get());
  }
}

void ReferenceRowCache::appendEntry(uint64_t id, const CAudioSignMulti* signature) {
  findFeatures(signature);
  ids.push_back(id);
  for (size_t k = 0; k < copies.size(); ++k) copies[k]->append(found[k]);
}

void ReferenceRowCache::rebuild(const AdaptedFeatureDb& db) {
  // Stale until done: a walk that fails half-way is made again next time.
  stale = true;
  noted.clear();
  gaps = 0;
  ids.clear();
  ids.reserve(db.size());
  for (auto& copy : copies) copy->clear();
  if (!db.empty()) {
    findFeatures(db.begin()->second);
    for (size_t k = 0; k < copies.size(); ++k)
      copies[k]->reserve(db.size(), static_cast<size_t>(db.size()) * firstRow(found[k]).size);
  }
  for (const auto& [id, signature] : db) appendEntry(id, signature);
  stale = false;
}

bool ReferenceRowCache::applyInPlace(const AdaptedFeatureDb& db) {
  const size_t held = ids.size();
  // Checked before anything changes: every noted id is held and keeps its
  // row lengths, or is gone, or lies above every held id.
  for (const uint64_t id : noted) {
    const auto position = std::lower_bound(ids.begin(), ids.end(), id);
    const auto entry = db.getEntries().find(id);
    const bool stored = entry != db.end();
    if (position == ids.end()) continue;
    const auto i = static_cast<unsigned>(position - ids.begin());
    if (*position != id) {
      if (stored) return false;
      continue;
    }
    if (!stored) continue;
    findFeatures(entry->second);
    for (size_t k = 0; k < copies.size(); ++k)
      if (!copies[k]->fits(i, found[k])) return false;
  }
  for (const uint64_t id : noted) {
    const auto position = std::lower_bound(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(held), id);
    const auto entry = db.getEntries().find(id);
    const bool stored = entry != db.end();
    if (position == ids.begin() + static_cast<std::ptrdiff_t>(held)) {
      if (stored) appendEntry(id, entry->second);
      continue;
    }
    const auto i = static_cast<unsigned>(position - ids.begin());
    if (!stored) {
      if (ids[i] == id) openGap(i);
      continue;
    }
    if (copies.front()->isRemoved(i)) --gaps;
    findFeatures(entry->second);
    for (size_t k = 0; k < copies.size(); ++k) copies[k]->overwrite(i, found[k]);
  }
  return true;
}

void ReferenceRowCache::mergeNoted(const AdaptedFeatureDb& db) {
  std::vector<uint64_t> newIds;
  newIds.reserve(db.size());
  std::vector<std::unique_ptr<ReferenceRows>> fresh;
  for (const auto& copy : copies) {
    fresh.push_back(std::make_unique<ReferenceRows>(copy->name));
    fresh.back()->reserve(db.size(), copy->values.size());
  }
  const auto takeOld = [&](unsigned i) {
    if (copies.front()->isRemoved(i)) return;
    newIds.push_back(ids[i]);
    for (size_t k = 0; k < copies.size(); ++k) fresh[k]->appendFrom(*copies[k], i);
  };
  unsigned i = 0;
  const auto held = static_cast<unsigned>(ids.size());
  for (const uint64_t id : noted) {
    for (; i < held && ids[i] < id; ++i) takeOld(i);
    if (i < held && ids[i] == id) ++i;
    const auto entry = db.getEntries().find(id);
    if (entry == db.end()) continue;
    findFeatures(entry->second);
    newIds.push_back(id);
    for (size_t k = 0; k < copies.size(); ++k) fresh[k]->append(found[k]);
  }
  for (; i < held; ++i) takeOld(i);
  ids.swap(newIds);
  for (size_t k = 0; k < copies.size(); ++k) copies[k]->swap(*fresh[k]);
  gaps = 0;
}
