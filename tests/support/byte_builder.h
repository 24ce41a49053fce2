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
  ByteBuilder& append(const std::vector<unsigned char>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }

  std::vector<unsigned char> bytes;
};
