#pragma once
// The similarity engine's front for one session: it owns the similarity
// methods built from the similarity-engine configuration, the session store
// with its feature database, the relevance parameterisation and the semantic
// layer. It adapts extracted signatures into the methods' compact form and
// stores them, answers queries by running every method and fusing their
// lists, and loads a stored session with the configuration kept inside it.
//
// Configuration (elements are looked up anywhere in the document; the root's
// name is not examined):
//
//   <similarity>
//     <similaritymethod module="overallsimilarity"> <classifier name=.../> ... </similaritymethod>
//     <similaritymethod module="aspectsimilarity"> <classifier name=.../> ... </similaritymethod>
//     <parameterization min="0" max="1"> <parameter ...> <cfy name=.../> </parameter> </parameterization>
//     <semanticlayer> <class id="..."> <cfy id=.../> </class> </semanticlayer>
//   </similarity>
//
// Methods are kept by module name and always run in ascending name order.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>

#include "session/session.h"
#include "similarity/adapted_signature_map.h"
#include "similarity/parameterization.h"
#include "similarity/query_parameters.h"
#include "similarity/semantic_layer.h"
#include "similarity/similarity_candidates.h"
#include "similarity/similarity_method.h"
#include "similarity/similarity_list.h"

class CAudioSignMulti;
class EventHandler;

class SLManager {
 public:
  using MethodMap = std::map<std::string, std::unique_ptr<SimilarityMethod>>;

  // handler may be null; it is deleted with the manager only when its name is
  // SLManagerDefaultEventHandler's (a handler of another name stays the
  // caller's). A new empty session store.
  explicit SLManager(EventHandler* handler);
  SLManager(const SLManager&) = delete;
  SLManager& operator=(const SLManager&) = delete;
  virtual ~SLManager();

  // Reads the configuration file at path and keeps its bytes in the session
  // globals as "XML", so that a saved session carries it. A missing file (a
  // folder too) fails with "SLManager::loadConfiguration() file not found: " +
  // path and changes nothing. A file that is not well-formed XML is reported on the
  // standard error stream and then fails with a StandardException naming the
  // file and the parser's line, column and message: a session must not go on
  // silently without methods. Failures inside the elements (an unknown
  // classifier type or metric, a model file that cannot be read) pass on.
  void loadConfiguration(const std::string& path);
  // The same from size bytes in memory (not stored).
  void loadConfiguration(const char* text, unsigned size);

  // Attaches every method to the session's database and globals.
  void initMethods();

  // Every method adapts in into the one out; with store, out is added to the
  // feature database. A failure is written to the standard output and the
  // call returns false rather than throwing: the song is then not stored.
  bool adaptSignature(const CAudioSignMulti& in, CAudioSignMulti& out, bool store);
  bool adaptAndStore(const CAudioSignMulti& in);

  // Runs every method over the query, then fuses their lists into out and
  // truncates it to params.resultCount (unless params.noFusion). A query
  // without parameter values leaves the default-excluded classifiers out;
  // with values, every classifier of relevance 0 is left out and every other
  // one taken in. Fails with "SLManager::query() no similarity methods
  // specified or enabled" when there is no method.
  void query(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters& params);
  // The same for a stored song; a query with parameter values reports the
  // relevances on the standard output.
  void query(const uint64_t& id, SimilarityList& out, const QueryParameters& params);
  // The per-classifier lists of a stored song, fused per semantic class.
  void applySemanticLayer(const uint64_t& id, std::vector<SimilarityCandidates>& out, const QueryParameters& params);

  // Loads a session file and, unless metaPath is empty, its metadata file,
  // with the last id of the file's header (Session::load); then reads the
  // configuration stored in it (methods whose name is held already stay) and
  // attaches the methods to the songs that were kept. A database image with
  // entries left out still gives a usable session, and then fails with
  // Session::kCorruptedStream at the end.
  void loadSession(const std::string& path, const std::string& metaPath, uint32_t lastId = 0);

  Session& session() { return *store; }
  const Session& session() const { return *store; }
  const MethodMap& getMethods() const { return methods; }
  const std::set<std::string>& getDefaultExcluded() const { return defaultExcluded; }
  const CParameterization& getParameterization() const { return parameterization; }
  const SemanticLayer& getSemanticLayer() const { return semanticLayer; }
  EventHandler* getEventHandler() const { return eventHandler; }

 private:
  // The texts of the parse failure reports of one source.
  struct Source;

  void parseAndRead(const Source& source, const char* text, unsigned size);
  void readConfiguration(const xercesc::DOMDocument& document);
  template <typename Run>
  void runQuery(SimilarityList& out, const QueryParameters& params, bool reportRelevances, Run&& run);
  AdaptedFeatureDb& database() const;

  MethodMap methods;
  EventHandler* eventHandler;
  // What each method's classifier filter points at between queries.
  const std::set<std::string> baseFilter;
  std::set<std::string> defaultExcluded;
  std::unique_ptr<Session> store;
  CParameterization parameterization;
  SemanticLayer semanticLayer;
  // The candidate map of the running query, whose address the query's
  // parameters hold while the methods run. The manager owns it, so that what
  // the parameters point at lives as long as the manager, not as one call.
  AdaptedSignatureMap queryCandidates;
};
