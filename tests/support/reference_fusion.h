#pragma once
// The fusion of a chain of candidate lists written as literally as it is
// described: a rank table per list, and for every position a walk from the
// table's start to the first occurrence of its song, counting the changes of
// distance on the way. Quadratic in the list length; the baseline that the
// aggregator's one-pass ranks are timed against.

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/similarity_list.h"

namespace referencefusion {

inline void aggregate(SimilarityList& head, SimilarityList& out) {
  std::vector<std::vector<std::pair<uint64_t, float>>> tables;  // per list: (song id, distance)
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
    if (list->empty()) continue;
    tables.emplace_back();
    for (const auto& entry : *list) tables.back().emplace_back(entry.second.id, entry.first);
  }
  if (tables.empty())
    throw StandardException(
        "Aggregator::aggregate() need more than one list to apply aggregation, or contributing lists");

  std::map<uint64_t, std::pair<uint32_t, float>> accumulator;  // song id -> (count, sum)
  for (const auto& table : tables) {
    for (const auto& [id, distance] : table) {
      uint32_t r = 0;
      for (size_t i = 0; table[i].first != id; ++i) r += table[i].second != table[i + 1].second;
      const float term = 1.0f - static_cast<float>(r) / static_cast<float>(table.size());
      const auto [found, first] = accumulator.try_emplace(id, 1, term);
      if (!first) found->second = {found->second.first + 1, found->second.second + term};
    }
  }

  if (!out.empty()) out.clear();
  std::map<uint32_t, std::vector<std::pair<uint64_t, float>>> groups;  // count -> (song id, sum)
  for (const auto& [id, counted] : accumulator) groups[counted.first].emplace_back(id, counted.second);
  for (const auto& [count, songs] : groups) {
    for (const auto& [id, sum] : songs) {
      const float d = static_cast<float>(1.0 - (0.5 * sum / count + 0.5 * count / static_cast<double>(tables.size())));
      out.add(d, id, static_cast<float>(1.0 - d), -1);
    }
  }
}

}  // namespace referencefusion
