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
//   bytes go where that descriptor writes, through the descriptor itself
//   when it is this process's own.
//
// Links are followed no further than the system would follow them for the
// caller, whatever its setting: a link in a sticky folder that others may
// write (/tmp) is not followed unless it belongs to the caller or to the
// folder's owner, so a link planted there by another user redirects nothing.

#include <string>

namespace platform {

struct WriteTarget {
  enum class Kind { File, Stream };
  Kind kind = Kind::File;
  // File: the name the file is (or is to be) at, links followed; Stream: the
  // name of what is written into, links followed up to the system's own.
  std::string path;
  // A stream that is this process's descriptor: its number, else -1.
  int descriptor = -1;
  // Set when the walk stopped at a link that the caller may not follow: the
  // link's name.
  std::string foreignLink;
};

// Where a write to path goes. False (errno set) when the path's links loop
// or cannot be read, or lead through a link that the caller may not follow
// (EACCES, foreignLink set).
bool resolveWriteTarget(const std::string& path, WriteTarget& target);

// Whether the caller may write the file at path, as the system decides for
// it (Windows: the file has no read-only attribute); true when nothing
// stands there. False with errno set.
bool mayWrite(const std::string& path);

}  // namespace platform
