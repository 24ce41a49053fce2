// The extraction configuration: any text either reads into a tree of module
// settings or fails with the simpleException that carries the parser's
// message. Read in pieces of 512 bytes, as the extractor reads its file, and
// read whole, a text gives the same tree, or fails both ways.

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "metadata/sources/featex/config_tree.h"
#include "metadata/sources/featex/fex_module.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The tree as text, walked without recursion.
std::string describe(const ConfigTreeNode* root) {
  std::ostringstream out;
  std::vector<std::pair<const ConfigTreeNode*, unsigned>> open{{root, 0}};
  while (!open.empty()) {
    const auto [node, depth] = open.back();
    open.pop_back();
    out << depth << ' ' << node->name << '\n';
    node->settings.print(out);
    for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
      open.emplace_back(*child, depth + 1);
  }
  return out.str();
}

std::string load(const std::string& text, unsigned bufferSize) {
  ConfigTree tree;
  try {
    return "tree\n" + describe(tree.load(text, false, bufferSize));
  } catch (const simpleException& e) {
    return std::string("failure\n") + e.what();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string inPieces = load(text, 512);
    const std::string whole = load(text, static_cast<unsigned>(size) + 1);
    // Expat may name a malformed document's fault differently when the
    // document arrives in pieces (a token cut at a piece boundary after the
    // document element), so only the outcome and a tree read are compared.
    const bool bothFailed = inPieces.compare(0, 8, "failure\n") == 0 && whole.compare(0, 8, "failure\n") == 0;
    if (inPieces != whole && !bothFailed) kivet_fuzz::finding("configuration reads differently in pieces and whole");
  });
}
