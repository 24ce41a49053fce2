#pragma once
// Files written under temporary names in their targets' folders and put in
// their targets' places together, once all of them are whole: a failure on
// the way, even at the last rename, leaves every target as it was.
//
// Every name of its own is made new, never opened through what stands
// there: a file or a link someone placed at it beforehand is left alone, and
// the next name is taken instead. The names, with the process id P:
//   TARGET.P.tmp    a new file not yet in place (TARGET.P.N.tmp, N = 1, 2,
//                   ..., when that name is taken)
//   TARGET.P.old    what stood at TARGET before, kept aside while the new
//                   files go in: a hard link to it where the file system has
//                   them, else a copy (TARGET.P.N.old likewise)
// Both are gone once a commit has succeeded or failed, and every staged file
// is gone with the object when no commit succeeded.
//
// A commit first flushes every staged file to the disk and closes it, then
// keeps aside what stands at each target, then renames the staged files in
// the order they were staged, then removes the kept files. A process killed
// during a commit can leave: staged files not yet renamed, and kept files
// beside targets that were already replaced; every staged file that is
// still there is whole once the first rename has happened.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/new_file.h"

namespace vemra_kivet {

class StagedFiles {
 public:
  StagedFiles() = default;
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;
  // Removes the staged files that were not put in place.
  ~StagedFiles();

  // Stages a new file for target and returns the stream to write it
  // through; the stream has failed already when no file could be made
  // beside target (errno says why).
  std::ostream& write(const std::string& target, platform::NewFile::Mode mode = platform::NewFile::Mode::Binary);
  // Stages the removal of the file at target, if there is one then.
  void remove(const std::string& target);

  // Flushes every staged file to the disk, keeps aside what stands at the
  // targets, puts the staged files in place and removes the files staged
  // for removal, in the order they were staged; false (errno says why) when
  // any step fails, after every step already taken has been undone.
  bool commit();

 private:
  struct Entry {
    std::string target;
    // Empty for a removal.
    std::string temporary;
    std::unique_ptr<platform::NewFile> file;
    std::unique_ptr<std::ostream> stream;
    // Names what stood at target, once kept aside.
    std::string kept;
    bool done = false;
  };

  bool flush();
  bool keepAside(Entry& entry) const;
  void undo();
  void dropKept();

  std::vector<Entry> entries;
};

}  // namespace vemra_kivet
