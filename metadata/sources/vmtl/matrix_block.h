#pragma once
// "MAT" matrix blocks: the stored form of one matrix.
//
//   offset  0  "MAT\n"
//   offset  4  element tag, 4 bytes ("flt\0", "uchr", "uint"; streams write "flt\n")
//   offset  8  "bin\n" or "txt\n"
//   binary:    rows, cols (u32 big-endian), then the elements row-major, big-endian
//   text:      rows "\n" cols "\n", then per row each value and a space, and "\n"
//
// The buffer form handles float, unsigned char and unsigned int; the stream form
// float only. BaseMatrix::writeToBuffer / write and HeapMatrix::readFromBuffer /
// read forward here; the checks report the header of the member they serve.
//
// Nothing in a block is trusted beyond the bytes that are there: a buffer
// reader never looks past the given length (text bodies are not terminated), a
// declared shape that cannot fit is refused before anything is allocated, and a
// stream reader grows the matrix only as fast as the stream delivers elements.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <type_traits>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/vmtl/type_info.h"
#include "metadata/sources/vmtl/vmtl_exception.h"

template <typename T>
class BaseMatrix;
template <typename T>
class HeapMatrix;

namespace vmtl {
namespace block {

constexpr unsigned kHeaderSize = 20;  // magic, tag, mode, rows, cols
// A stream block larger than this many elements is read in pieces that grow
// with what has arrived, so a forged shape costs at most one piece.
constexpr uint32_t kPieceElements = 16384;
// No number of a text body needs more characters than this.
constexpr size_t kMaxTokenLength = 128;

inline bool modeIs(const char* mode, const char* name) { return mode != nullptr && std::strncmp(mode, name, 3) == 0; }

inline void putUInt32BE(unsigned char* destination, uint32_t value) {
  const uint32_t stored = writeUInt32BE(value);
  std::memcpy(destination, &stored, 4);
}

// The 20-byte head of a binary block of T: magic, element tag, mode and
// shape. A writer that produces the elements itself (codes quantized straight
// into the block) puts them behind it.
template <typename T>
void writeBinaryHeader(unsigned char* bytes, uint32_t rows, uint32_t cols) {
  std::memcpy(bytes, "MAT\n", 4);
  std::memcpy(bytes + 4, TypeInfo<T>::tag, 4);
  std::memcpy(bytes + 8, "bin\n", 4);
  putUInt32BE(bytes + 12, rows);
  putUInt32BE(bytes + 16, cols);
}

// Stores count elements in their block form: one byte, or a big-endian 32-bit
// pattern (a float through its bit pattern, never through a float register).
template <typename T>
void storeElements(unsigned char* destination, const T* source, size_t count) {
  if constexpr (TypeInfo<T>::elementSize == 1) {
    if (count != 0) std::memcpy(destination, source, count);
  } else {
    for (size_t i = 0; i < count; ++i) {
      uint32_t pattern;
      std::memcpy(&pattern, source + i, 4);
      putUInt32BE(destination + 4 * i, pattern);
    }
  }
}

inline bool readExactly(std::istream& in, void* destination, size_t length) {
  if (length == 0) return true;
  in.read(static_cast<char*>(destination), static_cast<std::streamsize>(length));
  return static_cast<size_t>(in.gcount()) == length;
}

// Text bodies are scanned one character at a time from one of these sources;
// peek() reports the end of the data as -1 and neither looks past it.
class BufferText {
 public:
  BufferText(const unsigned char* begin, const unsigned char* end) : cursor_(begin), end_(end) {}
  int peek() const { return cursor_ < end_ ? *cursor_ : -1; }
  void advance() { ++cursor_; }
  const unsigned char* cursor() const { return cursor_; }
  size_t remaining() const { return static_cast<size_t>(end_ - cursor_); }

 private:
  const unsigned char* cursor_;
  const unsigned char* end_;
};

class StreamText {
 public:
  explicit StreamText(std::istream& in) : in_(in) {}
  int peek() {
    const std::istream::int_type c = in_.peek();
    return c == std::istream::traits_type::eof() ? -1 : c;
  }
  void advance() {
    in_.get();
    ++consumed_;
  }
  unsigned consumed() const { return consumed_; }

 private:
  std::istream& in_;
  unsigned consumed_ = 0;
};

// Blanks separate the values of a row; a newline ends the row.
inline bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

template <typename Source>
void skipBlanks(Source& source) {
  while (isBlank(source.peek())) source.advance();
}

// Copies the characters up to the next blank, newline or end of data into
// token and terminates it. Returns the token's length; 0 when there is none or
// when it is longer than any number.
template <typename Source>
size_t readToken(Source& source, char (&token)[kMaxTokenLength + 1]) {
  size_t length = 0;
  for (int c = source.peek(); c != -1 && c != '\n' && !isBlank(c); c = source.peek()) {
    if (length == kMaxTokenLength) return 0;
    token[length++] = static_cast<char>(c);
    source.advance();
  }
  token[length] = '\0';
  return length;
}

// A line ends at a newline, which is consumed, or at the end of the data.
template <typename Source>
bool endLine(Source& source) {
  skipBlanks(source);
  const int c = source.peek();
  if (c == '\n') {
    source.advance();
    return true;
  }
  return c == -1;
}

// The rows or cols line: a decimal count that fits 32 bits, alone on its line.
template <typename Source>
bool scanCount(Source& source, uint32_t& count) {
  skipBlanks(source);
  char token[kMaxTokenLength + 1];
  const size_t length = readToken(source, token);
  if (length == 0) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(token[i] - '0');
    if (value > UINT32_MAX) return false;
  }
  count = static_cast<uint32_t>(value);
  return endLine(source);
}

// One value: a whole token that reads as a float. The values of a row share
// its line, so a value that is not the row's last must be followed by a blank.
template <typename Source>
bool scanValue(Source& source, float& value, bool lastInRow) {
  skipBlanks(source);
  char token[kMaxTokenLength + 1];
  const size_t length = readToken(source, token);
  if (length == 0) return false;
  char* end = nullptr;
  value = std::strtof(token, &end);
  if (end != token + length) return false;
  return lastInRow ? endLine(source) : isBlank(source.peek());
}

// Integer elements take the value truncated toward zero and wrapped modulo
// 2^32 like every other 32-bit quantity of the format (-1 reads as 4294967295,
// and as 255 for bytes); NaN and infinities read as 0.
template <typename T>
T fromText(float value) {
  if constexpr (std::is_floating_point_v<T>) {
    return value;
  } else {
    if (!std::isfinite(value)) return 0;
    double whole = std::fmod(std::trunc(static_cast<double>(value)), 4294967296.0);
    if (whole < 0) whole += 4294967296.0;
    return static_cast<T>(static_cast<uint32_t>(whole));
  }
}

// Scans count values into destination; first is the index of the first of
// them within the matrix, which tells where the rows end.
template <typename T, typename Source>
bool scanElements(Source& source, T* destination, uint64_t first, uint32_t count, uint32_t cols) {
  for (uint32_t i = 0; i < count; ++i) {
    float value;
    if (!scanValue(source, value, (first + i + 1) % cols == 0)) return false;
    destination[i] = fromText<T>(value);
  }
  return true;
}

// Rows of a matrix without columns are empty lines; only the last may end
// with the data instead of a newline.
template <typename Source>
bool scanEmptyRows(Source& source, uint32_t rows) {
  for (uint32_t r = 0; r < rows; ++r) {
    skipBlanks(source);
    const int c = source.peek();
    if (c == '\n') {
      source.advance();
      continue;
    }
    return c == -1 && r + 1 == rows;
  }
  return true;
}

// Makes m rows x cols and fills its elements through readPiece(destination,
// first, count), which returns false when the data runs out. Small blocks are
// read in place; larger ones arrive in pieces while the matrix grows as one
// column (its block stays row-major, so the final reshape moves nothing).
template <typename T, typename ReadPiece>
bool fillInPieces(HeapMatrix<T>& m, uint32_t rows, uint32_t cols, ReadPiece readPiece) {
  const uint32_t count = static_cast<uint32_t>(static_cast<uint64_t>(rows) * cols);
  if (count <= kPieceElements) {
    m.resize(rows, cols);
    return readPiece(m.data, 0, count);
  }
  m.resize(0, 1);
  uint32_t done = 0;
  while (done < count) {
    const uint32_t piece = std::min(count - done, std::max(kPieceElements, done));
    m.addRows(piece);
    if (!readPiece(m.data + done, done, piece)) return false;
    done += piece;
  }
  m.resize(rows, cols);
  return true;
}

template <typename T>
unsigned readTextFromBuffer(HeapMatrix<T>& m, const unsigned char* bytes, unsigned length) {
  BufferText source(bytes + 12, bytes + length);
  uint32_t rows = 0;
  uint32_t cols = 0;
  if (!scanCount(source, rows) || !scanCount(source, cols))
    fail("file format mismatch (matrix data)", kHeapMatrixHeader, 580);
  // Every value takes a character and a separator, but the very last value
  // may end the data; a row without columns takes its newline.
  const uint64_t count = static_cast<uint64_t>(rows) * cols;
  const uint64_t least = rows == 0 ? 0 : (cols == 0 ? rows : 2 * count) - 1;
  if (count > UINT32_MAX || least > source.remaining())
    fail("file format mismatch (matrix data)", kHeapMatrixHeader, 580);
  m.resize(rows, cols);
  const bool complete =
      cols == 0 ? scanEmptyRows(source, rows) : scanElements(source, m.data, 0, static_cast<uint32_t>(count), cols);
  if (!complete) fail("file format mismatch (matrix data)", kHeapMatrixHeader, 580);
  return static_cast<unsigned>(source.cursor() - bytes);
}

template <typename T>
unsigned readTextFromStream(HeapMatrix<T>& m, std::istream& in) {
  StreamText source(in);
  uint32_t rows = 0;
  uint32_t cols = 0;
  if (!scanCount(source, rows)) fail("file format mismatch", kHeapMatrixHeader, 507);
  if (!scanCount(source, cols)) fail("file format mismatch", kHeapMatrixHeader, 511);
  if (static_cast<uint64_t>(rows) * cols > UINT32_MAX)
    fail("too few matrix elements in file", kHeapMatrixHeader, 517);
  bool complete;
  if (cols == 0) {
    m.resize(rows, 0);
    complete = scanEmptyRows(source, rows);
  } else {
    complete = fillInPieces(m, rows, cols, [&](T* destination, uint64_t first, uint32_t count) {
      return scanElements(source, destination, first, count, cols);
    });
  }
  if (!complete) fail("too few matrix elements in file", kHeapMatrixHeader, 517);
  return 12 + source.consumed();
}

}  // namespace block

template <typename T>
unsigned writeBlockToBuffer(const BaseMatrix<T>& m, void* buffer, unsigned bufferLength, const char* mode) {
  constexpr unsigned elementSize = TypeInfo<T>::elementSize;
  const uint64_t count = static_cast<uint64_t>(m.rows) * m.cols;
  if (count > UINT32_MAX || block::kHeaderSize + count * elementSize > bufferLength)
    fail("buffer too small", kBaseMatrixHeader, 703);
  if (buffer == nullptr) fail("invalid buffer pointer", kBaseMatrixHeader, 704);

  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  std::memset(bytes, 0, bufferLength);
  std::memcpy(bytes, "MAT\n", 4);
  std::memcpy(bytes + 4, TypeInfo<T>::tag, 4);
  // The one check of the library without a place of its own.
  if (block::modeIs(mode, "txt")) throw VMTLException("Not implemented: Write matrix in txt-format into buffer", "", 0);
  if (!block::modeIs(mode, "bin")) fail("unhandled mode (neither txt nor bin)", kBaseMatrixHeader, 775);

  block::writeBinaryHeader<T>(bytes, m.rows, m.cols);
  block::storeElements(bytes + block::kHeaderSize, m.data, count);
  return static_cast<unsigned>(block::kHeaderSize + count * elementSize);
}

template <typename T>
unsigned readBlockFromBuffer(HeapMatrix<T>& m, const void* buffer, unsigned length) {
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  if (length < block::kHeaderSize) fail("no matrix in buffer", kHeapMatrixHeader, 537);
  if (std::memcmp(bytes, "MAT", 3) != 0) fail("file is not an VMTL matrix", kHeapMatrixHeader, 541);
  // Text bodies are numbers whatever the tag says.
  if (std::memcmp(bytes + 8, "txt\n", 4) == 0) return block::readTextFromBuffer(m, bytes, length);
  if (std::memcmp(bytes + 8, "bin\n", 4) != 0) fail("unhandled matrix data format", kHeapMatrixHeader, 614);

  const uint32_t rows = decodeUInt32BE(bytes + 12);
  const uint32_t cols = decodeUInt32BE(bytes + 16);
  // A binary block fills its buffer exactly; the count is taken in 64 bits so
  // that no shape can wrap around to match.
  const uint64_t count = static_cast<uint64_t>(rows) * cols;
  if (count > UINT32_MAX || block::kHeaderSize + count * TypeInfo<T>::elementSize != length)
    fail("too few elements in buffer", kHeapMatrixHeader, 599);
  m.resize(rows, cols);
  return block::kHeaderSize +
         convertElements(m.data, bytes + block::kHeaderSize, rows, cols, reinterpret_cast<const char*>(bytes + 4));
}

template <typename T>
unsigned writeBlockToStream(const BaseMatrix<T>& m, std::ostream& out, const char* mode) {
  static_assert(std::is_same_v<T, float>, "matrix blocks go to streams as float only");
  out.write("MAT\n", 4);
  out.flush();
  out.write("flt\n", 4);
  out.flush();
  if (block::modeIs(mode, "txt")) {
    out << "txt\n" << std::to_string(m.rows) << '\n' << std::to_string(m.cols) << '\n';
    for (unsigned r = 0; r < m.rows; ++r) {
      for (unsigned c = 0; c < m.cols; ++c) out << m(r, c) << ' ';
      out << '\n';
      out.flush();
    }
  } else if (block::modeIs(mode, "bin")) {
    unsigned char piece[4096];
    out.write("bin\n", 4);
    block::putUInt32BE(piece, m.rows);
    block::putUInt32BE(piece + 4, m.cols);
    out.write(reinterpret_cast<const char*>(piece), 8);
    const size_t count = m.elementCount();
    for (size_t done = 0; done < count;) {
      const size_t n = std::min(count - done, sizeof piece / 4);
      block::storeElements(piece, m.data + done, n);
      out.write(reinterpret_cast<const char*>(piece), static_cast<std::streamsize>(4 * n));
      done += n;
    }
  } else {
    fail("unhandled mode (neither txt nor bin)", kBaseMatrixHeader, 691);
  }
  return m.rows * m.cols;
}

template <typename T>
unsigned readBlockFromStream(HeapMatrix<T>& m, std::istream& in) {
  static_assert(std::is_same_v<T, float>, "matrix blocks come from streams as float only");
  char field[4];
  if (!block::readExactly(in, field, 4) || std::memcmp(field, "MAT", 3) != 0)
    fail("file is not an VMTL matrix", kHeapMatrixHeader, 466);
  // The tag is not looked at: stream blocks are always float.
  if (!block::readExactly(in, field, 4)) fail("file format mismatch", kHeapMatrixHeader, 472);
  if (!block::readExactly(in, field, 4)) fail("file format mismatch", kHeapMatrixHeader, 477);
  if (std::memcmp(field, "txt\n", 4) == 0) return block::readTextFromStream(m, in);
  if (std::memcmp(field, "bin\n", 4) != 0) fail("unhandled matrix data format", kHeapMatrixHeader, 523);

  unsigned char word[4];
  if (!block::readExactly(in, word, 4)) fail("file format mismatch", kHeapMatrixHeader, 507);
  const uint32_t rows = decodeUInt32BE(word);
  if (!block::readExactly(in, word, 4)) fail("file format mismatch", kHeapMatrixHeader, 511);
  const uint32_t cols = decodeUInt32BE(word);
  const uint64_t count = static_cast<uint64_t>(rows) * cols;
  if (count > UINT32_MAX) fail("too few matrix elements in file", kHeapMatrixHeader, 517);
  const bool complete = block::fillInPieces(m, rows, cols, [&](float* destination, uint64_t, uint32_t n) {
    if (!block::readExactly(in, destination, 4 * static_cast<size_t>(n))) return false;
    networkToHostFloats(destination, n);
    return true;
  });
  if (!complete) fail("too few matrix elements in file", kHeapMatrixHeader, 517);
  return static_cast<unsigned>(block::kHeaderSize + 4 * count);
}

}  // namespace vmtl

// The value codec of the generic map of float matrices: a binary block.
// readMatrixValue is a template only so that it can be declared ahead of
// HeapMatrix; it is meant for float and called as readMatrixValue(in).
template <typename T = float>
HeapMatrix<T> readMatrixValue(std::istream& in) {
  HeapMatrix<T> m;
  m.read(in);
  return m;
}

// Returns 4 x the number of elements written.
template <typename T>
unsigned writeMatrixValue(std::ostream& out, const BaseMatrix<T>& m) {
  return 4 * m.write(out, "bin");
}
