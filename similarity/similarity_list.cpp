#include "similarity/similarity_list.h"

#include <iterator>
#include <utility>

using Base = std::multimap<float, SimilarityListItem>;

SimilarityList::SimilarityList(const std::string& name, unsigned capacity)
    : name(name), capacity(static_cast<int32_t>(capacity)) {}

SimilarityList::~SimilarityList() { deleteChain(); }

void SimilarityList::clear() {
  capacity = kDefaultCapacity;
  name.clear();
  Base::clear();
  deleteChain();
}

void SimilarityList::add(float distance, const uint64_t& id, float weight, int aux) {
  const int64_t count = static_cast<int64_t>(size());
  if (count >= capacity && !empty()) {
    const float worst = std::prev(end())->first;
    if (distance > worst) return;
    // Equal to the worst of a list at its capacity: it would go in after the
    // worst and straight out again.
    if (distance == worst && count == capacity) return;
  }
  emplace(distance, SimilarityListItem{id, weight, static_cast<int32_t>(aux)});
  keepFirst(capacity);
}

void SimilarityList::truncate(int n) {
  capacity = n;
  keepFirst(n);
}

void SimilarityList::keepCumulativeFraction(float fraction) {
  if (empty()) return;
  // Single precision throughout, as the sums were always taken.
  float total = 0.0f;
  for (const auto& entry : *this) total += entry.first;
  const float threshold = fraction * total;
  float running = 0.0f;
  int32_t kept = 0;
  auto position = begin();
  // An exact match is never cut: a list of nothing but exact matches (a
  // query by a copy of every song it is compared with) is kept whole, where
  // the threshold of a zero sum would keep none of it.
  while (position != end() && (running < threshold || position->first == 0.0f)) {
    running += position->first;
    ++position;
    ++kept;
  }
  capacity = kept;
  erase(position, end());
}

SimilarityList* SimilarityList::appendList() {
  SimilarityList* last = this;
  while (last->next != nullptr) last = last->next;
  last->next = new SimilarityList(std::string(), kDefaultCapacity);
  return last->next;
}

unsigned SimilarityList::chainLength() const {
  unsigned length = 0;
  for (const SimilarityList* list = next; list != nullptr; list = list->next) ++length;
  return length;
}

unsigned SimilarityList::distinctDistanceCount() const {
  if (empty()) return 0;
  unsigned count = 1;
  for (auto previous = begin(), entry = std::next(begin()); entry != end(); previous = entry++)
    if (previous->first != entry->first) ++count;
  return count;
}

void SimilarityList::keepFirst(int32_t n) {
  const size_t limit = n < 0 ? 0 : static_cast<size_t>(n);
  while (size() > limit) erase(std::prev(end()));
}

void SimilarityList::deleteChain() {
  // One by one rather than each destructor deleting the next, so that a long
  // chain cannot exhaust the stack.
  SimilarityList* list = std::exchange(next, nullptr);
  while (list != nullptr) {
    SimilarityList* after = std::exchange(list->next, nullptr);
    delete list;
    list = after;
  }
}
