#pragma once
// Files written under temporary names in their targets' folders and put in
// their targets' places together, once all of them are whole: a failure on
// the way, even at the last rename, leaves every target as it was.
//
// A target is what the caller named, and stays what it is
// (platform/write_target.h): a symbolic link there stays a link, and the
// file it leads to is the one replaced, beside that file; a device or a pipe
// (/dev/null, a FIFO, /dev/stdout) is never replaced: its bytes are held
// until the commit and then written into it as it stands, with no staged
// name, nothing kept aside and no rename (they cannot be taken back, so they
// go last). A target that is the file of another one (or the file another
// one removes) refuses the second write.
//
// A target the caller may not write (as the system decides for it; on
// Windows, a file with the read-only attribute), or one reached through a
// link that the system would not follow for the caller (a link another user
// put in a sticky folder such as /tmp), refuses its write before anything is
// made, with a line on the error stream that names it; the commit then fails
// (EACCES) and nothing is written. A replaced file's successor gets its
// permission bits, and its owner and group as far as the caller may set
// them, before it is put in place.
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
// the order they were staged, then writes the streams, then removes the kept
// files. A process killed during a commit can leave staged files not yet
// renamed (each one whole: all were flushed before the first rename) and
// kept files. Killed after the kept files were made and before the first
// rename, it leaves every kept file beside a target that was not replaced;
// killed between two renames, it leaves kept files beside the targets
// already replaced and beside those not yet replaced, whose staged files
// are still there.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/new_file.h"

namespace vemra_kivet {

class StagedFiles {
 public:
  // origin names the operation in the lines on the error stream
  // ("vraSignature::save()").
  explicit StagedFiles(const char* origin) : origin(origin) {}
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;
  // Removes the staged files that were not put in place.
  ~StagedFiles();

  // Stages a new file for target and returns the stream to write it
  // through; the stream has failed already when no file could be made
  // beside target, or the stream at target could not be opened (errno says
  // why).
  std::ostream& write(const std::string& target, platform::NewFile::Mode mode = platform::NewFile::Mode::Binary);
  // Stages the removal of the file at target, if there is one then (a
  // stream there stays).
  void remove(const std::string& target);

  // Flushes every staged file to the disk, keeps aside what stands at the
  // targets, puts the staged files in place and removes the files staged
  // for removal, in the order they were staged, then writes the streams;
  // false (errno says why) when any step fails, after every step already
  // taken has been undone (bytes a stream has taken stay with it).
  bool commit();

 private:
  struct Entry {
    // Where the file goes (links followed), or the stream.
    std::string target;
    // Empty for a removal and a stream.
    std::string temporary;
    std::unique_ptr<platform::NewFile> file;
    // A stream's bytes until the commit.
    std::unique_ptr<std::streambuf> held;
    std::unique_ptr<std::ostream> stream;
    bool isStream = false;
    // A target that could not be resolved fails the commit.
    bool failed = false;
    // Names what stood at target, once kept aside.
    std::string kept;
    bool done = false;
  };

  bool flush();
  bool writeStreams();
  bool keepAside(Entry& entry) const;
  bool sameTarget(const std::string& target) const;
  void undo();
  void dropKept();
  // Says on the error stream why the write to target was refused.
  void refuse(const std::string& why) const;

  const char* origin;
  std::vector<Entry> entries;
};

}  // namespace vemra_kivet
