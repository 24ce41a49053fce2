#pragma once
// One writer at a time on a session: a lock file beside it (SESSION.lock),
// locked with flock for as long as a command works on the session. A command
// that writes takes it exclusively, one that reads shares it, so that a
// reader never meets a session file and a metadata file of two different
// saves. A command that finds the session locked says so on the standard
// error stream and waits for its turn.
//
// The lock file is opened as the file it is, never through a symbolic link
// at its name, which could lead to a file of someone else's or make one
// anywhere: such a link is refused, as is anything at the name that is no
// file.
//
// A lock file goes with a session that is not there: a reader makes none
// for it (nor for a name that holds no file, such as a folder), and a writer
// that made no session removes the one it holds, also when SIGINT, SIGTERM or
// SIGHUP ends it. A command that gets the lock of a file removed meanwhile
// takes the lock of the file at that name again, so that it never works
// beside one that holds the new file's lock.

#include <memory>
#include <string>

#include "examples/signal_cleanup.h"

class SessionLock {
 public:
  enum class Mode { Shared, Exclusive };

  // Locks SESSION.lock, made when missing (by a reader only when the
  // session is a file). A reader that cannot make the lock file (a session
  // in a folder it may not write) reads unlocked, as no writer could work
  // there either. Throws std::runtime_error when the name holds a link or no
  // file, and when a writer cannot lock.
  SessionLock(const std::string& sessionPath, Mode mode);
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;
  // Closing the file lets the lock go.
  ~SessionLock();

  // Removes the lock file while it is still locked, for a session that is
  // not there.
  void removeFile() const;

 private:
  bool open(int make);
  bool lock(Mode mode, const std::string& sessionPath, bool& told) const;
  bool stillNamed() const;

  std::string path;
  int descriptor = -1;
  // A writer's lock of a session that may not be there when a signal comes.
  std::unique_ptr<SignalCleanup> cleanup;
};
