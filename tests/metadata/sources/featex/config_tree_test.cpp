#include "metadata/sources/featex/config_tree.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "tests/support/temp_files.h"

namespace {

// The whole tree as text: element name, settings, then the children indented.
void dump(const ConfigTreeNode& node, std::ostream& os, int depth = 0) {
  os << std::string(depth * 2, ' ') << node.name << " {";
  std::string key;
  for (unsigned i = 0; i < node.settings.size(); ++i) {
    key = node.settings.getNextKey(key);
    os << key << "=" << node.settings.getString(key) << ";";
  }
  os << "}\n";
  for (const ConfigTreeNode* child : node.children) dump(*child, os, depth + 1);
}

std::string dump(const ConfigTreeNode& node) {
  std::ostringstream os;
  dump(node, os);
  return os.str();
}

std::string loadFailure(const std::string& text) {
  ConfigTree tree;
  try {
    tree.load(text, false, 512);
  } catch (const simpleException& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace

TEST(ConfigTreeTest, DocumentElementThatIsAModuleBecomesTheOnlyChild) {
  ConfigTree tree;
  ConfigTreeNode* root = tree.load("<module name=\"fex_zerocrossing\" instance=\"zc\"/>", false, 512);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root, tree.getRoot());
  EXPECT_EQ(root->name, "featex");
  EXPECT_EQ(root->settings.size(), 0u);
  ASSERT_EQ(root->children.size(), 1u);
  EXPECT_EQ(root->children[0]->name, "module");
  EXPECT_EQ(root->children[0]->settings.getString("name"), "fex_zerocrossing");
  EXPECT_EQ(root->children[0]->settings.getString("instance"), "zc");
  EXPECT_TRUE(root->children[0]->children.empty());
}

TEST(ConfigTreeTest, NestingAndParamPlacement) {
  const std::string xml =
      "<config>\n"
      "  <param frameDuration=\"10\"/>\n"
      "  <module name=\"a\" instance=\"A\" k=\"module\">\n"
      "    <module name=\"b\" instance=\"B\" k=\"module\">\n"
      "      <param k=\"param\"/>\n"
      "      <param k=\"second param\"/>\n"
      "    </module>\n"
      "    <param after=\"closed\"/>\n"
      "    <group><module name=\"c\"/><param inGroup=\"1\"/></group>\n"
      "  </module>\n"
      "  <param top=\"t\" frameDuration=\"20\"/>\n"
      "  <ignored><param deep=\"1\"/></ignored>\n"
      "</config>\n";
  ConfigTree tree;
  const ConfigTreeNode* root = tree.load(xml, false, 512);
  EXPECT_EQ(dump(*root),
            "featex {deep=1;frameDuration=20;top=t;}\n"
            "  module {after=closed;inGroup=1;instance=A;k=module;name=a;}\n"
            "    module {instance=B;k=second param;name=b;}\n"
            "    module {name=c;}\n");
}

TEST(ConfigTreeTest, DocumentWithoutModulesGivesARootWithoutChildren) {
  ConfigTree tree;
  const ConfigTreeNode* root = tree.load("<featex><param frameDuration=\"10\"/></featex>", false, 512);
  EXPECT_TRUE(root->children.empty());
  EXPECT_EQ(root->settings.getLong("frameDuration", -1), 10);
}

TEST(ConfigTreeTest, MalformedDocumentsNameTheParserErrorAndPosition) {
  // The message gives Expat's line less 1 and column less 1: the third line is
  // 2. Expat places a mismatched end tag at its name, here the sixth
  // character (column 5), and other errors at the start of the offending token.
  EXPECT_EQ(loadFailure("<a>\n<module name='x'>\n<b></c>\n</module></a>"), "mismatched tag at (line, col) = (2, 4).");
  EXPECT_EQ(loadFailure("<a>\n<module name='x'>\n"), "no element found at (line, col) = (2, -1).");
  EXPECT_EQ(loadFailure(""), "no element found at (line, col) = (0, -1).");
  EXPECT_EQ(loadFailure("<a>\n  <module name=\"x"), "unclosed token at (line, col) = (1, 1).");
  // '<' may not stand in an attribute value; it is the 19th character.
  EXPECT_EQ(loadFailure("<a>\n  <module name=\"x></a>"), "not well-formed (invalid token) at (line, col) = (1, 17).");
  EXPECT_EQ(loadFailure("<a/><b/>"), "junk after document element at (line, col) = (0, 3).");
}

TEST(ConfigTreeTest, EntitiesMayAbbreviateButNotMultiplyTheDocument) {
  // Five levels of ten references: a megabyte from a few hundred bytes, below
  // what Expat refuses on its own.
  std::string text = "<!DOCTYPE a [<!ENTITY e0 \"xxxxxxxxxx\">";
  for (int level = 1; level <= 5; ++level) {
    text += "<!ENTITY e" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) text += "&e" + std::to_string(level - 1) + ";";
    text += "\">";
  }
  text += "]><a><module name=\"&e5;\"/></a>";
  const std::string failure = loadFailure(text);
  EXPECT_NE(failure, "no exception");
  EXPECT_NE(failure.find("at (line, col) = ("), std::string::npos) << failure;

  // A small expansion reads as ever.
  ConfigTree tree;
  tree.load("<!DOCTYPE a [<!ENTITY t \"fex_test\">]><a><module name=\"&t;\"/></a>", false, 512);
  EXPECT_EQ(dump(*tree.getRoot()), "featex {}\n  module {name=fex_test;}\n");
}

TEST(ConfigTreeTest, MissingFileReadsAsAnEmptyDocument) {
  ConfigTree tree;
  try {
    tree.load(::testing::TempDir() + "no such config.xml", true, 512);
    ADD_FAILURE() << "expected simpleException";
  } catch (const simpleException& e) {
    EXPECT_STREQ(e.what(), "no element found at (line, col) = (0, -1).");
  }
  EXPECT_EQ(tree.getRoot(), nullptr);
}

TEST(ConfigTreeTest, ChunkedReadingGivesTheSameTree) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <param frameDuration=\"10\"/>\n";
  for (int i = 0; i < 40; ++i) {
    xml += "  <module name=\"fex_time_to_weighted_time\" instance=\"win" + std::to_string(i) +
           "\" window=\"Hann \xC3\xA4\xC3\xB6\">\n"
           "    <module name=\"fex_statistics\" instance=\"st" + std::to_string(i) + "\" sr=\"" +
           std::to_string(i * 7) + "\"><param storeOnlyMean=\"true\"/></module>\n"
           "  </module>\n";
  }
  xml += "</config>\n";
  ASSERT_GT(xml.size(), 4 * 512u);

  const std::string path = testfiles::tempPath("chunked_config.xml");
  std::ofstream(path) << xml;

  ConfigTree whole;
  const std::string expected = dump(*whole.load(xml, false, static_cast<unsigned>(xml.size()) + 1));
  EXPECT_EQ(whole.getRoot()->children.size(), 40u);
  EXPECT_EQ(whole.getRoot()->children[39]->children[0]->settings.getString("sr"), "273");
  EXPECT_EQ(whole.getRoot()->children[0]->settings.getString("window"), "Hann \xC3\xA4\xC3\xB6");

  for (unsigned bufferSize : {512u, 1u, 7u, 0u, static_cast<unsigned>(xml.size())}) {
    ConfigTree chunked;
    EXPECT_EQ(dump(*chunked.load(path, true, bufferSize)), expected) << "buffer size " << bufferSize;
  }
}

TEST(ConfigTreeTest, LoadReplacesTheEarlierTree) {
  ConfigTree tree;
  tree.load("<module name=\"first\"/>", false, 512);
  const ConfigTreeNode* root = tree.load("<c><module name=\"second\"/><module name=\"third\"/></c>", false, 512);
  ASSERT_EQ(root->children.size(), 2u);
  EXPECT_EQ(root->children[0]->settings.getString("name"), "second");
  // A failed load leaves no tree behind.
  EXPECT_THROW(tree.load("<c>", false, 512), simpleException);
  EXPECT_EQ(tree.getRoot(), nullptr);
  tree.release();
}
