// Matrix blocks ("MAT") read from a buffer, as every element type that has a
// buffer reader: a block either reads into a matrix within the given bytes or
// fails with a VMTLException. A binary block that reads is written back
// byte for byte, but for the bytes that the reader does not look at: the
// fourth byte of the magic and the element tag, which the writer spells its
// own way.

#include <cstdint>
#include <cstring>
#include <vector>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "metadata/sources/vmtl/matrix_block.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

template <typename T>
void readAs(const uint8_t* data, size_t size) {
  HeapMatrix<T> matrix;
  unsigned consumed;
  try {
    consumed = matrix.readFromBuffer(data, static_cast<unsigned>(size));
  } catch (const VMTLException&) {
    return;
  }
  if (consumed > size) kivet_fuzz::finding("matrix block reader consumed more than its buffer");
  if (std::memcmp(data + 8, "bin\n", 4) != 0) return;
  if (consumed != size) kivet_fuzz::finding("binary matrix block read without filling its buffer");
  std::vector<unsigned char> again(size);
  const unsigned written = matrix.writeToBuffer(again.data(), static_cast<unsigned>(again.size()), "bin");
  if (written != size || std::memcmp(again.data(), data, 3) != 0 ||
      std::memcmp(again.data() + 8, data + 8, size - 8) != 0)
    kivet_fuzz::finding("binary matrix block does not write back as read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    readAs<float>(data, size);
    readAs<unsigned char>(data, size);
    readAs<unsigned int>(data, size);
  });
}
