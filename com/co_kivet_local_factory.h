#pragma once
// The class factory of CLSID_KivetLocal: makes coKivetLocal objects and
// changes the server lock count.

#include "com/co_object.h"

namespace vemra_kivet {

class coKivetLocalFactory : public coObject<IClassFactory, IID_IClassFactory> {
 public:
  coKivetLocalFactory() = default;

  // CLASS_E_NOAGGREGATION for an outer object, E_POINTER for an out pointer
  // that cannot be written, E_NOINTERFACE for any interface but IKivetLocal,
  // E_OUTOFMEMORY when the object cannot be made.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ~coKivetLocalFactory() override = default;
};

}  // namespace vemra_kivet
