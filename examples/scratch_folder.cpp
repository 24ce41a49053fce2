#include "examples/scratch_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "examples/host_failure.h"

namespace {

// As mkdtemp names its folders: six letters or digits, tried until a name
// is free (mkdtemp gives up after as many tries as TMP_MAX).
constexpr char kNameCharacters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kRandomCharacters = 6;
constexpr int kMostAttempts = TMP_MAX;

}  // namespace

ScratchFolder::ScratchFolder(const std::string& parent, const std::string& prefix, const Naming& naming) {
  // Made and registered as one step: no signal finds it there unregistered.
  const SignalCleanup::Held held;
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof kNameCharacters - 2);
  int error = EEXIST;
  for (int attempt = 0; attempt < kMostAttempts && error == EEXIST; ++attempt) {
    std::string characters(kRandomCharacters, ' ');
    for (char& c : characters) c = kNameCharacters[pick(random)];
    const std::string path = parent + "/" + prefix + characters;
    struct stat status {};
    // A taken name is never handed to naming.
    if (lstat(path.c_str(), &status) == 0) continue;
    if (naming) naming(characters);
    error = mkdir(path.c_str(), 0700) == 0 ? 0 : errno;
    if (error == 0) folder = path;
  }
  if (error != 0) throw std::runtime_error("cannot make a temporary folder in " + parent + ": " + systemText(error));
  try {
    folderCleanup = std::make_unique<SignalCleanup>(SignalCleanup::Kind::Folder, folder);
  } catch (...) {
    rmdir(folder.c_str());
    throw;
  }
}

ScratchFolder::~ScratchFolder() {
  for (const std::string& file : files) unlink(file.c_str());
  rmdir(folder.c_str());
}

std::string ScratchFolder::temporaryParent() {
  const char* environment = std::getenv("TMPDIR");
  return environment != nullptr && environment[0] != '\0' ? environment : "/tmp";
}

std::string ScratchFolder::file(const std::string& name) {
  const std::string path = folder + "/" + name;
  for (const std::string& file : {path, path + "." + std::to_string(getpid()) + ".tmp"}) {
    fileCleanups.push_back(std::make_unique<SignalCleanup>(SignalCleanup::Kind::File, file));
    files.push_back(file);
  }
  return path;
}
