#include "similarity/aggregator.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "metadata/sources/common/standard_exception.h"

namespace {

struct Accumulated {
  uint32_t count = 0;
  float sum = 0.0f;
  // The list in which the song was last met and its dense rank there: a song
  // met twice in one list takes the rank of its first appearance.
  unsigned lastList = 0;
  uint32_t firstRank = 0;
};

}  // namespace

Aggregator::~Aggregator() = default;

void Aggregator::aggregate(SimilarityList& head, SimilarityList& out) {
  unsigned contributing = 0;
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList())
    if (!list->empty()) ++contributing;
  if (contributing < 2)
    throw StandardException(
        "Aggregator::aggregate() need more than one list to apply aggregation, or contributing lists");

  // Dense ranks (equal distances share one, no gaps) in one pass per list.
  // Each entry adds 1 - rank / n, n being the list's entry count.
  std::map<uint64_t, Accumulated> accumulator;
  unsigned listNumber = 0;
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
    if (list->empty()) continue;
    ++listNumber;
    const float n = static_cast<float>(list->size());
    uint32_t rank = 0;
    auto previous = list->begin();
    for (auto entry = list->begin(); entry != list->end(); previous = entry++) {
      if (entry != previous && previous->first != entry->first) ++rank;
      Accumulated& song = accumulator[entry->second.id];
      if (song.lastList != listNumber) {
        song.lastList = listNumber;
        song.firstRank = rank;
      }
      const float term = 1.0f - static_cast<float>(song.firstRank) / n;
      song.sum = song.count == 0 ? term : song.sum + term;
      ++song.count;
    }
  }

  // Songs of equal fused distance keep the order of their arrival: ascending
  // count, then ascending id.
  std::map<uint32_t, std::vector<std::pair<uint64_t, float>>> groups;
  for (const auto& [id, song] : accumulator) groups[song.count].emplace_back(id, song.sum);

  if (!out.empty()) out.clear();
  const double lists = static_cast<double>(contributing);
  for (const auto& [count, songs] : groups) {
    for (const auto& [id, sum] : songs) {
      const float d = static_cast<float>(1.0 - (0.5 * sum / count + 0.5 * count / lists));
      out.add(d, id, static_cast<float>(1.0 - d), -1);
    }
  }
}
