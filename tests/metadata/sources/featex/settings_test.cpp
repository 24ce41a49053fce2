#include "metadata/sources/featex/settings.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(SettingsTest, GetLongReadsLikeAtolOfThe32BitTarget) {
  Settings settings;
  EXPECT_EQ(settings.getLong("absent", -1), -1);
  settings.setString("abc", "abc");
  settings.setString("mixed", "12abc");
  settings.setString("blanks", " \t\n-42 7");
  settings.setString("plus", "+17");
  settings.setString("empty", "");
  settings.setString("huge", "99999999999");
  settings.setString("tiny", "-99999999999");
  settings.setString("float", "3.9");
  EXPECT_EQ(settings.getLong("abc", -1), 0);
  EXPECT_EQ(settings.getLong("mixed", -1), 12);
  EXPECT_EQ(settings.getLong("blanks", -1), -42);
  EXPECT_EQ(settings.getLong("plus", -1), 17);
  // Present with an empty value: 0, not the default.
  EXPECT_EQ(settings.getLong("empty", -1), 0);
  EXPECT_EQ(settings.getLong("huge", 0), 2147483647);
  EXPECT_EQ(settings.getLong("tiny", 0), -2147483647 - 1);
  EXPECT_EQ(settings.getLong("float", 0), 3);
}

TEST(SettingsTest, GetDoubleAndGetBool) {
  Settings settings;
  EXPECT_EQ(settings.getDouble("absent", -1.0), -1.0);
  settings.setString("d", " 2.5e1x");
  settings.setString("word", "abc");
  EXPECT_EQ(settings.getDouble("d", 0.0), 25.0);
  EXPECT_EQ(settings.getDouble("word", -1.0), 0.0);

  settings.setString("upper", "TRUE");
  settings.setString("one", "1");
  settings.setString("padded", "true ");
  settings.setBool("yes", true);
  EXPECT_FALSE(settings.getBool("upper"));
  EXPECT_FALSE(settings.getBool("one"));
  EXPECT_FALSE(settings.getBool("padded"));
  EXPECT_FALSE(settings.getBool("absent"));
  EXPECT_TRUE(settings.getBool("yes"));
}

TEST(SettingsTest, SettersStoreText) {
  Settings settings;
  settings.setLong("n", -5);
  settings.setLong("max", 2147483647);
  settings.setLong("min", -2147483647 - 1);
  settings.setBool("b", false);
  EXPECT_EQ(settings.getString("n"), "-5");
  EXPECT_EQ(settings.getString("max"), "2147483647");
  EXPECT_EQ(settings.getString("min"), "-2147483648");
  EXPECT_EQ(settings.getString("b"), "false");
  settings.setString("n", "7");
  EXPECT_EQ(settings.getLong("n", 0), 7);
  EXPECT_EQ(settings.size(), 4u);
}

TEST(SettingsTest, EqualsRemoveAndAbsentKeys) {
  Settings settings;
  EXPECT_EQ(settings.getString("x"), "");
  EXPECT_FALSE(settings.equals("x", ""));
  EXPECT_FALSE(settings.contains("x"));
  settings.setString("x", "");
  EXPECT_TRUE(settings.equals("x", ""));
  EXPECT_TRUE(settings.contains("x"));
  settings.setString("y", "v");
  EXPECT_TRUE(settings.equals("y", "v"));
  EXPECT_FALSE(settings.equals("y", "V"));
  settings.remove("y");
  settings.remove("never there");
  EXPECT_EQ(settings.size(), 1u);
  EXPECT_FALSE(settings.equals("y", "v"));
}

TEST(SettingsTest, GetNextKeyWalksKeysInByteOrder) {
  Settings settings;
  EXPECT_EQ(settings.getNextKey(""), "");
  settings.setString("y", "2");
  settings.setString("x", "1");
  settings.setString("B", "0");  // upper case sorts before lower case
  EXPECT_EQ(settings.getNextKey(""), "B");
  EXPECT_EQ(settings.getNextKey("B"), "x");
  EXPECT_EQ(settings.getNextKey("x"), "y");
  EXPECT_EQ(settings.getNextKey("y"), "");
  // An absent key gives the key that would follow it.
  EXPECT_EQ(settings.getNextKey("xa"), "y");

  std::string key;
  std::string walked;
  for (unsigned i = 0; i < settings.size(); ++i) walked += key = settings.getNextKey(key);
  EXPECT_EQ(walked, "Bxy");
}

TEST(SettingsTest, PrintWritesOneLinePerKeyInOrder) {
  Settings settings;
  std::ostringstream empty;
  settings.print(empty);
  EXPECT_EQ(empty.str(), "");
  settings.setString("b", "2");
  settings.setString("a", "1");
  std::ostringstream os;
  settings.print(os);
  EXPECT_EQ(os.str(), "a\t = 1\nb\t = 2\n");
}

TEST(SettingsTest, CopyIsIndependent) {
  Settings original;
  original.setString("k", "v");
  Settings copy(original);
  copy.setString("k", "w");
  copy.setString("other", "1");
  EXPECT_EQ(original.getString("k"), "v");
  EXPECT_EQ(original.size(), 1u);
  EXPECT_EQ(copy.getString("k"), "w");
  // Reached through the base, as the modules see it.
  const SettingsBase& base = copy;
  EXPECT_EQ(base.getString("other"), "1");
}
