#include "examples/unfinished_saves.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "examples/host_failure.h"

namespace fs = std::filesystem;

namespace {

// What one ended process left: its staged and kept files of the session
// file and of the metadata file, and its load folders.
struct Leftovers {
  std::vector<fs::path> sessionStaged, sessionKept, metaStaged, metaKept, loadFolders;
};

bool isNumber(const std::string& text) {
  return !text.empty() && text.size() <= 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator)
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

enum class Shape { None, Staged, Kept, LoadFolder };

// The shape of rest, the part of a name after "FILE.", and the process id in
// it: "P.tmp", "P.N.tmp", "P.old", "P.N.old", or "P.load-" and six characters
// of mkdtemp's.
Shape shapeOf(const std::string& rest, std::string& process) {
  const std::vector<std::string> parts = split(rest, '.');
  if (parts.size() < 2 || parts.size() > 3 || !isNumber(parts[0])) return Shape::None;
  process = parts[0];
  const std::string& last = parts.back();
  if (parts.size() == 3 && !isNumber(parts[1])) return Shape::None;
  if (last == "tmp") return Shape::Staged;
  if (last == "old") return Shape::Kept;
  const std::string load = "load-";
  if (parts.size() == 2 && last.size() == load.size() + 6 && last.compare(0, load.size(), load) == 0)
    return Shape::LoadFolder;
  return Shape::None;
}

// Whether the process has ended: no process of that id exists, whoever's it
// would be. A number that names no process at all (0) is no run's.
bool hasEnded(const std::string& process) {
  const unsigned long id = std::stoul(process);
  if (id == 0 || id > static_cast<unsigned long>(INT_MAX)) return false;
  return kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH;
}

// Whether the file at path is a file that a save writes there: a session
// file or a metadata file, begun at least (a run ended while writing it), or
// a file made and not written yet. Any other file at such a name is someone's
// own and stays.
bool holdsASave(const fs::path& path, bool metadata) {
  static const std::string kSessionStart("\3\0\0\0SES", 7);
  static const std::string kMetadataStart = "<METAFILE>\n";
  const std::string& start = metadata ? kMetadataStart : kSessionStart;
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error))) return false;
  std::ifstream in(path, std::ios::binary);
  std::string head(start.size(), '\0');
  in.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return in.is_open() && !in.bad() && start.compare(0, head.size(), head) == 0;
}

void removeLeftover(const fs::path& path, const std::string& process) {
  std::error_code error;
  if (fs::remove(path, error))
    std::fprintf(stderr, "kivet-session: removed %s, left by a run (process %s) that did not finish\n", path.c_str(),
                 process.c_str());
}

// A load folder holds the session under its own name and the metadata file
// written for it; anything else in it stays, and so does the folder then.
void removeLoadFolder(const fs::path& folder, const std::string& process, const fs::path& session,
                      const fs::path& meta) {
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(folder, error))) return;
  for (const fs::path& file : {folder / session.filename(), folder / meta.filename()})
    if (holdsASave(file, file.filename() == meta.filename())) fs::remove(file, error);
  removeLeftover(folder, process);
}

}  // namespace

void finishUnfinishedSaves(const std::string& sessionPath, const std::string& metaPath) {
  const fs::path session(sessionPath), meta(metaPath);
  const fs::path folder = session.has_parent_path() ? session.parent_path() : fs::path(".");
  const std::string sessionName = session.filename().string() + ".";
  const std::string metaName = meta.filename().string() + ".";
  const std::string self = std::to_string(getpid());
  std::map<std::string, Leftovers> ended;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    std::string process;
    for (const bool ofSession : {true, false}) {
      const std::string& head = ofSession ? sessionName : metaName;
      if (name.compare(0, head.size(), head) != 0) continue;
      const Shape shape = shapeOf(name.substr(head.size()), process);
      if (shape == Shape::None || process == self) continue;
      if (shape != Shape::LoadFolder && !holdsASave(entry.path(), !ofSession)) continue;
      Leftovers& left = ended[process];
      if (shape == Shape::Staged) (ofSession ? left.sessionStaged : left.metaStaged).push_back(entry.path());
      if (shape == Shape::Kept) (ofSession ? left.sessionKept : left.metaKept).push_back(entry.path());
      if (shape == Shape::LoadFolder && ofSession) left.loadFolders.push_back(entry.path());
    }
  }
  for (auto& [process, left] : ended) {
    const bool ofThisSession = !left.sessionStaged.empty() || !left.sessionKept.empty() || !left.loadFolders.empty();
    if (!ofThisSession || !hasEnded(process)) continue;
    // Ended between the renames: the new metadata file is in place (its
    // staged name is gone), the old one kept aside, the new session file
    // staged and whole, as both were flushed before the first rename.
    if (left.sessionStaged.size() == 1 && left.metaStaged.empty() && left.metaKept.size() == 1) {
      const fs::path staged = left.sessionStaged.front();
      fs::rename(staged, session, error);
      if (error)
        throw HostFailure(sessionPath + ": cannot complete the save that process " + process +
                          " did not finish, putting " + staged.string() + " in place: " +
                          systemText(error.value()));
      left.sessionStaged.clear();
      std::fprintf(stderr,
                   "kivet-session: %s: completed the save that process %s did not finish: its session file "
                   "joins the metadata file it had put in place\n",
                   sessionPath.c_str(), process.c_str());
    }
    for (const auto* files : {&left.sessionStaged, &left.sessionKept, &left.metaStaged, &left.metaKept})
      for (const fs::path& file : *files) removeLeftover(file, process);
    for (const fs::path& loadFolder : left.loadFolders) removeLoadFolder(loadFolder, process, session, meta);
  }
}
