#pragma once
// The reference counting that every object behind the interface shares.

#include <cstdint>
#include <memory>
#include <utility>

namespace vemra_kivet {

// Implements release for the interface and adds addRef, which lies behind
// the interface's destructor slot: a compiled host sees only the interface,
// and the library's own objects (the COM wrappers, a signature handing out
// its song) take references through addRef.
template <typename Interface>
class vraReferenceCounted : public Interface {
 public:
  // Destroys the object when the last reference goes.
  void release() override {
    if (--refCount == 0) delete this;
  }
  virtual void addRef() { ++refCount; }

 protected:
  vraReferenceCounted() = default;

 private:
  // The count starts at 1: the creator owns the object it receives.
  uint32_t refCount = 1;
};

// A new object of the factory functions: made, initialised with args and
// handed out with its one reference; an initialisation that fails destroys
// it and passes on.
template <typename Object, typename... Args>
Object* createInitialised(Args&&... args) {
  auto object = std::make_unique<Object>();
  object->init(std::forward<Args>(args)...);
  return object.release();
}

}  // namespace vemra_kivet
