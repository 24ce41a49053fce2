#include "com/co_id_list.h"

namespace vemra_kivet {

HRESULT coIDList::GetCount(unsigned int* count) {
  return comCallOut(count, [&] { *count = ids->size(); });
}

HRESULT coIDList::GetAt(unsigned int index, unsigned int* id) {
  return comCallOut(id, [&] { *id = ids->getId(index); });
}

HRESULT coIDList::Add(unsigned int id) {
  return comCall([&] { ids->add(id); });
}

HRESULT coIDList::Remove(unsigned int id) {
  return comCall([&] { ids->remove(id); });
}

HRESULT coIDList::Contains(unsigned int id, BOOL* contains) {
  return comCallOut(contains, [&] { *contains = ids->contains(id) ? TRUE : FALSE; });
}

}  // namespace vemra_kivet
