#include "similarity/dom_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/util/XMLException.hpp>

#include "metadata/sources/common/standard_exception.h"
#include "tests/support/expect_message.h"

namespace {

TEST(DomSupport, TextConversions) {
  const XMLCh wide[] = {'c', 'f', 'y', 0x141, 0};
  EXPECT_EQ(toStdString(wide), std::string("cfyA"));  // 0x141 narrows to 0x41
  EXPECT_EQ(toStdString(nullptr), "");
  const XmlString name = toXmlString("semanticlayer\xE9");
  ASSERT_EQ(name.size(), 14u);
  EXPECT_EQ(name[0], static_cast<XMLCh>('s'));
  EXPECT_EQ(name[13], static_cast<XMLCh>(0xE9));
  EXPECT_EQ(toStdString(toXmlString("min").c_str()), "min");

  struct Case {
    std::string text;
    bool read;
    double value;
  };
  const std::vector<Case> floats = {
      {"0.5", true, 0.5}, {" \t2.5e1xyz", true, 25.0}, {"-3", true, -3.0}, {"abc", false, 0.0},
      {"", false, 0.0},   {"1e999", false, 0.0},       {"nan", false, 0.0}};
  for (const Case& c : floats) {
    float value = -7.0f;
    EXPECT_EQ(readNumber(c.text, value), c.read) << c.text;
    EXPECT_EQ(value, c.read ? static_cast<float>(c.value) : -7.0f) << c.text;
  }
  int integer = 0;
  EXPECT_TRUE(readNumber("12.9", integer));
  EXPECT_EQ(integer, 12);
  EXPECT_FALSE(readNumber("99999999999", integer));
  unsigned count = 0;
  EXPECT_TRUE(readNumber("-1", count));  // as stream extraction takes it
  EXPECT_EQ(count, 4294967295u);
}

TEST(DomSupport, AttributeAccess) {
  const std::string text = "<e name=\"tree\" empty=\"\" value=\" 4.5kg\" bad=\"x1\"/>";
  DomParser parser;
  const xercesc::DOMElement& e = *parser.parseMemory(text.data(), text.size()).getDocumentElement();
  EXPECT_TRUE(hasAttribute(e, "empty"));
  EXPECT_FALSE(hasAttribute(e, "missing"));
  EXPECT_EQ(attributeText(e, "name"), "tree");
  EXPECT_EQ(attributeText(e, "missing"), "");
  EXPECT_EQ(requireAttribute(e, "empty", "Reader::read()"), "");
  EXPECT_EQ(requireNumber<double>(e, "value", "Reader::read()"), 4.5);
  expectThrowMessage<StandardException>([&] { requireAttribute(e, "missing", "Reader::read()"); },
                                        "Reader::read() element \"e\" lacks the attribute \"missing\"");
  expectThrowMessage<StandardException>([&] { requireNumber<int>(e, "missing", "Reader::read()"); },
                                        "Reader::read() element \"e\" lacks the attribute \"missing\"");
  expectThrowMessage<StandardException>(
      [&] { requireNumber<float>(e, "bad", "Reader::read()"); },
      "Reader::read() attribute \"bad\" of element \"e\" holds no readable number: \"x1\"");
}

// Xerces 3.2's parser hands back whatever it read of a malformed document;
// ours turns the first error into the DOM LS parse error.
TEST(DomSupport, MalformedDocumentsFail) {
  const std::string laughs =
      "<!DOCTYPE m [<!ENTITY a \"xxxxxxxxxx\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
      "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
      "<m v=\"&f;\"/>";
  struct Case {
    std::string text;
    uint64_t line;
  };
  const std::vector<Case> cases = {
      {"<a><b></a>", 1},
      {"<a>\n<b/>", 2},  // unclosed at the end
      {"", 1},
      {"<a/><c/>", 1},
      {"<a x=\"1\" x=\"2\"/>", 1},
      {"<?xml version=\"1.0\"?>\n\n<a>&undefined;</a>", 3},
      {"<!DOCTYPE a [<!ENTITY x SYSTEM \"/etc/hostname\">]>\n<a>&x;</a>", 2},     // external entities are not fetched
      {laughs, 1},                                                                // entity expansion is limited
      {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;&e;&e;&e;&e;&e;&e;&e;&e;</a>", 1},  // to 8 expansions
  };
  DomParser parser;
  for (const Case& c : cases) {
    try {
      parser.parseMemory(c.text.data(), c.text.size());
      ADD_FAILURE() << "parsed: " << c.text;
    } catch (const DomParseError& e) {
      EXPECT_EQ(e.code, xercesc::DOMLSException::PARSE_ERR) << c.text;
      EXPECT_EQ(e.line(), c.line) << c.text << ": " << e.report();
      EXPECT_EQ(e.report().rfind("line " + std::to_string(c.line) + ", column ", 0), 0u) << e.report();
      EXPECT_NE(toStdString(e.getMessage()), "") << c.text;
    }
  }

  // The parser goes on working, and every document it gave stays usable.
  const std::string first = "<first/>";
  const std::string second = "<!DOCTYPE s [<!ENTITY n \"in\">]><second><i>&n;&n;&n;&n;&n;&n;&n;&n;</i></second>";
  const xercesc::DOMDocument& a = parser.parseMemory(first.data(), first.size());
  const xercesc::DOMDocument& b = parser.parseMemory(second.data(), second.size());
  EXPECT_EQ(toStdString(a.getDocumentElement()->getTagName()), "first");
  // Entity references are replaced by their text.
  const xercesc::DOMNode* inner = b.getDocumentElement()->getFirstChild();
  EXPECT_EQ(inner->getFirstChild()->getNodeType(), xercesc::DOMNode::TEXT_NODE);
  EXPECT_EQ(toStdString(inner->getTextContent()), "inininininininin");
}

TEST(DomSupport, FilesAndLifetimes) {
  const std::string path = testing::TempDir() + "dom_support_test.xml";
  std::ofstream(path) << "<?xml version=\"1.0\"?>\n<config><part id=\"1\"/></config>\n";
  {
    DomParser outer;
    {
      // A second parser inside the first: the platform stays up for the outer one.
      DomParser inner;
      EXPECT_EQ(toStdString(inner.parseFile(path).getDocumentElement()->getTagName()), "config");
    }
    const xercesc::DOMElement* root = outer.parseFile(path).getDocumentElement();
    EXPECT_EQ(toStdString(root->getFirstElementChild()->getTagName()), "part");
  }
  std::remove(path.c_str());

  // A parse error outlives the parser (and the platform) that threw it.
  std::unique_ptr<DomParseError> kept;
  try {
    DomParser parser;
    parser.parseFile(path);
  } catch (const DomParseError& e) {
    kept = std::make_unique<DomParseError>(e);
  }
  ASSERT_NE(kept, nullptr);
  EXPECT_NE(kept->report().find("dom_support_test.xml"), std::string::npos) << kept->report();
  EXPECT_NE(toStdString(kept->getMessage()), "");
}

}  // namespace
