#include "platform/write_target.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>

#include <cctype>
#else
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#endif

namespace platform {

#ifdef _WIN32

namespace {

// A named pipe answers an open as a server answers a client: the path is
// taken for one without being opened, as an open only to look would use up
// the server's waiting instance.
bool namesPipe(const std::string& path) {
  static const std::string kPrefixes[] = {"\\\\.\\pipe\\", "\\\\?\\pipe\\"};
  for (const std::string& prefix : kPrefixes) {
    if (path.size() <= prefix.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < prefix.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(path[i])) == prefix[i];
    if (same) return true;
  }
  return false;
}

// The name the file behind an open handle has, without the "\\?\" that the
// system puts before a local one; empty when it cannot be told.
std::string finalName(HANDLE file) {
  char name[MAX_PATH + 8];
  const DWORD length = GetFinalPathNameByHandleA(file, name, sizeof name, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof name) return std::string();
  const std::string full(name, length);
  const std::string local = "\\\\?\\", network = "\\\\?\\UNC\\";
  const bool isLocal = full.compare(0, local.size(), local) == 0 && full.compare(0, network.size(), network) != 0;
  return isLocal ? full.substr(local.size()) : full;
}

}  // namespace

bool resolveWriteTarget(const std::string& path, WriteTarget& target) {
  target = WriteTarget{WriteTarget::Kind::Stream, path, -1, {}};
  if (namesPipe(path)) return true;
  // Opened to look only (no access asked), through any link: a device
  // answers as one, a folder opens with the backup flag. Some devices (the
  // console) open only for what they do.
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
    file = CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Nothing there, or a link that leads nowhere, which the write replaces.
    target.kind = WriteTarget::Kind::File;
    return true;
  }
  if (GetFileType(file) == FILE_TYPE_DISK) {
    // The name of the file itself: a link at path stays, whether the system
    // shows it as one or (Wine) not.
    target.kind = WriteTarget::Kind::File;
    const std::string name = finalName(file);
    if (!name.empty()) target.path = name;
  }
  CloseHandle(file);
  return true;
}

bool mayWrite(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0)
    return true;
  errno = EACCES;
  return false;
}

#else

namespace {

// As many links as the system follows in one path.
constexpr int kMostLinks = 40;

bool allDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A link in /proc leads to whatever a process has open, which may have no
// name any more ("pipe:[12]", "out.txt (deleted)"): it is written through,
// never followed by its text.
bool isSystemLink(const std::string& link) {
#ifdef __linux__
  constexpr long kProcFileSystem = 0x9fa0;
  struct statfs system {};
  return statfs(folderOf(link).c_str(), &system) == 0 && system.f_type == kProcFileSystem;
#else
  (void)link;
  return false;
#endif
}

// The descriptor that a link in one of this process's descriptor folders
// (/proc/PID/fd, or a thread's /proc/PID/task/TID/fd; /dev/fd and
// /proc/self/fd lead there) stands for, or -1.
int ownDescriptor(const std::string& link) {
  char resolved[PATH_MAX];
  if (realpath(folderOf(link).c_str(), resolved) == nullptr) return -1;
  const std::string own = "/proc/" + std::to_string(getpid()), task = "/task/";
  std::string folder(resolved);
  if (folder.compare(0, own.size(), own) != 0) return -1;
  folder.erase(0, own.size());
  if (folder.compare(0, task.size(), task) == 0) {
    const std::size_t slash = folder.find('/', task.size());
    if (slash == std::string::npos || !allDigits(folder.substr(task.size(), slash - task.size()))) return -1;
    folder.erase(0, slash);
  }
  const std::string number = link.substr(link.find_last_of('/') + 1);
  if (folder != "/fd" || number.size() > 9 || !allDigits(number)) return -1;
  return std::stoi(number);
}

// The system's rule for links in a sticky folder that everyone may write:
// followed only when the link belongs to the caller or to the folder's owner.
bool mayFollow(const std::string& link, const struct stat& status) {
  if (status.st_uid == geteuid()) return true;
  struct stat folder {};
  if (stat(folderOf(link).c_str(), &folder) != 0) return true;
  const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || folder.st_uid == status.st_uid;
}

bool readLink(const std::string& link, std::string& text) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = readlink(link.c_str(), &buffer[0], buffer.size());
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      text.assign(buffer, 0, static_cast<std::size_t>(length));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

bool resolveWriteTarget(const std::string& path, WriteTarget& target) {
  target = WriteTarget{};
  std::string name = path;
  for (int links = 0;; ++links) {
    struct stat status {};
    if (lstat(name.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    if (isSystemLink(name)) {
      target = WriteTarget{WriteTarget::Kind::Stream, name, ownDescriptor(name), {}};
      return true;
    }
    if (!mayFollow(name, status)) {
      target.foreignLink = name;
      errno = EACCES;
      return false;
    }
    std::string text;
    if (links == kMostLinks) errno = ELOOP;
    if (links == kMostLinks || !readLink(name, text)) return false;
    name = !text.empty() && text[0] == '/' ? text : folderOf(name) + "/" + text;
  }
  struct stat led {};
  const bool stream = stat(name.c_str(), &led) == 0 && !S_ISREG(led.st_mode) && !S_ISDIR(led.st_mode);
  target = WriteTarget{stream ? WriteTarget::Kind::Stream : WriteTarget::Kind::File, name, -1, {}};
  return true;
}

bool mayWrite(const std::string& path) {
  // The effective ids decide, as they do for an open.
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT;
}

#endif

}  // namespace platform
