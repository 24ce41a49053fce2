// Matrix blocks ("MAT") read from a stream (float only): a block either reads
// into a matrix, consuming no more than the stream holds, or fails with a
// VMTLException. A binary block that reads is written back byte for byte,
// but for the bytes that the reader does not look at: the fourth byte of the
// magic and the element tag.

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "metadata/sources/vmtl/matrix_block.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    HeapMatrix<float> matrix;
    unsigned consumed;
    try {
      consumed = matrix.read(in);
    } catch (const VMTLException&) {
      return;
    }
    if (consumed > size) kivet_fuzz::finding("matrix block reader consumed more than its stream");
    if (std::memcmp(data + 8, "bin\n", 4) != 0) return;
    std::ostringstream out;
    matrix.write(out, "bin");
    const std::string again = out.str();
    if (again.size() != consumed || std::memcmp(again.data(), data, 3) != 0 ||
        std::memcmp(again.data() + 8, data + 8, consumed - 8) != 0)
      kivet_fuzz::finding("binary matrix block does not write back as read");
  });
}
