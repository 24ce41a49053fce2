#pragma once
// A cursor over a stored feature-object stream or quantizer block of known
// length. Every read checks what remains first, so that no length, count or
// size taken from the data can lead past the end; a read that does not fit
// fails with "format error in input stream".

#include <cstdint>
#include <cstring>
#include <string>

#include "metadata/sources/common/byte_stream.h"
#include "platform/byte_order.h"
#include "signature/feature_object_exception.h"

class StreamReader {
 public:
  StreamReader(const unsigned char* begin, unsigned length) : cursor(begin), end(begin + length), begin(begin) {}

  const unsigned char* position() const { return cursor; }
  unsigned consumed() const { return static_cast<unsigned>(cursor - begin); }
  unsigned remaining() const { return static_cast<unsigned>(end - cursor); }
  bool atEnd() const { return cursor == end; }

  uint8_t readU8() {
    require(1);
    return *cursor++;
  }

  uint16_t readU16() {
    require(2);
    uint16_t value;
    std::memcpy(&value, cursor, 2);
    cursor += 2;
    return platform::networkToHost16(value);
  }

  uint32_t readU32() {
    require(4);
    return readUInt32BE(cursor);
  }

  float readF32() {
    const uint32_t pattern = readU32();
    float value;
    std::memcpy(&value, &pattern, 4);
    return value;
  }

  // A variable-length quantity whose last byte lies inside the data.
  uint32_t readVlq() {
    const unsigned char* last = cursor;
    while (last != end && (*last & 0x80)) ++last;
    if (last == end) fail();
    return static_cast<uint32_t>(readVLQ(cursor));
  }

  // The next n bytes; the cursor moves past them.
  const unsigned char* take(uint32_t n) {
    require(n);
    const unsigned char* bytes = cursor;
    cursor += n;
    return bytes;
  }

  std::string readText(uint32_t n) {
    const unsigned char* bytes = take(n);
    return std::string(reinterpret_cast<const char*>(bytes), n);
  }

  // True when the next n bytes equal text.
  bool nextIs(const char* text, unsigned n) const {
    return remaining() >= n && std::memcmp(cursor, text, n) == 0;
  }

  [[noreturn]] static void fail() { throw FeatureObjException("format error in input stream"); }

 private:
  void require(uint32_t n) const {
    if (n > remaining()) fail();
  }

  const unsigned char* cursor;
  const unsigned char* end;
  const unsigned char* begin;
};
