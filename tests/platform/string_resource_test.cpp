#include "platform/string_resource.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::loadStringResource;

#ifdef _WIN32

// string_resource_test.rc holds the table of this program.
TEST(StringResource, LooksEntriesUpInTheMainModule) {
  std::string out = "unchanged";
  EXPECT_TRUE(loadStringResource(out, 101, nullptr));
  EXPECT_EQ(out, "first text");
  EXPECT_TRUE(loadStringResource(out, 103, nullptr));
  EXPECT_EQ(out, "a text with \"quotes\" and a tab\tinside");
  EXPECT_TRUE(loadStringResource(out, 4000, nullptr));
  EXPECT_EQ(out, "entry of a late block");
  EXPECT_TRUE(loadStringResource(out, 65535, nullptr));
  EXPECT_EQ(out, "the last id");
}

TEST(StringResource, MissingEntries) {
  std::string out = "unchanged";
  EXPECT_FALSE(loadStringResource(out, 200, nullptr));  // no such block
  EXPECT_FALSE(loadStringResource(out, 0, nullptr));
  // Ids are 16 bits: 65536 + 101 is not entry 101.
  EXPECT_FALSE(loadStringResource(out, 65536 + 101, nullptr));
  EXPECT_FALSE(loadStringResource(out, 0xFFFFFFFFu, nullptr));
  EXPECT_EQ(out, "unchanged");

  // Absent from a block that exists: the text is emptied.
  EXPECT_FALSE(loadStringResource(out, 102, nullptr));
  EXPECT_EQ(out, "");
  out = "unchanged";
  EXPECT_FALSE(loadStringResource(out, 96, nullptr));
  EXPECT_EQ(out, "");
}

#else

TEST(StringResource, NothingIsFoundWithoutStringTables) {
  std::string out = "unchanged";
  for (unsigned id : {0u, 101u, 4000u, 65535u, 65536u + 101u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(loadStringResource(out, id, nullptr)) << id;
  }
  EXPECT_EQ(out, "unchanged");
}

#endif

}  // namespace
