#pragma once
// The fusion of a chain of candidate lists written as literally as it is
// described: a rank table per list, and for every position a walk from the
// table's start to the first occurrence of its song, counting the changes of
// distance on the way. Quadratic in the list length; the reference that the
// aggregator's one-pass ranks are checked and timed against.

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/similarity_list.h"

namespace referencefusion {

inline void aggregate(SimilarityList& head, SimilarityList& out) {
  struct RankTable {
    std::vector<uint64_t> ids;
    std::vector<float> distances;
  };
  std::vector<RankTable> tables;
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
    if (list->empty()) continue;
    RankTable table;
    for (const auto& entry : *list) {
      table.ids.push_back(entry.second.id);
      table.distances.push_back(entry.first);
    }
    tables.push_back(table);
  }
  if (tables.size() < 2)
    throw StandardException(
        "Aggregator::aggregate() need more than one list to apply aggregation, or contributing lists");

  std::map<uint64_t, std::pair<uint32_t, float>> accumulator;  // song id -> (count, sum)
  for (const RankTable& table : tables) {
    const size_t n = table.ids.size();
    for (size_t p = 0; p < n; ++p) {
      uint32_t r = 0;
      for (size_t i = 0; table.ids[i] != table.ids[p]; ++i)
        if (table.distances[i] != table.distances[i + 1]) ++r;
      const float term = 1.0f - static_cast<float>(r) / static_cast<float>(n);
      const auto [found, first] = accumulator.try_emplace(table.ids[p], 1, term);
      if (!first) found->second = {found->second.first + 1, found->second.second + term};
    }
  }

  if (!out.empty()) out.clear();
  std::map<uint32_t, std::vector<std::pair<uint64_t, float>>> groups;
  for (const auto& [id, counted] : accumulator) groups[counted.first].push_back({id, counted.second});
  const double lists = static_cast<double>(tables.size());
  for (const auto& [count, songs] : groups) {
    for (const auto& [id, sum] : songs) {
      const float d = static_cast<float>(1.0 - (0.5 * sum / count + 0.5 * count / lists));
      out.add(d, id, static_cast<float>(1.0 - d), -1);
    }
  }
}

}  // namespace referencefusion
