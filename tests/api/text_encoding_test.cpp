#include "api/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

using namespace vemra_kivet;

TEST(TextEncoding, IsUtf8) {
  EXPECT_FALSE(isUtf8(""));
  EXPECT_FALSE(isUtf8(nullptr));
  EXPECT_FALSE(isUtf8("plain ascii"));
  EXPECT_FALSE(isUtf8("\x80" "A"));              // stray continuation first
  EXPECT_TRUE(isUtf8("A\xC3\xA9"));
  EXPECT_TRUE(isUtf8("\xC3" "A\xC3\xA9"));       // the first lead is passed over
  EXPECT_TRUE(isUtf8("\xC3\xA9\x80"));           // decided at the first good pair
  EXPECT_FALSE(isUtf8("A\x80\xC3\xA9"));         // stray byte before the good pair
  EXPECT_TRUE(isUtf8("\xE2\x82\xAC"));
  EXPECT_FALSE(isUtf8("\xE2\x82"));              // cut off by the end
  EXPECT_FALSE(isUtf8("\xC3"));
  EXPECT_FALSE(isUtf8("Caf\xE9"));               // Latin-1
}

// Four-byte sequences are UTF-8 where they stand, when whole and of a code
// point from U+10000 to U+10FFFF; any other lead from F0 up is passed over.
TEST(TextEncoding, IsUtf8WithFourByteSequences) {
  const struct {
    const char* text;
    bool utf8;
  } cases[] = {
      {"\xF0\x9F\x8E\xB5 Night Drive", true},  // U+1F3B5 alone
      {"\xF0\xA0\x80\x8B", true},                // U+2000B, a CJK extension character
      {"\xF0\x90\x80\x80", true},                // U+10000, the first
      {"\xF4\x8F\xBF\xBF", true},                // U+10FFFF, the last
      {"ab\xF0\x9F\x8E\xB5\x80", true},         // decided at the sequence
      {"\xF0\x8F\xBF\xBF", false},               // overlong form of U+FFFF: a stray byte follows
      {"\xF4\x90\x80\x80", false},               // beyond U+10FFFF
      {"\xF5\x80\x80\x80", false},               // no lead of a code point
      {"\xF0\x9F\x8E", false},                    // cut off by the end
      {"\xF0\x9F\x8E" "A", false},                // cut off by another character
      {"\x80\xF0\x9F\x8E\xB5", false},           // stray continuation first
      {"\xF0" "A\xF0\x9F\x8E\xB5", true},         // a lead without its bytes is passed over
      {"\xF0\x9F\x8E\xB5" "\xE9", true},          // Latin-1 after it is not looked at
  };
  for (const auto& c : cases) EXPECT_EQ(isUtf8(c.text), c.utf8) << c.text;
}

TEST(TextEncoding, Latin1ToUtf8) {
  EXPECT_EQ(latin1ToUtf8("Caf\xE9"), "Caf\xC3\xA9");
  EXPECT_EQ(latin1ToUtf8("\x80\xFF"), "\xC2\x80\xC3\xBF");
  EXPECT_EQ(latin1ToUtf8("ascii"), "ascii");
  EXPECT_EQ(latin1ToUtf8(nullptr), "");
}

TEST(TextEncoding, Utf8ToLatin1) {
  EXPECT_EQ(utf8ToLatin1("Caf\xC3\xA9"), "Caf\xE9");
  EXPECT_EQ(utf8ToLatin1("ab\xC3"), "ab");                // lone lead at the end dropped
  EXPECT_EQ(utf8ToLatin1("\xE2\x82\xAC"), "\xAC");        // low byte of the euro sign
  EXPECT_EQ(utf8ToLatin1("x\xE2\x82"), "x");              // three-byte sequence cut off
  EXPECT_EQ(utf8ToLatin1("\xF0\x9F\x98\x80" "a"), "a");   // four-byte sequence skipped
  EXPECT_EQ(utf8ToLatin1("\xF0\x9F\x98"), "");
  EXPECT_EQ(utf8ToLatin1("\xF8\x81\x82\x83\x84" "b"), "b");
  EXPECT_EQ(utf8ToLatin1("\xFC\x81\x82\x83\x84\x85" "c"), "c");
  EXPECT_EQ(utf8ToLatin1("\x80" "d\xFE\xFF"), "d");       // stray bytes dropped
  // Every Latin-1 character survives the round trip.
  for (unsigned c = 1; c < 256; ++c) {
    const char text[2] = {static_cast<char>(c), 0};
    EXPECT_EQ(utf8ToLatin1(latin1ToUtf8(text).c_str()), std::string(text)) << c;
  }
}
