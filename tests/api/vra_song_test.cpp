#include "api/vra_song.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "api/vra_kivet_exception.h"

using namespace vemra_kivet;

namespace {

template <typename Call>
void expectCode(Call&& call, int code) {
  try {
    call();
    ADD_FAILURE() << "expected code " << code;
  } catch (const vraKivetException& e) {
    EXPECT_EQ(e.getCode(), code);
  }
}

}  // namespace

TEST(VraSong, StartsEmpty) {
  vraSong song;
  EXPECT_STREQ(song.getTitle(false), "");
  EXPECT_STREQ(song.getFileName(true), "");
  EXPECT_EQ(song.getLength(), 0);
  EXPECT_EQ(song.getExtraNumber(), 0);
  EXPECT_EQ(song.getExtraNumber2(), 0);
  EXPECT_EQ(song.getId(), 0u);
  song.setLength(1234);
  song.setExtraNumber(-5);
  song.setId(7);
  EXPECT_EQ(song.getLength(), 1234);
  EXPECT_EQ(song.getExtraNumber(), -5);
  EXPECT_EQ(song.getExtraNumber2(), 0);
  EXPECT_EQ(song.getId(), 7u);
}

TEST(VraSong, TextsStoredAsUtf8ReadInEitherEncoding) {
  vraSong song;
  song.setTitle("Caf\xE9");  // Latin-1
  EXPECT_EQ(std::string(song.getTitle(false)), "Caf\xC3\xA9");
  EXPECT_EQ(std::string(song.getTitle(true)), "Caf\xE9");
  song.setArtist("Caf\xC3\xA9");  // already UTF-8
  EXPECT_EQ(std::string(song.getArtist(false)), "Caf\xC3\xA9");
  song.setExtraText("plain");
  EXPECT_STREQ(song.getExtraText(false), "plain");
  song.setFileName("/m\xFCsic/a.wav");
  EXPECT_EQ(std::string(song.getFileName(false)), "/m\xC3\xBCsic/a.wav");
  // The Latin-1 readings of two texts are valid side by side.
  const char* title = song.getTitle(true);
  const char* file = song.getFileName(true);
  EXPECT_EQ(std::string(title), "Caf\xE9");
  EXPECT_EQ(std::string(file), "/m\xFCsic/a.wav");
}

// Each setter keeps UTF-8 as given, four-byte sequences included, and takes
// anything else for Latin-1; the Latin-1 getters drop what lies beyond
// Latin-1 or keep one byte of it.
TEST(VraSong, SettersKeepUtf8AndGettersReadLatin1) {
  using Setter = void (vraSong::*)(const char*);
  using Getter = const char* (vraSong::*)(bool);
  const std::pair<Setter, Getter> texts[] = {{&vraSong::setTitle, &vraSong::getTitle},
                                             {&vraSong::setArtist, &vraSong::getArtist},
                                             {&vraSong::setExtraText, &vraSong::getExtraText},
                                             {&vraSong::setFileName, &vraSong::getFileName}};
  const struct {
    const char* given;
    const char* stored;
    const char* latin1;
  } cases[] = {
      {"\xF0\x9F\x8E\xB5 Night Drive", "\xF0\x9F\x8E\xB5 Night Drive", " Night Drive"},
      {"\xF0\xA0\x80\x8B", "\xF0\xA0\x80\x8B", ""},
      {"Bj\xC3\xB6rk \xF0\x9F\x8E\xB5", "Bj\xC3\xB6rk \xF0\x9F\x8E\xB5", "Bj\xF6rk "},
      {"\xE5\xA4\x9C \xF0\x9F\x8E\xB5", "\xE5\xA4\x9C \xF0\x9F\x8E\xB5", "\x1C "},  // one byte of U+591C
      {"5 \xE2\x82\xAC", "5 \xE2\x82\xAC", "5 \xAC"},
      {"Caf\xE9", "Caf\xC3\xA9", "Caf\xE9"},
      {"\xF0 ok", "\xC3\xB0 ok", "\xF0 ok"},  // Latin-1 "ð"
      {"plain", "plain", "plain"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    for (const auto& [set, get] : texts) {
      vraSong song;
      (song.*set)(c.given);
      EXPECT_EQ(std::string((song.*get)(false)), c.stored) << c.given;
      EXPECT_EQ(std::string((song.*get)(true)), c.latin1) << c.given;
    }
  }
}

TEST(VraSong, NullTextIsAConversionError) {
  vraSong song;
  song.setTitle("kept");
  expectCode([&] { song.setTitle(nullptr); }, 28);
  expectCode([&] { song.setFileName(nullptr); }, 28);
  EXPECT_STREQ(song.getTitle(false), "kept");
}

TEST(VraSong, ReferenceCount) {
  auto* song = new vraSong;  // count 1
  song->addRef();            // 2
  song->release();           // 1
  EXPECT_STREQ(song->getTitle(false), "");
  song->release();  // 0: deleted (the sanitizer build reports a leak otherwise)
}
