#pragma once
// The labelled stretches of a song, from its "SEGMENTATION" feature (one row
// per segment: column 1 the end in seconds, column 2 the label as a number),
// from which the similarity methods build one row per label besides the
// whole-song row. Without usable segments the list holds one whole-song
// segment labelled "-1".

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class CAudioSignMulti;

struct SegmentRecord {
  // In whole seconds; start is the previous record's end, 0 for the first.
  uint32_t start = 0;
  uint32_t end = 0;
  std::string label;
  uint32_t tag = 0;

  std::string getLabel() const { return label; }
};

class SegmentList {
 public:
  explicit SegmentList(const CAudioSignMulti& signature);

  // The distinct labels, ascending as strings.
  std::set<std::string> labels() const;
  const std::vector<SegmentRecord>& records() const { return segments; }

 private:
  void append(uint32_t end, const std::string& label);

  std::vector<SegmentRecord> segments;
};

// The value as a default-formatted output stream writes it (six significant
// digits, no trailing zeros): 3.0 gives "3", 2.5 gives "2.5".
std::string floatToString(float value);
