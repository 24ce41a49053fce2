#pragma once
// The engine's result container: a bounded list of candidates kept best first
// (ascending distance), entries of equal distance in the order they arrived.
// Lists are chained: a method that serves several classifiers writes one list
// per classifier behind the first, and the head owns the lists behind it.

#include <cstdint>
#include <map>
#include <string>

struct SimilarityListItem {
  uint64_t id = 0;
  // The score handed to the host: higher is more similar.
  float weight = 0.0f;
  // Every producer stores -1; nothing reads it.
  int32_t aux = -1;
};

class SimilarityList : public std::multimap<float, SimilarityListItem> {
 public:
  // Working, chained and fusion lists are all made with an empty name and 1000.
  static constexpr int32_t kDefaultCapacity = 1000;

  // capacity is kept as a signed 32-bit value: 4294967295 reads as -1, which
  // (like any negative capacity) keeps nothing.
  SimilarityList(const std::string& name, unsigned capacity);
  // Deletes the lists behind this one.
  virtual ~SimilarityList();
  SimilarityList(const SimilarityList&) = delete;
  SimilarityList& operator=(const SimilarityList&) = delete;

  // Capacity back to 1000, name emptied, entries removed, the chain deleted.
  virtual void clear();

  // Inserts after every entry of equal distance and drops the surplus from
  // the end: a full list takes only an entry strictly better than its worst.
  void add(float distance, const uint64_t& id, float weight, int aux);
  // capacity := n, then every entry from position n on is removed.
  void truncate(int n);
  // Keeps the shortest head whose distances, summed in list order, reach
  // fraction of the total, and every entry of distance 0; capacity becomes
  // the length kept.
  void keepCumulativeFraction(float fraction);

  // A new empty list (no name, capacity 1000) at the end of the chain.
  SimilarityList* appendList();
  // The number of lists behind this one.
  unsigned chainLength() const;
  // 0 for an empty list, else the number of distinct distance values.
  unsigned distinctDistanceCount() const;

  SimilarityList* nextList() { return next; }
  const SimilarityList* nextList() const { return next; }

  // The classifier or semantic class whose answers the list holds.
  std::string name;
  int32_t capacity;
  // 1.0; nothing in the engine changes it.
  float weight = 1.0f;

 private:
  // Removes entries from the end until at most n remain (n < 0: all).
  void keepFirst(int32_t n);
  void deleteChain();

  // Owned: the next list of the chain.
  SimilarityList* next = nullptr;
};
