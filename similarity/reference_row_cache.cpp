#include "similarity/reference_row_cache.h"

#include <algorithm>
#include <new>

#include "signature/audio_sign_multi.h"
#include "similarity/adapted_feature_db.h"

ReferenceRowCache::ReferenceRowCache(const std::string& feature) : name(feature) {}

void ReferenceRowCache::update(const AdaptedFeatureDb& db) {
  if (built && revision == db.getRevision()) return;
  built = false;
  ids.clear();
  present.clear();
  offsets.assign(1, 0);
  values.clear();
  ids.reserve(db.size());
  present.reserve(db.size());
  offsets.reserve(static_cast<size_t>(db.size()) + 1);
  for (const auto& [id, sig] : db) {
    const CSignDataMulti* data = sig->getSignData();
    const CFeatureObject<float>* feature = data != nullptr ? data->getFeature(name.c_str()) : nullptr;
    ids.push_back(id);
    present.push_back(feature != nullptr);
    if (feature != nullptr && feature->getMatrix().rows > 0) {
      const BaseVector<float> row = feature->getMatrix().getRow(0);
      if (values.size() + row.size > UINT32_MAX) throw std::bad_array_new_length();
      values.insert(values.end(), row.begin(), row.end());
    }
    offsets.push_back(static_cast<uint32_t>(values.size()));
  }
  revision = db.getRevision();
  built = true;
}

unsigned ReferenceRowCache::lowerBound(uint64_t id, unsigned from) const {
  return static_cast<unsigned>(std::lower_bound(ids.begin() + from, ids.end(), id) - ids.begin());
}
