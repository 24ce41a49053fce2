#include "examples/similarity_check.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <xercesc/dom/DOMNodeList.hpp>

#include "examples/host_failure.h"
#include "similarity/dom_support.h"

namespace {

// The modules of the "similaritymethod" elements that the library builds a
// method of (session/sl_manager.cpp); it skips any other.
const char* const kMethodModules[] = {"overallsimilarity", "aspectsimilarity"};

bool namesMethod(const xercesc::DOMDocument& document) {
  const xercesc::DOMNodeList* methods = document.getElementsByTagName(toXmlString("similaritymethod").c_str());
  for (XMLSize_t i = 0; i < methods->getLength(); ++i) {
    const std::string module = attributeText(*static_cast<const xercesc::DOMElement*>(methods->item(i)), "module");
    if (std::find(std::begin(kMethodModules), std::end(kMethodModules), module) != std::end(kMethodModules))
      return true;
  }
  return false;
}

// The parser's message with its place after it, as kivet-session names the
// place where an extraction configuration breaks.
std::string placedMessage(const DomParseError& error) {
  const std::string place = "line " + std::to_string(error.line()) + ", column " + std::to_string(error.column());
  const std::string& report = error.report();
  if (error.line() == 0 || report.compare(0, place.size() + 2, place + ": ") != 0) return report;
  return report.substr(place.size() + 2) + " at " + place;
}

}  // namespace

void checkSimilarityConfiguration(const std::string& path) {
  const std::string cannotRead = "cannot read the similarity configuration " + path + ": ";
  const std::string unreadable = unreadableBecause(path);
  if (!unreadable.empty()) throw HostFailure(cannotRead + unreadable);
  // The bytes the library parses: it reads the file whole, not as a URI.
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::optional<DomParser> parser;
  try {
    parser.emplace();
  } catch (...) {
    throw HostFailure(cannotRead + "the XML parser cannot start");
  }
  try {
    if (namesMethod(parser->parseMemory(text.data(), text.size()))) return;
  } catch (const DomParseError& error) {
    throw HostFailure(cannotRead + placedMessage(error));
  } catch (...) {
    // Xerces' own exceptions keep their texts in the parser's memory: none
    // of them may outlive it.
    throw HostFailure(cannotRead + "the XML parser failed");
  }
  throw HostFailure(path +
                    " is no similarity configuration: it names no similarity method (no \"similaritymethod\" "
                    "element of module \"overallsimilarity\" or \"aspectsimilarity\")");
}
