#pragma once
// Element types of stored matrix blocks: the tag each type is written with, the
// size of one stored element, and the conversion of a binary block body into
// host elements. The conversion trusts the tag found in the block, not the
// type asked for, so that older spellings of a tag keep reading.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/vmtl/vmtl_exception.h"

namespace vmtl {

template <typename T>
struct TypeInfo;

// `tag` is the element tag as buffer writers store it: the name, padded with
// NUL bytes to the 4-byte field ("flt" has its terminator as fourth byte).
template <>
struct TypeInfo<float> {
  static constexpr const char* tag = "flt";
  static constexpr unsigned tagLength = 3;
  static constexpr unsigned elementSize = 4;
};

template <>
struct TypeInfo<unsigned char> {
  static constexpr const char* tag = "uchr";
  static constexpr unsigned tagLength = 4;
  static constexpr unsigned elementSize = 1;
};

template <>
struct TypeInfo<unsigned int> {
  static constexpr const char* tag = "uint";
  static constexpr unsigned tagLength = 4;
  static constexpr unsigned elementSize = 4;
};

}  // namespace vmtl

// convertElements (destination, source, rows, cols, tag) -> bytes consumed.
// source holds rows * cols stored elements; tag points at the block's 4-byte
// element tag. The caller has checked that source holds them all.

inline unsigned convertElements(float* destination, const unsigned char* source, unsigned rows, unsigned cols,
                                const char* tag) {
  if (std::memcmp(tag, "flt", 3) != 0 && std::memcmp(tag, "fil", 3) != 0)
    vmtl::fail("unsupported type conversion", vmtl::kTypeInfoHeader, 201);
  const size_t count = static_cast<size_t>(rows) * cols;
  if (count == 0) return 0;
  std::memcpy(destination, source, count * 4);
  networkToHostFloats(destination, static_cast<uint32_t>(count));
  return static_cast<unsigned>(count * 4);
}

inline unsigned convertElements(unsigned char* destination, const unsigned char* source, unsigned rows,
                                unsigned cols, const char* tag) {
  if (std::memcmp(tag, "uchr", 4) != 0 && std::memcmp(tag, "char", 4) != 0)
    vmtl::fail("unsupported type conversion", vmtl::kTypeInfoHeader, 219);
  const size_t count = static_cast<size_t>(rows) * cols;
  if (count == 0) return 0;
  std::memcpy(destination, source, count);
  return static_cast<unsigned>(count);
}

inline unsigned convertElements(unsigned int* destination, const unsigned char* source, unsigned rows,
                                unsigned cols, const char* tag) {
  // "int" is compared on three bytes: whatever its fourth byte holds, it is accepted.
  if (std::memcmp(tag, "int", 3) != 0 && std::memcmp(tag, "uint", 4) != 0)
    vmtl::fail("unsupported type conversion", vmtl::kTypeInfoHeader, 237);
  const size_t count = static_cast<size_t>(rows) * cols;
  for (size_t i = 0; i < count; ++i) destination[i] = decodeUInt32BE(source + 4 * i);
  return static_cast<unsigned>(count * 4);
}
