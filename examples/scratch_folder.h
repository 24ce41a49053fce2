#pragma once
// A folder of the process's own for a file that a library call writes and
// reads only by its path. It is made by mkdtemp under $TMPDIR (else /tmp),
// at a name no other user can have taken or linked beforehand, and it goes
// with what it holds when the object goes, or when the process is ended by
// SIGINT, SIGTERM or SIGHUP while the object lives (a signal the process
// ignores stays ignored). One at a time.

#include <csignal>
#include <string>

class ScratchFolder {
 public:
  // Makes kivet-XXXXXX; throws std::runtime_error when it cannot.
  ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();

  // The path of the one file the folder is for: NAME inside it (and the
  // library's staged name of it, which goes with the folder too).
  std::string file(const std::string& name);

 private:
  // Puts back the handlers the signals had, and forgets the folder.
  void restore();

  // The handlers SIGINT, SIGTERM and SIGHUP had before.
  struct sigaction previous[3];
};
