// The song metadata file beside a session: any file reads into a store, as a
// metadata file or else as a tab list, without an exception and whether or
// not records are merged into the same ids. A store read from a metadata file
// writes and reads back to the same records: exactly when no text holds an
// angle bracket (the writer puts a blank for each), and after one write and
// read in every case. The reader takes a path: the input goes to a file of
// this process, reused for every input.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "session/metadata_store.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The reader's rule: the first line, without a carriage return before its
// line feed, is the start mark.
bool isMetadataFile(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const char* lineEnd = static_cast<const char*>(std::memchr(text, '\n', size));
  std::string first(text, lineEnd ? static_cast<size_t>(lineEnd - text) : size);
  if (!first.empty() && first.back() == '\r') first.pop_back();
  return first == "<METAFILE>";
}

std::vector<uint64_t> idsOf(const MetadataStore& store) {
  std::vector<uint64_t> ids;
  for (const auto& entry : store.all()) ids.push_back(entry.first);
  return ids;
}

bool holdsBrackets(const MetadataStore& store) {
  for (const auto& entry : store.all())
    for (const auto& [tag, value] : entry.second.tags)
      if (tag.find_first_of("<>") != std::string::npos || value.find_first_of("<>") != std::string::npos) return true;
  return false;
}

void readInto(MetadataStore& store, const std::string& path, bool merge) {
  if (store.read(path.c_str(), merge) != store.size()) kivet_fuzz::finding("read counts other records than it holds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = kivet_fuzz::fileOfThisRun("metadata_fuzz", "input");
  static const std::string copy = kivet_fuzz::fileOfThisRun("metadata_fuzz", "copy");
  return kivet_fuzz::check(size, [&] {
    kivet_fuzz::writeInputFile(input, data, size);
    MetadataStore first;
    readInto(first, input, false);
    {
      MetadataStore merged;
      readInto(merged, input, true);
      if (idsOf(merged) != idsOf(first)) kivet_fuzz::finding("merging reads other ids");
    }
    if (!isMetadataFile(data, size)) return;

    first.write(copy.c_str());
    MetadataStore second;
    readInto(second, copy, false);
    if (idsOf(second) != idsOf(first)) kivet_fuzz::finding("written records read back under other ids");
    if (!holdsBrackets(first) && second.all() != first.all())
      kivet_fuzz::finding("written records read back different");
    first.clear();

    second.write(copy.c_str());
    MetadataStore third;
    readInto(third, copy, false);
    if (third.all() != second.all()) kivet_fuzz::finding("records read back change on a second write");
  });
}
