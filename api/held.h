#pragma once
// Holds an interface object the way a host does: it is released, not
// deleted, when the holder lets go of it.

#include <memory>

namespace vemra_kivet {

struct Releaser {
  template <typename Object>
  void operator()(Object* object) const {
    object->release();
  }
};

template <typename Object>
using Held = std::unique_ptr<Object, Releaser>;

}  // namespace vemra_kivet
