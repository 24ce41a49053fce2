#include "api/vra_id_list.h"

#include <algorithm>

#include "api/vra_kivet_exception.h"

namespace vemra_kivet {

vraIDList::vraIDList() = default;

vraIDList::~vraIDList() = default;

unsigned vraIDList::size() { return static_cast<unsigned>(ids.size()); }

unsigned vraIDList::getId(unsigned index) { return static_cast<const vraIDList&>(*this).getId(index); }

unsigned vraIDList::getId(unsigned index) const {
  if (index >= ids.size()) throw vraKivetException(VRA_INDEX_EXCEEDS_DIMENSION);
  return ids[index];
}

void vraIDList::add(unsigned id) {
  if (!contains(id)) ids.push_back(id);
}

void vraIDList::remove(unsigned id) {
  const auto entry = std::find(ids.begin(), ids.end(), id);
  if (entry != ids.end()) ids.erase(entry);
}

bool vraIDList::contains(unsigned id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

}  // namespace vemra_kivet
