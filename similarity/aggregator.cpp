#include "similarity/aggregator.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "metadata/sources/common/standard_exception.h"

namespace {

struct Song {
  uint64_t id;
  uint32_t count = 0;
  float sum = 0.0f;
  // The list in which the song was last met and its dense rank there: a song
  // met twice in one list counts twice, at the rank of its first appearance.
  uint32_t lastList = 0;
  uint32_t firstRank = 0;
};

}  // namespace

Aggregator::~Aggregator() = default;

void Aggregator::aggregate(SimilarityList& head, SimilarityList& out) const {
  unsigned contributing = 0;
  size_t total = 0;
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
    if (!list->empty()) ++contributing;
    total += list->size();
  }
  if (contributing == 0)
    throw StandardException(
        "Aggregator::aggregate() need more than one list to apply aggregation, or contributing lists");

  // Dense ranks (equal distances share one, no gaps) in one pass per list;
  // each entry adds 1 - rank / n, n being the list's entry count. Songs are
  // found through a hash table: the cost stays linear in the entries.
  std::vector<Song> songs;
  std::unordered_map<uint64_t, size_t> songOf;
  songOf.reserve(total);
  uint32_t listNumber = 0;
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
    if (list->empty()) continue;
    ++listNumber;
    const float n = static_cast<float>(list->size());
    uint32_t rank = 0;
    auto previous = list->begin();
    for (auto entry = list->begin(); entry != list->end(); previous = entry++) {
      if (entry != previous && previous->first != entry->first) ++rank;
      const auto found = songOf.try_emplace(entry->second.id, songs.size());
      if (found.second) songs.push_back(Song{entry->second.id});
      Song& song = songs[found.first->second];
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
  std::sort(songs.begin(), songs.end(),
            [](const Song& a, const Song& b) { return a.count != b.count ? a.count < b.count : a.id < b.id; });

  if (!out.empty()) out.clear();
  const double lists = static_cast<double>(contributing);
  struct Fused {
    float d;
    uint32_t arrival;
  };
  std::vector<Fused> fused(songs.size());
  for (size_t i = 0; i < songs.size(); ++i) {
    const Song& song = songs[i];
    fused[i] = {static_cast<float>(1.0 - (0.5 * song.sum / song.count + 0.5 * song.count / lists)),
                static_cast<uint32_t>(i)};
  }
  // The list keeps the smallest distances, the earlier arrival first among
  // equal ones: only those are added, in arrival order, which leaves the same
  // list as adding every song would, without inserting and dropping the rest.
  const size_t kept = out.capacity < 0 ? 0 : std::min(fused.size(), static_cast<size_t>(out.capacity));
  const auto better = [](const Fused& a, const Fused& b) { return a.d != b.d ? a.d < b.d : a.arrival < b.arrival; };
  if (kept < fused.size()) {
    std::nth_element(fused.begin(), fused.begin() + static_cast<std::ptrdiff_t>(kept), fused.end(), better);
    fused.resize(kept);
    std::sort(fused.begin(), fused.end(), [](const Fused& a, const Fused& b) { return a.arrival < b.arrival; });
  }
  for (const Fused& entry : fused) out.add(entry.d, songs[entry.arrival].id, static_cast<float>(1.0 - entry.d), -1);
}
