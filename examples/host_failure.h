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

// step for a call that writes a file: when the library says it could not
// save the file, the system's reason says more than the library's code
// ("no such file or directory (Failed to save file (code 3))").
template <typename Call>
void writingStep(const std::string& what, Call&& call) {
  errno = 0;
  step(what, [&] {
    try {
      call();
    } catch (const vemra_kivet::vraKivetException& e) {
      const int error = errno;
      if (e.getCode() != vemra_kivet::VRA_FAILED_TO_SAVE_FILE || error == 0) throw;
      throw HostFailure(what + ": " + systemText(error) + " (" + describeCurrentException() + ")");
    }
  });
}

// Why the file at path cannot be read, as the system says it ("no such file
// or directory", "is a directory"); empty when it can be read.
std::string unreadableBecause(const std::string& path);
