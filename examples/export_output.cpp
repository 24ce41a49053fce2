#include "examples/export_output.h"

#include <unistd.h>

#include <filesystem>

#include "examples/host_failure.h"
#include "examples/session_file.h"
#include "platform/write_target.h"

namespace fs = std::filesystem;

namespace {

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

bool namesStandardOutput(const std::string& output) {
  platform::WriteTarget target;
  return platform::resolveWriteTarget(output, target) && target.descriptor == STDOUT_FILENO;
}

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
