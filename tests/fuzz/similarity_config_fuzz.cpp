// The DOM side of the similarity-engine configuration: any text either parses
// or fails with the DOM LS parse error (or another Xerces exception); a parsed
// document's "parameterization" and "semanticlayer" elements are read (or
// fail with StandardException) and used as a query would use them.

#include <cstdint>
#include <set>
#include <string>
#include <vector>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/util/XMLException.hpp>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/dom_support.h"
#include "similarity/parameterization.h"
#include "similarity/semantic_layer.h"
#include "similarity/similarity_list.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::vector<const xercesc::DOMElement*> elementsNamed(const xercesc::DOMDocument& document, const char* name) {
  std::vector<const xercesc::DOMElement*> elements;
  const xercesc::DOMNodeList* nodes = document.getElementsByTagName(toXmlString(name).c_str());
  for (XMLSize_t i = 0; i < nodes->getLength(); ++i)
    elements.push_back(static_cast<const xercesc::DOMElement*>(nodes->item(i)));
  return elements;
}

void readConfiguration(const xercesc::DOMDocument& document) {
  std::set<std::string> classifiers;
  for (const xercesc::DOMElement* classifier : elementsNamed(document, "classifier"))
    if (classifier->hasAttributes()) classifiers.insert(attributeText(*classifier, "name"));
  for (const xercesc::DOMElement* element : elementsNamed(document, "parameterization")) {
    CParameterization parameterization;
    try {
      parameterization.init(*element, classifiers);
    } catch (const StandardException&) {
      continue;
    }
    parameterization.selectClassifiers();
    std::map<std::string, float> query;
    for (const auto& parameter : parameterization.getParameters()) query[parameter.first] = 0.5f;
    parameterization.getRelevances(query, true);
  }
  for (const xercesc::DOMElement* element : elementsNamed(document, "semanticlayer")) {
    SemanticLayer layer;
    layer.load(*element);
    SimilarityList head("", 1000);
    unsigned song = 0;
    for (const auto& semanticClass : layer.classes) {
      for (const std::string& classifier : semanticClass.second) {
        SimilarityList* list = head.appendList();
        list->name = classifier;
        list->add(static_cast<float>(song % 3), song, 0.0f, -1);
        ++song;
      }
    }
    std::vector<SimilarityCandidates> out;
    layer.apply(head, out, 2);
  }
}

// The reader buffers of one parse (a single allocation of about 160 KiB), the
// parser's own tables, and the document's node heap, which Xerces grows in
// blocks that double up to 512 KiB: a document of a few thousand elements
// takes one whole block.
constexpr size_t kXercesFixedCost = 768 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The Xerces platform, initialised by the first parser of the process, is
  // up before the first input: its initialisation is no part of any input's
  // memory budget.
  static DomParser platform;
  return kivet_fuzz::check(
      size,
      [&] {
        DomParser parser;
        try {
          readConfiguration(parser.parseMemory(reinterpret_cast<const char*>(data), size));
        } catch (const xercesc::DOMException&) {
        } catch (const xercesc::XMLException&) {
        }
      },
      kXercesFixedCost);
}
