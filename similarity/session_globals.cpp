#include "similarity/session_globals.h"

#include <fstream>
#include <istream>
#include <limits>
#include <ostream>
#include <utility>

namespace {

const char kXml[] = "XML";
const char kTree[] = "TRE";
const char kLinearization[] = "LLT";
const char kNormalization[] = "NRM";
const char kEnd[] = "END";
constexpr unsigned kTagLength = 3;
// Every table map the globals make hashes into this many buckets.
constexpr unsigned kTableBuckets = 10;

bool isTextTag(const std::string& tag) { return tag == kXml || tag == kTree; }
bool isTableTag(const std::string& tag) { return tag == kLinearization || tag == kNormalization; }

// The empty container of a tag the block format knows; null for any other.
std::unique_ptr<GenericContainerBase> containerFor(const std::string& tag) {
  if (isTextTag(tag)) return std::make_unique<GenericArray<char>>();
  if (isTableTag(tag)) return std::make_unique<SessionGlobals::TableMap>(kTableBuckets);
  return nullptr;
}

[[noreturn]] void failEndOfStream() { generic_io::failEndOfStream("SessionGlobals::read()"); }

}  // namespace

SessionGlobals::SessionGlobals() = default;

SessionGlobals::~SessionGlobals() = default;

void SessionGlobals::write(std::ostream& out) const {
  out.put(0);
  for (const auto& [tag, container] : blocks) {
    out.write(tag.data(), kTagLength);
    container->write(out);
  }
  out.write(kEnd, kTagLength);
}

void SessionGlobals::read(std::istream& in) {
  const std::istream::int_type first = in.peek();
  if (first == std::istream::traits_type::eof()) failEndOfStream();
  if (first != 0) {
    auto text = std::make_unique<GenericArray<char>>();
    text->read(in);
    blocks[kXml] = std::move(text);
    return;
  }
  in.get();
  // Nothing is replaced until the whole block has been read.
  std::map<std::string, std::unique_ptr<GenericContainerBase>> fresh;
  for (;;) {
    char letters[kTagLength];
    if (!in.read(letters, kTagLength)) failEndOfStream();
    const std::string tag(letters, kTagLength);
    if (tag == kEnd) break;
    std::unique_ptr<GenericContainerBase> container = containerFor(tag);
    if (!container) continue;
    container->read(in);
    fresh[tag] = std::move(container);
  }
  for (auto& [tag, container] : fresh) blocks[tag] = std::move(container);
}

void SessionGlobals::setTextFromFile(const std::string& tag, const std::string& path) {
  // A block of another tag would be written without the length its reader
  // needs to pass over it.
  if (!isTextTag(tag)) throw StandardException("SessionGlobals::setTextFromFile() not a text block: " + tag);
  std::ifstream file(path, std::ios::in | std::ios::binary);
  const std::streamoff size = file ? static_cast<std::streamoff>(file.seekg(0, std::ios::end).tellg()) : -1;
  if (!file || size < 0 || size > std::numeric_limits<uint32_t>::max())
    throw StandardException("SessionGlobals::setTextFromFile() could not open file: " + path);
  file.seekg(0, std::ios::beg);
  auto text = std::make_unique<GenericArray<char>>();
  text->readExactly(file, static_cast<uint32_t>(size));
  blocks[tag] = std::move(text);
}

const char* SessionGlobals::getText(const std::string& tag, uint32_t& size) const {
  const auto found = blocks.find(tag);
  const auto* text = found == blocks.end() ? nullptr : dynamic_cast<const GenericArray<char>*>(found->second.get());
  size = text ? text->size() : 0;
  return text ? text->data() : nullptr;
}

bool SessionGlobals::hasLLT() const { return tables(kLinearization) != nullptr; }

bool SessionGlobals::hasNRM() const { return tables(kNormalization) != nullptr; }

const SessionGlobals::TableMap* SessionGlobals::tables(const char* tag) const {
  const auto found = blocks.find(tag);
  return found == blocks.end() ? nullptr : dynamic_cast<const TableMap*>(found->second.get());
}

const HeapMatrix<float>* SessionGlobals::table(const char* tag, const std::string& name) const {
  const TableMap* map = tables(tag);
  return map ? &(*map)[name] : nullptr;
}

HeapMatrix<float>* SessionGlobals::getLinearizationTable(const std::string& name) {
  return const_cast<HeapMatrix<float>*>(table(kLinearization, name));
}

const HeapMatrix<float>* SessionGlobals::getLinearizationTable(const std::string& name) const {
  return table(kLinearization, name);
}

HeapMatrix<float>* SessionGlobals::getNormalizationTable(const std::string& name) {
  return const_cast<HeapMatrix<float>*>(table(kNormalization, name));
}

const HeapMatrix<float>* SessionGlobals::getNormalizationTable(const std::string& name) const {
  return table(kNormalization, name);
}

std::set<std::string> SessionGlobals::names(const char* tag) const {
  std::set<std::string> all;
  if (const TableMap* map = tables(tag))
    for (const std::string& name : map->keys()) all.insert(name);
  return all;
}

std::set<std::string> SessionGlobals::linearizationNames() const { return names(kLinearization); }

std::set<std::string> SessionGlobals::normalizationNames() const { return names(kNormalization); }
