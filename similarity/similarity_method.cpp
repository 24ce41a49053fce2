#include "similarity/similarity_method.h"

#include "metadata/sources/common/standard_exception.h"
#include "signature/audio_sign_multi.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/adapted_partition_tree.h"
#include "similarity/aggregator.h"
#include "similarity/session_globals.h"

SimilarityMethod::SimilarityMethod(const std::string& name, EventHandler* handler)
    : name(name), eventHandler(handler) {}

SimilarityMethod::~SimilarityMethod() = default;

void SimilarityMethod::processById(const uint64_t& id, SimilarityList& out, const QueryParameters& params) {
  process(*attachedDatabase().entry(id), out, params);
}

void SimilarityMethod::collectClassifierIds(std::set<std::string>&) {}

void SimilarityMethod::collectFixedLengthClassifiers(std::set<std::string>& ids) { collectClassifierIds(ids); }

void SimilarityMethod::init(AdaptedFeatureDb& db, SessionGlobals& sessionGlobals) {
  database = &db;
  globals = &sessionGlobals;
  // A tree of an earlier session, or one that loaded only in part, would
  // narrow queries to the wrong songs; without a tree they run over all.
  tree.reset();
  std::set<std::string> classifiers;
  collectClassifierIds(classifiers);
  db.trackReferenceRows(classifiers);
  uint32_t size = 0;
  const char* text = sessionGlobals.getText("TRE", size);
  if (text == nullptr || size == 0) return;
  auto loaded = std::make_unique<AdaptedPartitionTree>(&db, name);
  loaded->load(text, size);
  tree = std::move(loaded);
}

AdaptedSignatureMap::const_iterator SimilarityMethod::partitionBegin(const QueryParameters& params,
                                                                     const BaseVector<float>* query,
                                                                     const std::string& classifier) const {
  return referenceRange(params, query, classifier).begin();
}

AdaptedSignatureMap::const_iterator SimilarityMethod::partitionEnd(const QueryParameters& params,
                                                                   const BaseVector<float>* query,
                                                                   const std::string& classifier) const {
  return referenceRange(params, query, classifier).end();
}

Aggregator* SimilarityMethod::getAggregator() {
  // Made on first use and destroyed when the library unloads.
  static Aggregator aggregator;
  return &aggregator;
}

const AdaptedSignatureMap& SimilarityMethod::referenceRange(const QueryParameters& params,
                                                            const BaseVector<float>* query,
                                                            const std::string& classifier) const {
  const AdaptedSignatureMap& all = databaseEntries();
  if (params.candidates != nullptr) return *params.candidates;
  if (query != nullptr && tree != nullptr && tree->hasPartitions()) return tree->traverse(*query, classifier)->entries;
  return all;
}

const ReferenceRows& SimilarityMethod::referenceRows(const std::string& classifier) const {
  return attachedDatabase().referenceRows(classifier);
}

bool SimilarityMethod::coversDatabase(const AdaptedSignatureMap& range) const { return &range == &databaseEntries(); }

bool SimilarityMethod::isFiltered(const std::string& classifier) const {
  return classifierFilter != nullptr && classifierFilter->count(classifier) != 0;
}

const AdaptedSignatureMap& SimilarityMethod::databaseEntries() const { return attachedDatabase().getEntries(); }

AdaptedFeatureDb& SimilarityMethod::attachedDatabase() const {
  // A query before init has no references; it must not reach a null database.
  if (database == nullptr) throw StandardException("SimilarityMethod::init() not called before a query of " + name);
  return *database;
}
