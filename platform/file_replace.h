#pragma once
// Putting a file written under another name in the place of an existing one,
// whole or not at all, so that a failed save never leaves a half-written file
// where a good one was.

#include <string>

namespace platform {

// Renames from to to, replacing a file at to in one step: a reader finds the
// old file or the new one, never neither (Windows' rename alone refuses an
// existing target). Both lie in one folder. False when it cannot be done (to
// is a folder, the folder is not writable); both files then stay as they were.
bool replaceFile(const std::string& from, const std::string& to);

// The running process's id: names of temporary files that two processes
// saving beside each other must not share.
unsigned long currentProcessId();

}  // namespace platform
