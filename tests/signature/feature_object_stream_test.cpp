#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "signature/feature_object.h"
#include "tests/support/byte_builder.h"
#include "tests/support/vmtl_expect.h"

namespace {

template <typename Call>
void expectFeatureObjException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected FeatureObjException " << message;
  } catch (const FeatureObjException& e) {
    EXPECT_EQ(std::string(e.what()), "CFeatureObject: " + message);
  }
}

// Writes an object, checking that the size announced is what is written and
// that nothing beyond it is touched.
template <typename T>
std::vector<unsigned char> streamOf(CFeatureObject<T>& object) {
  const unsigned size = object.getStreamSize();
  std::vector<unsigned char> buffer(size + 8, 0xEE);
  EXPECT_EQ(object.write(buffer.data(), size), size);
  for (unsigned i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "byte " << i << " written";
  buffer.resize(size);
  return buffer;
}

// Reads from a heap copy of exactly length bytes, so that the address
// sanitizer sees any read past them.
template <typename Object>
unsigned readExact(Object& object, const std::vector<unsigned char>& bytes, size_t length) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[length ? length : 1]);
  std::copy_n(bytes.begin(), length, copy.get());
  return object.read(copy.get(), static_cast<unsigned>(length));
}

template <typename Object>
unsigned readExact(Object& object, const std::vector<unsigned char>& bytes) {
  return readExact(object, bytes, bytes.size());
}

void setRows(HeapMatrix<float>& m, unsigned rows, unsigned cols, const std::vector<float>& values) {
  m.resize(rows, cols);
  std::copy(values.begin(), values.end(), m.data);
}

// The object of the full layout: both parameter maps, a linear quantizer of
// its own (which takes precedence over the logarithmic default of type 3) and
// a 2 x 2 matrix.
std::unique_ptr<CFeatureObject<float>> fullObject() {
  auto object = std::make_unique<CFeatureObject<float>>("Env", 3);
  object->setParameter("gain", 0.5f);
  object->setParameter("label", std::string("ab"));
  object->setParameter("n", 5);
  object->setParameter("neg", -2);
  setRows(object->getMatrix(), 2, 2, {0.5f, 1.0f, 0.0f, 0.25f});
  auto* module = new CQuantModule<float>(2);
  module->add(new CQuant(0.0f, 1.0f, 256, false), 2);
  object->setQuantModule(module);
  return object;
}

std::vector<unsigned char> fullStream() {
  ByteBuilder b;
  b.raw({0x00, 0x03, 0x00, 0x03}).raw({3, 'E', 'n', 'v'}).raw({3, 'f', 'l', 't'});
  b.raw({5, 'P', 'a', 'r', 'a', 'm', 2});
  b.raw({6, 's', 't', 'r', 'i', 'n', 'g', 2});
  b.raw({4, 'g', 'a', 'i', 'n', 3, '0', '.', '5'});
  b.raw({5, 'l', 'a', 'b', 'e', 'l', 2, 'a', 'b'});
  b.raw({3, 'i', 'n', 't', 2});
  b.raw({1, 'n', 4, 0x00, 0x00, 0x00, 0x05});
  b.raw({3, 'n', 'e', 'g', 4, 0xFF, 0xFF, 0xFF, 0xFE});
  b.raw({5, 'Q', 'u', 'a', 'n', 't'});
  b.raw({0x00, 0x00, 0x00, 0x14, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00, 0x00, 0x02,
         0x01, 0x00, 0x00});
  b.raw({3, 'M', 'A', 'T', '\n', 'u', 'c', 'h', 'r', 'b', 'i', 'n', '\n'});
  b.raw({0, 0, 0, 2, 0, 0, 0, 2, 128, 255, 0, 64});
  return b.bytes;
}

// A version 1 or 2 stream of a float object (type 5, name "P") whose matrix
// is one unquantized value.
std::vector<unsigned char> olderStream(int version) {
  ByteBuilder b;
  b.u16(version).u16(5).shortText("P").shortText("flt");
  b.shortText("Param").u8(2);
  b.shortText("string").u8(2);
  if (version == 1) {
    std::string padded = "0.5";
    padded.resize(28, '\0');
    b.shortText("gain").text(padded);
    std::string period = "20";
    period.resize(28, '\0');
    b.shortText("msPerRow").text(period);
  } else {
    b.shortText("gain").u8(3).text("0.5");
    b.shortText("msPerRow").u8(2).text("20");
  }
  b.shortText("int").u8(1);
  if (version == 1)
    b.shortText("n").u32(7);
  else
    b.shortText("n").u8(4).u32(7);
  b.u8(3).text("MAT\n").raw({'f', 'l', 't', 0}).text("bin\n").u32(1).u32(1).f32(2.5f);
  return b.bytes;
}

}  // namespace

TEST(FeatureObjectStreamTest, FullLayoutWithAllSubBlocks) {
  auto object = fullObject();
  const std::vector<unsigned char> expected = fullStream();
  EXPECT_EQ(streamOf(*object), expected);

  CFeatureObject<float> back;
  EXPECT_EQ(readExact(back, expected), expected.size());
  EXPECT_EQ(back.getName(), "Env");
  EXPECT_EQ(back.getFeatureType(), 3);
  EXPECT_EQ(back.getMsPerRow(), 30.0f);  // none stored
  std::string text;
  EXPECT_TRUE(back.getParameter(text, "gain", false));
  EXPECT_EQ(text, "0.5");
  EXPECT_TRUE(back.getParameter(text, "label", false));
  EXPECT_EQ(text, "ab");
  int number = 0;
  EXPECT_TRUE(back.getParameter(number, "neg", false));
  EXPECT_EQ(number, -2);
  EXPECT_TRUE(back.getParameter(number, "n", false));
  EXPECT_EQ(number, 5);
  // The stored linear quantizer restores the values, not the logarithmic default.
  const HeapMatrix<float>& m = back.getMatrix();
  ASSERT_EQ(m.rows, 2u);
  ASSERT_EQ(m.cols, 2u);
  EXPECT_EQ(m(0, 0), 0.501953125f);
  EXPECT_EQ(m(0, 1), 0.998046875f);
  EXPECT_EQ(m(1, 0), 0.001953125f);
  EXPECT_EQ(m(1, 1), 0.251953125f);
  EXPECT_EQ(back.getQuantBlob(), std::vector<unsigned char>(expected.begin() + 72, expected.begin() + 92));
  // Written again, the object gives the same bytes.
  EXPECT_EQ(streamOf(back), expected);
}

TEST(FeatureObjectStreamTest, OlderParameterLayouts) {
  for (int version : {1, 2}) {
    SCOPED_TRACE(version);
    const std::vector<unsigned char> bytes = olderStream(version);
    CFeatureObject<float> object;
    EXPECT_EQ(readExact(object, bytes), bytes.size());
    EXPECT_EQ(object.getName(), "P");
    EXPECT_EQ(object.getMsPerRow(), 20.0f);
    std::string text;
    EXPECT_FALSE(object.getParameter(text, "msPerRow", false));  // taken out by the reader
    EXPECT_TRUE(object.getParameter(text, "gain", false));
    EXPECT_EQ(text, "0.5");
    int number = 0;
    EXPECT_TRUE(object.getParameter(number, "n", false));
    EXPECT_EQ(number, 7);
    ASSERT_EQ(object.getMatrix().elementCount(), 1u);
    EXPECT_EQ(object.getMatrix()(0, 0), 2.5f);
  }

  // The same maps in the version-3 layout, with the value lengths as VLQs;
  // a repeated key keeps its first value.
  ByteBuilder b;
  b.u16(3).u16(5).shortText("P").shortText("flt");
  b.shortText("Param").u8(1).shortText("string").u8(3);
  b.shortText("gain").vlq(3).text("0.5");
  b.shortText("gain").vlq(3).text("9.9");
  const std::string longValue(200, 'v');
  b.shortText("long").vlq(200).text(longValue);
  b.u8(3).text("MAT\n").raw({'f', 'l', 't', 0}).text("bin\n").u32(0).u32(0);
  ASSERT_EQ(b.bytes[48], 0x81);  // 200 takes two VLQ bytes: 0x81 0x48
  CFeatureObject<float> object;
  EXPECT_EQ(readExact(object, b.bytes), b.bytes.size());
  std::string text;
  EXPECT_TRUE(object.getParameter(text, "gain", false));
  EXPECT_EQ(text, "0.5");
  EXPECT_TRUE(object.getParameter(text, "long", false));
  EXPECT_EQ(text, longValue);
}

TEST(FeatureObjectStreamTest, DefaultLogarithmicQuantizerOfTheEnvelope) {
  CFeatureObject<float> object("Env", 3);
  const float center = static_cast<float>(std::pow(10.0, -4.984375));  // middle of code 128
  setRows(object.getMatrix(), 1, 2, {center, 1.0f});
  ByteBuilder expected;
  expected.raw({0, 3, 0, 3, 3, 'E', 'n', 'v', 3, 'f', 'l', 't'});
  expected.raw({3, 'M', 'A', 'T', '\n', 'u', 'c', 'h', 'r', 'b', 'i', 'n', '\n', 0, 0, 0, 1, 0, 0, 0, 2, 128, 255});
  EXPECT_EQ(streamOf(object), expected.bytes);

  CFeatureObject<float> back;
  readExact(back, expected.bytes);
  ASSERT_EQ(back.getMatrix().elementCount(), 2u);
  EXPECT_NEAR(back.getMatrix()(0, 0), center, center * 1e-5);
  const double top = std::pow(10.0, -9.0 + 255.5 * 8.0 / 256.0);
  EXPECT_NEAR(back.getMatrix()(0, 1), top, top * 1e-5);
  EXPECT_TRUE(back.getQuantBlob().empty());
}

TEST(FeatureObjectStreamTest, FloatObjectsWithoutQuantizer) {
  // A generic type has no default quantizer: the matrix is stored as floats.
  CFeatureObject<float> object("G", 5);
  setRows(object.getMatrix(), 1, 2, {1.0f, -2.0f});
  ByteBuilder expected;
  expected.raw({0, 3, 0, 5, 1, 'G', 3, 'f', 'l', 't'});
  expected.raw({3, 'M', 'A', 'T', '\n', 'f', 'l', 't', 0, 'b', 'i', 'n', '\n', 0, 0, 0, 1, 0, 0, 0, 2});
  expected.raw({0x3F, 0x80, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00});
  EXPECT_EQ(streamOf(object), expected.bytes);

  // Quantized but without elements: the empty float block.
  CFeatureObject<float> empty("E", 3);
  empty.getMatrix().resize(0, 4);
  ByteBuilder emptyBytes;
  emptyBytes.raw({0, 3, 0, 3, 1, 'E', 3, 'f', 'l', 't'});
  emptyBytes.raw({3, 'M', 'A', 'T', '\n', 'f', 'l', 't', 0, 'b', 'i', 'n', '\n', 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(streamOf(empty), emptyBytes.bytes);
  CFeatureObject<float> back;
  EXPECT_EQ(readExact(back, emptyBytes.bytes), emptyBytes.bytes.size());
  EXPECT_TRUE(back.isEmpty());

  // Only integer parameters: one map.
  CFeatureObject<float> ints("I", 5);
  ints.setParameter("k", 258);
  ByteBuilder intBytes;
  intBytes.raw({0, 3, 0, 5, 1, 'I', 3, 'f', 'l', 't'});
  intBytes.raw({5, 'P', 'a', 'r', 'a', 'm', 1, 3, 'i', 'n', 't', 1, 1, 'k', 4, 0, 0, 1, 2});
  intBytes.raw({3, 'M', 'A', 'T', '\n', 'f', 'l', 't', 0, 'b', 'i', 'n', '\n', 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(streamOf(ints), intBytes.bytes);
}

TEST(FeatureObjectStreamTest, OddColumnCountOfTheFlatnessDefault) {
  CFeatureObject<float> object("SFM", 2);
  setRows(object.getMatrix(), 2, 3, {0.5f, 0.0501f, 0.7f, 1.0f, 0.2f, -1.0f});
  ByteBuilder expected;
  expected.raw({0, 3, 0, 2, 3, 'S', 'F', 'M', 3, 'f', 'l', 't'});
  expected.raw({3, 'M', 'A', 'T', '\n', 'u', 'c', 'h', 'r', 'b', 'i', 'n', '\n', 0, 0, 0, 2, 0, 0, 0, 3});
  expected.raw({128, 128, 0, 255, 255, 0});
  EXPECT_EQ(streamOf(object), expected.bytes);

  CFeatureObject<float> back;
  readExact(back, expected.bytes);
  const HeapMatrix<float>& m = back.getMatrix();
  ASSERT_EQ(m.cols, 3u);
  EXPECT_EQ(m(0, 0), 0.501953125f);
  EXPECT_NEAR(m(0, 1), 128.5 * 0.1 / 256.0, 1e-7);
  EXPECT_EQ(m(0, 2), 0.0f);
  EXPECT_EQ(m(1, 2), 0.0f);
}

TEST(FeatureObjectStreamTest, IntegerElementObjects) {
  CFeatureObject<unsigned char> bytes("B", 9);
  bytes.getMatrix().resize(1, 3);
  bytes.getMatrix()(0, 0) = 1;
  bytes.getMatrix()(0, 1) = 2;
  bytes.getMatrix()(0, 2) = 255;
  ByteBuilder expected;
  expected.raw({0, 3, 0, 9, 1, 'B', 4, 'u', 'c', 'h', 'r'});
  expected.raw({3, 'M', 'A', 'T', '\n', 'u', 'c', 'h', 'r', 'b', 'i', 'n', '\n', 0, 0, 0, 1, 0, 0, 0, 3, 1, 2, 255});
  EXPECT_EQ(streamOf(bytes), expected.bytes);
  CFeatureObject<unsigned char> bytesBack;
  EXPECT_EQ(readExact(bytesBack, expected.bytes), expected.bytes.size());
  EXPECT_EQ(bytesBack.getMatrix()(0, 2), 255);
  EXPECT_EQ(bytesBack.getMsPerRow(), 30.0f);

  CFeatureObject<unsigned int> ints;
  ints.getMatrix().resize(2, 1);
  ints.getMatrix()(0, 0) = 0x01020304u;
  ints.getMatrix()(1, 0) = 4294967295u;
  ByteBuilder intBytes;
  intBytes.raw({0, 3, 0, 0, 0, 4, 'u', 'i', 'n', 't'});
  intBytes.raw({3, 'M', 'A', 'T', '\n', 'u', 'i', 'n', 't', 'b', 'i', 'n', '\n', 0, 0, 0, 2, 0, 0, 0, 1});
  intBytes.raw({1, 2, 3, 4, 255, 255, 255, 255});
  EXPECT_EQ(streamOf(ints), intBytes.bytes);
  CFeatureObject<unsigned int> intsBack;
  readExact(intsBack, intBytes.bytes);
  EXPECT_EQ(intsBack.getMatrix()(1, 0), 4294967295u);

  // Element types must match the object.
  CFeatureObject<float> floats("G", 5);
  floats.getMatrix().resize(1, 1);
  floats.getMatrix()(0, 0) = 1.0f;
  const std::vector<unsigned char> floatStream = streamOf(floats);
  expectFeatureObjException([&] { readExact(bytesBack, floatStream); }, "feature type mismatch");
  expectFeatureObjException([&] { readExact(intsBack, expected.bytes); }, "feature type mismatch");
  expectFeatureObjException([&] { readExact(bytesBack, intBytes.bytes); }, "feature type mismatch");
  expectFeatureObjException([&] { readExact(floats, intBytes.bytes); }, "feature type mismatch");

  // The element tag decides before the block is read, even in a block cut
  // short behind its tag.
  ByteBuilder cut;
  cut.raw({0, 3, 0, 0, 1, 'C', 3, 'f', 'l', 't'}).raw({3, 'M', 'A', 'T', '\n', 'u', 'i', 'n', 't', 'b', 'i'});
  expectFeatureObjException([&] { readExact(floats, cut.bytes); }, "feature type mismatch");
  expectFeatureObjException([&] { readExact(bytesBack, cut.bytes); }, "feature type mismatch");
}

TEST(FeatureObjectStreamTest, ReaderMessages) {
  // A float object of a generic type with codes but no quantizer.
  ByteBuilder codes;
  codes.u16(3).u16(7).shortText("C").shortText("flt");
  codes.u8(3).text("MAT\n").text("uchr").text("bin\n").u32(1).u32(1).u8(9);
  CFeatureObject<float> object;
  expectFeatureObjException([&] { readExact(object, codes.bytes); }, "feature type conversion requieres a quantizer");

  ByteBuilder version;
  version.u16(4).u16(7).shortText("C").shortText("flt");
  expectFeatureObjException([&] { readExact(object, version.bytes); }, "unsupported stream version");

  ByteBuilder subTag;
  subTag.u16(3).u16(7).shortText("C").shortText("flt").shortText("Parax").u8(0);
  expectFeatureObjException([&] { readExact(object, subTag.bytes); }, "unsupported sub tag in stream");

  ByteBuilder mapType;
  mapType.u16(3).u16(7).shortText("C").shortText("flt").shortText("Param").u8(1).shortText("float").u8(0);
  expectFeatureObjException([&] { readExact(object, mapType.bytes); }, "unsupported type of parameter map");

  // One byte more than the content: the matrix reader refuses the block.
  std::vector<unsigned char> longer = fullStream();
  longer.push_back(0);
  expectVmtlFailure([&] { readExact(object, longer); }, "too few elements in buffer", "heap_matrix", 599);

  // A quantizer block running past the end.
  ByteBuilder quant;
  quant.u16(3).u16(7).shortText("C").shortText("flt").shortText("Quant").u32(40).u16(0);
  expectFeatureObjException([&] { readExact(object, quant.bytes); }, "format error in input stream");

  // Codes beyond the range of the stored quantizer.
  ByteBuilder range;
  range.u16(3).u16(7).shortText("C").shortText("flt").shortText("Quant");
  range.u32(20).u16(1).u8(1).f32(0.0f).f32(1.0f).u16(1).u16(4).u8(0);
  range.u8(3).text("MAT\n").text("uchr").text("bin\n").u32(1).u32(1).u8(9);
  EXPECT_THROW(readExact(object, range.bytes), int);
}

TEST(FeatureObjectStreamTest, TruncatedStreamsFailCleanly) {
  const std::vector<unsigned char> bytes = fullStream();
  for (size_t length = 0; length < bytes.size(); ++length) {
    CFeatureObject<float> object;
    try {
      readExact(object, bytes, length);
      ADD_FAILURE() << "a stream cut at " << length << " was read";
    } catch (const FeatureObjException& e) {
      EXPECT_EQ(std::string(e.what()), "CFeatureObject: format error in input stream") << length;
    } catch (const VMTLException& e) {
      // Cut inside the matrix block: its own reader reports it.
      EXPECT_GE(length, 96u);
      EXPECT_TRUE(e.message == "no matrix in buffer" || e.message == "too few elements in buffer") << e.message;
    }
  }
}

TEST(FeatureObjectStreamTest, OversizedDeclaredLengths) {
  const auto header = [] {
    ByteBuilder b;
    b.u16(3).u16(7).shortText("C").shortText("flt");
    return b;
  };
  const auto expectFormatError = [](const std::vector<unsigned char>& bytes) {
    CFeatureObject<float> object;
    expectFeatureObjException([&] { readExact(object, bytes); }, "format error in input stream");
  };

  ByteBuilder name;
  name.u16(3).u16(7).u8(200).text("short");
  expectFormatError(name.bytes);

  ByteBuilder tag = header();
  tag.u8(250).text("MAT");
  expectFormatError(tag.bytes);

  ByteBuilder value = header();
  value.shortText("Param").u8(1).shortText("string").u8(1).shortText("k").vlq(0x7FFFFFFF).text("abc");
  expectFormatError(value.bytes);

  ByteBuilder endlessVlq = header();
  endlessVlq.shortText("Param").u8(1).shortText("string").u8(1).shortText("k").raw({0xFF, 0xFF, 0xFF});
  expectFormatError(endlessVlq.bytes);

  ByteBuilder entries = header();
  entries.shortText("Param").u8(1).shortText("int").u8(255).shortText("k").vlq(4).u32(1);
  expectFormatError(entries.bytes);

  ByteBuilder maps = header();
  maps.shortText("Param").u8(255).shortText("int").u8(0);
  expectFormatError(maps.bytes);

  ByteBuilder shortInt = header();
  shortInt.shortText("Param").u8(1).shortText("int").u8(1).shortText("k").vlq(2).u16(1);
  shortInt.u8(3).text("MAT\n").raw({'f', 'l', 't', 0}).text("bin\n").u32(0).u32(0);
  expectFormatError(shortInt.bytes);

  ByteBuilder hugeQuant = header();
  hugeQuant.shortText("Quant").u32(0xFFFFFFFF).u16(0);
  expectFormatError(hugeQuant.bytes);

  ByteBuilder tinyQuant = header();
  tinyQuant.shortText("Quant").u32(2).u16(0);
  expectFormatError(tinyQuant.bytes);

  // A stream that stops before its matrix.
  expectFormatError(header().bytes);

  ByteBuilder shape = header();
  shape.u8(3).text("MAT\n").raw({'f', 'l', 't', 0}).text("bin\n").u32(0xFFFFFFFF).u32(0xFFFFFFFF).f32(1.0f);
  CFeatureObject<float> object;
  expectVmtlFailure([&] { readExact(object, shape.bytes); }, "too few elements in buffer", "heap_matrix", 599);

  // A stored quantizer block whose entries run past it fails when it is needed.
  ByteBuilder badBlock = header();
  badBlock.shortText("Quant").u32(8).u16(3).u16(0);
  badBlock.u8(3).text("MAT\n").text("uchr").text("bin\n").u32(1).u32(1).u8(9);
  expectFormatError(badBlock.bytes);
}

TEST(FeatureObjectStreamTest, WriterChecksCapacityAndLimits) {
  auto object = fullObject();
  const unsigned size = object->getStreamSize();
  std::vector<unsigned char> buffer(size);
  expectFeatureObjException([&] { object->write(buffer.data(), size - 1); }, "stream buffer overflow");

  CFeatureObject<float> longName(std::string(256, 'n'), 5);
  expectFeatureObjException([&] { longName.getStreamSize(); }, "feature object exceeds the limits of the stream layout");
  CFeatureObject<float> longKey("K", 5);
  longKey.setParameter(std::string(256, 'k').c_str(), 1);
  expectFeatureObjException([&] { longKey.getStreamSize(); }, "feature object exceeds the limits of the stream layout");
  CFeatureObject<float> manyKeys("K", 5);
  for (int i = 0; i < 256; ++i) manyKeys.setParameter(std::to_string(i).c_str(), i);
  expectFeatureObjException([&] { streamOf(manyKeys); }, "feature object exceeds the limits of the stream layout");
  CFeatureObject<float> fullKeys("K", 5);
  for (int i = 0; i < 255; ++i) fullKeys.setParameter(std::to_string(i).c_str(), std::string(300, 'v'));
  fullKeys.setParameter(std::string(255, 'k').c_str(), 1);
  const std::vector<unsigned char> bytes = streamOf(fullKeys);
  CFeatureObject<float> back;
  EXPECT_EQ(readExact(back, bytes), bytes.size());
  std::string text;
  EXPECT_TRUE(back.getParameter(text, "254", false));
  EXPECT_EQ(text, std::string(300, 'v'));
}

// A float object read from a quantized stream writes its stored codes through
// the round-trip tables: the same bytes as quantizing its values anew, which
// it does again once its matrix or quantizer may have changed.
TEST(FeatureObjectStreamTest, RereadObjectsWriteWhatTheirValuesQuantizeTo) {
  std::vector<float> values;
  for (unsigned i = 0; i < 3 * 5; ++i) values.push_back(static_cast<float>(std::pow(10.0, -9.5 + 0.61 * i)));
  for (const bool ownQuantizer : {false, true}) {
    SCOPED_TRACE(ownQuantizer ? "block of its own" : "logarithmic default");
    CFeatureObject<float> original("Env", 3);
    setRows(original.getMatrix(), 3, 5, values);
    if (ownQuantizer) {
      auto* module = new CQuantModule<float>(5);
      module->add(new CQuant(0.0f, 0.5f, 256, false), 2);
      module->add(new CQuant_log(-8.0f, 0.0f, 256, false), 3);
      original.setQuantModule(module);
    }
    const std::vector<unsigned char> written = streamOf(original);

    CFeatureObject<float> reread;
    readExact(reread, written);
    std::unique_ptr<CFeatureObjectBase> copy(reread.clone(0, 0));
    EXPECT_EQ(streamOf(reread), written);
    EXPECT_EQ(streamOf(static_cast<CFeatureObject<float>&>(*copy)), written);

    // Values that are only looked at through the changing accessors are
    // quantized anew, to the same codes.
    CFeatureObject<float> touched;
    readExact(touched, written);
    touched.getMatrix();
    EXPECT_EQ(streamOf(touched), written);

    // A changed value: its code follows it.
    CFeatureObject<float> changed;
    readExact(changed, written);
    changed.getMatrix()(1, 1) = 0.4f;
    const std::vector<unsigned char> rewritten = streamOf(changed);
    ASSERT_EQ(rewritten.size(), written.size());
    const size_t at = written.size() - 15 + 1 * 5 + 1;
    EXPECT_EQ(rewritten[at], ownQuantizer ? 204 : 255);
    EXPECT_EQ(written[at], ownQuantizer ? 0 : 101);  // 10^-5.84: (9 - 5.84) / 8 * 256 = 101.1
    for (size_t i = 0; i < written.size(); ++i) {
      if (i == at) continue;
      EXPECT_EQ(rewritten[i], written[i]) << "byte " << i;
    }

    // Another quantizer codes the values it holds.
    CFeatureObject<float> requantized;
    readExact(requantized, written);
    auto* linear = new CQuantModule<float>(5);
    linear->add(new CQuant(0.0f, 1.0f, 4, false), 5);
    requantized.setQuantModule(linear);
    const std::vector<unsigned char> coded = streamOf(requantized);
    CFeatureObject<float> fresh("Env", 3);
    setRows(fresh.getMatrix(), 3, 5, std::vector<float>(requantized.getMatrix().data, requantized.getMatrix().data + 15));
    auto* sameLinear = new CQuantModule<float>(5);
    sameLinear->add(new CQuant(0.0f, 1.0f, 4, false), 5);
    fresh.setQuantModule(sameLinear);
    EXPECT_EQ(coded, streamOf(fresh));
  }
}
