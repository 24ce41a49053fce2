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
// anywhere: such a link is refused, as is a file with a second name (a hard
// link, maybe to someone's file) and anything at the name that is no file.
//
// A lock file goes with a session: a reader makes none for a file that is
// not a session (nor for a name that holds no file, such as a folder), and
// a writer that made no session removes the one it holds, also when SIGINT,
// SIGTERM or SIGHUP ends it. Only the holder removes it: a command ended
// while it waits leaves the lock of the one it waits for. A command that
// gets the lock of a file removed meanwhile takes the lock of the file at
// that name again, so that it never works beside one that holds the new
// file's lock.
//
// The writer keeps in the lock file the record of what it is about to make
// beside the session (examples/save_record.h); readers never write it.
//
// Sessions of one name but the extension (a copy: NAME.ses and NAME.bak)
// share one metadata file, NAME.meta, which a build of either writes: a
// writer also holds the lock beside that file, NAME.meta.lock, so that
// builds under two such names keep apart as builds of one name do. It makes
// that lock file when it is missing, and removes the one it made when it
// makes no session; it is opened as the session's is.

#include <memory>
#include <string>

#include "examples/signal_cleanup.h"

// Whether path is a regular file that begins as every session file does,
// with the counted "SES".
bool beginsAsSession(const std::string& path);

class SessionLock {
 public:
  enum class Mode { Shared, Exclusive };

  // Locks SESSION.lock, made when missing (by a reader only when the
  // session is a session file). A reader that cannot make the lock file (a
  // session in a folder it may not write) reads unlocked, as no writer could
  // work there either; so does anyone for a file that is not a session.
  // Throws std::runtime_error when the name holds a link, a file of two
  // names or no file, and when a writer cannot lock.
  SessionLock(const std::string& sessionPath, Mode mode);
  // Locks metaPath.lock alone, for a writer that holds the lock of the
  // session at sessionPath alone. Throws as above.
  static std::unique_ptr<SessionLock> ofMetadata(const std::string& metaPath, const std::string& sessionPath);
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;
  // Closing the file lets the lock go.
  ~SessionLock();

  bool held() const { return descriptor >= 0; }
  // Why the lock file held could not be opened for writing (a record could
  // not be written into it), or 0.
  int unwritableBecause() const { return readOnlyBecause; }
  const std::string& file() const { return path; }

  // The record in the lock file as it stands (at most a little more than a
  // record can hold); empty when there is none or nothing is held.
  std::string record() const;
  // Makes text the lock file's whole content (empty: no record), written
  // through the descriptor held, never by name, and flushed to the disk; the
  // three signals wait meanwhile. For the exclusive lock; throws HostFailure
  // when it cannot be written.
  void setRecord(const std::string& text) const;

  // Removes the lock file while it is still locked, for a session that is
  // not there: the session's lock file, and the metadata file's when this
  // command made it.
  void removeFile() const;

 private:
  // Locks lockPath for the session at sessionPath, made when missing where
  // make says so; busy is the note of a command that waits for it. Only the
  // file this command made is its to remove where ownsMadeOnly says so.
  SessionLock(std::string lockPath, const std::string& sessionPath, Mode mode, bool make, bool ownsMadeOnly,
              const std::string& busy);
  bool open(bool make);
  bool openAs(int flags);
  bool owns() const { return made || !ownsMadeOnly; }
  [[noreturn]] void refuse(int error) const;

  std::string path;
  bool ownsMadeOnly = false;
  // Whether this command made the file it holds.
  bool made = false;
  int descriptor = -1;
  // Why the file could not be opened for writing, when it could not.
  int readOnlyBecause = 0;
  // A writer's lock of a session that may not be there when a signal comes.
  std::unique_ptr<SignalCleanup> cleanup;
};
