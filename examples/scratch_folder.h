#pragma once
// A folder of the process's own for files that a library call writes or
// reads only by their paths. It is made as mkdtemp makes one: at a name no
// other user can have taken or linked beforehand (six random letters and
// digits, made new), readable and writable by its owner alone, so nothing
// can be planted in it. It goes with the files registered in it when the
// object goes, or when SIGINT, SIGTERM or SIGHUP ends the process while the
// object lives (examples/signal_cleanup.h).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "examples/signal_cleanup.h"

class ScratchFolder {
 public:
  // Called with the six characters of each name before the folder is made
  // there, so that whatever must name the folder does so before it can be
  // there (a record for the next run, which a kill may leave it to).
  using Naming = std::function<void(const std::string&)>;

  // Makes PARENT/PREFIXxxxxxx; throws std::runtime_error "cannot make a
  // temporary folder in PARENT: " and the system's reason when it cannot,
  // and what naming throws.
  ScratchFolder(const std::string& parent, const std::string& prefix, const Naming& naming = nullptr);
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
