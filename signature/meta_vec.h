#pragma once
// The frame list of a signature and its byte form, the "META" chunk:
//   "META", VLQ payload length P, then per frame:
//   u8 tag length (1..255), tag, VLQ data length, data.

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "signature/meta_frame.h"

// Frames in insertion order. Duplicate tags are allowed; lookups find the
// first match. Failures are reported by results, with a message on the
// standard error stream; only a corrupt chunk in readMetaStream throws.
class CMetaVec {
 public:
  CMetaVec();
  CMetaVec(const CMetaVec& other);
  // other's frames without those carrying the tag of the given tag-table index.
  CMetaVec(const CMetaVec& other, unsigned tagIndex);
  CMetaVec& operator=(const CMetaVec& other);
  ~CMetaVec();

  unsigned size() const;

  // Index of the first frame at or after start with that tag; -1 when none.
  int find(const char* tag, unsigned tagLen, int start = 0) const;

  // The first frame with that tag at or after index: its data, with dataLen
  // taking the frame's data length (it holds the tag length on entry) and
  // index the frame's position. Null, index -1 and dataLen 0 when none.
  unsigned char* getData(const char* tag, unsigned& tagLenInDataLenOut, int& startInIndexOut);
  const unsigned char* getData(const char* tag, unsigned& tagLenInDataLenOut,
                               int& startInIndexOut) const;

  // Frame by index: its data length, data set to its data; 0 and null after an
  // index error.
  unsigned get(int index, unsigned char*& data);
  unsigned get(int index, const unsigned char*& data) const;

  // Replaces a frame's data; 0 on success, 1 after an index error.
  int setData(int index, const unsigned char* data, unsigned dataLen);

  // Erases a frame; 1 on success, 0 after an index error.
  int remove(int index);
  // Erases every frame with that tag; returns the remaining frame count.
  unsigned remove(const char* tag, unsigned tagLen);

  // Appends a copy; returns 1.
  int add(const SMetaFrame& frame);
  // Appends the frame itself, its data not copied; returns 1.
  int add(SMetaFrame&& frame);
  // Appends (tag, data) when tag is given and 0 < tagLen < 255; returns 1
  // whether or not it appended.
  int add(unsigned tagLen, const char* tag, unsigned dataLen, const unsigned char* data);
  // Appends a frame with dataLen zero bytes when tag is given and
  // 0 < tagLen < 256, and returns its data array for the caller to fill;
  // null otherwise.
  unsigned char* add(unsigned tagLen, const char* tag, unsigned dataLen);

  // Frame access for the owners of a list (null when index is out of range;
  // no message).
  SMetaFrame* frame(int index);
  const SMetaFrame* frame(int index) const;

  void clear();

  // Size of the META chunk in bytes; payloadVlqLength, when given, receives
  // the number of bytes of the VLQ of P.
  unsigned getMetaSize(unsigned* payloadVlqLength = nullptr) const;

  // Writes the chunk; 0 on success, 1 for an empty list (nothing written) or
  // a stream that failed.
  int writeMeta(std::ostream& out) const;
  // Writes the chunk into a buffer of at least getMetaSize() bytes; returns
  // the bytes written, 0 for an empty list.
  unsigned writeMeta(unsigned char* buffer) const;

  // Parses a whole chunk, replacing the list; returns the bytes consumed from
  // the magic on. The frames end at buffer + length, or, when length is 0,
  // after the payload length read from the chunk. Throws the std::string
  // "readMetaStream: corrupted stream" for a corrupt or truncated chunk.
  unsigned readMetaStream(const unsigned char* buffer, unsigned length);

  // Reads the frames of a chunk whose magic and payload length the caller has
  // already consumed, appending them; returns the bytes read (payloadLength),
  // 0 when the frames cannot be read.
  unsigned readMeta(std::istream& in, uint32_t payloadLength);

  // This list becomes other's frames without those whose tag is the tag
  // table's text for tagIndex; returns the resulting frame count.
  unsigned assignWithout(const CMetaVec& other, unsigned tagIndex);

 private:
  bool checkIndex(int index) const;

  std::vector<SMetaFrame> frames;
};
