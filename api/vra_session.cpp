#include "api/vra_session.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "api/held.h"
#include "api/session_file_header.h"
#include "api/staged_files.h"
#include "api/text_encoding.h"
#include "api/vra_id_list.h"
#include "api/vra_kivet_exception.h"
#include "api/vra_result_list.h"
#include "api/vra_signature.h"
#include "api/vra_song.h"
#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/saturating_cast.h"
#include "metadata/sources/common/standard_exception.h"
#include "session/event_handler.h"
#include "session/song_check.h"

namespace vemra_kivet {

namespace {

// A query by id asks every method for this many candidates before fusion.
constexpr uint32_t kQueryByIdResults = 250;
constexpr unsigned kRiffMinimumSongs = 5;
constexpr uint32_t kRiffVersion = 0x00020006;
// The RIFF size and the data size before they are patched at the end.
constexpr uint32_t kRiffPlaceholder = 24;
constexpr std::streamoff kRiffSizeOffset = 4;
constexpr std::streamoff kRiffDataSizeOffset = 28;

std::unique_ptr<SLManager> makeManager() {
  auto handler = std::make_unique<SLManagerDefaultEventHandler>();
  auto manager = std::make_unique<SLManager>(handler.get());
  // The manager deletes a handler of this name.
  handler.release();
  return manager;
}

// A host's callback may answer a null text: it reads as empty.
const char* hostText(const char* text) { return text != nullptr ? text : ""; }

bool isCorruptedStream(const StandardException& e) { return std::string(e.what()) == Session::kCorruptedStream; }

// The last id of a session file's header; 0 when it has none or cannot be
// read, and then the store's load says what is wrong with the file.
uint32_t lastIdOfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  try {
    return SessionFileHeader::read(in).lastId;
  } catch (const vraKivetException&) {
    return 0;
  }
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + '"';
}

// (B << 24) + id, B the low 8 bits of floor(score x 255), summed in 32 bits:
// an id of 2^24 or more carries into B's byte.
uint32_t riffWord(uint32_t id, float score) {
  const double scaled = std::floor(static_cast<double>(score) * 255.0);
  // A score outside any sensible range (or not a number) packs as 0.
  const auto level = std::isfinite(scaled) && std::fabs(scaled) < 2147483648.0 ? static_cast<int64_t>(scaled) : 0;
  return (static_cast<uint32_t>(level & 0xFF) << 24) + id;
}

}  // namespace

std::string sessionIdText(const std::tm& local, platform::OsVersion os, uint32_t tickCount) {
  char date[16] = {};
  char clock[16] = {};
  std::strftime(date, sizeof date, "%m%d%y", &local);
  std::strftime(clock, sizeof clock, "%H%M%S", &local);
  char text[64];
  // Windows' version numbers are below 100 anyway; the id keeps two digits each.
  std::snprintf(text, sizeof text, "%u%u%05lx%05lx%02u%02u%04u", GetMainVersion(), GetSubVersion(),
                std::strtoul(date, nullptr, 10), std::strtoul(clock, nullptr, 10), os.majorVersion % 100,
                os.minorVersion % 100, static_cast<unsigned>(tickCount % 10000));
  return text;
}

vraISession* CreateSession(const char* configPath, bool metadata) {
  return createInitialised<vraSession>(configPath, metadata);
}

vraSession::vraSession() = default;

// The manager (with its store) and the working list go; the host's callback
// is the host's: the session neither destroys nor frees it.
vraSession::~vraSession() = default;

const char* vraSession::getSessionId() { return sessionId.c_str(); }

void vraSession::requireInitialised() const {
  if (!initialised) throw vraKivetException(VRA_SESSION_NOT_INITIALIZED);
}

void vraSession::reset(std::unique_ptr<SLManager> fresh) {
  manager = std::move(fresh);
  list = std::make_unique<SimilarityList>("", SimilarityList::kDefaultCapacity);
  weights.clear();
  whitelist = nullptr;
  lastId = 0;
  cursor.valid = false;
}

// The configuration is read into a manager of its own, which replaces the
// session's only once it has loaded: a configuration that fails leaves the
// session as it was, its songs and methods included (a session that was
// never initialised stays so).
int vraSession::init(const char* path, bool withMetadata) {
  std::unique_ptr<SLManager> fresh = makeManager();
  if (path != nullptr) fresh->loadConfiguration(path);
  reset(std::move(fresh));
  metadata = withMetadata;
  configPath = path != nullptr ? path : "";
  sessionId = sessionIdText(platform::localTime(), platform::osVersion(), platform::tickCount());
  initialised = true;
  return 0;
}

void vraSession::reinitialize() {
  requireInitialised();
  init(configPath.empty() ? nullptr : configPath.c_str(), metadata);
}

// Only a store whose load failed has no database, and such a store never
// becomes the session's.
AdaptedFeatureDb& vraSession::database() const { return *manager->session().getDatabase(); }

MetadataStore& vraSession::metadataStore() const { return manager->session().getMetadata(); }

CAudioSignMulti& vraSession::ownSignature(vraISignature* signature) {
  auto* own = dynamic_cast<vraSignature*>(signature);
  if (own == nullptr) throw vraKivetException(VRA_INVALID_SIGNATURE);
  CAudioSignMulti* data = own->toMultiSignature();
  if (!data->isInitialized()) throw vraKivetException(VRA_INVALID_SIGNATURE);
  return *data;
}

uint32_t vraSession::largestStoredId() const {
  uint32_t largest = 0;
  for (const auto& entry : database()) largest = std::max(largest, static_cast<uint32_t>(entry.first));
  return largest;
}

// The next id above the last one that no song holds. 0 means "no id": after
// a wrap-around it is passed over.
uint32_t vraSession::allocateId() {
  do {
    ++lastId;
  } while (lastId == 0 || database().contains(lastId));
  return lastId;
}

// The first stored song but the one of id excluded: the one whose vectors a
// song that comes is compared with.
const CAudioSignMulti* vraSession::referenceSong(uint64_t excluded) const {
  for (const auto& entry : database())
    if (entry.first != excluded && entry.second->isInitialized()) return entry.second;
  return nullptr;
}

// Every method's adaptation of the signature, checked against the songs
// stored (but the one of replacedId, whose place it is to take). Code 6, with
// nothing changed, when a method cannot adapt it (the method's report is on
// the standard output), when it yields nothing (a session without methods),
// or when a vector cannot be compared with the stored ones (session/
// song_check.h; a song of another sampling rate has other band counts).
std::unique_ptr<CAudioSignMulti> vraSession::adapt(const CAudioSignMulti& signature, uint64_t replacedId) {
  auto adapted = std::make_unique<CAudioSignMulti>();
  if (!manager->adaptSignature(signature, *adapted, false) || !adapted->isInitialized() ||
      !SongCheck(*manager, referenceSong(replacedId)).admits(*adapted))
    throw vraKivetException(VRA_INVALID_SIGNATURE);
  return adapted;
}

// Stores the adapted signature under id, in the place of the song of that id
// when replacing, and records the song's texts; only then does the song's
// signature carry id (a high word cleared: a song is found by its 32-bit id
// alone). The methods meet the database when its first song arrives; when
// they cannot (a partition tree naming songs no longer held), the song goes
// again and the failure passes on. A replacement leaves the methods as they
// are.
void vraSession::storeAdapted(CAudioSignMulti& signature, std::unique_ptr<CAudioSignMulti> adapted, uint32_t id,
                              bool replacing) {
  const CSignatureID tuid(id, 0);
  adapted->setTuid(tuid);
  MetadataRecord record;
  if (metadata) record.setFromSongTags(signature.getSignData()->getMetaVec());
  AdaptedFeatureDb& db = database();
  if (replacing) {
    db.replace(adapted.get());
    adapted.release();
  } else {
    db.add(adapted.get());
    adapted.release();
    if (db.size() == 1) {
      try {
        manager->initMethods();
      } catch (...) {
        db.remove(id);
        throw;
      }
    }
  }
  // A record left from an earlier song of this id must not lend it its texts.
  if (metadata) metadataStore().findOrCreate(id).tags.swap(record.tags);
  if (signature.getTuid() != tuid) signature.setTuid(tuid);
}

unsigned vraSession::addSignature(vraISignature* signature) {
  requireInitialised();
  CAudioSignMulti& data = ownSignature(signature);
  // Before an id is chosen: a song that cannot be stored takes none and
  // changes nobody's.
  std::unique_ptr<CAudioSignMulti> adapted = adapt(data, 0);
  const uint32_t given = data.getTuid().getLow();
  const uint32_t lastBefore = lastId;
  uint32_t id = given;
  // A taken id gets a new one even above the last id, which a loaded file's
  // header may put below its songs: storing the song under a taken id would
  // fail and lose it.
  if (given == 0 || database().contains(given))
    id = allocateId();
  else if (given > lastId)
    lastId = given;
  try {
    storeAdapted(data, std::move(adapted), id, false);
  } catch (...) {
    lastId = lastBefore;
    throw;
  }
  // The host that hears of the change finds the signature carrying it.
  if (given != 0 && id != given && callback != nullptr) callback->onIdChanged(given, id);
  return id;
}

void vraSession::replaceSignature(unsigned id, vraISignature* signature) {
  requireInitialised();
  // Checked and adapted before the old song goes: a signature that cannot
  // take its place leaves it as it was, texts and all.
  if (!database().contains(id)) throw vraKivetException(VRA_SIGNATURE_ID_DOES_NOT_EXIST);
  CAudioSignMulti& data = ownSignature(signature);
  std::unique_ptr<CAudioSignMulti> adapted = adapt(data, id);
  storeAdapted(data, std::move(adapted), id, true);
}

void vraSession::removeSongAt(unsigned index) {
  requireInitialised();
  removeSong(Held<vraISong>(getSongAt(index))->getId());
}

void vraSession::removeSong(unsigned id) {
  requireInitialised();
  if (!database().contains(id)) throw vraKivetException(VRA_SIGNATURE_ID_DOES_NOT_EXIST);
  database().remove(id);
  if (metadata) metadataStore().remove(id);
}

unsigned vraSession::getWeightCount() { return static_cast<unsigned>(weights.size()); }

unsigned vraSession::getWeightName(unsigned index) {
  if (index >= weights.size()) throw vraKivetException(VRA_INVALID_PARAMETER);
  return std::next(weights.begin(), index)->first;
}

void vraSession::setWeight(unsigned key, unsigned value) {
  const auto entry = weights.find(key);
  if (value != 100 || entry == weights.end()) throw vraKivetException(VRA_INVALID_PARAMETER);
  entry->second = value;
}

unsigned vraSession::getWeight(unsigned key) {
  const auto entry = weights.find(key);
  if (entry == weights.end()) throw vraKivetException(VRA_INVALID_PARAMETER);
  return entry->second;
}

vraResultList* vraSession::fillResultList(uint32_t id) const {
  Held<vraResultList> results(new vraResultList);
  for (const auto& entry : *list) results->append(static_cast<uint32_t>(entry.second.id), entry.second.weight);
  if (results->size() > 0) {
    const uint32_t first = results->getResult(0).id;
    if (first != id) results->moveToFront(first, id);
  }
  return results.release();
}

vraIResultList* vraSession::queryById(unsigned id, unsigned count) {
  requireInitialised();
  makeSong(id)->release();
  if (whitelist != nullptr && !whitelist->contains(id)) throw vraKivetException(VRA_ID_NOT_IN_WHITELIST);
  requireWhitelistHeld();
  QueryParameters params;
  params.resultCount = kQueryByIdResults;
  if (whitelist != nullptr)
    for (unsigned i = 0; i < whitelist->size(); ++i) params.candidateIds.push_back(whitelist->getId(i));
  list->clear();
  manager->query(static_cast<uint64_t>(id), *list, params);
  if (list->size() > count) list->truncate(static_cast<int>(count));
  return fillResultList(id);
}

vraIResultList* vraSession::queryBySignature(vraISignature* signature, unsigned count, bool add) {
  requireInitialised();
  // Adapted and checked as for an add: a signature the stored songs cannot be
  // compared with is refused, not answered from the songs whose comparison
  // happens not to fail.
  const std::unique_ptr<CAudioSignMulti> adapted = adapt(ownSignature(signature), 0);
  list->clear();
  // A session without songs has nothing to compare with (and its methods
  // meet the database only with the first song): the answer is empty.
  if (!database().empty()) {
    QueryParameters params;
    params.adaptedQuery = true;
    manager->query(*adapted, *list, params);
  }
  if (list->size() > count) list->truncate(static_cast<int>(count));
  const uint32_t id = add ? addSignature(signature) : 0;
  return fillResultList(id);
}

int vraSession::checkMetadataSource(bool, bool, bool, bool) {
  requireInitialised();
  if (!hasTextSource()) throw vraKivetException(VRA_NO_METADATA_CALLBACK);
  return 0;
}

unsigned vraSession::getSongCount() {
  requireInitialised();
  return database().size();
}

vraIIDList* vraSession::getAllIds() {
  requireInitialised();
  Held<vraIDList> ids(new vraIDList);
  for (const auto& entry : database()) ids->appendDistinct(static_cast<uint32_t>(entry.first));
  return ids.release();
}

bool vraSession::containsId(unsigned id) {
  requireInitialised();
  return database().contains(id);
}

uint32_t vraSession::idAt(unsigned index) {
  const AdaptedFeatureDb& db = database();
  if (index >= db.size()) throw vraKivetException(VRA_INDEX_EXCEEDS_DIMENSION);
  if (!cursor.valid || cursor.revision != db.getRevision() || index < cursor.index) {
    cursor.revision = db.getRevision();
    cursor.index = 0;
    cursor.at = db.getEntries().begin();
    cursor.valid = true;
  }
  std::advance(cursor.at, index - cursor.index);
  cursor.index = index;
  return static_cast<uint32_t>(cursor.at->first);
}

vraISong* vraSession::getSongAt(unsigned index) {
  requireInitialised();
  return makeSong(idAt(index));
}

vraISong* vraSession::getSong(unsigned id) {
  requireInitialised();
  return makeSong(id);
}

vraSong* vraSession::makeSong(uint32_t id) {
  if (!database().contains(id)) throw vraKivetException(VRA_SIGNATURE_ID_DOES_NOT_EXIST);
  Held<vraSong> song(new vraSong);
  song->setId(id);
  if (!metadata) return song.release();
  const auto& records = metadataStore().all();
  const auto entry = records.find(id);
  if (entry == records.end()) throw vraKivetException(VRA_SIGNATURE_ID_DOES_NOT_EXIST);
  const MetadataRecord& record = entry->second;
  song->setTitle(record.title().c_str());
  song->setArtist(record.artist().c_str());
  song->setFileName(record.fileName().c_str());
  // A length beyond the int range saturates, as the C library's reading
  // does where long has 32 bits.
  song->setLength(toIntSaturated(static_cast<double>(std::strtoll(record.value("TLEN").c_str(), nullptr, 10))));
  return song.release();
}

// The texts of the song's id from the host: all of them for a listing, the
// title, the artist and the length for a song found by its file name.
void vraSession::fillFromCallback(vraSong& song, bool allTexts) {
  const uint32_t id = song.getId();
  song.setTitle(hostText(callback->getTitle(id)));
  song.setArtist(hostText(callback->getArtist(id)));
  if (allTexts) {
    song.setExtraText(hostText(callback->getExtraText(id)));
    song.setFileName(hostText(callback->getFileName(id)));
    song.setExtraNumber(callback->getExtraNumber(id));
  }
  song.setLength(callback->getLength(id));
}

vraISong* vraSession::getSongByFileName(const char* fileName) {
  requireInitialised();
  if (!hasTextSource()) throw vraKivetException(VRA_NO_METADATA_CALLBACK);
  if (fileName == nullptr) throw vraKivetException(VRA_INVALID_PARAMETER);
  const std::string wanted = isUtf8(fileName) ? std::string(fileName) : latin1ToUtf8(fileName);
  const unsigned count = database().size();
  for (unsigned i = 0; i < count; ++i) {
    Held<vraSong> song(makeSong(idAt(i)));
    if (!metadata) song->setFileName(hostText(callback->getFileName(song->getId())));
    if (wanted != song->getFileName(false)) continue;
    if (!metadata) fillFromCallback(*song, false);
    return song.release();
  }
  return nullptr;
}

void vraSession::setCallback(vraICallback* host) { callback = host; }

void vraSession::setWhitelist(vraIIDList* ids) {
  if (ids == nullptr) {
    whitelist = nullptr;
    return;
  }
  if (dynamic_cast<vraIDList*>(ids) == nullptr) throw vraKivetException(VRA_INVALID_OBJECT);
  whitelist = ids;
  const unsigned count = ids->size();
  if (count > 0) requireInitialised();
  for (unsigned i = 0; i < count; ++i)
    if (!database().contains(ids->getId(i))) throw vraKivetException(VRA_INVALID_WHITELIST);
}

void vraSession::clearWhitelist() { whitelist = nullptr; }

// A whitelist is checked when it is set; a song removed since leaves an id
// that no query could find. Checked before an operation does anything, so
// that it writes nothing and the host can mend the list, which stays set.
void vraSession::requireWhitelistHeld() const {
  if (whitelist == nullptr) return;
  const AdaptedFeatureDb& db = database();
  const unsigned count = whitelist->size();
  for (unsigned i = 0; i < count; ++i)
    if (!db.contains(whitelist->getId(i))) throw vraKivetException(VRA_SIGNATURE_ID_DOES_NOT_EXIST);
}

namespace {

// A session file named as its own metadata file would be written over by
// it. Compared without regard to case: on Windows "s.META" and "s.meta" name
// one file, and a session saved so elsewhere could not be taken there.
bool isOwnMetadataPath(const std::string& path) {
  const std::string meta = Session::metadataPath(path);
  return std::equal(path.begin(), path.end(), meta.begin(), meta.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

// Both files are written under temporary names beside their targets and
// flushed to the disk; only then do they replace the files of an earlier
// save, the metadata file first, and all or nothing: a failure on the way,
// the last rename included, leaves the earlier files as they were, and no
// temporary file behind. A process ended between the two renames (P its id)
// leaves the old session file NAME.EXT beside the new metadata file
// NAME.meta, the old metadata file kept aside as NAME.meta.P.old, a link to
// (or copy of) the old session file as NAME.EXT.P.old, and the new session
// file, whole, as NAME.EXT.P.tmp: the old songs then read the new records,
// and the old records are in NAME.meta.P.old alone. A host puts the pair
// back whole by renaming NAME.EXT.P.tmp over NAME.EXT (the save completed)
// or NAME.meta.P.old over NAME.meta (the save undone), then removing the
// other names of P. A session without metadata has no texts to save: the
// metadata file of an earlier save goes with it, as it would give the new
// songs of its ids the texts of others.
void vraSession::saveSession(const char* path) {
  requireInitialised();
  if (path == nullptr || isOwnMetadataPath(path)) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
  try {
    StagedFiles files("vraSession::saveSession()");
    const std::string metaPath = Session::metadataPath(path);
    std::ostream* meta = nullptr;
    if (metadata)
      meta = &files.write(metaPath);
    else
      files.remove(metaPath);
    std::ostream& out = files.write(path);
    const auto written = [&] { return !out.fail() && (meta == nullptr || !meta->fail()); };
    if (!written()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
    SessionFileHeader{sessionId, lastId}.write(out);
    try {
      manager->session().save(out, meta);
    } catch (const StandardException&) {
      throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
    }
    if (!written() || !files.commit()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
  } catch (const vraKivetException&) {
    throw;
  } catch (...) {
    throw vraKivetException(VRA_UNKNOWN_ERROR);
  }
}

void vraSession::loadSession(const char* path) {
  requireInitialised();
  if (path == nullptr) throw vraKivetException(VRA_FAILED_TO_OPEN_FILE);
  const std::string metaPath = metadata ? Session::metadataPath(path) : std::string();
  if (database().empty())
    loadFresh(path, metaPath);
  else
    merge(path, metaPath);
}

// A manager that stands where this session's does: the same global blocks
// and the methods of the same configuration.
std::unique_ptr<SLManager> vraSession::managerLikeThis() const {
  std::unique_ptr<SLManager> like = makeManager();
  std::stringstream blocks;
  manager->session().getGlobals().write(blocks);
  SessionGlobals& globals = like->session().getGlobals();
  globals.read(blocks);
  uint32_t size = 0;
  if (const char* text = globals.getText("XML", size)) like->loadConfiguration(text, size);
  return like;
}

// Everything is read into a manager of its own, which becomes the session's
// only once the file has loaded: a file that fails leaves the session as it
// was, with its methods, rather than without any. That manager starts as a
// copy of the session's, so the file is taken as if loaded in place: its
// blocks replace those of the tags it carries, and a method the session has
// already keeps its settings over the file's method of the same name.
void vraSession::loadFresh(const std::string& path, const std::string& metaPath) {
  std::ifstream in(path, std::ios::binary);
  // A folder opens as a stream on some systems; it is no file on any.
  if (!in.is_open() || !fileExists(path)) throw vraKivetException(VRA_FAILED_TO_OPEN_FILE);
  const SessionFileHeader header = SessionFileHeader::read(in);
  in.close();

  std::unique_ptr<SLManager> loaded = managerLikeThis();
  bool corrupted = false;
  try {
    loaded->loadSession(path, metaPath, header.lastId);
  } catch (const StandardException& e) {
    if (!isCorruptedStream(e)) throw;
    corrupted = true;
  }
  // A song that no query could compare (a feature name damaged in the file)
  // makes the whole file a damaged one: the session stays as it was.
  const AdaptedFeatureDb& songs = *loaded->session().getDatabase();
  const SongCheck check(*loaded, songs.empty() ? nullptr : songs.begin()->second);
  for (const auto& entry : songs)
    if (!check.admits(*entry.second)) throw vraKivetException(VRA_CORRUPTED_SESSION);
  manager = std::move(loaded);
  list->clear();
  cursor.valid = false;
  // A file without a session id leaves the session its own.
  if (header.hasSessionId) sessionId = header.sessionId;
  lastId = header.lastId != 0 ? header.lastId : largestStoredId();
  if (corrupted) throw vraKivetException(VRA_CORRUPTED_SESSION);
}

// The file's songs come adapted already and go in as they are, under new ids
// where theirs are taken; all of them or, when one would not be stored by an
// add (code 6), none: ids, records and the host's id-change events included.
// The file's last id is not taken, but it shows the songs whose ids damage
// raised, which are left out.
void vraSession::merge(const std::string& path, const std::string& metaPath) {
  Session loaded;
  bool corrupted = false;
  try {
    loaded.load(path, metaPath, lastIdOfFile(path));
  } catch (const StandardException& e) {
    if (!isCorruptedStream(e)) throw;
    corrupted = true;
  }
  if (!hasTextSource()) throw vraKivetException(VRA_NO_METADATA_CALLBACK);
  const SongCheck check(*manager, referenceSong(0));
  for (const auto& entry : *loaded.getDatabase())
    if (!check.admits(*entry.second)) throw vraKivetException(VRA_INVALID_SIGNATURE);

  AdaptedFeatureDb& target = database();
  const auto& records = loaded.getMetadata().all();
  const uint32_t lastBefore = lastId;
  std::vector<uint32_t> added;
  std::vector<std::pair<uint32_t, uint32_t>> changed;
  try {
    for (const auto& [storedId, signature] : *loaded.getDatabase()) {
      const auto oldId = static_cast<uint32_t>(storedId);
      uint32_t id = oldId;
      if (id == 0 || target.contains(id)) {
        id = allocateId();
        changed.emplace_back(oldId, id);
      }
      signature->setTuid(CSignatureID(id, 0));
      target.add(*signature);
      added.push_back(id);
      if (!metadata) continue;
      const auto record = records.find(storedId);
      if (record != records.end()) metadataStore().findOrCreate(id).tags = record->second.tags;
    }
  } catch (...) {
    // Only an allocation can fail here; what went in goes again.
    for (const uint32_t id : added) {
      target.remove(id);
      if (metadata) metadataStore().remove(id);
    }
    lastId = lastBefore;
    throw;
  }
  lastId = largestStoredId();
  if (callback != nullptr)
    for (const auto& [from, to] : changed) callback->onIdChanged(from, to);
  if (corrupted) throw vraKivetException(VRA_CORRUPTED_SESSION);
}

void vraSession::exportText(const char* path, unsigned fieldMask) {
  requireInitialised();
  if (!hasTextSource()) throw vraKivetException(VRA_NO_METADATA_CALLBACK);
  requireWhitelistHeld();
  if (path == nullptr) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
  // Written aside and put in place whole: an export that fails leaves the
  // file of an earlier one as it was. Text mode: lines end as the platform's
  // text files do.
  StagedFiles files("vraSession::exportText()");
  std::ostream& out = files.write(path, platform::NewFile::Mode::Text);
  if (out.fail()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
  writeTextExport(out, fieldMask);
  if (out.fail() || !files.commit()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
}

void vraSession::writeTextExport(std::ostream& out, unsigned fieldMask) {
  out << "#SESSION-ID=" << sessionId << ";\n";
  const unsigned count = whitelist != nullptr ? whitelist->size() : database().size();
  const auto field = [&](unsigned bit, const std::string& text) { return (fieldMask & bit) != 0 ? text : ""; };
  for (unsigned i = 0; i < count; ++i) {
    try {
      Held<vraSong> song(whitelist != nullptr ? makeSong(whitelist->getId(i)) : makeSong(idAt(i)));
      if (!metadata) fillFromCallback(*song, true);
      const auto seconds = static_cast<int>(std::floor(song->getLength() * 0.001));
      out << std::to_string(static_cast<int32_t>(song->getId())) << ';' << field(1, quoted(song->getArtist(false))) << ';'
          << field(2, quoted(song->getTitle(false))) << ';' << field(4, std::to_string(seconds)) << ';'
          << field(8, quoted(song->getFileName(false))) << ';' << field(16, quoted(song->getExtraText(false)))
          << ';' << field(32, std::to_string(song->getExtraNumber())) << ';'
          << field(64, std::to_string(song->getExtraNumber2())) << ";\n";
      if (callback != nullptr) callback->reportProgress(static_cast<float>(i + 1) / static_cast<float>(count));
    } catch (const vraKivetException& e) {
      // A song the host does not know is left out.
      if (e.getCode() == VRA_CALLBACK_UNKNOWN_ID) continue;
      throw;
    } catch (...) {
      throw vraKivetException(VRA_CALLBACK_INTERFACE_ERROR);
    }
  }
}

void vraSession::exportSimilarityRiff(const char* path, unsigned count) {
  requireInitialised();
  const unsigned songs = whitelist != nullptr ? whitelist->size() : database().size();
  // Checked first: a session too small leaves an existing file as it was.
  if (songs < kRiffMinimumSongs) throw vraKivetException(VRA_SESSION_TOO_SMALL);
  requireWhitelistHeld();
  if (path == nullptr) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
  // Written aside, as the text export is.
  StagedFiles files("vraSession::exportSimilarityRiff()");
  std::ostream& out = files.write(path);
  if (out.fail()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
  out << "RIFF";
  writeUInt32LE(out, kRiffPlaceholder) << "PLDXVERS";
  writeUInt32LE(writeUInt32LE(out, 4), kRiffVersion) << "SIM1";
  writeUInt32LE(out, kRiffPlaceholder);
  uint32_t words = 0;
  for (unsigned i = 0; i < songs; ++i) {
    Held<vraISong> song(getSongAt(i));
    const uint32_t id = whitelist != nullptr ? whitelist->getId(i) : song->getId();
    song.reset();
    Held<vraIResultList> results(queryById(id, count));
    for (unsigned r = 0; r < results->size(); ++r, ++words) {
      const vraResult result = results->getResult(r);
      writeUInt32LE(out, riffWord(result.id, result.score));
    }
    writeUInt32LE(out, 0);
    ++words;
    if (callback != nullptr) callback->reportProgress(static_cast<float>(i + 1) / static_cast<float>(songs));
  }
  const uint32_t dataSize = 4 * words;
  out.seekp(kRiffSizeOffset);
  writeUInt32LE(out, dataSize + 24);
  out.seekp(kRiffDataSizeOffset);
  writeUInt32LE(out, dataSize);
  if (out.fail() || !files.commit()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
}

}  // namespace vemra_kivet
