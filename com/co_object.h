#pragma once
// The IUnknown part shared by every COM object of the server: the reference
// count, QueryInterface for IUnknown and the object's own interface, and the
// live-object count that keeps the library loaded while the object exists.
//
// A class whose objects must be told apart from a host's implementation of
// the same interface (a signature handed back to a session, say) names a
// private identifier that only its objects answer; ownObject asks for it.

#include <memory>

#include "com/com_result.h"
#include "com/server_counts.h"
#include "platform/com_platform.h"

namespace vemra_kivet {

template <typename Interface, const IID& interfaceId, const IID* privateId = nullptr>
class coObject : public Interface {
 public:
  using InterfaceType = Interface;

  coObject(const coObject&) = delete;
  coObject& operator=(const coObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!isWritable(object)) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, interfaceId) ||
        (privateId != nullptr && IsEqualGUID(iid, *privateId))) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++refCount; }

  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG count = --refCount;
    if (count == 0) delete this;
    return count;
  }

 protected:
  // The count starts at 1: the creator owns the object it receives.
  coObject() { ServerCounts::objectCreated(); }
  virtual ~coObject() { ServerCounts::objectDestroyed(); }

 private:
  ULONG refCount = 1;
};

// Holds one reference to a COM object, released when the holder lets go.
struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Object>
using ComHeld = std::unique_ptr<Object, ComReleaser>;

// The server's own object behind an interface pointer, or null for a null
// pointer or another implementation of the interface. The pointer's owner
// keeps its reference; none is added.
template <typename Implementation>
Implementation* ownObject(IUnknown* object, REFIID privateId) {
  if (object == nullptr) return nullptr;
  void* own = nullptr;
  if (FAILED(object->QueryInterface(privateId, &own)) || own == nullptr) return nullptr;
  object->Release();
  return static_cast<Implementation*>(static_cast<typename Implementation::InterfaceType*>(own));
}

}  // namespace vemra_kivet
