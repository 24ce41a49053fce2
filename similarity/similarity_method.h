#pragma once
// The interface of a similarity method: it adapts an extracted signature into
// its own compact signature, which the session stores in the feature
// database, and it answers a query by comparing an adapted query signature
// with a range of stored references, adding (distance, id, weight) entries to
// a SimilarityList.
//
// The reference range of a query is, in this order of preference: the
// query's candidate set; the leaf of the method's partition tree that the
// query vector reaches; every signature of the database.

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "metadata/sources/vmtl/base_vector.h"
#include "similarity/adapted_signature_map.h"
#include "similarity/query_parameters.h"
#include "similarity/reference_row_cache.h"
#include "similarity/similarity_list.h"

class AdaptedFeatureDb;
class AdaptedPartitionTree;
class Aggregator;
class CAudioSignMulti;
class EventHandler;
class SessionGlobals;

class SimilarityMethod {
 public:
  SimilarityMethod(const std::string& name, EventHandler* handler);
  SimilarityMethod(const SimilarityMethod&) = delete;
  SimilarityMethod& operator=(const SimilarityMethod&) = delete;
  virtual ~SimilarityMethod();

  // Looks the id up in the feature database (its "does not exist" failure
  // passes on, nothing added) and processes the stored signature.
  virtual void processById(const uint64_t& id, SimilarityList& out, const QueryParameters& params);
  virtual void process(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters& params) = 0;
  virtual void adapt(const CAudioSignMulti& in, CAudioSignMulti& out) = 0;
  // Inserts the names of the method's classifiers; none here.
  virtual void collectClassifierIds(std::set<std::string>& ids);
  // Inserts the names of the classifiers whose vectors are compared only with
  // vectors of their own length, so that every song's vector of such a
  // classifier must be as long as every other song's: here, all of them.
  virtual void collectFixedLengthClassifiers(std::set<std::string>& ids);

  // Attaches the method to a session's database and globals (neither owned),
  // has the database copy its classifiers' reference rows (one walk, so that
  // the first query after a load finds them made) and, when the globals hold
  // a "TRE" text, loads the method's partition tree from it. A tree that
  // fails to load leaves the method attached without a tree, and its failure
  // passes on.
  void init(AdaptedFeatureDb& database, SessionGlobals& globals);

  // The first and past-the-end reference of a query; query is the query
  // vector (null: no tree descent), classifier the partition to descend.
  AdaptedSignatureMap::const_iterator partitionBegin(const QueryParameters& params, const BaseVector<float>* query,
                                                     const std::string& classifier) const;
  AdaptedSignatureMap::const_iterator partitionEnd(const QueryParameters& params, const BaseVector<float>* query,
                                                   const std::string& classifier) const;

  // The process-wide fusion object, made on the first call.
  static Aggregator* getAggregator();

  const std::string& getName() const { return name; }
  // An exclusion set, not owned: a classifier it names takes no part in
  // process. Null: none.
  void setClassifierFilter(const std::set<std::string>* filter) { classifierFilter = filter; }
  // Null without a tree.
  const AdaptedPartitionTree* getPartitionTree() const { return tree.get(); }

 protected:
  // The map partitionBegin and partitionEnd run over. Fails with a
  // StandardException before init.
  const AdaptedSignatureMap& referenceRange(const QueryParameters& params, const BaseVector<float>* query,
                                            const std::string& classifier) const;
  bool isFiltered(const std::string& classifier) const;
  // The database's copy of a classifier's reference rows, in step with it.
  const ReferenceRows& referenceRows(const std::string& classifier) const;
  // Whether range is the whole database (a scan may then run over all rows).
  bool coversDatabase(const AdaptedSignatureMap& range) const;

  // Calls visit(row index) for every reference of range, in ascending id
  // order. References are found by id: one that the database no longer holds
  // (a partition-tree leaf keeps the ids it was loaded with) is passed over.
  template <typename Visit>
  void forEachReference(const AdaptedSignatureMap& range, const ReferenceRows& rows, Visit&& visit) const;

  std::string name;
  AdaptedFeatureDb* database = nullptr;
  std::unique_ptr<AdaptedPartitionTree> tree;
  EventHandler* eventHandler;
  SessionGlobals* globals = nullptr;
  const std::set<std::string>* classifierFilter = nullptr;

 private:
  AdaptedFeatureDb& attachedDatabase() const;
  const AdaptedSignatureMap& databaseEntries() const;
};

template <typename Visit>
void SimilarityMethod::forEachReference(const AdaptedSignatureMap& range, const ReferenceRows& rows,
                                        Visit&& visit) const {
  if (coversDatabase(range)) {
    for (unsigned i = 0; i < rows.size(); ++i)
      if (!rows.isRemoved(i)) visit(i);
    return;
  }
  unsigned at = 0;
  for (const auto& entry : range) {
    at = rows.lowerBound(entry.first, at);
    if (at == rows.size()) return;
    if (rows.id(at) == entry.first && !rows.isRemoved(at)) visit(at);
  }
}
