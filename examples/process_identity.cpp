#include "examples/process_identity.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace {

// The fields of /proc/PID/stat are counted from 1; the command name (field
// 2) is in parentheses and may hold spaces and parentheses itself, so the
// fields after it are counted from its last ")".
constexpr int kStartTimeField = 22;
constexpr int kFirstFieldAfterName = 3;
// More than either file holds.
constexpr size_t kMostBytes = 4096;

// The first bytes of the file at path; none (errno set) when it cannot be
// opened or read.
std::optional<std::string> headOf(const std::string& path) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  std::string text(kMostBytes, '\0');
  ssize_t got = 0;
  while ((got = read(file, &text[0], text.size())) < 0 && errno == EINTR) {
  }
  const int error = errno;
  close(file);
  errno = error;
  if (got < 0) return std::nullopt;
  text.resize(static_cast<size_t>(got));
  return text;
}

// The start time a process's stat file at path gives; none when it cannot
// be read or does not read as one.
std::optional<unsigned long long> startTimeOf(const std::string& path) {
  const std::optional<std::string> stat = headOf(path);
  if (!stat) return std::nullopt;
  const size_t nameEnd = stat->rfind(')');
  if (nameEnd == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(nameEnd + 1));
  std::string state, field;
  if (!(fields >> state) || state.size() != 1) return std::nullopt;
  for (int i = kFirstFieldAfterName + 1; i <= kStartTimeField; ++i)
    if (!(fields >> field)) return std::nullopt;
  if (field.empty() || field.size() > 19 || field.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoull(field);
}

std::optional<std::string> currentBootId() {
  std::optional<std::string> id = headOf("/proc/sys/kernel/random/boot_id");
  if (!id) return std::nullopt;
  id->erase(id->find_last_not_of('\n') + 1);
  if (id->empty()) return std::nullopt;
  return id;
}

}  // namespace

std::optional<ProcessIdentity> ProcessIdentity::self() {
  const std::optional<unsigned long long> start = startTimeOf("/proc/self/stat");
  const std::optional<std::string> boot = currentBootId();
  if (!start || !boot) return std::nullopt;
  return ProcessIdentity{getpid(), *start, *boot};
}
