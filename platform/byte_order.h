#pragma once
// Host/network byte-order conversion for 16- and 32-bit values. Stored formats
// keep their numbers big-endian; every conversion of the library goes through
// these four calls.

#include <cstdint>

namespace platform {

uint32_t hostToNetwork32(uint32_t value);
uint16_t hostToNetwork16(uint16_t value);
uint32_t networkToHost32(uint32_t value);
uint16_t networkToHost16(uint16_t value);

}  // namespace platform
