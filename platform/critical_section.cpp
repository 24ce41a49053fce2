#include "platform/critical_section.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

namespace platform {

#ifdef _WIN32

struct CriticalSection::Impl {
  Impl() { InitializeCriticalSection(&section); }
  ~Impl() { DeleteCriticalSection(&section); }
  CRITICAL_SECTION section;
};

void CriticalSection::enter() { EnterCriticalSection(&impl->section); }
void CriticalSection::leave() { LeaveCriticalSection(&impl->section); }

#else

struct CriticalSection::Impl {
  std::recursive_mutex mutex;
};

void CriticalSection::enter() { impl->mutex.lock(); }
void CriticalSection::leave() { impl->mutex.unlock(); }

#endif

// The section lives on the heap: it must not move while it exists, and its
// type stays out of the header.
CriticalSection::CriticalSection() : impl(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;

}  // namespace platform
