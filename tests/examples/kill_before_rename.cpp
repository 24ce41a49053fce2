// Stand-ins for rename and link, preloaded into a host under test: they end
// the process with SIGKILL just before a rename to a name that ends in
// $KIVET_KILL_BEFORE_RENAME_TO, or a hard link made at a name that ends in
// $KIVET_KILL_BEFORE_LINK_TO, as a kill -9 or a power cut at that moment
// would. With $KIVET_RENAME_SIGNAL set, the process gets that signal
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
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

void signalBefore(const char* variable, const char* to) {
  const char* ending = std::getenv(variable);
  if (ending == nullptr) return;
  const std::size_t length = std::strlen(to), endingLength = std::strlen(ending);
  if (length < endingLength || std::strcmp(to + length - endingLength, ending) != 0) return;
  if (const char* seconds = std::getenv("KIVET_STALL_SECONDS")) {
    for (int descriptor = 3; descriptor < 1024; ++descriptor) close(descriptor);
    sleep(static_cast<unsigned>(std::atoi(seconds)));
    _exit(137);
  }
  const char* signal = std::getenv("KIVET_RENAME_SIGNAL");
  raise(signal != nullptr ? std::atoi(signal) : SIGKILL);
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
  using Rename = int (*)(const char*, const char*);
  static const auto system = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  signalBefore("KIVET_KILL_BEFORE_RENAME_TO", to);
  return system(from, to);
}

extern "C" int link(const char* from, const char* to) {
  using Link = int (*)(const char*, const char*);
  static const auto system = reinterpret_cast<Link>(dlsym(RTLD_NEXT, "link"));
  signalBefore("KIVET_KILL_BEFORE_LINK_TO", to);
  return system(from, to);
}

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  using Linkat = int (*)(int, const char*, int, const char*, int);
  static const auto system = reinterpret_cast<Linkat>(dlsym(RTLD_NEXT, "linkat"));
  if (std::getenv("KIVET_LINKS_FAIL") != nullptr) {
    errno = EPERM;
    return -1;
  }
  return system(fromFolder, from, toFolder, to, flags);
}
