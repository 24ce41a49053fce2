#pragma once
// Texts about a session's songs (artist, title, file name, length and any
// other tag) kept beside their signatures, one record per song id, and the
// metadata file the session store writes beside a session file.
//
// Metadata file (every line ends with one line feed):
//   <METAFILE>
//   <HEADER><VERSION>1.0</VERSION></HEADER>
//   <DATA>
//   <ITEM><TUID>id</TUID><tag>value</tag>...</ITEM>     one line per record
//   </DATA></METAFILE>
// Records in ascending id order, the id in signed decimal, tags in ascending
// order. A plain tab list (id TAB artist TAB title, one song a line) is read
// as well. Texts are kept and written as the bytes given.

#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>

class CMetaVec;

class MetadataRecord {
 public:
  MetadataRecord() = default;
  // "TPE1" = artist, "TIT2" = title (a null text counts as empty).
  MetadataRecord(const char* artist, const char* title);

  // The value of "TPE1", "TIT2", "FILENAME" or tag. Reading a tag the record
  // lacks adds it with an empty value: it is written with the record from
  // then on.
  std::string artist();
  std::string title();
  std::string fileName();
  std::string value(const std::string& tag);
  // The same on a record that must not change (such as the empty answer of
  // MetadataStore::get): a missing tag reads as "" and is not added.
  std::string artist() const;
  std::string title() const;
  std::string fileName() const;
  std::string value(const std::string& tag) const;

  // tags[frame tag] := frame data for every frame in order, both taken as
  // texts up to their first NUL; a later frame of the same tag wins.
  void setFromMetaVec(const CMetaVec& frames);
  // The same for the song's texts alone: "TIT2", "TPE1", "TLEN" and
  // "FILENAME" whatever they hold, and "TALB" and any other text tag. Frames
  // that carry binary data ("Tuid", "Cuid", "dsig", "TIME", "FeatObj", and
  // any other whose tag or data starts with a NUL or holds a control
  // character other than white space, \t to \r) are no texts of the song.
  void setFromSongTags(const CMetaVec& frames);

  bool operator==(const MetadataRecord& other) const { return tags == other.tags; }
  bool operator!=(const MetadataRecord& other) const { return tags != other.tags; }

  // Tag to value, in ascending tag order.
  std::map<std::string, std::string> tags;
};

class MetadataStore {
 public:
  using RecordMap = std::map<uint64_t, MetadataRecord>;

  // Artist and title of the answer for an id without a record.
  static constexpr const char* kNoEntry = "no entry";

  // The record of id, or the empty answer ("no entry" as artist and title)
  // when there is none. The empty answer is shared by the whole process.
  const MetadataRecord& get(const uint64_t& id) const;
  // Stores a copy when id has no record yet and returns true; otherwise the
  // old record stays and the result is false.
  bool put(const uint64_t& id, const MetadataRecord& record);
  // The record of id, added empty when there is none.
  MetadataRecord& findOrCreate(const uint64_t& id);
  // True when a record was removed.
  bool remove(const uint64_t& id);
  std::size_t size() const { return records.size(); }
  void clear() { records.clear(); }
  // Every record, in ascending id order (ids taken as unsigned).
  const RecordMap& all() const { return records; }

  // Writes the metadata file at path, replacing any file there. Throws
  // AudioSignException "Cannot open output file !" when it cannot be opened,
  // and StandardException "MetadataStore::write() could not write file: " +
  // path when the writing or closing fails.
  // A "<", ">" or line feed in a tag or value is written as a blank, so that
  // every record stays on its own line and reads back.
  void write(const char* path) const;
  // Writes the same bytes to out; a write that fails leaves out failed.
  void write(std::ostream& out) const;

  // Reads a metadata file or a tab list at path into the store and returns
  // the number of records held afterwards. A metadata-file record replaces
  // the tags of a record already held when merge is set and is dropped
  // otherwise; a tab-list line always replaces them. Throws
  // AudioSignException "Cannot open Metadata File for reading !" when the
  // file cannot be opened; malformed lines are skipped (metadata file) or end
  // the reading (tab list), without an error. A line may be of any length; a
  // carriage return before its line feed belongs to the line end.
  unsigned read(const char* path, bool merge);

 private:
  void readMetadataLine(const std::string& line, bool merge);
  bool readTabListLine(const std::string& line);

  RecordMap records;
};
