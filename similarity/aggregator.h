#pragma once
// Fusion of the chain of per-classifier lists of one query into one ranked
// list. Only rank positions count, not the distance values: a song met in
// more lists and at better ranks comes first.
//
// One process-wide instance serves every query; the similarity-method
// interface creates it on first use and hands it out. It keeps nothing
// between calls, so queries of several threads fuse through it at once.

#include "similarity/similarity_list.h"

class Aggregator {
 public:
  virtual ~Aggregator();

  // Fuses the chain that starts at head into out; head and out may be the
  // same list (everything is read from the chain before out changes). A
  // single non-empty list is ranked alone, as fusion ranks any number of
  // them: a configuration of one classifier answers too. A chain without a
  // non-empty list throws StandardException and leaves out as it was.
  // A non-empty out is cleared first (capacity 1000, no name, no chain); an
  // empty one keeps its capacity, name and chain.
  void aggregate(SimilarityList& head, SimilarityList& out) const;
};
