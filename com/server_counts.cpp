#include "com/server_counts.h"

#include <atomic>

namespace vemra_kivet {

namespace {

std::atomic<int32_t> lockCount{0};
std::atomic<int32_t> liveObjects{0};

}  // namespace

void ServerCounts::lock(bool lock) {
  if (lock)
    ++lockCount;
  else
    --lockCount;
}

void ServerCounts::objectCreated() { ++liveObjects; }

void ServerCounts::objectDestroyed() { --liveObjects; }

bool ServerCounts::inUse() { return lockCount.load() != 0 || liveObjects.load() != 0; }

}  // namespace vemra_kivet
