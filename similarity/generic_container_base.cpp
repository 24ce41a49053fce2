#include "similarity/generic_container_base.h"

#include <istream>
#include <ostream>

GenericContainerBase::~GenericContainerBase() = default;

GenericHash::~GenericHash() = default;

uint32_t GenericHash::operator()(const std::string& key) const {
  uint32_t sum = 0;
  // Explicitly signed: the sum must not depend on whether the platform's char is.
  for (char c : key) sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  return sum;
}

namespace generic_io {

void failEndOfStream(const char* origin) { throw StandardException(std::string(origin) + " unexpected end of stream"); }

void Codec<std::string>::read(std::istream& in, std::string& text, const char* origin) {
  text = readString(in);
  if (!in) failEndOfStream(origin);
}

}  // namespace generic_io

void GenericArray<char>::read(std::istream& in, uint32_t n) {
  if (n == 0 && !readUInt32LE(in, n)) generic_io::failEndOfStream("GenericArray::read()");
  readExactly(in, n);
}

void GenericArray<char>::readExactly(std::istream& in, uint32_t n) {
  std::vector<unsigned char> fresh;
  if (!readBytes(in, n, fresh)) generic_io::failEndOfStream("GenericArray::read()");
  bytes.swap(fresh);
}

void GenericArray<char>::write(std::ostream& out) const {
  writeUInt32LE(out, size());
  out.write(data(), static_cast<std::streamsize>(bytes.size()));
}
