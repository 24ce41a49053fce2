#pragma once
// A node of a tree that owns one item and its child nodes, in order. Trees
// come from files a user can edit, so nothing here recurses: however deep a
// tree is, destroying or printing it does not grow the call stack.

#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "metadata/sources/common/standard_exception.h"

template <typename Item>
class GenericTreeNode {
 public:
  explicit GenericTreeNode(std::unique_ptr<Item> item) : item(std::move(item)) {}
  GenericTreeNode(const GenericTreeNode&) = delete;
  GenericTreeNode& operator=(const GenericTreeNode&) = delete;

  virtual ~GenericTreeNode() {
    std::vector<std::unique_ptr<GenericTreeNode>> pending = std::move(children);
    while (!pending.empty()) {
      std::unique_ptr<GenericTreeNode> node = std::move(pending.back());
      pending.pop_back();
      for (auto& child : node->children) pending.push_back(std::move(child));
      node->children.clear();
    }
  }

  // An index that names no child (one at or beyond the count) fails.
  GenericTreeNode* child(unsigned index) const {
    if (index >= children.size())
      throw StandardException("GenericTreeNode::child() child with given index could not be found");
    return children[index].get();
  }
  unsigned childCount() const { return static_cast<unsigned>(children.size()); }
  // Appends node as the last child; returns it.
  GenericTreeNode* append(std::unique_ptr<GenericTreeNode> node) {
    children.push_back(std::move(node));
    return children.back().get();
  }
  Item* getItem() const { return item.get(); }

  // Each child's subtree between "<node>" and "</node>" lines, then the
  // node's own item (Item::print). A node without an item fails.
  virtual void print(std::ostream& out) const {
    struct Frame {
      const GenericTreeNode* node;
      unsigned next;
    };
    std::vector<Frame> path{{this, 0}};
    while (!path.empty()) {
      Frame& top = path.back();
      if (top.next < top.node->children.size()) {
        out << "<node>" << std::endl;
        const GenericTreeNode* below = top.node->children[top.next++].get();
        path.push_back({below, 0});
        continue;
      }
      if (top.node->item == nullptr)
        throw StandardException("GenericTreeNode::print() no entry in current node-element");
      top.node->item->print(out);
      path.pop_back();
      if (!path.empty()) out << "</node>" << std::endl;
    }
  }

 private:
  std::vector<std::unique_ptr<GenericTreeNode>> children;
  std::unique_ptr<Item> item;
};
