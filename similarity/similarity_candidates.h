#pragma once
// Rank statistics of the songs met in the lists of one semantic class: per
// song, in how many lists it was met and the sum of its normalised rank
// positions (0 for the best rank). toList turns them into one fused list.

#include <cstdint>
#include <map>
#include <string>

class SimilarityList;

class SimilarityCandidates {
 public:
  struct Entry {
    uint32_t hits = 0;
    float sum = 0.0f;
  };

  SimilarityCandidates();
  SimilarityCandidates(const SimilarityCandidates& other);
  SimilarityCandidates& operator=(const SimilarityCandidates& other);
  virtual ~SimilarityCandidates();

  // Adds other's hits and sums song by song, and its list count.
  void add(const SimilarityCandidates& other);
  // The same with hits and the list count scaled by w + 1 (rounded up); the
  // sums are added unscaled. Nothing when other has no entries or w is -1.
  void addWeighted(const SimilarityCandidates& other, float w);
  // One entry per song, in ascending id: distance 0.5 (1 - hits / lists) +
  // 0.5 sum / hits, weight 1 - distance. A song without hits, or an object
  // without lists, has no rank to fuse and adds nothing.
  void toList(SimilarityList& out) const;
  // Keeps the songs at positions 0 to n of the fused list (and those beyond
  // its 1000 entries); the others leave entries.
  void prune(unsigned n);

  // The semantic class collected for.
  std::string name;
  // Number of contributing lists.
  uint32_t lists = 0;
  std::map<uint64_t, Entry> entries;
};
