#include "metadata/sources/common/string_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"

namespace {

using Parts = std::vector<std::string>;

std::string pattern(std::size_t length) {
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

std::string& formatThroughVaList(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string& result = formatString(out, format, args);
  va_end(args);
  return result;
}

TEST(FormatString, FormatsIntoOutAndReturnsIt) {
  std::string out = "previous contents";
  EXPECT_EQ(&formatString(out, "%d-%s-%04x", -7, "x", 0xBEEFu), &out);
  EXPECT_EQ(out, "-7-x-beef");

  EXPECT_EQ(&formatThroughVaList(out, "%u|%.2f", 4294967295u, 0.5), &out);
  EXPECT_EQ(out, "4294967295|0.50");

  // C99 conversions on every build, the 32-bit Windows one included.
  formatString(out, "%zu|%lld|%llu", std::size_t{42}, -5000000000LL, 18446744073709551615ULL);
  EXPECT_EQ(out, "42|-5000000000|18446744073709551615");

  formatString(out, "%s", "");
  EXPECT_EQ(out, "");

  out = "self";
  formatString(out, "%s and %s", out.c_str(), out.c_str());
  EXPECT_EQ(out, "self and self");
}

TEST(FormatString, OutputIsCutAtItsFirst43008Characters) {
  const std::string source = pattern(50000);
  std::string out;
  formatString(out, "%s", source.c_str());
  EXPECT_EQ(out, source.substr(0, 43008));

  // At and just past every buffer size, the text is kept whole up to the last one.
  for (std::size_t limit : {2048u, 6144u, 12288u, 20480u, 30720u, 43008u}) {
    for (std::size_t length : {limit - 1, limit, limit + 1}) {
      SCOPED_TRACE(length);
      const std::string text = pattern(length);
      formatThroughVaList(out, "%s", text.c_str());
      EXPECT_EQ(out, text.substr(0, 43008));
    }
  }

  formatString(out, "%*d|", 45000, 5);
  ASSERT_EQ(out.size(), 43008u);
  EXPECT_EQ(out, std::string(43008, ' '));
}

TEST(ResizeAndGetBuffer, GrowsWithNulsButNeverShrinks) {
  std::string text = "ab";
  char* buffer = resizeAndGetBuffer(text, 5);
  EXPECT_EQ(buffer, &text[0]);
  EXPECT_EQ(text, std::string("ab\0\0\0", 5));
  buffer[4] = 'z';
  EXPECT_EQ(text[4], 'z');

  text = "abcdef";
  EXPECT_EQ(resizeAndGetBuffer(text, 3), &text[0]);
  EXPECT_EQ(text, "abcdef");
  resizeAndGetBuffer(text, -1);
  EXPECT_EQ(text, "abcdef");
}

TEST(NumberText, HexadecimalAndDecimalForms) {
  EXPECT_EQ(toHexString(0), "");
  EXPECT_EQ(toHexString(255), "ff");
  EXPECT_EQ(toHexString(4096), "1000");
  EXPECT_EQ(toHexString(0xABCDEF01u), "abcdef01");
  EXPECT_EQ(toHexString(0xFFFFFFFFu), "ffffffff");

  EXPECT_EQ(intToString(0), "0");
  EXPECT_EQ(intToString(-42), "-42");
  EXPECT_EQ(intToString(INT_MIN), "-2147483648");
  EXPECT_EQ(uint64ToString(18446744073709551615ull), "18446744073709551615");

  std::ostringstream out;
  EXPECT_EQ(&int64ToString(out, INT64_MIN), &out);
  int64ToString(out << ' ', int64_t{1234567890123});
  EXPECT_EQ(out.str(), "-9223372036854775808 1234567890123");
}

TEST(Trim, OnlySpacesAreBlanks) {
  EXPECT_EQ(trimLeft("  a b  "), "a b  ");
  EXPECT_EQ(trimRight("  a b  "), "  a b");
  EXPECT_EQ(trim("  a b  "), "a b");
  EXPECT_EQ(trim("\t a\n "), "\t a\n");
  EXPECT_EQ(trim(" \t\n "), "\t\n");
  EXPECT_EQ(trim("    "), "");
  EXPECT_EQ(trimLeft("   "), "");
  EXPECT_EQ(trimRight("   "), "");
  EXPECT_EQ(trim(""), "");
}

TEST(TextToNumber, LeadingNumberOrZero) {
  EXPECT_EQ(stringToInt("42"), 42);
  EXPECT_EQ(stringToInt("  -17"), -17);
  EXPECT_EQ(stringToInt("12abc"), 12);
  EXPECT_EQ(stringToInt("2147483647"), 2147483647);
  // Not a number, or not one that fits: 0.
  EXPECT_EQ(stringToInt("abc"), 0);
  EXPECT_EQ(stringToInt(""), 0);
  EXPECT_EQ(stringToInt("-"), 0);
  EXPECT_EQ(stringToInt("99999999999"), 0);

  EXPECT_EQ(stringToFloat("1.5"), 1.5f);
  EXPECT_EQ(stringToFloat(" -2.25e3x"), -2250.0f);
  EXPECT_EQ(stringToFloat("7"), 7.0f);
  EXPECT_EQ(stringToFloat("x1"), 0.0f);
  EXPECT_EQ(stringToFloat(""), 0.0f);
}

TEST(Split, EmptyPartsAreDroppedAndPartsTrimmedOnRequest) {
  EXPECT_EQ(split(",a,,b,", ',', false), (Parts{"a", "b"}));
  EXPECT_EQ(split(" a , b ", ',', true), (Parts{"a", "b"}));
  EXPECT_EQ(split(" a , b ", ',', false), (Parts{" a ", " b "}));
  EXPECT_EQ(split("a;b c", ";  ", false), (Parts{"a", "b", "c"}));
  EXPECT_EQ(split("a;b c", std::string(";"), false), (Parts{"a", "b c"}));

  EXPECT_EQ(split("", ',', false), Parts{});
  EXPECT_EQ(split(",,,", ',', false), Parts{});
  EXPECT_EQ(split("a", ',', false), Parts{"a"});
  EXPECT_EQ(split("abc", ',', true), Parts{"abc"});
  EXPECT_EQ(split("a,b", ',', false), (Parts{"a", "b"}));
  EXPECT_EQ(split("  , a,   ", ',', true), Parts{"a"});   // parts blank after trimming are dropped
  EXPECT_EQ(split("  , a,   ", ',', false), (Parts{"  ", " a", "   "}));
  EXPECT_EQ(split("a\tb", ',', true), Parts{"a\tb"});
  EXPECT_EQ(split("a,b", "", false), Parts{"a,b"});
}

TEST(StringResources, TheLibraryCarriesNone) {
  std::string out = "unchanged";
  EXPECT_FALSE(loadResourceString(out, 101, nullptr));
  EXPECT_EQ(out, "unchanged");

  EXPECT_EQ(stringFromTextOrId("a text"), "a text");
  EXPECT_EQ(stringFromTextOrId(""), "");
  EXPECT_EQ(stringFromTextOrId(reinterpret_cast<const char*>(std::uintptr_t{101})), "");
  EXPECT_EQ(stringFromTextOrId(reinterpret_cast<const char*>(std::uintptr_t{0xFFFF})), "");
  EXPECT_EQ(stringFromTextOrId(nullptr), "");
}

TEST(StandardException, CarriesItsMessageByValue) {
  try {
    throw StandardException("Session::load() corrupted session format");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Session::load() corrupted session format");
  }

  StandardException original(std::string("Quant: max<minval"));
  StandardException copy = original;
  original.message = "changed";
  EXPECT_EQ(copy.message, "Quant: max<minval");
  EXPECT_STREQ(copy.what(), "Quant: max<minval");
}

}  // namespace
