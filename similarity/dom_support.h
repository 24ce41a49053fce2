#pragma once
// What every DOM reader of the similarity engine shares: DOM text to and from
// narrow strings, attribute access with clear failure texts, and the parser.
//
// The Xerces-C platform is process-wide state that Xerces itself does not
// guard: the first DomParser of the process initialises it, once, whichever
// thread makes it, and it stays up until the library unloads (or the process
// ends), so that no thread's parse ever meets it half torn down. Parsers of
// different threads then parse side by side.
//
// Xerces' own exceptions keep their message in the platform's memory manager,
// which XMLPlatformUtils::Terminate deletes: catch them while the DomParser
// that parsed is still alive. DomParseError is safe anywhere, also after the
// platform has gone.

#include <cstddef>
#include <cstdint>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMErrorHandler.hpp>
#include <xercesc/dom/DOMLSException.hpp>
#include <xercesc/dom/DOMLSParser.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XercesDefs.hpp>

// DOM text; XMLCh is char16_t here and wchar_t on the Windows build.
using XmlString = std::basic_string<XMLCh>;

// Narrows every 16-bit code unit to one char (the engine's names are ASCII).
// A null pointer gives the empty string.
std::string toStdString(const XMLCh* text);
// Widens every byte to one code unit: names for element and attribute lookups.
XmlString toXmlString(const std::string& text);

// Reads the number at the start of text by stream extraction (leading white
// space skipped, reading stops at the first character that is no part of it).
// False when text holds no number of type T or one out of its range.
template <typename T>
bool readNumber(const std::string& text, T& out) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  T value{};
  if (!(in >> value)) return false;
  out = value;
  return true;
}

// Calls visit(child) for every child element of parent whose name is name, in
// document order.
template <typename Visit>
void forEachChildElement(const xercesc::DOMElement& parent, const XmlString& name, Visit&& visit) {
  for (const xercesc::DOMNode* node = parent.getFirstChild(); node != nullptr; node = node->getNextSibling()) {
    if (node->getNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
    const auto& child = *static_cast<const xercesc::DOMElement*>(node);
    if (name == child.getTagName()) visit(child);
  }
}

bool hasAttribute(const xercesc::DOMElement& element, const std::string& name);
// The attribute's value; the empty string when it is absent.
std::string attributeText(const xercesc::DOMElement& element, const std::string& name);
// The value of an attribute that must be present. origin names the reader
// ("CParameterization::init()") at the start of the StandardException thrown
// for a missing attribute.
std::string requireAttribute(const xercesc::DOMElement& element, const std::string& name, const std::string& origin);
[[noreturn]] void throwNotANumber(const xercesc::DOMElement& element, const std::string& name, const std::string& text,
                                  const std::string& origin);
// The number held by an attribute that must be present; a StandardException
// names a missing attribute or one that holds no number.
template <typename T>
T requireNumber(const xercesc::DOMElement& element, const std::string& name, const std::string& origin) {
  const std::string text = requireAttribute(element, name, origin);
  T value{};
  if (!readNumber(text, value)) throwNotANumber(element, name, text, origin);
  return value;
}

// The parse failure of a document that is not well-formed or cannot be read:
// the DOM LS error PARSE_ERR, with the parser's first report. Its message is
// allocated outside the platform's memory manager, so it outlives the parser.
class DomParseError : public xercesc::DOMLSException {
 public:
  DomParseError(const std::string& report, uint64_t line, uint64_t column);

  // "line L, column C: <the parser's message>".
  const std::string& report() const { return text; }
  uint64_t line() const { return lineNumber; }
  uint64_t column() const { return columnNumber; }

 private:
  std::string text;
  uint64_t lineNumber;
  uint64_t columnNumber;
};

// The synchronous "LS" parser with datatype normalisation on and namespace
// processing off, on the process's Xerces-C platform (above). Every document
// it parses stays alive as long as the parser. A document that is not
// well-formed throws DomParseError (Xerces 3.2 would hand back the part read
// so far); external entities and DTDs are not fetched, entity expansion is
// limited and elements nested deeper than 1000 levels are refused ("elements
// nested deeper than 1000 levels"), since the partition-tree text comes from
// session files.
class DomParser {
 public:
  // An XMLException of the platform's initialisation passes to the caller;
  // the next parser tries to initialise it again.
  DomParser();
  ~DomParser();
  DomParser(const DomParser&) = delete;
  DomParser& operator=(const DomParser&) = delete;

  // The document of the file at path.
  xercesc::DOMDocument& parseFile(const std::string& path);
  // The document held by size bytes at text (not copied; needed only during
  // the call), read as buffer "MemoryBufInputSource".
  xercesc::DOMDocument& parseMemory(const char* text, size_t size);

 private:
  // Keeps the first error of a parse and stops it there.
  class ErrorRecorder : public xercesc::DOMErrorHandler {
   public:
    bool handleError(const xercesc::DOMError& error) override;
    void reset() { failure.reset(); }
    std::unique_ptr<DomParseError> failure;
  };

  struct Releaser {
    void operator()(xercesc::DOMLSParser* parser) const;
  };

  // Throws the recorded failure, or one for a parse that gave no document.
  xercesc::DOMDocument& checked(xercesc::DOMDocument* document);

  // Declared before the parser, which refers to both: they outlive it.
  ErrorRecorder errors;
  xercesc::SecurityManager security;
  std::unique_ptr<xercesc::DOMLSParser, Releaser> parser;
};
