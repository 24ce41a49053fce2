#include "api/vra_result_list.h"

#include <algorithm>
#include <utility>

#include "api/vra_kivet_exception.h"

namespace vemra_kivet {

vraResultList::vraResultList() = default;

vraResultList::~vraResultList() = default;

unsigned vraResultList::size() { return static_cast<unsigned>(results.size()); }

vraResult vraResultList::getResult(unsigned index) { return static_cast<const vraResultList&>(*this).getResult(index); }

vraResult vraResultList::getResult(unsigned index) const {
  if (index >= results.size()) throw vraKivetException(VRA_INDEX_EXCEEDS_DIMENSION);
  return results[index];
}

void vraResultList::append(unsigned id, float score) { results.push_back(vraResult{id, score}); }

void vraResultList::moveToFront(unsigned firstId, unsigned id) {
  const auto entryOf = [this](unsigned wanted) {
    return std::find_if(results.begin(), results.end(), [wanted](const vraResult& r) { return r.id == wanted; });
  };
  const auto first = entryOf(firstId);
  const auto other = entryOf(id);
  if (first != results.end() && other != results.end()) std::iter_swap(first, other);
}

}  // namespace vemra_kivet
