#include "signature/quant_module.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "signature/feature_object_exception.h"
#include "tests/support/byte_builder.h"

namespace {

std::vector<unsigned char> blockOf(const CQuantModule<float>& module) {
  std::vector<unsigned char> block(quantBlockSize(&module));
  EXPECT_EQ(writeQuantBlock(module, block.data()), block.size());
  return block;
}

template <typename Call>
void expectFeatureObjException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected FeatureObjException " << message;
  } catch (const FeatureObjException& e) {
    EXPECT_EQ(std::string(e.what()), "CFeatureObject: " + message);
  }
}

// Reads from a heap copy of exactly the given bytes, so that the address
// sanitizer sees any read past them.
std::unique_ptr<CQuantModule<float>> readExact(const std::vector<unsigned char>& bytes, unsigned length,
                                               unsigned columns) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[length ? length : 1]);
  std::copy_n(bytes.begin(), length, copy.get());
  return readQuantBlock(copy.get(), length, columns);
}

}  // namespace

TEST(QuantModuleTest, LinearBlockLayout) {
  CQuantModule<float> module(4);
  EXPECT_EQ(module.add(new CQuant(0.0f, 1.0f, 256, false), 4), 1);
  const std::vector<unsigned char> expected = {0x00, 0x00, 0x00, 0x14, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00,
                                               0x00, 0x3F, 0x80, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00};
  EXPECT_EQ(quantBlockSize(&module), 20u);
  EXPECT_EQ(blockOf(module), expected);
  EXPECT_EQ(quantBlockSize(nullptr), 0u);

  const CQuantModule<float> empty(3);
  EXPECT_EQ(blockOf(empty), std::vector<unsigned char>({0, 0, 0, 6, 0, 0}));
}

TEST(QuantModuleTest, IndividualPolynomialAndLogEntries) {
  const float thresholds[] = {1.0f, 2.0f, 3.0f};
  CQuantModule<float> module(10);
  module.add(new CQuant_Individual(thresholds, 3, 0.0f, 4.0f), 2);
  module.add(new CQuant_polynomial(-1.0f, 1.0f, 64, true, 0.5f, 2.0f), 3);
  EXPECT_EQ(module.add(new CQuant_log(-9.0f, -1.0f, 256, false), 5), 3);
  EXPECT_EQ(module.totalWidth(), 10u);

  ByteBuilder expected;
  expected.u32(6 + (14 + 12) + (14 + 8) + 14).u16(3);
  expected.u8(5).f32(0.0f).f32(4.0f).u16(2).u16(3).u8(0).f32(1.0f).f32(2.0f).f32(3.0f);
  expected.u8(4).f32(-1.0f).f32(1.0f).u16(3).u16(64).u8(1).f32(0.5f).f32(2.0f);
  expected.u8(2).f32(-9.0f).f32(-1.0f).u16(5).u16(256).u8(0);
  const std::vector<unsigned char> block = blockOf(module);
  EXPECT_EQ(block, expected.bytes);

  // A module with one individual quantizer of three thresholds: 6 + 14 + 12.
  CQuantModule<float> single(2);
  single.add(new CQuant_Individual(thresholds, 3, 0.0f, 4.0f), 2);
  EXPECT_EQ(quantBlockSize(&single), 32u);

  const std::unique_ptr<CQuantModule<float>> back = readQuantBlock(block.data(), block.size(), 10);
  ASSERT_EQ(back->quantizerCount(), 3u);
  EXPECT_EQ(back->getColumns(), 10u);
  EXPECT_EQ(quantizerTypeCode(*back, 0), 5);
  EXPECT_EQ(quantizerTypeCode(*back, 1), 4);
  EXPECT_EQ(quantizerTypeCode(*back, 2), 2);
  EXPECT_EQ(back->getWidth(0), 2u);
  EXPECT_EQ(back->getWidth(1), 3u);
  EXPECT_EQ(back->getWidth(2), 5u);
  EXPECT_EQ(back->getQuantizer(0).getTable(), std::vector<float>({1.0f, 2.0f, 3.0f}));
  EXPECT_EQ(back->getQuantizer(1).getRising2(), 2.0f);
  EXPECT_TRUE(back->getQuantizer(1).getFlag());
  EXPECT_EQ(back->getQuantizer(2).getSteps(), 256);
  EXPECT_EQ(blockOf(*back), block);
}

TEST(QuantModuleTest, TypeCodesByDynamicType) {
  const float thresholds[] = {1.0f};
  CQuantModule<float> module(5);
  module.add(new CQuant(0.0f, 1.0f, 4, false), 1);
  module.add(new CQuant_log(0.0f, 1.0f, 4, false), 1);
  module.add(new CQuant_sin(0.0f, 1.0f, 4, false), 1);
  module.add(new CQuant_polynomial(0.0f, 1.0f, 4, false, 1.0f, 1.0f), 1);
  module.add(new CQuant_Individual(thresholds, 1, 0.0f, 1.0f), 1);
  for (unsigned i = 0; i < 5; ++i) EXPECT_EQ(quantizerTypeCode(module, i), static_cast<int>(i) + 1);
  EXPECT_EQ(module.add(nullptr, 3), 5);
  EXPECT_EQ(module.totalWidth(), 5u);
}

TEST(QuantModuleTest, ReaderRefusesUnknownTypesAndBadEntries) {
  ByteBuilder unknown;
  unknown.u32(20).u16(1).u8(6).f32(0.0f).f32(1.0f).u16(4).u16(256).u8(0);
  expectFeatureObjException([&] { readExact(unknown.bytes, 20, 4); }, "unknown type of quantizer found");

  ByteBuilder badRange;
  badRange.u32(20).u16(1).u8(1).f32(1.0f).f32(0.0f).u16(4).u16(256).u8(0);
  try {
    readExact(badRange.bytes, 20, 4);
    ADD_FAILURE();
  } catch (const StandardException& e) {
    EXPECT_EQ(std::string(e.what()), "Quant: max<minval");
  }

  ByteBuilder badRising;
  badRising.u32(28).u16(1).u8(4).f32(0.0f).f32(1.0f).u16(4).u16(256).u8(0).f32(4.0f).f32(4.0f);
  EXPECT_THROW(readExact(badRising.bytes, 28, 4), std::string);

  // An individual entry with no thresholds has no steps.
  ByteBuilder noThresholds;
  noThresholds.u32(20).u16(1).u8(5).f32(0.0f).f32(1.0f).u16(4).u16(0).u8(0);
  EXPECT_THROW(readExact(noThresholds.bytes, 20, 4), StandardException);
}

TEST(QuantModuleTest, TruncatedBlocksFailCleanly) {
  const float thresholds[] = {0.1f, 0.2f};
  CQuantModule<float> module(6);
  module.add(new CQuant_Individual(thresholds, 2, 0.0f, 1.0f), 2);
  module.add(new CQuant_polynomial(0.0f, 1.0f, 16, false, 1.0f, 2.0f), 2);
  module.add(new CQuant_sin(0.0f, 1.0f, 16, false), 2);
  const std::vector<unsigned char> block = blockOf(module);
  for (unsigned length = 0; length < block.size(); ++length)
    expectFeatureObjException([&] { readExact(block, length, 6); }, "format error in input stream");
  EXPECT_EQ(readExact(block, static_cast<unsigned>(block.size()), 6)->quantizerCount(), 3u);

  // A count far beyond the entries present.
  ByteBuilder manyEntries;
  manyEntries.u32(6).u16(0xFFFF);
  expectFeatureObjException([&] { readExact(manyEntries.bytes, 6, 4); }, "format error in input stream");
  // An individual entry claiming more thresholds than the block holds.
  ByteBuilder manyThresholds;
  manyThresholds.u32(24).u16(1).u8(5).f32(0.0f).f32(1.0f).u16(1).u16(0xFFFF).u8(0).f32(0.5f);
  expectFeatureObjException([&] { readExact(manyThresholds.bytes, 24, 4); }, "format error in input stream");
}

TEST(QuantModuleTest, WidthsThatDoNotAddUpStayInsideTheRow) {
  std::vector<float> values = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  const BaseVector<float> row(values.data(), 6);

  // Widths adding up to more than the columns: only the columns are coded.
  CQuantModule<float> wide(6);
  for (int i = 0; i < 3; ++i) wide.add(new CQuant(0.0f, 1.0f, 256, false), 4);
  const HeapVector<unsigned char>& codes = wide.quantize(row);
  ASSERT_EQ(codes.size, 6u);
  for (unsigned c = 0; c < 6; ++c) EXPECT_EQ(codes[c], 128);
  const HeapVector<float>& restored = wide.dequantize(codes);
  ASSERT_EQ(restored.size, 6u);
  for (unsigned c = 0; c < 6; ++c) EXPECT_EQ(restored[c], 0.501953125f);

  // Widths adding up to fewer: the columns left over get code 0 and value 0.
  CQuantModule<float> narrow(6);
  narrow.add(new CQuant(0.0f, 1.0f, 256, false), 2);
  const HeapVector<unsigned char>& some = narrow.quantize(row);
  EXPECT_EQ(std::vector<unsigned char>(some.begin(), some.end()), std::vector<unsigned char>({128, 128, 0, 0, 0, 0}));
  std::vector<unsigned char> stored = {128, 128, 9, 9, 9, 9};
  const HeapVector<float>& back = narrow.dequantize(BaseVector<unsigned char>(stored.data(), 6));
  EXPECT_EQ(std::vector<float>(back.begin(), back.end()),
            std::vector<float>({0.501953125f, 0.501953125f, 0.0f, 0.0f, 0.0f, 0.0f}));

  // A row shorter than the module: only the row's columns are read.
  CQuantModule<float> longer(4);
  longer.add(new CQuant(0.0f, 1.0f, 256, false), 4);
  const HeapVector<unsigned char>& shortCodes = longer.quantize(BaseVector<float>(values.data(), 2));
  EXPECT_EQ(std::vector<unsigned char>(shortCodes.begin(), shortCodes.end()),
            std::vector<unsigned char>({128, 128, 0, 0}));
}

TEST(QuantModuleTest, DequantizeOfACodeOutOfRangeThrowsMinusThree) {
  CQuantModule<float> module(2);
  module.add(new CQuant(0.0f, 1.0f, 4, false), 2);
  std::vector<unsigned char> codes = {1, 4};
  EXPECT_THROW(module.dequantize(BaseVector<unsigned char>(codes.data(), 2)), int);
}

TEST(QuantModuleTest, BlockRefusesFieldsBeyondSixteenBits) {
  CQuantModule<float> module(70000);
  module.add(new CQuant(0.0f, 1.0f, 256, false), 70000);
  expectFeatureObjException([&] { quantBlockSize(&module); }, "quantizer module too large for a quantizer block");
  std::vector<unsigned char> buffer(64);
  expectFeatureObjException([&] { writeQuantBlock(module, buffer.data()); },
                            "quantizer module too large for a quantizer block");
}

// The forms that write into a caller's row give what the row forms give, cut
// or padded with 0; requantize gives for every code what quantizing its value
// again gives, for each kind of quantizer.
TEST(QuantModuleTest, RowsIntoPlacesAndRequantizedCodes) {
  CQuantModule<float> module(8);  // the last column has no quantizer
  module.add(new CQuant(0.0f, 1.0f, 256, false), 2);
  module.add(new CQuant_log(-9.0f, -1.0f, 256, true), 2);
  module.add(new CQuant_sin(0.0f, 2.0f, 256, false), 1);
  module.add(new CQuant_polynomial(0.0f, 1.0f, 256, false, 1.0f, 3.0f), 1);
  const float thresholds[] = {0.1f, 0.5f, 0.9f};
  module.add(new CQuant_Individual(thresholds, 3, 0.0f, 1.0f), 1);

  std::vector<float> values = {0.3f, 0.7f, 1e-5f, 0.02f, 1.2f, 0.4f, 0.6f, 0.5f};
  const HeapVector<unsigned char>& rowCodes = module.quantize(BaseVector<float>(values.data(), 8));
  std::vector<unsigned char> codes(rowCodes.begin(), rowCodes.end());
  std::vector<unsigned char> into(10, 0xAA);
  module.quantize(BaseVector<float>(values.data(), 8), into.data(), 10);
  std::vector<unsigned char> padded = codes;
  padded.resize(10, 0);
  EXPECT_EQ(into, padded);
  std::vector<unsigned char> cut(3, 0xAA);
  module.quantize(BaseVector<float>(values.data(), 8), cut.data(), 3);
  EXPECT_EQ(cut, std::vector<unsigned char>(codes.begin(), codes.begin() + 3));

  const HeapVector<float>& rowValues = module.dequantize(BaseVector<unsigned char>(codes.data(), 8));
  std::vector<float> restored(rowValues.begin(), rowValues.end());
  std::vector<float> valuesInto(9, -1.0f);
  module.dequantize(BaseVector<unsigned char>(codes.data(), 8), valuesInto.data(), 9);
  restored.push_back(0.0f);
  EXPECT_EQ(valuesInto, restored);

  // A block of rows at once, into wider rows: each row as the row form gives it.
  std::vector<float> block;
  for (unsigned r = 0; r < 3; ++r)
    for (float v : values) block.push_back(v * (0.5f + 0.5f * r));
  std::vector<unsigned char> blockCodes(3 * 9, 0xAA);
  module.quantize(BaseMatrix<float>(block.data(), 3, 8), blockCodes.data(), 9);
  std::vector<float> blockValues(3 * 9, -1.0f);
  module.dequantize(BaseMatrix<unsigned char>(blockCodes.data(), 3, 9), blockValues.data(), 9);
  for (unsigned r = 0; r < 3; ++r) {
    std::vector<unsigned char> rowInto(9, 0xAA);
    module.quantize(BaseVector<float>(block.data() + 8 * r, 8), rowInto.data(), 9);
    EXPECT_EQ(std::vector<unsigned char>(blockCodes.begin() + 9 * r, blockCodes.begin() + 9 * (r + 1)), rowInto);
    std::vector<float> rowValues(9, -1.0f);
    module.dequantize(BaseVector<unsigned char>(rowInto.data(), 9), rowValues.data(), 9);
    EXPECT_EQ(std::vector<float>(blockValues.begin() + 9 * r, blockValues.begin() + 9 * (r + 1)), rowValues);
  }

  for (unsigned c = 0; c < 256; ++c) {
    std::vector<unsigned char> same(8, static_cast<unsigned char>(c));
    const HeapVector<float>& back = module.dequantize(BaseVector<unsigned char>(same.data(), 8));
    std::vector<float> backValues(back.begin(), back.end());
    const HeapVector<unsigned char>& again = module.quantize(BaseVector<float>(backValues.data(), 8));
    std::vector<unsigned char> expected(again.begin(), again.end());
    expected.push_back(0);
    std::vector<unsigned char> requantized(9, 0xAA);
    module.requantize(BaseVector<unsigned char>(same.data(), 8), requantized.data(), 9);
    ASSERT_EQ(requantized, expected) << "code " << c;
  }
}
