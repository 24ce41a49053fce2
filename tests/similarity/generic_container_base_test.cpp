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

using TableMap = GenericMap<std::string, HeapMatrix<float>, GenericHash>;
const char kNotFound[] = "GenericMap::operator[]() key not found in map";

std::string written(const GenericContainerBase& container) {
  std::ostringstream out;
  container.write(out);
  return out.str();
}

// Ten buckets: "AB" and "BA" (both 131) in bucket 1, "\xE9" (-23, taken as
// 4294967273) in bucket 3, and "x" (120) in bucket 7 instead of bucket 0.
std::string tableImage() {
  ByteBuilder b;
  b.u32le(10).u32le(0).u32le(2).str("AB").matrix(1, 2, {1.0f, 2.0f}).str("BA").matrix(2, 1, {3.0f, 4.0f});
  b.u32le(0).u32le(1).str("\xE9").matrix(0, 0, {}).u32le(0).u32le(0).u32le(0);
  return b.u32le(1).str("x").matrix(1, 1, {5.0f}).u32le(0).u32le(0).image();
}

TEST(GenericHash, SumsCharactersAsSignedBytes) {
  const GenericHash hash;
  const std::pair<std::string, uint32_t> cases[] = {{"AB", 131}, {"", 0}, {"\xE9", 4294967273u}, {"A\xE9", 42}};
  for (const auto& [key, expected] : cases) EXPECT_EQ(hash(key), expected) << key;
  EXPECT_EQ(hash(7u), 7u);
}

TEST(GenericMap, LooksUpByBucketWithoutRehashing) {
  ByteBuilder empty;
  for (int i = 0; i < 11; ++i) empty.u32le(i == 0 ? 10 : 0);
  EXPECT_EQ(written(TableMap(10)), empty.image());

  TableMap map(10);
  std::istringstream in(tableImage());
  map.read(in);
  EXPECT_EQ(map["AB"](0, 1), 2.0f);
  EXPECT_EQ(map["BA"](1, 0), 4.0f);
  EXPECT_EQ(map["\xE9"].rows, 0u);
  const GenericVector<std::string> keys = map.keys();
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.end()), (std::vector<std::string>{"AB", "BA", "\xE9", "x"}));
  // "x" was stored in another bucket than its own; "E" (69, bucket 9) in a map read with two buckets.
  expectThrowMessage<StandardException>([&] { map["x"]; }, kNotFound);
  std::istringstream few(ByteBuilder().u32le(2).u32le(0).u32le(1).str("E").matrix(0, 0, {}).image());
  map.read(few);
  expectThrowMessage<StandardException>([&] { map["E"]; }, kNotFound);
}

// Each image reads and writes back byte for byte; every cut of it, and a
// count far beyond the data, fails without touching what the container held.
TEST(GenericContainers, ReadWriteAndEveryTruncation) {
  GenericArray<char> array;
  std::istringstream counted("abcdefg");
  array.read(counted, 5);  // exactly 5 bytes, no count
  EXPECT_EQ(std::string(array.data(), array.size()) + char(counted.get()), "abcdef");

  const std::pair<std::string, std::function<std::unique_ptr<GenericContainerBase>()>> images[] = {
      {tableImage(), [] { return std::make_unique<TableMap>(10); }},
      {ByteBuilder().u32le(3).text("xyz").image(), [] { return std::make_unique<GenericArray<char>>(); }},
      {ByteBuilder().u32le(2).str("ab").str("").image(), [] { return std::make_unique<GenericVector<std::string>>(); }},
  };
  for (const auto& [image, make] : images) {
    const std::unique_ptr<GenericContainerBase> container = make();
    std::istringstream whole(image);
    container->read(whole);
    EXPECT_EQ(written(*container), image);
    std::string forged = image;
    forged[3] = 0x7F;
    for (size_t cut = 0; cut <= image.size(); ++cut) {
      std::istringstream in(cut == image.size() ? forged : image.substr(0, cut));
      try {
        container->read(in);
        ADD_FAILURE() << "a cut at " << cut << " was accepted";
      } catch (const StandardException& e) {
        EXPECT_NE(std::string(e.what()).find("::read() unexpected end of stream"), std::string::npos);
      } catch (const VMTLException&) {
      }
      EXPECT_EQ(written(*container), image) << cut;
    }
  }
}

}  // namespace
