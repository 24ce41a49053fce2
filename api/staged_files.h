#pragma once
// Files written under temporary names in their targets' folders and put in
// their targets' places together, once all of them are whole: a failure on
// the way, even at the last rename, leaves every target as it was.
//
// While they go in, each file standing at a target is kept aside under a
// second name (a hard link where the file system has them, else a copy), so
// that one rename that fails after others have happened can be undone. A run
// killed on the way may leave these names beside the targets:
//   TARGET.PID.tmp   a new file not yet in place
//   TARGET.PID.old   what stood at TARGET before (a link or a copy of it)

#include <string>
#include <vector>

namespace vemra_kivet {

class StagedFiles {
 public:
  StagedFiles() = default;
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;
  // Removes the temporary files that were not put in place.
  ~StagedFiles();

  // Stages a new file for target; returns the name to write it under.
  std::string write(const std::string& target);
  // Stages the removal of the file at target, if there is one then.
  void remove(const std::string& target);

  // Writes every staged file through to the disk; false when one cannot be.
  bool flush() const;
  // Puts the staged files in place and removes the files staged for removal,
  // in the order they were staged; false when any step fails, after every
  // step already taken has been undone.
  bool commit();

 private:
  struct Entry {
    std::string target;
    // Empty for a removal.
    std::string temporary;
    // Names what stood at target, once kept aside.
    std::string kept;
    bool done = false;
  };

  bool keepAside(Entry& entry) const;
  void undo();
  void dropKept();

  std::vector<Entry> entries;
  bool committed = false;
};

}  // namespace vemra_kivet
