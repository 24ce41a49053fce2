#pragma once
// A failure in a user's terms: one line that a host prints as it is, and
// the way library calls become such lines.

#include <cerrno>
#include <stdexcept>
#include <string>

#include "api/vra_kivet_exception.h"
#include "examples/signature_listing.h"

class HostFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs call; anything it throws but a HostFailure becomes one: what was
// being done, then the text of what was thrown.
template <typename Call>
auto step(const std::string& what, Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const HostFailure&) {
    throw;
  } catch (...) {
    throw HostFailure(what + ": " + describeCurrentException());
  }
}

// The system's text for an errno value, as part of a sentence ("no space
// left on device").
std::string systemText(int error);

// Why the library could not write the file target, errno error as it left
// it, in a user's terms: that the output is a folder, that the folder the
// new file is made in may not be written ("permission denied in the folder
// DIR, where the new file is made"), else the system's text; empty when
// there is nothing to say.
std::string whyNotWritten(const std::string& target, int error);

// Runs call, which writes the file target. When the library says it could
// not save it (code 3), the reason says more than the library's code: it is
// thrown as std::runtime_error before the library's message ("no such file
// or directory (Failed to save file (code 3))"). Anything else passes on.
template <typename Call>
void writing(const std::string& target, Call&& call) {
  errno = 0;
  try {
    call();
  } catch (const vemra_kivet::vraKivetException& e) {
    const int error = errno;
    if (e.getCode() != vemra_kivet::VRA_FAILED_TO_SAVE_FILE) throw;
    const std::string reason = whyNotWritten(target, error);
    if (reason.empty()) throw;
    throw std::runtime_error(reason + " (" + describeCurrentException() + ")");
  }
}

// step for a call that writes the file target.
template <typename Call>
void writingStep(const std::string& what, const std::string& target, Call&& call) {
  step(what, [&] { writing(target, call); });
}

// Why the file at path cannot be read, as the system says it ("no such file
// or directory", "is a directory"); empty when it can be read.
std::string unreadableBecause(const std::string& path);

// Makes the folder path, parents and all, when it is not there; empty when
// it is a folder then, else why not in a user's terms: "it is a symbolic
// link that leads nowhere", the system's reason ("not a directory",
// "permission denied"), or "a file of that name is in the way".
std::string makeFolder(const std::string& path);

// Whether path names a regular file whose first bytes are head. Never waits
// on a pipe or a device someone put at the name.
bool regularFileBeginsWith(const std::string& path, const std::string& head);
