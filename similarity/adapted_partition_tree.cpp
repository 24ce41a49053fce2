#include "similarity/adapted_partition_tree.h"

#include <cfloat>
#include <utility>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/util/XMLException.hpp>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/common/string_util.h"
#include "metadata/sources/vmtl/vector_ops.h"
#include "signature/audio_sign_multi.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/dom_support.h"

using namespace xercesc;

namespace {

const XmlString kNode = toXmlString("node");
const char kWhiteSpace[] = "\n \t";
const std::string kLoad = "AdaptedPartitionTree::load() ";
const std::string kItem = "AdaptedPartitionTreeItem() ";

// The parts of every text child of element, split at white space.
std::vector<std::string> textParts(const DOMElement& element) {
  std::vector<std::string> parts;
  for (const DOMNode* child = element.getFirstChild(); child != nullptr; child = child->getNextSibling()) {
    if (child->getNodeType() != DOMNode::TEXT_NODE) continue;
    for (std::string& part : split(toStdString(child->getNodeValue()), kWhiteSpace, true))
      parts.push_back(std::move(part));
  }
  return parts;
}

// The item of a "node" element: its ids resolved in the database, its
// centroids in document order.
std::unique_ptr<AdaptedPartitionTreeItem> makeItem(const DOMElement& element, const AdaptedFeatureDb& db) {
  auto item = std::make_unique<AdaptedPartitionTreeItem>();
  const std::vector<std::string> ids = textParts(element);
  if (ids.empty()) throw StandardException(kItem + "set without any elements found");
  for (const std::string& text : ids) {
    uint64_t id = 0;
    if (text.find_first_not_of("0123456789") != std::string::npos || !readNumber(text, id))
      throw StandardException(kItem + "signature id is not a number: " + text);
    CAudioSignMulti* signature = db.entry(id);
    item->entries[signature->getTuid().toUInt64()] = signature;
  }
  forEachChildElement(element, toXmlString("centroid"), [&](const DOMElement& child) {
    const std::vector<std::string> values = textParts(child);
    HeapVector<float> centroid(static_cast<unsigned>(values.size()));
    for (unsigned i = 0; i < centroid.size; ++i)
      if (!readNumber(values[i], centroid[i]))
        throw StandardException(kItem + "centroid value is not a number: " + values[i]);
    item->centroids.push_back(std::move(centroid));
  });
  return item;
}

// The partition rooted at element, built without recursion, in document
// order. Every "node" child of the root is a node; further down an empty
// "node" element stands for no node at all rather than for a node without ids.
std::unique_ptr<AdaptedPartitionTree::Node> buildPartition(const DOMElement& rootElement, const AdaptedFeatureDb& db) {
  using Node = AdaptedPartitionTree::Node;
  auto root = std::make_unique<Node>(makeItem(rootElement, db));
  struct Pending {
    const DOMElement* element;
    Node* parent;
  };
  std::vector<Pending> pending;
  std::vector<const DOMElement*> children;
  const auto schedule = [&](const DOMElement& element, Node* node, bool isRoot) {
    children.clear();
    forEachChildElement(element, kNode, [&](const DOMElement& child) {
      if (isRoot || child.hasChildNodes()) children.push_back(&child);
    });
    for (auto child = children.rbegin(); child != children.rend(); ++child) pending.push_back({*child, node});
  };
  schedule(rootElement, root.get(), true);
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    Node* node = next.parent->append(std::make_unique<Node>(makeItem(*next.element, db)));
    schedule(*next.element, node, false);
  }
  return root;
}

// The element whose "node" children are the partitions of the tree name.
const DOMElement& holderOf(const DOMDocument& document, const std::string& name) {
  const DOMElement* holder = document.getDocumentElement();
  const DOMNodeList* subtrees = document.getElementsByTagName(toXmlString("subtree").c_str());
  for (XMLSize_t i = 0; i < subtrees->getLength(); ++i) {
    const auto* subtree = static_cast<const DOMElement*>(subtrees->item(i));
    if (subtree->hasAttributes() && attributeText(*subtree, "id") == name) holder = subtree;
  }
  return *holder;
}

}  // namespace

AdaptedPartitionTreeItem::AdaptedPartitionTreeItem() = default;

AdaptedPartitionTreeItem::~AdaptedPartitionTreeItem() = default;

void AdaptedPartitionTreeItem::print(std::ostream& out) const {
  for (const auto& entry : entries) out << entry.first << " ";
  out << std::endl;
  for (const HeapVector<float>& centroid : centroids) {
    out << "<centroid> " << std::endl;
    for (unsigned i = 0; i < centroid.size; ++i) out << (i == 0 ? "" : " ") << centroid[i];
    out << "</centroid>" << std::endl;
  }
}

AdaptedPartitionTree::AdaptedPartitionTree(AdaptedFeatureDb* database, const std::string& name)
    : database(database), name(name) {}

AdaptedPartitionTree::~AdaptedPartitionTree() = default;

void AdaptedPartitionTree::load(const char* text, unsigned length) {
  if (database == nullptr) throw StandardException(kLoad + "no feature database to resolve the ids");
  std::map<std::string, std::unique_ptr<Node>> loaded;
  DomParser parser;
  // Xerces' own exceptions are read while the parser that raised them lives.
  try {
    const DOMElement& holder = holderOf(parser.parseMemory(text, length), name);
    forEachChildElement(holder, kNode, [&](const DOMElement& root) {
      if (!hasAttribute(root, "id")) throw StandardException(kLoad + "no node-id given for classifier partitions");
      loaded[attributeText(root, "id")] = buildPartition(root, *database);
    });
  } catch (const DomParseError& error) {
    throw StandardException(kLoad + "partition tree is not well-formed XML: " + error.report());
  } catch (const XMLException& error) {
    throw StandardException(kLoad + toStdString(error.getMessage()));
  } catch (const DOMException& error) {
    throw StandardException(kLoad + toStdString(error.getMessage()));
  }
  for (auto& partition : loaded) partitions[partition.first] = std::move(partition.second);
}

const AdaptedPartitionTreeItem* AdaptedPartitionTree::traverse(const BaseVector<float>& query,
                                                               const std::string& id) const {
  const auto found = partitions.find(id);
  if (found == partitions.end()) {
    const auto fallback = partitions.find("*");
    if (fallback == partitions.end())
      throw StandardException("AdaptedPartitionTree::traverse() no partition with given id could be found: " + id);
    return fallback->second->getItem();
  }
  const Node* node = found->second.get();
  while (node->childCount() > 0) {
    float best = FLT_MAX;
    bool chosen = false;
    unsigned choice = 0;
    const std::vector<HeapVector<float>>& centroids = node->getItem()->centroids;
    for (unsigned i = 0; i < centroids.size(); ++i) {
      const float d = static_cast<float>(euclideanDistance(centroids[i], query));
      // Strictly nearer: of equally near centroids the first is taken.
      if (d < best) {
        best = d;
        choice = i;
        chosen = true;
      }
    }
    if (!chosen) throw StandardException("AdaptedPartitionTree::traverse() no decision could be made!");
    node = node->child(choice);
  }
  return node->getItem();
}
