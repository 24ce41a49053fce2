#pragma once
// The blocks that belong to a session as a whole rather than to one song, each
// under a three-letter tag: the similarity-engine configuration text ("XML"),
// the partition-tree text ("TRE"), and per feature space a linearisation
// lookup table ("LLT") and a normalisation table ("NRM").
//
// The globals block (integers 4 bytes little-endian):
//   u8 0, then per block in ascending tag order the tag's 3 letters and the
//   container's encoding (generic_container_base.h), then "END".
// An older form starts with any other byte: the whole block is one u32 count
// and that many bytes of configuration text.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "similarity/generic_container_base.h"

class SessionGlobals {
 public:
  using TableMap = GenericMap<std::string, HeapMatrix<float>, GenericHash>;

  SessionGlobals();
  SessionGlobals(const SessionGlobals&) = delete;
  SessionGlobals& operator=(const SessionGlobals&) = delete;
  virtual ~SessionGlobals();

  void write(std::ostream& out) const;
  // A block replaces the containers of the tags it carries; the others stay.
  // Tags the reader does not know have no length and are passed over by their
  // three letters alone. A block that ends before "END" fails with
  // "SessionGlobals::read() unexpected end of stream" (or the failure of the
  // container that was cut short) and changes nothing.
  void read(std::istream& in);

  // Stores the whole file, byte for byte, as the text block tag ("XML" or
  // "TRE"). Fails with "SessionGlobals::setTextFromFile() could not open file: "
  // + path, or "SessionGlobals::setTextFromFile() not a text block: " + tag.
  void setTextFromFile(const std::string& tag, const std::string& path);

  // The bytes of a text block ("XML", "TRE") and their count; null and 0 when
  // the tag is absent. No terminating NUL is kept.
  const char* getText(const std::string& tag, uint32_t& size) const;

  bool hasLLT() const;
  bool hasNRM() const;
  // Null when the tag is absent; a name missing from a present table map
  // fails with "GenericMap::operator[]() key not found in map".
  HeapMatrix<float>* getLinearizationTable(const std::string& name);
  const HeapMatrix<float>* getLinearizationTable(const std::string& name) const;
  HeapMatrix<float>* getNormalizationTable(const std::string& name);
  const HeapMatrix<float>* getNormalizationTable(const std::string& name) const;
  // Every name of that table map; empty when the tag is absent.
  std::set<std::string> linearizationNames() const;
  std::set<std::string> normalizationNames() const;

 private:
  const TableMap* tables(const char* tag) const;
  const HeapMatrix<float>* table(const char* tag, const std::string& name) const;
  std::set<std::string> names(const char* tag) const;

  std::map<std::string, std::unique_ptr<GenericContainerBase>> blocks;
};
