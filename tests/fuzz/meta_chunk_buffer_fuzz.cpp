// META chunks read from a buffer of known length: the chunk either parses
// within the buffer or fails with the std::string "readMetaStream: corrupted
// stream" (a buffer without the magic reads as no chunk). A chunk that parses
// writes back into a chunk that parses to the same frames.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "signature/meta_vec.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool sameFrames(const CMetaVec& a, const CMetaVec& b) {
  if (a.size() != b.size()) return false;
  for (unsigned i = 0; i < a.size(); ++i) {
    const SMetaFrame& x = *a.frame(static_cast<int>(i));
    const SMetaFrame& y = *b.frame(static_cast<int>(i));
    if (x.tagLen != y.tagLen || x.dataLen != y.dataLen || std::memcmp(x.tag, y.tag, x.tagLen) != 0 ||
        (x.dataLen != 0 && std::memcmp(x.data, y.data, x.dataLen) != 0))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    // A length of 0 asks the reader to take the end from the chunk's own
    // payload length, which only a caller holding the whole chunk may do.
    if (size == 0) return;
    CMetaVec frames;
    unsigned consumed;
    try {
      consumed = frames.readMetaStream(data, static_cast<unsigned>(size));
    } catch (const std::string&) {
      return;
    }
    if (consumed > size) kivet_fuzz::finding("META chunk reader consumed more than its buffer");
    if (frames.size() == 0) return;

    std::vector<unsigned char> chunk(frames.getMetaSize());
    const unsigned written = frames.writeMeta(chunk.data());
    if (written != chunk.size()) kivet_fuzz::finding("META chunk written with another size than announced");
    CMetaVec again;
    try {
      if (again.readMetaStream(chunk.data(), written) != written) kivet_fuzz::finding("written META chunk not read whole");
    } catch (const std::string&) {
      kivet_fuzz::finding("written META chunk does not read back");
    }
    if (!sameFrames(frames, again)) kivet_fuzz::finding("META chunk does not read back to the same frames");
  });
}
