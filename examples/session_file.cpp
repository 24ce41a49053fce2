#include "examples/session_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "api/session_file_header.h"
#include "api/vra_kivet_exception.h"
#include "examples/audio_file.h"
#include "examples/host_failure.h"
#include "examples/save_record.h"
#include "examples/scratch_folder.h"
#include "examples/signature_listing.h"
#include "examples/signal_cleanup.h"
#include "examples/unfinished_saves.h"
#include "metadata/sources/common/standard_exception.h"
#include "platform/write_target.h"
#include "session/session.h"

using namespace vemra_kivet;
namespace fs = std::filesystem;

namespace {

std::string fileContent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The similarity configuration a session file carries, read with the
// library's own session reader; none when it carries none or cannot be read
// (loading it says why).
std::optional<std::string> storedConfiguration(const std::string& path) {
  Session store;
  try {
    store.load(path, "");
  } catch (const StandardException& e) {
    if (std::string(e.what()) != Session::kCorruptedStream) return std::nullopt;
  }
  uint32_t size = 0;
  const char* text = store.getGlobals().getText("XML", size);
  if (text == nullptr) return std::nullopt;
  return std::string(text, size);
}

}  // namespace

// The file a path names: symbolic links in its place are followed as the
// library follows them when it writes (platform/write_target.h; also to a
// file not made yet), so that a session reached through a link is locked,
// loaded and written where it is, and the link stays a link (and an
// export's output is checked where it leads). A path without one, or one
// that leads to no file (a device), stays as given: its folder is the same
// folder by any name, and the user's messages name it as they typed it.
std::string fileBehindLinks(const std::string& given) {
  platform::WriteTarget target;
  if (!platform::resolveWriteTarget(given, target)) {
    if (target.foreignLink.empty()) throw HostFailure(given + ": " + systemText(errno));
    throw HostFailure(given + ": the link " + target.foreignLink +
                      ", in a sticky folder that others may write, belongs to another user; not followed");
  }
  if (target.kind == platform::WriteTarget::Kind::Stream || target.path == given) return given;
  std::error_code error;
  const fs::path real = fs::weakly_canonical(target.path, error);
  return error ? target.path : real.string();
}

std::string otherThanSession(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error) || beginsAsSession(path)) return "";
  if (beginsAsSignature(path)) return "not a session file but a signature file";
  if (isAudioFile(path)) return "not a session file but an audio file";
  return "not a session file, nor an audio or a signature file";
}

std::string metadataPathOf(const std::string& sessionPath) { return Session::metadataPath(sessionPath); }

SessionFile::SessionFile(const std::string& sessionPath, Use use)
    : path(fileBehindLinks(sessionPath)),
      metaPath(metadataPathOf(path)),
      use(use),
      lock(inExistingFolder(path, use), use == Use::Write ? SessionLock::Mode::Exclusive : SessionLock::Mode::Shared) {
  if (use != Use::Write || !lock.held()) return;
  try {
    if (metadataLockPath() != lockPath()) metadataLock = SessionLock::ofMetadata(metaPath, path);
    finishUnfinishedSave(lock, path, metaPath);
  } catch (...) {
    removeLocksOfMissingSession();
    throw;
  }
}

// A session is locked through a lock file beside it: without its folder,
// the user would hear of a lock file they never named.
const std::string& SessionFile::inExistingFolder(const std::string& path, Use use) {
  const fs::path session(path);
  const fs::path folder = session.has_parent_path() ? session.parent_path() : fs::path(".");
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  const std::string consequence = use == Use::Write ? "; no session made" : "";
  if (status.type() == fs::file_type::not_found)
    throw HostFailure(path + ": its folder " + folder.string() + " does not exist" + consequence);
  if (status.type() != fs::file_type::directory && !error)
    throw HostFailure(path + ": " + folder.string() + " is not a folder" + consequence);
  return path;
}

bool SessionFile::isOwnFile(const std::string& input) const {
  std::error_code error;
  for (const std::string& own : {path, metaPath, lockPath(), metadataLockPath()})
    if (fs::equivalent(input, own, error)) return true;
  const fs::path given(input), session(path);
  const fs::path inputFolder = given.has_parent_path() ? given.parent_path() : fs::path(".");
  const fs::path sessionFolder = session.has_parent_path() ? session.parent_path() : fs::path(".");
  return hasSaveShape(given.filename().string(), path, metaPath) && fs::equivalent(inputFolder, sessionFolder, error);
}

SessionFile::~SessionFile() {
  if (session && callback) session->setCallback(nullptr);
  removeLocksOfMissingSession();
}

// A build that made no session leaves no lock file of it behind.
void SessionFile::removeLocksOfMissingSession() const {
  std::error_code ignored;
  if (use != Use::Write || fs::status(path, ignored).type() != fs::file_type::not_found) return;
  if (metadataLock) metadataLock->removeFile();
  lock.removeFile();
}

vraISession& SessionFile::open(const Choices& choices) {
  const bool make = use == Use::Write && !fs::exists(path);
  // A refusal is the one line a build that writes nothing says.
  if (make) refuseTakenMetadataName();
  if (!make && !fs::is_regular_file(path)) throw HostFailure(whyNoSession());
  if (use == Use::Write) refuseUnwritable();
  if (use == Use::Write && lock.held()) noteLeftovers(path, metaPath);
  if (make) {
    const std::string& configuration = choices.similarity ? *choices.similarity : choices.newSimilarity;
    session = makeSession(configuration.c_str(), true);
    created = true;
    return *session;
  }
  load(choices);
  return *session;
}

// A reader finds no session file where the first save of a session was cut
// between its renames: its metadata file is in place, its session file
// staged, and the next build completes the pair.
std::string SessionFile::whyNoSession() const {
  if (fs::exists(path)) return path + ": not a session file";
  if (const std::optional<pid_t> process = lock.held() ? cutSave(lock, path, metaPath) : std::nullopt)
    return path + ": no session file yet: its first save (process " + std::to_string(*process) +
           ") was cut before the session file went in, and waits for the next build to complete it";
  return path + ": no such session (build makes one)";
}

// A build that could not save what it adds fails before it extracts
// anything: the library makes the new files in the session's folder and
// puts them in place of the session file and its metadata file, and the
// build records its save in its lock file first.
void SessionFile::refuseUnwritable() const {
  const fs::path session(path);
  const std::string folder = session.has_parent_path() ? session.parent_path().string() : ".";
  const auto unwritable = [](const std::string& file, int mode) {
    std::error_code error;
    if (!fs::exists(file, error)) return 0;
    return faccessat(AT_FDCWD, file.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
  };
  const struct {
    std::string what;
    int error;
  } checks[] = {{"in its folder " + folder, unwritable(folder, W_OK | X_OK)},
                {"the session file", unwritable(path, W_OK)},
                {"its metadata file " + metaPath, unwritable(metaPath, W_OK)},
                {"its lock file " + lockPath(), lock.held() ? lock.unwritableBecause() : 0}};
  for (const auto& check : checks)
    if (check.error != 0)
      throw HostFailure(path + ": cannot write " + check.what + ": " + systemText(check.error) + "; nothing added");
}

// Two sessions of one name but the extension (NAME.ses, NAME.db) share the
// metadata file NAME.meta: a new session saved beside the other would take
// its texts away.
void SessionFile::refuseTakenMetadataName() const {
  std::error_code error;
  if (fs::exists(fs::symlink_status(metaPath, error)))
    throw HostFailure(path + ": " + metaPath + " is already there (another session's metadata file?); no session made");
}

// The configuration was checked before the session was locked
// (checkSimilarityConfiguration): a session that came or went meanwhile gets
// the library's own failure.
Held<vraISession> SessionFile::makeSession(const char* configuration, bool withTexts) const {
  return Held<vraISession>(step(configuration ? "similarity configuration " + std::string(configuration) : path,
                                [&] { return CreateSession(configuration, withTexts); }));
}

// A build loads the songs with their texts, which the session keeps and
// saves; a reader has them from the file, through a callback. The library
// refuses to load a session with texts whose metadata file is missing, and
// ends the load of one whose file lacks the records of songs with code 29
// (and a line of its own), once it has loaded what is there: the file is
// then checked against the songs loaded, and what it lost is said as for a
// reader. A code 29 that the file does not explain is the session file's.
void SessionFile::load(const Choices& choices) {
  // Without a named configuration the session brings its own.
  namedSimilarity = choices.similarity;
  const char* configuration = choices.similarity ? choices.similarity->c_str() : nullptr;
  const bool withTexts = use == Use::Write && fs::exists(metaPath);
  session = makeSession(configuration, withTexts);
  std::string damagedSession;
  loadFrom(path, withTexts ? &damagedSession : nullptr);
  if (choices.similarity && !storesConfiguration(*choices.similarity)) warnOfOtherConfiguration(*choices.similarity);
  if (use == Use::ReadSongs) return;

  songTexts = std::make_unique<SessionTexts>(metaPath, *session);
  if (!damagedSession.empty() && !songTexts->damaged()) throw HostFailure(damagedSession);
  checkOwnTexts();
  if (songTexts->damaged()) {
    if (!choices.withoutLostTexts)
      throw HostFailure(songTexts->damage() +
                               " (--without-lost-texts goes on without them; a build then loses them for good)");
    std::fprintf(stderr, "kivet-session: %s; going on without their texts\n", songTexts->damage().c_str());
  }
  // A build takes the songs with a whole record each, empty where the texts
  // are lost: the session it saves is whole, and no later command needs to
  // be told to go on without them. So it takes a session without songs
  // whose metadata file is missing (it needs none), which the library would
  // not load with texts.
  if (use == Use::Write && (songTexts->damaged() || !withTexts)) {
    session = makeSession(configuration, true);
    loadWithTexts([&](const std::string& meta) { songTexts->writeWhole(meta); });
    mended = songTexts->damaged();
  }
  if (use == Use::Read) {
    callback = std::make_unique<SessionTextCallback>(*songTexts);
    session->setCallback(callback.get());
  }
}

// The library refuses a session with songs whose metadata file is missing,
// and takes the texts of the metadata file beside it: to load the session
// with other texts, the host loads it under its own name in a folder of its
// own beside it (a hard link costs nothing there), with the metadata file
// that writeMeta writes. Nobody else can have put anything at those names.
// The folder is named in the lock's record before it is made and while it is
// there, so that a later build removes it if this one cannot
// (examples/unfinished_saves.h).
void SessionFile::loadWithTexts(const std::function<void(const std::string&)>& writeMeta) const {
  std::optional<SaveRecord> record = SaveRecord::ofThisProcess();
  try {
    loadThroughFolder(writeMeta, record);
  } catch (...) {
    if (record) lock.setRecord("");
    throw;
  }
  if (record) lock.setRecord("");
}

void SessionFile::loadThroughFolder(const std::function<void(const std::string&)>& writeMeta,
                                    std::optional<SaveRecord>& record) const {
  const fs::path session(path);
  const fs::path folder = session.has_parent_path() ? session.parent_path() : fs::path(".");
  const std::string prefix = SaveRecord::loadFolderPrefix(path, getpid());
  const ScratchFolder::Naming recordFolder = [&](const std::string& characters) {
    if (!record) return;
    record->loadFolder = characters;
    lock.setRecord(record->text());
  };
  ScratchFolder scratch = step(path, [&] { return ScratchFolder(folder.string(), prefix, recordFolder); });
  const std::string alias = scratch.file(session.filename().string());
  const std::string aliasMeta = scratch.file(fs::path(metaPath).filename().string());
  step(path, [&] {
    std::error_code linkError;
    fs::create_hard_link(path, alias, linkError);
    if (linkError) fs::copy_file(path, alias);
  });
  step(metaPath, [&] { writeMeta(aliasMeta); });
  loadFrom(alias);
}

// Sessions of one name but the extension share one metadata file: after
// cp music.ses music.bak, a build of music.bak gives its new songs the next
// ids of its own and writes their texts there, where music.ses would take
// them for its songs of those ids. The texts of songs the session does not
// hold show it: a writer refuses to write them as its own, a reader goes on
// with its own songs. A save of this session cut between its renames (its
// new songs' texts are in, its session file still staged) shows the same:
// a writer gets here only when no record shows it, which would have
// completed it, and a reader that a record shows it to is told so instead.
void SessionFile::checkOwnTexts() const {
  const std::string others = songTexts->othersIds();
  if (others.empty()) return;
  const std::string texts = path + ": the metadata file " + metaPath + " holds texts of songs that are not this " +
                            "session's (" + others + "), written there by another session that shares it (a " +
                            "copy, or the session it was copied from) or by a save of this one cut between its " +
                            "renames";
  if (use == Use::Write)
    throw HostFailure(texts + "; nothing written (a copy of a session takes its metadata file along, under its " +
                      "new name)");
  if (const std::optional<pid_t> process = lock.held() ? cutSave(lock, path, metaPath) : std::nullopt)
    std::fprintf(stderr,
                 "kivet-session: %s: a save of the session (process %d) was cut between its renames, and waits for "
                 "the next build to complete it; shown as before it\n",
                 path.c_str(), static_cast<int>(*process));
  else
    std::fprintf(stderr, "kivet-session: %s (a build of this session refuses it)\n", texts.c_str());
}

std::string SessionFile::id() const {
  std::ifstream in(path, std::ios::binary);
  return step(path, [&] { return SessionFileHeader::read(in).sessionId; });
}

// The library refuses a session of songs that the session's classifiers
// cannot compare as a damaged one; with another configuration named, that is
// what the user has to hear. With damaged given, any other damage (code 29:
// the library has loaded what it could read) is said there instead of
// failing, for the caller to tell from a metadata file that lacks records.
void SessionFile::loadFrom(const std::string& file, std::string* damaged) const {
  step(path, [&] {
    try {
      session->loadSession(file.c_str());
    } catch (const vraKivetException& e) {
      if (e.getCode() != VRA_CORRUPTED_SESSION) throw;
      if (namedSimilarity && !storesConfiguration(*namedSimilarity))
        throw HostFailure(path + ": the classifiers of " + *namedSimilarity +
                          " cannot compare its songs, which the similarity configuration stored in it adapted (" +
                          describeCurrentException() + ")");
      if (damaged == nullptr) throw;
      *damaged = path + ": " + describeCurrentException();
    }
  });
}

bool SessionFile::storesConfiguration(const std::string& similarity) const {
  const std::optional<std::string> stored = storedConfiguration(path);
  return stored && *stored == fileContent(similarity);
}

void SessionFile::warnOfOtherConfiguration(const std::string& similarity) const {
  std::fprintf(stderr,
               "kivet-session: warning: %s differs from the similarity configuration stored in %s; its methods "
               "compare the songs of this command, though the stored songs were adapted by the stored one\n",
               similarity.c_str(), path.c_str());
}

void SessionFile::save() {
  // SIGINT, SIGTERM and SIGHUP wait until the save has finished or been
  // undone and its record is cleared: only SIGKILL or a power cut can leave
  // one unfinished, and its record then tells the next build what it made.
  const SignalCleanup::Held held;
  const std::optional<SaveRecord> record = SaveRecord::ofSave(path, metaPath);
  if (record) lock.setRecord(record->text());
  // The library replaces the session and its metadata file together, or
  // leaves both as they were.
  try {
    writingStep("saving " + path, path, [&] { session->saveSession(path.c_str()); });
  } catch (...) {
    if (record) lock.setRecord("");
    throw;
  }
  if (record) lock.setRecord("");
}
