#include "similarity/dom_support.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMError.hpp>
#include <xercesc/dom/DOMLocator.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLDOMMsg.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "metadata/sources/common/standard_exception.h"

using namespace xercesc;

namespace {

// Plain heap memory for the messages of DomParseError: the platform's own
// manager is deleted by Terminate when the library unloads, and an error is a
// value its catcher may keep beyond that (in a static object, say).
class LastingMemoryManager : public MemoryManager {
 public:
  MemoryManager* getExceptionMemoryManager() override { return this; }
  void* allocate(XMLSize_t size) override { return ::operator new(size); }
  void deallocate(void* p) override { ::operator delete(p); }
};

MemoryManager* lastingMemoryManager() {
  static LastingMemoryManager manager;
  return &manager;
}

// The process's Xerces-C platform. Initialize and Terminate are not safe to
// run beside any other use of Xerces, and a Terminate per parser tore the
// platform down under the parses of other threads: it is initialised once,
// under the lock that guards the first use of a function-local static, and
// terminated with the library's static objects, when it unloads or the
// process ends, once no thread may call the library any more. Xerces counts
// the calls: a host that uses Xerces itself and terminates its own
// initialisation leaves this one up.
struct XercesPlatform {
  XercesPlatform() { XMLPlatformUtils::Initialize(); }
  ~XercesPlatform() { XMLPlatformUtils::Terminate(); }
  XercesPlatform(const XercesPlatform&) = delete;
  XercesPlatform& operator=(const XercesPlatform&) = delete;
};

// An initialisation that throws leaves the static unmade: the next call tries again.
void requirePlatform() { static const XercesPlatform platform; }

const char kBufferId[] = "MemoryBufInputSource";

constexpr XMLSize_t kEntityExpansionLimit = 8;

// Far deeper than any configuration or partition tree.
constexpr unsigned kNestingLimit = 1000;

std::string elementName(const DOMElement& element) { return toStdString(element.getTagName()); }

DomParseError parseErrorAt(uint64_t line, uint64_t column, const std::string& message) {
  return DomParseError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message, line,
                       column);
}

// The LS parser with a bound on the nesting of elements: a document nested
// deeper than any configuration or tree comes from a damaged or hostile
// session file, and is refused before its nesting costs time.
class NestingBoundParser : public DOMLSParserImpl {
 public:
  explicit NestingBoundParser(MemoryManager* manager) : DOMLSParserImpl(nullptr, manager) {}

  void startDocument() override {
    depth = 0;
    DOMLSParserImpl::startDocument();
  }

  void startElement(const XMLElementDecl& declaration, const unsigned int urlId, const XMLCh* const prefix,
                    const RefVectorOf<XMLAttr>& attributes, const XMLSize_t attributeCount, const bool isEmpty,
                    const bool isRoot) override {
    if (++depth > kNestingLimit) {
      const Locator* where = getScanner()->getLocator();
      throw parseErrorAt(where->getLineNumber(), where->getColumnNumber(),
                         "elements nested deeper than " + std::to_string(kNestingLimit) + " levels");
    }
    // The base ends an empty element at once, through endElement below.
    DOMLSParserImpl::startElement(declaration, urlId, prefix, attributes, attributeCount, isEmpty, isRoot);
  }

  void endElement(const XMLElementDecl& declaration, const unsigned int urlId, const bool isRoot,
                  const XMLCh* const prefix) override {
    DOMLSParserImpl::endElement(declaration, urlId, isRoot, prefix);
    --depth;
  }

 private:
  unsigned depth = 0;
};

}  // namespace

std::string toStdString(const XMLCh* text) {
  std::string out;
  if (text == nullptr) return out;
  for (const XMLCh* unit = text; *unit != 0; ++unit) out.push_back(static_cast<char>(*unit));
  return out;
}

XmlString toXmlString(const std::string& text) {
  XmlString out;
  out.reserve(text.size());
  for (const char c : text) out.push_back(static_cast<XMLCh>(static_cast<unsigned char>(c)));
  return out;
}

bool hasAttribute(const DOMElement& element, const std::string& name) {
  return element.getAttributeNode(toXmlString(name).c_str()) != nullptr;
}

std::string attributeText(const DOMElement& element, const std::string& name) {
  return toStdString(element.getAttribute(toXmlString(name).c_str()));
}

std::string requireAttribute(const DOMElement& element, const std::string& name, const std::string& origin) {
  const DOMAttr* attribute = element.getAttributeNode(toXmlString(name).c_str());
  if (attribute == nullptr)
    throw StandardException(origin + " element \"" + elementName(element) + "\" lacks the attribute \"" + name + "\"");
  return toStdString(attribute->getValue());
}

void throwNotANumber(const DOMElement& element, const std::string& name, const std::string& text,
                     const std::string& origin) {
  throw StandardException(origin + " attribute \"" + name + "\" of element \"" + elementName(element) +
                          "\" holds no readable number: \"" + text + "\"");
}

DomParseError::DomParseError(const std::string& report, uint64_t line, uint64_t column)
    : DOMLSException(DOMLSException::PARSE_ERR, XMLDOMMsg::LSParser_ParsingFailed, lastingMemoryManager()),
      text(report),
      lineNumber(line),
      columnNumber(column) {}

bool DomParser::ErrorRecorder::handleError(const DOMError& error) {
  // Warnings do not make a document unusable; anything worse ends the parse.
  if (error.getSeverity() == DOMError::DOM_SEVERITY_WARNING) return true;
  if (!failure) {
    const DOMLocator* where = error.getLocation();
    const uint64_t line = where != nullptr ? static_cast<uint64_t>(where->getLineNumber()) : 0;
    const uint64_t column = where != nullptr ? static_cast<uint64_t>(where->getColumnNumber()) : 0;
    failure = std::make_unique<DomParseError>(parseErrorAt(line, column, toStdString(error.getMessage())));
  }
  return false;
}

void DomParser::Releaser::operator()(DOMLSParser* parser) const { parser->release(); }

DomParser::DomParser() {
  requirePlatform();
  // What the "LS" implementation's createLSParser makes, with the bound.
  parser.reset(new (XMLPlatformUtils::fgMemoryManager) NestingBoundParser(XMLPlatformUtils::fgMemoryManager));
  DOMConfiguration* config = parser->getDomConfig();
  config->setParameter(XMLUni::fgDOMDatatypeNormalization, true);
  // No reader of the engine uses namespaces: names are compared as written.
  // With them on, Xerces looks every element's prefix up through all the
  // open elements, so a deeply nested document costs the square of its depth.
  config->setParameter(XMLUni::fgDOMNamespaces, false);
  // Entity references replaced by their text: readers see every element and
  // text node where it stands, not behind a reference node.
  config->setParameter(XMLUni::fgDOMEntities, false);
  config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<DOMErrorHandler*>(&errors));
  // Entities may abbreviate a document, not multiply it: each expansion can
  // add at most the document's own length, so a few of them keep the tree
  // within a small multiple of the text.
  security.setEntityExpansionLimit(kEntityExpansionLimit);
  config->setParameter(XMLUni::fgXercesSecurityManager, &security);
  config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
  config->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
}

DomParser::~DomParser() = default;

DOMDocument& DomParser::parseFile(const std::string& path) {
  errors.reset();
  return checked(parser->parseURI(path.c_str()));
}

DOMDocument& DomParser::parseMemory(const char* text, size_t size) {
  errors.reset();
  MemBufInputSource source(reinterpret_cast<const XMLByte*>(text), size, kBufferId, false);
  Wrapper4InputSource input(&source, false);
  return checked(parser->parse(&input));
}

DOMDocument& DomParser::checked(DOMDocument* document) {
  if (errors.failure) {
    const DomParseError failure = *errors.failure;
    errors.reset();
    throw failure;
  }
  if (document == nullptr || document->getDocumentElement() == nullptr)
    throw parseErrorAt(0, 0, "no document element");
  return *document;
}
