#pragma once
// What a write meets at the path its caller named, and where its bytes must
// go so that the thing at the path stays what it is:
//
// - a regular file, nothing yet, or a folder: a file, written under another
//   name beside it and renamed into its place (a folder then refuses the
//   rename). A symbolic link at the path is followed to its end: the file it
//   leads to is the one replaced, beside that file, and the link stays a
//   link; a link that leads nowhere names the file the write makes;
// - a device, a pipe, a socket or anything else that is not a file, even
//   behind links: a stream, written into as it stands, never replaced. So is
//   an open file reached through one of the system's own links to a
//   process's descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N): the
//   bytes go where that descriptor writes.

#include <string>

namespace platform {

struct WriteTarget {
  enum class Kind { File, Stream };
  Kind kind = Kind::File;
  // File: the name the file is (or is to be) at, links followed; Stream: the
  // path as given.
  std::string path;
};

// Where a write to path goes. False (errno set) when the path's links loop
// or cannot be read.
bool resolveWriteTarget(const std::string& path, WriteTarget& target);

}  // namespace platform
