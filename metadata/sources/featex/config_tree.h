#pragma once
// The feature-extraction configuration read into a tree: one node per
// "module" element, nested as the elements are, each holding the element's
// attributes (and those of its "param" children) as settings. The root,
// named "featex", is made by the reader; its settings are the global settings.

#include <istream>
#include <string>
#include <vector>

#include "metadata/sources/featex/settings.h"

class ConfigTreeNode {
 public:
  ConfigTreeNode(const std::string& name, const Settings& settings);
  ConfigTreeNode(const ConfigTreeNode&) = delete;
  ConfigTreeNode& operator=(const ConfigTreeNode&) = delete;
  // Destroys the children first.
  ~ConfigTreeNode();

  std::vector<ConfigTreeNode*> children;  // owned, in document order
  Settings settings;
  std::string name;
};

class ConfigTree {
 public:
  ConfigTree() = default;
  ConfigTree(const ConfigTree&) = delete;
  ConfigTree& operator=(const ConfigTree&) = delete;
  ~ConfigTree();

  // Reads the configuration, replacing any tree held before, and returns the
  // root. With isFile, source names a file (one that cannot be opened reads
  // as an empty document); otherwise source is the XML text. The text is
  // handed to the parser in pieces of bufferSize bytes. A malformed document
  // raises simpleException with the parser's text and the position.
  ConfigTreeNode* load(const std::string& source, bool isFile, unsigned bufferSize);

  // Reads stream into a new tree whose root is stored in root.
  void parse(std::istream& stream, unsigned bufferSize, ConfigTreeNode*& root);

  // The parser's element handlers; userData is the reader's state, which
  // holds the stack of open nodes.
  static void startElement(void* userData, const char* name, const char** attributes);
  static void endElement(void* userData, const char* name);

  ConfigTreeNode* getRoot() const { return root; }
  // Deletes the tree.
  void release();

 private:
  ConfigTreeNode* root = nullptr;
};
