#include "similarity/generic_container_base.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/vmtl_exception.h"
#include "tests/support/byte_builder.h"
#include "tests/support/expect_message.h"

namespace {

using Bytes = std::vector<unsigned char>;
using TableMap = GenericMap<std::string, HeapMatrix<float>, GenericHash>;

std::string asString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string written(const GenericContainerBase& container) {
  std::ostringstream out;
  container.write(out);
  return out.str();
}

// Ten buckets: "AB" and "BA" (both hash to 131) in bucket 1, "\xE9" (-23,
// taken as 4294967273) in bucket 3, and "x" (120) stored in bucket 7 instead
// of bucket 0.
Bytes tableImage() {
  ByteBuilder b;
  b.u32le(10).u32le(0);
  b.u32le(2).str("AB").matrix(1, 2, {1.0f, 2.0f}).str("BA").matrix(2, 1, {3.0f, 4.0f});
  b.u32le(0).u32le(1).str("\xE9").matrix(0, 0, {});
  b.u32le(0).u32le(0).u32le(0).u32le(1).str("x").matrix(1, 1, {5.0f}).u32le(0).u32le(0);
  return b.bytes;
}

TEST(GenericHash, SumsCharactersAsSignedBytes) {
  const GenericHash hash;
  const struct {
    std::string key;
    uint32_t expected;
  } cases[] = {{"AB", 131}, {"", 0}, {"\xE9", 4294967273u}, {"A\xE9", 42}, {"\xFF\xFF", 4294967294u}};
  for (const auto& c : cases) EXPECT_EQ(hash(c.key), c.expected) << c.key;
  EXPECT_EQ(hash(7u), 7u);
}

TEST(GenericMap, EmptyMapWritesTenEmptyBuckets) {
  ByteBuilder b;
  b.u32le(10);
  for (int i = 0; i < 10; ++i) b.u32le(0);
  EXPECT_EQ(written(TableMap(10)), asString(b.bytes));
}

TEST(GenericMap, LooksUpByBucketWithoutRehashing) {
  TableMap map(10);
  std::istringstream in(asString(tableImage()));
  map.read(in);
  EXPECT_EQ(written(map), asString(tableImage()));
  EXPECT_EQ(map["AB"].getRow(0)[1], 2.0f);
  EXPECT_EQ(map["BA"].rows, 2u);
  EXPECT_EQ(map["BA"](1, 0), 4.0f);
  EXPECT_EQ(map["\xE9"].rows, 0u);
  const GenericVector<std::string> keys = map.keys();
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.end()), (std::vector<std::string>{"AB", "BA", "\xE9", "x"}));
  for (const char* absent : {"x", "y", "ab"})
    expectThrowMessage<StandardException>([&] { map[absent]; }, "GenericMap::operator[]() key not found in map");

  // Fewer buckets than the map hashes into: "E" (69) would be in bucket 9.
  std::istringstream few(asString(ByteBuilder().u32le(2).u32le(0).u32le(1).str("E").matrix(0, 0, {}).bytes));
  map.read(few);
  expectThrowMessage<StandardException>([&] { map["E"]; }, "GenericMap::operator[]() key not found in map");
}

TEST(GenericArray, ReadsCountedOrFixedLength) {
  GenericArray<char> array;
  std::istringstream fixed("abcdefg");
  array.read(fixed, 5);
  EXPECT_EQ(std::string(array.data(), array.size()), "abcde");
  EXPECT_EQ(fixed.get(), 'f');

  const Bytes counted = ByteBuilder().u32le(3).text("xyz").bytes;
  std::istringstream in(asString(counted));
  array.read(in);
  EXPECT_EQ(std::string(array.data(), array.size()), "xyz");
  EXPECT_EQ(written(array), asString(counted));
}

TEST(GenericVector, ReadsStringsAndGrowsByDoublingPlusOne) {
  const Bytes strings = ByteBuilder().u32le(2).str("ab").str("").bytes;
  GenericVector<std::string> vector;
  std::istringstream in(asString(strings));
  vector.read(in);
  ASSERT_EQ(vector.size(), 2u);
  EXPECT_EQ(vector[0], "ab");
  EXPECT_EQ(vector.capacity(), 2u);
  EXPECT_EQ(written(vector), asString(strings));

  GenericVector<std::string> grown;
  std::vector<unsigned> capacities;
  for (int i = 0; i < 4; ++i) {
    grown.pushBack("k");
    capacities.push_back(grown.capacity());
  }
  EXPECT_EQ(capacities, (std::vector<unsigned>{1, 3, 3, 7}));
}

// Every cut of a valid image, and a count far beyond the data, fails without
// touching what the container held.
TEST(GenericContainers, TruncatedStreamsFailAndChangeNothing) {
  const std::vector<std::pair<Bytes, std::function<std::unique_ptr<GenericContainerBase>()>>> images = {
      {tableImage(), [] { return std::make_unique<TableMap>(10); }},
      {ByteBuilder().u32le(3).text("xyz").bytes, [] { return std::make_unique<GenericArray<char>>(); }},
      {ByteBuilder().u32le(2).str("ab").str("c").bytes, [] { return std::make_unique<GenericVector<std::string>>(); }},
  };
  for (const auto& [image, make] : images) {
    const std::unique_ptr<GenericContainerBase> container = make();
    std::istringstream whole(asString(image));
    container->read(whole);
    Bytes forged = image;
    forged[3] = 0x7F;
    for (size_t cut = 0; cut <= image.size(); ++cut) {
      const Bytes& source = cut == image.size() ? forged : image;
      std::istringstream in(asString(Bytes(source.begin(), source.begin() + static_cast<long>(cut))));
      try {
        container->read(in);
        ADD_FAILURE() << "a cut at " << cut << " was accepted";
      } catch (const StandardException& e) {
        EXPECT_NE(std::string(e.what()).find("::read() unexpected end of stream"), std::string::npos);
      } catch (const VMTLException&) {
      }
      EXPECT_EQ(written(*container), asString(image)) << cut;
    }
  }
}

}  // namespace
