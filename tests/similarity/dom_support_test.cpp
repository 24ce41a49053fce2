#include "similarity/dom_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "tests/support/expect_message.h"
#include "tests/support/temp_files.h"

namespace {

TEST(DomSupport, TextNumbersAndAttributes) {
  const XMLCh wide[] = {'c', 'f', 'y', 0x141, 0};
  EXPECT_EQ(toStdString(wide), "cfyA");  // each code unit narrowed to one char
  EXPECT_EQ(toStdString(nullptr), "");
  EXPECT_EQ(toXmlString("n\xE9"), (XmlString{'n', 0xE9}));

  float value = -7.0f;
  EXPECT_FALSE(readNumber("", value) || readNumber("1e999", value));  // out of range: no number either
  EXPECT_EQ(value, -7.0f);
  unsigned count = 0;
  EXPECT_TRUE(readNumber("-1", count) && count == 4294967295u);  // as stream extraction takes it

  // Leading blanks skipped, the rest of the text left.
  const std::string text = "<e empty=\"\" value=\" \t2.5e1kg\" bad=\"x1\"/>";
  DomParser parser;
  const xercesc::DOMElement& e = *parser.parseMemory(text.data(), text.size()).getDocumentElement();
  EXPECT_TRUE(hasAttribute(e, "empty"));
  EXPECT_FALSE(hasAttribute(e, "missing"));
  EXPECT_EQ(attributeText(e, "missing"), "");
  EXPECT_EQ(requireAttribute(e, "empty", "R::r()"), "");
  EXPECT_EQ(requireNumber<double>(e, "value", "R::r()"), 25.0);
  expectThrowMessage<StandardException>([&] { requireNumber<int>(e, "missing", "R::r()"); },
                                        "R::r() element \"e\" lacks the attribute \"missing\"");
  expectThrowMessage<StandardException>([&] { requireNumber<float>(e, "bad", "R::r()"); },
                                        "R::r() attribute \"bad\" of element \"e\" holds no readable number: \"x1\"");
}

// Xerces 3.2's parser hands back whatever it read of a malformed document;
// ours turns the first error into the DOM LS parse error.
TEST(DomSupport, MalformedDocumentsFail) {
  const std::vector<std::pair<std::string, uint64_t>> cases = {
      {"<a>\n<b></a>", 2},
      {"", 1},
      {"<?xml version=\"1.0\"?>\n\n<a>&undefined;</a>", 3},
      {"<!DOCTYPE a [<!ENTITY x SYSTEM \"/etc/hostname\">]>\n<a>&x;</a>", 2},     // external entities are not fetched
      {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;&e;&e;&e;&e;&e;&e;&e;&e;</a>", 1},  // at most 8 expansions
  };
  DomParser parser;
  for (const auto& [text, line] : cases) {
    try {
      parser.parseMemory(text.data(), text.size());
      ADD_FAILURE() << "parsed: " << text;
    } catch (const xercesc::DOMLSException& e) {
      EXPECT_EQ(e.code, xercesc::DOMLSException::PARSE_ERR) << text;
      const auto& error = dynamic_cast<const DomParseError&>(e);
      EXPECT_EQ(error.line(), line) << text << ": " << error.report();
      EXPECT_EQ(error.report().rfind("line " + std::to_string(line) + ", column ", 0), 0u) << error.report();
    }
  }
  // The parser goes on working, and every document it gave stays usable;
  // entity references are replaced by their text.
  const std::string first = "<first/>";
  const std::string second = "<!DOCTYPE s [<!ENTITY n \"in\">]><s><i>&n;&n;&n;&n;&n;&n;&n;&n;</i></s>";
  const xercesc::DOMDocument& a = parser.parseMemory(first.data(), first.size());
  const xercesc::DOMNode* inner =
      parser.parseMemory(second.data(), second.size()).getDocumentElement()->getFirstChild();
  EXPECT_EQ(toStdString(a.getDocumentElement()->getTagName()), "first");
  EXPECT_EQ(inner->getFirstChild()->getNodeType(), xercesc::DOMNode::TEXT_NODE);
  EXPECT_EQ(toStdString(inner->getTextContent()), "inininininininin");
}

// Nesting is bounded at 1000 levels; element names are taken as written,
// prefixes and all.
TEST(DomSupport, NestingBoundAndNamesAsWritten) {
  // Levels 1 to depth - 1 one per line, then siblings at the last level:
  // empty elements end where they start.
  const auto nested = [](unsigned depth, unsigned siblings) {
    std::string text;
    for (unsigned level = 1; level < depth; ++level) text += "<n>\n";
    for (unsigned i = 0; i < siblings; ++i) text += "<n/>";
    for (unsigned level = 1; level < depth; ++level) text += "</n>";
    return text;
  };
  DomParser parser;
  for (int again = 0; again < 2; ++again) {
    const std::string deepest = nested(1000, 3);
    const xercesc::DOMElement* element = parser.parseMemory(deepest.data(), deepest.size()).getDocumentElement();
    unsigned depth = 1;
    while (element->getFirstElementChild() != nullptr) element = element->getFirstElementChild(), ++depth;
    EXPECT_EQ(depth, 1000u);
    EXPECT_EQ(static_cast<const xercesc::DOMElement*>(element->getParentNode())->getChildElementCount(), 3u);
    const std::string deeper = nested(40000, 1);
    try {
      parser.parseMemory(deeper.data(), deeper.size());
      ADD_FAILURE() << "parsed 40000 levels";
    } catch (const DomParseError& e) {
      EXPECT_EQ(e.report(), "line 1001, column 4: elements nested deeper than 1000 levels");
      EXPECT_EQ(e.line(), 1001u);
      EXPECT_EQ(e.column(), 4u);
    }
  }
  const std::string prefixed = "<p:a xmlns:q=\"urn:q\"><q:b/></p:a>";  // p is bound to no namespace
  const xercesc::DOMElement& a = *parser.parseMemory(prefixed.data(), prefixed.size()).getDocumentElement();
  EXPECT_EQ(toStdString(a.getTagName()) + " " + toStdString(a.getFirstElementChild()->getTagName()), "p:a q:b");
  EXPECT_EQ(attributeText(a, "xmlns:q"), "urn:q");
}

TEST(DomSupport, FilesAndLifetimes) {
  const std::string path = testfiles::tempPath("dom_support_test.xml");
  std::ofstream(path) << "<?xml version=\"1.0\"?>\n<config><part/></config>\n";
  {
    DomParser outer;
    {
      DomParser inner;  // the platform stays up for the outer parser
      EXPECT_EQ(toStdString(inner.parseFile(path).getDocumentElement()->getTagName()), "config");
    }
    EXPECT_EQ(toStdString(outer.parseFile(path).getDocumentElement()->getFirstElementChild()->getTagName()), "part");
  }
  std::remove(path.c_str());
  // A parse error outlives the parser (and the platform) that threw it.
  std::unique_ptr<DomParseError> kept;
  try {
    DomParser().parseFile(path);
  } catch (const DomParseError& e) {
    kept = std::make_unique<DomParseError>(e);
  }
  ASSERT_NE(kept, nullptr);
  EXPECT_NE(kept->report().find("dom_support_test.xml"), std::string::npos) << kept->report();
  EXPECT_NE(toStdString(kept->getMessage()), "");
}

}  // namespace
