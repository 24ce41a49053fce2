#include "metadata/sources/featex/config_tree.h"

// Expat declares its limits on entity expansion only for builds with DTD
// support, which every Expat this library is built with has.
#ifndef XML_DTD
#define XML_DTD 1
#endif
#include <expat.h>

#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/featex/fex_module.h"

namespace {

// Entities may abbreviate a configuration, not multiply it: once entity
// expansion has produced this many bytes, the document may grow no more than
// kMaxAmplification times through it, so that a short file cannot make the
// reader hold megabytes. Beyond that the parse fails like any malformed one.
constexpr unsigned long long kExpansionThreshold = 16 * 1024;
constexpr float kMaxAmplification = 4.0f;

// What the element handlers work on. The stack holds the open "module" nodes
// above the root, which stays at the bottom.
struct ReaderState {
  XML_Parser parser = nullptr;
  std::vector<ConfigTreeNode*> stack;
  // An exception raised inside a handler must not unwind through the parser:
  // it is kept here, the parser is stopped and the exception raised again.
  std::exception_ptr failure;
};

struct ParserDeleter {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

void storeAttributes(Settings& settings, const char** attributes) {
  for (const char** pair = attributes; pair[0] && pair[1]; pair += 2) settings.setString(pair[0], pair[1]);
}

}  // namespace

ConfigTreeNode::ConfigTreeNode(const std::string& name, const Settings& settings) : settings(settings), name(name) {}

ConfigTreeNode::~ConfigTreeNode() {
  for (ConfigTreeNode* child : children) delete child;
}

ConfigTree::~ConfigTree() { release(); }

void ConfigTree::release() {
  delete root;
  root = nullptr;
}

ConfigTreeNode* ConfigTree::load(const std::string& source, bool isFile, unsigned bufferSize) {
  release();
  ConfigTreeNode* loaded = nullptr;
  if (isFile) {
    std::ifstream file(source);
    parse(file, bufferSize, loaded);
  } else {
    std::istringstream text(source);
    parse(text, bufferSize, loaded);
  }
  root = loaded;
  return root;
}

void ConfigTree::parse(std::istream& stream, unsigned bufferSize, ConfigTreeNode*& rootOut) {
  // A zero size would never read anything and never reach the end.
  if (bufferSize == 0) bufferSize = 1;
  std::unique_ptr<char[]> buffer(new char[bufferSize]);
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
  if (!parser) throw std::bad_alloc();
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_ALWAYS);
  XML_SetBillionLaughsAttackProtectionActivationThreshold(parser.get(), kExpansionThreshold);
  XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser.get(), kMaxAmplification);

  auto newRoot = std::make_unique<ConfigTreeNode>("featex", Settings());
  ReaderState state;
  state.parser = parser.get();
  state.stack.push_back(newRoot.get());
  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(parser.get(), &ConfigTree::startElement, &ConfigTree::endElement);

  for (;;) {
    size_t count = 0;
    if (stream) {
      stream.read(buffer.get(), bufferSize);
      count = static_cast<size_t>(stream.gcount());
    }
    const bool final = count < bufferSize;
    if (XML_Parse(parser.get(), buffer.get(), static_cast<int>(count), final) == XML_STATUS_ERROR) {
      if (state.failure) std::rethrow_exception(state.failure);
      std::string message;
      formatString(message, "%s at (line, col) = (%d, %d).", XML_ErrorString(XML_GetErrorCode(parser.get())),
                   static_cast<int>(XML_GetCurrentLineNumber(parser.get())) - 1,
                   static_cast<int>(XML_GetCurrentColumnNumber(parser.get())) - 1);
      throw simpleException(message);
    }
    if (final) break;
  }
  rootOut = newRoot.release();
}

void ConfigTree::startElement(void* userData, const char* name, const char** attributes) {
  auto* state = static_cast<ReaderState*>(userData);
  try {
    if (std::strcmp(name, "module") == 0) {
      auto node = std::make_unique<ConfigTreeNode>("module", Settings());
      storeAttributes(node->settings, attributes);
      state->stack.back()->children.push_back(node.get());
      state->stack.push_back(node.release());
    } else if (std::strcmp(name, "param") == 0) {
      storeAttributes(state->stack.back()->settings, attributes);
    }
  } catch (...) {
    state->failure = std::current_exception();
    XML_StopParser(state->parser, XML_FALSE);
  }
}

void ConfigTree::endElement(void* userData, const char* name) {
  auto* state = static_cast<ReaderState*>(userData);
  if (std::strcmp(name, "module") == 0 && state->stack.size() > 1) state->stack.pop_back();
}
