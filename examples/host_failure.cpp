#include "examples/host_failure.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>

std::string systemText(int error) {
  std::string text = std::strerror(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
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
