#pragma once
// The head of a session file, written and read by the session object in
// front of the session store's body (integers u32 little-endian, str = u32
// length + bytes):
//
//   str "SES"
//   u32 S               bytes of the tag entries that follow
//   tag entries         each: str "TAG:", str name, u32 size, size bytes of value
//     "VRA_SESID"         value: str session id (size L + 4)
//     "VRA_LSTID"         value: u32 last id (size 4)
//
// With a session id of L bytes, S is 58 + L. A reader takes the two names
// above and passes over an entry of any other name by its size.

#include <cstdint>
#include <iosfwd>
#include <string>

namespace vemra_kivet {

struct SessionFileHeader {
  std::string sessionId;
  uint32_t lastId = 0;
  // Whether a header read held a "VRA_SESID" entry: only that entry sets a
  // session's id.
  bool hasSessionId = false;

  void write(std::ostream& out) const;
  // Reads the header at the stream's position and leaves the stream behind
  // it. Code 5 for anything but a well-formed header: no "SES", an entry
  // without its "TAG:" mark, an entry or value that runs past the tag
  // section or the end of the file. Sizes are never trusted beyond the bytes
  // that are there.
  static SessionFileHeader read(std::istream& in);
};

}  // namespace vemra_kivet
