#pragma once
// What a session consists of: the feature database of adapted signatures, the
// session's global blocks and the song metadata; and the session file that
// holds them (integers 4 bytes little-endian, str = u32 length + bytes):
//
//   str "SES", u32 S, S bytes of tag entries   the header, written by the session object
//   the globals block                          similarity/session_globals.h
//   the database image                         similarity/adapted_feature_db.h
//
// The song metadata goes to a file of its own beside it (metadataPath).

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "session/metadata_store.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/session_globals.h"

class Session {
 public:
  // The failure of a load that kept every readable entry of a damaged
  // database image: its owners compare the text and carry on.
  static constexpr const char* kCorruptedStream = "Session::load: corrupted stream";

  // An empty database named "Database", empty globals and metadata.
  Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  virtual ~Session();

  // The number of stored songs; 0 without a database.
  int songCount() const;

  // Writes the globals block and the database image to out, behind the
  // header the caller has written. Unless meta is null, then writes the
  // metadata file to it, also when it holds no record: a load that finds
  // songs asks for the file, and no metadata file of an earlier save may
  // stay beside the songs that replace its own. A write that fails leaves
  // its stream failed; the caller closes both. Without a database (after a
  // failed load) nothing is written and the call fails with
  // "Session::save() no database".
  void save(std::ostream& out, std::ostream* meta);

  // Reads a whole session file, replacing the database and the metadata; the
  // global blocks the file carries replace those of the same tags. The
  // signatures then receive the globals' linearisation and normalisation
  // (similarity/session_utils.h), and the metadata file at metaPath, unless
  // it is empty, is read. Song ids are 32-bit: an entry whose id has a high
  // word is left out, as the image reader leaves out entries it cannot take
  // (similarity/adapted_feature_db.h). lastId is the last id of the file's
  // header (0: none). Every song the session object adds gets a record and
  // moves the last id up to its own, so with a metadata file read, a song
  // above a last id without a record was never added: damage raised its id
  // (the image's order cannot show that for the last entry), and it is left
  // out with the line
  //   "Session::load() song id above the last id and without a record: " + id
  // A song with a record stays (after 2^32 - 1 the last id starts again from
  // 1, below the songs added before), and so does one without a record at
  // or below the last id (or without a last id): then the metadata file has
  // lost its record (it was emptied or cut short), which the standard error
  // stream names,
  //   "Session::load() the metadata file " + metaPath + " lacks the records
  //   of " + K + " of " + N + " songs",
  // and the load ends with kCorruptedStream. Failures:
  //   "Session::load() Could not open session: " + path (a folder too)
  //   "Session::load() corrupted session format": no "SES", or the file ends
  //     or breaks before the database image (the tag entries or the globals
  //     block cut short or damaged); the store then has no database and no
  //     metadata, and the globals are unchanged.
  //   kCorruptedStream, at the very end: entries of the database image could
  //     not be read (an image cut short among them) or were left out, or
  //     songs kept lack their records; the others, the metadata and the file
  //     name are all loaded.
  // A missing metadata file fails as MetadataStore::read does, except beside
  // a session without songs, which has nothing it could describe.
  void load(const std::string& path, const std::string& metaPath, uint32_t lastId = 0);

  // The metadata file of a session file: the path up to the last "." of its
  // file name, followed by ".meta" (the whole path when the name has none).
  static std::string metadataPath(const std::string& sessionPath);

  // Null after a load that failed before the database image.
  AdaptedFeatureDb* getDatabase() const { return database.get(); }
  SessionGlobals& getGlobals() { return globals; }
  const SessionGlobals& getGlobals() const { return globals; }
  MetadataStore& getMetadata() { return metadata; }
  const MetadataStore& getMetadata() const { return metadata; }
  // Empty until a load succeeds, then the path loaded.
  const std::string& getFileName() const { return fileName; }

 private:
  void readStore(std::istream& file);
  // Leaves out the songs above lastId (unless 0) without a record; whether
  // there were any.
  bool leaveOutUnrecorded(uint32_t lastId);
  // Names the metadata file on the standard error stream when songs lack
  // their records; whether any does.
  bool reportSongsWithoutRecords(const std::string& metaPath) const;

  std::unique_ptr<AdaptedFeatureDb> database;
  SessionGlobals globals;
  std::string fileName;
  MetadataStore metadata;
};
