#include "platform/file_replace.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

unsigned long currentProcessId() { return GetCurrentProcessId(); }

#else

namespace {

bool syncDescriptor(int descriptor) {
  if (descriptor < 0) return false;
  const bool synced = fsync(descriptor) == 0;
  return close(descriptor) == 0 && synced;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool replaceFile(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  // The new name itself lives in the folder. Some file systems cannot flush
  // a folder; the rename has happened all the same.
  syncDescriptor(open(folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return true;
}

unsigned long currentProcessId() { return static_cast<unsigned long>(getpid()); }

#endif

}  // namespace platform
