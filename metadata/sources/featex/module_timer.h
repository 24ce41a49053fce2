#pragma once
// A measurement of where the frames' time goes: set on a FeatureExtractor, it
// receives the time each module spent in its frame processing, summed over the
// frames. Meant for benchmarks; a graph without a timer checks one null
// pointer per module and frame and takes no time.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class CFexModuleTimer {
 public:
  using Clock = std::chrono::steady_clock;

  struct Entry {
    std::string instance;  // the node's "instance"
    std::string type;      // the module type
    Clock::duration spent{0};
    uint64_t frames = 0;  // frames the module processed
  };

  // A new entry for one module; its index is what add takes.
  unsigned enroll(const std::string& instance, const std::string& type);
  void add(unsigned entry, Clock::duration spent) {
    entries[entry].spent += spent;
    ++entries[entry].frames;
  }

  // In the order the modules were enrolled (the graph's, depth first).
  const std::vector<Entry>& getEntries() const { return entries; }
  Clock::duration total() const;

 private:
  std::vector<Entry> entries;
};
