#pragma once
// The session object behind vraISession: a database of songs (adapted
// signatures and their metadata) under 32-bit song ids that it allocates,
// kept by a similarity manager. It adds signatures, answers similarity
// queries as result lists, hands out songs and id lists, restricts queries to
// a host-given whitelist, asks an optional host callback for song texts, and
// reads and writes session files and exports.

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "api/kivet.h"
#include "api/vra_reference_counted.h"
#include "platform/system_info.h"
#include "session/sl_manager.h"
#include "similarity/similarity_list.h"

class CAudioSignMulti;

namespace vemra_kivet {

class vraResultList;
class vraSong;

class vraSession : public vraReferenceCounted<vraISession> {
 public:
  // Not initialised (every operation on songs raises code 20 until init),
  // session id "Uninitialized", metadata on; count 1: the creator owns the
  // object it receives.
  vraSession();
  vraSession(const vraSession&) = delete;
  vraSession& operator=(const vraSession&) = delete;

  // Fresh load into a session without songs, merge into one with songs. A
  // fresh load takes the file's songs, session id and last id; its blocks
  // replace the session's of the same tags, and the session's methods stay
  // (the file's configuration adds those of other names). A merge takes the
  // file's songs as one: when an add would refuse one of them, none. Codes 2
  // (cannot open) and 5 (not a session file) on a fresh load, 16 (merge
  // without metadata or callback), 6 (a merge of a song an add would refuse:
  // nothing is merged), 29 (a fresh load of a song no query could compare:
  // nothing is loaded; or entries of a damaged or cut file could not be
  // read, or carry ids that damage changed, which are left out as the store
  // and its image reader say (session/session.h); or, with metadata on, the
  // metadata file lacks the record of a song that is kept (emptied or cut
  // short), which stays without texts (getSong raises code 11 for it) and
  // the error stream names the file: what was read stays, as the other
  // songs are loaded, or merged with their onIdChanged calls, before the
  // code is raised). Other failures of the store pass on and leave the
  // session as it was.
  void loadSession(const char* path) override;
  // Writes the session file and, with metadata on, the metadata file beside
  // it (also without records); with metadata off, removes a metadata file an
  // earlier save left there. Both go in together (api/staged_files.h): the
  // metadata file's rename first, then the session file's. Code 3 when
  // either cannot be written whole or put in place, or when path would be
  // its own metadata file: the files of an earlier save then stay as they
  // were, and no temporary file is left. Code 1 for any other failure.
  void saveSession(const char* path) override;
  // init again with the stored configuration path and metadata flag.
  void reinitialize() override;
  // Code 6 for a signature that is not the library's or holds no data, and
  // for one that the session's methods cannot adapt or whose adapted vectors
  // cannot be compared with the stored songs' (another length, a value that
  // is not finite): nothing is stored then and no id is taken. An id of 0
  // gets the next free id; an id already stored gets the next free id and the
  // callback hears onIdChanged. The signature carries its id after the call.
  // An add that fails for any reason (the methods cannot take the session's
  // first song, say) changes nothing: no song, id, record or event.
  unsigned addSignature(vraISignature* signature) override;
  void removeSongAt(unsigned index) override;
  // Code 11 for an id the session does not hold.
  void removeSong(unsigned id) override;
  // Nothing adds a weight: the count is 0 and every other weight operation
  // raises code 14.
  unsigned getWeightCount() override;
  unsigned getWeightName(unsigned index) override;
  void setWeight(unsigned key, unsigned value) override;
  unsigned getWeight(unsigned key) override;
  // At most count results, the entry of id (when among them) first. Code 11
  // for an unknown id, 25 for one outside the whitelist, 11 for a whitelist
  // that names a song removed since it was set.
  vraIResultList* queryById(unsigned id, unsigned count) override;
  // Code 16 unless metadata is on or a callback is set.
  int checkMetadataSource(bool title, bool artist, bool extraText, bool fileName) override;
  // With add, the signature is added after the query (which therefore does
  // not find it) and its entry, if any, comes first. A session without songs
  // answers an empty list. Code 6 for a signature addSignature would refuse.
  vraIResultList* queryBySignature(vraISignature* signature, unsigned count, bool add) override;
  unsigned getSongCount() override;
  vraIIDList* getAllIds() override;
  bool containsId(unsigned id) override;
  // The song of the index-th id in ascending order; code 10 past the end.
  vraISong* getSongAt(unsigned index) override;
  // Code 11 for an id the session does not hold (or, with metadata on, holds
  // no record of).
  vraISong* getSong(unsigned id) override;
  vraISong* getSongByFileName(const char* fileName) override;
  // The callback stays the host's: the session never frees it.
  void setCallback(vraICallback* callback) override;
  // Code 16 without metadata or callback, 11 for a whitelist that names a
  // removed song (before the file is touched).
  void exportText(const char* path, unsigned fieldMask) override;
  // Code 27 for fewer than 5 songs, then 11 for a whitelist that names a
  // removed song (both before the file is touched).
  void exportSimilarityRiff(const char* path, unsigned count) override;
  // Code 23 for a list that is not the library's, 26 when an id of it is not
  // stored (the list stays set).
  void setWhitelist(vraIIDList* whitelist) override;
  void clearWhitelist() override;
  // Public so that an object embedding a session can destroy it.
  ~vraSession() override;

  // Empties the session and reads the configuration at configPath (none: no
  // similarity methods); its failures pass on and leave the session as it
  // was (not initialised before the first init). Then a new session id.
  virtual int init(const char* configPath, bool metadata);
  virtual const char* getSessionId();
  // Replaces the song of id by the signature, under the same id; codes 6 (as
  // addSignature's) and 11 before anything changes.
  virtual void replaceSignature(unsigned id, vraISignature* signature);

  // The session's last id (the highest id handed out or seen).
  uint32_t getLastId() const { return lastId; }
  SLManager& getManager() { return *manager; }

 private:
  void requireInitialised() const;
  // Code 11 when the whitelist names an id the session no longer holds.
  void requireWhitelistHeld() const;
  void reset(std::unique_ptr<SLManager> fresh);
  // The signature data of one of the library's signature objects (code 6
  // otherwise).
  CAudioSignMulti& ownSignature(vraISignature* signature);
  AdaptedFeatureDb& database() const;
  MetadataStore& metadataStore() const;
  uint32_t allocateId();
  uint32_t largestStoredId() const;
  const CAudioSignMulti* referenceSong(uint64_t excluded) const;
  std::unique_ptr<CAudioSignMulti> adapt(const CAudioSignMulti& signature, uint64_t replacedId);
  void storeAdapted(CAudioSignMulti& signature, std::unique_ptr<CAudioSignMulti> adapted, uint32_t id, bool replacing);
  uint32_t idAt(unsigned index);
  vraSong* makeSong(uint32_t id);
  void fillFromCallback(vraSong& song, bool allTexts);
  vraResultList* fillResultList(uint32_t id) const;
  bool hasTextSource() const { return metadata || callback != nullptr; }
  std::unique_ptr<SLManager> managerLikeThis() const;
  void loadFresh(const std::string& path, const std::string& metaPath);
  void merge(const std::string& path, const std::string& metaPath);
  void writeTextExport(std::ostream& out, unsigned fieldMask);

  std::string configPath;
  std::string sessionId = "Uninitialized";
  bool metadata = true;
  bool initialised = false;
  std::unique_ptr<SLManager> manager;
  std::unique_ptr<SimilarityList> list;
  std::map<uint32_t, uint32_t> weights;
  // Borrowed: the host keeps it alive while it is set.
  vraIIDList* whitelist = nullptr;
  // The host's, never freed here.
  vraICallback* callback = nullptr;
  uint32_t lastId = 0;
  // Where the last getSongAt stood, so that a walk over all indices costs
  // one step each: valid while the database keeps its revision.
  struct Cursor {
    uint64_t revision = 0;
    unsigned index = 0;
    AdaptedFeatureDb::const_iterator at;
    bool valid = false;
  } cursor;
};

// The session id of a moment: "%d%d" of the interface version ("091"), the
// local date as "%m%d%y" and the time as "%H%M%S", each read as a decimal
// number and written in lower-case hexadecimal padded to 5 digits, the
// system's version as "%02d%02d" and the tick count modulo 10000 as "%04d":
// 21 characters.
std::string sessionIdText(const std::tm& local, platform::OsVersion os, uint32_t tickCount);

}  // namespace vemra_kivet
