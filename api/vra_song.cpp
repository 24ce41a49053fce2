#include "api/vra_song.h"

#include "api/text_encoding.h"
#include "api/vra_kivet_exception.h"

namespace vemra_kivet {

vraSong::vraSong() = default;

vraSong::~vraSong() = default;

const char* vraSong::read(Text& text, bool latin1) {
  if (!latin1) return text.utf8.c_str();
  try {
    text.latin1 = utf8ToLatin1(text.utf8.c_str());
  } catch (...) {
    throw vraKivetException(VRA_UTF8_CONVERSION_ERROR);
  }
  return text.latin1.c_str();
}

void vraSong::store(Text& text, const char* value) {
  if (!value) throw vraKivetException(VRA_UTF8_CONVERSION_ERROR);
  try {
    std::string utf8 = isUtf8(value) ? std::string(value) : latin1ToUtf8(value);
    if (utf8 != text.utf8) text.utf8.swap(utf8);
  } catch (...) {
    throw vraKivetException(VRA_UTF8_CONVERSION_ERROR);
  }
}

const char* vraSong::getTitle(bool latin1) { return read(title, latin1); }
const char* vraSong::getArtist(bool latin1) { return read(artist, latin1); }
const char* vraSong::getExtraText(bool latin1) { return read(extraText, latin1); }
const char* vraSong::getFileName(bool latin1) { return read(fileName, latin1); }

int vraSong::getExtraNumber() { return extraNumber; }
int vraSong::getLength() { return length; }
int vraSong::getExtraNumber2() { return extraNumber2; }
unsigned vraSong::getId() { return id; }

void vraSong::setTitle(const char* text) { store(title, text); }
void vraSong::setArtist(const char* text) { store(artist, text); }
void vraSong::setExtraText(const char* text) { store(extraText, text); }
void vraSong::setFileName(const char* text) { store(fileName, text); }

}  // namespace vemra_kivet
