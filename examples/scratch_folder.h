#pragma once
// A folder of the process's own for files that a library call writes or
// reads only by their paths. mkdtemp makes it at a name no other user can
// have taken or linked beforehand, readable and writable by its owner alone,
// so nothing can be planted in it. It goes with the files registered in it
// when the object goes, or when SIGINT, SIGTERM or SIGHUP ends the process
// while the object lives (examples/signal_cleanup.h).

#include <memory>
#include <string>
#include <vector>

#include "examples/signal_cleanup.h"

class ScratchFolder {
 public:
  // Makes PARENT/PREFIXxxxxxx; throws std::runtime_error "cannot make a
  // temporary folder in PARENT: " and the system's reason when it cannot.
  ScratchFolder(const std::string& parent, const std::string& prefix);
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();

  // The folder for temporary files of the user: $TMPDIR, else /tmp.
  static std::string temporaryParent();

  const std::string& path() const { return folder; }

  // The path of NAME inside the folder, which goes with it (as does the
  // library's staged name of it, NAME.PID.tmp).
  std::string file(const std::string& name);

 private:
  std::string folder;
  std::unique_ptr<SignalCleanup> folderCleanup;
  std::vector<std::string> files;
  std::vector<std::unique_ptr<SignalCleanup>> fileCleanups;
};
