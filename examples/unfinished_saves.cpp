#include "examples/unfinished_saves.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <vector>

#include "api/session_file_header.h"
#include "examples/host_failure.h"
#include "examples/save_record.h"
#include "examples/signal_cleanup.h"
#include "session/metadata_store.h"
#include "session/session.h"

namespace fs = std::filesystem;
using vemra_kivet::SessionFileHeader;

namespace {

// Names of what looks left over listed in the note, at most.
constexpr size_t kMostNamesNoted = 10;

// The names of the recorded save that are there now and were not there
// before it began.
struct SaveFiles {
  std::vector<std::string> sessionStaged, sessionKept, metaStaged, metaKept;

  std::vector<std::string> all() const {
    std::vector<std::string> files;
    for (const auto* group : {&metaStaged, &sessionStaged, &metaKept, &sessionKept})
      files.insert(files.end(), group->begin(), group->end());
    return files;
  }
  // Cut between the renames: the metadata file went in, the session file
  // did not.
  bool cut() const { return metaStaged.empty() && !sessionStaged.empty(); }
};

// Whether path is a file of the kind a save makes there: a regular file,
// not a link. Anything else put at such a name since is not the save's.
bool isSaveFile(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

SaveFiles filesOf(const SaveRecord& record, const std::string& session, const std::string& meta) {
  SaveFiles files;
  for (const SaveRecord::Name& name : SaveRecord::allNames()) {
    if (std::find(record.before.begin(), record.before.end(), name) != record.before.end()) continue;
    const std::string path = name.path(session, meta, record.process.pid);
    if (!isSaveFile(path)) continue;
    auto& group = name.meta ? (name.kept ? files.metaKept : files.metaStaged)
                            : (name.kept ? files.sessionKept : files.sessionStaged);
    group.push_back(path);
  }
  return files;
}

std::string listOf(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

// How the user puts a pair back whole by hand, as the README says.
std::string recipe(const std::string& session, const std::string& meta, const std::string& process) {
  return "a pair is put back by hand by renaming " + session + "." + process + ".tmp over " + session + ", or " +
         meta + "." + process + ".old over " + meta + ", then removing the other names of " + process;
}

// Whether two regular files hold the same bytes: the same file, or a copy.
// Neither is opened through a link nor waited on as a pipe.
bool sameFile(const std::string& one, const std::string& other) {
  const int a = open(one.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  const int b = open(other.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat x {}, y {};
  bool same = a >= 0 && b >= 0 && fstat(a, &x) == 0 && fstat(b, &y) == 0 && S_ISREG(x.st_mode) &&
              S_ISREG(y.st_mode) && x.st_size == y.st_size;
  if (same && (x.st_dev != y.st_dev || x.st_ino != y.st_ino)) {
    std::vector<char> chunkA(64 * 1024), chunkB(chunkA.size());
    for (;;) {
      const ssize_t gotA = read(a, chunkA.data(), chunkA.size());
      const ssize_t gotB = gotA > 0 ? read(b, chunkB.data(), static_cast<size_t>(gotA)) : 0;
      same = gotA >= 0 && gotA == gotB && std::equal(chunkA.begin(), chunkA.begin() + gotA, chunkB.begin());
      if (!same || gotA == 0) break;
    }
  }
  if (a >= 0) close(a);
  if (b >= 0) close(b);
  return same;
}

// The song ids of a session file, read with the library's own session
// store, without its metadata file; none when it does not load whole.
std::optional<std::set<uint64_t>> songsOfSession(const std::string& path) {
  Session store;
  try {
    store.load(path, "");
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (store.getDatabase() == nullptr) return std::nullopt;
  std::set<uint64_t> ids;
  for (const auto& entry : store.getDatabase()->getEntries()) ids.insert(entry.first);
  return ids;
}

// The ids of a metadata file's records; none when it cannot be read.
std::optional<std::set<uint64_t>> songsOfMetadata(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  MetadataStore store;
  try {
    store.read(path.c_str(), false);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  std::set<uint64_t> ids;
  for (const auto& record : store.all()) ids.insert(record.first);
  return ids;
}

std::optional<std::string> sessionIdOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  try {
    const SessionFileHeader header = SessionFileHeader::read(in);
    if (header.hasSessionId) return header.sessionId;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

// Whether the files prove the pair a save cut between its renames made:
// the session file is the one the save replaced (the kept one, or none
// where none was kept), and the staged session file holds that session's
// id and the songs the metadata file now in place describes.
bool provePair(const SaveFiles& files, const std::string& session, const std::string& meta) {
  if (files.sessionStaged.size() != 1 || files.sessionKept.size() > 1 || files.metaKept.size() > 1) return false;
  const std::string& staged = files.sessionStaged.front();
  const bool sessionThere = isSaveFile(session);
  if (files.sessionKept.empty() ? sessionThere : !sameFile(files.sessionKept.front(), session)) return false;
  const std::optional<std::set<uint64_t>> songs = songsOfSession(staged);
  if (!songs || songs != songsOfMetadata(meta)) return false;
  if (!sessionThere) return true;
  const std::optional<std::string> id = sessionIdOf(staged);
  return id && id == sessionIdOf(session);
}

// Removes the files of paths that are there, adding each to removed.
void removeFiles(const std::vector<std::string>& paths, std::vector<std::string>& removed) {
  for (const std::string& path : paths)
    if (unlink(path.c_str()) == 0) removed.push_back(path);
}

// The recorded load folder goes with the session and metadata file the
// build put in it; anything else in it stays, and so does the folder then.
void removeLoadFolder(const SaveRecord& record, const std::string& session, const std::string& meta,
                      std::vector<std::string>& removed) {
  if (record.loadFolder.empty()) return;
  const fs::path folder =
      fs::path(session).parent_path() / (SaveRecord::loadFolderPrefix(session, record.process.pid) + record.loadFolder);
  struct stat status {};
  if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
  for (const fs::path& file : {folder / fs::path(session).filename(), folder / fs::path(meta).filename()})
    unlink(file.c_str());
  if (rmdir(folder.c_str()) == 0) removed.push_back(folder.string());
}

// Acts on the record of a save (or load) of a run that has let its lock go.
void finish(const SaveRecord& record, const std::string& session, const std::string& meta) {
  const std::string process = std::to_string(record.process.pid);
  const SaveFiles files = record.saving ? filesOf(record, session, meta) : SaveFiles();
  const bool cut = files.cut();
  if (cut && !provePair(files, session, meta))
    throw HostFailure(session + ": a save (process " + process + ") stopped between its two renames, and " +
                      listOf(files.all()) + " do not prove the pair it saved: nothing touched, and nothing added, " +
                      "as adding now would lose texts (" + recipe(session, meta, process) + ")");
  std::vector<std::string> removed;
  removeLoadFolder(record, session, meta, removed);
  if (cut) {
    const std::string& staged = files.sessionStaged.front();
    if (rename(staged.c_str(), session.c_str()) != 0)
      throw HostFailure(session + ": cannot complete the save that process " + process + " did not finish, putting " +
                        staged + " in place: " + systemText(errno));
    std::fprintf(stderr,
                 "kivet-session: %s: completed the save that process %s did not finish: its session file joins the "
                 "metadata file it had put in place\n",
                 session.c_str(), process.c_str());
    removeFiles(files.sessionKept, removed);
    removeFiles(files.metaKept, removed);
  } else {
    // Nothing renamed yet (a staged metadata file is there), or both
    // renames done or undone: what is left are staged files that never went
    // in and kept files of a pair that is whole.
    removeFiles(files.all(), removed);
  }
  if (!removed.empty())
    std::fprintf(stderr, "kivet-session: removed %s, left by a run (process %s) that did not finish\n",
                 listOf(removed).c_str(), process.c_str());
}

bool allDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// What a name's part after "FILE." looks like: the library's staged or kept
// names (D.tmp, D.D.old, D a number) or, beside the session file, a load
// folder (D.load-...).
enum class Shape { Other, SaveFile, LoadFolder };

Shape shapeOf(const std::string& rest, bool ofSession) {
  const size_t dot = rest.find('.');
  if (dot == std::string::npos || !allDigits(rest.substr(0, dot))) return Shape::Other;
  const std::string after = rest.substr(dot + 1);
  if (ofSession && after.compare(0, 5, "load-") == 0) return Shape::LoadFolder;
  const size_t second = after.find('.');
  if (second != std::string::npos && !allDigits(after.substr(0, second))) return Shape::Other;
  const std::string ending = second == std::string::npos ? after : after.substr(second + 1);
  return ending == "tmp" || ending == "old" ? Shape::SaveFile : Shape::Other;
}

// One line naming names (sorted, the first few) that stay beside session.
void noteNames(const std::string& session, std::vector<std::string> names, const char* what, const std::string& how) {
  if (names.empty()) return;
  std::sort(names.begin(), names.end());
  const size_t shown = std::min(names.size(), kMostNamesNoted);
  std::string list = listOf(std::vector<std::string>(names.begin(), names.begin() + static_cast<long>(shown)));
  if (names.size() > kMostNamesNoted) list += " and " + std::to_string(names.size() - kMostNamesNoted) + " more";
  std::fprintf(stderr,
               "kivet-session: %s: left as they are, as no record shows them made by %s that did not finish: %s "
               "(%s)\n",
               session.c_str(), what, list.c_str(), how.c_str());
}

// The shape of name beside the session file sessionName and its metadata
// file metaName.
Shape shapeBeside(const std::string& name, const std::string& sessionName, const std::string& metaName) {
  for (const std::string* file : {&sessionName, &metaName}) {
    if (name.size() <= file->size() + 1 || name.compare(0, file->size() + 1, *file + ".") != 0) continue;
    const Shape shape = shapeOf(name.substr(file->size() + 1), file == &sessionName);
    if (shape != Shape::Other) return shape;
  }
  return Shape::Other;
}

}  // namespace

bool hasSaveShape(const std::string& name, const std::string& session, const std::string& meta) {
  return shapeBeside(name, fs::path(session).filename().string(), fs::path(meta).filename().string()) != Shape::Other;
}

void noteLeftovers(const std::string& session, const std::string& meta) {
  const fs::path sessionFile(session), metaFile(meta);
  const fs::path folder = sessionFile.has_parent_path() ? sessionFile.parent_path() : fs::path(".");
  const std::string sessionName = sessionFile.filename().string(), metaName = metaFile.filename().string();
  std::vector<std::string> files, folders;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    const Shape shape = shapeBeside(name, sessionName, metaName);
    if (shape == Shape::SaveFile) files.push_back(name);
    if (shape == Shape::LoadFolder) folders.push_back(name);
  }
  noteNames(session, files, "a save", recipe(sessionName, metaName, "P"));
  noteNames(session, folders, "a build",
            "a folder a build loads the session through holds nothing but copies of its files: it can be removed");
}

std::optional<pid_t> cutSave(const SessionLock& lock, const std::string& sessionPath, const std::string& metaPath) {
  const std::optional<SaveRecord> record = SaveRecord::parse(lock.record());
  if (!record || !record->saving || !filesOf(*record, sessionPath, metaPath).cut()) return std::nullopt;
  return record->process.pid;
}

void finishUnfinishedSave(const SessionLock& lock, const std::string& sessionPath, const std::string& metaPath) {
  const std::string text = lock.record();
  if (text.empty()) return;
  const std::optional<SaveRecord> record = SaveRecord::parse(text);
  if (!record) {
    std::fprintf(stderr,
                 "kivet-session: %s holds no save record that this program reads; nothing beside the session is "
                 "completed or removed\n",
                 lock.file().c_str());
    return;
  }
  // The recorder writes the record holding this lock alone, and clears it
  // before it lets the lock go unless it ends first: a record found under
  // the lock is of a run that no longer saves, whatever /proc says of its
  // process (one killed lets its lock go a moment before /proc stops listing
  // it).
  // A signal waits until the session's files and the record agree.
  const SignalCleanup::Held held;
  finish(*record, sessionPath, metaPath);
  lock.setRecord("");
}
