#include "platform/byte_order.h"

#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace platform {

#ifdef _WIN32

uint32_t hostToNetwork32(uint32_t value) { return htonl(value); }
uint16_t hostToNetwork16(uint16_t value) { return htons(value); }
uint32_t networkToHost32(uint32_t value) { return ntohl(value); }
uint16_t networkToHost16(uint16_t value) { return ntohs(value); }

#else

namespace {

// Reading the bytes through memory rather than testing the host order keeps the
// conversion right on either kind of host; compilers reduce it to one bswap.
uint32_t toBigEndian32(uint32_t value) {
  unsigned char bytes[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  uint32_t out;
  std::memcpy(&out, bytes, 4);
  return out;
}

uint16_t toBigEndian16(uint16_t value) {
  unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  uint16_t out;
  std::memcpy(&out, bytes, 2);
  return out;
}

}  // namespace

// The conversion is its own inverse, in either direction.
uint32_t hostToNetwork32(uint32_t value) { return toBigEndian32(value); }
uint16_t hostToNetwork16(uint16_t value) { return toBigEndian16(value); }
uint32_t networkToHost32(uint32_t value) { return toBigEndian32(value); }
uint16_t networkToHost16(uint16_t value) { return toBigEndian16(value); }

#endif

}  // namespace platform
