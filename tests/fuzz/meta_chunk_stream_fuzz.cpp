// The frames of a META chunk read from a stream, as the chunk reader does it:
// after the magic, the payload length is read and the frames behind it. The
// stream reader throws nothing: it reads the whole payload or reports 0.

#include <cstdint>
#include <sstream>
#include <string>

#include "metadata/sources/common/byte_stream.h"
#include "signature/meta_vec.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    char magic[4];
    if (!in.read(magic, 4)) return;
    const uint32_t payload = static_cast<uint32_t>(readVLQ(in));
    if (!in) return;
    CMetaVec frames;
    const unsigned consumed = frames.readMeta(in, payload);
    if (consumed != 0 && consumed != payload) kivet_fuzz::finding("META frames read to another length than the payload");
    if (consumed > size) kivet_fuzz::finding("META frames read beyond the stream");
  });
}
