#include "api/staged_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/file_replace.h"

namespace fs = std::filesystem;

namespace vemra_kivet {

namespace {

std::string besideTarget(const std::string& target, const char* suffix) {
  return target + "." + std::to_string(platform::currentProcessId()) + suffix;
}

}  // namespace

StagedFiles::~StagedFiles() {
  if (committed) return;
  for (const Entry& entry : entries)
    if (!entry.temporary.empty()) std::remove(entry.temporary.c_str());
}

std::string StagedFiles::write(const std::string& target) {
  entries.push_back({target, besideTarget(target, ".tmp"), std::string()});
  return entries.back().temporary;
}

void StagedFiles::remove(const std::string& target) { entries.push_back({target, std::string(), std::string()}); }

bool StagedFiles::flush() const {
  for (const Entry& entry : entries)
    if (!entry.temporary.empty() && !platform::flushFileToDisk(entry.temporary)) return false;
  return true;
}

// A second link to the file at the target costs nothing and is the file
// itself; where the file system has no links, a copy of its bytes stands in.
// A folder or anything else that is no file is not kept: nothing replaces it.
bool StagedFiles::keepAside(Entry& entry) const {
  std::error_code error;
  const fs::file_type type = fs::symlink_status(entry.target, error).type();
  if (type != fs::file_type::regular && type != fs::file_type::symlink) return true;
  const std::string kept = besideTarget(entry.target, ".old");
  // A name left by a killed run of a process of the same id.
  fs::remove(kept, error);
  fs::create_hard_link(entry.target, kept, error);
  if (error && !fs::copy_file(entry.target, kept, error)) return false;
  entry.kept = kept;
  return true;
}

bool StagedFiles::commit() {
  for (Entry& entry : entries) {
    if (keepAside(entry)) continue;
    dropKept();
    return false;
  }
  for (Entry& entry : entries) {
    const bool done = entry.temporary.empty()
                          ? entry.kept.empty() || std::remove(entry.target.c_str()) == 0
                          : platform::replaceFile(entry.temporary, entry.target);
    if (!done) {
      undo();
      dropKept();
      return false;
    }
    entry.done = true;
  }
  dropKept();
  committed = true;
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
    } else if (!entry->temporary.empty()) {
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
