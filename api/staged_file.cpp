#include "api/staged_file.h"

#include <cstdio>

#include "platform/file_replace.h"

namespace vemra_kivet {

StagedFile::StagedFile(const std::string& target)
    : target(target), temporary(target + "." + std::to_string(platform::currentProcessId()) + ".tmp") {}

StagedFile::~StagedFile() {
  if (!committed) std::remove(temporary.c_str());
}

bool StagedFile::flush() const { return platform::flushFileToDisk(temporary); }

bool StagedFile::commit() {
  committed = platform::replaceFile(temporary, target);
  return committed;
}

}  // namespace vemra_kivet
