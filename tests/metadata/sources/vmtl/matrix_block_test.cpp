#include "metadata/sources/vmtl/heap_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/vmtl_expect.h"

using namespace std::string_literals;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes toBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string toString(const Bytes& b) { return std::string(b.begin(), b.end()); }

template <typename T>
HeapMatrix<T> matrixOf(unsigned rows, unsigned cols, const std::vector<T>& values) {
  HeapMatrix<T> m(rows, cols, T());
  std::copy(values.begin(), values.end(), m.data);
  return m;
}

template <typename T>
std::vector<T> elements(const BaseMatrix<T>& m) {
  return std::vector<T>(m.data, m.data + m.elementCount());
}

// The 2 x 3 float matrix of the hand-written blocks below.
const std::vector<float> kSmallFloats = {1.0f, -2.5f, 0.15625f, 100.0f, -0.0f, 0.0f};

// Its block as a buffer writer stores it, byte by byte.
const Bytes kSmallFloatBlock = {
    'M',  'A',  'T',  '\n', 'f',  'l',  't',  0x00, 'b',  'i',  'n',  '\n',  // magic, tag, mode
    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03,                          // rows 2, cols 3
    0x3F, 0x80, 0x00, 0x00, 0xC0, 0x20, 0x00, 0x00, 0x3E, 0x20, 0x00, 0x00,  // 1, -2.5, 0.15625
    0x42, 0xC8, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 100, -0, 0
};

// The same block as the stream writer stores it: the tag ends in a newline.
Bytes smallFloatStreamBlock() {
  Bytes b = kSmallFloatBlock;
  b[7] = '\n';
  return b;
}

const Bytes kUcharBlock = {'M', 'A', 'T', '\n', 'u', 'c', 'h', 'r', 'b',  'i',  'n',  '\n',
                           0,   0,   0,   2,    0,   0,   0,   2,   0x01, 0xFF, 0x80, 0x07};

const Bytes kUintBlock = {'M', 'A', 'T', '\n', 'u', 'i', 'n', 't', 'b',  'i',  'n',  '\n', 0,    0,
                          0,   1,   0,   0,    0,   2,   1,   2,   0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF};

template <typename T>
unsigned readBuffer(HeapMatrix<T>& m, const Bytes& b) {
  return m.readFromBuffer(b.data(), static_cast<unsigned>(b.size()));
}

void expectNotImplemented(const std::function<void()>& call) {
  try {
    call();
    ADD_FAILURE() << "expected the text-mode buffer writer to fail";
  } catch (const VMTLException& e) {
    EXPECT_EQ(e.message, "Not implemented: Write matrix in txt-format into buffer");
    EXPECT_EQ(e.file, "");
    EXPECT_EQ(e.line, 0);
  }
}

TEST(MatrixBlock, EmptyFloatBlockIsTwentyBytes) {
  const Bytes expected = {'M', 'A', 'T', '\n', 'f', 'l', 't', 0, 'b', 'i', 'n', '\n', 0, 0, 0, 0, 0, 0, 0, 0};
  HeapMatrix<float> empty;
  Bytes out(32, 0xAA);
  EXPECT_EQ(empty.writeToBuffer(out.data(), static_cast<unsigned>(out.size()), "bin"), 20u);
  // The whole buffer is cleared, not only the block.
  Bytes wanted = expected;
  wanted.resize(32, 0);
  EXPECT_EQ(out, wanted);

  HeapMatrix<float> m(3, 3, 1.0f);
  EXPECT_EQ(readBuffer(m, expected), 20u);
  EXPECT_EQ(m.rows, 0u);
  EXPECT_EQ(m.cols, 0u);
}

TEST(MatrixBlock, BufferWriterStoresEachElementType) {
  Bytes out(kSmallFloatBlock.size(), 0xAA);
  HeapMatrix<float> floats = matrixOf(2, 3, kSmallFloats);
  EXPECT_EQ(floats.writeToBuffer(out.data(), static_cast<unsigned>(out.size()), "bin"), 44u);
  EXPECT_EQ(out, kSmallFloatBlock);

  out.assign(kUcharBlock.size(), 0xAA);
  HeapMatrix<unsigned char> bytes = matrixOf<unsigned char>(2, 2, {0x01, 0xFF, 0x80, 0x07});
  EXPECT_EQ(bytes.writeToBuffer(out.data(), static_cast<unsigned>(out.size()), "bin"), 24u);
  EXPECT_EQ(out, kUcharBlock);

  out.assign(kUintBlock.size(), 0xAA);
  HeapMatrix<unsigned> words = matrixOf<unsigned>(1, 2, {0x01020304u, 0xFFFFFFFFu});
  // Only the first three characters of the mode count.
  EXPECT_EQ(words.writeToBuffer(out.data(), static_cast<unsigned>(out.size()), "binary"), 28u);
  EXPECT_EQ(out, kUintBlock);
}

TEST(MatrixBlock, BufferReaderRestoresEachElementType) {
  HeapMatrix<float> floats;
  EXPECT_EQ(readBuffer(floats, kSmallFloatBlock), 44u);
  EXPECT_EQ(floats.rows, 2u);
  EXPECT_EQ(floats.cols, 3u);
  EXPECT_EQ(elements(floats), kSmallFloats);
  EXPECT_TRUE(std::signbit(floats(1, 1)));

  HeapMatrix<unsigned char> bytes;
  EXPECT_EQ(readBuffer(bytes, kUcharBlock), 24u);
  EXPECT_EQ(elements(bytes), (std::vector<unsigned char>{0x01, 0xFF, 0x80, 0x07}));

  HeapMatrix<unsigned> words;
  EXPECT_EQ(readBuffer(words, kUintBlock), 28u);
  EXPECT_EQ(words.rows, 1u);
  EXPECT_EQ(elements(words), (std::vector<unsigned>{0x01020304u, 0xFFFFFFFFu}));
}

TEST(MatrixBlock, BufferWriterChecksInOrder) {
  HeapMatrix<float> m = matrixOf(2, 3, kSmallFloats);
  Bytes out(44, 0xAA);
  expectVmtlFailure([&] { m.writeToBuffer(out.data(), 43, "bin"); }, "buffer too small", "base_matrix", 703);
  // The size is checked before the pointer.
  expectVmtlFailure([&] { m.writeToBuffer(nullptr, 0, "bin"); }, "buffer too small", "base_matrix", 703);
  expectVmtlFailure([&] { m.writeToBuffer(nullptr, 44, "bin"); }, "invalid buffer pointer", "base_matrix", 704);
  HeapMatrix<unsigned char> bytes(4, 5, 0);
  Bytes small(39);
  expectVmtlFailure([&] { bytes.writeToBuffer(small.data(), 39, "bin"); }, "buffer too small", "base_matrix", 703);

  // A failed mode leaves the buffer cleared with magic and tag in place.
  Bytes cleared = toBytes("MAT\nflt\0"s);
  cleared.resize(44, 0);
  expectNotImplemented([&] { m.writeToBuffer(out.data(), 44, "txt"); });
  EXPECT_EQ(out, cleared);
  out.assign(44, 0xAA);
  expectVmtlFailure([&] { m.writeToBuffer(out.data(), 44, "xml"); }, "unhandled mode (neither txt nor bin)",
                    "base_matrix", 775);
  EXPECT_EQ(out, cleared);
  expectVmtlFailure([&] { m.writeToBuffer(out.data(), 44, nullptr); }, "unhandled mode (neither txt nor bin)",
                    "base_matrix", 775);
  expectVmtlFailure([&] { m.writeToBuffer(out.data(), 44, "bi"); }, "unhandled mode (neither txt nor bin)",
                    "base_matrix", 775);
}

TEST(MatrixBlock, BufferReaderHeaderChecks) {
  HeapMatrix<float> m;
  Bytes b = kSmallFloatBlock;
  expectVmtlFailure([&] { m.readFromBuffer(b.data(), 19); }, "no matrix in buffer", "heap_matrix", 537);
  b[2] = 'X';
  expectVmtlFailure([&] { readBuffer(m, b); }, "file is not an VMTL matrix", "heap_matrix", 541);
  b = kSmallFloatBlock;
  b[3] = 'x';  // only the first three magic bytes are compared
  EXPECT_EQ(readBuffer(m, b), 44u);
  b = kSmallFloatBlock;
  b[11] = ' ';  // "bin" without its newline
  expectVmtlFailure([&] { readBuffer(m, b); }, "unhandled matrix data format", "heap_matrix", 614);
  std::memcpy(&b[8], "txt ", 4);
  expectVmtlFailure([&] { readBuffer(m, b); }, "unhandled matrix data format", "heap_matrix", 614);
}

TEST(MatrixBlock, BinaryBlockMustFillItsBufferExactly) {
  HeapMatrix<float> floats;
  Bytes spare = kSmallFloatBlock;
  spare.push_back(0);
  expectVmtlFailure([&] { readBuffer(floats, spare); }, "too few elements in buffer", "heap_matrix", 599);
  HeapMatrix<unsigned char> bytes;
  spare = kUcharBlock;
  spare.push_back(0);
  expectVmtlFailure([&] { readBuffer(bytes, spare); }, "too few elements in buffer", "heap_matrix", 599);

  // Truncated at every byte.
  for (size_t length = 0; length < kSmallFloatBlock.size(); ++length) {
    SCOPED_TRACE(length);
    const Bytes cut(kSmallFloatBlock.begin(), kSmallFloatBlock.begin() + static_cast<std::ptrdiff_t>(length));
    if (length < 20)
      expectVmtlFailure([&] { readBuffer(floats, cut); }, "no matrix in buffer", "heap_matrix", 537);
    else
      expectVmtlFailure([&] { readBuffer(floats, cut); }, "too few elements in buffer", "heap_matrix", 599);
  }
  for (size_t length = 20; length < kUintBlock.size(); ++length) {
    SCOPED_TRACE(length);
    const Bytes cut(kUintBlock.begin(), kUintBlock.begin() + static_cast<std::ptrdiff_t>(length));
    HeapMatrix<unsigned> words;
    expectVmtlFailure([&] { readBuffer(words, cut); }, "too few elements in buffer", "heap_matrix", 599);
  }

  // Shapes whose byte count wraps to 20 in 32 bits, and a count beyond 32 bits.
  Bytes forged = toBytes("MAT\nflt\0bin\n\x40\0\0\0\0\0\0\x01"s);
  expectVmtlFailure([&] { readBuffer(floats, forged); }, "too few elements in buffer", "heap_matrix", 599);
  forged = toBytes("MAT\nuchrbin\n\0\x01\0\0\0\x01\0\0"s);
  expectVmtlFailure([&] { readBuffer(bytes, forged); }, "too few elements in buffer", "heap_matrix", 599);
  EXPECT_EQ(bytes.capacity, 0u);
}

TEST(MatrixBlock, ElementTagsAndTheirAliases) {
  HeapMatrix<float> floats;
  Bytes b = kSmallFloatBlock;
  std::memcpy(&b[4], "fil", 3);
  EXPECT_EQ(readBuffer(floats, b), 44u);
  EXPECT_EQ(elements(floats), kSmallFloats);
  std::memcpy(&b[4], "fltX", 4);  // three bytes compared
  EXPECT_EQ(readBuffer(floats, b), 44u);
  std::memcpy(&b[4], "dbl", 3);
  HeapMatrix<float> resized;
  expectVmtlFailure([&] { readBuffer(resized, b); }, "unsupported type conversion", "type_info", 201);
  // The tag is checked after the matrix took the block's shape.
  EXPECT_EQ(resized.rows, 2u);
  EXPECT_EQ(resized.cols, 3u);

  HeapMatrix<unsigned char> bytes;
  b = kUcharBlock;
  std::memcpy(&b[4], "char", 4);
  EXPECT_EQ(readBuffer(bytes, b), 24u);
  EXPECT_EQ(elements(bytes), (std::vector<unsigned char>{0x01, 0xFF, 0x80, 0x07}));
  std::memcpy(&b[4], "uchX", 4);
  expectVmtlFailure([&] { readBuffer(bytes, b); }, "unsupported type conversion", "type_info", 219);
  std::memcpy(&b[4], "shrt", 4);
  expectVmtlFailure([&] { readBuffer(bytes, b); }, "unsupported type conversion", "type_info", 219);

  HeapMatrix<unsigned> words;
  b = kUintBlock;
  for (const char fourth : {'\0', 'x', '\n'}) {
    b[4] = 'i';
    b[5] = 'n';
    b[6] = 't';
    b[7] = static_cast<unsigned char>(fourth);
    EXPECT_EQ(readBuffer(words, b), 28u);
    EXPECT_EQ(elements(words), (std::vector<unsigned>{0x01020304u, 0xFFFFFFFFu}));
  }
  std::memcpy(&b[4], "unit", 4);
  expectVmtlFailure([&] { readBuffer(words, b); }, "unsupported type conversion", "type_info", 237);
  std::memcpy(&b[4], "flt", 4);
  expectVmtlFailure([&] { readBuffer(words, b); }, "unsupported type conversion", "type_info", 237);
}

TEST(MatrixBlock, TextBlockFromBuffer) {
  const std::string text = "MAT\nflt\0txt\n2\n2\n1 2 \n3 4 \n"s;
  HeapMatrix<float> m;
  EXPECT_EQ(readBuffer(m, toBytes(text)), text.size());
  EXPECT_EQ(m.rows, 2u);
  EXPECT_EQ(m.cols, 2u);
  EXPECT_EQ(elements(m), (std::vector<float>{1, 2, 3, 4}));

  // The tag does not matter for text, and the count stops at the block's end.
  std::string tagged = text;
  tagged.replace(4, 4, "dbl\0"s);
  EXPECT_EQ(readBuffer(m, toBytes(tagged + "junk")), text.size());
  EXPECT_EQ(elements(m), (std::vector<float>{1, 2, 3, 4}));

  // Numbers as the stream writer prints them; the last newline may be missing.
  const std::string printed = "MAT\nflt\0txt\n1\n4\n-2.5 1e+06 1.23457e-05 -inf"s;
  EXPECT_EQ(readBuffer(m, toBytes(printed)), printed.size());
  ASSERT_EQ(m.elementCount(), 4u);
  EXPECT_EQ(m(0, 0), -2.5f);
  EXPECT_EQ(m(0, 1), 1e6f);
  EXPECT_EQ(m(0, 2), 1.23457e-05f);
  EXPECT_EQ(m(0, 3), -INFINITY);

  // Zero rows: nothing past the cols line is read.
  EXPECT_EQ(readBuffer(m, toBytes("MAT\nflt\0txt\n0\n5\nXXXX"s)), 16u);
  EXPECT_EQ(m.rows, 0u);
  EXPECT_EQ(m.cols, 5u);
  // Rows without columns are empty lines.
  EXPECT_EQ(readBuffer(m, toBytes("MAT\nflt\0txt\n4\n0\n\n\n\n\n"s)), 20u);
  EXPECT_EQ(m.rows, 4u);
  EXPECT_EQ(m.cols, 0u);
}

TEST(MatrixBlock, TextValuesBecomeIntegersByTruncation) {
  const std::string body = "txt\n2\n3\n1.9 -1 300 \n-0.5 nan 4294967297 \n";
  HeapMatrix<unsigned char> bytes;
  readBuffer(bytes, toBytes("MAT\nuchr"s + body));
  EXPECT_EQ(elements(bytes), (std::vector<unsigned char>{1, 255, 44, 0, 0, 0}));
  HeapMatrix<unsigned> words;
  readBuffer(words, toBytes("MAT\nuint"s + body));
  // 4294967297 is 4294967296 as a float, which wraps to 0.
  EXPECT_EQ(elements(words), (std::vector<unsigned>{1, 4294967295u, 300, 0, 0, 0}));
}

TEST(MatrixBlock, TextScanStaysInsideTheBuffer) {
  // The digits after the given length belong to somebody else.
  const Bytes backing = toBytes("MAT\nflt\0txt\n1\n1\n12345678"s);
  HeapMatrix<float> m;
  EXPECT_EQ(m.readFromBuffer(backing.data(), static_cast<unsigned>(backing.size() - 2)), backing.size() - 2);
  EXPECT_EQ(m(0, 0), 123456.0f);
  // Exactly sized blocks ending inside a number, a count and a separator.
  for (const std::string& text :
       {"MAT\nflt\0txt\n1\n1\n123456"s, "MAT\nflt\0txt\n1\n2\n7 8  "s, "MAT\nflt\0txt\n0\n12345678"s}) {
    const Bytes exact = toBytes(text);
    EXPECT_EQ(readBuffer(m, exact), exact.size()) << text;
  }
  EXPECT_EQ(m.rows, 0u);
  EXPECT_EQ(m.cols, 12345678u);
}

TEST(MatrixBlock, MalformedTextBodies) {
  const std::string longNumber = "0." + std::string(120, '0') + "1";
  HeapMatrix<float> ok;
  EXPECT_EQ(readBuffer(ok, toBytes("MAT\nflt\0txt\n1\n1\n"s + longNumber)), 16 + longNumber.size());

  const std::vector<std::string> bodies = {
      "2\n2\n1 2 \n3 \n",           // a row too short
      "2\n2\n1 2 \n3",              // data ends inside the matrix
      "2\n2\n1 x \n3 4 \n",         // not a number
      "2\n2\n1abc 2 \n3 4 \n",      // a number with a tail
      "2\n2\n1 2 3 \n3 4 \n",       // a row too long
      "2\n2\n1\n2 \n3 4 \n",        // a value on the next line
      "x\n2\n1 2 \n3 4 \n",         // rows not a number
      "-1\n2\n1 2 \n3 4 \n",        // negative rows
      "2.0\n2\n1 2 \n3 4 \n",       // rows not an integer
      "2\n\n1 2 \n3 4 \n",          // no cols
      "2 2\n1 2 \n3 4 \n",          // rows and cols on one line
      "4294967296\n1\n1 \n",        // rows beyond 32 bits
      "65536\n65536\n1 2 \n3 4 \n", // an element count beyond 32 bits
      "60000\n60000\n1 2 \n3 4 \n", // far more elements than the buffer holds
      "3\n0\n\n      ",             // a row of no columns without its newline
      "2\n0\n x \n\n",              // an empty row that is not empty
      "1\n1\n1" + std::string(128, '0') + " \n",  // no number is that long
  };
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body);
    const Bytes block = toBytes("MAT\nflt\0txt\n"s + body);
    ASSERT_GE(block.size(), 20u);
    HeapMatrix<float> m;
    expectVmtlFailure([&] { readBuffer(m, block); }, "file format mismatch (matrix data)", "heap_matrix", 580);
  }
  // Shapes that cannot fit are refused before anything is allocated.
  HeapMatrix<float> m;
  expectVmtlFailure([&] { readBuffer(m, toBytes("MAT\nflt\0txt\n60000\n60000\n1 2 \n"s)); },
                    "file format mismatch (matrix data)", "heap_matrix", 580);
  EXPECT_EQ(m.capacity, 0u);
  EXPECT_EQ(m.rows, 0u);
}

TEST(MatrixBlock, StreamWriter) {
  HeapMatrix<float> m = matrixOf(2, 3, kSmallFloats);
  std::ostringstream bin;
  EXPECT_EQ(m.write(bin, "bin"), 6u);
  EXPECT_EQ(bin.str(), toString(smallFloatStreamBlock()));

  HeapMatrix<float> printed = matrixOf(2, 3, std::vector<float>{1, -2.5f, 0.1f, 1e6f, 1234567, 0});
  std::ostringstream txt;
  EXPECT_EQ(printed.write(txt, "txt"), 6u);
  EXPECT_EQ(txt.str(), "MAT\nflt\ntxt\n2\n3\n1 -2.5 0.1 \n1e+06 1.23457e+06 0 \n");

  std::ostringstream empty;
  EXPECT_EQ(HeapMatrix<float>().write(empty, "bin"), 0u);
  EXPECT_EQ(empty.str(), "MAT\nflt\nbin\n\0\0\0\0\0\0\0\0"s);

  std::ostringstream bad;
  expectVmtlFailure([&] { m.write(bad, "xml"); }, "unhandled mode (neither txt nor bin)", "base_matrix", 691);
  EXPECT_EQ(bad.str(), "MAT\nflt\n");
}

TEST(MatrixBlock, StreamReaderBinary) {
  std::istringstream in(toString(smallFloatStreamBlock()) + "next");
  HeapMatrix<float> m;
  EXPECT_EQ(m.read(in), 44u);
  EXPECT_EQ(m.rows, 2u);
  EXPECT_EQ(elements(m), kSmallFloats);
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "next");

  // The tag of a stream block is not looked at.
  Bytes tagged = smallFloatStreamBlock();
  std::memcpy(&tagged[4], "dbl\n", 4);
  std::istringstream other(toString(tagged));
  EXPECT_EQ(m.read(other), 44u);
  EXPECT_EQ(elements(m), kSmallFloats);

  std::istringstream notMat("MAX\nflt\nbin\n"s);
  expectVmtlFailure([&] { m.read(notMat); }, "file is not an VMTL matrix", "heap_matrix", 466);
  std::istringstream mode("MAT\nflt\nbon\n\0\0\0\0\0\0\0\0"s);
  expectVmtlFailure([&] { m.read(mode); }, "unhandled matrix data format", "heap_matrix", 523);
}

TEST(MatrixBlock, StreamReaderTruncatedAtEveryByte) {
  const Bytes block = smallFloatStreamBlock();
  for (size_t length = 0; length < block.size(); ++length) {
    SCOPED_TRACE(length);
    std::istringstream in(std::string(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length)));
    HeapMatrix<float> m;
    auto read = [&] { m.read(in); };
    if (length < 4)
      expectVmtlFailure(read, "file is not an VMTL matrix", "heap_matrix", 466);
    else if (length < 8)
      expectVmtlFailure(read, "file format mismatch", "heap_matrix", 472);
    else if (length < 12)
      expectVmtlFailure(read, "file format mismatch", "heap_matrix", 477);
    else if (length < 16)
      expectVmtlFailure(read, "file format mismatch", "heap_matrix", 507);
    else if (length < 20)
      expectVmtlFailure(read, "file format mismatch", "heap_matrix", 511);
    else
      expectVmtlFailure(read, "too few matrix elements in file", "heap_matrix", 517);
  }
}

// Big-endian bytes of a float, written out independently of the library.
void appendFloatBE(std::string& out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

TEST(MatrixBlock, StreamReaderLargeAndForgedShapes) {
  const unsigned rows = 300, cols = 1000;
  std::string block = "MAT\nflt\nbin\n\0\0\x01\x2C\0\0\x03\xE8"s;
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c) appendFloatBE(block, static_cast<float>(r) - 0.5f * static_cast<float>(c));
  std::istringstream in(block);
  HeapMatrix<float> m(2, 2, 9.0f);
  EXPECT_EQ(m.read(in), 20u + 4 * rows * cols);
  ASSERT_EQ(m.rows, rows);
  ASSERT_EQ(m.cols, cols);
  EXPECT_EQ(m.capacity, rows * cols);
  unsigned wrong = 0;
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c) wrong += m(r, c) != static_cast<float>(r) - 0.5f * static_cast<float>(c);
  EXPECT_EQ(wrong, 0u);

  std::istringstream cut(block.substr(0, block.size() - 1));
  expectVmtlFailure([&] { m.read(cut); }, "too few matrix elements in file", "heap_matrix", 517);

  // 65535 x 65535 floats declared, eight bytes present: memory follows the data.
  std::istringstream forged("MAT\nflt\nbin\n\0\0\xFF\xFF\0\0\xFF\xFF\x3F\x80\0\0\x3F\x80\0\0"s);
  HeapMatrix<float> small;
  expectVmtlFailure([&] { small.read(forged); }, "too few matrix elements in file", "heap_matrix", 517);
  EXPECT_LE(small.capacity, 65536u);
  std::istringstream wrapping("MAT\nflt\nbin\n\0\x01\0\0\0\x01\0\0"s);
  expectVmtlFailure([&] { small.read(wrapping); }, "too few matrix elements in file", "heap_matrix", 517);
}

TEST(MatrixBlock, StreamReaderText) {
  std::istringstream in("MAT\nflt\0txt\n2\n2\n1 2 \n3 4 \nnext"s);
  HeapMatrix<float> m;
  EXPECT_EQ(m.read(in), 26u);
  EXPECT_EQ(m.rows, 2u);
  EXPECT_EQ(elements(m), (std::vector<float>{1, 2, 3, 4}));
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "next");

  // What the stream writer prints reads back.
  HeapMatrix<float> source = matrixOf(3, 2, std::vector<float>{0.5f, -7, 1e-3f, 250, 0, 1e20f});
  std::stringstream round;
  source.write(round, "txt");
  EXPECT_EQ(m.read(round), round.str().size());
  EXPECT_EQ(elements(m), elements(source));

  std::istringstream rowsBad("MAT\nflt\ntxt\nx\n2\n"s);
  expectVmtlFailure([&] { m.read(rowsBad); }, "file format mismatch", "heap_matrix", 507);
  std::istringstream colsBad("MAT\nflt\ntxt\n2\n-2\n"s);
  expectVmtlFailure([&] { m.read(colsBad); }, "file format mismatch", "heap_matrix", 511);
  std::istringstream shortRow("MAT\nflt\ntxt\n2\n2\n1 2 \n3 \n"s);
  expectVmtlFailure([&] { m.read(shortRow); }, "too few matrix elements in file", "heap_matrix", 517);
  std::istringstream ended("MAT\nflt\ntxt\n2\n2\n1 2 \n3"s);
  expectVmtlFailure([&] { m.read(ended); }, "too few matrix elements in file", "heap_matrix", 517);
  std::istringstream overflow("MAT\nflt\ntxt\n65536\n65536\n"s);
  expectVmtlFailure([&] { m.read(overflow); }, "too few matrix elements in file", "heap_matrix", 517);

  std::istringstream forged("MAT\nflt\ntxt\n60000\n60000\n1 2 \n"s);
  HeapMatrix<float> small;
  expectVmtlFailure([&] { small.read(forged); }, "too few matrix elements in file", "heap_matrix", 517);
  EXPECT_LE(small.capacity, 65536u);

  // A larger text block crosses the pieces the reader grows in.
  HeapMatrix<float> big(40, 1000, 0.0f);
  for (unsigned i = 0; i < big.elementCount(); ++i) big.data[i] = static_cast<float>(i % 977) - 300.0f;
  std::stringstream text;
  big.write(text, "txt");
  EXPECT_EQ(m.read(text), text.str().size());
  EXPECT_EQ(elements(m), elements(big));
}

TEST(MatrixBlock, GenericMapValueCodec) {
  HeapMatrix<float> m = matrixOf(2, 3, kSmallFloats);
  std::stringstream out;
  EXPECT_EQ(writeMatrixValue(out, m), 24u);
  EXPECT_EQ(out.str(), toString(smallFloatStreamBlock()));
  const HeapMatrix<float> back = readMatrixValue(out);
  EXPECT_EQ(back.rows, 2u);
  EXPECT_EQ(elements(back), kSmallFloats);
}

}  // namespace
