#pragma once
// Builds byte images field by field, so that tests can write stored layouts
// out by hand from their tables: big-endian numbers, floats as their bit
// patterns, length-prefixed texts and variable-length quantities.

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

class ByteBuilder {
 public:
  ByteBuilder& u8(unsigned value) {
    bytes.push_back(static_cast<unsigned char>(value));
    return *this;
  }
  ByteBuilder& u16(unsigned value) { return u8(value >> 8).u8(value & 0xFF); }
  ByteBuilder& u32(uint32_t value) { return u16(value >> 16).u16(value & 0xFFFF); }
  ByteBuilder& f32(float value) {
    uint32_t pattern;
    std::memcpy(&pattern, &value, 4);
    return u32(pattern);
  }
  ByteBuilder& raw(std::initializer_list<unsigned> values) {
    for (unsigned v : values) u8(v);
    return *this;
  }
  ByteBuilder& text(const std::string& t) {
    bytes.insert(bytes.end(), t.begin(), t.end());
    return *this;
  }
  // A u8 length followed by the text.
  ByteBuilder& shortText(const std::string& t) { return u8(static_cast<unsigned>(t.size())).text(t); }
  // Written by hand from the rule: 7-bit groups, most significant first.
  ByteBuilder& vlq(uint32_t value) {
    unsigned char groups[5];
    int n = 0;
    do {
      groups[n++] = value & 0x7F;
      value >>= 7;
    } while (value != 0);
    while (n > 1) u8(groups[--n] | 0x80);
    return u8(groups[0]);
  }
  // The session-side formats: 4-byte little-endian integers, and strings as
  // such a length followed by the bytes.
  ByteBuilder& u32le(uint32_t value) {
    return u8(value & 0xFF).u8(value >> 8 & 0xFF).u8(value >> 16 & 0xFF).u8(value >> 24);
  }
  ByteBuilder& str(const std::string& t) { return u32le(static_cast<uint32_t>(t.size())).text(t); }
  // A binary float matrix block as the stream writer makes it.
  ByteBuilder& matrix(uint32_t rows, uint32_t cols, std::initializer_list<float> values) {
    text("MAT\n").text("flt\n").text("bin\n").u32(rows).u32(cols);
    for (float v : values) f32(v);
    return *this;
  }
  ByteBuilder& append(const std::vector<unsigned char>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }

  // The bytes as a string, for string streams.
  std::string image() const { return std::string(bytes.begin(), bytes.end()); }

  std::vector<unsigned char> bytes;
};
