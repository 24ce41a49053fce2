#pragma once
// Files made at a name where nothing stands yet. A file is never opened
// through whatever someone who may write in its folder placed at the name
// beforehand: a symbolic link there would have its target overwritten, a
// second hard link its file changed. Such a name counts as taken, and the
// caller picks another. Once made, the file is written through the handle it
// was made with, never through its name again.
//
// The same buffer also writes into a stream that stands at a name (a device,
// a pipe: platform/write_target.h), which is written into as it is.

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/write_target.h"

namespace platform {

// What became of a name: made; taken by whatever stands there (a file, a
// folder, a link, even one that leads nowhere); or failed for another reason,
// which errno names.
enum class NewName { Made, Taken, Failed };

// A new file written through a buffer of its own, as a stream buffer, so
// that an std::ostream writes it. A write that fails makes the stream fail.
class NewFile : public std::streambuf {
 public:
  enum class Mode {
    Binary,
    // Lines end as the platform's text files do: a line feed is written as
    // a carriage return and a line feed on Windows.
    Text
  };

  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  // Closes the file without flushing it to the disk; the file stays.
  ~NewFile() override;

  // Makes the file at path, with the permissions a new file of the process
  // gets; nothing is opened when the name is taken.
  NewName create(const std::string& path, Mode mode = Mode::Binary);
  // Opens the stream target names to write into it as it stands: nothing is
  // made or cut short. This process's own descriptor is written through
  // itself (a duplicate of it), so its position is the caller's: what the
  // caller writes through it before and after lands before and after. Any
  // other (a device, a pipe, another process's descriptor) is opened by its
  // name, writes going to the end of an open file; opening a pipe waits for
  // its reader. False (errno set) when it cannot be opened or written, or is
  // a folder.
  bool openStream(const WriteTarget& target, Mode mode = Mode::Binary);
  // Gives the file made by create the permission bits of the file at
  // existing, and its owner and group as far as the caller may set them (a
  // group the caller is no member of stays the caller's own), so that a
  // replaced file keeps what its user set; a new name keeps the default.
  // False (errno set) when the bits cannot be set.
  bool takePermissionsOf(const std::string& existing);
  // Writes what is buffered, then what the system holds of the file, to the
  // disk, and closes the file: once true, the file is whole even after a
  // power failure (a stream has no disk copy: its bytes are handed over).
  // False when a write failed on the way or fails now; a pipe whose reader
  // has gone fails the write (EPIPE) and raises no signal.
  bool flushToDiskAndClose();
  // Appends the bytes of the regular file at existing, which is never opened
  // through a link at its name nor waited on as a pipe. False (errno set;
  // EINVAL when it is no regular file) when it cannot be read whole.
  bool copyFrom(const std::string& existing);

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize count) override;
  int sync() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  bool isOpen() const;
  // Takes the handle of a file just made or a stream just opened, with an
  // empty buffer.
  void start(std::intptr_t opened, Mode mode, bool isStream);
  // Hands the buffered bytes to the system.
  bool drain();
  bool writeAll(const char* data, std::size_t count);
  void closeHandle();

  // A file descriptor, or a Windows file handle.
  std::intptr_t handle = -1;
  bool crlf = false;
  // A device or pipe, not a file of this object's own.
  bool stream = false;
  bool failed = false;
  std::vector<char> buffer;
};

// Makes name a second hard link to the file at existing (or to a symbolic
// link standing there, not to what it leads to), never through whatever
// stands at name. Failed where the file system has no hard links.
NewName makeHardLink(const std::string& existing, const std::string& name);

}  // namespace platform
