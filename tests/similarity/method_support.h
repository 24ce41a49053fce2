#pragma once
// What the similarity-method tests share: an object built from the XML text
// of its configuration element, and a chain of result lists as one line of
// text.

#include <memory>
#include <sstream>
#include <string>

#include "similarity/dom_support.h"
#include "similarity/similarity_list.h"

namespace methods {

// Type(document element of xml, extra...).
template <typename Type, typename... Extra>
std::unique_ptr<Type> fromXml(const std::string& xml, Extra... extra) {
  DomParser parser;
  return std::make_unique<Type>(*parser.parseMemory(xml.data(), xml.size()).getDocumentElement(), extra...);
}

// "name: distance/id[/weight] ...;" for every list of the chain from head.
inline std::string chain(const SimilarityList& head, bool weights = false) {
  std::ostringstream text;
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
    text << list->name << ":";
    for (const auto& entry : *list) {
      text << " " << entry.first << "/" << entry.second.id;
      if (weights) text << "/" << entry.second.weight;
    }
    text << ";";
  }
  return text.str();
}

}  // namespace methods
