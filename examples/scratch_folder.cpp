#include "examples/scratch_folder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "examples/host_failure.h"

ScratchFolder::ScratchFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  // Made and registered as one step: no signal finds it there unregistered.
  const SignalCleanup::Held held;
  if (mkdtemp(&pattern[0]) == nullptr)
    throw std::runtime_error("cannot make a temporary folder in " + parent + ": " + systemText(errno));
  folder = pattern;
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
