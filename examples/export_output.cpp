#include "examples/export_output.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "examples/host_failure.h"
#include "examples/session_file.h"

namespace fs = std::filesystem;

namespace {

// The descriptor that path names in a folder of the process's own
// descriptors, or -1.
int descriptorNamed(const fs::path& path) {
  const std::string folder = path.parent_path().string();
  const std::string name = path.filename().string();
  const bool own = folder == "/dev/fd" || folder == "/proc/self/fd" || folder == "/proc/thread-self/fd" ||
                   folder == "/proc/" + std::to_string(getpid()) + "/fd";
  if (!own || name.empty() || name.size() > 9 ||
      !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return -1;
  return std::stoi(name);
}

// Whether output, or a link on the way from it, names the standard output
// descriptor. The descriptors' own links are not followed: they lead to
// what the descriptor is open on (a pipe's is no path at all).
bool namesStandardOutput(const std::string& output) {
  // As many links as the system follows in one path.
  constexpr int kMostLinks = 40;
  std::error_code error;
  fs::path path = fs::absolute(output, error);
  for (int links = 0; !error && links <= kMostLinks; ++links) {
    path = path.lexically_normal();
    const int descriptor = descriptorNamed(path);
    if (descriptor >= 0) return descriptor == STDOUT_FILENO;
    if (!fs::is_symlink(fs::symlink_status(path, error))) return false;
    const fs::path target = fs::read_symlink(path, error);
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return false;
}

fs::path folderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

// Whether writing to target writes the file at own (which need not exist).
bool writes(const std::string& target, const std::string& own) {
  std::error_code error;
  if (fs::exists(target, error)) return fs::equivalent(target, own, error);
  const fs::path named = fileBehindLinks(target);
  const fs::path ownPath = own;
  return named.filename() == ownPath.filename() && fs::equivalent(folderOf(named), folderOf(ownPath), error);
}

}  // namespace

std::string exportTarget(const std::string& output, const SessionFile& session, int resultsDescriptor) {
  const std::string target =
      namesStandardOutput(output) ? "/proc/self/fd/" + std::to_string(resultsDescriptor) : output;
  const std::string lock = session.lockPath(), metadataLock = session.metadataLockPath();
  const struct {
    const std::string& path;
    std::string what;
  } own[] = {{session.sessionPath(), "the session file itself"},
             {session.metadataPath(), "the session's metadata file " + session.metadataPath()},
             {lock, "the session's lock file " + lock},
             {metadataLock, "the lock file of the session's metadata file " + metadataLock}};
  for (const auto& file : own)
    if (writes(target, file.path))
      throw HostFailure(session.sessionPath() + ": the output " + output + " is " + file.what + "; nothing written");
  return target;
}
