#pragma once
// Groups classifiers into semantic classes and fuses, per class, the
// per-classifier lists of a query into rank statistics
// (SimilarityCandidates, one per class).
//
// Configured by the "semanticlayer" element: every "cfy" element below it
// names a classifier (attribute "id") of the class named by its parent's "id".

#include <map>
#include <set>
#include <string>
#include <vector>
#include <xercesc/dom/DOMElement.hpp>

#include "similarity/similarity_candidates.h"

class SimilarityList;

class SemanticLayer {
 public:
  SemanticLayer();
  virtual ~SemanticLayer();

  // Adds the classes and members that element describes to those held. A
  // "cfy" without "id", or whose parent has none, contributes the empty
  // string in that place. The element is not kept: its document goes away
  // once the configuration has been read.
  void load(const xercesc::DOMElement& element);

  // out gets one entry per class in ascending class id, filled from the lists
  // of the chain at head whose name belongs to the class: each non-empty list
  // counts once, and each of its songs gets one hit and its dense rank
  // divided by the list's number of distinct distances. With n not 0 each
  // class is pruned to n + 1 songs. Anything out held before is replaced.
  void apply(const SimilarityList& head, std::vector<SimilarityCandidates>& out, unsigned n) const;

  // Semantic class id -> the classifier ids that belong to it.
  std::map<std::string, std::set<std::string>> classes;
};
