#include "similarity/dom_support.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMError.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationLS.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLocator.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLDOMMsg.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "metadata/sources/common/standard_exception.h"

using namespace xercesc;

namespace {

// Plain heap memory for the messages of DomParseError: the platform's own
// manager is deleted by the last Terminate, possibly before the error is caught.
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

const char kBufferId[] = "MemoryBufInputSource";

constexpr XMLSize_t kEntityExpansionLimit = 8;

std::string elementName(const DOMElement& element) { return toStdString(element.getTagName()); }

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

DomParser::Platform::Platform() { XMLPlatformUtils::Initialize(); }

DomParser::Platform::~Platform() { XMLPlatformUtils::Terminate(); }

bool DomParser::ErrorRecorder::handleError(const DOMError& error) {
  // Warnings do not make a document unusable; anything worse ends the parse.
  if (error.getSeverity() == DOMError::DOM_SEVERITY_WARNING) return true;
  if (!failure) {
    const DOMLocator* where = error.getLocation();
    const uint64_t line = where != nullptr ? static_cast<uint64_t>(where->getLineNumber()) : 0;
    const uint64_t column = where != nullptr ? static_cast<uint64_t>(where->getColumnNumber()) : 0;
    failure = std::make_unique<DomParseError>(
        "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + toStdString(error.getMessage()),
        line, column);
  }
  return false;
}

void DomParser::Releaser::operator()(DOMLSParser* parser) const { parser->release(); }

DomParser::DomParser() {
  static const XMLCh kLs[] = {'L', 'S', 0};
  DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(kLs);
  parser.reset(static_cast<DOMImplementationLS*>(implementation)
                   ->createLSParser(DOMImplementationLS::MODE_SYNCHRONOUS, nullptr, XMLPlatformUtils::fgMemoryManager));
  DOMConfiguration* config = parser->getDomConfig();
  config->setParameter(XMLUni::fgDOMDatatypeNormalization, true);
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
    throw DomParseError("line 0, column 0: no document element", 0, 0);
  return *document;
}
