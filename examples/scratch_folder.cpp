#include "examples/scratch_folder.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "examples/host_failure.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the signal handler removes: fixed buffers, as a handler may not
// allocate.
char folderPath[PATH_MAX];
char filePath[PATH_MAX];
// The name the library writes the file under before it puts it in place
// (FILE.PID.tmp): a signal may come while it is there.
char stagedPath[PATH_MAX];

void removeScratch() {
  if (filePath[0] != '\0') unlink(filePath);
  if (stagedPath[0] != '\0') unlink(stagedPath);
  if (folderPath[0] != '\0') rmdir(folderPath);
}

// Removes the folder, then ends the process as the signal would have.
void onSignal(int signal) {
  removeScratch();
  std::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

ScratchFolder::ScratchFolder() {
  const char* environment = std::getenv("TMPDIR");
  const std::string parent = environment != nullptr && environment[0] != '\0' ? environment : "/tmp";
  const std::string pattern = parent + "/kivet-XXXXXX";
  if (pattern.size() >= sizeof folderPath)
    throw std::runtime_error("cannot make a temporary folder in " + parent + ": " + systemText(ENAMETOOLONG));
  // The handlers come first: mkdtemp names the folder in place, so that no
  // moment passes in which it is there but not in folderPath.
  std::strcpy(folderPath, pattern.c_str());
  filePath[0] = stagedPath[0] = '\0';
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], nullptr, &previous[i]);
    if (previous[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
  }
  if (mkdtemp(folderPath) != nullptr) return;
  const int error = errno;
  restore();
  throw std::runtime_error("cannot make a temporary folder in " + parent + ": " + systemText(error));
}

ScratchFolder::~ScratchFolder() {
  removeScratch();
  restore();
}

void ScratchFolder::restore() {
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous[i], nullptr);
  folderPath[0] = filePath[0] = stagedPath[0] = '\0';
}

std::string ScratchFolder::file(const std::string& name) {
  const std::string path = std::string(folderPath) + "/" + name;
  const std::string staged = path + "." + std::to_string(getpid()) + ".tmp";
  if (staged.size() >= sizeof stagedPath) throw std::runtime_error(path + ": " + systemText(ENAMETOOLONG));
  std::strcpy(filePath, path.c_str());
  std::strcpy(stagedPath, staged.c_str());
  return path;
}
