#include "examples/host_failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>

std::string systemText(int error) {
  std::string text = std::strerror(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::string whyNotWritten(const std::string& target, int error) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  // The library refuses a folder with a reason of its own making ("not a
  // directory" for "DIR/", "device or resource busy" for ".").
  if (fs::is_directory(target, ignored)) return "the output is a folder";
  if (error == EACCES) {
    // The new file is made beside the file the name leads to, and put in
    // place: a file this user may write is refused where its folder is not.
    const fs::path file = fs::is_symlink(fs::symlink_status(target, ignored)) ? fs::weakly_canonical(target, ignored)
                                                                             : fs::path(target);
    const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
      return systemText(error) + " in the folder " + folder + ", where the new file is made";
  }
  return error == 0 ? "" : systemText(error);
}

std::string makeFolder(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(path, error);
  std::error_code ignored;
  if (fs::is_directory(path, ignored)) return "";
  if (fs::is_symlink(fs::symlink_status(path, ignored)) && !fs::exists(path, ignored))
    return "it is a symbolic link that leads nowhere";
  return error ? systemText(error.value()) : "a file of that name is in the way";
}

bool regularFileBeginsWith(const std::string& path, const std::string& head) {
  const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return false;
  struct stat status {};
  std::string start(head.size(), '\0');
  const bool begins = fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
                      read(file, &start[0], start.size()) == static_cast<ssize_t>(start.size()) && start == head;
  close(file);
  return begins;
}

std::string unreadableBecause(const std::string& path) {
  // A folder opens for reading, but holds nothing to read.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return systemText(EISDIR);
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return systemText(errno);
  close(descriptor);
  return "";
}
