#include "examples/session_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "api/session_file_header.h"
#include "api/vra_kivet_exception.h"
#include "examples/host_failure.h"
#include "examples/signature_listing.h"
#include "metadata/sources/common/standard_exception.h"
#include "session/session.h"

using namespace vemra_kivet;
namespace fs = std::filesystem;

namespace {

const char kPartial[] = "-partial-";
const char kMetaExtension[] = ".meta";

// Where the extension of the path's file name begins: at its last "." (the
// end of the path when the name has none).
size_t extensionStart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : path.size();
}

// The shapes of the files a killed writer can leave beside the session
// NAME.EXT, as the pieces between which a process id stands: the library's
// files of a save, staged (NAME.EXT.PID.tmp) and the old ones kept aside
// (NAME.EXT.PID.old), for the session and for its metadata file; the
// partial names a load without metadata file goes through
// (NAME-partial-PID.EXT); and the library's staged files of those, which
// earlier versions saved through (NAME-partial-PID.EXT.PID.tmp).
std::vector<std::vector<std::string>> leftoverShapes(const std::string& name) {
  const size_t cut = extensionStart(name);
  const std::string stem = name.substr(0, cut);
  std::vector<std::vector<std::string>> shapes;
  for (const std::string& extension : {name.substr(cut), std::string(kMetaExtension)}) {
    shapes.push_back({stem + extension + ".", ".tmp"});
    shapes.push_back({stem + extension + ".", ".old"});
    shapes.push_back({stem + kPartial, extension});
    shapes.push_back({stem + kPartial, extension + ".", ".tmp"});
  }
  return shapes;
}

// The process ids in file, when it has the shape; none when it has not. The
// pieces after an id begin with "." or end the name, so an id is every digit
// up to the next piece.
std::optional<std::vector<std::string>> idsIn(const std::string& file, const std::vector<std::string>& shape) {
  std::vector<std::string> ids;
  size_t at = 0;
  for (size_t piece = 0; piece < shape.size(); ++piece) {
    if (piece > 0) {
      const size_t end = std::min(file.find_first_not_of("0123456789", at), file.size());
      if (end == at) return std::nullopt;
      ids.push_back(file.substr(at, end - at));
      at = end;
    }
    if (file.compare(at, shape[piece].size(), shape[piece]) != 0) return std::nullopt;
    at += shape[piece].size();
  }
  if (at != file.size()) return std::nullopt;
  return ids;
}

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

// The file a session path names: a symbolic link in its place is followed
// (also one to a session not made yet), so that a session reached through a
// link is locked, loaded and written where it is, and the link stays a
// link. A path without one stays as given: its folder is the same folder
// by any name, and the user's messages name it as they typed it.
std::string sessionFileOf(const std::string& given) {
  // As many links as the system follows in one path.
  constexpr int kMostLinks = 40;
  fs::path file = given;
  std::error_code error;
  for (int links = 0; fs::is_symlink(fs::symlink_status(file, error)); ++links) {
    const fs::path target = fs::read_symlink(file, error);
    if (error || links == kMostLinks)
      throw HostFailure(given + ": " + systemText(error ? error.value() : ELOOP));
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  if (file == given) return given;
  const fs::path real = fs::weakly_canonical(file, error);
  return error ? file.string() : real.string();
}

}  // namespace

std::string metadataPathOf(const std::string& sessionPath) {
  return sessionPath.substr(0, extensionStart(sessionPath)) + kMetaExtension;
}

SessionFile::SessionFile(const std::string& sessionPath, Use use)
    : path(sessionFileOf(sessionPath)),
      metaPath(metadataPathOf(path)),
      use(use),
      lock(path, use == Use::Write ? SessionLock::Mode::Exclusive : SessionLock::Mode::Shared) {
  if (use == Use::Write) removeLeftovers();
}

SessionFile::~SessionFile() {
  if (session && callback) session->setCallback(nullptr);
  // A build that made no session leaves no lock file of it behind.
  std::error_code ignored;
  if (use == Use::Write && fs::status(path, ignored).type() == fs::file_type::not_found) lock.removeFile();
}

std::string SessionFile::partialPath() const {
  const size_t cut = extensionStart(path);
  return path.substr(0, cut) + kPartial + std::to_string(getpid()) + path.substr(cut);
}

// Under the exclusive lock no other run is writing beside the session: what
// another process left there is a killed writer's. A leftover of the library's
// save is a staged copy or an old file kept aside while the new one was put
// in place, so removing it loses nothing. Files of this process's id are its
// own to write over.
void SessionFile::removeLeftovers() const {
  const fs::path session(path);
  const std::vector<std::vector<std::string>> shapes = leftoverShapes(session.filename().string());
  const std::string self = std::to_string(getpid());
  const fs::path folder = session.has_parent_path() ? session.parent_path() : fs::path(".");
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string file = entry.path().filename().string();
    const bool leftover = std::any_of(shapes.begin(), shapes.end(), [&](const std::vector<std::string>& shape) {
      const std::optional<std::vector<std::string>> ids = idsIn(file, shape);
      return ids && std::find(ids->begin(), ids->end(), self) == ids->end();
    });
    std::error_code removeError;
    if (leftover && fs::remove(entry.path(), removeError))
      std::fprintf(stderr, "kivet-session: removed %s, left by a run that did not finish\n", entry.path().c_str());
  }
}

vraISession& SessionFile::open(const Choices& choices) {
  if (use == Use::Write && !fs::exists(path)) {
    const std::string& configuration = choices.similarity ? *choices.similarity : choices.newSimilarity;
    session = makeSession(configuration.c_str());
    created = true;
    return *session;
  }
  if (!fs::is_regular_file(path))
    throw HostFailure(path + (fs::exists(path) ? ": not a session file" : ": no such session (build makes one)"));
  load(choices);
  return *session;
}

Held<vraISession> SessionFile::makeSession(const char* configuration) const {
  const std::string unreadable = configuration ? unreadableBecause(configuration) : "";
  if (!unreadable.empty())
    throw HostFailure("cannot read the similarity configuration " + std::string(configuration) + ": " + unreadable);
  const bool withTexts = use == Use::Write;
  return Held<vraISession>(step(configuration ? "similarity configuration " + std::string(configuration) : path,
                                [&] { return CreateSession(configuration, withTexts); }));
}

void SessionFile::load(const Choices& choices) {
  // Without a named configuration the session brings its own.
  namedSimilarity = choices.similarity;
  const char* configuration = choices.similarity ? choices.similarity->c_str() : nullptr;
  session = makeSession(configuration);
  if (use == Use::Write && !fs::exists(metaPath))
    loadWithTexts([](const std::string& meta) { std::ofstream(meta, std::ios::binary | std::ios::trunc); });
  else
    loadFrom(path);
  if (choices.similarity && !storesConfiguration(*choices.similarity)) warnOfOtherConfiguration(*choices.similarity);
  if (use == Use::ReadSongs) return;

  songTexts = std::make_unique<SessionTexts>(metaPath, *session);
  if (songTexts->damaged()) {
    if (!choices.withoutLostTexts)
      throw HostFailure(songTexts->damage() +
                               " (--without-lost-texts goes on without them; a build then loses them for good)");
    std::fprintf(stderr, "kivet-session: %s; going on without their texts\n", songTexts->damage().c_str());
    // A build takes the songs with a whole record each, empty where the
    // texts are lost: the session it saves is whole, and no later command
    // needs to be told to go on without them.
    if (use == Use::Write) {
      session = makeSession(configuration);
      loadWithTexts([&](const std::string& meta) { songTexts->writeWhole(meta); });
    }
  }
  if (use == Use::Read) {
    callback = std::make_unique<SessionTextCallback>(*songTexts);
    session->setCallback(callback.get());
  }
}

// The library refuses a session with songs whose metadata file is missing,
// and takes the texts of the metadata file beside it: to load the session
// with other texts, the host loads it through a second name beside it, with
// the metadata file that writeMeta writes.
void SessionFile::loadWithTexts(const std::function<void(const std::string&)>& writeMeta) const {
  const std::string partial = partialPath();
  const std::string partialMeta = metadataPathOf(partial);
  try {
    std::error_code linkError;
    fs::create_hard_link(path, partial, linkError);
    if (linkError) fs::copy_file(path, partial, fs::copy_options::overwrite_existing);
    step(partialMeta, [&] { writeMeta(partialMeta); });
    loadFrom(partial);
  } catch (...) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    fs::remove(partialMeta, ignored);
    throw;
  }
  fs::remove(partial);
  fs::remove(partialMeta);
}

std::string SessionFile::id() const {
  std::ifstream in(path, std::ios::binary);
  return step(path, [&] { return SessionFileHeader::read(in).sessionId; });
}

// The library refuses a session of songs that the session's classifiers
// cannot compare as a damaged one; with another configuration named, that is
// what the user has to hear.
void SessionFile::loadFrom(const std::string& file) const {
  step(path, [&] {
    try {
      session->loadSession(file.c_str());
    } catch (const vraKivetException& e) {
      if (e.getCode() != VRA_CORRUPTED_SESSION || !namedSimilarity || storesConfiguration(*namedSimilarity)) throw;
      throw HostFailure(path + ": the classifiers of " + *namedSimilarity +
                        " cannot compare its songs, which the similarity configuration stored in it adapted (" +
                        describeCurrentException() + ")");
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
  // The library replaces the session and its metadata file together, or
  // leaves both as they were.
  writingStep("saving " + path, [&] { session->saveSession(path.c_str()); });
}
