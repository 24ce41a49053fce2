#include "metadata/sources/common/byte_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_files.h"

// Records the largest single allocation, so that a test can show that a length
// read from a stream does not turn into an allocation of that size.
namespace {
std::atomic<std::size_t> largestAllocation{0};
}

// The replacements pair malloc with free, which the compiler cannot tell from
// a mismatch once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  std::size_t seen = largestAllocation.load();
  while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<unsigned char>;

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes asBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct VlqCase {
  int value;
  Bytes bytes;
};

// Every 7-bit group boundary of the format, with its stored bytes worked out by hand.
const std::vector<VlqCase> kVlqBoundaries = {
    {0, {0x00}},
    {127, {0x7F}},
    {128, {0x81, 0x00}},
    {16383, {0xFF, 0x7F}},
    {16384, {0x81, 0x80, 0x00}},
    {2097151, {0xFF, 0xFF, 0x7F}},
    {2097152, {0x81, 0x80, 0x80, 0x00}},
    {268435455, {0xFF, 0xFF, 0xFF, 0x7F}},
    {268435456, {0x81, 0x80, 0x80, 0x80, 0x00}},
    {2147483647, {0x87, 0xFF, 0xFF, 0xFF, 0x7F}},
};

TEST(Vlq, BoundaryValuesHaveTheirStoredBytesInBuffersAndStreams) {
  for (const VlqCase& c : kVlqBoundaries) {
    SCOPED_TRACE(c.value);
    unsigned char buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_EQ(writeVLQ(buffer, c.value), c.bytes.size());
    EXPECT_EQ(Bytes(buffer, buffer + c.bytes.size()), c.bytes);
    EXPECT_EQ(buffer[c.bytes.size()], 0xEE) << "wrote past the quantity";
    EXPECT_EQ(vlqLength(c.value), c.bytes.size());

    std::ostringstream out(std::ios::binary);
    EXPECT_EQ(writeVLQ(out, c.value), static_cast<int>(c.bytes.size()));
    EXPECT_EQ(out.str(), asText(c.bytes));

    Bytes stored = c.bytes;
    stored.push_back(0x55);
    const unsigned char* cursor = stored.data();
    EXPECT_EQ(readVLQ(cursor), c.value);
    EXPECT_EQ(cursor, stored.data() + c.bytes.size());
    unsigned char* mutableCursor = stored.data();
    EXPECT_EQ(readVLQ(mutableCursor), c.value);
    EXPECT_EQ(mutableCursor, stored.data() + c.bytes.size());

    std::istringstream in(asText(stored), std::ios::binary);
    EXPECT_EQ(readVLQ(in), c.value);
    EXPECT_TRUE(in.good());
    EXPECT_EQ(in.get(), 0x55);
  }
}

TEST(Vlq, LengthAgreesWithBytesWrittenAndValuesRoundTrip) {
  std::vector<int> values;
  for (int64_t boundary = 1; boundary <= 2147483648LL; boundary <<= 7) {
    for (int64_t v = boundary - 2; v <= boundary + 1; ++v) {
      if (v >= 0 && v <= 2147483647) values.push_back(static_cast<int>(v));
    }
  }
  for (int64_t v = 0; v <= 2147483647; v += 9973) values.push_back(static_cast<int>(v));
  values.push_back(2147483647);

  unsigned char buffer[8];
  for (int value : values) {
    const unsigned written = writeVLQ(buffer, value);
    ASSERT_EQ(vlqLength(value), written) << value;
    ASSERT_EQ((buffer[written - 1] & 0x80), 0) << value;
    for (unsigned i = 0; i + 1 < written; ++i) ASSERT_NE((buffer[i] & 0x80), 0) << value;
    const unsigned char* cursor = buffer;
    ASSERT_EQ(readVLQ(cursor), value);
    ASSERT_EQ(cursor, buffer + written);
  }
}

TEST(Vlq, NegativeValuesGiveOneByteOfTheirLowBits) {
  unsigned char buffer[8] = {};
  EXPECT_EQ(writeVLQ(buffer, -1), 1u);
  EXPECT_EQ(buffer[0], 0x7F);
  EXPECT_EQ(writeVLQ(buffer, -2147483647 - 1), 1u);
  EXPECT_EQ(buffer[0], 0x00);
  EXPECT_EQ(writeVLQ(buffer, -200), 1u);
  EXPECT_EQ(buffer[0], 0x38);  // -200 = ...1 0011 1000

  std::ostringstream out(std::ios::binary);
  EXPECT_EQ(writeVLQ(out, -1), 1);
  EXPECT_EQ(out.str(), "\x7F");

  EXPECT_EQ(vlqLength(-1), 1u);
  EXPECT_EQ(vlqLength(-2147483647 - 1), 1u);
}

TEST(Vlq, ReaderTakesAnyNumberOfBytesAndWrapsIn32Bits) {
  const Bytes allOnes = {0x8F, 0xFF, 0xFF, 0xFF, 0x7F};  // 32 one bits
  const unsigned char* cursor = allOnes.data();
  EXPECT_EQ(readVLQ(cursor), -1);
  EXPECT_EQ(cursor, allOnes.data() + 5);

  const Bytes sixBytes = {0x81, 0x80, 0x80, 0x80, 0x80, 0x05};  // 2^35 + 5
  cursor = sixBytes.data();
  EXPECT_EQ(readVLQ(cursor), 5);
  EXPECT_EQ(cursor, sixBytes.data() + 6);

  std::istringstream in(asText(sixBytes), std::ios::binary);
  EXPECT_EQ(readVLQ(in), 5);
  EXPECT_TRUE(in.good());
}

TEST(Vlq, StreamEndingInsideAQuantityLeavesTheStreamFailed) {
  std::istringstream empty(std::string(), std::ios::binary);
  EXPECT_EQ(readVLQ(empty), 0);
  EXPECT_TRUE(empty.fail());

  for (const std::string& cut : {std::string("\x81"), std::string("\x81\x80"), std::string("\x87\xFF\xFF\xFF")}) {
    std::istringstream in(cut, std::ios::binary);
    EXPECT_EQ(readVLQ(in), 0);
    EXPECT_TRUE(in.fail());
    EXPECT_TRUE(in.eof());
  }

  // A complete quantity followed by a cut one: the first still reads.
  std::istringstream in(std::string("\x81\x00\x82", 3), std::ios::binary);
  EXPECT_EQ(readVLQ(in), 128);
  EXPECT_EQ(readVLQ(in), 0);
  EXPECT_TRUE(in.fail());
}

TEST(BigEndian, U32AndU64HaveTheirMostSignificantByteFirst) {
  const uint32_t pattern = writeUInt32BE(0x01020304u);
  unsigned char placed[4];
  std::memcpy(placed, &pattern, 4);
  EXPECT_EQ(Bytes(placed, placed + 4), (Bytes{0x01, 0x02, 0x03, 0x04}));

  const Bytes u32 = {0xF1, 0x02, 0x03, 0x84, 0xAA};
  EXPECT_EQ(decodeUInt32BE(u32.data()), 0xF1020384u);
  const unsigned char* cursor = u32.data();
  EXPECT_EQ(readUInt32BE(cursor), 0xF1020384u);
  EXPECT_EQ(cursor, u32.data() + 4);

  unsigned char buffer[10];
  std::memset(buffer, 0xEE, sizeof buffer);
  unsigned char* writer = buffer;
  EXPECT_EQ(writeUInt64BE(writer, 0x0102030405060708ull), 1);
  EXPECT_EQ(writer, buffer + 8);
  EXPECT_EQ(Bytes(buffer, buffer + 9), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xEE}));

  unsigned char field[8];
  EXPECT_EQ(encodeUInt64BE(field, 0xF0E0D0C0B0A09080ull), 1);
  EXPECT_EQ(Bytes(field, field + 8), (Bytes{0xF0, 0xE0, 0xD0, 0xC0, 0xB0, 0xA0, 0x90, 0x80}));

  cursor = field;
  EXPECT_EQ(readUInt64BE(cursor), 0xF0E0D0C0B0A09080ull);
  EXPECT_EQ(cursor, field + 8);
  unsigned char* mutableCursor = buffer;
  EXPECT_EQ(readUInt64BE(mutableCursor), 0x0102030405060708ull);
  EXPECT_EQ(mutableCursor, buffer + 8);
}

TEST(BigEndian, StreamReadersCountMissingBytesAsZero) {
  std::istringstream in(std::string("\x80\x00\x00\x01", 4), std::ios::binary);
  EXPECT_EQ(readInt32BE(in), -2147483647);
  EXPECT_TRUE(in.good());

  std::istringstream shortInt(std::string("\x12\x34"), std::ios::binary);
  EXPECT_EQ(readInt32BE(shortInt), 0x12340000);
  EXPECT_TRUE(shortInt.fail());

  std::istringstream floats(std::string("\x3F\x80\x00\x00\xC0\x49\x0F\xDB", 8), std::ios::binary);
  EXPECT_EQ(readFloatBE(floats), 1.0f);
  EXPECT_EQ(readFloatBE(floats), -3.14159274f);

  std::istringstream shortFloat(std::string("\xC0\x10"), std::ios::binary);
  EXPECT_EQ(readFloatBE(shortFloat), -2.25f);  // C0 10 00 00
  EXPECT_TRUE(shortFloat.fail());

  std::istringstream wide(std::string("\x01\x02\x03\x04\x05\x06\x07\x08\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE", 16),
                          std::ios::binary);
  EXPECT_EQ(readInt64BE(wide), 0x0102030405060708LL);
  EXPECT_EQ(readInt64BE(wide), -2);

  std::istringstream shortWide(std::string("\x00\x00\x00\x01\x80", 5), std::ios::binary);
  EXPECT_EQ(readInt64BE(shortWide), 0x0000000180000000LL);
  EXPECT_TRUE(shortWide.fail());
}

TEST(BigEndian, NetworkToHostFloatsConvertsBitPatternsInPlace) {
  const Bytes stored = {0x3F, 0x80, 0x00, 0x00, 0xC0, 0x49, 0x0F, 0xDB, 0x7F, 0x80, 0x00, 0x01};
  float values[4] = {0, 0, 0, 7.5f};
  std::memcpy(values, stored.data(), stored.size());
  networkToHostFloats(values, 3);
  EXPECT_EQ(values[0], 1.0f);
  EXPECT_EQ(values[1], -3.14159274f);
  uint32_t nanPattern;
  std::memcpy(&nanPattern, &values[2], 4);
  EXPECT_EQ(nanPattern, 0x7F800001u);  // a signalling NaN keeps its exact bits
  EXPECT_EQ(values[3], 7.5f);

  networkToHostFloats(values, 0);
  EXPECT_EQ(values[0], 1.0f);
}

TEST(LengthPrefixedString, LayoutIsLittleEndianLengthThenBytes) {
  std::ostringstream out(std::ios::binary);
  EXPECT_EQ(&writeString(out, "abc"), &out);
  EXPECT_EQ(asBytes(out.str()), (Bytes{0x03, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63}));

  std::ostringstream empty(std::ios::binary);
  writeString(empty, "");
  EXPECT_EQ(asBytes(empty.str()), (Bytes{0x00, 0x00, 0x00, 0x00}));

  std::ostringstream longer(std::ios::binary);
  writeString(longer, std::string(0x1234A, 'x'));
  EXPECT_EQ(asBytes(longer.str().substr(0, 5)), (Bytes{0x4A, 0x23, 0x01, 0x00, 'x'}));
  EXPECT_EQ(longer.str().size(), 4u + 0x1234A);
}

TEST(LengthPrefixedString, ReadsBackAndCutsAtTheFirstNul) {
  std::string large(200000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 26);
  std::ostringstream out(std::ios::binary);
  writeString(out, "");
  writeString(out, large);
  writeString(out, "tail");

  std::istringstream in(out.str(), std::ios::binary);
  EXPECT_EQ(readString(in), "");
  EXPECT_EQ(readString(in), large);
  EXPECT_EQ(readString(in), "tail");
  EXPECT_TRUE(in.good());

  const Bytes withNul = {0x05, 0x00, 0x00, 0x00, 'a', 'b', 0x00, 'c', 'd', 0x02, 0x00, 0x00, 0x00, 'o', 'k'};
  std::istringstream cut(asText(withNul), std::ios::binary);
  EXPECT_EQ(readString(cut), "ab");
  EXPECT_EQ(readString(cut), "ok");  // the bytes after the NUL were consumed all the same
}

TEST(LengthPrefixedString, TruncatedStreamFailsWithoutTrustingTheLength) {
  std::istringstream shortLength(std::string("\x03\x00", 2), std::ios::binary);
  EXPECT_EQ(readString(shortLength), "");
  EXPECT_TRUE(shortLength.fail());

  std::istringstream shortText(std::string("\x0A\x00\x00\x00xyz", 7), std::ios::binary);
  EXPECT_EQ(readString(shortText), "");
  EXPECT_TRUE(shortText.fail());

  // A length of 1 MiB over 200 KiB of bytes: cut inside a later piece.
  std::string partial("\x00\x00\x10\x00", 4);
  partial += std::string(200 * 1024, 'q');
  std::istringstream shortLong(partial, std::ios::binary);
  EXPECT_EQ(readString(shortLong), "");
  EXPECT_TRUE(shortLong.fail());

  // A stream claiming 4 GiB - 1 over five bytes must not allocate anything near that.
  largestAllocation = 0;
  std::istringstream huge(std::string("\xFF\xFF\xFF\xFFhello", 9), std::ios::binary);
  EXPECT_EQ(readString(huge), "");
  EXPECT_TRUE(huge.fail());
  EXPECT_LT(largestAllocation.load(), 1024u * 1024u);
}

TEST(SkipBytes, MovesPastWhatIsThereAndFailsAtTheEnd) {
  const std::string bytes = std::string(70 * 1024, 'a') + "bc";
  // Count, then the next byte; counts beyond the stream fail it.
  const std::pair<uint64_t, int> cases[] = {{0, 'a'},         {70 * 1024, 'b'},         {70 * 1024 + 2, EOF},
                                            {70 * 1024 + 3, EOF}, {0xFFFFFFFFull, EOF}, {uint64_t{1} << 40, EOF}};
  for (const auto& [count, next] : cases) {
    std::istringstream in(bytes, std::ios::binary);
    EXPECT_EQ(skipBytes(in, count), count <= bytes.size()) << count;
    EXPECT_EQ(in.fail(), count > bytes.size()) << count;
    in.clear();
    EXPECT_EQ(in.peek(), next) << count;
  }
}

TEST(FileExists, OnlyFilesThatOpenForReading) {
  namespace fs = std::filesystem;
  const fs::path dir = testfiles::tempPath("files");
  fs::create_directories(dir);
  const fs::path file = dir / "present.bin";
  std::ofstream(file, std::ios::binary) << "x";

  EXPECT_TRUE(fileExists(file.string()));
  EXPECT_FALSE(fileExists((dir / "absent.bin").string()));
  EXPECT_FALSE(fileExists(dir.string()));
  EXPECT_FALSE(fileExists(""));

  fs::remove_all(dir);
  EXPECT_FALSE(fileExists(file.string()));
}

}  // namespace
