#pragma once
// The texts of a session's songs as its metadata file (NAME.meta beside
// NAME.ses) holds them, read with the library's own reader, and what the
// file has lost. A session that keeps its texts itself loads a file that
// lacks the records of songs (emptied or cut short) with code 29 and a line
// of the library's own, and takes a record cut short as it finds it; the
// next save makes any loss permanent. A host checks the file before the
// library reads it, with the songs of a session made without texts, and
// before it relies on it or writes over it:
//
// - every song of the session has a record, and a whole one: the library
//   writes each record's tags in ascending order, "TPE1" (the artist) last
//   of the four it always writes, so a record cut short lacks it;
// - a file in the library's form ends with its closing line.
//
// SessionTextCallback hands the texts to a session made without metadata
// (for its text export), so that a session whose metadata file is damaged
// can still be read, its lost texts empty.

#include <cstdint>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "session/metadata_store.h"

class SessionTexts {
 public:
  // Reads metaPath (a missing file holds no texts) and checks it against the
  // songs session holds. The reader's own failures pass on.
  SessionTexts(const std::string& metaPath, vemra_kivet::vraISession& session);

  // Songs without a whole record, or a file cut short.
  bool damaged() const { return !songsWithout.empty() || cutShort; }
  // The ids of the records of songs the session does not hold, the first
  // few ("3, 4", "1, 2, ... and 7 more"); empty when there are none.
  std::string othersIds() const;
  // "NAME.meta is damaged: K of N songs have no metadata", or "is missing",
  // or "is cut short" when every song kept its record.
  std::string damage() const;

  struct Song {
    std::string artist;
    std::string title;
    std::string fileName;
    int milliseconds = 0;
  };
  // The song's texts; all empty for a song without a record.
  Song song(unsigned id) const;
  // The title, or where it is empty the file name without its folder, so
  // that a song without tags can still be told apart.
  std::string shownTitle(unsigned id) const;

  // Writes a metadata file at path with the texts that are left and a whole
  // record, empty where they are lost, for every song that has none, so that
  // a session saved with it is whole again. Throws as MetadataStore::write.
  void writeWhole(const std::string& path) const;

 private:
  std::string path;
  MetadataStore store;
  bool missing = false;
  bool cutShort = false;
  unsigned songs = 0;
  std::vector<unsigned> songsWithout;
  std::vector<uint64_t> othersRecords;
};

// The session's questions for song texts, answered from SessionTexts; the
// other questions are answered with nothing. Texts handed out stay valid
// until the next question.
class SessionTextCallback final : public vemra_kivet::vraICallback {
 public:
  explicit SessionTextCallback(const SessionTexts& texts) : texts(texts) {}

  const char* getTitle(unsigned id) override;
  const char* getArtist(unsigned id) override;
  const char* getExtraText(unsigned id) override;
  const char* getFileName(unsigned id) override;
  int getLength(unsigned id) override;
  int getExtraNumber(unsigned id) override;
  int getExtraNumber2(unsigned id) override;
  int onIdChanged(unsigned oldId, unsigned newId) override;
  void reportProgress(float progress) override;
  void notify(int notification) override;

 private:
  const char* hold(std::string text);

  const SessionTexts& texts;
  std::string held;
};
