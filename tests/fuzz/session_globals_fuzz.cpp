// The session globals block read into fresh globals. A block either reads or
// fails with a StandardException (a block or container cut short) or the
// matrix reader's VMTLException. Globals that were read write a block that
// reads back into globals writing the very same bytes, and their table
// accessors answer for every name they list.

#include <cstdint>
#include <sstream>
#include <string>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/session_globals.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool read(SessionGlobals& globals, const std::string& bytes) {
  std::istringstream in(bytes);
  try {
    globals.read(in);
    return true;
  } catch (const StandardException&) {
  } catch (const VMTLException&) {
  }
  return false;
}

std::string written(const SessionGlobals& globals) {
  std::ostringstream out;
  globals.write(out);
  return out.str();
}

// A name listed by its map may still be out of reach of the lookup: the
// stream decides which bucket holds it.
void lookUpEveryName(const SessionGlobals& globals) {
  try {
    for (const std::string& name : globals.linearizationNames()) globals.getLinearizationTable(name);
  } catch (const StandardException&) {
  }
  try {
    for (const std::string& name : globals.normalizationNames()) globals.getNormalizationTable(name);
  } catch (const StandardException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    SessionGlobals globals;
    if (!read(globals, std::string(reinterpret_cast<const char*>(data), size))) return;
    lookUpEveryName(globals);
    const std::string block = written(globals);
    SessionGlobals again;
    if (!read(again, block)) kivet_fuzz::finding("written globals do not read back");
    if (written(again) != block) kivet_fuzz::finding("globals read back write other bytes");
  });
}
