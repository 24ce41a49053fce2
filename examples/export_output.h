#pragma once
// Where kivet-session has the library write an export, and the outputs it
// refuses. The library writes an export over the file its output names
// (through a link at that name, to the file the link leads to; straight
// into a device or a pipe): an export onto the session file would leave a
// session that no longer loads, onto its metadata file a session whose songs
// lost their texts, onto a lock file of the two a lock that no longer keeps
// writers apart, each while the export itself succeeds.

#include <string>

class SessionFile;

// The path the library is to write the export named output to. That is
// output itself, but where output names the standard output (/dev/stdout,
// /dev/fd/1, /proc/self/fd/1, or a link to one of them): the standard
// output descriptor carries the library's own lines to the error stream
// (examples/result_output.h), so the export goes to resultsDescriptor, where
// the host's results go.
//
// Throws HostFailure, before anything is written, when that path would
// write one of the session's files: the session file, its metadata file or
// the lock file of either. A path that names an existing file is one of
// them when it is the same file (the same device and inode), whatever the
// name or the links that lead there; a path that names nothing yet (a new
// name, or a link that leads to no file) is one of them when the name it
// leads to is one of theirs, in the same folder. A device or a pipe is none
// of them.
std::string exportTarget(const std::string& output, const SessionFile& session, int resultsDescriptor);

// Whether output, or a link on the way from it, names the standard output
// descriptor (/dev/stdout, /dev/fd/1, /proc/self/fd/1).
bool namesStandardOutput(const std::string& output);
