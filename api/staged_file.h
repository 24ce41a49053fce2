#pragma once
// A file written under a temporary name in its target's folder and put in the
// target's place only once it is whole: until then a file already at the
// target stays as it was, and a temporary file that is not put in place is
// removed.

#include <string>

namespace vemra_kivet {

class StagedFile {
 public:
  explicit StagedFile(const std::string& target);
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  // Removes the temporary file unless it has been put in place.
  ~StagedFile();

  // Where to write: the target's name followed by the process id and ".tmp".
  const std::string& path() const { return temporary; }
  // Writes the temporary file through to the disk; false when it cannot.
  bool flush() const;
  // Puts the temporary file in the target's place, replacing what is there;
  // false when it cannot (the target then stays as it was).
  bool commit();

 private:
  std::string target;
  std::string temporary;
  bool committed = false;
};

}  // namespace vemra_kivet
