#pragma once
// Byte-level helpers that every stored format uses: variable-length quantities
// (VLQ), big-endian integers and floats, length-prefixed strings, and a file
// existence test.
//
// Buffer functions work through a cursor, a pointer to the current byte that
// they advance; they trust the caller to have checked the remaining length.
// Stream functions never throw: a short read leaves the stream failed.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// VLQ: 7-bit groups, most significant first, every byte but the last with 0x80
// set. Values are 0 .. 2^31-1, at most 5 bytes. A negative value is outside the
// format: the writers emit its low 7 bits as one byte and vlqLength gives 1.

// Writes the VLQ of value at buffer; returns the number of bytes written.
unsigned writeVLQ(unsigned char* buffer, int value);
// Writes the VLQ of value onto out byte by byte; returns the number of bytes.
int writeVLQ(std::ostream& out, int value);
// Number of bytes of the VLQ of value.
unsigned vlqLength(int value);
// Reads a VLQ at cursor and advances past its last byte. The value wraps in 32 bits.
int readVLQ(const unsigned char*& cursor);
int readVLQ(unsigned char*& cursor);
// Reads a VLQ from in. When the stream ends before the quantity is complete the
// stream is left failed and the result is 0.
int readVLQ(std::istream& in);

// The big-endian byte pattern of value, for the caller to place (memcpy) into a buffer.
uint32_t writeUInt32BE(uint32_t value);
// Reads 4 bytes big-endian at cursor and advances 4.
uint32_t readUInt32BE(const unsigned char*& cursor);
uint32_t readUInt32BE(unsigned char*& cursor);
// Reads 4 bytes big-endian at bytes.
uint32_t decodeUInt32BE(const unsigned char* bytes);
// Writes value as 8 bytes, high word first, each word big-endian; advances 8. Returns 1.
int writeUInt64BE(unsigned char*& cursor, uint64_t value);
// The same into a fixed 8-byte field. Returns 1.
int encodeUInt64BE(unsigned char* destination, uint64_t value);
// Reads 8 bytes, high word first, and advances 8.
uint64_t readUInt64BE(const unsigned char*& cursor);
uint64_t readUInt64BE(unsigned char*& cursor);

// Stream readers: bytes that could not be read count as 0 (the stream is failed).
int32_t readInt32BE(std::istream& in);
float readFloatBE(std::istream& in);
int64_t readInt64BE(std::istream& in);

// Turns count big-endian float patterns into host floats in place.
void networkToHostFloats(float* values, uint32_t count);

// The session-side formats (session globals, feature-database image, session
// file) store every integer as 4 bytes little-endian.
std::ostream& writeUInt32LE(std::ostream& out, uint32_t value);
// False (the stream failed, value untouched) when fewer than 4 bytes arrive.
bool readUInt32LE(std::istream& in, uint32_t& value);

// A string is stored as a u32 length, little-endian, then that many bytes
// without a terminator.
std::ostream& writeString(std::ostream& out, const std::string& text);
// Reads the string form above; the text is cut at its first NUL byte. A stream
// that ends before the length or the bytes are complete is left failed and the
// result is empty. The stored length is never trusted beyond what the stream delivers.
std::string readString(std::istream& in);

// Reads count bytes from in into bytes. The buffer grows in bounded pieces only
// as the stream delivers them, so a count taken from stored data costs at most
// one piece beyond what is really there. False (the stream failed) when the
// stream ends first.
bool readBytes(std::istream& in, uint64_t count, std::vector<unsigned char>& bytes);
// Moves count bytes forward in in, reading past them without storing them, so
// that a count taken from stored data costs no memory and no more time than
// the bytes really there. False (the stream failed) when the stream ends first.
bool skipBytes(std::istream& in, uint64_t count);

// True when path can be opened as an input file (it is opened and closed at
// once). A directory is not a file.
bool fileExists(const std::string& path);
