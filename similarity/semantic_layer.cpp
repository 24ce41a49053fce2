#include "similarity/semantic_layer.h"

#include <xercesc/dom/DOMNodeList.hpp>

#include "similarity/dom_support.h"
#include "similarity/similarity_list.h"

using xercesc::DOMElement;
using xercesc::DOMNode;

SemanticLayer::SemanticLayer() = default;

SemanticLayer::~SemanticLayer() = default;

void SemanticLayer::load(const DOMElement& element) {
  static const XmlString kClassifier = toXmlString("cfy");
  // Read into a copy so that a failure part way leaves the layer as it was.
  std::map<std::string, std::set<std::string>> read = classes;
  const xercesc::DOMNodeList* members = element.getElementsByTagName(kClassifier.c_str());
  for (XMLSize_t i = 0; i < members->getLength(); ++i) {
    const auto* member = static_cast<const DOMElement*>(members->item(i));
    const DOMNode* parent = member->getParentNode();
    const std::string classId = parent != nullptr && parent->getNodeType() == DOMNode::ELEMENT_NODE
                                    ? attributeText(*static_cast<const DOMElement*>(parent), "id")
                                    : std::string();
    read[classId].insert(attributeText(*member, "id"));
  }
  classes.swap(read);
}

void SemanticLayer::apply(const SimilarityList& head, std::vector<SimilarityCandidates>& out, unsigned n) const {
  std::vector<SimilarityCandidates> fused(classes.size());
  auto candidates = fused.begin();
  for (const auto& [classId, members] : classes) {
    SimilarityCandidates& target = *candidates++;
    target.name = classId;
    for (const SimilarityList* list = &head; list != nullptr; list = list->nextList()) {
      if (list->empty() || members.count(list->name) == 0) continue;
      const float step = 1.0f / static_cast<float>(list->distinctDistanceCount());
      uint32_t rank = 0;
      float previous = list->begin()->first;
      for (const auto& [distance, item] : *list) {
        if (previous < distance) ++rank;
        SimilarityCandidates::Entry& song = target.entries[item.id];
        ++song.hits;
        song.sum += static_cast<float>(rank) * step;
        previous = distance;
      }
      ++target.lists;
    }
    if (n != 0) target.prune(n);
  }
  out.swap(fused);
}
