#include "examples/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <utility>

#include "examples/host_failure.h"
#include "examples/save_record.h"

namespace {

// The start of every session file the library writes: the length 3 of "SES"
// (u32 little-endian), then "SES".
constexpr char kSessionStart[] = "\3\0\0\0SES";

// Whether a command makes the lock file of the session at sessionPath: a
// writer that of a session it may make, a reader only that of a session
// file; no command makes one for anything else.
bool makesLock(const std::string& sessionPath, SessionLock::Mode mode) {
  return beginsAsSession(sessionPath) ||
         (mode == SessionLock::Mode::Exclusive && access(sessionPath.c_str(), F_OK) != 0);
}

// Waits for the lock, saying so (busy) the first time; false with errno set
// when it cannot be had. The three signals, held back by the caller, may
// end the command while it waits.
bool lock(int descriptor, SessionLock::Mode mode, const std::string& busy, std::optional<SignalCleanup::Held>& held,
          bool& told) {
  const int operation = mode == SessionLock::Mode::Exclusive ? LOCK_EX : LOCK_SH;
  if (flock(descriptor, operation | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK) return false;
  if (!told) std::fprintf(stderr, "kivet-session: %s; waiting for it to finish\n", busy.c_str());
  told = true;
  held.reset();
  int result;
  while ((result = flock(descriptor, operation)) != 0 && errno == EINTR) {
  }
  const int error = errno;
  held.emplace();
  errno = error;
  return result == 0;
}

// Whether the locked file is still the one at the lock's name; errno 0 when
// it is not (it was removed while this command waited).
bool stillNamed(int descriptor, const std::string& path) {
  struct stat locked {};
  struct stat named {};
  if (fstat(descriptor, &locked) == 0 && lstat(path.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
      locked.st_ino == named.st_ino)
    return true;
  errno = 0;
  return false;
}

}  // namespace

bool beginsAsSession(const std::string& path) {
  return regularFileBeginsWith(path, std::string(kSessionStart, sizeof kSessionStart - 1));
}

SessionLock::SessionLock(const std::string& sessionPath, Mode mode)
    : SessionLock(sessionPath + ".lock", sessionPath, mode, makesLock(sessionPath, mode), false,
                  sessionPath + " is in use by another kivet-session") {}

std::unique_ptr<SessionLock> SessionLock::ofMetadata(const std::string& metaPath, const std::string& sessionPath) {
  return std::unique_ptr<SessionLock>(
      new SessionLock(metaPath + ".lock", sessionPath, Mode::Exclusive, true, true,
                      metaPath + " is in use by a build of another session that shares it"));
}

SessionLock::SessionLock(std::string lockPath, const std::string& sessionPath, Mode mode, bool make,
                         bool ownsMadeOnly, const std::string& busy)
    : path(std::move(lockPath)), ownsMadeOnly(ownsMadeOnly) {
  // A signal ends the command also while it waits, taking away only what
  // it holds by then.
  SignalCleanup::endOnSignals();
  bool told = false;
  for (;;) {
    // From the file made to the lock registered as this command's, a signal
    // waits: it never leaves a lock file of a session not made behind.
    std::optional<SignalCleanup::Held> held(std::in_place);
    if (!open(make)) {
      if (errno == ELOOP || errno == EISDIR || errno == EINVAL || errno == ENXIO || errno == EMLINK) refuse(errno);
      if (mode == Mode::Shared || !make) return;
      throw std::runtime_error("cannot make the lock file " + path + ": " + systemText(errno));
    }
    if (lock(descriptor, mode, busy, held, told) && stillNamed(descriptor, path)) {
      // A second name may have come while this command waited.
      struct stat status {};
      if (fstat(descriptor, &status) != 0 || status.st_nlink != 1) {
        close(descriptor);
        descriptor = -1;
        refuse(EMLINK);
      }
      // Registered while the signals still wait: the lock is this
      // command's to remove from here on, and only from here on.
      if (mode == Mode::Exclusive && owns())
        cleanup = std::make_unique<SignalCleanup>(SignalCleanup::Kind::LockOfMissingSession, path, sessionPath);
      return;
    }
    const int error = errno;
    close(descriptor);
    descriptor = -1;
    if (error != 0) throw std::runtime_error("cannot lock " + path + ": " + systemText(error));
  }
}

SessionLock::~SessionLock() {
  // No signal takes the file away once another command may hold it.
  cleanup.reset();
  if (descriptor >= 0) close(descriptor);
}

void SessionLock::refuse(int error) const {
  if (error == ELOOP)
    throw std::runtime_error(path + " is a symbolic link; a lock file is never opened through one (remove it)");
  if (error == EMLINK)
    throw std::runtime_error(path + " has a second hard link; a lock file never has one, as it may be someone's "
                                    "file (remove it)");
  throw std::runtime_error(path + " is not a file; the session's lock file goes there (remove it)");
}

std::string SessionLock::record() const {
  std::string text(SaveRecord::kMostBytes + 1, '\0');
  size_t got = 0;
  while (descriptor >= 0 && got < text.size()) {
    const ssize_t part = pread(descriptor, &text[got], text.size() - got, static_cast<off_t>(got));
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) break;
    got += static_cast<size_t>(part);
  }
  text.resize(got);
  return text;
}

void SessionLock::setRecord(const std::string& text) const {
  const SignalCleanup::Held held;
  int error = readOnlyBecause;
  for (size_t at = 0; error == 0 && at < text.size();) {
    const ssize_t part = pwrite(descriptor, text.data() + at, text.size() - at, static_cast<off_t>(at));
    if (part > 0) at += static_cast<size_t>(part);
    if (part < 0 && errno != EINTR) error = errno;
  }
  if (error == 0 && (ftruncate(descriptor, static_cast<off_t>(text.size())) != 0 || fsync(descriptor) != 0))
    error = errno;
  if (error != 0)
    throw HostFailure("cannot write the record of this build's save into " + path + ": " + systemText(error));
}

void SessionLock::removeFile() const {
  if (descriptor >= 0 && owns()) unlink(path.c_str());
}

// Opens the file at the lock's name, made new when missing and make says
// so; false with errno set.
bool SessionLock::open(bool make) {
  made = false;
  for (;;) {
    if (openAs(0)) return true;
    if (errno != ENOENT || !make) return false;
    made = openAs(O_CREAT | O_EXCL);
    if (made) return true;
    if (errno != EEXIST) return false;
  }
}

// Opens the file at the lock's name, never through a link, and never waiting
// on a pipe someone put there; false with errno set (EINVAL: no file,
// EMLINK: a file of two names).
bool SessionLock::openAs(int make) {
  const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | make;
  descriptor = ::open(path.c_str(), O_RDWR | flags, 0666);
  readOnlyBecause = descriptor < 0 ? errno : 0;
  if (descriptor < 0 && (errno == EACCES || errno == EROFS)) descriptor = ::open(path.c_str(), O_RDONLY | flags);
  if (descriptor < 0) return false;
  struct stat status {};
  const bool file = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  if (file && status.st_nlink == 1) return true;
  close(descriptor);
  descriptor = -1;
  errno = file ? EMLINK : EINVAL;
  return false;
}
