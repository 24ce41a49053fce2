#include "metadata/sources/featex/module_timer.h"

unsigned CFexModuleTimer::enroll(const std::string& instance, const std::string& type) {
  entries.push_back({instance, type, Clock::duration(0), 0});
  return static_cast<unsigned>(entries.size() - 1);
}

CFexModuleTimer::Clock::duration CFexModuleTimer::total() const {
  Clock::duration sum(0);
  for (const Entry& entry : entries) sum += entry.spent;
  return sum;
}
