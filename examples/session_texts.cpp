#include "examples/session_texts.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "api/held.h"

using namespace vemra_kivet;

namespace {

constexpr char kFirstLine[] = "<METAFILE>\n";
constexpr char kLastLine[] = "</DATA></METAFILE>\n";
// Ids of others' records named, at most.
constexpr size_t kMostIdsShown = 10;

// A file in the library's form (not a tab list) that lacks its closing line.
bool endsEarly(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(sizeof kFirstLine - 1, '\0');
  if (!in.read(&head[0], static_cast<std::streamsize>(head.size())) || head != kFirstLine) return false;
  std::string tail(sizeof kLastLine - 1, '\0');
  in.seekg(-static_cast<std::streamoff>(tail.size()), std::ios::end);
  return !in.read(&tail[0], static_cast<std::streamsize>(tail.size())) || tail != kLastLine;
}

}  // namespace

SessionTexts::SessionTexts(const std::string& metaPath, vraISession& session) : path(metaPath) {
  missing = !std::filesystem::is_regular_file(path);
  if (!missing) {
    store.read(path.c_str(), false);
    cutShort = endsEarly(path);
  }
  const Held<vraIIDList> ids(session.getAllIds());
  songs = ids->size();
  const auto& records = store.all();
  std::set<uint64_t> held;
  for (unsigned i = 0; i < songs; ++i) {
    held.insert(ids->getId(i));
    const auto record = records.find(ids->getId(i));
    if (record == records.end() || record->second.tags.count("TPE1") == 0) songsWithout.push_back(ids->getId(i));
  }
  for (const auto& record : records)
    if (held.count(record.first) == 0) othersRecords.push_back(record.first);
  // Without songs there is nothing a metadata file could describe.
  if (songs == 0) missing = false;
}

std::string SessionTexts::damage() const {
  if (songsWithout.empty()) return path + " is damaged: cut short, though every song kept its texts";
  return path + (missing ? " is missing: " : " is damaged: ") + std::to_string(songsWithout.size()) + " of " +
         std::to_string(songs) + " songs have no metadata";
}

std::string SessionTexts::othersIds() const {
  std::string list;
  const size_t shown = std::min(othersRecords.size(), kMostIdsShown);
  for (size_t i = 0; i < shown; ++i) list += (i == 0 ? "" : ", ") + std::to_string(othersRecords[i]);
  if (othersRecords.size() > shown) list += " and " + std::to_string(othersRecords.size() - shown) + " more";
  return list;
}

SessionTexts::Song SessionTexts::song(unsigned id) const {
  Song song;
  const auto entry = store.all().find(id);
  if (entry == store.all().end()) return song;
  const MetadataRecord& record = entry->second;
  song.artist = record.artist();
  song.title = record.title();
  song.fileName = record.fileName();
  const long long length = std::strtoll(record.value("TLEN").c_str(), nullptr, 10);
  song.milliseconds = static_cast<int>(length < 0 ? 0 : length > INT_MAX ? INT_MAX : length);
  return song;
}

std::string SessionTexts::shownTitle(unsigned id) const {
  const Song texts = song(id);
  if (!texts.title.empty()) return texts.title;
  return std::filesystem::path(texts.fileName).filename().string();
}

void SessionTexts::writeWhole(const std::string& target) const {
  MetadataStore whole = store;
  // The four tags the library writes in every record, empty where they are
  // lost; whatever a damaged record kept stays.
  for (const unsigned id : songsWithout)
    for (const char* tag : {"TPE1", "TIT2", "FILENAME", "TLEN"}) whole.findOrCreate(id).tags.emplace(tag, "");
  whole.write(target.c_str());
}

const char* SessionTextCallback::hold(std::string text) {
  held = std::move(text);
  return held.c_str();
}

const char* SessionTextCallback::getTitle(unsigned id) { return hold(texts.song(id).title); }
const char* SessionTextCallback::getArtist(unsigned id) { return hold(texts.song(id).artist); }
const char* SessionTextCallback::getExtraText(unsigned) { return ""; }
const char* SessionTextCallback::getFileName(unsigned id) { return hold(texts.song(id).fileName); }
int SessionTextCallback::getLength(unsigned id) { return texts.song(id).milliseconds; }
int SessionTextCallback::getExtraNumber(unsigned) { return 0; }
int SessionTextCallback::getExtraNumber2(unsigned) { return 0; }
int SessionTextCallback::onIdChanged(unsigned, unsigned) { return 0; }
void SessionTextCallback::reportProgress(float) {}
void SessionTextCallback::notify(int) {}
