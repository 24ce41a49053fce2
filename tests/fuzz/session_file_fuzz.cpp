// A session file loaded through the session store. Loading either succeeds or
// fails with a StandardException (the store's failures, a corrupted image,
// the passes' table errors) or the vector library's VMTLException (a pass
// meeting a length it cannot use). A store that loads without corruption
// saves behind a header, loads back without corruption and then saves the
// very same bytes. The store takes a path: the input goes to a file of this
// process, reused for every input.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "session/session.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool load(Session& session, const std::string& path) {
  try {
    session.load(path, "");
    return true;
  } catch (const StandardException&) {
  } catch (const VMTLException&) {
  }
  return false;
}

// The body behind a header without tag entries; the file's bytes.
std::string save(Session& session, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  writeUInt32LE(writeString(out, "SES"), 0);
  session.save(out, nullptr);
  out.close();
  if (out.fail()) kivet_fuzz::finding("cannot write the saved session");
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = kivet_fuzz::fileOfThisRun("session_file_fuzz", "input");
  static const std::string saved = kivet_fuzz::fileOfThisRun("session_file_fuzz", "saved");
  return kivet_fuzz::check(size, [&] {
    kivet_fuzz::writeInputFile(input, data, size);
    Session first;
    if (!load(first, input)) return;
    const std::string bytes = save(first, saved);
    Session second;
    if (!load(second, saved)) kivet_fuzz::finding("saved session does not load back whole");
    if (save(second, saved) != bytes) kivet_fuzz::finding("session loaded back saves other bytes");
  });
}
