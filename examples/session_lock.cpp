#include "examples/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "examples/host_failure.h"

namespace {

bool isFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

SessionLock::SessionLock(const std::string& sessionPath, Mode mode) : path(sessionPath + ".lock") {
  const bool sessionThere = access(sessionPath.c_str(), F_OK) == 0;
  // A writer makes the lock of a session it may make, a reader only that of
  // a session file; no command makes one for a folder.
  const bool make = isFile(sessionPath) || (mode == Mode::Exclusive && !sessionThere);
  if (mode == Mode::Exclusive) {
    // Registered before the file is made: a signal never leaves it behind.
    cleanup = std::make_unique<SignalCleanup>(SignalCleanup::Kind::LockOfMissingSession, path, sessionPath);
  }
  bool told = false;
  for (;;) {
    if (!open(make ? O_CREAT : 0)) {
      if (errno == ELOOP)
        throw std::runtime_error(path + " is a symbolic link; a lock file is never opened through one (remove it)");
      if (errno == EISDIR || errno == EINVAL)
        throw std::runtime_error(path + " is not a file; the session's lock file goes there (remove it)");
      if (mode == Mode::Shared || !make) return;
      throw std::runtime_error("cannot make the lock file " + path + ": " + systemText(errno));
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

// Opens the file at the lock's name, never through a link, and never waiting
// on a pipe someone put there; false with errno set (EINVAL: no file).
bool SessionLock::open(int make) {
  const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | make;
  descriptor = ::open(path.c_str(), O_RDWR | flags, 0666);
  if (descriptor < 0 && (errno == EACCES || errno == EROFS)) descriptor = ::open(path.c_str(), O_RDONLY | flags);
  if (descriptor < 0) return false;
  struct stat status {};
  if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) return true;
  close(descriptor);
  descriptor = -1;
  errno = EINVAL;
  return false;
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
  if (fstat(descriptor, &locked) == 0 && lstat(path.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
      locked.st_ino == named.st_ino)
    return true;
  errno = 0;
  return false;
}
