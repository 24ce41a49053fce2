#pragma once
// Buffer sizes that modules take from their settings are checked against the
// largest block the 32-bit target could ever allocate (its user address space
// is 2 GiB) before anything is allocated. A wild setting then fails as it did
// there, with std::bad_alloc, instead of claiming gigabytes of a 64-bit
// machine's memory.

#include <cstddef>
#include <cstdint>
#include <new>

inline constexpr uint64_t kLargestAllocationBytes = uint64_t(1) << 31;

inline void requireAllocatable(uint64_t elementCount, size_t elementSize) {
  if (elementCount >= kLargestAllocationBytes / elementSize) throw std::bad_alloc();
}
