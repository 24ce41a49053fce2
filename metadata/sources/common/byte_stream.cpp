#include "metadata/sources/common/byte_stream.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <system_error>

#include "platform/byte_order.h"

namespace {

// Collects the 7-bit groups of value with the most significant group in the
// low byte, each carrying 0x80 but the least significant one, so that emitting
// from the low byte upwards while the byte just emitted has 0x80 set writes the
// quantity in stored order. Five groups need 40 bits, hence the 64-bit register.
// A negative value stops after its first group.
uint64_t vlqRegister(int value) {
  uint64_t reg = static_cast<uint64_t>(value & 0x7F);
  while ((value >>= 7) > 0) {
    reg <<= 8;
    reg |= 0x80u | static_cast<uint64_t>(value & 0x7F);
  }
  return reg;
}

// Counts from stored data are read in pieces of this size, so that a count
// larger than what the stream holds costs at most one piece beyond the bytes
// actually there.
constexpr std::size_t kReadPiece = 64 * 1024;

}  // namespace

unsigned writeVLQ(unsigned char* buffer, int value) {
  if (value >= 0 && value < 0x80) {
    buffer[0] = static_cast<unsigned char>(value);
    return 1;
  }
  uint64_t reg = vlqRegister(value);
  unsigned written = 0;
  for (;;) {
    unsigned char byte = static_cast<unsigned char>(reg & 0xFF);
    buffer[written++] = byte;
    if ((byte & 0x80) == 0) return written;
    reg >>= 8;
  }
}

int writeVLQ(std::ostream& out, int value) {
  uint64_t reg = vlqRegister(value);
  int written = 0;
  for (;;) {
    unsigned char byte = static_cast<unsigned char>(reg & 0xFF);
    out.put(static_cast<char>(byte));
    ++written;
    if ((byte & 0x80) == 0) return written;
    reg >>= 8;
  }
}

unsigned vlqLength(int value) {
  if (value <= 0) return 1;
  unsigned length = 0;
  for (; value > 0; value >>= 7) ++length;
  return length;
}

int readVLQ(const unsigned char*& cursor) {
  uint32_t value = *cursor++;
  if (value & 0x80) {
    value &= 0x7F;
    unsigned char byte;
    do {
      byte = *cursor++;
      value = (value << 7) + (byte & 0x7Fu);
    } while (byte & 0x80);
  }
  return static_cast<int>(value);
}

int readVLQ(unsigned char*& cursor) {
  const unsigned char* reader = cursor;
  int value = readVLQ(reader);
  cursor += reader - cursor;
  return value;
}

int readVLQ(std::istream& in) {
  std::istream::int_type next = in.get();
  if (next == std::istream::traits_type::eof()) return 0;
  uint32_t value = static_cast<unsigned char>(next);
  if ((value & 0x80) == 0) return static_cast<int>(value);
  value &= 0x7F;
  for (;;) {
    next = in.get();
    // A quantity cut short is no value at all; the failed stream tells the caller.
    if (next == std::istream::traits_type::eof()) return 0;
    unsigned char byte = static_cast<unsigned char>(next);
    value = (value << 7) + (byte & 0x7Fu);
    if ((byte & 0x80) == 0) return static_cast<int>(value);
  }
}

uint32_t writeUInt32BE(uint32_t value) { return platform::hostToNetwork32(value); }

uint32_t decodeUInt32BE(const unsigned char* bytes) {
  uint32_t stored;
  std::memcpy(&stored, bytes, 4);
  return platform::networkToHost32(stored);
}

uint32_t readUInt32BE(const unsigned char*& cursor) {
  uint32_t value = decodeUInt32BE(cursor);
  cursor += 4;
  return value;
}

uint32_t readUInt32BE(unsigned char*& cursor) {
  uint32_t value = decodeUInt32BE(cursor);
  cursor += 4;
  return value;
}

int encodeUInt64BE(unsigned char* destination, uint64_t value) {
  uint32_t high = writeUInt32BE(static_cast<uint32_t>(value >> 32));
  uint32_t low = writeUInt32BE(static_cast<uint32_t>(value));
  std::memcpy(destination, &high, 4);
  std::memcpy(destination + 4, &low, 4);
  return 1;
}

int writeUInt64BE(unsigned char*& cursor, uint64_t value) {
  encodeUInt64BE(cursor, value);
  cursor += 8;
  return 1;
}

uint64_t readUInt64BE(const unsigned char*& cursor) {
  uint64_t high = readUInt32BE(cursor);
  uint64_t low = readUInt32BE(cursor);
  return (high << 32) | low;
}

uint64_t readUInt64BE(unsigned char*& cursor) {
  const unsigned char* reader = cursor;
  uint64_t value = readUInt64BE(reader);
  cursor += 8;
  return value;
}

int32_t readInt32BE(std::istream& in) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  in.read(reinterpret_cast<char*>(bytes), 4);
  return static_cast<int32_t>(decodeUInt32BE(bytes));
}

float readFloatBE(std::istream& in) {
  uint32_t pattern = static_cast<uint32_t>(readInt32BE(in));
  float value;
  std::memcpy(&value, &pattern, 4);
  return value;
}

int64_t readInt64BE(std::istream& in) {
  uint64_t high = static_cast<uint32_t>(readInt32BE(in));
  uint64_t low = static_cast<uint32_t>(readInt32BE(in));
  return static_cast<int64_t>((high << 32) | low);
}

void networkToHostFloats(float* values, uint32_t count) {
  // Through the bit pattern: a stored pattern may look like a signalling NaN in
  // host order, which must not pass through a float register.
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t pattern;
    std::memcpy(&pattern, &values[i], 4);
    pattern = platform::networkToHost32(pattern);
    std::memcpy(&values[i], &pattern, 4);
  }
}

std::ostream& writeUInt32LE(std::ostream& out, uint32_t value) {
  const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                         static_cast<char>(value >> 24)};
  return out.write(bytes, 4);
}

bool readUInt32LE(std::istream& in, uint32_t& value) {
  unsigned char bytes[4];
  if (!in.read(reinterpret_cast<char*>(bytes), 4)) return false;
  value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
          static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return true;
}

std::ostream& writeString(std::ostream& out, const std::string& text) {
  writeUInt32LE(out, static_cast<uint32_t>(text.size()));
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return out;
}

bool readBytes(std::istream& in, uint64_t count, std::vector<unsigned char>& bytes) {
  bytes.clear();
  while (bytes.size() < count) {
    const std::size_t filled = bytes.size();
    const std::size_t piece = static_cast<std::size_t>(std::min<uint64_t>(count - filled, kReadPiece));
    bytes.resize(filled + piece);
    if (!in.read(reinterpret_cast<char*>(bytes.data() + filled), static_cast<std::streamsize>(piece))) return false;
  }
  return true;
}

bool skipBytes(std::istream& in, uint64_t count) {
  // Pieces keep every count within the stream size of a 32-bit target.
  while (count > 0 && in) {
    const auto piece = static_cast<std::streamsize>(std::min<uint64_t>(count, kReadPiece));
    if (in.ignore(piece).gcount() != piece) in.setstate(std::ios::failbit);
    count -= static_cast<uint64_t>(piece);
  }
  return static_cast<bool>(in);
}

std::string readString(std::istream& in) {
  uint32_t length;
  if (!readUInt32LE(in, length)) return std::string();
  std::vector<unsigned char> bytes;
  if (!readBytes(in, length, bytes)) return std::string();
  const auto nul = std::find(bytes.begin(), bytes.end(), 0);
  return std::string(bytes.begin(), nul);
}

bool fileExists(const std::string& path) {
  // A directory opens as an input stream on some systems but never on others;
  // it is not a file on any of them.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return false;
  std::ifstream file(path, std::ios::in | std::ios::binary);
  return file.is_open();
}
