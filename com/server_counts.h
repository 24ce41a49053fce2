#pragma once
// What keeps the server loaded: the lock count that callers change through
// IClassFactory::LockServer, and the number of live COM objects of the server
// (class factories included). COM may ask whether the library can be unloaded
// from any thread, so both counts are atomic.

#include <cstdint>

namespace vemra_kivet {

class ServerCounts {
 public:
  // TRUE increments the lock count, FALSE decrements it.
  static void lock(bool lock);
  static void objectCreated();
  static void objectDestroyed();
  // A lock is held or an object lives: unloading the library now would leave
  // a caller with code that is gone.
  static bool inUse();
};

}  // namespace vemra_kivet
