#include "session/sl_manager.h"

#include <iostream>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/util/XMLException.hpp>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "session/event_handler.h"
#include "signature/audio_sign_multi.h"
#include "similarity/aggregator.h"
#include "similarity/aspect_similarity.h"
#include "similarity/dom_support.h"
#include "similarity/overall_similarity.h"

using xercesc::DOMElement;
using xercesc::DOMNodeList;

namespace {

const char kAdaptEvent[] = "SLManager::adaptSignature";

std::vector<const DOMElement*> elementsNamed(const xercesc::DOMDocument& document, const char* name) {
  std::vector<const DOMElement*> elements;
  const DOMNodeList* nodes = document.getElementsByTagName(toXmlString(name).c_str());
  for (XMLSize_t i = 0; i < nodes->getLength(); ++i) elements.push_back(static_cast<const DOMElement*>(nodes->item(i)));
  return elements;
}

std::unique_ptr<SimilarityMethod> makeMethod(const std::string& module, const DOMElement& element,
                                             EventHandler* handler) {
  if (module == "aspectsimilarity") return std::make_unique<AspectSimilarity>(element, handler);
  if (module == "overallsimilarity") return std::make_unique<OverallSimilarity>(element, handler);
  return nullptr;
}

// Points a method's classifier filter at a query's set for as long as the
// method runs, and back at the base filter however the run ends.
class FilterScope {
 public:
  FilterScope(SimilarityMethod& method, const std::set<std::string>& filter, const std::set<std::string>& base)
      : method(method), base(base) {
    method.setClassifierFilter(&filter);
  }
  ~FilterScope() { method.setClassifierFilter(&base); }
  FilterScope(const FilterScope&) = delete;
  FilterScope& operator=(const FilterScope&) = delete;

 private:
  SimilarityMethod& method;
  const std::set<std::string>& base;
};

// Fills the manager's candidate map for one query and points the parameters
// at it while the query runs; however the query ends, the parameters let go
// of the map and the map is emptied. A map that an unknown id left half built
// is emptied by the next query before it is filled again.
class CandidateScope {
 public:
  CandidateScope(const QueryParameters& params, AdaptedSignatureMap& candidates, const AdaptedFeatureDb* database)
      : params(params), candidates(candidates) {
    candidates.clear();
    if (params.candidateIds.empty()) return;
    for (const uint64_t id : params.candidateIds) candidates.emplace(id, database->entry(id));
    params.candidates = &candidates;
  }
  ~CandidateScope() {
    params.candidates = nullptr;
    candidates.clear();
  }
  CandidateScope(const CandidateScope&) = delete;
  CandidateScope& operator=(const CandidateScope&) = delete;

 private:
  const QueryParameters& params;
  AdaptedSignatureMap& candidates;
};

}  // namespace

struct SLManager::Source {
  // Names the source in the StandardException of a failed parse.
  std::string name;
  // Names it in the lines on the standard error stream, after "parsing":
  // ": 'PATH'" for a file, " memory config" for the stored configuration.
  std::string shown;
};

SLManager::SLManager(EventHandler* handler) : eventHandler(handler), store(std::make_unique<Session>()) {}

SLManager::~SLManager() {
  methods.clear();
  store.reset();
  if (eventHandler != nullptr && eventHandler->getName() == SLManagerDefaultEventHandler::kName) delete eventHandler;
}

AdaptedFeatureDb& SLManager::database() const {
  AdaptedFeatureDb* db = store->getDatabase();
  // Only a store whose load failed before its database image has none.
  if (db == nullptr) throw StandardException("SLManager: the session holds no feature database");
  return *db;
}

void SLManager::loadConfiguration(const std::string& path) {
  // A folder is no file on any system, though some open one as a stream.
  if (!fileExists(path))
    throw StandardException("SLManager::loadConfiguration() file not found: " + path);
  store->getGlobals().setTextFromFile("XML", path);
  const Source source{"file " + path, ": '" + path + "'"};
  // The bytes just kept are the ones parsed: the file is read once, as the
  // system names it (the parser would resolve some paths as relative URIs).
  uint32_t size = 0;
  const char* text = store->getGlobals().getText("XML", size);
  parseAndRead(source, text != nullptr ? text : "", size);
}

void SLManager::loadConfiguration(const char* text, unsigned size) {
  static const Source source{"the stored configuration", " memory config"};
  parseAndRead(source, text, size);
}

void SLManager::parseAndRead(const Source& source, const char* text, unsigned size) {
  std::unique_ptr<DomParser> parser;
  try {
    parser = std::make_unique<DomParser>();
  } catch (const xercesc::XMLException&) {
    std::cerr << "Error during initialization! :\n" << std::endl;
    throw StandardException("SLManager::loadConfiguration() the XML parser could not be initialised");
  }
  // Xerces' exceptions keep their texts in the parser's memory: everything
  // the failure needs is taken while the parser lives.
  const xercesc::DOMDocument* document = nullptr;
  std::string failure;
  try {
    document = &parser->parseMemory(text, size);
  } catch (const DomParseError& e) {
    std::cerr << "\nDOM Error during parsing" << source.shown << "\nDOMException code is:  " << e.code << std::endl;
    failure = e.report();
  } catch (const xercesc::DOMException& e) {
    std::cerr << "\nDOM Error during parsing" << source.shown << "\nDOMException code is:  " << e.code << std::endl;
    failure = "DOM error " + std::to_string(e.code) + ": " + toStdString(e.getMessage());
  } catch (const xercesc::XMLException& e) {
    std::cerr << "\nError during parsing" << source.shown << "\nException message is:  \n" << std::endl;
    failure = "line " + std::to_string(e.getSrcLine()) + ": " + toStdString(e.getMessage());
  } catch (...) {
    std::cerr << "\nUnexpected exception during parsing" << source.shown << '\n' << std::flush;
    failure = "unexpected failure";
  }
  if (document == nullptr)
    throw StandardException("SLManager::loadConfiguration() " + source.name + " is not well-formed XML: " + failure);
  readConfiguration(*document);
}

void SLManager::readConfiguration(const xercesc::DOMDocument& document) {
  for (const DOMElement* element : elementsNamed(document, "similaritymethod")) {
    // An element without a module names no method.
    if (!element->hasAttributes() || !hasAttribute(*element, "module")) continue;
    const std::string module = attributeText(*element, "module");
    // The method first read under a name stays; a later one of that name is
    // not even built (it could cost a model file's reading).
    if (methods.count(module) != 0) continue;
    if (std::unique_ptr<SimilarityMethod> method = makeMethod(module, *element, eventHandler))
      methods.emplace(module, std::move(method));
  }

  const std::vector<const DOMElement*> parameterizations = elementsNamed(document, "parameterization");
  if (!parameterizations.empty()) {
    std::set<std::string> classifiers;
    for (const DOMElement* classifier : elementsNamed(document, "classifier"))
      if (classifier->hasAttributes()) classifiers.insert(attributeText(*classifier, "name"));
    parameterization.init(*parameterizations.front(), classifiers);
    defaultExcluded = parameterization.selectClassifiers();
  }

  const std::vector<const DOMElement*> layers = elementsNamed(document, "semanticlayer");
  if (layers.size() == 1 && layers.front()->hasChildNodes())
    semanticLayer.load(*layers.front());
  else
    std::cout << "SLManager::loadConfiguration() more than one or no semantic layer given!" << std::endl;
}

void SLManager::initMethods() {
  for (auto& entry : methods) entry.second->init(database(), store->getGlobals());
}

bool SLManager::adaptSignature(const CAudioSignMulti& in, CAudioSignMulti& out, bool store) {
  bool adapted = false;
  try {
    if (eventHandler != nullptr) eventHandler->startEvent(kAdaptEvent);
    for (auto& entry : methods) entry.second->adapt(in, out);
    if (store) database().add(out);
    adapted = true;
  } catch (const char* text) {
    std::cout << text << std::endl;
  } catch (const std::string& text) {
    std::cout << text << std::endl;
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  } catch (...) {
    std::cout << "Exception in SLManager::adaptSignature()" << std::endl;
  }
  if (eventHandler != nullptr) eventHandler->stopEvent(kAdaptEvent);
  return adapted;
}

bool SLManager::adaptAndStore(const CAudioSignMulti& in) {
  CAudioSignMulti adapted;
  return adaptSignature(in, adapted, true);
}

template <typename Run>
void SLManager::runQuery(SimilarityList& out, const QueryParameters& params, bool reportRelevances, Run&& run) {
  if (methods.empty()) throw StandardException("SLManager::query() no similarity methods specified or enabled");
  std::set<std::string> filter = baseFilter;
  if (params.parameters.empty()) {
    filter.insert(defaultExcluded.begin(), defaultExcluded.end());
  } else {
    const std::map<std::string, float> relevances = parameterization.getRelevances(params.parameters, true);
    if (reportRelevances) {
      std::cout << "Parameterization" << std::endl;
      for (const auto& [name, relevance] : relevances) std::cout << "  " << name << "  " << relevance << std::endl;
    }
    // Relevance decides alone here, whatever the configuration's minimum
    // says; a NaN counts as a relevance.
    for (const auto& [name, relevance] : relevances) {
      if (relevance == 0.0f)
        filter.insert(name);
      else
        filter.erase(name);
    }
  }
  const CandidateScope candidates(params, queryCandidates, params.candidateIds.empty() ? nullptr : &database());
  for (auto& entry : methods) {
    const FilterScope scope(*entry.second, filter, baseFilter);
    run(*entry.second);
  }
  if (!params.noFusion) {
    SimilarityMethod::getAggregator()->aggregate(out, out);
    if (params.resultCount != 0) out.truncate(static_cast<int>(params.resultCount));
  }
}

void SLManager::query(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters& params) {
  runQuery(out, params, false, [&](SimilarityMethod& method) {
    if (params.adaptedQuery) {
      method.process(query, out, params);
      return;
    }
    CAudioSignMulti adapted;
    method.adapt(query, adapted);
    method.process(adapted, out, params);
  });
}

void SLManager::query(const uint64_t& id, SimilarityList& out, const QueryParameters& params) {
  runQuery(out, params, true, [&](SimilarityMethod& method) { method.processById(id, out, params); });
}

void SLManager::applySemanticLayer(const uint64_t& id, std::vector<SimilarityCandidates>& out,
                                   const QueryParameters& params) {
  SimilarityList lists("", SimilarityList::kDefaultCapacity);
  const CandidateScope candidates(params, queryCandidates, params.candidateIds.empty() ? nullptr : &database());
  for (auto& entry : methods) entry.second->processById(id, lists, params);
  semanticLayer.apply(lists, out, params.resultCount);
}

void SLManager::loadSession(const std::string& path, const std::string& metaPath, uint32_t lastId) {
  bool corrupted = false;
  try {
    store->load(path, metaPath, lastId);
  } catch (const StandardException& e) {
    if (std::string(e.what()) != Session::kCorruptedStream) throw;
    corrupted = true;
  }
  // A session saved without a configuration has none to read.
  uint32_t size = 0;
  const char* text = store->getGlobals().getText("XML", size);
  if (text != nullptr) loadConfiguration(text, size);
  initMethods();
  if (corrupted) throw StandardException(Session::kCorruptedStream);
}
