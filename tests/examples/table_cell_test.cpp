#include "examples/table_cell.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const char* text;
  const char* shown;
};

// Every control character is one space; every other character, and every
// byte that is no control in Latin-1, stays.
const Case kCases[] = {
    {"Rising tones", "Rising tones"},
    // C0, DEL.
    {"a\tb\r\nc\x1b[1m\x7f", "a b  c [1m "},
    // C1 in UTF-8: CSI, the first and the last; the next character stays.
    {"Ti\xc2\x9btle", "Ti tle"},
    {"\xc2\x80\xc2\x9f\xc2\xa0", "  \xc2\xa0"},
    // Other sequences of two to four bytes stay, whatever their bytes.
    {"caf\xc3\xa9 \xe2\x82\xac \xe2\x82\x9b \xf0\x9d\x84\x9e", "caf\xc3\xa9 \xe2\x82\xac \xe2\x82\x9b \xf0\x9d\x84\x9e"},
    // Latin-1: a stray C1 byte is a space, the letters stay, also before
    // one.
    {"\x9b[31mred", " [31mred"},
    {"Caf\xe9\x85", "Caf\xe9 "},
    {"\xa0\xff\x80", "\xa0\xff "},
    // Broken sequences: an overlong form, a surrogate, beyond U+10FFFF, cut
    // short by the end.
    {"\xc0\x9b", "\xc0 "},
    {"\xed\xa0\x80", "\xed\xa0 "},
    {"\xf4\x90\x80\x80", "\xf4   "},
    {"\xe2\x82", "\xe2 "},
    {"end\xc2", "end\xc2"},
};

TEST(TableCellTest, ControlCharactersAreSpacesAndAllElseStays) {
  for (const Case& c : kCases) EXPECT_EQ(tableCell(c.text), c.shown) << c.text;
  // A NUL inside a text is a control character too.
  EXPECT_EQ(tableCell(std::string("x\0y", 3)), "x y");
}

}  // namespace
