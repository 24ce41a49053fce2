#include "examples/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

SessionLock::SessionLock(const std::string& sessionPath, Mode mode) {
  const std::string path = sessionPath + ".lock";
  descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0 && mode == Mode::Shared) descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    if (mode == Mode::Shared) return;
    throw std::runtime_error("cannot make the lock file " + path + ": " + std::strerror(errno));
  }
  const int operation = mode == Mode::Exclusive ? LOCK_EX : LOCK_SH;
  if (flock(descriptor, operation | LOCK_NB) == 0) return;
  if (errno == EWOULDBLOCK) {
    std::fprintf(stderr, "kivet-session: %s is in use by another kivet-session; waiting for it to finish\n",
                 sessionPath.c_str());
    int result;
    while ((result = flock(descriptor, operation)) != 0 && errno == EINTR) {
    }
    if (result == 0) return;
  }
  const int error = errno;
  close(descriptor);
  descriptor = -1;
  throw std::runtime_error("cannot lock " + path + ": " + std::strerror(error));
}

SessionLock::~SessionLock() {
  if (descriptor >= 0) close(descriptor);
}
