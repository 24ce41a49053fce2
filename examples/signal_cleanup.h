#pragma once
// What a host takes away when SIGINT, SIGTERM or SIGHUP ends it: the paths
// registered here while the signal comes. Its own files go first, then its
// own folders (when nothing else is left in them), then the lock files of
// sessions that are not there; then the process ends as the signal would
// have ended it, with the status 128 + the signal's number where the signal
// does not end it (the first process of a pid namespace, a container's
// entry point, ignores its own signal). A signal the process ignores stays
// ignored.
//
// A signal handler may neither allocate nor lock, so the paths wait in fixed
// buffers, which change only while the three signals are held back.

#include <signal.h>

#include <memory>
#include <string>

// The names the library tries beside a file it writes aside and renames into
// place, per ending: FILE.P.tmp (FILE.P.old), then FILE.P.N.tmp for N from 1.
constexpr int kStagedNamesPerFile = 100;

class SignalCleanup {
 public:
  enum class Kind {
    File,
    Folder,
    // A session's lock file, taken away only when the session is not there.
    LockOfMissingSession,
    // The names a write of the file at path takes beside it while it
    // writes it aside and puts it in place (FILE.P.tmp, FILE.P.N.tmp,
    // FILE.P.old, FILE.P.N.old), but those that were there before it began.
    StagedBeside
  };

  // Registers path (for a lock, with the session it belongs to). Throws
  // std::runtime_error when the path is too long or too many are registered.
  SignalCleanup(Kind kind, const std::string& path, const std::string& session = "");

  // For a library call that writes output (an export, a signature file):
  // what it stages beside the file output leads to goes when a signal ends
  // the process meanwhile, so the file is left as it was or replaced whole
  // and nothing else stays. None for an output written into as it stands (a
  // device, a pipe, the standard output), which stages nothing. Throws as
  // the constructor.
  static std::unique_ptr<SignalCleanup> ofWrite(const std::string& output);
  SignalCleanup(const SignalCleanup&) = delete;
  SignalCleanup& operator=(const SignalCleanup&) = delete;
  // Forgets the path; nothing is removed.
  ~SignalCleanup();

  // Makes the three signals end the process as above from now on, also
  // while nothing is registered.
  static void endOnSignals();

  // Holds the three signals back while it lives: a path made on the disk and
  // registered here within its life is never there unregistered, and a
  // step taken within it (a save) is never cut by them.
  class Held {
   public:
    Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held();

    // The name of one of the three signals that came meanwhile and waits
    // (it takes effect when the last Held goes), or null.
    const char* pending() const;

   private:
    sigset_t previous;
  };

 private:
  int slot = -1;
};
