#pragma once
// A lock for data that several threads may reach: our stand-in for a Windows
// critical section. On Windows it is one (InitializeCriticalSection and its
// siblings); elsewhere a recursive mutex gives the same contract: the thread
// that holds it may enter it again, and must leave it as often as it entered.

#include <memory>

namespace platform {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Waits until no other thread holds the section.
  void enter();
  void leave();

  // Holds the section for its own lifetime, so that a throw on the way out
  // cannot leave it held.
  class Guard {
   public:
    explicit Guard(CriticalSection& section) : section(section) { section.enter(); }
    ~Guard() { section.leave(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    CriticalSection& section;
  };

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace platform
