#include "api/vra_song.h"

#include <gtest/gtest.h>

#include <string>

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
