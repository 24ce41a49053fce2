#include "similarity/session_globals.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "metadata/sources/vmtl/vmtl_exception.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"
#include "tests/support/temp_files.h"

namespace {

std::string written(const SessionGlobals& globals) {
  std::ostringstream out;
  globals.write(out);
  return out.str();
}

void readInto(SessionGlobals& globals, const std::string& block) {
  std::istringstream in(block);
  globals.read(in);
}

std::string text(const SessionGlobals& globals, const char* tag) {
  uint32_t size = 99;
  const char* bytes = globals.getText(tag, size);
  return bytes ? std::string(bytes, size) : "<absent " + std::to_string(size) + ">";
}

// Every tag, optionally with the unknown tag "QQQ" between "NRM" and "TRE".
// "ov" sums to 229 and sits in bucket 9.
std::string fullBlock(bool withUnknown = true) {
  ByteBuilder b;
  tableMap(b.u8(0).text("LLT"), 9, "ov", 2, 2, {1.0f, 5.0f, 10.0f, 50.0f});
  tableMap(b.text("NRM"), 9, "ov", 2, 1, {1.0f, 2.0f}).text(withUnknown ? "QQQ" : "");
  return b.text("TRE").u32le(2).text("t1").text("XML").u32le(6).text("<cfg/>").text("END").image();
}

// Byte for byte: line ends and NUL bytes stay as they are.
TEST(SessionGlobals, TextBlocksFromFiles) {
  const std::string config("<c\0>\r\n", 6);
  SessionGlobals globals;
  globals.setTextFromFile("XML", testfiles::writeFile("cfg.xml", config));
  EXPECT_EQ(written(globals), ByteBuilder().u8(0).text("XML").u32le(6).text(config).text("END").image());
  EXPECT_EQ(text(globals, "TRE"), "<absent 0>");
  const std::string empty = testfiles::writeFile("empty.xml", "");
  globals.setTextFromFile("TRE", empty);
  EXPECT_EQ(text(globals, "TRE"), "");

  // A table tag would be written without the count its reader needs.
  expectThrowMessage<StandardException>([&] { globals.setTextFromFile("LLT", empty); },
                                        "SessionGlobals::setTextFromFile() not a text block: LLT");
  std::remove(empty.c_str());
  expectThrowMessage<StandardException>([&] { globals.setTextFromFile("XML", empty); },
                                        "SessionGlobals::setTextFromFile() could not open file: " + empty);
  EXPECT_EQ(text(globals, "XML"), config);
}

TEST(SessionGlobals, ReadReplacesTheTagsItCarriesAndPassesOverUnknownOnes) {
  SessionGlobals globals;
  EXPECT_TRUE(!globals.hasLLT() && globals.getNormalizationTable("ov") == nullptr);
  EXPECT_TRUE(globals.linearizationNames().empty());
  readInto(globals, fullBlock());
  EXPECT_EQ(written(globals), fullBlock(false));
  EXPECT_EQ(globals.linearizationNames(), std::set<std::string>{"ov"});
  EXPECT_EQ((*globals.getLinearizationTable("ov"))(1, 1), 50.0f);
  expectThrowMessage<StandardException>([&] { globals.getNormalizationTable("zz"); },
                                        "GenericMap::operator[]() key not found in map");

  ByteBuilder second;
  tableMap(second.u8(0).text("NRM"), 9, "ov", 2, 1, {7.0f, 8.0f}).text("XML").u32le(3).text("new").text("END");
  readInto(globals, second.image());
  EXPECT_EQ((*globals.getNormalizationTable("ov"))(0, 0), 7.0f);
  EXPECT_EQ((*globals.getLinearizationTable("ov"))(0, 1), 5.0f);
  EXPECT_EQ(text(globals, "XML") + text(globals, "TRE"), "newt1");

  // The older form: a bare count and configuration text, nothing else.
  readInto(globals, ByteBuilder().u32le(3).text("abc").image());
  EXPECT_EQ(text(globals, "XML"), "abc");
  EXPECT_TRUE(globals.hasLLT() && globals.hasNRM());

  // A block cut anywhere, also just before "END", fails and changes nothing.
  const std::string before = written(globals);
  const std::string block = fullBlock();
  for (size_t cut = 0; cut < block.size(); ++cut) {
    try {
      readInto(globals, block.substr(0, cut));
      ADD_FAILURE() << "a cut at " << cut << " was accepted";
    } catch (const StandardException& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("::read() unexpected end of stream"), std::string::npos) << message;
      if (cut == 0 || cut == block.size() - 1) {
        EXPECT_EQ(message, "SessionGlobals::read() unexpected end of stream");
      }
    } catch (const VMTLException&) {
    }
    EXPECT_EQ(written(globals), before) << cut;
  }
}

}  // namespace
