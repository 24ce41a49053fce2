// A stand-in for rename, preloaded into a host under test: it ends the
// process with SIGKILL just before a rename to a name that ends in
// $KIVET_KILL_BEFORE_RENAME_TO, as a kill -9 or a power cut at that moment
// would.
#include <dlfcn.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>

extern "C" int rename(const char* from, const char* to) {
  using Rename = int (*)(const char*, const char*);
  static const auto system = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  const char* ending = std::getenv("KIVET_KILL_BEFORE_RENAME_TO");
  if (ending != nullptr) {
    const std::size_t length = std::strlen(to), endingLength = std::strlen(ending);
    if (length >= endingLength && std::strcmp(to + length - endingLength, ending) == 0) raise(SIGKILL);
  }
  return system(from, to);
}
