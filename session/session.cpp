#include "session/session.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <vector>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/session_utils.h"

namespace {

const char kMagic[] = "SES";
const char kMetadataExtension[] = ".meta";
// The session object writes every song's id with a high word of 0.
constexpr uint64_t kLargestSongId = std::numeric_limits<uint32_t>::max();

[[noreturn]] void failFormat() { throw StandardException("Session::load() corrupted session format"); }

}  // namespace

Session::Session() : database(std::make_unique<AdaptedFeatureDb>("Database")) {}

Session::~Session() = default;

int Session::songCount() const { return database ? static_cast<int>(database->size()) : 0; }

void Session::save(std::ostream& out, std::ostream* meta) {
  if (!database) throw StandardException("Session::save() no database");
  globals.write(out);
  database->saveImage(out);
  if (meta != nullptr) metadata.write(*meta);
}

void Session::load(const std::string& path, const std::string& metaPath, uint32_t lastId) {
  database.reset();
  metadata.clear();
  // A folder is no session file, though some systems open one as a stream.
  std::ifstream file;
  if (fileExists(path)) file.open(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) throw StandardException("Session::load() Could not open session: " + path);
  readStore(file);
  file.close();

  // Before anyone sees the entries; each pass leaves alone the signatures
  // that already carry it, as those of a session saved after a load do.
  SessionUtils::applyLinearizationLookup(*database, globals);
  SessionUtils::applyNormalization(*database, globals);

  // A session saved without songs has no metadata file.
  if (!metaPath.empty() && (!database->empty() || fileExists(metaPath))) metadata.read(metaPath.c_str(), false);
  const bool leftOut = !metaPath.empty() && leaveOutUnrecorded(lastId);
  const bool textsLost = !metaPath.empty() && reportSongsWithoutRecords(metaPath);
  fileName = path;
  if (database->isCorrupted() || leftOut || textsLost) {
    database->clearCorrupted();
    throw StandardException(kCorruptedStream);
  }
}

void Session::readStore(std::istream& file) {
  if (readString(file) != kMagic) failFormat();
  // The tag entries are the session object's; a size beyond the end of the
  // file is a file cut short.
  uint32_t tagBytes = 0;
  if (!readUInt32LE(file, tagBytes) || !skipBytes(file, tagBytes)) failFormat();
  try {
    globals.read(file);
  } catch (const StandardException&) {
    failFormat();
  } catch (const VMTLException&) {
    failFormat();
  }
  // The image reader keeps what it can read and marks the rest as corrupted.
  database = std::make_unique<AdaptedFeatureDb>(file, kLargestSongId);
}

bool Session::leaveOutUnrecorded(uint32_t lastId) {
  if (lastId == 0) return false;
  std::vector<uint64_t> unrecorded;
  const auto& records = metadata.all();
  for (auto entry = database->getEntries().upper_bound(lastId); entry != database->end(); ++entry)
    if (records.count(entry->first) == 0) unrecorded.push_back(entry->first);
  for (const uint64_t id : unrecorded) {
    std::cout << "Session::load() song id above the last id and without a record: " << id << std::endl;
    database->remove(id);
  }
  return !unrecorded.empty();
}

bool Session::reportSongsWithoutRecords(const std::string& metaPath) const {
  const auto& records = metadata.all();
  const auto lacking = std::count_if(database->begin(), database->end(),
                                     [&](const auto& entry) { return records.count(entry.first) == 0; });
  if (lacking == 0) return false;
  std::cerr << "Session::load() the metadata file " << metaPath << " lacks the records of " << lacking << " of "
            << database->size() << " songs" << std::endl;
  return true;
}

std::string Session::metadataPath(const std::string& sessionPath) {
  // Only a point in the file name counts: one in a folder name would put the
  // metadata of every session in that folder into one file beside it.
  const std::size_t nameStart = sessionPath.find_last_of("/\\");
  const std::size_t point = sessionPath.find_last_of('.');
  const bool inName = point != std::string::npos && (nameStart == std::string::npos || point > nameStart);
  return sessionPath.substr(0, inName ? point : sessionPath.size()) + kMetadataExtension;
}
