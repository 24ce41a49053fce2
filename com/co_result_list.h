#pragma once
// The COM object of a query's result list (IResultList): owns the result list
// of the programming interface and forwards each method to it.

#include "api/held.h"
#include "api/kivet.h"
#include "com/co_object.h"
#include "com/kivet_local.h"

namespace vemra_kivet {

class coResultList : public coObject<IResultList, IID_IResultList> {
 public:
  // Takes over the caller's reference on `results`.
  explicit coResultList(vraIResultList* results) : results(results) {}

  HRESULT STDMETHODCALLTYPE GetCount(unsigned int* count) override;
  // Code 10 for an index not below the count.
  HRESULT STDMETHODCALLTYPE GetAt(unsigned int index, unsigned int* id, float* score) override;

 private:
  ~coResultList() override = default;

  Held<vraIResultList> results;
};

}  // namespace vemra_kivet
