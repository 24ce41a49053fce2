#include "similarity/similarity_candidates.h"

#include <cmath>
#include <limits>

#include "similarity/similarity_list.h"

namespace {

// ceil(value) taken as an integer and added modulo 2^32, as a 32-bit count
// takes it; a value beyond the 64-bit range, or NaN, is held at the range's
// end (NaN as 0) instead of being converted undefined.
uint32_t scaledCount(double value) {
  const double up = std::ceil(value);
  if (!(up == up)) return 0;
  if (up <= static_cast<double>(std::numeric_limits<int64_t>::min())) return 0;
  if (up >= static_cast<double>(std::numeric_limits<int64_t>::max())) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(static_cast<int64_t>(up));
}

}  // namespace

SimilarityCandidates::SimilarityCandidates() = default;

SimilarityCandidates::SimilarityCandidates(const SimilarityCandidates& other) = default;

SimilarityCandidates& SimilarityCandidates::operator=(const SimilarityCandidates& other) = default;

SimilarityCandidates::~SimilarityCandidates() = default;

void SimilarityCandidates::add(const SimilarityCandidates& other) {
  for (const auto& [id, entry] : other.entries) {
    Entry& mine = entries[id];
    mine.hits += entry.hits;
    mine.sum += entry.sum;
  }
  lists += other.lists;
}

void SimilarityCandidates::addWeighted(const SimilarityCandidates& other, float w) {
  if (other.entries.empty() || w == -1.0f) return;
  const double f = w + 1.0;
  lists += scaledCount(other.lists * f);
  for (const auto& [id, entry] : other.entries) {
    Entry& mine = entries[id];
    mine.hits += scaledCount(entry.hits * f);
    mine.sum += entry.sum;
  }
}

void SimilarityCandidates::toList(SimilarityList& out) const {
  if (lists == 0) return;
  for (const auto& [id, entry] : entries) {
    if (entry.hits == 0) continue;
    const double ratio = static_cast<double>(entry.hits) / lists;
    const float d = static_cast<float>(0.5 * (1.0 - ratio) + 0.5 * (entry.sum / static_cast<double>(entry.hits)));
    out.add(d, id, static_cast<float>(1.0 - d), -1);
  }
}

void SimilarityCandidates::prune(unsigned n) {
  SimilarityList fused(std::string(), SimilarityList::kDefaultCapacity);
  toList(fused);
  uint64_t position = 0;
  for (const auto& entry : fused) {
    if (position > n) entries.erase(entry.second.id);
    ++position;
  }
}
