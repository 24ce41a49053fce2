#include "platform/byte_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

using namespace platform;

// Network order is big-endian: the bytes in memory, most significant first.
TEST(ByteOrder, NetworkOrderIsBigEndianInMemory) {
  const uint32_t n32 = hostToNetwork32(0x01020304u);
  unsigned char bytes32[4];
  std::memcpy(bytes32, &n32, 4);
  EXPECT_EQ(bytes32[0], 0x01);
  EXPECT_EQ(bytes32[1], 0x02);
  EXPECT_EQ(bytes32[2], 0x03);
  EXPECT_EQ(bytes32[3], 0x04);

  const uint16_t n16 = hostToNetwork16(0xA1B2u);
  unsigned char bytes16[2];
  std::memcpy(bytes16, &n16, 2);
  EXPECT_EQ(bytes16[0], 0xA1);
  EXPECT_EQ(bytes16[1], 0xB2);

  const unsigned char stored32[4] = {0xFE, 0xDC, 0xBA, 0x98};
  uint32_t raw32;
  std::memcpy(&raw32, stored32, 4);
  EXPECT_EQ(networkToHost32(raw32), 0xFEDCBA98u);

  const unsigned char stored16[2] = {0x80, 0x01};
  uint16_t raw16;
  std::memcpy(&raw16, stored16, 2);
  EXPECT_EQ(networkToHost16(raw16), 0x8001u);
}

TEST(ByteOrder, ConversionsUndoEachOther) {
  for (uint32_t value : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u}) {
    EXPECT_EQ(networkToHost32(hostToNetwork32(value)), value);
    EXPECT_EQ(hostToNetwork32(networkToHost32(value)), value);
  }
  for (uint16_t value : {uint16_t{0}, uint16_t{1}, uint16_t{0x8000}, uint16_t{0xFFFF}}) {
    EXPECT_EQ(networkToHost16(hostToNetwork16(value)), value);
  }
}

}  // namespace
