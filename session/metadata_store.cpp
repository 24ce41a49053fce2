#include "session/metadata_store.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <iterator>
#include <locale>
#include <utility>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "signature/audio_sign_multi.h"
#include "signature/meta_vec.h"

namespace {

constexpr const char* kArtistTag = "TPE1";
constexpr const char* kTitleTag = "TIT2";
constexpr const char* kFileNameTag = "FILENAME";
// Frames of a signature that carry numbers or streams, not texts about the
// song: its ids, its chunk-format signature, its time value, its features.
const char* const kBinaryTags[] = {"Tuid", "Cuid", "dsig", "TIME", "FeatObj"};
// The texts every song has, which the session's readers rely on.
const char* const kSongTexts[] = {kTitleTag, kArtistTag, "TLEN", kFileNameTag};

constexpr const char* kFileStart = "<METAFILE>";
const std::string kIdOpen = "<TUID>";
const std::string kIdClose = "</TUID>";

std::string readConst(const std::map<std::string, std::string>& tags, const std::string& tag) {
  const auto entry = tags.find(tag);
  return entry == tags.end() ? std::string() : entry->second;
}

template <size_t N>
bool isOneOf(const std::string& tag, const char* const (&tags)[N]) {
  return std::find(std::begin(tags), std::end(tags), tag) != std::end(tags);
}

// Frame arrays carry a NUL after their bytes; the text ends at the first NUL
// within them all the same.
std::string frameText(const void* bytes, uint32_t length) {
  if (bytes == nullptr) return std::string();
  const char* text = static_cast<const char*>(bytes);
  return std::string(text, std::find(text, text + length, '\0'));
}

// Whether a frame's bytes hold a text, taken up to the first NUL as every
// frame is: one that starts with a NUL (an id, a number) or holds a control
// character other than white space is binary data, which would not survive
// the metadata file's lines. White space (a vertical tab or a form feed as
// much as a tab or a line end) is part of a text.
bool isText(const void* bytes, uint32_t length) {
  if (length == 0) return true;
  const std::string text = frameText(bytes, length);
  return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 && (c < '\t' || c > '\r');
  });
}

// A line up to its line feed, of any length: a record as long as its texts
// make it reads whole. A carriage return before the line feed belongs to the
// line end, as when the file is read in text mode on Windows. A NUL byte is
// an ordinary character. False at the end of the file.
bool readLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// The signed decimal number at pos as the C runtime reads one: leading white
// space skipped, an optional sign, then digits up to the first other
// character; 0 without digits, the nearest end of the 64-bit range beyond it.
int64_t signedDecimal(const std::string& text, std::size_t pos) {
  return std::strtoll(text.c_str() + pos, nullptr, 10);
}

// The text as written into the file: brackets would be read as marks and a
// line feed would end the record's line.
std::string fileText(std::string text) {
  for (char& c : text)
    if (c == '<' || c == '>' || c == '\n') c = ' ';
  return text;
}

}  // namespace

MetadataRecord::MetadataRecord(const char* artist, const char* title) {
  tags[kArtistTag] = artist ? artist : "";
  tags[kTitleTag] = title ? title : "";
}

std::string MetadataRecord::artist() { return tags[kArtistTag]; }
std::string MetadataRecord::title() { return tags[kTitleTag]; }
std::string MetadataRecord::fileName() { return tags[kFileNameTag]; }
std::string MetadataRecord::value(const std::string& tag) { return tags[tag]; }

std::string MetadataRecord::artist() const { return readConst(tags, kArtistTag); }
std::string MetadataRecord::title() const { return readConst(tags, kTitleTag); }
std::string MetadataRecord::fileName() const { return readConst(tags, kFileNameTag); }
std::string MetadataRecord::value(const std::string& tag) const { return readConst(tags, tag); }

void MetadataRecord::setFromMetaVec(const CMetaVec& frames) {
  for (unsigned i = 0; i < frames.size(); ++i) {
    const SMetaFrame* frame = frames.frame(static_cast<int>(i));
    tags[frameText(frame->tag, frame->tagLen)] = frameText(frame->data, frame->dataLen);
  }
}

void MetadataRecord::setFromSongTags(const CMetaVec& frames) {
  for (unsigned i = 0; i < frames.size(); ++i) {
    const SMetaFrame* frame = frames.frame(static_cast<int>(i));
    const std::string tag = frameText(frame->tag, frame->tagLen);
    // A song's own texts are texts whatever they hold: without its artist
    // the song would have no whole record, and its session would count as
    // damaged.
    if (!isOneOf(tag, kSongTexts) && (tag.empty() || isOneOf(tag, kBinaryTags) || !isText(frame->tag, frame->tagLen) ||
                                      !isText(frame->data, frame->dataLen)))
      continue;
    tags[tag] = frameText(frame->data, frame->dataLen);
  }
}

const MetadataRecord& MetadataStore::get(const uint64_t& id) const {
  static const MetadataRecord emptyAnswer(kNoEntry, kNoEntry);
  const auto entry = records.find(id);
  return entry == records.end() ? emptyAnswer : entry->second;
}

bool MetadataStore::put(const uint64_t& id, const MetadataRecord& record) {
  return records.emplace(id, record).second;
}

MetadataRecord& MetadataStore::findOrCreate(const uint64_t& id) { return records[id]; }

bool MetadataStore::remove(const uint64_t& id) { return records.erase(id) != 0; }

void MetadataStore::write(const char* path) const {
  std::ofstream out;
  if (path) out.open(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) throw AudioSignException("Cannot open output file !");
  write(out);
  // A file cut short by a full disk would lose the texts of the songs behind
  // the cut at the next load, silently.
  out.close();
  if (out.fail()) throw StandardException(std::string("MetadataStore::write() could not write file: ") + path);
}

void MetadataStore::write(std::ostream& out) const {
  // Ids are plain digits whatever locale the host has set.
  out.imbue(std::locale::classic());
  out << kFileStart << "\n<HEADER><VERSION>1.0</VERSION></HEADER>\n<DATA>\n";
  for (const auto& [id, record] : records) {
    out << "<ITEM>" << kIdOpen << static_cast<int64_t>(id) << kIdClose;
    for (const auto& [tag, value] : record.tags) {
      const std::string name = fileText(tag);
      out << '<' << name << '>' << fileText(value) << "</" << name << '>';
    }
    out << "</ITEM>\n" << std::flush;
  }
  out << "</DATA></METAFILE>\n";
}

unsigned MetadataStore::read(const char* path, bool merge) {
  // A folder is no file, though some systems open one as a stream.
  std::ifstream in;
  if (path && fileExists(path)) in.open(path, std::ios::binary);
  if (!in.is_open()) throw AudioSignException("Cannot open Metadata File for reading !");
  std::string line;
  if (readLine(in, line)) {
    if (line == kFileStart) {
      // The header and the data mark.
      readLine(in, line);
      readLine(in, line);
      while (readLine(in, line)) readMetadataLine(line, merge);
    } else {
      bool more = readTabListLine(line);
      while (more && readLine(in, line)) more = readTabListLine(line);
    }
  }
  return static_cast<unsigned>(records.size());
}

// <ITEM><TUID>id</TUID><tag>value</tag>...</ITEM>: the id follows the first
// id mark; the tags follow the first closing id mark as pairs of a bracketed
// tag, the value up to the next "<" and one more bracketed mark. A pair
// cut off by the line end (the closing "</ITEM>" among them) is not stored.
void MetadataStore::readMetadataLine(const std::string& line, bool merge) {
  const std::size_t idStart = line.find(kIdOpen);
  const std::size_t idEnd = line.find(kIdClose);
  if (idStart == std::string::npos || idEnd == std::string::npos) return;
  const uint64_t id = static_cast<uint64_t>(signedDecimal(line, idStart + kIdOpen.size()));
  if (id == 0) return;

  MetadataRecord record;
  std::size_t pos = idEnd + kIdClose.size();
  for (;;) {
    const std::size_t tagOpen = line.find('<', pos);
    if (tagOpen == std::string::npos) break;
    const std::size_t tagClose = line.find('>', tagOpen + 1);
    if (tagClose == std::string::npos) break;
    const std::size_t endOpen = line.find('<', tagClose + 1);
    if (endOpen == std::string::npos) break;
    const std::size_t endClose = line.find('>', endOpen + 1);
    if (endClose == std::string::npos) break;
    record.tags[line.substr(tagOpen + 1, tagClose - tagOpen - 1)] = line.substr(tagClose + 1, endOpen - tagClose - 1);
    pos = endClose + 1;
  }
  if (merge)
    findOrCreate(id).tags = std::move(record.tags);
  else
    put(id, record);
}

// id TAB artist TAB title. False, with nothing stored, for a line that lacks
// either tab: it ends the list.
bool MetadataStore::readTabListLine(const std::string& line) {
  const std::size_t firstTab = line.find('\t');
  if (firstTab == std::string::npos) return false;
  const std::size_t secondTab = line.find('\t', firstTab + 1);
  if (secondTab == std::string::npos) return false;
  const uint64_t id = static_cast<uint64_t>(signedDecimal(line, 0));
  MetadataRecord& record = findOrCreate(id);
  record.tags.clear();
  record.tags[kArtistTag] = line.substr(firstTab + 1, secondTab - firstTab - 1);
  record.tags[kTitleTag] = line.substr(secondTab + 1);
  return true;
}
