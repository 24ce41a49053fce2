#pragma once
// One song's texts and numbers as a host sees them: the object behind
// vraISong, handed out by the session and embedded in every signature.

#include <cstdint>
#include <string>

#include "api/kivet.h"
#include "api/vra_reference_counted.h"

namespace vemra_kivet {

class vraSong : public vraReferenceCounted<vraISong> {
 public:
  // Empty texts, numbers and id 0; the count starts at 1: the creator owns
  // the object it receives.
  vraSong();
  vraSong(const vraSong&) = delete;
  vraSong& operator=(const vraSong&) = delete;

  // With latin1 the text is converted; the converted text stays valid until
  // the next Latin-1 read or the next set of the same text.
  const char* getTitle(bool latin1) override;
  const char* getArtist(bool latin1) override;
  const char* getExtraText(bool latin1) override;
  const char* getFileName(bool latin1) override;
  int getExtraNumber() override;
  int getLength() override;
  int getExtraNumber2() override;
  unsigned getId() override;
  // Stores UTF-8 as given and converts anything else from Latin-1; a null
  // text or a failed conversion raises code 28.
  void setTitle(const char* text) override;
  void setArtist(const char* text) override;
  void setExtraText(const char* text) override;
  void setFileName(const char* text) override;
  // Public so that the objects embedding a song can destroy it.
  ~vraSong() override;


  void setExtraNumber(int value) { extraNumber = value; }
  void setLength(int milliseconds) { length = milliseconds; }
  void setId(unsigned value) { id = value; }

 private:
  // One stored text with the buffer of its last Latin-1 reading.
  struct Text {
    std::string utf8;
    std::string latin1;
  };

  static const char* read(Text& text, bool latin1);
  static void store(Text& text, const char* value);

  Text title;
  Text artist;
  Text extraText;
  Text fileName;
  int32_t length = 0;
  int32_t extraNumber = 0;
  // Nothing sets it.
  int32_t extraNumber2 = 0;
  uint32_t id = 0;
};

}  // namespace vemra_kivet
