#include "com/co_kivet_local_factory.h"

#include <new>

#include "com/co_kivet_local.h"

namespace vemra_kivet {

HRESULT coKivetLocalFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (!isWritable(object)) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(iid, IID_IKivetLocal)) return E_NOINTERFACE;
  auto* local = new (std::nothrow) coKivetLocal;
  if (local == nullptr) return E_OUTOFMEMORY;
  // The caller's reference is the object's first one.
  *object = static_cast<IKivetLocal*>(local);
  return S_OK;
}

HRESULT coKivetLocalFactory::LockServer(BOOL lock) {
  ServerCounts::lock(lock != FALSE);
  return S_OK;
}

}  // namespace vemra_kivet
