#include "api/staged_files.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/file_replace.h"

namespace fs = std::filesystem;
using platform::NewName;

namespace vemra_kivet {

namespace {

// Names tried beside one target before the save gives up: someone who may
// write in the folder can keep a save from happening there anyway.
constexpr int kMostNames = 100;

// The first of TARGET.P.SUFFIX, TARGET.P.1.SUFFIX, TARGET.P.2.SUFFIX, ...
// that make makes; empty (errno set) when make fails or every name is taken.
template <typename Make>
std::string makeBeside(const std::string& target, const char* suffix, Make&& make) {
  const std::string stem = target + "." + std::to_string(platform::currentProcessId());
  for (int n = 0; n < kMostNames; ++n) {
    std::string name = n == 0 ? stem + suffix : stem + "." + std::to_string(n) + suffix;
    const NewName made = make(name);
    if (made == NewName::Made) return name;
    if (made == NewName::Failed) return std::string();
  }
  errno = EEXIST;
  return std::string();
}

// Runs cleanup without letting it change errno, which names why a step failed.
template <typename Cleanup>
void keepingErrno(Cleanup&& cleanup) {
  const int error = errno;
  cleanup();
  errno = error;
}

}  // namespace

StagedFiles::~StagedFiles() {
  keepingErrno([&] {
    for (Entry& entry : entries) {
      // Closed first: Windows removes no open file.
      entry.stream.reset();
      entry.file.reset();
      if (!entry.temporary.empty()) std::remove(entry.temporary.c_str());
    }
  });
}

std::ostream& StagedFiles::write(const std::string& target, platform::NewFile::Mode mode) {
  Entry entry;
  entry.target = target;
  entry.file = std::make_unique<platform::NewFile>();
  entry.temporary =
      makeBeside(target, ".tmp", [&](const std::string& name) { return entry.file->create(name, mode); });
  // Without a file the stream has failed from the start.
  entry.stream = std::make_unique<std::ostream>(entry.temporary.empty() ? nullptr : entry.file.get());
  entries.push_back(std::move(entry));
  return *entries.back().stream;
}

void StagedFiles::remove(const std::string& target) {
  Entry entry;
  entry.target = target;
  entries.push_back(std::move(entry));
}

bool StagedFiles::flush() {
  for (Entry& entry : entries) {
    if (!entry.file) continue;
    if (entry.temporary.empty()) return false;
    entry.stream->flush();
    if (!*entry.stream || !entry.file->flushToDiskAndClose()) return false;
  }
  return true;
}

// A second link to the file at the target costs nothing and is the file
// itself; where the file system has no links, a copy of its bytes stands in.
// A folder or anything else that is no file is not kept: nothing replaces it.
bool StagedFiles::keepAside(Entry& entry) const {
  std::error_code error;
  const fs::file_type type = fs::symlink_status(entry.target, error).type();
  if (type != fs::file_type::regular && type != fs::file_type::symlink) return true;
  bool noLinks = false;
  entry.kept = makeBeside(entry.target, ".old", [&](const std::string& name) {
    const NewName made = platform::makeHardLink(entry.target, name);
    noLinks = made == NewName::Failed;
    return made;
  });
  if (!entry.kept.empty() || !noLinks) return !entry.kept.empty();

  platform::NewFile copy;
  entry.kept = makeBeside(entry.target, ".old", [&](const std::string& name) { return copy.create(name); });
  if (entry.kept.empty()) return false;
  std::ifstream in(entry.target, std::ios::binary);
  std::ostream out(&copy);
  std::vector<char> chunk(64 * 1024);
  bool whole = in.is_open();
  while (whole && in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    whole = static_cast<bool>(out.write(chunk.data(), in.gcount()));
  }
  whole = whole && !in.bad() && out.flush() && copy.flushToDiskAndClose();
  // A copy cut short (a full disk) would hold part of the file only.
  if (!whole) keepingErrno([&] { std::remove(entry.kept.c_str()); });
  if (!whole) entry.kept.clear();
  return whole;
}

bool StagedFiles::commit() {
  const auto fail = [&] {
    keepingErrno([&] {
      undo();
      dropKept();
    });
    return false;
  };
  if (!flush()) return false;
  for (Entry& entry : entries)
    if (!keepAside(entry)) return fail();
  for (Entry& entry : entries) {
    const bool done = entry.file ? platform::replaceFile(entry.temporary, entry.target)
                                 : entry.kept.empty() || std::remove(entry.target.c_str()) == 0;
    if (!done) return fail();
    // The name is the target's now, no longer this object's to remove.
    entry.temporary.clear();
    entry.done = true;
  }
  keepingErrno([&] { dropKept(); });
  return true;
}

// Last step first: each target gets back what stood there, or loses the
// file that was put where none stood.
void StagedFiles::undo() {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (!entry->done) continue;
    if (!entry->kept.empty()) {
      platform::replaceFile(entry->kept, entry->target);
      entry->kept.clear();
    } else if (entry->file) {
      std::remove(entry->target.c_str());
    }
    entry->done = false;
  }
}

void StagedFiles::dropKept() {
  for (Entry& entry : entries) {
    if (!entry.kept.empty()) std::remove(entry.kept.c_str());
    entry.kept.clear();
  }
}

}  // namespace vemra_kivet
