#pragma once
// The reference counting that every object behind the interface shares.

#include <cstdint>

namespace vemra_kivet {

// Implements release for the interface and adds addRef, which lies behind
// the interface's destructor slot: a compiled host sees only the interface,
// and the library's own objects (the COM wrappers, the session handing out
// its signature's song) take references through addRef.
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

}  // namespace vemra_kivet
