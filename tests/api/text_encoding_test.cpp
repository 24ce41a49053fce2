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
  EXPECT_FALSE(isUtf8("\xF0\x9F\x98\x80"));     // four-byte lead passed over, then a stray byte
  EXPECT_FALSE(isUtf8("Caf\xE9"));               // Latin-1
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
