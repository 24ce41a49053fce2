// The record a build of kivet-session keeps in its session's lock file, read
// back by the next build: any bytes read as a record or as none, without an
// exception, and a record is read only from exactly the text it writes, so
// that nothing but a record of this program's is ever acted on.

#include <cstdint>
#include <optional>
#include <string>

#include "examples/save_record.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<SaveRecord> record = SaveRecord::parse(text);
    if (record && record->text() != text) kivet_fuzz::finding("a record reads from another text than it writes");
  });
}
