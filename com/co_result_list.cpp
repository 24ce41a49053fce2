#include "com/co_result_list.h"

namespace vemra_kivet {

HRESULT coResultList::GetCount(unsigned int* count) {
  return comCallOut(count, [&] { *count = results->size(); });
}

HRESULT coResultList::GetAt(unsigned int index, unsigned int* id, float* score) {
  if (!isWritable(score)) return E_POINTER;
  *score = 0.0f;
  return comCallOut(id, [&] {
    const vraResult result = results->getResult(index);
    *id = result.id;
    *score = result.score;
  });
}

}  // namespace vemra_kivet
