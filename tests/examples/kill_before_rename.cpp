// Stand-ins for rename, link, mkdir and pwrite, preloaded into a host under
// test: they end the process with SIGKILL just before a rename to a name
// that ends in $KIVET_KILL_BEFORE_RENAME_TO, a hard link made at a name that
// ends in $KIVET_KILL_BEFORE_LINK_TO (link or linkat), or a write (pwrite) of bytes that hold
// $KIVET_KILL_BEFORE_WRITE_OF, or just after a folder is made at a name that
// holds $KIVET_KILL_AFTER_MKDIR_OF, as a kill -9 or a power cut at that
// moment would. With $KIVET_RENAME_SIGNAL set, the process gets that signal
// instead (2: a Ctrl-C at that moment) and the call goes on. With
// $KIVET_STALL_SECONDS set, it closes every descriptor but the standard
// three instead, letting go of its locks, and stays that many seconds before
// it ends, as a process killed there stays listed in /proc for a moment
// after its locks are free. With $KIVET_LINKS_FAIL set, linkat fails as on
// a file system without hard links, and the library copies what it keeps
// aside.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Whether the variable is set and text ends with its value.
bool endsWith(const char* variable, std::string_view text) {
  const char* ending = std::getenv(variable);
  return ending != nullptr && text.size() >= std::strlen(ending) &&
         text.substr(text.size() - std::strlen(ending)) == ending;
}

// Whether the variable is set and text holds its value.
bool holds(const char* variable, std::string_view text) {
  const char* part = std::getenv(variable);
  return part != nullptr && text.find(part) != std::string_view::npos;
}

void signalNow() {
  if (const char* seconds = std::getenv("KIVET_STALL_SECONDS")) {
    for (int descriptor = 3; descriptor < 1024; ++descriptor) close(descriptor);
    sleep(static_cast<unsigned>(std::atoi(seconds)));
    _exit(137);
  }
  const char* signal = std::getenv("KIVET_RENAME_SIGNAL");
  raise(signal != nullptr ? std::atoi(signal) : SIGKILL);
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
  static const auto system = next<int (*)(const char*, const char*)>("rename");
  if (endsWith("KIVET_KILL_BEFORE_RENAME_TO", to)) signalNow();
  return system(from, to);
}

extern "C" int link(const char* from, const char* to) {
  static const auto system = next<int (*)(const char*, const char*)>("link");
  if (endsWith("KIVET_KILL_BEFORE_LINK_TO", to)) signalNow();
  return system(from, to);
}

extern "C" int mkdir(const char* path, mode_t mode) {
  static const auto system = next<int (*)(const char*, mode_t)>("mkdir");
  const int result = system(path, mode);
  if (result == 0 && holds("KIVET_KILL_AFTER_MKDIR_OF", path)) signalNow();
  return result;
}

extern "C" ssize_t pwrite(int descriptor, const void* bytes, std::size_t count, off_t offset) {
  static const auto system = next<ssize_t (*)(int, const void*, std::size_t, off_t)>("pwrite");
  if (holds("KIVET_KILL_BEFORE_WRITE_OF", std::string_view(static_cast<const char*>(bytes), count))) signalNow();
  return system(descriptor, bytes, count, offset);
}

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  static const auto system = next<int (*)(int, const char*, int, const char*, int)>("linkat");
  if (endsWith("KIVET_KILL_BEFORE_LINK_TO", to)) signalNow();
  if (std::getenv("KIVET_LINKS_FAIL") != nullptr) {
    errno = EPERM;
    return -1;
  }
  return system(fromFolder, from, toFolder, to, flags);
}
