#pragma once
// The options of one query, handed by the similarity manager to every
// similarity method.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "similarity/adapted_signature_map.h"

class QueryStrategy {
 public:
  virtual ~QueryStrategy();

  // Not 0: the methods return at once and add nothing.
  uint32_t skip = 0;
  // The engine reads only skip; index and steps are carried as they are.
  int32_t index = -1;
  std::vector<std::string> steps;
};

class QueryParameters {
 public:
  QueryParameters();
  // Takes a copy of the query's parameter values.
  explicit QueryParameters(const std::map<std::string, float>& parameters);
  virtual ~QueryParameters();

  // Parameter values by name; when there are any, the manager turns them into
  // classifier relevances.
  std::map<std::string, float> parameters;
  QueryStrategy strategy;
  // 0: no fixed length; else the capacity of every per-classifier list and
  // the length of the fused list.
  uint32_t resultCount = 0;
  // The query signature is adapted already and goes to the methods as it is.
  bool adaptedQuery = false;
  // The chain of per-classifier lists is left unfused.
  bool noFusion = false;
  // Song ids to which the query is restricted.
  std::vector<uint64_t> candidateIds;
  // Not owned. The manager builds it from candidateIds for the length of one
  // query, while the parameters are in the methods' hands as const; when set
  // it is every method's reference range.
  mutable const AdaptedSignatureMap* candidates = nullptr;
};
