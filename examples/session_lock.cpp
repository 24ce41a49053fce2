#include "examples/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

SessionLock::SessionLock(const std::string& sessionPath, Mode mode) : path(sessionPath + ".lock") {
  const int make = mode == Mode::Exclusive || access(sessionPath.c_str(), F_OK) == 0 ? O_CREAT : 0;
  bool told = false;
  for (;;) {
    descriptor = open(path.c_str(), O_RDWR | O_CLOEXEC | make, 0666);
    if (descriptor < 0 && mode == Mode::Shared) descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
      if (mode == Mode::Shared) return;
      throw std::runtime_error("cannot make the lock file " + path + ": " + std::strerror(errno));
    }
    if (lock(mode, sessionPath, told) && stillNamed()) return;
    const int error = errno;
    close(descriptor);
    descriptor = -1;
    if (error != 0) throw std::runtime_error("cannot lock " + path + ": " + std::strerror(error));
  }
}

SessionLock::~SessionLock() {
  if (descriptor >= 0) close(descriptor);
}

void SessionLock::removeFile() const {
  if (descriptor >= 0) unlink(path.c_str());
}

// Waits for the lock; false with errno set when it cannot be had.
bool SessionLock::lock(Mode mode, const std::string& sessionPath, bool& told) const {
  const int operation = mode == Mode::Exclusive ? LOCK_EX : LOCK_SH;
  if (flock(descriptor, operation | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK) return false;
  if (!told)
    std::fprintf(stderr, "kivet-session: %s is in use by another kivet-session; waiting for it to finish\n",
                 sessionPath.c_str());
  told = true;
  int result;
  while ((result = flock(descriptor, operation)) != 0 && errno == EINTR) {
  }
  return result == 0;
}

// Whether the locked file is still the one at the lock's name; errno 0 when
// it is not (it was removed while this command waited).
bool SessionLock::stillNamed() const {
  struct stat locked {};
  struct stat named {};
  if (fstat(descriptor, &locked) == 0 && stat(path.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
      locked.st_ino == named.st_ino)
    return true;
  errno = 0;
  return false;
}
